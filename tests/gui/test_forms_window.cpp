// The form layer's windows: the description format in detail, aligned
// layout and the nominal frame, the splitter, form scrolling as the viewer
// uses it, menus, timers, showing and closing, and the picture drawing.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QSlider>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/Graphics.h"
#include "platform/forms/Desktop.h"
#include "platform/forms/FormDescription.h"
#include "platform/forms/Forms.h"

namespace {

// Owns the application only when no other test file made one first, and
// frees it before the exit handlers run.
class WindowEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (Application) return;
        static int argc = 1;
        static char name[] = "quillarc_forms_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<TApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<TApplication> app_;
};
const auto* const kWindowEnvironment = ::testing::AddGlobalTestEnvironment(new WindowEnvironment);

class TLayoutForm : public TForm {
public:
    TLayoutForm() {
        RegisterHandler("Splitter1Moved", &TLayoutForm::Splitter1Moved);
        RegisterHandler("FormResize", &TLayoutForm::FormResize);
        RegisterHandler("FormShow", &TLayoutForm::FormShow);
        RegisterHandler("FormClose", &TLayoutForm::FormClose);
        RegisterHandler("Open1Click", &TLayoutForm::Open1Click);
        RegisterHandler("Timer1Timer", &TLayoutForm::Timer1Timer);
        RegisterHandler("TrackBar1Change", &TLayoutForm::TrackBar1Change);
    }
    void Splitter1Moved(TObject*) { ++moved; }
    void FormResize(TObject*) { ++resized; }
    void FormShow(TObject*) { ++shown; }
    void FormClose(TObject*, TCloseAction& action) { action = closeAction; }
    void Open1Click(TObject*) { ++opened; }
    void Timer1Timer(TObject*) { ++ticks; }
    void TrackBar1Change(TObject*) {
        if (throwOnChange) throw Exception("from OnChange");
    }

    int moved = 0, resized = 0, shown = 0, opened = 0, ticks = 0;
    bool throwOnChange = false;
    TCloseAction closeAction = caHide;
};

// The main window's frame: 740 x 438 client with a menu, a 35 high tool bar,
// a 19 high status bar and two panes either side of a 12 wide splitter.
const char* kLayout = R"(object LayoutForm: TLayoutForm
  ClientWidth = 740
  ClientHeight = 438
  Color = clSkyBlue
  Caption = "Layout"
  Menu = MainMenu1
  OnResize = FormResize
  OnShow = FormShow
  OnClose = FormClose
  object ToolBar1: TToolBar
    Align = alTop
    Height = 35
  end
  object ImgPanel1: TPanel
    Align = alLeft
    Width = 364
    Color = clInactiveCaptionText
    object Radio1: TRadioButton
      Caption = "One"
      Checked = True
    end
  end
  object Splitter1: TSplitter
    Left = 364
    Width = 12
    Align = alLeft
    OnMoved = Splitter1Moved
  end
  object ImgPanel2: TPanel
    Align = alClient
    object Radio2: TRadioButton
      Caption = "Two"
      Checked = True
    end
  end
  object StatusBar1: TStatusBar
    Height = 19
    Panels = <
      item
        Text = " Original"
        Width = 60
      end
      item
        Width = 317
      end>
  end
  object Label1: TLabel
    Left = 400
    Top = 40
    Caption = "Pen && Ink"
  end
  object TrackBar1: TTrackBar
    Left = 400
    Top = 60
    Max = 20
    Position = 5
    OnChange = TrackBar1Change
  end
  object MainMenu1: TMainMenu
    object File1: TMenuItem
      Caption = "&File"
      object Open1: TMenuItem
        Caption = "&Open"
        OnClick = Open1Click
      end
      object N1: TMenuItem
        Caption = "-"
      end
    end
  end
  object Timer1: TTimer
    Interval = 50
    Enabled = False
    OnTimer = Timer1Timer
  end
end
)";

