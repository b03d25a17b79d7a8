#pragma once

#include "platform/Object.h"

#include <map>
#include <memory>
#include <string>

namespace platform {

class Delegate;
class Window;

// Anything a window holds by name: controls and the non-visual members (threads,
// timers). Keeps its name, a weak reference to its window and its wired events.
class PaneChild : public Object {
public:
    const std::string& Name() const { return name_; }
    void SetName(const std::string& name);
    std::int64_t Index() const { return index_; }
    void SetIndex(std::int64_t index) { index_ = index; }

    std::shared_ptr<Window> OwnerWindow() const { return owner_.lock(); }

    // The window attaches its members when it registers them, and detaches them when
    // it goes, before its widget is destroyed.
    virtual void AttachToWindow(const std::shared_ptr<Window>& window) { owner_ = window; }
    virtual void DetachFromWindow() { owner_.reset(); }
    // Called once the window's Open event has run.
    virtual void WindowOpened() {}

    void AddEventHandler(int eventNumber, std::shared_ptr<Delegate> delegate);
    bool HasEventHandler(int eventNumber) const;

protected:
    // Calls the delegate wired to that event with this object as the sender, under the
    // framework's protection; what leaves is reported with `where`.
    void RaiseEvent(int eventNumber, std::string_view eventName);
    // The same without the protection, for a thread's own Run.
    void InvokeEvent(int eventNumber);

private:
    std::string name_;
    std::int64_t index_ = 0;
    std::weak_ptr<Window> owner_;
    std::map<int, std::shared_ptr<Delegate>> handlers_;
};

// The number is the event's place in the control's class chain, inherited events first.
void RuntimeAddEventHandler(PaneChild& control, int eventNumber,
                            std::shared_ptr<Delegate> delegate);

} // namespace platform
