// Components and controls over Qt widgets.
#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRubberBand>
#include <QSlider>
#include <QThread>
#include <QToolButton>
#include <algorithm>
#include <cstring>

#include "platform/core/Numeric.h"
#include "platform/forms/FormsInternal.h"

using namespace forms_internal;

// ------------------------------------------------------------ TFont

void TFont::SetName(const std::string& name) {
    name_ = name;
    Changed();
}
void TFont::SetHeight(int height) {
    height_ = height;
    Changed();
}
int TFont::Size() const {
    // Height = -MulDiv(Size, 96, 72) at the platform's 96 pixels per inch.
    if (height_ == 0) return 8;
    return num::MulDiv(height_ < 0 ? -height_ : height_, 72, 96);
}
void TFont::SetSize(int points) {
    height_ = -num::MulDiv(points, 96, 72);
    Changed();
}
void TFont::SetColor(TColor color) {
    color_ = color;
    Changed();
}
void TFont::SetStyle(TFontStyles style) {
    style_ = style;
    Changed();
}
void TFont::Assign(const TFont& other) {
    name_ = other.name_;
    height_ = other.height_;
    color_ = other.color_;
    style_ = other.style_;
    Changed();
}

// ------------------------------------------------------------ TComponent

TComponent::TComponent() = default;
TComponent::~TComponent() = default;

bool TComponent::Loading() const { return owner_ && owner_->IsLoading(); }

bool TComponent::SetProperty(const std::string& name, const TFormValue& value) {
    if (name == "Tag") {
        tag_ = value.AsInt();
        return true;
    }
    // Where a non-visual component sat in the designer; nothing here.
    if (name == "Left" || name == "Top") {
        value.AsInt();
        return true;
    }
    return false;
}

bool TComponent::BindEvent(const std::string&, const THandler&) { return false; }

namespace {
template <class E>
bool Bind(E& target, const std::string& event, const THandler& handler) {
    const E* h = std::get_if<E>(&handler);
    if (!h) throw EFormError("the handler for " + event + " has the wrong parameters");
    target = *h;
    return true;
}

template <class E, class... A>
void Fire(const E& event, A&&... args) {
    if (event) event(std::forward<A>(args)...);
}
}  // namespace

// ------------------------------------------------------------ TControl

TControl::~TControl() = default;

void TControl::Attach(QWidget* widget, int width, int height) {
    widget_ = widget;
    widget_->setGeometry(0, 0, width, height);
    widget_->setAttribute(Qt::WA_DeleteOnClose, false);
    font_.OnChange = [this] {
        parentFont_ = false;
        ApplyFont();
        ApplyColors();
    };
    ApplyColors();
}

int TControl::Left() const { return widget_ ? widget_->x() : 0; }
int TControl::Top() const { return widget_ ? widget_->y() : 0; }
int TControl::Width() const { return widget_ ? widget_->width() : 0; }
int TControl::Height() const { return widget_ ? widget_->height() : 0; }
void TControl::SetLeft(int value) { SetBounds(value, Top(), Width(), Height()); }
void TControl::SetTop(int value) { SetBounds(Left(), value, Width(), Height()); }
void TControl::SetWidth(int value) { SetBounds(Left(), Top(), value, Height()); }
void TControl::SetHeight(int value) { SetBounds(Left(), Top(), Width(), value); }
TRect TControl::BoundsRect() const { return Bounds(Left(), Top(), Width(), Height()); }

void TControl::SetBounds(int left, int top, int width, int height) {
    if (width < 0) width = 0;
    if (height < 0) height = 0;
    const QRect old = widget_->geometry();
    if (old == QRect(left, top, width, height) && widget_->testAttribute(Qt::WA_Resized)) return;
    widget_->setGeometry(left, top, width, height);
    BoundsChanged(old.width() != width || old.height() != height);
}

void TControl::BoundsChanged(bool resized) {
    if (resized && !Loading()) InvokeHandler([this] { Fire(OnResize, this); });
    if (parent_ && align_ != alNone && !parent_->aligning_ && !Loading()) parent_->AlignControls();
    if (owner_ && !Loading()) owner_->ChildGeometryChanged();
}

void TControl::SetVisible(bool value) {
    visible_ = value;
    if (widget_ && parent_) widget_->setVisible(value);
    if (parent_ && align_ != alNone && !Loading()) parent_->AlignControls();
    if (owner_ && !Loading()) owner_->ChildGeometryChanged();
}

bool TControl::Showing() const { return widget_ && widget_->isVisible(); }

void TControl::SetEnabled(bool value) {
    enabled_ = value;
    if (widget_) widget_->setEnabled(value);
}

void TControl::SetHint(const std::string& hint) {
    hint_ = hint;
    if (widget_) widget_->setToolTip(showHint_ ? Q(hint_) : QString());
}

void TControl::SetShowHint(bool value) {
    showHint_ = value;
    SetHint(hint_);
}

void TControl::SetColor(TColor color) {
    color_ = color;
    parentColor_ = false;
    ApplyColors();
}

void TControl::SetParentColor(bool value) {
    parentColor_ = value;
    ApplyColors();
}

TColor TControl::EffectiveColor() const {
    if (!parentColor_ || !parent_) return color_;
    return parent_->EffectiveColor();
}

void TControl::ApplyColors() {
    if (!widget_) return;
    QPalette pal = widget_->palette();
    const QColor fontColor = ToQColor(font_.Color());
    pal.setColor(QPalette::WindowText, fontColor);
    pal.setColor(QPalette::ButtonText, fontColor);
    pal.setColor(QPalette::Text, fontColor);
    if (Opaque() && color_ != clNone && color_ != clDefault) {
        pal.setColor(QPalette::Window, ToQColor(color_));
        pal.setColor(QPalette::Base, ToQColor(color_));
        widget_->setAutoFillBackground(true);
    } else {
        widget_->setAutoFillBackground(false);
    }
    widget_->setPalette(pal);
    if (auto* plain = dynamic_cast<TPlainWidget*>(widget_)) {
        plain->fill = Opaque() && color_ != clNone;
        plain->color = ToQColor(color_);
        widget_->setAutoFillBackground(false);
        plain->update();
    }
}

void TControl::ApplyFont() {
    if (widget_ && !parentFont_) widget_->setFont(ToQFont(font_));
}

void TControl::SetCursor(TCursor cursor) {
    cursor_ = cursor;
    if (!widget_) return;
    if (cursor == crDefault) widget_->unsetCursor();
    else widget_->setCursor(ToQtCursor(cursor));
}

