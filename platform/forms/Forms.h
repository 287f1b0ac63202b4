// The form layer: windows built from form descriptions, with the controls,
// events and application object the program's forms are written against.
// Qt stays behind this header (only forward declarations), so a form unit
// reads like its platform original: properties are Get/Set pairs, events are
// std::function members bound by handler name from the description.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "platform/core/Classes.h"
#include "platform/core/Graphics.h"
#include "platform/core/Progress.h"
#include "platform/core/SysUtils.h"
#include "platform/core/Threads.h"
#include "platform/forms/Desktop.h"
#include "platform/forms/FormDescription.h"
#include "platform/forms/Printer.h"

class QWidget;
class QTimer;
class QImage;
class QMenuBar;
class QMenu;
class QAction;
class QScrollBar;
class QApplication;
class QObject;

class TComponent;
class TControl;
class TWinControl;
class TForm;

// ------------------------------------------------------------ event types

enum TMouseButton { mbLeft, mbRight, mbMiddle };

// A set of these bits, tested as (Shift & ssLeft) != 0.
using TShiftState = uint32_t;
constexpr TShiftState ssShift = 1u << 0;
constexpr TShiftState ssAlt = 1u << 1;
constexpr TShiftState ssCtrl = 1u << 2;
constexpr TShiftState ssLeft = 1u << 3;
constexpr TShiftState ssRight = 1u << 4;
constexpr TShiftState ssMiddle = 1u << 5;
constexpr TShiftState ssDouble = 1u << 6;

enum TCloseAction { caNone, caHide, caFree, caMinimize };

using TMouseEvent =
    std::function<void(TObject* sender, TMouseButton button, TShiftState shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TObject* sender, TShiftState shift, int X, int Y)>;
// Key is the platform's virtual-key code (VK_RETURN 13, '0'..'9', 'A'..'Z').
using TKeyEvent = std::function<void(TObject* sender, uint16_t& key, TShiftState shift)>;
constexpr uint16_t VK_RETURN = 13;
constexpr uint16_t VK_ESCAPE = 27;
constexpr uint16_t VK_PRIOR = 33;  // Page Up
constexpr uint16_t VK_NEXT = 34;   // Page Down
constexpr uint16_t VK_LEFT = 37;
constexpr uint16_t VK_UP = 38;
constexpr uint16_t VK_RIGHT = 39;
constexpr uint16_t VK_DOWN = 40;
using TCloseEvent = std::function<void(TObject* sender, TCloseAction& action)>;

// A handler as the form registers it; the description's event property
// must name one of the matching kind.
using THandler = std::variant<TNotifyEvent, TMouseEvent, TMouseMoveEvent, TKeyEvent, TCloseEvent>;

// Runs an event handler the way the platform's message loop does: an
// exception escaping it goes to the application's exception handler (a
// message box with its Message; EAbort silently) and the program goes on.
void InvokeHandler(const std::function<void()>& call);

// ------------------------------------------------------------ enumerations

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

using TCursor = int16_t;
constexpr TCursor crDefault = 0;
constexpr TCursor crNone = -1;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crSizeNESW = -6;
constexpr TCursor crSizeNS = -7;
constexpr TCursor crSizeNWSE = -8;
constexpr TCursor crSizeWE = -9;
constexpr TCursor crUpArrow = -10;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crDrag = -12;
constexpr TCursor crNoDrop = -13;
constexpr TCursor crHSplit = -14;
constexpr TCursor crVSplit = -15;
constexpr TCursor crNo = -18;
constexpr TCursor crAppStart = -19;
constexpr TCursor crHelp = -20;
constexpr TCursor crHandPoint = -21;
constexpr TCursor crSizeAll = -22;

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TBorderIcon : uint32_t { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 };
using TBorderIcons = uint32_t;
enum TFormStyle { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
enum TPosition { poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly, poScreenCenter,
                 poDesktopCenter, poMainFormCenter, poOwnerFormCenter };
enum TFontStyle : uint32_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = uint32_t;
enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
enum TTrackBarOrientation { trHorizontal, trVertical };
enum TTickMark { tmBottomRight, tmTopLeft, tmBoth };
enum TTickStyle { tsNone, tsAuto, tsManual };
enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };

// ------------------------------------------------------------ font

// A control's font. "MS Sans Serif" and the other bitmap fonts of the
// platform fall back to the desktop's sans-serif family. A negative Height
// is the character height in pixels, a positive one the cell height; Size
// is in points.
class TFont {
public:
    std::string Name() const { return name_; }
    void SetName(const std::string& name);
    int Height() const { return height_; }  // 0: the desktop default
    void SetHeight(int height);
    int Size() const;                       // points, derived from Height at 96 dpi
    void SetSize(int points);
    TColor Color() const { return color_; }
    void SetColor(TColor color);
    TFontStyles Style() const { return style_; }
    void SetStyle(TFontStyles style);
    void Assign(const TFont& other);

