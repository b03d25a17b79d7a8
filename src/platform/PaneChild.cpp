#include "platform/PaneChild.h"

#include "platform/ClassRecord.h"
#include "platform/Delegate.h"
#include "platform/Runtime.h"
#include "platform/StackGuard.h"

namespace platform {

void PaneChild::SetName(const std::string& name) {
    CheckStack();
    name_ = name;
}

void PaneChild::AddEventHandler(int eventNumber, std::shared_ptr<Delegate> delegate) {
    handlers_[eventNumber] = std::move(delegate);
}

bool PaneChild::HasEventHandler(int eventNumber) const {
    return handlers_.contains(eventNumber);
}

void PaneChild::InvokeEvent(int eventNumber) {
    auto it = handlers_.find(eventNumber);
    if (it == handlers_.end()) {
        return;
    }
    std::shared_ptr<Delegate> delegate = it->second; // survives a rewiring inside the handler
    delegate->Invoke(shared_from_this());
}

void PaneChild::RaiseEvent(int eventNumber, std::string_view eventName) {
    if (!HasEventHandler(eventNumber)) {
        return;
    }
    std::string where = Class().name + " '" + name_ + "' " + std::string(eventName);
    CallIntoSystem(where, [&] { InvokeEvent(eventNumber); });
}

void RuntimeAddEventHandler(PaneChild& control, int eventNumber,
                            std::shared_ptr<Delegate> delegate) {
    CheckStack();
    Deref(delegate, "event delegate");
    if (eventNumber < 0 || eventNumber >= control.Class().EventCount()) {
        throw OutOfBoundsException("no event " + std::to_string(eventNumber) + " in class " +
                                   control.Class().name);
    }
    control.AddEventHandler(eventNumber, std::move(delegate));
}

} // namespace platform