void TControl::SetAlign(TAlign align) {
    align_ = align;
    if (parent_ && !Loading()) parent_->AlignControls();
}

void TControl::SetCaption(const std::string& caption) { caption_ = caption; }

void TControl::SetParent(TWinControl* parent) {
    if (parent_ == parent) return;
    if (parent_) {
        auto& list = parent_->controls_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
    parent_ = parent;
    if (!widget_) return;
    const QRect g = widget_->geometry();
    widget_->setParent(parent ? parent->ClientWidget() : nullptr);
    widget_->setGeometry(g);
    if (parent) {
        parent->controls_.push_back(this);
        if (parentFont_) {
            auto onChange = std::move(font_.OnChange);
            font_ = parent->font_;
            font_.OnChange = std::move(onChange);
        }
        widget_->setVisible(visible_);
        ApplyColors();
        if (align_ != alNone && !Loading()) parent->AlignControls();
    }
}

void TControl::BringToFront() {
    if (!widget_) return;
    // The offscreen platform of the tests has no stacking order to change.
    if (widget_->isWindow() && QGuiApplication::platformName() == "offscreen") return;
    widget_->raise();
    if (widget_->isWindow()) widget_->activateWindow();
}
void TControl::SendToBack() {
    if (widget_) widget_->lower();
}

void TControl::Invalidate() {
    ContentChangedTree();
    if (widget_) widget_->update();
}
void TControl::Update() {
    if (widget_) widget_->repaint();
}
void TControl::Repaint() {
    ContentChangedTree();
    if (widget_) widget_->repaint();
}

void TControl::ContentChangedTree() {
    ContentChanged();
    if (auto* w = dynamic_cast<TWinControl*>(this))
        for (int i = 0; i < w->ControlCount(); ++i) w->Controls(i)->ContentChangedTree();
}

TPoint TControl::ClientToScreen(const TPoint& p) const {
    const QPoint q = widget_->mapToGlobal(QPoint(p.X, p.Y));
    return {q.x(), q.y()};
}
TPoint TControl::ScreenToClient(const TPoint& p) const {
    const QPoint q = widget_->mapFromGlobal(QPoint(p.X, p.Y));
    return {q.x(), q.y()};
}

// These stand for the person's input, so an exception ends in the
// application's handler as it would from the event loop.
void TControl::Click() { InvokeHandler([this] { Fire(OnClick, this); }); }
void TControl::DblClick() { InvokeHandler([this] { Fire(OnDblClick, this); }); }
void TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    InvokeHandler([&] { Fire(OnMouseDown, this, button, shift, x, y); });
}
void TControl::MouseMove(TShiftState shift, int x, int y) {
    InvokeHandler([&] { Fire(OnMouseMove, this, shift, x, y); });
}
void TControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    InvokeHandler([&] { Fire(OnMouseUp, this, button, shift, x, y); });
}

