#include "platform/Window.h"

#include "platform/PaneChild.h"
#include "platform/Runtime.h"
#include "platform/internal/NativeAccess.h"
#include "platform/internal/OpenWindows.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QWidget>

namespace platform {
namespace {

class WindowWidget final : public QWidget {
public:
    explicit WindowWidget(Window& owner) : owner_(owner) {}

protected:
    void closeEvent(QCloseEvent* event) override {
        event->accept();
        NativeAccess::CloseRequest(owner_);
    }

private:
    Window& owner_;
};

} // namespace

struct Window::Impl {
    std::unique_ptr<WindowWidget> widget;
};

Window::Window() : impl_(std::make_unique<Impl>()) {}

Window::~Window() {
    for (auto& [name, control] : controls_) {
        control->DetachFromWindow();
    }
    controls_.clear();
}

const ClassRecord& Window::ClassInfo() {
    using T = Window;
    static const ClassRecord record{
        .name = "Window",
        .events = {"Activate",
                   "AppearanceChanged",
                   "CancelClose",
                   "Close",
                   "ConstructContextualMenu",
                   "ContextualMenuAction",
                   "CreateControls",
                   "Deactivate",
                   "DragEnter",
                   "DragExit",
                   "DragOver",
                   "DropObject",
                   "EnableMenuItems",
                   "Hidden",
                   "KeyDown",
                   "KeyUp",
                   "Layout",
                   "Maximize",
                   "Minimize",
                   "MouseDown",
                   "MouseDrag",
                   "MouseEnter",
                   "MouseExit",
                   "MouseMove",
                   "MouseUp",
                   "MouseWheel",
                   "Moved",
                   "Open",
                   "Paint",
                   "Resized",
                   "Resizing",
                   "Restore",
                   "ScaleFactorChanged",
                   "Shown"},
        .properties =
            {
                MakeProperty("Width", PropertyType::Integer, &T::SetWidth),
                MakeProperty("Height", PropertyType::Integer, &T::SetHeight),
                MakeProperty("MinimumWidth", PropertyType::Integer, &T::SetMinimumWidth),
                MakeProperty("MinimumHeight", PropertyType::Integer, &T::SetMinimumHeight),
                MakeProperty("MaximumWidth", PropertyType::Integer, &T::SetMaximumWidth),
                MakeProperty("MaximumHeight", PropertyType::Integer, &T::SetMaximumHeight),
                MakeProperty("Type", PropertyType::Integer, &T::SetType),
                MakeProperty("Title", PropertyType::String, &T::SetTitle),
                MakeProperty("HasCloseButton", PropertyType::Boolean, &T::SetHasCloseButton),
                MakeProperty("HasMaximizeButton", PropertyType::Boolean, &T::SetHasMaximizeButton),
                MakeProperty("HasMinimizeButton", PropertyType::Boolean, &T::SetHasMinimizeButton),
                MakeProperty("HasFullScreenButton", PropertyType::Boolean,
                             &T::SetHasFullScreenButton),
                MakeProperty("Resizeable", PropertyType::Boolean, &T::SetResizeable),
                MakeProperty("Composite", PropertyType::Boolean, &T::SetComposite),
                // The design-time name keeps its historical spelling.
                MakeProperty("MacProcID", PropertyType::Integer, &T::SetMacProcId),
                MakeProperty("FullScreen", PropertyType::Boolean, &T::SetFullScreen),
                MakeProperty("DefaultLocation", PropertyType::Integer, &T::SetDefaultLocation),
                MakeProperty("Visible", PropertyType::Boolean, &T::SetVisible),
                MakeProperty("HasBackgroundColor", PropertyType::Boolean,
                             &T::SetHasBackgroundColor),
                MakeProperty("BackgroundColor", PropertyType::Color, &T::SetBackgroundColor),
                MakeProperty("MenuBarVisible", PropertyType::Boolean, &T::SetMenuBarVisible),
            },
    };
    return record;
}

void Window::Constructor() {
    RequireMainThread();
    CheckStack();
    if (impl_->widget) {
        return;
    }
    impl_->widget = std::make_unique<WindowWidget>(*this);
    internal::AddOpenWindow(std::static_pointer_cast<Window>(shared_from_this()));
    RaiseClassEvent(*this, "Layout");
    RaiseClassEvent(*this, "CreateControls");
    ApplyGeometry();
    ApplyFlags();
    ApplyBackground();
    impl_->widget->setWindowTitle(QString::fromStdString(title_));
    if (defaultLocation_ == 0) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame(0, 0, static_cast<int>(width_), static_cast<int>(height_));
            frame.moveCenter(screen->availableGeometry().center());
            impl_->widget->move(frame.topLeft());
        }
    }
    RaiseClassEvent(*this, "Open");
    opened_ = true;
    for (auto& [name, control] : controls_) {
        control->WindowOpened();
    }
    if (visible_ && !closed_) {
        impl_->widget->show();
    }
}