    // Called after every change (the control re-applies the font).
    std::function<void()> OnChange;

private:
    void Changed() { if (OnChange) OnChange(); }
    std::string name_ = "MS Sans Serif";
    int height_ = 0;
    TColor color_ = clWindowText;
    TFontStyles style_ = 0;
};

// ------------------------------------------------------------ components

// A named part of a form. The form owns every component of its description.
class TComponent : public TObject {
public:
    TComponent();
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;
    const char* ClassName() const override { return "TComponent"; }

    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    TForm* OwnerForm() const { return owner_; }
    int Tag() const { return tag_; }
    void SetTag(int tag) { tag_ = tag; }
    // True while the form description is being applied: no events then.
    bool Loading() const;

    // Description plumbing: sets a property from its text form (dotted names
    // such as "Font.Name" included); false for a property the class does not
    // have. Raises EFormError for a value of the wrong kind.
    virtual bool SetProperty(const std::string& name, const TFormValue& value);
    // Binds an event property to a handler; false when the class has no such
    // event. Raises EFormError when the handler's kind does not match.
    virtual bool BindEvent(const std::string& event, const THandler& handler);
    // Called once every component of the form exists and every property is
    // set (references to other components are resolved here).
    virtual void Loaded() {}

protected:
    friend class TForm;
    std::string name_;
    TForm* owner_ = nullptr;
    int tag_ = 0;
};

// ------------------------------------------------------------ controls

// A control wraps one Qt widget. Geometry is in the parent's client
// coordinates, in pixels.
class TControl : public TComponent {
public:
    ~TControl() override;
    const char* ClassName() const override { return "TControl"; }

    virtual int Left() const;
    virtual int Top() const;
    virtual int Width() const;
    virtual int Height() const;
    void SetLeft(int value);
    void SetTop(int value);
    void SetWidth(int value);
    void SetHeight(int value);
    virtual void SetBounds(int left, int top, int width, int height);
    TRect BoundsRect() const;
    virtual int ClientWidth() const { return Width(); }
    virtual int ClientHeight() const { return Height(); }

    bool Visible() const { return visible_; }
    virtual void SetVisible(bool value);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    // Visible and every parent up to the form visible.
    bool Showing() const;
    bool Enabled() const { return enabled_; }
    virtual void SetEnabled(bool value);
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& hint);
    bool ShowHint() const { return showHint_; }
    void SetShowHint(bool value);
    TColor Color() const { return color_; }
    virtual void SetColor(TColor color);
    bool ParentColor() const { return parentColor_; }
    void SetParentColor(bool value);
    TFont& Font() { return font_; }
    const TFont& Font() const { return font_; }
    TCursor Cursor() const { return cursor_; }
    void SetCursor(TCursor cursor);
    TAlign Align() const { return align_; }
    void SetAlign(TAlign align);
    // The caption of controls that show one (label, button, panel, box, form).
    virtual std::string Caption() const { return caption_; }
    virtual void SetCaption(const std::string& caption);
    std::string Text() const { return Caption(); }
    void SetText(const std::string& text) { SetCaption(text); }

    TWinControl* Parent() const { return parent_; }
    virtual void SetParent(TWinControl* parent);
    void BringToFront();
    void SendToBack();

    // Invalidate schedules a repaint; Repaint and Refresh paint now.
    void Invalidate();
    void Update();
    void Repaint();
    void Refresh() { Repaint(); }
    void SetDoubleBuffered(bool) {}  // Qt always double-buffers
    bool DoubleBuffered() const { return true; }

    // Client coordinates of this control to screen and back.
    TPoint ClientToScreen(const TPoint& p) const;
    TPoint ScreenToClient(const TPoint& p) const;

    QWidget* Widget() const { return widget_; }
    // ContentChanged on this control and every control inside it.
    void ContentChangedTree();

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;
    TNotifyEvent OnResize;

    bool SetProperty(const std::string& name, const TFormValue& value) override;
    bool BindEvent(const std::string& event, const THandler& handler) override;

    // Fires the events; also the entry points tests drive.
    virtual void Click();
    virtual void DblClick();
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    void MouseMove(TShiftState shift, int x, int y);
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y);

protected:
    // widget becomes this control's widget (the control does not delete it:
    // the Qt parent does).
    // The platform's default size for the class until the description sets one.
    void Attach(QWidget* widget, int width = 100, int height = 30);
    // Re-applies colour, font colour and font to the widget.
    virtual void ApplyColors();
    virtual void ApplyFont();
    virtual void BoundsChanged(bool resized);
    // The picture or text may have changed behind the control's back (a
    // bitmap written through ScanLine): re-render on the next paint.
    virtual void ContentChanged() {}
    // Whether the control fills its background with Color.
    virtual bool Opaque() const { return !parentColor_; }
    TColor EffectiveColor() const;

    QWidget* widget_ = nullptr;
    TWinControl* parent_ = nullptr;
    bool visible_ = true;
    bool enabled_ = true;
    bool showHint_ = false;
    bool parentColor_ = true;
    bool parentFont_ = true;
    std::string hint_;
    std::string caption_;
    TColor color_ = clBtnFace;
    TFont font_;
    TCursor cursor_ = crDefault;
    TAlign align_ = alNone;

    friend class TWinControl;
    friend class TForm;
};

