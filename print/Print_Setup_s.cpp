#include "print/Print_Setup_s.h"

#include <algorithm>

TPrint_Setup* Print_Setup = nullptr;

namespace {

// The preview shows at most this far off the page: typed sizes can be any
// 32-bit value, which the window system's geometry cannot hold.
constexpr int32_t kPreviewLimit = 100000;

int32_t PreviewCoord(int32_t v) { return std::clamp(v, -kPreviewLimit, kPreviewLimit); }
int32_t PreviewExtent(int32_t v) { return std::clamp(v, 0, kPreviewLimit); }

}  // namespace

TPrint_Setup::TPrint_Setup() {
    RegisterHandler("FormShow", &TPrint_Setup::FormShow);
    RegisterHandler("SpeedButton1Click", &TPrint_Setup::SpeedButton1Click);
    RegisterHandler("Edit1KeyUp", &TPrint_Setup::Edit1KeyUp);
    RegisterHandler("Edit2KeyUp", &TPrint_Setup::Edit2KeyUp);
    RegisterHandler("Edit3KeyUp", &TPrint_Setup::Edit3KeyUp);
    RegisterHandler("Edit4KeyUp", &TPrint_Setup::Edit4KeyUp);
    RegisterHandler("CheckBox1Click", &TPrint_Setup::CheckBox1Click);
    RegisterHandler("SpeedButton2Click", &TPrint_Setup::SpeedButton2Click);
    RegisterHandler("SpeedButton5Click", &TPrint_Setup::SpeedButton5Click);
    RegisterHandler("SpeedButton6Click", &TPrint_Setup::SpeedButton6Click);
    RegisterHandler("SpeedButton7Click", &TPrint_Setup::SpeedButton7Click);
    RegisterHandler("SpeedButton8Click", &TPrint_Setup::SpeedButton8Click);
    RegisterHandler("SpeedButton3Click", &TPrint_Setup::SpeedButton3Click);
    RegisterHandler("SpeedButton4Click", &TPrint_Setup::SpeedButton4Click);
    RegisterHandler("SpeedButton2MouseDown", &TPrint_Setup::SpeedButton2MouseDown);
    RegisterHandler("SpeedButton5MouseDown", &TPrint_Setup::SpeedButton5MouseDown);
    RegisterHandler("SpeedButton6MouseDown", &TPrint_Setup::SpeedButton6MouseDown);
    RegisterHandler("SpeedButton7MouseDown", &TPrint_Setup::SpeedButton7MouseDown);
    RegisterHandler("SpeedButton3MouseDown", &TPrint_Setup::SpeedButton3MouseDown);
    RegisterHandler("SpeedButton4MouseDown", &TPrint_Setup::SpeedButton4MouseDown);
    RegisterHandler("SpeedButton2MouseUp", &TPrint_Setup::SpeedButton2MouseUp);
    RegisterHandler("SpeedButton5MouseUp", &TPrint_Setup::SpeedButton5MouseUp);
    RegisterHandler("SpeedButton6MouseUp", &TPrint_Setup::SpeedButton6MouseUp);
    RegisterHandler("SpeedButton7MouseUp", &TPrint_Setup::SpeedButton7MouseUp);
    RegisterHandler("SpeedButton3MouseUp", &TPrint_Setup::SpeedButton3MouseUp);
    RegisterHandler("SpeedButton4MouseUp", &TPrint_Setup::SpeedButton4MouseUp);
    RegisterHandler("Timer1Timer", &TPrint_Setup::Timer1Timer);
}

void TPrint_Setup::Loaded() {
    Panel1 = FindControl<TPanel>("Panel1");
    Image1 = FindControl<TImage>("Image1");
    Edit1 = FindControl<TEdit>("Edit1");
    Edit2 = FindControl<TEdit>("Edit2");
    Edit3 = FindControl<TEdit>("Edit3");
    Edit4 = FindControl<TEdit>("Edit4");
    CheckBox1 = FindControl<TCheckBox>("CheckBox1");
    SpeedButton1 = FindControl<TSpeedButton>("SpeedButton1");
    Timer1 = FindComponentAs<TTimer>("Timer1");
}

TImage& TPrint_Setup::ResultImage() {
    return *Application->MainForm()->FindControl<TImage>("Image2");
}
int32_t TPrint_Setup::PictureWidth() { return ResultImage().Picture().Width(); }
int32_t TPrint_Setup::PictureHeight() { return ResultImage().Picture().Height(); }

void TPrint_Setup::Pull() {
    layout_.Edit1 = Edit1->Text();
    layout_.Edit2 = Edit2->Text();
    layout_.Edit3 = Edit3->Text();
    layout_.Edit4 = Edit4->Text();
    layout_.Fit = CheckBox1->Checked();
}

