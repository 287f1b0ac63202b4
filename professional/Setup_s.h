// The "Professional" dialog: a pencil or pen sketch layer over a colour
// base with the ticked effects. Its controls are read into the settings
// value of the Professional pipeline, which does the pixel work.
#pragma once

#include <cstdint>
#include <string>

#include "platform/forms/Forms.h"
#include "professional/ProfessionalPipeline.h"

// The text of a slider's value label ("TrackBar1" .. "TrackBar9"); "" for
// a name without a label.
std::string ProfessionalLabelText(const std::string& trackBar, int32_t pos);

class TSetup_For_Color_Sketch : public TForm {
public:
    // Outer heights of the window without and with the batch panel.
    static constexpr int kCollapsedHeight = 418;
    static constexpr int kExpandedHeight = 546;

    TSetup_For_Color_Sketch();
    ~TSetup_For_Color_Sketch() override;

    TGroupBox* GroupBox1 = nullptr;  // "Artistic"
    TGroupBox* GroupBox2 = nullptr;  // "HSL Adjust"
    TGroupBox* GroupBox3 = nullptr;  // "Sketch"
    TCheckBox* CheckBox1 = nullptr;  // "Sketch" "Enable"
    TCheckBox* CheckBox2 = nullptr;  // "Exposure"
    TCheckBox* CheckBox3 = nullptr;  // "Blur"
    TCheckBox* CheckBox4 = nullptr;  // "Oil painting"
    TCheckBox* CheckBox5 = nullptr;  // "Artistic" "Enable"
    TCheckBox* CheckBox6 = nullptr;  // "HSL Adjust" "Enable"
    TCheckBox* CheckBox7 = nullptr;  // "Smooth"
    TCheckBox* CheckBox8 = nullptr;  // "Crayon"
    TRadioButton* RadioButton1 = nullptr;  // "Realism"
    TRadioButton* RadioButton2 = nullptr;  // "Pop art"
    TRadioButton* RadioButton3 = nullptr;  // "Abstract"
    TRadioButton* RadioButton4 = nullptr;  // "Pencil"
    TRadioButton* RadioButton5 = nullptr;  // "Pen"
    TTrackBar* TrackBar1 = nullptr;
    TTrackBar* TrackBar2 = nullptr;
    TTrackBar* TrackBar3 = nullptr;
    TTrackBar* TrackBar4 = nullptr;
    TTrackBar* TrackBar5 = nullptr;
    TTrackBar* TrackBar6 = nullptr;
    TTrackBar* TrackBar7 = nullptr;
    TTrackBar* TrackBar8 = nullptr;
    TTrackBar* TrackBar9 = nullptr;
    TLabel* Label1 = nullptr;  // "Hue"
    TLabel* Label2 = nullptr;  // "Saturation"
    TLabel* Label3 = nullptr;  // "Lighting"
    TLabel* Label5 = nullptr;
    TLabel* Label8 = nullptr;
    TLabel* Label9 = nullptr;
    TLabel* Label10 = nullptr;
    TLabel* Label11 = nullptr;
    TLabel* Label12 = nullptr;
    TLabel* Label13 = nullptr;
    TLabel* Label14 = nullptr;
    TLabel* Label15 = nullptr;
    TSpeedButton* SpeedButton1 = nullptr;  // "Done"
    TSpeedButton* SpeedButton5 = nullptr;  // "Batch Convert"
    TProgressBar* ProgressBar1 = nullptr;
    // The batch panel.
    TPanel* Panel2 = nullptr;
    TEdit* Edit1 = nullptr;
    TEdit* Edit2 = nullptr;
    TSpeedButton* SpeedButton2 = nullptr;
    TSpeedButton* SpeedButton3 = nullptr;
    TSpeedButton* SpeedButton4 = nullptr;

    void SpeedButton1Click(TObject* sender);
    void batchconvert();
    // Escape closes the dialog, Return presses "Done".
    void FormKeyDown(TObject* sender, uint16_t& Key, TShiftState Shift);

    void CheckBox1Click(TObject* sender);
    void RadioButton4Click(TObject* sender);
    void RadioButton5Click(TObject* sender);
    void CheckBox8Click(TObject* sender);
    void CheckBox2Click(TObject* sender);
    void CheckBox3Click(TObject* sender);
    void CheckBox4Click(TObject* sender);
    void CheckBox5Click(TObject* sender);
    void CheckBox6Click(TObject* sender);

    void TrackBar1Change(TObject* sender);
    void TrackBar7Change(TObject* sender);
    void TrackBar9Change(TObject* sender);
    void TrackBar2Change(TObject* sender);
    void TrackBar6Change(TObject* sender);
    void TrackBar8Change(TObject* sender);
    void TrackBar3Change(TObject* sender);
    void TrackBar4Change(TObject* sender);
    void TrackBar5Change(TObject* sender);

    void SpeedButton5Click(TObject* sender);
    // The batch panel's buttons.
    void SpeedButton2Click(TObject* sender);
    void SpeedButton3Click(TObject* sender);
    void SpeedButton4Click(TObject* sender);

    // The controls as the pipeline takes them.
    TProfessionalSettings Settings() const;

protected:
    void Loaded() override;

private:
    void Convert();
    void ShowValue(TLabel* label, const char* trackBar, const TTrackBar* bar);
};

extern TSetup_For_Color_Sketch* Setup_For_Color_Sketch;
