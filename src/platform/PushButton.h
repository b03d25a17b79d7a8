#pragma once

#include "platform/PaneChild.h"

#include <cstdint>
#include <memory>
#include <string>

class QWidget;

namespace platform {

struct NativeAccess;

// A visible control of a window.
class Control : public PaneChild {
public:
    static const ClassRecord& ClassInfo();
    const ClassRecord& Class() const override { return ClassInfo(); }

    std::int64_t TabPanelIndex() const { return tabPanelIndex_; }
    void SetTabPanelIndex(std::int64_t v) { tabPanelIndex_ = v; }
    void SetNameProperty(const std::string& name) { SetName(name); }

private:
    std::int64_t tabPanelIndex_ = 0;
};

// A control with a rectangle on its window, over a QWidget.
class RectControl : public Control {
public:
    RectControl();
    ~RectControl() override;

    static const ClassRecord& ClassInfo();
    const ClassRecord& Class() const override { return ClassInfo(); }

    std::int64_t Left() const { return left_; }
    void SetLeft(std::int64_t v);
    std::int64_t Top() const { return top_; }
    void SetTop(std::int64_t v);
    std::int64_t Width() const { return width_; }
    void SetWidth(std::int64_t v);
    std::int64_t Height() const { return height_; }
    void SetHeight(std::int64_t v);
    bool LockLeft() const { return lockLeft_; }
    void SetLockLeft(bool v) { lockLeft_ = v; }
    bool LockTop() const { return lockTop_; }
    void SetLockTop(bool v) { lockTop_ = v; }
    bool LockRight() const { return lockRight_; }
    void SetLockRight(bool v) { lockRight_ = v; }
    bool LockBottom() const { return lockBottom_; }
    void SetLockBottom(bool v) { lockBottom_ = v; }
    std::int64_t TabIndex() const { return tabIndex_; }
    void SetTabIndex(std::int64_t v) { tabIndex_ = v; }
    bool TabStop() const { return tabStop_; }
    void SetTabStop(bool v);
    bool AllowAutoDeactivate() const { return allowAutoDeactivate_; }
    void SetAllowAutoDeactivate(bool v) { allowAutoDeactivate_ = v; }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v);
    const std::string& Tooltip() const { return tooltip_; }
    void SetTooltip(const std::string& v);
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool v) { transparent_ = v; }
    bool Visible() const { return visible_; }
    void SetVisible(bool v);
    const std::string& InitialParent() const { return initialParent_; }
    void SetInitialParent(const std::string& v) { initialParent_ = v; }

    void AttachToWindow(const std::shared_ptr<Window>& window) override;
    void DetachFromWindow() override;

protected:
    void ApplyWidgetState();

private:
    friend struct NativeAccess;
    QWidget* NativeWidget() const;
    // The widget is made by the subclass's Constructor and owned here.
    void SetWidget(std::unique_ptr<QWidget> widget);

    std::unique_ptr<QWidget> widget_;
    std::int64_t left_ = 0, top_ = 0, width_ = 80, height_ = 20, tabIndex_ = 0;
    bool lockLeft_ = true, lockTop_ = true, lockRight_ = false, lockBottom_ = false;
    bool tabStop_ = true, allowAutoDeactivate_ = true, enabled_ = true, transparent_ = false;
    bool visible_ = true;
    std::string tooltip_, initialParent_;
};

class PushButton : public RectControl {
public:
    static const ClassRecord& ClassInfo();
    const ClassRecord& Class() const override { return ClassInfo(); }

    // RectControl.Constructor: makes a working push button.
    void Constructor();

    const std::string& Caption() const;
    void SetCaption(const std::string& caption);
    bool Default() const { return default_; }
    void SetDefault(bool v);
    bool Cancel() const { return cancel_; }
    void SetCancel(bool v) { cancel_ = v; }
    std::int64_t MacButtonStyle() const { return macButtonStyle_; }
    void SetMacButtonStyle(std::int64_t v) { macButtonStyle_ = v; }
    const std::string& FontName() const { return fontName_; }
    void SetFontName(const std::string& v);
    float FontSize() const { return fontSize_; }
    void SetFontSize(float v);
    std::uint8_t FontUnit() const { return fontUnit_; }
    void SetFontUnit(std::uint8_t v) { fontUnit_ = v; }
    bool Bold() const { return bold_; }
    void SetBold(bool v);
    bool Italic() const { return italic_; }
    void SetItalic(bool v);
    bool Underline() const { return underline_; }
    void SetUnderline(bool v);

private:
    friend struct NativeAccess;
    // The widget was clicked.
    void Clicked();

    void ApplyFont();

    std::string caption_;
    bool default_ = false, cancel_ = false, bold_ = false, italic_ = false, underline_ = false;
    std::int64_t macButtonStyle_ = 0;
    std::string fontName_ = "System";
    float fontSize_ = 0.0f;
    std::uint8_t fontUnit_ = 0;
};

} // namespace platform