void Window::Close() {
    RequireMainThread();
    CheckStack();
    if (impl_->widget && !closed_) {
        impl_->widget->close();
    }
}

void Window::HandleCloseRequest() {
    if (closed_) {
        return;
    }
    closed_ = true;
    RaiseClassEvent(*this, "Close");
    internal::WindowClosed(this);
}

void Window::AddControl(const std::string& name, const std::shared_ptr<PaneChild>& control) {
    RequireMainThread();
    CheckStack();
    Deref(control, "control");
    control->SetName(name);
    controls_.emplace_back(name, control);
    control->AttachToWindow(std::static_pointer_cast<Window>(shared_from_this()));
}

std::shared_ptr<PaneChild> Window::ControlByName(std::string_view name) const {
    CheckStack();
    for (const auto& [controlName, control] : controls_) {
        if (controlName == name) {
            return control;
        }
    }
    return nullptr;
}

QWidget* Window::NativeWidget() const {
    return impl_->widget.get();
}

void Window::ApplyGeometry() {
    QWidget* w = impl_->widget.get();
    if (!w) {
        return;
    }
    if (resizeable_) {
        w->setMinimumSize(static_cast<int>(minWidth_), static_cast<int>(minHeight_));
        w->setMaximumSize(static_cast<int>(maxWidth_), static_cast<int>(maxHeight_));
        w->resize(static_cast<int>(width_), static_cast<int>(height_));
    } else {
        w->setFixedSize(static_cast<int>(width_), static_cast<int>(height_));
    }
}

void Window::ApplyFlags() {
    QWidget* w = impl_->widget.get();
    if (!w) {
        return;
    }
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    flags.setFlag(Qt::WindowSystemMenuHint, hasClose_);
    flags.setFlag(Qt::WindowCloseButtonHint, hasClose_);
    flags.setFlag(Qt::WindowMinimizeButtonHint, hasMinimize_);
    // A window that cannot be resized cannot be maximised either.
    flags.setFlag(Qt::WindowMaximizeButtonHint, hasMaximize_ && resizeable_);
    w->setWindowFlags(flags);
}

void Window::ApplyBackground() {
    QWidget* w = impl_->widget.get();
    if (!w) {
        return;
    }
    w->setAutoFillBackground(hasBackground_);
    if (hasBackground_) {
        QPalette palette = w->palette();
        const std::uint32_t v = background_.value;
        palette.setColor(QPalette::Window,
                         QColor(static_cast<int>((v >> 16) & 0xFF),
                                static_cast<int>((v >> 8) & 0xFF), static_cast<int>(v & 0xFF),
                                255 - static_cast<int>((v >> 24) & 0xFF)));
        w->setPalette(palette);
    }
}

void Window::SetWidth(std::int64_t v) {
    CheckStack();
    width_ = v;
    ApplyGeometry();
}
void Window::SetHeight(std::int64_t v) {
    CheckStack();
    height_ = v;
    ApplyGeometry();
}
void Window::SetMinimumWidth(std::int64_t v) {
    minWidth_ = v;
    ApplyGeometry();
}
void Window::SetMinimumHeight(std::int64_t v) {
    minHeight_ = v;
    ApplyGeometry();
}
void Window::SetMaximumWidth(std::int64_t v) {
    maxWidth_ = v;
    ApplyGeometry();
}
void Window::SetMaximumHeight(std::int64_t v) {
    maxHeight_ = v;
    ApplyGeometry();
}
void Window::SetTitle(const std::string& v) {
    RequireMainThread();
    CheckStack();
    title_ = v;
    if (impl_->widget) {
        impl_->widget->setWindowTitle(QString::fromStdString(v));
    }
}
void Window::SetHasCloseButton(bool v) {
    hasClose_ = v;
    ApplyFlags();
}
void Window::SetHasMaximizeButton(bool v) {
    hasMaximize_ = v;
    ApplyFlags();
}
void Window::SetHasMinimizeButton(bool v) {
    hasMinimize_ = v;
    ApplyFlags();
}
void Window::SetResizeable(bool v) {
    resizeable_ = v;
    ApplyGeometry();
    ApplyFlags();
}
void Window::SetVisible(bool v) {
    RequireMainThread();
    visible_ = v;
    if (impl_->widget && opened_) {
        impl_->widget->setVisible(v);
    }
}
void Window::SetHasBackgroundColor(bool v) {
    hasBackground_ = v;
    ApplyBackground();
}
void Window::SetBackgroundColor(Color v) {
    background_ = v;
    ApplyBackground();
}

std::shared_ptr<Window> GetImplicitWindow(std::string_view className) {
    CheckStack();
    for (const auto& window : internal::OpenWindows()) {
        if (window->Class().name == className && window->IsOpen()) {
            return window;
        }
    }
    return nullptr;
}

} // namespace platform