// A control that holds other controls and arranges the aligned ones.
class TWinControl : public TControl {
public:
    const char* ClassName() const override { return "TWinControl"; }
    int ControlCount() const { return static_cast<int>(controls_.size()); }
    TControl* Controls(int index) const { return controls_.at(static_cast<size_t>(index)); }
    // The widget the children live in (the control's own, except for the form).
    virtual QWidget* ClientWidget() const { return widget_; }
    // Lays out the aligned children: top ones first (in order of Top), then
    // bottom, left, right, and the client-aligned one in what is left.
    void AlignControls();

    // The area the aligned children share (a panel's bevel is inside it).
    virtual TRect AlignRect() const;

protected:
    friend class TControl;
    void BoundsChanged(bool resized) override;
    std::vector<TControl*> controls_;
    bool aligning_ = false;
};

class TPanel : public TWinControl {
public:
    TPanel();
    const char* ClassName() const override { return "TPanel"; }
    void SetCaption(const std::string& caption) override;
    TBevelCut BevelOuter() const { return bevelOuter_; }
    void SetBevelOuter(TBevelCut bevel);
    TBevelCut BevelInner() const { return bevelInner_; }
    void SetBevelInner(TBevelCut bevel);
    bool SetProperty(const std::string& name, const TFormValue& value) override;

private:
    TRect AlignRect() const override;
    TBevelCut bevelOuter_ = bvRaised;
    TBevelCut bevelInner_ = bvNone;
};

class TGroupBox : public TWinControl {
public:
    TGroupBox();
    const char* ClassName() const override { return "TGroupBox"; }
    void SetCaption(const std::string& caption) override;
};

// Tool bar and control bar: plain containers on this platform.
class TToolBar : public TWinControl {
public:
    TToolBar();
    const char* ClassName() const override { return "TToolBar"; }
    int ButtonHeight() const { return buttonHeight_; }
    void SetButtonHeight(int value) { buttonHeight_ = value; }
    bool SetProperty(const std::string& name, const TFormValue& value) override;

private:
    int buttonHeight_ = 22;
};

class TControlBar : public TWinControl {
public:
    TControlBar();
    const char* ClassName() const override { return "TControlBar"; }
};

// A caption. "&&" shows as one ampersand; a single '&' marks the accelerator.
class TLabel : public TControl {
public:
    TLabel();
    const char* ClassName() const override { return "TLabel"; }
    void SetCaption(const std::string& caption) override;
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool value);
    bool Transparent() const { return !Opaque(); }
    void SetTransparent(bool value);
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment value);
    bool WordWrap() const { return wordWrap_; }
    void SetWordWrap(bool value);
    bool SetProperty(const std::string& name, const TFormValue& value) override;

private:
    void AdjustSize();
    void ApplyFont() override;
    bool autoSize_ = true;
    bool wordWrap_ = false;
    TAlignment alignment_ = taLeftJustify;
};

class TEdit : public TControl {
public:
    TEdit();
    const char* ClassName() const override { return "TEdit"; }
    std::string Caption() const override;
    void SetCaption(const std::string& text) override;
    bool ReadOnly() const;
    void SetReadOnly(bool value);
    bool SetProperty(const std::string& name, const TFormValue& value) override;
    bool BindEvent(const std::string& event, const THandler& handler) override;
    void KeyDown(uint16_t& key, TShiftState shift);
    void KeyUp(uint16_t& key, TShiftState shift);

    TNotifyEvent OnChange;  // text changed, by the user or the program
    TKeyEvent OnKeyDown;
    TKeyEvent OnKeyUp;

protected:
    bool Opaque() const override { return true; }
};

class TMemo : public TControl {
public:
    TMemo();
    const char* ClassName() const override { return "TMemo"; }
    std::vector<std::string> Lines() const;
    void SetLines(const std::vector<std::string>& lines);
    std::string Caption() const override;  // lines joined with CR LF
    void SetCaption(const std::string& text) override;
    void SetReadOnly(bool value);
    void SetScrollBars(TScrollStyle style);
    void SetWordWrap(bool value);
    bool SetProperty(const std::string& name, const TFormValue& value) override;

protected:
    bool Opaque() const override { return true; }
};

class TButton : public TControl {
public:
    TButton();
    const char* ClassName() const override { return "TButton"; }
    void SetCaption(const std::string& caption) override;
};

// A flat tool button with a glyph and/or caption. OnMouseDown and OnMouseUp
// come before OnClick, which fires on release inside the button.
class TSpeedButton : public TControl {
public:
    TSpeedButton();
    const char* ClassName() const override { return "TSpeedButton"; }
    void SetCaption(const std::string& caption) override;
    // A picture resource (quillarc_embed_resources) or a bitmap.
    void SetGlyph(const std::string& resourceName);
    void SetGlyph(const TBitmap& bitmap);
    bool HasGlyph() const { return hasGlyph_; }
    bool Flat() const { return flat_; }
    void SetFlat(bool value);
    bool SetProperty(const std::string& name, const TFormValue& value) override;

private:
    void UpdateStyle();
    bool flat_ = false;
    bool hasGlyph_ = false;
};

