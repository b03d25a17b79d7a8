#pragma once

#include "platform/ClassRecord.h"
#include "platform/Object.h"
#include "platform/StackGuard.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class QWidget;

namespace platform {

struct NativeAccess;

class PaneChild;

// A top-level window over a QWidget. Constructor() builds it: the Layout and
// CreateControls events, then Open, then it is shown if visible. Closing raises Close,
// and the framework releases the window; after the last one the event loop ends.
class Window : public Object {
public:
    Window();
    ~Window() override;

    static const ClassRecord& ClassInfo();
    const ClassRecord& Class() const override { return ClassInfo(); }

    void Constructor();
    void Close();
    bool IsOpen() const { return opened_ && !closed_; }

    // A new, unconstructed object of class T, owned by the caller.
    template <class T, class... Args> std::shared_ptr<T> New(Args&&... args) {
        CheckStack();
        return std::make_shared<T>(std::forward<Args>(args)...);
    }

    // The window keeps its own reference to the control under that name.
    void AddControl(const std::string& name, const std::shared_ptr<PaneChild>& control);
    std::shared_ptr<PaneChild> ControlByName(std::string_view name) const;

    // Design-time properties.
    std::int64_t Width() const { return width_; }
    void SetWidth(std::int64_t v);
    std::int64_t Height() const { return height_; }
    void SetHeight(std::int64_t v);
    std::int64_t MinimumWidth() const { return minWidth_; }
    void SetMinimumWidth(std::int64_t v);
    std::int64_t MinimumHeight() const { return minHeight_; }
    void SetMinimumHeight(std::int64_t v);
    std::int64_t MaximumWidth() const { return maxWidth_; }
    void SetMaximumWidth(std::int64_t v);
    std::int64_t MaximumHeight() const { return maxHeight_; }
    void SetMaximumHeight(std::int64_t v);
    std::int64_t Type() const { return type_; }
    void SetType(std::int64_t v) { type_ = v; }
    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& v);
    bool HasCloseButton() const { return hasClose_; }
    void SetHasCloseButton(bool v);
    bool HasMaximizeButton() const { return hasMaximize_; }
    void SetHasMaximizeButton(bool v);
    bool HasMinimizeButton() const { return hasMinimize_; }
    void SetHasMinimizeButton(bool v);
    bool HasFullScreenButton() const { return hasFullScreen_; }
    void SetHasFullScreenButton(bool v) { hasFullScreen_ = v; }
    bool Resizeable() const { return resizeable_; }
    void SetResizeable(bool v);
    bool Composite() const { return composite_; }
    void SetComposite(bool v) { composite_ = v; }
    std::int64_t MacProcId() const { return macProcId_; }
    void SetMacProcId(std::int64_t v) { macProcId_ = v; }
    bool FullScreen() const { return fullScreen_; }
    void SetFullScreen(bool v) { fullScreen_ = v; }
    std::int64_t DefaultLocation() const { return defaultLocation_; }
    void SetDefaultLocation(std::int64_t v) { defaultLocation_ = v; }
    bool Visible() const { return visible_; }
    void SetVisible(bool v);
    bool HasBackgroundColor() const { return hasBackground_; }
    void SetHasBackgroundColor(bool v);
    Color BackgroundColor() const { return background_; }
    void SetBackgroundColor(Color v);
    bool MenuBarVisible() const { return menuBarVisible_; }
    void SetMenuBarVisible(bool v) { menuBarVisible_ = v; }

private:
    friend struct NativeAccess;
    // The widget that controls are placed on (nil before Constructor).
    QWidget* NativeWidget() const;
    // The close button or Close() was used.
    void HandleCloseRequest();

    void ApplyGeometry();
    void ApplyFlags();
    void ApplyBackground();

    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::vector<std::pair<std::string, std::shared_ptr<PaneChild>>> controls_;
    bool opened_ = false;
    bool closed_ = false;

    std::int64_t width_ = 300, height_ = 300, minWidth_ = 64, minHeight_ = 64;
    std::int64_t maxWidth_ = 32000, maxHeight_ = 32000, type_ = 0, macProcId_ = 0;
    std::int64_t defaultLocation_ = 0;
    std::string title_;
    bool hasClose_ = true, hasMaximize_ = true, hasMinimize_ = true, hasFullScreen_ = false;
    bool resizeable_ = true, composite_ = false, fullScreen_ = false, visible_ = true;
    bool hasBackground_ = false, menuBarVisible_ = true;
    Color background_{};
};

// The open window of that class (its registered name), or nil.
std::shared_ptr<Window> GetImplicitWindow(std::string_view className);

} // namespace platform
