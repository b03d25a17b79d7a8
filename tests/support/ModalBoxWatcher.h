#pragma once

#include <QString>

#include <memory>
#include <vector>

namespace testsupport {

// Dismisses modal message boxes as they appear and keeps their texts.
class ModalBoxWatcher {
public:
    ModalBoxWatcher();
    ~ModalBoxWatcher();
    std::vector<QString> Texts() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace testsupport
