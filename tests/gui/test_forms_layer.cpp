// The form layer on its own: descriptions, handler binding by name, the
// platform behaviour of track bars, radio buttons and check boxes, colours,
// the application's exception handler.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/forms/Desktop.h"
#include "platform/forms/FormDescription.h"
#include "platform/forms/Forms.h"

namespace {

void EnsureApp() {
    if (Application) return;
    static int argc = 1;
    static char name[] = "quillarc_forms_tests";
    static char* argv[] = {name, nullptr};
    static TApplication application(argc, argv);
}

// A form class as the program writes them: handlers registered by name.
class TDemoForm : public TForm {
public:
    TDemoForm() {
        RegisterHandler("TrackBar1Change", &TDemoForm::TrackBar1Change);
        RegisterHandler("Radio1Click", &TDemoForm::Radio1Click);
        RegisterHandler("Radio2Click", &TDemoForm::Radio2Click);
        RegisterHandler("Check1Click", &TDemoForm::Check1Click);
        RegisterHandler("Button1Click", &TDemoForm::Button1Click);
        RegisterHandler("Button1MouseDown", &TDemoForm::Button1MouseDown);
        RegisterHandler("FormCreate", &TDemoForm::FormCreate);
    }
    void TrackBar1Change(TObject*) { changes.push_back(FindControl<TTrackBar>("TrackBar1")->Position()); }
    void Radio1Click(TObject*) { clicks.push_back("Radio1"); }
    void Radio2Click(TObject*) { clicks.push_back("Radio2"); }
    void Check1Click(TObject*) { clicks.push_back(FindControl<TCheckBox>("Check1")->Checked() ? "on" : "off"); }
    void Button1Click(TObject*) {
        clicks.push_back("Button1");
        if (throwMessage == "abort") throw EAbort("");
        if (!throwMessage.empty()) throw Exception(throwMessage);
    }
    void Button1MouseDown(TObject*, TMouseButton button, TShiftState shift, int x, int y) {
        clicks.push_back("down " + std::to_string(button) + " " + std::to_string(shift & ssLeft ? 1 : 0) + " " +
                         std::to_string(x) + "," + std::to_string(y));
    }
    void FormCreate(TObject*) { created = true; }

    std::vector<int> changes;
    std::vector<std::string> clicks;
    std::string throwMessage;
    bool created = false;
};

const char* kDemo = R"(object Demo: TDemoForm
  Left = 10
  Top = 20
  Caption = "Demo"
  ClientWidth = 300
  ClientHeight = 200
  Color = clSkyBlue
  BorderStyle = bsSingle
  BorderIcons = [biSystemMenu]
  FormStyle = fsStayOnTop
  Font.Name = "MS Sans Serif"
  Font.Height = -11
  object Panel1: TPanel
    Left = 0
    Top = 0
    Width = 150
    Height = 100
    Color = clMoneyGreen
    object Radio1: TRadioButton
      Left = 4
      Top = 4
      Width = 80
      Height = 17
      Caption = "Pencil"
      Checked = True
      OnClick = Radio1Click
    end
    object Radio2: TRadioButton
      Left = 4
      Top = 24
      Width = 80
      Height = 17
      Caption = "Pen"
      OnClick = Radio2Click
    end
  end
  object Radio3: TRadioButton
    Left = 160
    Top = 4
    Width = 80
    Height = 17
    Caption = "Elsewhere"
    Checked = True
  end
  object TrackBar1: TTrackBar
    Left = 8
    Top = 110
    Width = 150
    Height = 30
    Min = 1
    Max = 89
    Position = 65
    OnChange = TrackBar1Change
  end
  object Check1: TCheckBox
    Left = 160
    Top = 30
    Width = 80
    Height = 17
    Caption = "Smooth"
    OnClick = Check1Click
  end
  object Button1: TSpeedButton
    Left = 160
    Top = 60
    Width = 25
    Height = 21
    Hint = "Done"
    ShowHint = True
    OnClick = Button1Click
    OnMouseDown = Button1MouseDown
  end
  object Label1: TLabel
    Left = 160
    Top = 150
    Caption = "Pen && Ink"
  end
  object Memo1: TMemo
    Left = 200
    Top = 100
    Width = 90
    Height = 40
    Lines = ["Quillarc", "", "Version: 6.97"]
  end
  object ProgressBar1: TProgressBar
    Left = 0
    Top = 170
    Width = 300
    Height = 10
    Min = 0
    Max = 800
  end
  object StatusBar1: TStatusBar
    Align = alBottom
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
end
)";

class FormsLayer : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApp();
        auto scripted = std::make_unique<TScriptedDesktop>();
        desktop = scripted.get();
        previous = SetDesktop(std::move(scripted));
        form = std::make_unique<TDemoForm>();
        form->LoadFromText(kDemo, "Demo.form");
    }
    void TearDown() override {
        form.reset();
        SetDesktop(std::move(previous));
    }
    std::unique_ptr<TDemoForm> form;
    TScriptedDesktop* desktop = nullptr;
    std::unique_ptr<IDesktop> previous;
};