// OnChange fires on every change of Position: dragged, keyed, or set by the
// program (also through a Min/Max change that moves it), never when the
// value stays the same.
class TTrackBar : public TControl {
public:
    TTrackBar();
    const char* ClassName() const override { return "TTrackBar"; }
    int Min() const;
    int Max() const;
    int Position() const;
    void SetMin(int value);
    void SetMax(int value);
    void SetPosition(int value);
    int PageSize() const;
    void SetPageSize(int value);
    int LineSize() const;
    void SetLineSize(int value);
    int Frequency() const { return frequency_; }
    void SetFrequency(int value);
    TTickMark TickMarks() const { return tickMarks_; }
    void SetTickMarks(TTickMark value);
    TTickStyle TickStyle() const { return tickStyle_; }
    void SetTickStyle(TTickStyle value);
    TTrackBarOrientation Orientation() const { return orientation_; }
    void SetOrientation(TTrackBarOrientation value);
    bool SetProperty(const std::string& name, const TFormValue& value) override;
    bool BindEvent(const std::string& event, const THandler& handler) override;

    TNotifyEvent OnChange;

private:
    void UpdateTicks();
    int frequency_ = 1;
    TTickMark tickMarks_ = tmBottomRight;
    TTickStyle tickStyle_ = tsAuto;
    TTrackBarOrientation orientation_ = trHorizontal;
};

// The filters' progress sink. Setting Position on the window thread is a
// pulse (see TBusyScope): during a run the bar and the windows paint.
class TProgressBar : public TControl, public IProgressBar {
public:
    TProgressBar();
    const char* ClassName() const override { return "TProgressBar"; }
    int Min() const;
    int Max() const;
    void SetMin(int value);
    void SetMax(int value);
    int32_t Position() const override;
    // Clamped to Min..Max.
    void SetPosition(int32_t value) override;
    void StepBy(int32_t delta) { SetPosition(Position() + delta); }
    bool SetProperty(const std::string& name, const TFormValue& value) override;
};

// Checking one radio button unchecks the others with the same parent.
// OnClick fires whenever it becomes checked, by the user or the program.
class TRadioButton : public TControl {
public:
    TRadioButton();
    const char* ClassName() const override { return "TRadioButton"; }
    void SetCaption(const std::string& caption) override;
    bool Checked() const { return checked_; }
    void SetChecked(bool value);
    bool SetProperty(const std::string& name, const TFormValue& value) override;

private:
    friend class TRadioWidget;
    bool checked_ = false;
    bool updating_ = false;
};

// OnClick fires on every change of Checked, by the user or the program.
class TCheckBox : public TControl {
public:
    TCheckBox();
    const char* ClassName() const override { return "TCheckBox"; }
    void SetCaption(const std::string& caption) override;
    bool Checked() const { return checked_; }
    void SetChecked(bool value);
    bool SetProperty(const std::string& name, const TFormValue& value) override;

private:
    bool checked_ = false;
    bool updating_ = false;
};

// Shows a picture from the core's registry. Stretch scales it to the
// control; AutoSize sizes the control to the picture. Mouse coordinates are
// the control's client coordinates.
class TImage : public TControl {
public:
    TImage();
    ~TImage() override;
    const char* ClassName() const override { return "TImage"; }
    TPicture& Picture() { return *picture_; }
    const TPicture& Picture() const { return *picture_; }
    bool Stretch() const { return stretch_; }
    void SetStretch(bool value);
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool value);
    bool Center() const { return center_; }
    void SetCenter(bool value);
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool value) { transparent_ = value; }
    // The picture as drawn (rendered once per picture change).
    const QImage& Rendered();
    // The picture stretched to width x height, as the control draws it
    // with Stretch on.
    QImage Scaled(int width, int height);
    bool SetProperty(const std::string& name, const TFormValue& value) override;

private:
    friend class TImageWidget;
    void PictureChanged();
    void ContentChanged() override;
    std::unique_ptr<TPicture> picture_;
    std::unique_ptr<QImage> rendered_;
    std::unique_ptr<QImage> scaled_;
    bool keepAlpha_ = false;  // a png/xpm resource: draw with its alpha
    bool dirty_ = true;
    bool stretch_ = false;
    bool autoSize_ = false;
    bool center_ = false;
    bool transparent_ = false;
};

struct TListItem {
    std::string Caption;
    int ImageIndex = -1;
};

// The items of a list view; item pointers stay valid until Clear or Delete.
class TListItems {
public:
    TListItem* Add();
    void Clear();
    void Delete(int index);
    int Count() const { return static_cast<int>(items_.size()); }
    TListItem* Item(int index) const;  // raises EListError outside the list
    TListItem* operator[](int index) const { return Item(index); }
    std::function<void()> OnChange;

private:
    std::vector<std::unique_ptr<TListItem>> items_;
};

