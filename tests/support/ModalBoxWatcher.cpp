#include "support/ModalBoxWatcher.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace testsupport {

struct ModalBoxWatcher::Impl {
    QTimer poll;
    std::vector<QString> texts;
};

ModalBoxWatcher::ModalBoxWatcher() : impl_(std::make_unique<Impl>()) {
    QObject::connect(&impl_->poll, &QTimer::timeout, [impl = impl_.get()] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            impl->texts.push_back(box->text());
            box->accept();
        }
    });
    impl_->poll.start(5);
}

ModalBoxWatcher::~ModalBoxWatcher() = default;

std::vector<QString> ModalBoxWatcher::Texts() const {
    return impl_->texts;
}

} // namespace testsupport