std::unique_ptr<TLayoutForm> MakeLayout() {
    auto form = std::make_unique<TLayoutForm>();
    form->LoadFromText(kLayout, "Layout.form");
    return form;
}

// ---------------------------------------------------------------- format

TEST(FormDescriptionFormat, ValuesOfEveryKind) {
    const TFormObject root = ParseFormDescription(R"(// a comment line
object F: TForm
  Caption = "say \"hi\"\\" + " there" // trailing comment
  Color = $F0CAA6
  Left = -11
  Lines = ["a", "", "b"]
  BorderIcons = []
  Font.Name = "MS Sans Serif"
  Panels = <
    item
      Width = 1
    end>
  object C: TPanel
  end
end)", "f.form");
    EXPECT_EQ(root.Name, "F");
    EXPECT_EQ(root.Find("Caption")->Value.AsString(), "say \"hi\"\\ there");
    EXPECT_EQ(root.Find("Color")->Value.AsInt(), clSkyBlue);
    EXPECT_EQ(root.Find("Left")->Value.AsInt(), -11);
    EXPECT_EQ(root.Find("Lines")->Value.AsStringList(), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_TRUE(root.Find("BorderIcons")->Value.AsIdentList().empty());
    EXPECT_EQ(root.Find("Font.Name")->Line, 8);
    EXPECT_EQ(root.Find("Panels")->Value.Entries.size(), 1u);
    ASSERT_EQ(root.Children.size(), 1u);
    EXPECT_EQ(root.Children[0].ClassName, "TPanel");
    EXPECT_EQ(root.Children[0].Line, 13);
}

// System colours are written as their unsigned 32-bit value.
TEST(FormDescriptionFormat, IntegersKeepTheirRange) {
    const TFormObject root = ParseFormDescription(
        "object F: TForm\n  A = $80000005\n  B = 4294967296\nend", "f.form");
    EXPECT_EQ(root.Find("A")->Value.AsInt(), clWindow);
    EXPECT_THROW(root.Find("B")->Value.AsInt(), EFormError);
    EXPECT_THROW(ParseFormDescription("object F: TForm\n  C = 99999999999999999999999\nend", "f.form"), EFormError);
}

void ExpectError(const std::string& text, const std::string& where) {
    try {
        ParseFormDescription(text, "bad.form");
        ADD_FAILURE() << "no error for: " << text;
    } catch (const EFormError& e) {
        EXPECT_EQ(e.Message().rfind(where, 0), 0u) << e.Message();
    }
}

TEST(FormDescriptionFormat, BrokenTextNamesTheLine) {
    ExpectError("object F: TForm\n  Caption = \"open\nend", "bad.form(2): ");
    ExpectError("object F: TForm\n  Caption = \"x\"\n", "bad.form(3): ");
    ExpectError("object F: TForm\nend\nend", "bad.form(3): ");
    ExpectError("object F TForm\nend", "bad.form(1): ");
    ExpectError("object F: TForm\n  Tag = \"a\" + 5\nend", "bad.form(2): ");
    ExpectError("object F: TForm\n  Tag = [1, 2\nend", "bad.form(3): ");
    ExpectError("object F: TForm\n  Tag = \"\\q\"\nend", "bad.form(2): ");
    ExpectError("", "bad.form(1): ");
}

TEST(FormDescriptionFormat, DeepNestingIsRefusedNotRecursedInto) {
    std::string text;
    for (int i = 0; i < 5000; ++i) text += "object O" + std::to_string(i) + ": TPanel\n";
    EXPECT_THROW(ParseFormDescription(text, "deep.form"), EFormError);
    std::string list = "object F: TForm\n  Tag = " + std::string(5000, '[') + "\nend";
    EXPECT_THROW(ParseFormDescription(list, "deep.form"), EFormError);
}

TEST(FormDescriptionFormat, UnknownsAreErrorsWhenTheFormLoads) {
    auto load = [](const std::string& text) {
        TLayoutForm form;
        form.LoadFromText(text, "x.form");
    };
    EXPECT_THROW(load("object F: TForm\n  object A: TNoSuchClass\n  end\nend"), EFormError);
    EXPECT_THROW(load("object F: TForm\n  object A: TPanel\n    Colour = clRed\n  end\nend"), EFormError);
    EXPECT_THROW(load("object F: TForm\n  object A: TPanel\n    Color = clNoSuch\n  end\nend"), EFormError);
    EXPECT_THROW(load("object F: TForm\n  object A: TPanel\n  end\n  object A: TLabel\n  end\nend"), EFormError);
    EXPECT_THROW(load("object F: TForm\n  object A: TLabel\n    object B: TButton\n    end\n  end\nend"), EFormError);
    EXPECT_THROW(load("object F: TForm\n  Menu = Nothing\nend"), EFormError);
    EXPECT_THROW(load("object F: TForm\n  object I: TMenuItem\n  end\nend"), EFormError);
    EXPECT_THROW(load("object F: TForm\n  object A: TImage\n    Picture = \"missing.bmp\"\n  end\nend"), EFormError);
    EXPECT_THROW(load("object F: TForm\n  object T: TTimer\n    Interval = -1\n  end\nend"), EFormError);
}

// ---------------------------------------------------------------- layout

TEST(FormWindow, AlignedControlsShareTheClientArea) {
    auto f = MakeLayout();
    EXPECT_EQ(f->ClientWidth(), 740);
    EXPECT_EQ(f->ClientHeight(), 438);
    // The nominal frame: 4 at the sides and bottom, caption and menu above.
    EXPECT_EQ(f->Width(), 748);
    EXPECT_EQ(f->Height(), 438 + TForm::kCaptionHeight + TForm::kFrameWidth + TForm::kMenuHeight);
    auto* p1 = f->FindControl<TPanel>("ImgPanel1");
    auto* p2 = f->FindControl<TPanel>("ImgPanel2");
    auto* sb = f->FindControl<TStatusBar>("StatusBar1");
    EXPECT_EQ(p1->BoundsRect(), Bounds(0, 35, 364, 384));
    EXPECT_EQ(f->FindControl<TSplitter>("Splitter1")->BoundsRect(), Bounds(364, 35, 12, 384));
    EXPECT_EQ(p2->BoundsRect(), Bounds(376, 35, 364, 384));
    EXPECT_EQ(sb->BoundsRect(), Bounds(0, 419, 740, 19));
    EXPECT_EQ(sb->Panel(0).Text, " Original");
    EXPECT_EQ(sb->Panel(1).Width, 317);
    EXPECT_THROW(sb->Panel(2), EListError);
    EXPECT_EQ(f->resized, 0) << "no OnResize while loading";
}

TEST(FormWindow, ResizingRealignsAndFiresOnResizeOncePerChange) {
    auto f = MakeLayout();
    f->SetWidth(f->Width() + 100);
    EXPECT_EQ(f->resized, 1);
    EXPECT_EQ(f->ClientWidth(), 840);
    EXPECT_EQ(f->FindControl<TPanel>("ImgPanel2")->Width(), 464);
    f->SetWidth(f->Width());
    EXPECT_EQ(f->resized, 1);
    f->SetClientHeight(500);
    EXPECT_EQ(f->resized, 2);
    EXPECT_EQ(f->FindControl<TPanel>("ImgPanel1")->Height(), 500 - 35 - 19);
}

TEST(FormWindow, SplitterResizesItsNeighbourWithinTheMinimum) {
    auto f = MakeLayout();
    auto* s = f->FindControl<TSplitter>("Splitter1");
    auto* p1 = f->FindControl<TPanel>("ImgPanel1");
    auto* p2 = f->FindControl<TPanel>("ImgPanel2");
    s->MoveBy(40);
    EXPECT_EQ(p1->Width(), 404);
    EXPECT_EQ(s->Left(), 404);
    EXPECT_EQ(p2->BoundsRect(), Bounds(416, 35, 324, 384));
    EXPECT_EQ(f->moved, 1);
    s->MoveBy(-1000);
    EXPECT_EQ(p1->Width(), s->MinSize());
    s->MoveBy(5000);
    EXPECT_EQ(p2->Width(), s->MinSize());
    EXPECT_EQ(f->moved, 3);
}

TEST(FormWindow, RadioGroupsFollowTheParent) {
    auto f = MakeLayout();
    // Each panel is its own group: both start checked.
    EXPECT_TRUE(f->FindControl<TRadioButton>("Radio1")->Checked());
    EXPECT_TRUE(f->FindControl<TRadioButton>("Radio2")->Checked());
    f->FindControl<TRadioButton>("Radio1")->SetChecked(false);
    EXPECT_FALSE(f->FindControl<TRadioButton>("Radio1")->Checked());
    EXPECT_TRUE(f->FindControl<TRadioButton>("Radio2")->Checked());
}

TEST(FormWindow, ProgrammaticChangesPassExceptionsToTheirCaller) {
    auto desktop = std::make_unique<TScriptedDesktop>();
    TScriptedDesktop* d = desktop.get();
    auto previous = SetDesktop(std::move(desktop));
    auto f = MakeLayout();
    f->throwOnChange = true;
    auto* bar = f->FindControl<TTrackBar>("TrackBar1");
    EXPECT_THROW(bar->SetPosition(7), Exception);
    EXPECT_TRUE(d->messageBoxes.empty());
    SetDesktop(std::move(previous));
}

TEST(FormWindow, LabelsShowTheDoubledAmpersandOnce) {
    auto f = MakeLayout();
    auto* label = f->FindControl<TLabel>("Label1");
    EXPECT_EQ(label->Caption(), "Pen && Ink");
    EXPECT_EQ(static_cast<QLabel*>(label->Widget())->text().toStdString(), "Pen & Ink");
    EXPECT_GT(label->Width(), 0) << "AutoSize";
}

// ---------------------------------------------------------------- menus, timer, show, close

TEST(FormWindow, MenuItemsAreFoundByCaptionAndClick) {
    auto f = MakeLayout();
    TMainMenu* menu = f->Menu();
    ASSERT_NE(menu, nullptr);
    TMenuItem* open = menu->Find({"File", "Open"});
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->Name(), "Open1");
    open->Click();
    EXPECT_EQ(f->opened, 1);
    EXPECT_EQ(menu->Find({"File", "Save"}), nullptr);
    EXPECT_EQ(menu->Find({"Help"}), nullptr);
}