class TListView : public TControl {
public:
    TListView();
    const char* ClassName() const override { return "TListView"; }
    TListItems& Items() { return items_; }
    bool SetProperty(const std::string& name, const TFormValue& value) override;

private:
    void Sync();
    TListItems items_;
};

struct TStatusPanel {
    std::string Text;
    int Width = 50;
};

class TStatusBar : public TControl {
public:
    TStatusBar();
    const char* ClassName() const override { return "TStatusBar"; }
    int PanelCount() const { return static_cast<int>(panels_.size()); }
    // Raises EListError outside the panels.
    const TStatusPanel& Panel(int index) const;
    void SetPanelText(int index, const std::string& text);
    void SetPanelWidth(int index, int width);
    TStatusPanel& AddPanel();
    bool SimplePanel() const { return simplePanel_; }
    void SetSimplePanel(bool value);
    const std::string& SimpleText() const { return simpleText_; }
    void SetSimpleText(const std::string& text);
    bool SetProperty(const std::string& name, const TFormValue& value) override;

protected:
    bool Opaque() const override { return true; }

private:
    friend class TStatusBarWidget;
    std::vector<TStatusPanel> panels_;
    bool simplePanel_ = false;
    std::string simpleText_;
};

// Dragging the splitter resizes the aligned neighbour before it (left or
// top), then fires OnMoved.
class TSplitter : public TControl {
public:
    TSplitter();
    const char* ClassName() const override { return "TSplitter"; }
    int MinSize() const { return minSize_; }
    void SetMinSize(int value) { minSize_ = value; }
    // Moves the splitter by delta pixels as a drag would, then fires OnMoved.
    void MoveBy(int delta);
    bool SetProperty(const std::string& name, const TFormValue& value) override;
    bool BindEvent(const std::string& event, const THandler& handler) override;

    TNotifyEvent OnMoved;

private:
    friend class TSplitterWidget;
    TControl* Neighbour() const;
    int minSize_ = 30;
};

// ------------------------------------------------------------ menus, timer, dialogs

class TMenuItem : public TComponent {
public:
    TMenuItem();
    ~TMenuItem() override;
    const char* ClassName() const override { return "TMenuItem"; }
    std::string Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    bool Visible() const { return visible_; }
    void SetVisible(bool value);
    bool Checked() const { return checked_; }
    void SetChecked(bool value);
    int Count() const { return static_cast<int>(items_.size()); }
    TMenuItem* Items(int index) const { return items_.at(static_cast<size_t>(index)); }
    TMenuItem* Parent() const { return parentItem_; }
    void Add(TMenuItem* item);
    // Fires OnClick as a menu selection does.
    void Click();
    bool SetProperty(const std::string& name, const TFormValue& value) override;
    bool BindEvent(const std::string& event, const THandler& handler) override;

    TNotifyEvent OnClick;

private:
    friend class TMainMenu;
    void Build(QWidget* menuOrBar);
    std::string caption_;
    bool enabled_ = true, visible_ = true, checked_ = false;
    std::vector<TMenuItem*> items_;
    TMenuItem* parentItem_ = nullptr;
    QAction* action_ = nullptr;
    QMenu* menu_ = nullptr;
};

// The form's menu bar; its top-level items are the nested TMenuItems.
class TMainMenu : public TComponent {
public:
    TMainMenu();
    const char* ClassName() const override { return "TMainMenu"; }
    int Count() const { return static_cast<int>(items_.size()); }
    TMenuItem* Items(int index) const { return items_.at(static_cast<size_t>(index)); }
    void Add(TMenuItem* item);
    // Finds an item by caption path ("File", "Open"); "&" ignored. nullptr if none.
    TMenuItem* Find(const std::vector<std::string>& captions) const;
    void BuildInto(QMenuBar* bar);

private:
    std::vector<TMenuItem*> items_;
};

class TTimer : public TComponent {
public:
    TTimer();
    ~TTimer() override;
    const char* ClassName() const override { return "TTimer"; }
    unsigned Interval() const { return interval_; }
    void SetInterval(unsigned ms);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    // Fires OnTimer as a tick does.
    void Tick();
    bool SetProperty(const std::string& name, const TFormValue& value) override;
    bool BindEvent(const std::string& event, const THandler& handler) override;
    void Loaded() override;

    TNotifyEvent OnTimer;

private:
    void Restart();
    QTimer* timer_ = nullptr;
    unsigned interval_ = 1000;
    bool enabled_ = true;
};

// File dialogs as components; Execute asks the desktop (Desktop.h).
class TOpenDialog : public TComponent {
public:
    const char* ClassName() const override { return "TOpenDialog"; }
    virtual bool Execute();
    std::string FileName;
    std::string Filter;  // "desc|pattern|desc|pattern"
    int FilterIndex = 1;  // 1-based
    std::string InitialDir;
    std::string DefaultExt;
    std::string Title;
    bool SetProperty(const std::string& name, const TFormValue& value) override;

};

