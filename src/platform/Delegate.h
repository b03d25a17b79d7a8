#pragma once

#include "platform/Object.h"

#include <memory>
#include <string>
#include <string_view>

namespace platform {

// A handler bound to a target window. The target is held weakly: a delegate must not
// keep its window alive, and calling one whose target is gone raises NilObjectException.
class Delegate {
public:
    explicit Delegate(std::string parameterText) : parameterText_(std::move(parameterText)) {}
    virtual ~Delegate() = default;
    virtual void Invoke(const std::shared_ptr<Object>& sender) = 0;
    const std::string& ParameterText() const { return parameterText_; }

private:
    std::string parameterText_;
};

template <class Target, class Sender> class MethodDelegate final : public Delegate {
public:
    using Method = void (Target::*)(const std::shared_ptr<Sender>&);
    MethodDelegate(Method method, const std::shared_ptr<Target>& target, std::string text)
        : Delegate(std::move(text)), method_(method), target_(target) {}

    void Invoke(const std::shared_ptr<Object>& sender) override {
        auto target = target_.lock();
        Deref(target, "delegate target");
        ((*target).*method_)(RuntimeCheckCast<Sender>(sender));
    }

private:
    Method method_;
    std::weak_ptr<Target> target_;
};

template <class Target, class Sender>
std::shared_ptr<Delegate>
RuntimeCreateDelegate(void (Target::*method)(const std::shared_ptr<Sender>&),
                      const std::shared_ptr<Target>& target, std::string parameterText) {
    return std::make_shared<MethodDelegate<Target, Sender>>(method, target,
                                                            std::move(parameterText));
}

} // namespace platform
