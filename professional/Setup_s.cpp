#include "professional/Setup_s.h"

#include "app/MainForm_s.h"
#include "app/SketchState.h"
#include "platform/core/Numeric.h"

TSetup_For_Color_Sketch* Setup_For_Color_Sketch = nullptr;

namespace {

// round(pos x scale / divisor), the real quotient rounded with ties to even.
std::string Percent(int32_t pos, int32_t scale, int32_t divisor) {
    return IntToStr(num::Round32(static_cast<long double>(pos) * scale / divisor));
}

}  // namespace

std::string ProfessionalLabelText(const std::string& trackBar, int32_t pos) {
    if (trackBar == "TrackBar1") return Percent(pos, 100, 89);
    if (trackBar == "TrackBar7" || trackBar == "TrackBar2") return Percent(pos, 100, 255);
    if (trackBar == "TrackBar9" || trackBar == "TrackBar8") return IntToStr(pos - 1);
    if (trackBar == "TrackBar6") return IntToStr(pos);
    if (trackBar == "TrackBar3") return Percent(pos, 100, 360);
    if (trackBar == "TrackBar4" || trackBar == "TrackBar5") return Percent(pos, 1, 2);
    return "";
}

TSetup_For_Color_Sketch::TSetup_For_Color_Sketch() {
    using T = TSetup_For_Color_Sketch;
    RegisterHandler("SpeedButton1Click", &T::SpeedButton1Click);
    RegisterHandler("FormKeyDown", &T::FormKeyDown);
    RegisterHandler("CheckBox1Click", &T::CheckBox1Click);
    RegisterHandler("RadioButton4Click", &T::RadioButton4Click);
    RegisterHandler("RadioButton5Click", &T::RadioButton5Click);
    RegisterHandler("CheckBox8Click", &T::CheckBox8Click);
    RegisterHandler("CheckBox2Click", &T::CheckBox2Click);
    RegisterHandler("CheckBox3Click", &T::CheckBox3Click);
    RegisterHandler("CheckBox4Click", &T::CheckBox4Click);
    RegisterHandler("CheckBox5Click", &T::CheckBox5Click);
    RegisterHandler("CheckBox6Click", &T::CheckBox6Click);
    RegisterHandler("TrackBar1Change", &T::TrackBar1Change);
    RegisterHandler("TrackBar7Change", &T::TrackBar7Change);
    RegisterHandler("TrackBar9Change", &T::TrackBar9Change);
    RegisterHandler("TrackBar2Change", &T::TrackBar2Change);
    RegisterHandler("TrackBar6Change", &T::TrackBar6Change);
    RegisterHandler("TrackBar8Change", &T::TrackBar8Change);
    RegisterHandler("TrackBar3Change", &T::TrackBar3Change);
    RegisterHandler("TrackBar4Change", &T::TrackBar4Change);
    RegisterHandler("TrackBar5Change", &T::TrackBar5Change);
    RegisterHandler("SpeedButton5Click", &T::SpeedButton5Click);
    RegisterHandler("SpeedButton2Click", &T::SpeedButton2Click);
    RegisterHandler("SpeedButton3Click", &T::SpeedButton3Click);
    RegisterHandler("SpeedButton4Click", &T::SpeedButton4Click);
}

TSetup_For_Color_Sketch::~TSetup_For_Color_Sketch() {
    if (&ProfessionalProgressBar() == ProgressBar1) SetProfessionalProgressBar(nullptr);
    if (Setup_For_Color_Sketch == this) Setup_For_Color_Sketch = nullptr;
}