// Filter defaults to the registry's picture filter; the open one previews.
class TOpenPictureDialog : public TOpenDialog {
public:
    TOpenPictureDialog();
    const char* ClassName() const override { return "TOpenPictureDialog"; }
};

class TSaveDialog : public TOpenDialog {
public:
    const char* ClassName() const override { return "TSaveDialog"; }
    bool Execute() override;
};

class TSavePictureDialog : public TSaveDialog {
public:
    TSavePictureDialog();
    const char* ClassName() const override { return "TSavePictureDialog"; }
};

// Runs the desktop's print dialog on the application's Printer().
class TPrintDialog : public TComponent {
public:
    const char* ClassName() const override { return "TPrintDialog"; }
    bool Execute();
    int Copies = 1;
    bool SetProperty(const std::string& name, const TFormValue& value) override;
};

// ------------------------------------------------------------ form

// The form's scroll bars (the viewer scrolls the form itself). Scrolling
// moves the form's controls, so their Left and Top follow the position.
class TControlScrollBar {
public:
    int Position() const { return position_; }
    // Clamped to 0..Range - visible extent.
    void SetPosition(int value);
    // 0 with automatic ranges: the extent of the controls.
    int Range() const { return range_; }
    void SetRange(int value);
    bool Tracking() const { return tracking_; }
    void SetTracking(bool value);
    bool Visible() const { return visible_; }
    void SetVisible(bool value);
    bool IsScrollBarVisible() const;
    int Increment() const { return increment_; }
    void SetIncrement(int value);
    int ScrollPos() const { return position_; }
    // The largest position the bar allows now (0 while it is not shown).
    int MaxPosition() const;

private:
    friend class TForm;
    TForm* form_ = nullptr;
    QScrollBar* bar_ = nullptr;
    bool horizontal_ = true;
    int position_ = 0;
    int range_ = 0;
    int increment_ = 8;
    bool tracking_ = false;
    bool visible_ = true;
    bool showing_ = false;
};

// The form canvas's settings the program touches.
struct TFormCanvas {
    TCopyMode CopyMode = cmSrcCopy;
};

// Base of every window class. The derived class registers its handlers in
// its constructor; the application's CreateForm then loads the description,
// binds the handlers by name, calls Loaded and fires OnCreate.
//
// Outer Width and Height include a nominal frame of kFrameWidth on the left,
// right and bottom and kCaptionHeight at the top (plus the menu bar), so
// the program's outer-size arithmetic works the same under any window
// manager.
class TForm : public TWinControl {
public:
    static constexpr int kFrameWidth = 4;
    static constexpr int kCaptionHeight = 27;  // caption plus the top frame
    static constexpr int kMenuHeight = 23;

    TForm();
    ~TForm() override;
    const char* ClassName() const override { return "TForm"; }

    // The embedded description "<name>.form" (quillarc_embed_forms).
    void LoadFromResource(const std::string& name);
    void LoadFromText(const std::string& text, const std::string& fileName);
    void LoadFromDescription(const TFormObject& root);

    TComponent* FindComponent(const std::string& name) const;
    // Raises EFormError when there is no component of that name and class.
    template <class T>
    T* FindControl(const std::string& name) const {
        TComponent* c = FindComponent(name);
        T* t = dynamic_cast<T*>(c);
        if (!t) MissingComponent(name, c);
        return t;
    }
    template <class T>
    T* FindComponentAs(const std::string& name) const { return FindControl<T>(name); }
    int ComponentCount() const { return static_cast<int>(components_.size()); }
    // Adds a component made in code (a control still needs SetParent).
    TComponent* InsertComponent(std::unique_ptr<TComponent> component);
    TComponent* Components(int index) const { return components_.at(static_cast<size_t>(index)).get(); }

    // Handler registration by name (the names the description uses).
    template <class F>
    void RegisterHandler(const std::string& name, void (F::*m)(TObject*)) {
        AddHandler(name, TNotifyEvent([this, m](TObject* s) { (Self<F>()->*m)(s); }));
    }
    template <class F>
    void RegisterHandler(const std::string& name, void (F::*m)(TObject*, TMouseButton, TShiftState, int, int)) {
        AddHandler(name, TMouseEvent([this, m](TObject* s, TMouseButton b, TShiftState sh, int x, int y) {
                       (Self<F>()->*m)(s, b, sh, x, y);
                   }));
    }
    template <class F>
    void RegisterHandler(const std::string& name, void (F::*m)(TObject*, TShiftState, int, int)) {
        AddHandler(name, TMouseMoveEvent([this, m](TObject* s, TShiftState sh, int x, int y) {
                       (Self<F>()->*m)(s, sh, x, y);
                   }));
    }
    template <class F>
    void RegisterHandler(const std::string& name, void (F::*m)(TObject*, uint16_t&, TShiftState)) {
        AddHandler(name, TKeyEvent([this, m](TObject* s, uint16_t& k, TShiftState sh) { (Self<F>()->*m)(s, k, sh); }));
    }
    template <class F>
    void RegisterHandler(const std::string& name, void (F::*m)(TObject*, TCloseAction&)) {
        AddHandler(name, TCloseEvent([this, m](TObject* s, TCloseAction& a) { (Self<F>()->*m)(s, a); }));
    }
    void RegisterHandler(const std::string& name, THandler handler) { AddHandler(name, std::move(handler)); }
    bool HasHandler(const std::string& name) const { return handlers_.count(name) != 0; }

