// The print layout dialog: places the result picture on an A4 page in
// whole millimetres and prints it. The placement arithmetic lives in
// TPrintLayout; this class moves it to and from the controls.
#pragma once

#include "platform/forms/Forms.h"
#include "print/PrintLayout.h"

class TPrint_Setup : public TForm {
public:
    TPrint_Setup();
    const char* ClassName() const override { return "TPrint_Setup"; }

    void FormShow(TObject* sender);
    void SpeedButton1Click(TObject* sender);
    void Edit1KeyUp(TObject* sender, uint16_t& key, TShiftState shift);
    void Edit2KeyUp(TObject* sender, uint16_t& key, TShiftState shift);
    void Edit3KeyUp(TObject* sender, uint16_t& key, TShiftState shift);
    void Edit4KeyUp(TObject* sender, uint16_t& key, TShiftState shift);
    void CheckBox1Click(TObject* sender);
    void SpeedButton2Click(TObject* sender);
    void SpeedButton5Click(TObject* sender);
    void SpeedButton6Click(TObject* sender);
    void SpeedButton7Click(TObject* sender);
    void SpeedButton8Click(TObject* sender);
    void SpeedButton3Click(TObject* sender);
    void SpeedButton4Click(TObject* sender);
    void SpeedButton2MouseDown(TObject* sender, TMouseButton button, TShiftState shift, int x, int y);
    void SpeedButton5MouseDown(TObject* sender, TMouseButton button, TShiftState shift, int x, int y);
    void SpeedButton6MouseDown(TObject* sender, TMouseButton button, TShiftState shift, int x, int y);
    void SpeedButton7MouseDown(TObject* sender, TMouseButton button, TShiftState shift, int x, int y);
    void SpeedButton3MouseDown(TObject* sender, TMouseButton button, TShiftState shift, int x, int y);
    void SpeedButton4MouseDown(TObject* sender, TMouseButton button, TShiftState shift, int x, int y);
    // Releasing any of them stops the auto-repeat.
    void SpeedButton2MouseUp(TObject*, TMouseButton, TShiftState, int, int) { StopRepeat(); }
    void SpeedButton5MouseUp(TObject*, TMouseButton, TShiftState, int, int) { StopRepeat(); }
    void SpeedButton6MouseUp(TObject*, TMouseButton, TShiftState, int, int) { StopRepeat(); }
    void SpeedButton7MouseUp(TObject*, TMouseButton, TShiftState, int, int) { StopRepeat(); }
    void SpeedButton3MouseUp(TObject*, TMouseButton, TShiftState, int, int) { StopRepeat(); }
    void SpeedButton4MouseUp(TObject*, TMouseButton, TShiftState, int, int) { StopRepeat(); }
    void Timer1Timer(TObject* sender);

    TPanel* Panel1 = nullptr;
    TImage* Image1 = nullptr;
    TEdit* Edit1 = nullptr;
    TEdit* Edit2 = nullptr;
    TEdit* Edit3 = nullptr;
    TEdit* Edit4 = nullptr;
    TCheckBox* CheckBox1 = nullptr;
    TSpeedButton* SpeedButton1 = nullptr;
    TTimer* Timer1 = nullptr;

    const TPrintLayout& Layout() const { return layout_; }

protected:
    void Loaded() override;

private:
    // The main window's result pane, and its picture's size.
    static TImage& ResultImage();
    static int32_t PictureWidth();
    static int32_t PictureHeight();
    // The edits' texts into the layout, and the layout back onto the
    // controls (edits, preview bounds, enabled states).
    void Pull();
    void Push();
    void Step(int32_t mode);
    void ArmRepeat(int32_t mode);
    void StopRepeat();

    TPrintLayout layout_;
};

extern TPrint_Setup* Print_Setup;