bool TControl::SetProperty(const std::string& name, const TFormValue& v) {
    if (name == "Left") SetLeft(v.AsInt());
    else if (name == "Top") SetTop(v.AsInt());
    else if (name == "Width") SetWidth(v.AsInt());
    else if (name == "Height") SetHeight(v.AsInt());
    else if (name == "Caption" || name == "Text") SetCaption(v.AsString());
    else if (name == "Hint") SetHint(v.AsString());
    else if (name == "ShowHint") SetShowHint(v.AsBool());
    else if (name == "Visible") SetVisible(v.AsBool());
    else if (name == "Enabled") SetEnabled(v.AsBool());
    else if (name == "Color") SetColor(ColorValue(v));
    else if (name == "ParentColor") SetParentColor(v.AsBool());
    else if (name == "Cursor") SetCursor(CursorValue(v));
    else if (name == "Align")
        SetAlign(static_cast<TAlign>(EnumValue(v, {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient"})));
    else if (name == "ParentFont") {
        parentFont_ = v.AsBool();
    } else if (name.rfind("Font.", 0) == 0) {
        const std::string sub = name.substr(5);
        if (sub == "Name") font_.SetName(v.AsString());
        else if (sub == "Height") font_.SetHeight(v.AsInt());
        else if (sub == "Size") font_.SetSize(v.AsInt());
        else if (sub == "Color") font_.SetColor(ColorValue(v));
        else if (sub == "Style")
            font_.SetStyle(SetValue(v, {{"fsBold", fsBold}, {"fsItalic", fsItalic}, {"fsUnderline", fsUnderline},
                                        {"fsStrikeOut", fsStrikeOut}}));
        else if (sub == "Charset" || sub == "Pitch") return true;  // one character set here
        else return false;
    } else if (name == "TabOrder" || name == "TabStop" || name == "DoubleBuffered" || name == "ParentShowHint" ||
               name == "ParentDoubleBuffered" || name == "ParentBackground" || name == "AutoSize" ||
               name == "BiDiMode" || name == "ParentBiDiMode" || name == "Constraints.MinWidth" ||
               name == "Constraints.MinHeight") {
        // Accepted for the descriptions' sake; they change nothing here.
        (void)v;
    } else return TComponent::SetProperty(name, v);
    return true;
}

bool TControl::BindEvent(const std::string& event, const THandler& h) {
    if (event == "OnClick") return Bind(OnClick, event, h);
    if (event == "OnDblClick") return Bind(OnDblClick, event, h);
    if (event == "OnMouseDown") return Bind(OnMouseDown, event, h);
    if (event == "OnMouseMove") {
        if (widget_) widget_->setMouseTracking(true);
        return Bind(OnMouseMove, event, h);
    }
    if (event == "OnMouseUp") return Bind(OnMouseUp, event, h);
    if (event == "OnResize") return Bind(OnResize, event, h);
    return TComponent::BindEvent(event, h);
}

// ------------------------------------------------------------ TWinControl

TRect TWinControl::AlignRect() const { return Rect(0, 0, ClientWidth(), ClientHeight()); }

void TWinControl::BoundsChanged(bool resized) {
    if (resized && !Loading()) AlignControls();
    TControl::BoundsChanged(resized);
}

void TWinControl::AlignControls() {
    if (aligning_) return;
    aligning_ = true;
    TRect r = AlignRect();
    auto place = [&](TAlign which) {
        std::vector<TControl*> list;
        for (TControl* c : controls_)
            if (c->align_ == which && c->visible_) list.push_back(c);
        // Nearer the edge first; ties keep the order of creation.
        std::stable_sort(list.begin(), list.end(), [which](TControl* a, TControl* b) {
            switch (which) {
                case alTop: return a->Top() < b->Top();
                case alBottom: return a->Top() + a->Height() > b->Top() + b->Height();
                case alLeft: return a->Left() < b->Left();
                case alRight: return a->Left() + a->Width() > b->Left() + b->Width();
                default: return false;
            }
        });
        for (TControl* c : list) {
            switch (which) {
                case alTop:
                    c->SetBounds(r.Left, r.Top, r.Width(), c->Height());
                    r.Top += c->Height();
                    break;
                case alBottom:
                    c->SetBounds(r.Left, r.Bottom - c->Height(), r.Width(), c->Height());
                    r.Bottom -= c->Height();
                    break;
                case alLeft:
                    c->SetBounds(r.Left, r.Top, c->Width(), r.Height());
                    r.Left += c->Width();
                    break;
                case alRight:
                    c->SetBounds(r.Right - c->Width(), r.Top, c->Width(), r.Height());
                    r.Right -= c->Width();
                    break;
                case alClient:
                    c->SetBounds(r.Left, r.Top, r.Width(), r.Height());
                    break;
                default: break;
            }
        }
    };
    place(alTop);
    place(alBottom);
    place(alLeft);
    place(alRight);
    place(alClient);
    aligning_ = false;
}

// ------------------------------------------------------------ containers

TPanel::TPanel() {
    parentColor_ = false;
    Attach(new TPlainWidget(this), 185, 41);
    SetBevelOuter(bvRaised);
}

void TPanel::SetCaption(const std::string& caption) {
    caption_ = caption;
    auto* w = static_cast<TPlainWidget*>(widget_);
    w->caption = StripAccelerators(caption);
    w->update();
}

static int BevelKind(TBevelCut b) { return b == bvLowered ? 1 : b == bvRaised ? 2 : 0; }

void TPanel::SetBevelOuter(TBevelCut bevel) {
    bevelOuter_ = bevel;
    static_cast<TPlainWidget*>(widget_)->bevelOuter = BevelKind(bevel);
    widget_->update();
}
void TPanel::SetBevelInner(TBevelCut bevel) {
    bevelInner_ = bevel;
    static_cast<TPlainWidget*>(widget_)->bevelInner = BevelKind(bevel);
    widget_->update();
}

TRect TPanel::AlignRect() const {
    const int inset = (bevelOuter_ != bvNone ? 1 : 0) + (bevelInner_ != bvNone ? 1 : 0);
    return Rect(inset, inset, std::max(inset, Width() - inset), std::max(inset, Height() - inset));
}

bool TPanel::SetProperty(const std::string& name, const TFormValue& v) {
    if (name == "BevelOuter") SetBevelOuter(static_cast<TBevelCut>(EnumValue(v, {"bvNone", "bvLowered", "bvRaised", "bvSpace"})));
    else if (name == "BevelInner") SetBevelInner(static_cast<TBevelCut>(EnumValue(v, {"bvNone", "bvLowered", "bvRaised", "bvSpace"})));
    else if (name == "BevelWidth" || name == "BorderWidth" || name == "BorderStyle" || name == "Alignment") (void)v;
    else return TWinControl::SetProperty(name, v);
    return true;
}

TGroupBox::TGroupBox() { Attach(new TEventWidget<QGroupBox>(this, true), 185, 105); }

void TGroupBox::SetCaption(const std::string& caption) {
    caption_ = caption;
    static_cast<QGroupBox*>(widget_)->setTitle(Q(caption));
}

TToolBar::TToolBar() {
    parentColor_ = false;
    Attach(new TPlainWidget(this), 150, 29);
}

bool TToolBar::SetProperty(const std::string& name, const TFormValue& v) {
    if (name == "ButtonHeight") buttonHeight_ = v.AsInt();
    else if (name == "ButtonWidth" || name == "Flat" || name == "EdgeBorders" || name == "EdgeInner" ||
             name == "EdgeOuter" || name == "Transparent" || name == "Images")
        (void)v;
    else return TWinControl::SetProperty(name, v);
    return true;
}

TControlBar::TControlBar() {
    parentColor_ = false;
    Attach(new TPlainWidget(this), 100, 50);
}

// ------------------------------------------------------------ TLabel

TLabel::TLabel() {
    auto* w = new TEventWidget<QLabel>(this, true);
    w->setTextFormat(Qt::PlainText);
    Attach(w, 65, 17);
}

void TLabel::SetCaption(const std::string& caption) {
    caption_ = caption;
    static_cast<QLabel*>(widget_)->setText(StripAccelerators(caption));
    AdjustSize();
}

void TLabel::AdjustSize() {
    if (!autoSize_ || wordWrap_) return;
    const QSize hint = static_cast<QLabel*>(widget_)->sizeHint();
    SetBounds(Left(), Top(), hint.width(), hint.height());
}

void TLabel::ApplyFont() {
    TControl::ApplyFont();
    AdjustSize();
}

void TLabel::SetAutoSize(bool value) {
    autoSize_ = value;
    AdjustSize();
}
void TLabel::SetTransparent(bool value) {
    parentColor_ = value;
    ApplyColors();
}
void TLabel::SetAlignment(TAlignment value) {
    alignment_ = value;
    Qt::Alignment a = value == taCenter ? Qt::AlignHCenter : value == taRightJustify ? Qt::AlignRight : Qt::AlignLeft;
    static_cast<QLabel*>(widget_)->setAlignment(a | Qt::AlignTop);
}
void TLabel::SetWordWrap(bool value) {
    wordWrap_ = value;
    static_cast<QLabel*>(widget_)->setWordWrap(value);
}

bool TLabel::SetProperty(const std::string& name, const TFormValue& v) {
    if (name == "AutoSize") SetAutoSize(v.AsBool());
    else if (name == "Transparent") SetTransparent(v.AsBool());
    else if (name == "WordWrap") SetWordWrap(v.AsBool());
    else if (name == "Alignment") SetAlignment(static_cast<TAlignment>(EnumValue(v, {"taLeftJustify", "taRightJustify", "taCenter"})));
    else if (name == "Layout" || name == "FocusControl") (void)v;
    else return TControl::SetProperty(name, v);
    return true;
}

// ------------------------------------------------------------ TEdit

namespace {
class TLineEditWidget : public TEventWidget<QLineEdit> {
public:
    explicit TLineEditWidget(TEdit* edit) : TEventWidget<QLineEdit>(edit, true), edit_(edit) {}

protected:
    void keyPressEvent(QKeyEvent* e) override {
        uint16_t key = VirtualKeyOf(e->key(), e->modifiers());
        const TShiftState shift = ShiftOf(e->modifiers(), Qt::NoButton);
        InvokeHandler([&] { edit_->KeyDown(key, shift); });
        QLineEdit::keyPressEvent(e);
    }
    void keyReleaseEvent(QKeyEvent* e) override {
        QLineEdit::keyReleaseEvent(e);
        // One key-up per key, as the platform sends, not one per repeat.
        if (e->isAutoRepeat()) return;
        uint16_t key = VirtualKeyOf(e->key(), e->modifiers());
        const TShiftState shift = ShiftOf(e->modifiers(), Qt::NoButton);
        InvokeHandler([&] { edit_->KeyUp(key, shift); });
    }

private:
    TEdit* edit_;
};
}  // namespace

TEdit::TEdit() {
    parentColor_ = false;
    color_ = clWindow;
    auto* w = new TLineEditWidget(this);
    Attach(w, 121, 21);
    QObject::connect(w, &QLineEdit::textEdited, w, [this](const QString&) {
        InvokeHandler([this] { Fire(OnChange, this); });
    });
}

std::string TEdit::Caption() const { return S(static_cast<QLineEdit*>(widget_)->text()); }

void TEdit::SetCaption(const std::string& text) {
    auto* w = static_cast<QLineEdit*>(widget_);
    if (S(w->text()) == text) return;
    w->setText(Q(text));
    if (!Loading()) Fire(OnChange, this);
}

bool TEdit::ReadOnly() const { return static_cast<QLineEdit*>(widget_)->isReadOnly(); }
void TEdit::SetReadOnly(bool value) { static_cast<QLineEdit*>(widget_)->setReadOnly(value); }
void TEdit::KeyDown(uint16_t& key, TShiftState shift) { InvokeHandler([&] { Fire(OnKeyDown, this, key, shift); }); }
void TEdit::KeyUp(uint16_t& key, TShiftState shift) { InvokeHandler([&] { Fire(OnKeyUp, this, key, shift); }); }

bool TEdit::SetProperty(const std::string& name, const TFormValue& v) {
    if (name == "ReadOnly") SetReadOnly(v.AsBool());
    else if (name == "MaxLength") static_cast<QLineEdit*>(widget_)->setMaxLength(v.AsInt() > 0 ? v.AsInt() : 32767);
    else if (name == "BorderStyle" || name == "AutoSelect" || name == "CharCase") (void)v;
    else return TControl::SetProperty(name, v);
    return true;
}

bool TEdit::BindEvent(const std::string& event, const THandler& h) {
    if (event == "OnChange") return Bind(OnChange, event, h);
    if (event == "OnKeyDown") return Bind(OnKeyDown, event, h);
    if (event == "OnKeyUp") return Bind(OnKeyUp, event, h);
    return TControl::BindEvent(event, h);
}

// ------------------------------------------------------------ TMemo

TMemo::TMemo() {
    parentColor_ = false;
    color_ = clWindow;
    auto* w = new TEventWidget<QPlainTextEdit>(this, true);
    w->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    w->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    w->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Attach(w, 185, 89);
}

std::vector<std::string> TMemo::Lines() const {
    std::vector<std::string> out;
    const QStringList list = static_cast<QPlainTextEdit*>(widget_)->toPlainText().split('\n');
    for (const QString& s : list) out.push_back(S(s));
    if (!out.empty() && out.back().empty()) out.pop_back();
    return out;
}

void TMemo::SetLines(const std::vector<std::string>& lines) {
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i) text += '\n';
        text += lines[i];
    }
    static_cast<QPlainTextEdit*>(widget_)->setPlainText(Q(text));
}

std::string TMemo::Caption() const {
    std::string out;
    for (const std::string& l : Lines()) out += l + "\r\n";
    return out;
}

void TMemo::SetCaption(const std::string& text) {
    TStringList list;
    list.SetText(text);
    std::vector<std::string> lines;
    for (int i = 0; i < list.Count(); ++i) lines.push_back(list[i]);
    SetLines(lines);
}

void TMemo::SetReadOnly(bool value) { static_cast<QPlainTextEdit*>(widget_)->setReadOnly(value); }

void TMemo::SetScrollBars(TScrollStyle style) {
    auto* w = static_cast<QPlainTextEdit*>(widget_);
    const bool h = style == ssHorizontal || style == ssBoth, v = style == ssVertical || style == ssBoth;
    w->setHorizontalScrollBarPolicy(h ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    w->setVerticalScrollBarPolicy(v ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
}

void TMemo::SetWordWrap(bool value) {
    static_cast<QPlainTextEdit*>(widget_)->setLineWrapMode(value ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
}

bool TMemo::SetProperty(const std::string& name, const TFormValue& v) {
    if (name == "Lines" || name == "Lines.Strings") SetLines(v.AsStringList());
    else if (name == "ReadOnly") SetReadOnly(v.AsBool());
    else if (name == "ScrollBars") SetScrollBars(static_cast<TScrollStyle>(EnumValue(v, {"ssNone", "ssHorizontal", "ssVertical", "ssBoth"})));
    else if (name == "WordWrap") SetWordWrap(v.AsBool());
    else if (name == "BorderStyle" || name == "MaxLength" || name == "Alignment") (void)v;
    else return TControl::SetProperty(name, v);
    return true;
}

// ------------------------------------------------------------ buttons

TButton::TButton() {
    auto* w = new TEventWidget<QPushButton>(this, false);
    Attach(w, 75, 25);
    QObject::connect(w, &QPushButton::clicked, w, [this] { InvokeHandler([this] { Click(); }); });
}

void TButton::SetCaption(const std::string& caption) {
    caption_ = caption;
    static_cast<QPushButton*>(widget_)->setText(Q(caption));
}

TSpeedButton::TSpeedButton() {
    auto* w = new TEventWidget<QToolButton>(this, false);
    w->setFocusPolicy(Qt::NoFocus);
    Attach(w, 23, 22);
    QObject::connect(w, &QToolButton::clicked, w, [this] { InvokeHandler([this] { Click(); }); });
    UpdateStyle();
}

void TSpeedButton::UpdateStyle() {
    auto* w = static_cast<QToolButton*>(widget_);
    const bool text = !caption_.empty();
    w->setToolButtonStyle(hasGlyph_ && text ? Qt::ToolButtonTextBesideIcon
                          : hasGlyph_       ? Qt::ToolButtonIconOnly
                                            : Qt::ToolButtonTextOnly);
    w->setAutoRaise(flat_);
}

void TSpeedButton::SetCaption(const std::string& caption) {
    caption_ = caption;
    static_cast<QToolButton*>(widget_)->setText(Q(caption));
    UpdateStyle();
}

void TSpeedButton::SetGlyph(const TBitmap& bitmap) {
    TBitmap copy;
    copy.Assign(&bitmap);
    QImage img = GraphicToImage(copy).convertToFormat(QImage::Format_ARGB32);
    if (!img.isNull()) {
        // The platform draws a glyph's bottom-left colour as transparent.
        const QRgb key = img.pixel(0, img.height() - 1);
        for (int y = 0; y < img.height(); ++y) {
            QRgb* row = reinterpret_cast<QRgb*>(img.scanLine(y));
            for (int x = 0; x < img.width(); ++x)
                if (row[x] == key) row[x] = 0;
        }
    }
    auto* w = static_cast<QToolButton*>(widget_);
    w->setIcon(QIcon(QPixmap::fromImage(img)));
    w->setIconSize(img.size());
    hasGlyph_ = !img.isNull();
    UpdateStyle();
}

void TSpeedButton::SetGlyph(const std::string& resourceName) {
    const std::string ext = LowerCase(ExtractFileExt(resourceName));
    if (ext == ".bmp") {
        std::unique_ptr<TGraphic> g = LoadPictureResource(resourceName);
        if (auto* b = dynamic_cast<TBitmap*>(g.get())) {
            SetGlyph(*b);
            return;
        }
    }
    const std::vector<uint8_t> bytes = LoadResource(resourceName);
    QImage img;
    if (!img.loadFromData(bytes.data(), static_cast<int>(bytes.size())))
        throw EFormError("Resource " + resourceName + " is not a picture");
    auto* w = static_cast<QToolButton*>(widget_);
    w->setIcon(QIcon(QPixmap::fromImage(img)));
    w->setIconSize(img.size());
    hasGlyph_ = true;
    UpdateStyle();
}

void TSpeedButton::SetFlat(bool value) {
    flat_ = value;
    UpdateStyle();
}

bool TSpeedButton::SetProperty(const std::string& name, const TFormValue& v) {
    if (name == "Glyph") SetGlyph(v.AsString());
    else if (name == "Flat") SetFlat(v.AsBool());
    else if (name == "NumGlyphs" || name == "GroupIndex" || name == "Layout" || name == "Margin" ||
             name == "Spacing" || name == "Transparent" || name == "AllowAllUp" || name == "Down")
        (void)v;
    else return TControl::SetProperty(name, v);
    return true;
}

// ------------------------------------------------------------ TTrackBar

namespace {
QSlider* SliderOf(QWidget* w) { return static_cast<QSlider*>(w); }
}  // namespace

TTrackBar::TTrackBar() {
    auto* w = new TEventWidget<QSlider>(this, false, Qt::Horizontal);
    w->setRange(0, 10);
    w->setPageStep(2);
    w->setSingleStep(1);
    w->setTracking(true);
    Attach(w, 150, 45);
    UpdateTicks();
    // Only the person's moves come through the signal: the program's own
    // changes block it and fire OnChange directly, so an exception from the
    // handler reaches the code that moved the bar.
    QObject::connect(w, &QSlider::valueChanged, w, [this](int) {
        if (!Loading()) InvokeHandler([this] { Fire(OnChange, this); });
    });
}

int TTrackBar::Min() const { return SliderOf(widget_)->minimum(); }
int TTrackBar::Max() const { return SliderOf(widget_)->maximum(); }
int TTrackBar::Position() const { return SliderOf(widget_)->value(); }

namespace {
template <class F>
void ChangeSilently(QSlider* s, const TTrackBar* bar, const TNotifyEvent& onChange, F&& change) {
    const int before = s->value();
    const bool blocked = s->blockSignals(true);
    change();
    s->blockSignals(blocked);
    if (s->value() != before && !bar->Loading()) Fire(onChange, const_cast<TTrackBar*>(bar));
}
}  // namespace

void TTrackBar::SetMin(int value) {
    ChangeSilently(SliderOf(widget_), this, OnChange, [&] { SliderOf(widget_)->setMinimum(value); });
}
void TTrackBar::SetMax(int value) {
    ChangeSilently(SliderOf(widget_), this, OnChange, [&] { SliderOf(widget_)->setMaximum(value); });
}
void TTrackBar::SetPosition(int value) {
    ChangeSilently(SliderOf(widget_), this, OnChange, [&] { SliderOf(widget_)->setValue(value); });
}
int TTrackBar::PageSize() const { return SliderOf(widget_)->pageStep(); }
void TTrackBar::SetPageSize(int value) { SliderOf(widget_)->setPageStep(value); }
int TTrackBar::LineSize() const { return SliderOf(widget_)->singleStep(); }
void TTrackBar::SetLineSize(int value) { SliderOf(widget_)->setSingleStep(value); }
void TTrackBar::SetFrequency(int value) {
    frequency_ = value;
    UpdateTicks();
}
void TTrackBar::SetTickMarks(TTickMark value) {
    tickMarks_ = value;
    UpdateTicks();
}
void TTrackBar::SetTickStyle(TTickStyle value) {
    tickStyle_ = value;
    UpdateTicks();
}
void TTrackBar::SetOrientation(TTrackBarOrientation value) {
    orientation_ = value;
    SliderOf(widget_)->setOrientation(value == trHorizontal ? Qt::Horizontal : Qt::Vertical);
    UpdateTicks();
}

void TTrackBar::UpdateTicks() {
    QSlider* s = SliderOf(widget_);
    s->setTickInterval(frequency_ > 0 ? frequency_ : 1);
    if (tickStyle_ == tsNone) {
        s->setTickPosition(QSlider::NoTicks);
        return;
    }
    s->setTickPosition(tickMarks_ == tmBoth        ? QSlider::TicksBothSides
                       : tickMarks_ == tmTopLeft   ? QSlider::TicksAbove
                                                   : QSlider::TicksBelow);
}

bool TTrackBar::SetProperty(const std::string& name, const TFormValue& v) {
    if (name == "Min") SetMin(v.AsInt());
    else if (name == "Max") SetMax(v.AsInt());
    else if (name == "Position") SetPosition(v.AsInt());
    else if (name == "PageSize") SetPageSize(v.AsInt());
    else if (name == "LineSize") SetLineSize(v.AsInt());
    else if (name == "Frequency") SetFrequency(v.AsInt());
    else if (name == "TickMarks") SetTickMarks(static_cast<TTickMark>(EnumValue(v, {"tmBottomRight", "tmTopLeft", "tmBoth"})));
    else if (name == "TickStyle") SetTickStyle(static_cast<TTickStyle>(EnumValue(v, {"tsNone", "tsAuto", "tsManual"})));
    else if (name == "Orientation") SetOrientation(static_cast<TTrackBarOrientation>(EnumValue(v, {"trHorizontal", "trVertical"})));
    else if (name == "ThumbLength" || name == "SliderVisible" || name == "SelStart" || name == "SelEnd") (void)v;
    else return TControl::SetProperty(name, v);
    return true;
}

bool TTrackBar::BindEvent(const std::string& event, const THandler& h) {
    if (event == "OnChange") return Bind(OnChange, event, h);
    return TControl::BindEvent(event, h);
}

// ------------------------------------------------------------ TProgressBar

namespace {
QProgressBar* BarOf(QWidget* w) { return static_cast<QProgressBar*>(w); }
}  // namespace

TProgressBar::TProgressBar() {
    auto* w = new TEventWidget<QProgressBar>(this, true);
    w->setRange(0, 100);
    w->setValue(0);
    w->setTextVisible(false);
    Attach(w, 150, 16);
}

int TProgressBar::Min() const { return BarOf(widget_)->minimum(); }
int TProgressBar::Max() const { return BarOf(widget_)->maximum(); }
void TProgressBar::SetMin(int value) { BarOf(widget_)->setMinimum(value); }
void TProgressBar::SetMax(int value) { BarOf(widget_)->setMaximum(value); }
int32_t TProgressBar::Position() const { return BarOf(widget_)->value(); }

void TProgressBar::SetPosition(int32_t value) {
    QProgressBar* bar = BarOf(widget_);
    value = std::clamp(value, bar->minimum(), bar->maximum());
    if (value == bar->value()) return;
    bar->setValue(value);
    // Widgets belong to the window thread; a bar stepped from elsewhere
    // only records the value. During a run the step is a chance to paint.
    if (QThread::currentThread() == bar->thread() && !Loading()) progress::Pulse();
}

bool TProgressBar::SetProperty(const std::string& name, const TFormValue& v) {
    if (name == "Min") SetMin(v.AsInt());
    else if (name == "Max") SetMax(v.AsInt());
    else if (name == "Position") SetPosition(v.AsInt());
    else if (name == "Smooth" || name == "Step" || name == "Orientation") (void)v;
    else return TControl::SetProperty(name, v);
    return true;
}

// ------------------------------------------------------------ radio and check boxes

class TRadioWidget : public TEventWidget<QRadioButton> {
public:
    explicit TRadioWidget(TRadioButton* r) : TEventWidget<QRadioButton>(r, false), radio_(r) {
        setAutoExclusive(false);
    }

protected:
    // A person's click only ever checks; the group logic is the control's.
    void nextCheckState() override {
        setChecked(radio_->checked_);
        InvokeHandler([this] { radio_->SetChecked(true); });
    }

private:
    TRadioButton* radio_;
};

TRadioButton::TRadioButton() { Attach(new TRadioWidget(this), 113, 17); }

void TRadioButton::SetCaption(const std::string& caption) {
    caption_ = caption;
    static_cast<QRadioButton*>(widget_)->setText(Q(caption));
}

void TRadioButton::SetChecked(bool value) {
    auto* w = static_cast<QRadioButton*>(widget_);
    if (checked_ == value) {
        w->setChecked(value);
        return;
    }
    checked_ = value;
    w->setChecked(value);
    if (!value) return;
    if (parent_)
        for (int i = 0; i < parent_->ControlCount(); ++i)
            if (auto* other = dynamic_cast<TRadioButton*>(parent_->Controls(i)); other && other != this)
                other->SetChecked(false);
    if (!Loading()) Fire(OnClick, this);
}

bool TRadioButton::SetProperty(const std::string& name, const TFormValue& v) {
    if (name == "Checked") SetChecked(v.AsBool());
    else if (name == "Alignment") (void)v;
    else return TControl::SetProperty(name, v);
    return true;
}

namespace {
class TCheckWidget : public TEventWidget<QCheckBox> {
public:
    explicit TCheckWidget(TCheckBox* c) : TEventWidget<QCheckBox>(c, false), box_(c) {}

protected:
    void nextCheckState() override {
        setChecked(box_->Checked());
        InvokeHandler([this] { box_->SetChecked(!box_->Checked()); });
    }

private:
    TCheckBox* box_;
};
}  // namespace

TCheckBox::TCheckBox() { Attach(new TCheckWidget(this), 97, 17); }

void TCheckBox::SetCaption(const std::string& caption) {
    caption_ = caption;
    static_cast<QCheckBox*>(widget_)->setText(Q(caption));
}

void TCheckBox::SetChecked(bool value) {
    auto* w = static_cast<QCheckBox*>(widget_);
    w->setChecked(value);
    if (checked_ == value) return;
    checked_ = value;
    if (!Loading()) Fire(OnClick, this);
}

bool TCheckBox::SetProperty(const std::string& name, const TFormValue& v) {
    if (name == "Checked") SetChecked(v.AsBool());
    else if (name == "State") SetChecked(EnumValue(v, {"cbUnchecked", "cbChecked", "cbGrayed"}) == 1);
    else if (name == "Alignment" || name == "AllowGrayed") (void)v;
    else return TControl::SetProperty(name, v);
    return true;
}

// ------------------------------------------------------------ TImage

class TImageWidget : public TEventWidget<QWidget> {
public:
    explicit TImageWidget(TImage* image) : TEventWidget<QWidget>(image, true), image_(image) {}

protected:
    void paintEvent(QPaintEvent*) override {
        // A picture too large to draw shows nothing rather than ending the
        // program inside the paint.
        if (image_->stretch_) {
            try {
                if (!image_->scaled_ || image_->scaled_->size() != size())
                    image_->scaled_ = std::make_unique<QImage>(image_->Scaled(width(), height()));
            } catch (...) {
                return;
            }
            if (image_->scaled_->isNull()) return;
            QPainter p(this);
            p.drawImage(0, 0, *image_->scaled_);
            return;
        }
        const QImage* rendered = nullptr;
        try {
            rendered = &image_->Rendered();
        } catch (...) {
            return;
        }
        const QImage& img = *rendered;
        if (img.isNull()) return;
        QPainter p(this);
        int x = 0, y = 0;
        if (image_->center_) {
            x = (width() - img.width()) / 2;
            y = (height() - img.height()) / 2;
        }
        p.drawImage(x, y, img);
    }

private:
    TImage* image_;
};

TImage::TImage() : picture_(std::make_unique<TPicture>()), rendered_(std::make_unique<QImage>()) {
    Attach(new TImageWidget(this), 105, 105);
    picture_->OnChange = [this](TObject*) { PictureChanged(); };
}

TImage::~TImage() = default;

void TImage::PictureChanged() {
    ContentChanged();
    keepAlpha_ = false;
    if (autoSize_ && picture_->Width() > 0 && picture_->Height() > 0)
        SetBounds(Left(), Top(), picture_->Width(), picture_->Height());
    widget_->update();
}

void TImage::ContentChanged() {
    // The drawings of the old picture go at once: a large one holds as much
    // memory as the picture itself.
    dirty_ = true;
    *rendered_ = QImage();
    scaled_.reset();
}

QImage TImage::Scaled(int width, int height) {
    TGraphic* g = picture_->Graphic();
    if (!g) return QImage();
    // A large photograph shrinks straight from its rows; anything else is
    // drawn at its own size first.
    if (!keepAlpha_) {
        QImage direct = GraphicToScaledImage(*g, width, height);
        if (!direct.isNull()) return direct;
    }
    const QImage& img = Rendered();
    if (img.isNull()) return QImage();
    return img.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

const QImage& TImage::Rendered() {
    if (dirty_) {
        dirty_ = false;
        TGraphic* g = picture_->Graphic();
        if (!g) {
            *rendered_ = QImage();
        } else if (keepAlpha_) {
            // A resource picture with an alpha channel, drawn as Qt loaded it.
            *rendered_ = GraphicToImage(*g);
            if (auto* b = dynamic_cast<TBitmap*>(g); b && b->PixelFormat() == TPixelFormat::pf32bit) {
                QImage a(b->Width(), b->Height(), QImage::Format_ARGB32);
                for (int32_t y = 0; y < b->Height(); ++y)
                    std::memcpy(a.scanLine(y), b->ScanLine(y), static_cast<size_t>(b->Width()) * 4);
                *rendered_ = a;
            }
        } else {
            *rendered_ = GraphicToImage(*g);
        }
    }
    return *rendered_;
}

void TImage::SetStretch(bool value) {
    stretch_ = value;
    widget_->update();
}
void TImage::SetAutoSize(bool value) {
    autoSize_ = value;
    if (autoSize_ && picture_->Width() > 0 && picture_->Height() > 0)
        SetBounds(Left(), Top(), picture_->Width(), picture_->Height());
}
void TImage::SetCenter(bool value) {
    center_ = value;
    widget_->update();
}

bool TImage::SetProperty(const std::string& name, const TFormValue& v) {
    if (name == "Picture" || name == "Picture.Data") {
        std::unique_ptr<TGraphic> g = LoadPictureResource(v.AsString());
        picture_->SetGraphic(g.get());
        const std::string ext = LowerCase(ExtractFileExt(v.AsString()));
        keepAlpha_ = ext == ".png" || ext == ".xpm";
    } else if (name == "Stretch") SetStretch(v.AsBool());
    else if (name == "AutoSize") SetAutoSize(v.AsBool());
    else if (name == "Center") SetCenter(v.AsBool());
    else if (name == "Transparent") SetTransparent(v.AsBool());
    else if (name == "Proportional" || name == "IncrementalDisplay") (void)v;
    else return TControl::SetProperty(name, v);
    return true;
}

// ------------------------------------------------------------ TListView

TListItem* TListItems::Add() {
    items_.push_back(std::make_unique<TListItem>());
    if (OnChange) OnChange();
    return items_.back().get();
}

void TListItems::Clear() {
    items_.clear();
    if (OnChange) OnChange();
}

void TListItems::Delete(int index) {
    if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    items_.erase(items_.begin() + index);
    if (OnChange) OnChange();
}

TListItem* TListItems::Item(int index) const {
    if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    return items_[static_cast<size_t>(index)].get();
}

bool TListView::SetProperty(const std::string& name, const TFormValue& v) {
    if (name == "ViewStyle" || name == "Columns" || name == "ReadOnly" || name == "LargeImages" || name == "SmallImages")
        (void)v;
    else return TControl::SetProperty(name, v);
    return true;
}

TListView::TListView() {
    parentColor_ = false;
    color_ = clWindow;
    Attach(new TEventWidget<QListWidget>(this, true), 250, 150);
    items_.OnChange = [this] { Sync(); };
}

void TListView::Sync() {
    // Captions set on an item after Add show on the next change; the list
    // the program uses is hidden.
    auto* w = static_cast<QListWidget*>(widget_);
    w->clear();
    for (int i = 0; i < items_.Count(); ++i) w->addItem(Q(items_.Item(i)->Caption));
}

// ------------------------------------------------------------ TStatusBar

class TStatusBarWidget : public TEventWidget<QWidget> {
public:
    explicit TStatusBarWidget(TStatusBar* bar) : TEventWidget<QWidget>(bar, true), bar_(bar) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), palette().color(QPalette::Window));
        const QColor dark = ToQColor(clBtnShadow), light = ToQColor(clBtnHighlight);
        auto cell = [&](QRect r, const QString& text) {
            p.setPen(dark);
            p.drawLine(r.topLeft(), r.topRight());
            p.drawLine(r.topLeft(), r.bottomLeft());
            p.setPen(light);
            p.drawLine(r.bottomLeft(), r.bottomRight());
            p.drawLine(r.topRight(), r.bottomRight());
            p.setPen(palette().color(QPalette::WindowText));
            p.drawText(r.adjusted(2, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft, text);
        };
        const QRect all = rect().adjusted(0, 2, -1, -1);
        if (bar_->simplePanel_) {
            cell(all, Q(bar_->simpleText_));
            return;
        }
        int x = 0;
        const size_t n = bar_->panels_.size();
        for (size_t i = 0; i < n; ++i) {
            // The last panel reaches the right edge.
            // The program may set a width below zero (a narrow pane); it
            // shows as an empty panel.
            const int w = i + 1 == n ? std::max(0, width() - x) : std::max(0, bar_->panels_[i].Width);
            cell(QRect(x, all.top(), std::max(0, w - 2), all.height()), Q(bar_->panels_[i].Text));
            x += w;
        }
    }

private:
    TStatusBar* bar_;
};

TStatusBar::TStatusBar() {
    parentColor_ = false;
    Attach(new TStatusBarWidget(this), 100, 19);
    align_ = alBottom;
}

const TStatusPanel& TStatusBar::Panel(int index) const {
    if (index < 0 || index >= PanelCount()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    return panels_[static_cast<size_t>(index)];
}

void TStatusBar::SetPanelText(int index, const std::string& text) {
    Panel(index);
    panels_[static_cast<size_t>(index)].Text = text;
    widget_->update();
}

void TStatusBar::SetPanelWidth(int index, int width) {
    Panel(index);
    panels_[static_cast<size_t>(index)].Width = width;
    widget_->update();
}

TStatusPanel& TStatusBar::AddPanel() {
    panels_.emplace_back();
    widget_->update();
    return panels_.back();
}

void TStatusBar::SetSimplePanel(bool value) {
    simplePanel_ = value;
    widget_->update();
}

void TStatusBar::SetSimpleText(const std::string& text) {
    simpleText_ = text;
    widget_->update();
}

bool TStatusBar::SetProperty(const std::string& name, const TFormValue& v) {
    if (name == "Panels") {
        if (v.Kind != TFormValue::vkCollection) v.Fail("collection of panels expected");
        panels_.clear();
        for (const TFormObject& item : v.Entries) {
            TStatusPanel panel;
            for (const TFormProperty& p : item.Properties) {
                if (p.Name == "Text") panel.Text = p.Value.AsString();
                else if (p.Name == "Width") panel.Width = p.Value.AsInt();
                else if (p.Name == "Alignment" || p.Name == "Bevel" || p.Name == "Style") continue;
                else p.Value.Fail("unknown panel property '" + p.Name + "'");
            }
            panels_.push_back(panel);
        }
        widget_->update();
    } else if (name == "SimplePanel") SetSimplePanel(v.AsBool());
    else if (name == "SimpleText") SetSimpleText(v.AsString());
    else if (name == "SizeGrip" || name == "UseSystemFont") (void)v;
    else return TControl::SetProperty(name, v);
    return true;
}

// ------------------------------------------------------------ TSplitter

class TSplitterWidget : public TEventWidget<QWidget> {
public:
    explicit TSplitterWidget(TSplitter* s) : TEventWidget<QWidget>(s, false), splitter_(s) {}

protected:
    void mousePressEvent(QMouseEvent* e) override {
        TEventWidget<QWidget>::mousePressEvent(e);
        if (e->button() != Qt::LeftButton) return;
        dragging_ = true;
        start_ = e->globalPosition().toPoint();
        if (!band_) band_ = new QRubberBand(QRubberBand::Line, parentWidget());
        band_->setGeometry(geometry());
        band_->show();
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        TEventWidget<QWidget>::mouseMoveEvent(e);
        if (!dragging_) return;
        band_->setGeometry(geometry().translated(Delta(e), 0));
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        TEventWidget<QWidget>::mouseReleaseEvent(e);
        if (!dragging_ || e->button() != Qt::LeftButton) return;
        dragging_ = false;
        band_->hide();
        // The neighbour is resized when the drag ends, then OnMoved.
        const int d = Delta(e);
        if (d != 0) InvokeHandler([&] { splitter_->MoveBy(d); });
    }

private:
    int Delta(QMouseEvent* e) const {
        const QPoint now = e->globalPosition().toPoint();
        return splitter_->Align() == alTop || splitter_->Align() == alBottom ? now.y() - start_.y() : now.x() - start_.x();
    }
    TSplitter* splitter_;
    bool dragging_ = false;
    QPoint start_;
    QRubberBand* band_ = nullptr;
};

TSplitter::TSplitter() {
    Attach(new TSplitterWidget(this), 3, 100);
    align_ = alLeft;
    SetCursor(crHSplit);
}

TControl* TSplitter::Neighbour() const {
    if (!parent_) return nullptr;
    for (int i = 0; i < parent_->ControlCount(); ++i) {
        TControl* c = parent_->Controls(i);
        if (c == this || !c->Visible() || c->Align() != align_) continue;
        const bool adjoins = align_ == alLeft     ? c->Left() + c->Width() == Left()
                             : align_ == alRight  ? c->Left() == Left() + Width()
                             : align_ == alTop    ? c->Top() + c->Height() == Top()
                                                  : c->Top() == Top() + Height();
        if (adjoins) return c;
    }
    return nullptr;
}

void TSplitter::MoveBy(int delta) {
    TControl* n = Neighbour();
    if (!n || !parent_) return;
    const bool horizontal = align_ == alLeft || align_ == alRight;
    const int sign = (align_ == alLeft || align_ == alTop) ? 1 : -1;
    const int current = horizontal ? n->Width() : n->Height();
    // The space the client-aligned control has now, which the move takes from.
    int free = 0;
    for (int i = 0; i < parent_->ControlCount(); ++i)
        if (TControl* c = parent_->Controls(i); c->Align() == alClient && c->Visible())
            free = horizontal ? c->Width() : c->Height();
    int size = current + sign * delta;
    size = std::min(size, current + free - minSize_);
    size = std::max(size, minSize_);
    if (size == current) return;
    if (horizontal) n->SetWidth(size);
    else n->SetHeight(size);
    Fire(OnMoved, this);
}

bool TSplitter::SetProperty(const std::string& name, const TFormValue& v) {
    if (name == "MinSize") SetMinSize(v.AsInt());
    else if (name == "ResizeStyle" || name == "Beveled" || name == "AutoSnap") (void)v;
    else if (name == "Align") {
        TControl::SetProperty(name, v);
        SetCursor(align_ == alTop || align_ == alBottom ? crVSplit : crHSplit);
    } else return TControl::SetProperty(name, v);
    return true;
}

bool TSplitter::BindEvent(const std::string& event, const THandler& h) {
    if (event == "OnMoved") return Bind(OnMoved, event, h);
    return TControl::BindEvent(event, h);
}