TEST(FormWindow, TimerTicksOnlyWhileEnabled) {
    auto f = MakeLayout();
    auto* t = f->FindControl<TTimer>("Timer1");
    EXPECT_EQ(t->Interval(), 50u);
    t->Tick();
    EXPECT_EQ(f->ticks, 0);
    t->SetEnabled(true);
    t->Tick();
    EXPECT_EQ(f->ticks, 1);
}

TEST(FormWindow, ShowFiresOnShowOnlyWhenTheFormAppears) {
    auto f = MakeLayout();
    EXPECT_FALSE(f->Visible());
    f->Show();
    f->Show();
    EXPECT_EQ(f->shown, 1);
    f->Hide();
    f->Show();
    EXPECT_EQ(f->shown, 2);
    f->closeAction = caNone;
    f->Close();
    EXPECT_TRUE(f->Visible());
    f->closeAction = caHide;
    f->Close();
    EXPECT_FALSE(f->Visible());
}

TEST(FormWindow, FontSizesInPointsArePixelsAtNinetySixDpi) {
    TFont font;
    font.SetSize(8);
    EXPECT_EQ(font.Height(), -11);
    EXPECT_EQ(font.Size(), 8);
    font.SetHeight(-16);
    EXPECT_EQ(font.Size(), 12);
    EXPECT_FALSE(ResolveFontFamily("MS Sans Serif").empty());
    EXPECT_NE(ResolveFontFamily("MS Sans Serif"), "MS Sans Serif");
}