TEST_F(FormsLayer, BuildsControlsWithTheirProperties) {
    EXPECT_EQ(form->Caption(), "Demo");
    EXPECT_EQ(form->ClientWidth(), 300);
    EXPECT_EQ(form->ClientHeight(), 200);
    EXPECT_EQ(form->Color(), clSkyBlue);
    EXPECT_EQ(form->BorderIcons(), TBorderIcons(biSystemMenu));
    EXPECT_EQ(form->FormStyle(), fsStayOnTop);
    auto* radio2 = form->FindControl<TRadioButton>("Radio2");
    EXPECT_EQ(radio2->Left(), 4);
    EXPECT_EQ(radio2->Top(), 24);
    EXPECT_EQ(radio2->Caption(), "Pen");
    EXPECT_EQ(radio2->Parent(), form->FindControl<TPanel>("Panel1"));
    auto* button = form->FindControl<TSpeedButton>("Button1");
    EXPECT_EQ(button->Hint(), "Done");
    EXPECT_TRUE(button->ShowHint());
    auto* bar = form->FindControl<TTrackBar>("TrackBar1");
    // Max is set before Position, so 65 stays.
    EXPECT_EQ(bar->Min(), 1);
    EXPECT_EQ(bar->Max(), 89);
    EXPECT_EQ(bar->Position(), 65);
    EXPECT_EQ(form->FindControl<TMemo>("Memo1")->Lines(),
              (std::vector<std::string>{"Quillarc", "", "Version: 6.97"}));
    auto* status = form->FindControl<TStatusBar>("StatusBar1");
    ASSERT_EQ(status->PanelCount(), 2);
    EXPECT_EQ(status->Panel(0).Text, " Original");
    EXPECT_EQ(status->Panel(0).Width, 60);
    EXPECT_EQ(status->Panel(1).Text, "");
    EXPECT_EQ(status->Panel(1).Width, 317);
    EXPECT_EQ(status->Width(), 300);  // aligned to the bottom of the client area
    EXPECT_EQ(status->Top(), 200 - 19);
    // No event fires while the description is applied.
    EXPECT_TRUE(form->changes.empty());
    EXPECT_TRUE(form->clicks.empty());
}

TEST_F(FormsLayer, FindControlRefusesMissingNamesAndOtherClasses) {
    EXPECT_EQ(form->FindComponent("Nothing"), nullptr);
    EXPECT_THROW(form->FindControl<TTrackBar>("Nothing"), EFormError);
    EXPECT_THROW(form->FindControl<TTrackBar>("Check1"), EFormError);
}

TEST_F(FormsLayer, TrackBarChangeFiresOnProgrammaticSetOnlyWhenTheValueMoves) {
    auto* bar = form->FindControl<TTrackBar>("TrackBar1");
    bar->SetPosition(65);
    EXPECT_TRUE(form->changes.empty());
    bar->SetPosition(9);
    bar->SetPosition(200);  // clamped to Max
    bar->SetPosition(89);   // already there
    bar->SetPosition(-5);   // clamped to Min
    EXPECT_EQ(form->changes, (std::vector<int>{9, 89, 1}));
    // A range change that moves the position fires too.
    bar->SetPosition(50);
    form->changes.clear();
    bar->SetMax(40);
    EXPECT_EQ(bar->Position(), 40);
    EXPECT_EQ(form->changes, (std::vector<int>{40}));
}

TEST_F(FormsLayer, RadioButtonsAreExclusiveWithinTheirParentAndClickWhenChecked) {
    auto* r1 = form->FindControl<TRadioButton>("Radio1");
    auto* r2 = form->FindControl<TRadioButton>("Radio2");
    auto* r3 = form->FindControl<TRadioButton>("Radio3");
    EXPECT_TRUE(r1->Checked());
    EXPECT_TRUE(r3->Checked());  // another parent: its own group
    r2->SetChecked(true);
    EXPECT_FALSE(r1->Checked());
    EXPECT_TRUE(r2->Checked());
    EXPECT_TRUE(r3->Checked());
    r2->SetChecked(true);  // no change, no click
    r1->SetChecked(true);
    EXPECT_EQ(form->clicks, (std::vector<std::string>{"Radio2", "Radio1"}));
    EXPECT_FALSE(r2->Checked());
    // Unchecking fires nothing.
    form->clicks.clear();
    r1->SetChecked(false);
    EXPECT_TRUE(form->clicks.empty());
    EXPECT_FALSE(r1->Checked());
    EXPECT_FALSE(r2->Checked());
}

TEST_F(FormsLayer, CheckBoxClicksOnEveryChangeOfChecked) {
    auto* c = form->FindControl<TCheckBox>("Check1");
    c->SetChecked(false);
    EXPECT_TRUE(form->clicks.empty());
    c->SetChecked(true);
    c->SetChecked(true);
    c->SetChecked(false);
    EXPECT_EQ(form->clicks, (std::vector<std::string>{"on", "off"}));
}

TEST_F(FormsLayer, MouseAndClickEventsReachTheirHandlers) {
    auto* b = form->FindControl<TSpeedButton>("Button1");
    b->MouseDown(mbLeft, ssLeft | ssShift, 3, 4);
    b->Click();
    EXPECT_EQ(form->clicks, (std::vector<std::string>{"down 0 1 3,4", "Button1"}));
}

