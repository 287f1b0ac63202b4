// The "Standard" dialog: seven preset styles, one at a time, each with its
// own slider. Its controls are read into the settings value of the Standard
// pipeline, which does the pixel work.
//
// QUILLARC_EARLIER_REVISION builds the earlier revision's dialog: no
// "Pen && Ink", the posterising "Crayon" (slider 1..26), and sliders that
// only rewrite their labels.
#pragma once

#include <cstdint>
#include <string>

#include "platform/forms/Forms.h"
#include "standard/StandardPipeline.h"

// The text of a slider's value label ("TrackBar1" .. "TrackBar9") in a
// revision; "" for a name without a label there.
std::string StandardLabelText(const std::string& trackBar, int32_t pos, TRevision revision);

class TStandard : public TForm {
public:
    static constexpr int kCollapsedHeight = 322;
    static constexpr int kExpandedHeight = 438;

    // The revision this program is built as, and its form description.
    static TRevision ProgramRevision();
    static const char* DescriptionName(TRevision revision);

    TStandard();
    explicit TStandard(TRevision revision);
    ~TStandard() override;

    TRevision Revision() const { return revision_; }

    TRadioButton* RadioButton1 = nullptr;  // "Color Pencil"
    TRadioButton* RadioButton2 = nullptr;  // "Color Pen"
    TRadioButton* RadioButton3 = nullptr;  // "Black and White Pencil"
    TRadioButton* RadioButton4 = nullptr;  // "Black and White Pen"
    TRadioButton* RadioButton5 = nullptr;  // "Oil Painting"
    TRadioButton* RadioButton6 = nullptr;  // "Crayon"
    TRadioButton* RadioButton7 = nullptr;  // "Pen && Ink" (current revision only)
    TTrackBar* TrackBar1 = nullptr;
    TTrackBar* TrackBar2 = nullptr;
    TTrackBar* TrackBar3 = nullptr;
    TTrackBar* TrackBar4 = nullptr;  // current revision only, like 5 and 6
    TTrackBar* TrackBar5 = nullptr;
    TTrackBar* TrackBar6 = nullptr;
    TTrackBar* TrackBar7 = nullptr;
    TTrackBar* TrackBar8 = nullptr;
    TTrackBar* TrackBar9 = nullptr;
    TLabel* Label1 = nullptr;
    TLabel* Label2 = nullptr;
    TLabel* Label3 = nullptr;
    TLabel* Label5 = nullptr;
    TLabel* Label8 = nullptr;
    TLabel* Label9 = nullptr;
    TLabel* Label10 = nullptr;  // current revision only, like 11 and 12
    TLabel* Label11 = nullptr;
    TLabel* Label12 = nullptr;
    TSpeedButton* SpeedButton1 = nullptr;  // "Done"
    TSpeedButton* SpeedButton5 = nullptr;  // "Batch Convert"
    TProgressBar* ProgressBar1 = nullptr;
    TPanel* Panel2 = nullptr;
    TEdit* Edit1 = nullptr;
    TEdit* Edit2 = nullptr;
    TSpeedButton* SpeedButton2 = nullptr;
    TSpeedButton* SpeedButton3 = nullptr;
    TSpeedButton* SpeedButton4 = nullptr;

    void SpeedButton1Click(TObject* sender);
    void batchconvert2();
    // Escape closes the dialog, Return presses "Done".
    void FormKeyDown(TObject* sender, uint16_t& Key, TShiftState Shift);

    void TrackBar1Change(TObject* sender);
    void TrackBar2Change(TObject* sender);
    void TrackBar3Change(TObject* sender);
    void TrackBar4Change(TObject* sender);
    void TrackBar5Change(TObject* sender);
    void TrackBar6Change(TObject* sender);
    void TrackBar7Change(TObject* sender);
    void TrackBar8Change(TObject* sender);
    void TrackBar9Change(TObject* sender);
    void RadioButton7Click(TObject* sender);

    void SpeedButton5Click(TObject* sender);
    // The batch panel's buttons.
    void SpeedButton2Click(TObject* sender);
    void SpeedButton3Click(TObject* sender);
    void SpeedButton4Click(TObject* sender);

    // The selected style (the number of its radio button) and the sliders.
    TStandardSettings Settings() const;

protected:
    void Loaded() override;

private:
    void Convert();
    // Rewrites the slider's label and, in the current revision, selects its style.
    void SliderMoved(const char* trackBar, const TTrackBar* bar, TLabel* label, TRadioButton* style);

    TRevision revision_;
};

extern TStandard* Standard;