// ---------------------------------------------------------------- scrolling (the viewer)

class TScrollForm : public TForm {};

const char* kScroll = R"(object ViewForm: TScrollForm
  ClientWidth = 200
  ClientHeight = 150
  HorzScrollBar.Tracking = True
  VertScrollBar.Tracking = True
  object Image1: TImage
    Left = 0
    Top = 0
    AutoSize = True
  end
end
)";

void SetPicture(TImage* image, int w, int h) {
    TBitmap b;
    b.SetPixelFormat(TPixelFormat::pf24bit);
    b.SetSize(w, h);
    image->Picture().SetGraphic(&b);
}

TEST(FormScrolling, BarsAppearForALargerPictureAndMoveTheControls) {
    TScrollForm f;
    f.LoadFromText(kScroll, "View.form");
    auto* image = f.FindControl<TImage>("Image1");
    EXPECT_FALSE(f.HorzScrollBar().IsScrollBarVisible());
    SetPicture(image, 400, 300);
    EXPECT_EQ(image->Width(), 400);
    ASSERT_TRUE(f.HorzScrollBar().IsScrollBarVisible());
    ASSERT_TRUE(f.VertScrollBar().IsScrollBarVisible());
    EXPECT_LT(f.ClientWidth(), 200) << "the bars take client area";
    f.HorzScrollBar().SetPosition(50);
    EXPECT_EQ(image->Left(), -50);
    f.HorzScrollBar().SetPosition(f.HorzScrollBar().Position() + 10000);
    EXPECT_EQ(f.HorzScrollBar().Position(), 400 - f.ClientWidth());
    EXPECT_EQ(image->Left(), -(400 - f.ClientWidth()));
    f.VertScrollBar().SetPosition(-5);
    EXPECT_EQ(f.VertScrollBar().Position(), 0);
    // Back to a small picture: the bars go and the view scrolls home.
    f.HorzScrollBar().SetPosition(20);
    image->SetLeft(0);
    SetPicture(image, 100, 100);
    EXPECT_FALSE(f.HorzScrollBar().IsScrollBarVisible());
    EXPECT_EQ(f.HorzScrollBar().Position(), 0);
    EXPECT_EQ(f.ClientWidth(), 200);
    EXPECT_EQ(image->Left(), 20);
}