void TSetup_For_Color_Sketch::Loaded() {
#define QUILLARC_FIND(Class, Name) Name = FindControl<Class>(#Name)
    QUILLARC_FIND(TGroupBox, GroupBox1);
    QUILLARC_FIND(TGroupBox, GroupBox2);
    QUILLARC_FIND(TGroupBox, GroupBox3);
    QUILLARC_FIND(TCheckBox, CheckBox1);
    QUILLARC_FIND(TCheckBox, CheckBox2);
    QUILLARC_FIND(TCheckBox, CheckBox3);
    QUILLARC_FIND(TCheckBox, CheckBox4);
    QUILLARC_FIND(TCheckBox, CheckBox5);
    QUILLARC_FIND(TCheckBox, CheckBox6);
    QUILLARC_FIND(TCheckBox, CheckBox7);
    QUILLARC_FIND(TCheckBox, CheckBox8);
    QUILLARC_FIND(TRadioButton, RadioButton1);
    QUILLARC_FIND(TRadioButton, RadioButton2);
    QUILLARC_FIND(TRadioButton, RadioButton3);
    QUILLARC_FIND(TRadioButton, RadioButton4);
    QUILLARC_FIND(TRadioButton, RadioButton5);
    QUILLARC_FIND(TTrackBar, TrackBar1);
    QUILLARC_FIND(TTrackBar, TrackBar2);
    QUILLARC_FIND(TTrackBar, TrackBar3);
    QUILLARC_FIND(TTrackBar, TrackBar4);
    QUILLARC_FIND(TTrackBar, TrackBar5);
    QUILLARC_FIND(TTrackBar, TrackBar6);
    QUILLARC_FIND(TTrackBar, TrackBar7);
    QUILLARC_FIND(TTrackBar, TrackBar8);
    QUILLARC_FIND(TTrackBar, TrackBar9);
    QUILLARC_FIND(TLabel, Label1);
    QUILLARC_FIND(TLabel, Label2);
    QUILLARC_FIND(TLabel, Label3);
    QUILLARC_FIND(TLabel, Label5);
    QUILLARC_FIND(TLabel, Label8);
    QUILLARC_FIND(TLabel, Label9);
    QUILLARC_FIND(TLabel, Label10);
    QUILLARC_FIND(TLabel, Label11);
    QUILLARC_FIND(TLabel, Label12);
    QUILLARC_FIND(TLabel, Label13);
    QUILLARC_FIND(TLabel, Label14);
    QUILLARC_FIND(TLabel, Label15);
    QUILLARC_FIND(TSpeedButton, SpeedButton1);
    QUILLARC_FIND(TSpeedButton, SpeedButton2);
    QUILLARC_FIND(TSpeedButton, SpeedButton3);
    QUILLARC_FIND(TSpeedButton, SpeedButton4);
    QUILLARC_FIND(TSpeedButton, SpeedButton5);
    QUILLARC_FIND(TProgressBar, ProgressBar1);
    QUILLARC_FIND(TPanel, Panel2);
    QUILLARC_FIND(TEdit, Edit1);
    QUILLARC_FIND(TEdit, Edit2);
#undef QUILLARC_FIND
    SetProfessionalProgressBar(ProgressBar1);
}

TProfessionalSettings TSetup_For_Color_Sketch::Settings() const {
    TProfessionalSettings s;
    s.CheckBox1 = CheckBox1->Checked();
    s.CheckBox2 = CheckBox2->Checked();
    s.CheckBox3 = CheckBox3->Checked();
    s.CheckBox4 = CheckBox4->Checked();
    s.CheckBox5 = CheckBox5->Checked();
    s.CheckBox6 = CheckBox6->Checked();
    s.CheckBox7 = CheckBox7->Checked();
    s.CheckBox8 = CheckBox8->Checked();
    s.CheckBox7Enabled = CheckBox7->Enabled();
    s.Artistic = RadioButton1->Checked() ? 1 : (RadioButton2->Checked() ? 2 : 3);
    s.Pencil = RadioButton4->Checked();
    s.TrackBar1 = TrackBar1->Position();
    s.TrackBar2 = TrackBar2->Position();
    s.TrackBar3 = TrackBar3->Position();
    s.TrackBar4 = TrackBar4->Position();
    s.TrackBar5 = TrackBar5->Position();
    s.TrackBar6 = TrackBar6->Position();
    s.TrackBar7 = TrackBar7->Position();
    s.TrackBar8 = TrackBar8->Position();
    s.TrackBar9 = TrackBar9->Position();
    return s;
}

// "Done" and each batch item: the left pane's picture through the pipeline
// into the right pane and CurrentSketch.
void TSetup_For_Color_Sketch::Convert() {
    if (!MainForm) return;
    TConversionProgress bar(2);  // its last step, back to 0, comes after the run
    TBusyScope busy;
    TBitmap32 result;
    RunProfessional(Settings(), MainForm->SourceBitmap(), result);
    // The result moves into the pane, and the main window's copy shares it.
    MainForm->ResultBitmap().TakeOver(result);
    if (CurrentSketch) CurrentSketch->AssignShared(MainForm->ResultBitmap());
}

void TSetup_For_Color_Sketch::SpeedButton1Click(TObject*) { Convert(); }

void TSetup_For_Color_Sketch::batchconvert() { Convert(); }

void TSetup_For_Color_Sketch::FormKeyDown(TObject*, uint16_t& Key, TShiftState) {
    if (Key == VK_ESCAPE) Close();
    else if (Key == VK_RETURN) SpeedButton1->Click();
    else return;
    Key = 0;
}