TEST_F(FormsLayer, AnEscapingExceptionIsShownAndTheProgramGoesOn) {
    form->throwMessage = "File not found";
    InvokeHandler([&] { form->FindControl<TSpeedButton>("Button1")->Click(); });
    ASSERT_EQ(desktop->messageBoxes.size(), 1u);
    EXPECT_EQ(desktop->messageBoxes[0].text, "File not found");
    // EAbort is silent.
    form->throwMessage = "abort";
    InvokeHandler([&] { form->FindControl<TSpeedButton>("Button1")->Click(); });
    EXPECT_EQ(desktop->messageBoxes.size(), 1u);
    EXPECT_EQ(form->clicks.size(), 2u);
}

TEST_F(FormsLayer, ProgressBarKeepsItsPositionInRange) {
    auto* p = form->FindControl<TProgressBar>("ProgressBar1");
    IProgressBar& sink = *p;
    sink.StepBy(1);
    sink.StepBy(1);
    EXPECT_EQ(p->Position(), 2);
    sink.SetPosition(5000);
    EXPECT_EQ(p->Position(), 800);
    sink.SetPosition(-3);
    EXPECT_EQ(p->Position(), 0);
}

TEST_F(FormsLayer, HiddenAndShownFormsKeepTheirControls) {
    form->Show();
    EXPECT_TRUE(form->Visible());
    form->Show();  // a visible form only comes to the front
    EXPECT_TRUE(form->Visible());
    form->Hide();
    EXPECT_FALSE(form->Visible());
    EXPECT_EQ(form->FindControl<TTrackBar>("TrackBar1")->Position(), 65);
}

// ------------------------------------------------------------ bad descriptions

std::string LoadError(const std::string& text) {
    EnsureApp();
    TDemoForm f;
    try {
        f.LoadFromText(text, "Bad.form");
    } catch (const EFormError& e) {
        return e.Message();
    }
    return "";
}

TEST(FormsLayerErrors, MessagesNameTheFileAndLine) {
    EXPECT_EQ(LoadError("object A: TDemoForm\n  object B: TNoSuchClass\n  end\nend\n").rfind("Bad.form(2)", 0), 0u);
    EXPECT_EQ(LoadError("object A: TDemoForm\n  Caption = \"x\"\n  NoSuchProperty = 1\nend\n").rfind("Bad.form(3)", 0), 0u);
    // An event naming a handler the form did not register.
    EXPECT_EQ(LoadError("object A: TDemoForm\n  OnShow = Missing\nend\n").rfind("Bad.form(2)", 0), 0u);
    // A handler of the wrong kind: a mouse handler on OnClick.
    EXPECT_EQ(LoadError("object A: TDemoForm\n  object B: TButton\n    OnClick = Button1MouseDown\n  end\nend\n")
                  .rfind("Bad.form(3)", 0),
              0u);
    // Duplicate names, values of the wrong kind, unterminated objects.
    EXPECT_NE(LoadError("object A: TDemoForm\n  object B: TPanel\n  end\n  object B: TPanel\n  end\nend\n"), "");
    EXPECT_NE(LoadError("object A: TDemoForm\n  Left = \"ten\"\nend\n"), "");
    EXPECT_NE(LoadError("object A: TDemoForm\n  Caption = \"open\nend\n"), "");
    EXPECT_NE(LoadError("object A: TDemoForm\n  object B: TPanel\n"), "");
    EXPECT_NE(LoadError(""), "");
}

TEST(FormsLayerErrors, HostileDescriptionsAreRefusedWithoutCrashing) {
    std::string deep = "object A: TDemoForm\n";
    for (int i = 0; i < 5000; ++i) deep += "object P" + std::to_string(i) + ": TPanel\n";
    EXPECT_NE(LoadError(deep), "");
    EXPECT_NE(LoadError("object A: TDemoForm\n  Left = 99999999999999999999\nend\n"), "");
}

TEST(FormsLayerColours, PlatformValues) {
    EXPECT_EQ(ColorToQRgb(clSkyBlue), 0xA6CAF0u);  // stored as 0x00F0CAA6, blue high
    EXPECT_EQ(ColorToQRgb(clMoneyGreen), 0xC0DCC0u);
    EXPECT_EQ(ColorToQRgb(clGray), 0x808080u);
    EXPECT_EQ(ColorToQRgb(clRed), 0xFF0000u);
    EXPECT_EQ(ColorToQRgb(clBtnFace), static_cast<uint32_t>(
                                          ((ColorToRGB(clBtnFace) & 0xFF) << 16) | (ColorToRGB(clBtnFace) & 0xFF00) |
                                          ((ColorToRGB(clBtnFace) >> 16) & 0xFF)));
    // The platform's bitmap font becomes a family the desktop has.
    EXPECT_NE(ResolveFontFamily("MS Sans Serif"), "MS Sans Serif");
    EXPECT_FALSE(ResolveFontFamily("MS Sans Serif").empty());
}

}  // namespace