// ---------------------------------------------------------------- drawing

TEST(FormDrawing, BitmapsOfEveryFormatDrawOpaqueWithTheirColours) {
    TBitmap b24;
    b24.SetPixelFormat(TPixelFormat::pf24bit);
    b24.SetSize(3, 1);
    b24.SetPixel(0, 0, RGB(255, 0, 0));
    b24.SetPixel(1, 0, RGB(0, 255, 0));
    b24.SetPixel(2, 0, clSkyBlue);
    QImage i24 = GraphicToImage(b24);
    ASSERT_EQ(i24.width(), 3);
    EXPECT_EQ(i24.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(i24.pixel(1, 0), qRgb(0, 255, 0));
    EXPECT_EQ(i24.pixel(2, 0), qRgb(0xA6, 0xCA, 0xF0));

    // The filters leave alpha at 0; the picture must not vanish.
    TBitmap b32;
    b32.SetPixelFormat(TPixelFormat::pf32bit);
    b32.SetSize(1, 1);
    b32.ScanLine(0)[0] = 10, b32.ScanLine(0)[1] = 20, b32.ScanLine(0)[2] = 30, b32.ScanLine(0)[3] = 0;
    EXPECT_EQ(GraphicToImage(b32).pixel(0, 0), qRgb(30, 20, 10));

    TBitmap b1;
    b1.SetPixelFormat(TPixelFormat::pf1bit);
    b1.SetSize(9, 1);
    b1.SetPixel(8, 0, clWhite);
    QImage i1 = GraphicToImage(b1);
    EXPECT_EQ(i1.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(i1.pixel(8, 0), qRgb(255, 255, 255));

    TBitmap empty;
    EXPECT_TRUE(GraphicToImage(empty).isNull());
}

TEST(FormDrawing, ImageRedrawsAfterItsBitmapChanges) {
    TScrollForm f;
    f.LoadFromText(kScroll, "View.form");
    auto* image = f.FindControl<TImage>("Image1");
    SetPicture(image, 2, 2);
    EXPECT_EQ(image->Rendered().pixel(0, 0), qRgb(0, 0, 0));
    image->Picture().Bitmap().SetPixel(0, 0, clWhite);  // no change event
    image->Invalidate();
    EXPECT_EQ(image->Rendered().pixel(0, 0), qRgb(255, 255, 255));
}

// ---------------------------------------------------------------- input through the widgets

class TInputForm : public TForm {
public:
    TInputForm() {
        RegisterHandler("RadioClick", &TInputForm::RadioClick);
        RegisterHandler("CheckClick", &TInputForm::CheckClick);
        RegisterHandler("BarChange", &TInputForm::BarChange);
        RegisterHandler("EditKeyUp", &TInputForm::EditKeyUp);
        RegisterHandler("ImageDown", &TInputForm::ImageDown);
        RegisterHandler("ImageMove", &TInputForm::ImageMove);
        RegisterHandler("MenuClick", &TInputForm::MenuClick);
    }
    void RadioClick(TObject* s) { log.push_back(static_cast<TComponent*>(s)->Name()); }
    void CheckClick(TObject*) { log.push_back(FindControl<TCheckBox>("C1")->Checked() ? "C1 on" : "C1 off"); }
    void BarChange(TObject*) { log.push_back("bar " + std::to_string(FindControl<TTrackBar>("B1")->Position())); }
    void EditKeyUp(TObject*, uint16_t& key, TShiftState) {
        log.push_back("key " + std::to_string(key) + " " + FindControl<TEdit>("E1")->Text());
    }
    void ImageDown(TObject*, TMouseButton b, TShiftState s, int x, int y) {
        log.push_back("down " + std::to_string(b) + " " + std::to_string((s & ssLeft) != 0) + " " + std::to_string(x) +
                      "," + std::to_string(y));
    }
    void ImageMove(TObject*, TShiftState s, int x, int y) {
        log.push_back("move " + std::to_string((s & ssLeft) != 0) + " " + std::to_string(x) + "," + std::to_string(y));
    }
    void MenuClick(TObject*) { throw Exception("menu failed"); }
    std::vector<std::string> log;
};

const char* kInput = R"(object InputForm: TInputForm
  ClientWidth = 300
  ClientHeight = 200
  Menu = M
  object R1: TRadioButton
    Top = 0
    OnClick = RadioClick
  end
  object R2: TRadioButton
    Top = 20
    Checked = True
    OnClick = RadioClick
  end
  object C1: TCheckBox
    Top = 40
    OnClick = CheckClick
  end
  object B1: TTrackBar
    Top = 60
    Min = 0
    Max = 10
    PageSize = 3
    OnChange = BarChange
  end
  object E1: TEdit
    Top = 110
    OnKeyUp = EditKeyUp
  end
  object I1: TImage
    Left = 150
    Top = 100
    OnMouseDown = ImageDown
    OnMouseMove = ImageMove
  end
  object M: TMainMenu
    object F: TMenuItem
      Caption = "File"
      object X: TMenuItem
        Caption = "Explode"
        OnClick = MenuClick
      end
    end
  end
end
)";

class FormInput : public ::testing::Test {
protected:
    void SetUp() override {
        auto d = std::make_unique<TScriptedDesktop>();
        desktop = d.get();
        previous = SetDesktop(std::move(d));
        form = std::make_unique<TInputForm>();
        form->LoadFromText(kInput, "Input.form");
    }
    void TearDown() override {
        form.reset();
        SetDesktop(std::move(previous));
    }
    QWidget* W(const std::string& name) { return form->FindControl<TControl>(name)->Widget(); }
    TScriptedDesktop* desktop = nullptr;
    std::unique_ptr<IDesktop> previous;
    std::unique_ptr<TInputForm> form;
};

TEST_F(FormInput, ClickingARadioButtonChecksItOnceAndUnchecksItsGroup) {
    static_cast<QAbstractButton*>(W("R1"))->click();
    EXPECT_TRUE(form->FindControl<TRadioButton>("R1")->Checked());
    EXPECT_FALSE(form->FindControl<TRadioButton>("R2")->Checked());
    EXPECT_FALSE(static_cast<QAbstractButton*>(W("R2"))->isChecked());
    // A click on the checked button leaves it checked and fires nothing.
    static_cast<QAbstractButton*>(W("R1"))->click();
    EXPECT_TRUE(form->FindControl<TRadioButton>("R1")->Checked());
    EXPECT_EQ(form->log, (std::vector<std::string>{"R1"}));
}

TEST_F(FormInput, ClickingACheckBoxToggles) {
    static_cast<QAbstractButton*>(W("C1"))->click();
    static_cast<QAbstractButton*>(W("C1"))->click();
    EXPECT_EQ(form->log, (std::vector<std::string>{"C1 on", "C1 off"}));
    EXPECT_FALSE(static_cast<QAbstractButton*>(W("C1"))->isChecked());
}

TEST_F(FormInput, MovingTheSliderFiresOnChangeWithTheNewPosition) {
    auto* slider = static_cast<QSlider*>(W("B1"));
    slider->triggerAction(QAbstractSlider::SliderPageStepAdd);
    slider->triggerAction(QAbstractSlider::SliderToMaximum);
    slider->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(form->log, (std::vector<std::string>{"bar 3", "bar 10"}));
}

TEST_F(FormInput, KeyUpComesAfterTheTextChanged) {
    QWidget* edit = W("E1");
    QKeyEvent press(QEvent::KeyPress, Qt::Key_7, Qt::NoModifier, "7");
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_7, Qt::NoModifier, "7");
    QApplication::sendEvent(edit, &press);
    QApplication::sendEvent(edit, &release);
    QKeyEvent minus(QEvent::KeyPress, Qt::Key_Minus, Qt::NoModifier, "-");
    QKeyEvent minusUp(QEvent::KeyRelease, Qt::Key_Minus, Qt::NoModifier, "-");
    QApplication::sendEvent(edit, &minus);
    QApplication::sendEvent(edit, &minusUp);
    EXPECT_EQ(form->log, (std::vector<std::string>{"key 55 7", "key 189 7-"}));
}

