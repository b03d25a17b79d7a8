#include "platform/PushButton.h"

#include "platform/Runtime.h"
#include "platform/StackGuard.h"
#include "platform/Window.h"
#include "platform/internal/NativeAccess.h"

#include <QApplication>
#include <QPushButton>

namespace platform {

const ClassRecord& Control::ClassInfo() {
    using T = Control;
    static const ClassRecord record{
        .name = "Control",
        .events = {"Close", "Open", "EnableMenuItems"},
        .properties =
            {
                MakeProperty("Name", PropertyType::String, &T::SetNameProperty),
                MakeProperty("Index", PropertyType::Integer, &T::SetIndex),
                MakeProperty("TabPanelIndex", PropertyType::Integer, &T::SetTabPanelIndex),
            },
    };
    return record;
}

const ClassRecord& RectControl::ClassInfo() {
    using T = RectControl;
    static const ClassRecord record{
        .name = "RectControl",
        .base = &Control::ClassInfo(),
        .events = {"ConstructContextualMenu", "ContextualMenuAction", "DragEnter", "DragExit",
                   "DragOver", "DropObject", "KeyDown", "KeyUp", "MouseEnter", "MouseExit",
                   "MouseMove", "MouseWheel"},
        .properties =
            {
                MakeProperty("Left", PropertyType::Integer, &T::SetLeft),
                MakeProperty("Top", PropertyType::Integer, &T::SetTop),
                MakeProperty("Width", PropertyType::Integer, &T::SetWidth),
                MakeProperty("Height", PropertyType::Integer, &T::SetHeight),
                MakeProperty("LockLeft", PropertyType::Boolean, &T::SetLockLeft),
                MakeProperty("LockTop", PropertyType::Boolean, &T::SetLockTop),
                MakeProperty("LockRight", PropertyType::Boolean, &T::SetLockRight),
                MakeProperty("LockBottom", PropertyType::Boolean, &T::SetLockBottom),
                MakeProperty("TabIndex", PropertyType::Integer, &T::SetTabIndex),
                MakeProperty("TabStop", PropertyType::Boolean, &T::SetTabStop),
                MakeProperty("AllowAutoDeactivate", PropertyType::Boolean,
                             &T::SetAllowAutoDeactivate),
                MakeProperty("Enabled", PropertyType::Boolean, &T::SetEnabled),
                MakeProperty("Tooltip", PropertyType::String, &T::SetTooltip),
                MakeProperty("Transparent", PropertyType::Boolean, &T::SetTransparent),
                MakeProperty("Visible", PropertyType::Boolean, &T::SetVisible),
                MakeProperty("InitialParent", PropertyType::String, &T::SetInitialParent),
            },
    };
    return record;
}

const ClassRecord& PushButton::ClassInfo() {
    using T = PushButton;
    static const ClassRecord record{
        .name = "PushButton",
        .base = &RectControl::ClassInfo(),
        .events = {"Action", "MouseDown", "MouseUp"},
        .properties =
            {
                MakeProperty("MacButtonStyle", PropertyType::Integer, &T::SetMacButtonStyle),
                MakeProperty("Cancel", PropertyType::Boolean, &T::SetCancel),
                MakeProperty("Caption", PropertyType::String, &T::SetCaption),
                MakeProperty("Default", PropertyType::Boolean, &T::SetDefault),
                MakeProperty("FontName", PropertyType::String, &T::SetFontName),
                MakeProperty("FontSize", PropertyType::Single, &T::SetFontSize),
                MakeProperty("FontUnit", PropertyType::Enum8, &T::SetFontUnit),
                MakeProperty("Bold", PropertyType::Boolean, &T::SetBold),
                MakeProperty("Italic", PropertyType::Boolean, &T::SetItalic),
                MakeProperty("Underline", PropertyType::Boolean, &T::SetUnderline),
            },
    };
    return record;
}

RectControl::RectControl() = default;

RectControl::~RectControl() = default;

QWidget* RectControl::NativeWidget() const {
    return widget_.get();
}

void RectControl::SetWidget(std::unique_ptr<QWidget> widget) {
    widget_ = std::move(widget);
    ApplyWidgetState();
}

void RectControl::ApplyWidgetState() {
    if (!widget_) {
        return;
    }
    widget_->setGeometry(static_cast<int>(left_), static_cast<int>(top_), static_cast<int>(width_),
                         static_cast<int>(height_));
    widget_->setEnabled(enabled_);
    widget_->setToolTip(QString::fromStdString(tooltip_));
    widget_->setFocusPolicy(tabStop_ ? Qt::StrongFocus : Qt::NoFocus);
    if (widget_->parentWidget()) {
        widget_->setVisible(visible_);
    }
}

void RectControl::AttachToWindow(const std::shared_ptr<Window>& window) {
    Control::AttachToWindow(window);
    if (widget_ && NativeAccess::Widget(*window)) {
        widget_->setParent(NativeAccess::Widget(*window));
        ApplyWidgetState();
    }
}

void RectControl::DetachFromWindow() {
    // The widget goes before its parent does, so the parent never deletes it twice.
    widget_.reset();
    Control::DetachFromWindow();
}

void RectControl::SetLeft(std::int64_t v) {
    RequireMainThread();
    left_ = v;
    ApplyWidgetState();
}
void RectControl::SetTop(std::int64_t v) {
    RequireMainThread();
    top_ = v;
    ApplyWidgetState();
}
void RectControl::SetWidth(std::int64_t v) {
    RequireMainThread();
    width_ = v;
    ApplyWidgetState();
}
void RectControl::SetHeight(std::int64_t v) {
    RequireMainThread();
    height_ = v;
    ApplyWidgetState();
}
void RectControl::SetTabStop(bool v) {
    tabStop_ = v;
    ApplyWidgetState();
}
void RectControl::SetEnabled(bool v) {
    RequireMainThread();
    enabled_ = v;
    ApplyWidgetState();
}
void RectControl::SetTooltip(const std::string& v) {
    RequireMainThread();
    tooltip_ = v;
    ApplyWidgetState();
}
void RectControl::SetVisible(bool v) {
    RequireMainThread();
    visible_ = v;
    ApplyWidgetState();
}

void PushButton::Constructor() {
    RequireMainThread();
    CheckStack();
    auto button = std::make_unique<QPushButton>();
    QObject::connect(button.get(), &QPushButton::clicked, [this] { Clicked(); });
    NativeAccess::SetWidget(*this, std::move(button));
    ApplyFont();
}

const std::string& PushButton::Caption() const {
    RequireMainThread();
    CheckStack();
    return caption_;
}

void PushButton::SetCaption(const std::string& caption) {
    RequireMainThread();
    CheckStack();
    caption_ = caption;
    if (auto* button = static_cast<QPushButton*>(NativeAccess::Widget(*this))) {
        button->setText(QString::fromStdString(caption));
    }
}

void PushButton::SetDefault(bool v) {
    RequireMainThread();
    default_ = v;
    if (auto* button = static_cast<QPushButton*>(NativeAccess::Widget(*this))) {
        button->setDefault(v);
        button->setAutoDefault(v);
    }
}

void PushButton::SetFontName(const std::string& v) {
    fontName_ = v;
    ApplyFont();
}
void PushButton::SetFontSize(float v) {
    fontSize_ = v;
    ApplyFont();
}
void PushButton::SetBold(bool v) {
    bold_ = v;
    ApplyFont();
}
void PushButton::SetItalic(bool v) {
    italic_ = v;
    ApplyFont();
}
void PushButton::SetUnderline(bool v) {
    underline_ = v;
    ApplyFont();
}

void PushButton::ApplyFont() {
    QWidget* w = NativeAccess::Widget(*this);
    if (!w) {
        return;
    }
    // "System" at size 0 is the platform's own button font.
    QFont font = QApplication::font("QPushButton");
    if (fontName_ != "System" && !fontName_.empty()) {
        font.setFamily(QString::fromStdString(fontName_));
    }
    if (fontSize_ > 0.0f) {
        font.setPointSizeF(fontSize_);
    }
    font.setBold(bold_);
    font.setItalic(italic_);
    font.setUnderline(underline_);
    w->setFont(font);
}

void PushButton::Clicked() {
    RaiseEvent(Class().EventNumber("Action"), "Action");
}

} // namespace platform