    // Window state.
    void SetVisible(bool value) override;
    // Shows the form modeless; a visible form comes to the front.
    void Show();
    void Hide() { SetVisible(false); }
    // OnClose decides: caHide (the default) hides, caNone keeps it open;
    // closing the main form ends the application's Run.
    void Close();
    // Moves the form, if need be, so that it lies wholly on the work area of
    // the screen under its centre (the primary one's when no screen is), a
    // sizeable one made smaller where it is larger than the area (Show and
    // a resize of a showing form do it).
    void KeepOnScreen();
    std::string Caption() const override { return caption_; }
    void SetCaption(const std::string& caption) override;
    void SetBounds(int left, int top, int width, int height) override;
    int Width() const override;
    int Height() const override;
    int ClientWidth() const override;
    int ClientHeight() const override;
    void SetClientWidth(int value);
    void SetClientHeight(int value);
    void SetColor(TColor color) override;
    TFormBorderStyle BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(TFormBorderStyle style);
    TBorderIcons BorderIcons() const { return borderIcons_; }
    void SetBorderIcons(TBorderIcons icons);
    TFormStyle FormStyle() const { return formStyle_; }
    void SetFormStyle(TFormStyle style);
    TPosition Position() const { return position_; }
    void SetPosition(TPosition position) { position_ = position; }
    TMainMenu* Menu() const { return menu_; }
    void SetMenu(TMainMenu* menu);
    TControlScrollBar& HorzScrollBar() { return hscroll_; }
    TControlScrollBar& VertScrollBar() { return vscroll_; }
    bool AutoScroll() const { return autoScroll_; }
    void SetAutoScroll(bool value);
    TFormCanvas& Canvas() { return canvas_; }
    bool Active() const;
    void SetFocus();

    QWidget* ClientWidget() const override { return client_; }
    QWidget* Window() const { return widget_; }

    bool SetProperty(const std::string& name, const TFormValue& value) override;
    bool BindEvent(const std::string& event, const THandler& handler) override;

    TNotifyEvent OnCreate;
    TNotifyEvent OnShow;
    TNotifyEvent OnHide;
    TNotifyEvent OnDestroy;
    TNotifyEvent OnActivate;
    TCloseEvent OnClose;
    // A key pressed in the form that none of its controls used.
    TKeyEvent OnKeyDown;

    // Used by the layer itself: a control of the client moved or resized.
    void ChildGeometryChanged();
    // The window manager or the user resized the window.
    void WindowResized();
    // The window's close box.
    bool CloseQuery();
    bool IsLoading() const { return loading_; }
    // Fires OnCreate (CreateForm calls it once).
    void DoCreate();

protected:
    // Called after the description is applied, before OnCreate: a form
    // class looks up its controls here.
    virtual void Loaded() override {}

private:
    template <class F>
    F* Self() { return static_cast<F*>(this); }
    void AddHandler(const std::string& name, THandler handler);
    [[noreturn]] void MissingComponent(const std::string& name, TComponent* found) const;
    void CreateComponent(const TFormObject& object, TWinControl* parent, TComponent* parentComponent,
                         const std::string& fileName);
    void ApplyWindowFlags();
    void LayoutWindow();
    void UpdateScrollRanges();
    void ScrollBy(int dx, int dy);
    void NotifyResize();
    void ApplyFixedSize();
    void ResizeWindow(int width, int height);
    void ApplyColors() override;
    void ApplyFont() override;
    int ScrollBarExtent(bool horizontal) const;

    friend class TControlScrollBar;
    std::vector<std::unique_ptr<TComponent>> components_;
    std::map<std::string, TComponent*> byName_;
    std::map<std::string, THandler> handlers_;
    QWidget* client_ = nullptr;
    QMenuBar* menuBar_ = nullptr;
    TMainMenu* menu_ = nullptr;
    TControlScrollBar hscroll_, vscroll_;
    TFormCanvas canvas_;
    TFormBorderStyle borderStyle_ = bsSizeable;
    TBorderIcons borderIcons_ = biSystemMenu | biMinimize | biMaximize;
    TFormStyle formStyle_ = fsNormal;
    TPosition position_ = poDesigned;
    bool autoScroll_ = true;
    bool loading_ = false;
    bool shownOnce_ = false;
    bool layingOut_ = false;
    int lastWidth_ = -1, lastHeight_ = -1;
    int clientW_ = 0, clientH_ = 0;
    int layoutClientW_ = -1, layoutClientH_ = -1;
    int hscrollExtent_ = 0, vscrollExtent_ = 0;
    bool scrolling_ = false;
    bool showAfterCreate_ = false;
    std::string pendingMenu_;
    int pendingMenuLine_ = 0;
    std::string fileName_;
};