TEST_F(FormInput, MouseEventsCarryControlCoordinatesAndButtons) {
    QWidget* image = W("I1");
    QMouseEvent down(QEvent::MouseButtonPress, QPointF(5, 6), QPointF(155, 106), Qt::LeftButton, Qt::LeftButton,
                     Qt::NoModifier);
    QMouseEvent move(QEvent::MouseMove, QPointF(9, 8), QPointF(159, 108), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent up(QEvent::MouseButtonRelease, QPointF(9, 8), QPointF(159, 108), Qt::LeftButton, Qt::NoButton,
                   Qt::NoModifier);
    QApplication::sendEvent(image, &down);
    QApplication::sendEvent(image, &move);
    QApplication::sendEvent(image, &up);
    EXPECT_EQ(form->log, (std::vector<std::string>{"down 0 1 5,6", "move 1 9,8"}));
}

TEST_F(FormInput, AnExceptionFromAMenuSelectionIsShownAndTheProgramGoesOn) {
    QMenuBar* bar = form->Window()->findChild<QMenuBar*>();
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(bar->actions().size(), 1);
    QMenu* file = bar->actions()[0]->menu();
    ASSERT_NE(file, nullptr);
    file->actions()[0]->trigger();
    ASSERT_EQ(desktop->messageBoxes.size(), 1u);
    EXPECT_EQ(desktop->messageBoxes[0].text, "menu failed");
    file->actions()[0]->trigger();
    EXPECT_EQ(desktop->messageBoxes.size(), 2u);
}

}  // namespace
