// Helpers shared by the form layer's sources (not for the program).
#pragma once

#include <QColor>
#include <QCursor>
#include <QFont>
#include <QImage>
#include <QMouseEvent>
#include <QWidget>

#include "platform/forms/Forms.h"

namespace forms_internal {

QColor ToQColor(TColor color);
Qt::CursorShape ToQtCursor(TCursor cursor);
TShiftState ShiftOf(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons);
TMouseButton ButtonOf(Qt::MouseButton button);
uint16_t VirtualKeyOf(int qtKey, Qt::KeyboardModifiers modifiers);
QFont ToQFont(const TFont& font);
// "&&" -> "&", a lone '&' dropped: for widgets without mnemonics.
QString StripAccelerators(const std::string& caption);
QString Q(const std::string& s);
std::string S(const QString& s);

// Value parsers for description properties (raise EFormError on a bad value).
TColor ColorValue(const TFormValue& v);
TCursor CursorValue(const TFormValue& v);
int EnumValue(const TFormValue& v, std::initializer_list<const char*> names);
uint32_t SetValue(const TFormValue& v, std::initializer_list<std::pair<const char*, uint32_t>> names);

// Forwards mouse input of any Qt widget class to its control. Down and Up
// reach the control before the widget's own handling, so a button's
// OnMouseUp comes before its OnClick, as on the platform. Widgets without a
// click signal of their own get Click from a press and release inside.
// Cleared when the control goes, so late Qt events never reach it.
struct TControlLink {
    TControl* control_ = nullptr;
};

template <class Base>
class TEventWidget : public Base, public TControlLink {
public:
    template <class... A>
    explicit TEventWidget(TControl* control, bool genericClick, A&&... args)
        : Base(std::forward<A>(args)...), genericClick_(genericClick) {
        control_ = control;
    }

protected:
    void mousePressEvent(QMouseEvent* e) override {
        if (!control_) return Base::mousePressEvent(e);
        pressedInside_ = e->button() == Qt::LeftButton;
        const QPoint p = e->position().toPoint();
        InvokeHandler([&] { control_->MouseDown(ButtonOf(e->button()), ShiftOf(e->modifiers(), e->buttons()), p.x(), p.y()); });
        Base::mousePressEvent(e);
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (!control_) return Base::mouseMoveEvent(e);
        const QPoint p = e->position().toPoint();
        InvokeHandler([&] { control_->MouseMove(ShiftOf(e->modifiers(), e->buttons()), p.x(), p.y()); });
        Base::mouseMoveEvent(e);
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (!control_) return Base::mouseReleaseEvent(e);
        const QPoint p = e->position().toPoint();
        InvokeHandler([&] { control_->MouseUp(ButtonOf(e->button()), ShiftOf(e->modifiers(), e->buttons()), p.x(), p.y()); });
        const bool click = genericClick_ && pressedInside_ && e->button() == Qt::LeftButton && this->rect().contains(p);
        pressedInside_ = false;
        Base::mouseReleaseEvent(e);
        if (click) InvokeHandler([&] { control_->Click(); });
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override {
        if (!control_) return Base::mouseDoubleClickEvent(e);
        if (e->button() == Qt::LeftButton) InvokeHandler([&] { control_->DblClick(); });
        Base::mouseDoubleClickEvent(e);
    }

private:
    bool genericClick_;
    bool pressedInside_ = false;
};

// Paints a control's background colour (when opaque), an optional bevel
// and a centred caption: panels, tool bars, the form's client area.
class TPlainWidget : public TEventWidget<QWidget> {
public:
    explicit TPlainWidget(TControl* control) : TEventWidget<QWidget>(control, true) {}
    bool fill = true;
    QColor color = QColor(240, 240, 240);
    int bevelOuter = 0;  // 0 none, 1 lowered, 2 raised
    int bevelInner = 0;
    QString caption;

protected:
    void paintEvent(QPaintEvent*) override;
};

}  // namespace forms_internal