void TSetup_For_Color_Sketch::CheckBox1Click(TObject*) {
    // Both sliders follow the tick, whichever of "Pencil" and "Pen" is
    // selected, until one of them is clicked again.
    const bool on = CheckBox1->Checked();
    RadioButton4->SetEnabled(on);
    RadioButton5->SetEnabled(on);
    TrackBar1->SetEnabled(on);
    TrackBar7->SetEnabled(on);
    CheckBox7->SetEnabled(on);
}

void TSetup_For_Color_Sketch::RadioButton4Click(TObject*) {
    TrackBar1->SetEnabled(true);
    TrackBar7->SetEnabled(false);
}

void TSetup_For_Color_Sketch::RadioButton5Click(TObject*) {
    TrackBar7->SetEnabled(true);
    TrackBar1->SetEnabled(false);
}

void TSetup_For_Color_Sketch::CheckBox8Click(TObject*) { TrackBar9->SetEnabled(CheckBox8->Checked()); }
void TSetup_For_Color_Sketch::CheckBox2Click(TObject*) { TrackBar2->SetEnabled(CheckBox2->Checked()); }
void TSetup_For_Color_Sketch::CheckBox3Click(TObject*) { TrackBar6->SetEnabled(CheckBox3->Checked()); }
void TSetup_For_Color_Sketch::CheckBox4Click(TObject*) { TrackBar8->SetEnabled(CheckBox4->Checked()); }

void TSetup_For_Color_Sketch::CheckBox5Click(TObject*) {
    const bool on = CheckBox5->Checked();
    RadioButton1->SetEnabled(on);
    RadioButton2->SetEnabled(on);
    RadioButton3->SetEnabled(on);
}

void TSetup_For_Color_Sketch::CheckBox6Click(TObject*) {
    const bool on = CheckBox6->Checked();
    TrackBar3->SetEnabled(on);
    TrackBar4->SetEnabled(on);
    TrackBar5->SetEnabled(on);
    const TColor caption = on ? clWindowText : clGray;
    Label1->Font().SetColor(caption);
    Label2->Font().SetColor(caption);
    Label3->Font().SetColor(caption);
}

void TSetup_For_Color_Sketch::ShowValue(TLabel* label, const char* trackBar, const TTrackBar* bar) {
    label->SetCaption(ProfessionalLabelText(trackBar, bar->Position()));
}

void TSetup_For_Color_Sketch::TrackBar1Change(TObject*) { ShowValue(Label5, "TrackBar1", TrackBar1); }
void TSetup_For_Color_Sketch::TrackBar7Change(TObject*) { ShowValue(Label8, "TrackBar7", TrackBar7); }
void TSetup_For_Color_Sketch::TrackBar9Change(TObject*) { ShowValue(Label9, "TrackBar9", TrackBar9); }
void TSetup_For_Color_Sketch::TrackBar2Change(TObject*) { ShowValue(Label10, "TrackBar2", TrackBar2); }
void TSetup_For_Color_Sketch::TrackBar6Change(TObject*) { ShowValue(Label11, "TrackBar6", TrackBar6); }
void TSetup_For_Color_Sketch::TrackBar8Change(TObject*) { ShowValue(Label12, "TrackBar8", TrackBar8); }
void TSetup_For_Color_Sketch::TrackBar3Change(TObject*) { ShowValue(Label13, "TrackBar3", TrackBar3); }
void TSetup_For_Color_Sketch::TrackBar4Change(TObject*) { ShowValue(Label14, "TrackBar4", TrackBar4); }
void TSetup_For_Color_Sketch::TrackBar5Change(TObject*) { ShowValue(Label15, "TrackBar5", TrackBar5); }

void TSetup_For_Color_Sketch::SpeedButton5Click(TObject*) {
    SetHeight(Height() == kExpandedHeight ? kCollapsedHeight : kExpandedHeight);
}

// The batch panel: input and output folders, and "Convert".
void TSetup_For_Color_Sketch::SpeedButton2Click(TObject*) {
    MainForm->OpenDir();
    Edit1->SetText(InputDir);
}

void TSetup_For_Color_Sketch::SpeedButton3Click(TObject*) {
    MainForm->OpenDir2();
    Edit2->SetText(OutputDir);
}

void TSetup_For_Color_Sketch::SpeedButton4Click(TObject*) {
    MainForm->BatchConvert(Edit1->Text(), Edit2->Text(), [this] { batchconvert(); });
    ProgressBar1->SetPosition(0);  // also when the last item was skipped
}
