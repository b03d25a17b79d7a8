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
    virtual ~Delegate() = default;
    virtual void Invoke(const std::shared_ptr<Object>& sender) = 0;
};

template <class Target, class Sender> class MethodDelegate final : public Delegate {
public:
    using Method = void (Target::*)(const std::shared_ptr<Sender>&);
    MethodDelegate(Method method, const std::shared_ptr<Target>& target)
        : method_(method), target_(target) {}

    void Invoke(const std::shared_ptr<Object>& sender) override {
        auto target = target_.lock();
        Deref(target, "delegate target");
        ((*target).*method_)(RuntimeCheckCast<Sender>(sender));
    }

private:
    Method method_;
    std::weak_ptr<Target> target_;
};

// The designer names the handler's parameters in text; here the method's type already
// says them, and the compiler checks it, so the text is not kept.
template <class Target, class Sender>
std::shared_ptr<Delegate>
RuntimeCreateDelegate(void (Target::*method)(const std::shared_ptr<Sender>&),
                      const std::shared_ptr<Target>& target, std::string_view /*parameters*/) {
    return std::make_shared<MethodDelegate<Target, Sender>>(method, target);
}

} // namespace platform