// Where a window of bounds goes so that it lies wholly on area: it keeps
// its place when it fits, else moves the least distance; one larger than
// the area goes to its top or left edge.
TPoint PlaceOnArea(const TRect& bounds, const TRect& area);

// ------------------------------------------------------------ application

// The screen the forms are shown on; the size comes from the desktop
// (scripted in tests).
class TScreen {
public:
    int Width() const;
    int Height() const;
    TCursor Cursor() const { return cursor_; }
    // crDefault restores the controls' own cursors.
    void SetCursor(TCursor cursor);

private:
    TCursor cursor_ = crDefault;
};
TScreen* Screen();

// The window thread busy with a long run (a picture loading, a conversion,
// a batch): the busy cursor shows, and the run's progress (the core's
// pulse) lets pending paints through, not the person's input, at most once
// per PaintInterval. A window closed meanwhile stays open. Scopes nest.
class TBusyScope {
public:
    TBusyScope();
    ~TBusyScope();
    TBusyScope(const TBusyScope&) = delete;
    TBusyScope& operator=(const TBusyScope&) = delete;
    static bool Active();
    // Milliseconds between two rounds of paints (30 by default; tests set 0
    // to let every pulse through).
    static void SetPaintInterval(int milliseconds);

    // The usual cursor back for a box the person answers in the middle of
    // a run.
    class TPause {
    public:
        TPause();
        ~TPause();
        TPause(const TPause&) = delete;
        TPause& operator=(const TPause&) = delete;

    private:
        bool paused_;
    };
};

class TApplication {
public:
    // Creates the QApplication when there is none yet; installs the message
    // box handler of the core (through Desktop()).
    TApplication(int& argc, char** argv);
    ~TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    void Initialize() {}
    // ref is set before the description loads, so handlers running during
    // OnCreate already see it; the first form created becomes the main form.
    template <class T>
    void CreateForm(T*& ref, const std::string& resourceName) {
        auto form = std::make_unique<T>();
        ref = form.get();
        try {
            AdoptForm(std::move(form), resourceName);
        } catch (...) {
            ref = nullptr;
            throw;
        }
    }
    TForm* MainForm() const { return mainForm_; }
    // Shows the main form and runs the event loop until it closes.
    void Run();
    void Terminate();
    bool Terminated() const { return terminated_; }
    void ProcessMessages();
    // The default exception handler: a message box with the Message,
    // caption Title, nothing for EAbort.
    void HandleException(std::exception_ptr error);
    std::function<void(const std::exception&)> OnException;

    std::string Title() const;
    void SetTitle(const std::string& title) { title_ = title; }
    std::string ExeName() const;
    int FormCount() const { return static_cast<int>(forms_.size()); }
    TForm* Forms(int index) const { return forms_.at(static_cast<size_t>(index)).get(); }
    // Destroys every form (reverse creation order); tests use it between cases.
    void DestroyForms();

private:
    void AdoptForm(std::unique_ptr<TForm> form, const std::string& resourceName);
    std::unique_ptr<QApplication> ownApp_;
    std::vector<std::unique_ptr<TForm>> forms_;
    TForm* mainForm_ = nullptr;
    bool terminated_ = false;
    std::string title_;
    TMessageBoxHandler previousHandler_;
    TPictureWarningHandler previousWarningHandler_;
    std::function<void()> previousWake_;
    TMessagePump previousPump_;
    std::function<void(std::exception_ptr)> previousExceptionHandler_;
    std::unique_ptr<QObject> modalLevel_;
};

// The one application object (nullptr before it is constructed).
extern TApplication* Application;

// The platform's simple message dialog: caption is the application title.
void ShowMessage(const std::string& text);

// TColor (system colours resolved) as 0xRRGGBB, the order Qt's QColor(QRgb) wants.
uint32_t ColorToQRgb(TColor color);
// A font family present on the desktop for a platform font name.
std::string ResolveFontFamily(const std::string& name);
// Draws a graphic at its own size into a 32-bit image (alpha ignored, as the
// platform's blits do). Empty graphics give a null image.
QImage GraphicToImage(TGraphic& graphic);
// A 24- or 32-bit bitmap shrunk to width x height straight from its rows,
// each pixel the average of the area it covers; a null image for other
// graphics and for sizes larger than the bitmap's.
QImage GraphicToScaledImage(const TGraphic& graphic, int32_t width, int32_t height);

// ------------------------------------------------------------ resources

// The bytes of an embedded resource: a picture by file name ("open.xpm",
// quillarc_embed_resources) or a description ("MainForm.form",
// quillarc_embed_forms). Raises EFormError "Resource not found: <name>".
std::vector<uint8_t> LoadResource(const std::string& name);
bool ResourceExists(const std::string& name);
// A picture resource as a graphic of the class the registry gives its
// extension; formats only Qt reads (png, xpm) become 32-bit bitmaps.
std::unique_ptr<TGraphic> LoadPictureResource(const std::string& name);
