#include "standard/Standard_s.h"

#include "app/MainForm_s.h"
#include "app/SketchState.h"
#include "platform/core/Numeric.h"
#include "standard/StandardFilters.h"

TStandard* Standard = nullptr;

namespace {

std::string Percent(int32_t pos, int32_t divisor) {
    return IntToStr(num::Round32(static_cast<long double>(pos) * 100 / divisor));
}

}  // namespace

std::string StandardLabelText(const std::string& trackBar, int32_t pos, TRevision revision) {
    const bool current = revision == TRevision::Current;
    if (trackBar == "TrackBar1" || trackBar == "TrackBar2") return Percent(pos, 89);
    if (trackBar == "TrackBar3" || trackBar == "TrackBar7") return Percent(pos, 255);
    if (trackBar == "TrackBar8") return IntToStr(pos - 1);
    if (trackBar == "TrackBar9") return IntToStr(current ? pos : pos - 1);
    if (!current) return "";
    // The platform's general float format of extended-precision values;
    // TrackBar4's label is one hundredth per step although the detector
    // takes pos x 0.05 as its sigma.
    if (trackBar == "TrackBar4") return FloatToStr(static_cast<long double>(pos) * 0.01L - 0.01L);
    if (trackBar == "TrackBar5") return FloatToStr(static_cast<long double>(pos) * 0.05L);
    if (trackBar == "TrackBar6") return FloatToStr(static_cast<long double>(pos) * 0.025L);
    return "";
}

TRevision TStandard::ProgramRevision() {
#ifdef QUILLARC_EARLIER_REVISION
    return TRevision::Earlier;
#else
    return TRevision::Current;
#endif
}

const char* TStandard::DescriptionName(TRevision revision) {
    return revision == TRevision::Current ? "Standard" : "StandardEarlier";
}

TStandard::TStandard() : TStandard(ProgramRevision()) {}

TStandard::TStandard(TRevision revision) : revision_(revision) {
    using T = TStandard;
    RegisterHandler("SpeedButton1Click", &T::SpeedButton1Click);
    RegisterHandler("FormKeyDown", &T::FormKeyDown);
    RegisterHandler("TrackBar1Change", &T::TrackBar1Change);
    RegisterHandler("TrackBar2Change", &T::TrackBar2Change);
    RegisterHandler("TrackBar3Change", &T::TrackBar3Change);
    RegisterHandler("TrackBar7Change", &T::TrackBar7Change);
    RegisterHandler("TrackBar8Change", &T::TrackBar8Change);
    RegisterHandler("TrackBar9Change", &T::TrackBar9Change);
    if (revision_ == TRevision::Current) {
        RegisterHandler("TrackBar4Change", &T::TrackBar4Change);
        RegisterHandler("TrackBar5Change", &T::TrackBar5Change);
        RegisterHandler("TrackBar6Change", &T::TrackBar6Change);
        RegisterHandler("RadioButton7Click", &T::RadioButton7Click);
    }
    RegisterHandler("SpeedButton5Click", &T::SpeedButton5Click);
    RegisterHandler("SpeedButton2Click", &T::SpeedButton2Click);
    RegisterHandler("SpeedButton3Click", &T::SpeedButton3Click);
    RegisterHandler("SpeedButton4Click", &T::SpeedButton4Click);
}

TStandard::~TStandard() {
    if (&StandardProgressBar() == ProgressBar1) SetStandardProgressBar(nullptr);
    if (Standard == this) Standard = nullptr;
}

void TStandard::Loaded() {
#define QUILLARC_FIND(Class, Name) Name = FindControl<Class>(#Name)
    QUILLARC_FIND(TRadioButton, RadioButton1);
    QUILLARC_FIND(TRadioButton, RadioButton2);
    QUILLARC_FIND(TRadioButton, RadioButton3);
    QUILLARC_FIND(TRadioButton, RadioButton4);
    QUILLARC_FIND(TRadioButton, RadioButton5);
    QUILLARC_FIND(TRadioButton, RadioButton6);
    QUILLARC_FIND(TTrackBar, TrackBar1);
    QUILLARC_FIND(TTrackBar, TrackBar2);
    QUILLARC_FIND(TTrackBar, TrackBar3);
    QUILLARC_FIND(TTrackBar, TrackBar7);
    QUILLARC_FIND(TTrackBar, TrackBar8);
    QUILLARC_FIND(TTrackBar, TrackBar9);
    QUILLARC_FIND(TLabel, Label1);
    QUILLARC_FIND(TLabel, Label2);
    QUILLARC_FIND(TLabel, Label3);
    QUILLARC_FIND(TLabel, Label5);
    QUILLARC_FIND(TLabel, Label8);
    QUILLARC_FIND(TLabel, Label9);
    if (revision_ == TRevision::Current) {
        QUILLARC_FIND(TRadioButton, RadioButton7);
        QUILLARC_FIND(TTrackBar, TrackBar4);
        QUILLARC_FIND(TTrackBar, TrackBar5);
        QUILLARC_FIND(TTrackBar, TrackBar6);
        QUILLARC_FIND(TLabel, Label10);
        QUILLARC_FIND(TLabel, Label11);
        QUILLARC_FIND(TLabel, Label12);
    }
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
    SetStandardProgressBar(ProgressBar1);
}