void TPrint_Setup::Push() {
    // Only changed texts are written, so the edit being typed in keeps its
    // cursor.
    const std::pair<TEdit*, const std::string*> edits[] = {
        {Edit1, &layout_.Edit1}, {Edit2, &layout_.Edit2}, {Edit3, &layout_.Edit3}, {Edit4, &layout_.Edit4}};
    for (const auto& [edit, text] : edits)
        if (edit->Text() != *text) edit->SetText(*text);
    const TPlacement& p = layout_.Image;
    Image1->SetBounds(PreviewCoord(p.Left), PreviewCoord(p.Top), PreviewExtent(p.Width), PreviewExtent(p.Height));

    const bool enabled = layout_.ControlsEnabled();
    for (TEdit* edit : {Edit1, Edit2, Edit3, Edit4}) edit->SetEnabled(enabled);
    for (const char* name : {"SpeedButton2", "SpeedButton3", "SpeedButton4", "SpeedButton5", "SpeedButton6",
                             "SpeedButton7", "SpeedButton8"})
        FindControl<TSpeedButton>(name)->SetEnabled(enabled);
}

void TPrint_Setup::FormShow(TObject*) {
    layout_.Show(PictureWidth(), PictureHeight());
    Image1->Picture().Assign(&ResultImage().Picture());
    Push();
    // Unticking runs CheckBox1Click, which places the preview from the
    // edits again and enables the controls.
    CheckBox1->SetChecked(false);
    layout_.RepeatMode = rmNone;
}

void TPrint_Setup::SpeedButton1Click(TObject*) {
    Pull();
    if (layout_.InvalidEdit() != 0) {
        ShowMessage(kInvalidIntegerText);
        return;
    }
    auto* dialog = Application->MainForm()->FindComponentAs<TPrintDialog>("PrintDialog1");
    if (!dialog->Execute()) return;
    const TRect rect = layout_.PrintRectangle();  // a false integer raises here

    TGraphic* graphic = ResultImage().Picture().Graphic();
    TPrinter& printer = Printer();
    printer.BeginDoc();
    try {
        // The rectangle is in dots of 14.4 per millimetre from the paper's
        // corner; the printer maps it onto its own resolution, so the
        // picture lands where the preview shows it on any device.
        if (graphic) printer.StretchDrawAtScale(rect, kMillimetresToDots, *graphic);
    } catch (...) {
        printer.Abort();
        throw;
    }
    printer.EndDoc();
}

void TPrint_Setup::Edit1KeyUp(TObject*, uint16_t&, TShiftState) {
    Pull();
    layout_.Edit1KeyUp();
    Push();
}

void TPrint_Setup::Edit2KeyUp(TObject*, uint16_t&, TShiftState) {
    Pull();
    layout_.Edit2KeyUp();
    Push();
}

void TPrint_Setup::Edit3KeyUp(TObject*, uint16_t&, TShiftState) {
    Pull();
    layout_.Edit3KeyUp(PictureWidth(), PictureHeight());
    Push();
}

void TPrint_Setup::Edit4KeyUp(TObject*, uint16_t&, TShiftState) {
    Pull();
    layout_.Edit4KeyUp(PictureWidth(), PictureHeight());
    Push();
}

void TPrint_Setup::CheckBox1Click(TObject*) {
    Pull();
    layout_.SetFit(CheckBox1->Checked(), PictureWidth(), PictureHeight());
    Push();
}

void TPrint_Setup::Step(int32_t mode) {
    Pull();
    layout_.Step(mode, PictureWidth(), PictureHeight());
    Push();
}

void TPrint_Setup::SpeedButton2Click(TObject*) { Step(rmUp); }
void TPrint_Setup::SpeedButton5Click(TObject*) { Step(rmDown); }
void TPrint_Setup::SpeedButton6Click(TObject*) { Step(rmLeft); }
void TPrint_Setup::SpeedButton7Click(TObject*) { Step(rmRight); }
void TPrint_Setup::SpeedButton3Click(TObject*) { Step(rmGrow); }
void TPrint_Setup::SpeedButton4Click(TObject*) { Step(rmShrink); }

void TPrint_Setup::SpeedButton8Click(TObject*) {
    Pull();
    layout_.Centre();
    Push();
}

void TPrint_Setup::ArmRepeat(int32_t mode) {
    layout_.RepeatMode = mode;
    Timer1->SetEnabled(true);
}

void TPrint_Setup::StopRepeat() { Timer1->SetEnabled(false); }

void TPrint_Setup::SpeedButton2MouseDown(TObject*, TMouseButton, TShiftState, int, int) { ArmRepeat(rmUp); }
void TPrint_Setup::SpeedButton5MouseDown(TObject*, TMouseButton, TShiftState, int, int) { ArmRepeat(rmDown); }
void TPrint_Setup::SpeedButton6MouseDown(TObject*, TMouseButton, TShiftState, int, int) { ArmRepeat(rmLeft); }
void TPrint_Setup::SpeedButton7MouseDown(TObject*, TMouseButton, TShiftState, int, int) { ArmRepeat(rmRight); }
void TPrint_Setup::SpeedButton3MouseDown(TObject*, TMouseButton, TShiftState, int, int) { ArmRepeat(rmGrow); }
void TPrint_Setup::SpeedButton4MouseDown(TObject*, TMouseButton, TShiftState, int, int) { ArmRepeat(rmShrink); }

void TPrint_Setup::Timer1Timer(TObject*) {
    if (layout_.RepeatMode == rmNone) return;
    try {
        Step(layout_.RepeatMode);
    } catch (...) {
        // A text that is no integer would raise again on every tick, 20
        // message boxes a second while the button is held (and for ever if
        // the release goes to the message box): the repeat stops first.
        StopRepeat();
        throw;
    }
}