TStandardSettings TStandard::Settings() const {
    TStandardSettings s = TStandardSettings::Defaults(revision_);
    const TRadioButton* styles[] = {RadioButton1, RadioButton2, RadioButton3, RadioButton4,
                                    RadioButton5, RadioButton6, RadioButton7};
    for (int32_t i = 0; i < 7; ++i) {
        if (styles[i] && styles[i]->Checked()) s.Style = i + 1;
    }
    s.TrackBar1 = TrackBar1->Position();
    s.TrackBar2 = TrackBar2->Position();
    s.TrackBar3 = TrackBar3->Position();
    s.TrackBar7 = TrackBar7->Position();
    s.TrackBar8 = TrackBar8->Position();
    s.TrackBar9 = TrackBar9->Position();
    if (revision_ == TRevision::Current) {
        s.TrackBar4 = TrackBar4->Position();
        s.TrackBar5 = TrackBar5->Position();
        s.TrackBar6 = TrackBar6->Position();
    }
    return s;
}

// "Done" and each batch item; the pipeline works out the crayon cell size
// itself, so a style selected by its radio button alone converts as well.
void TStandard::Convert() {
    if (!MainForm) return;
    TConversionProgress bar(1);  // its last step, back to 0, comes after the run
    TBusyScope busy;
    TBitmap32 result;
    RunStandard(Settings(), MainForm->SourceBitmap(), result);
    // The result moves into the pane, and the main window's copy shares it.
    MainForm->ResultBitmap().TakeOver(result);
    if (CurrentSketch) CurrentSketch->AssignShared(MainForm->ResultBitmap());
}

void TStandard::SpeedButton1Click(TObject*) { Convert(); }

void TStandard::batchconvert2() { Convert(); }

void TStandard::FormKeyDown(TObject*, uint16_t& Key, TShiftState) {
    if (Key == VK_ESCAPE) Close();
    else if (Key == VK_RETURN) SpeedButton1->Click();
    else return;
    Key = 0;
}

void TStandard::SliderMoved(const char* trackBar, const TTrackBar* bar, TLabel* label, TRadioButton* style) {
    label->SetCaption(StandardLabelText(trackBar, bar->Position(), revision_));
    if (revision_ == TRevision::Current) style->SetChecked(true);
}

void TStandard::TrackBar2Change(TObject*) { SliderMoved("TrackBar2", TrackBar2, Label1, RadioButton1); }
void TStandard::TrackBar3Change(TObject*) { SliderMoved("TrackBar3", TrackBar3, Label2, RadioButton2); }
void TStandard::TrackBar8Change(TObject*) { SliderMoved("TrackBar8", TrackBar8, Label3, RadioButton5); }
void TStandard::TrackBar1Change(TObject*) { SliderMoved("TrackBar1", TrackBar1, Label8, RadioButton3); }
void TStandard::TrackBar7Change(TObject*) { SliderMoved("TrackBar7", TrackBar7, Label9, RadioButton4); }

void TStandard::TrackBar9Change(TObject*) {
    Label5->SetCaption(StandardLabelText("TrackBar9", TrackBar9->Position(), revision_));
    if (revision_ != TRevision::Current) return;
    // A position of 0 cannot come from the slider (its range starts at 2).
    if (TrackBar9->Position() > 0) stdf::CrayonCellSize = num::Round32(256.0L / TrackBar9->Position());
    RadioButton6->SetChecked(true);
}

// Selecting "Pen && Ink" resets its three sliders, so the first move of one
// of them while another style is selected jumps back to the defaults.
void TStandard::TrackBar4Change(TObject*) { SliderMoved("TrackBar4", TrackBar4, Label10, RadioButton7); }
void TStandard::TrackBar5Change(TObject*) { SliderMoved("TrackBar5", TrackBar5, Label11, RadioButton7); }
void TStandard::TrackBar6Change(TObject*) { SliderMoved("TrackBar6", TrackBar6, Label12, RadioButton7); }

void TStandard::RadioButton7Click(TObject*) {
    TrackBar4->SetPosition(10);
    TrackBar5->SetPosition(18);
    TrackBar6->SetPosition(30);
    Label10->SetCaption("0.09");
    Label11->SetCaption("0.9");
    Label12->SetCaption("0.75");
}

void TStandard::SpeedButton5Click(TObject*) {
    SetHeight(Height() == kExpandedHeight ? kCollapsedHeight : kExpandedHeight);
}

// The batch panel: input and output folders, and "Convert".
void TStandard::SpeedButton2Click(TObject*) {
    MainForm->OpenDir();
    Edit1->SetText(InputDir);
}

void TStandard::SpeedButton3Click(TObject*) {
    MainForm->OpenDir2();
    Edit2->SetText(OutputDir);
}

void TStandard::SpeedButton4Click(TObject*) {
    MainForm->BatchConvert(Edit1->Text(), Edit2->Text(), [this] { batchconvert2(); });
    ProgressBar1->SetPosition(0);  // also when the last item was skipped
}
