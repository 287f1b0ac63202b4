// The arithmetic of the print layout dialog, without its window: the four
// edits (top, left, width, height in whole millimetres), the preview
// image's bounds (one preview pixel per millimetre) and every step that
// changes them. The dialog copies these to and from its controls.
#pragma once

#include <cstdint>
#include <string>

#include "platform/core/Graphics.h"

// Picture pixels per millimetre for the initial size, and the dots per
// millimetre of the printed rectangle (the printer maps it onto its own
// resolution).
inline constexpr long double kMillimetresToDots = 14.4L;
inline constexpr int32_t kPageWidthMm = 210;
inline constexpr int32_t kPageHeightMm = 297;

inline constexpr const char* kInvalidIntegerText = "Please input a valid integer value.";

// Not empty, and only '-' and the digits 0 to 9: "-" alone and "1-2" pass
// here and only StrToInt rejects them.
bool IsIntegerText(const std::string& text);

struct TPlacement {
    int32_t Top = 0, Left = 0, Width = 0, Height = 0;
    bool operator==(const TPlacement&) const = default;
};

// The nudge steps the timer repeats (0: none).
enum TRepeatMode : int32_t {
    rmNone = 0,
    rmUp = 1,      // top - 1
    rmDown = 2,    // top + 1
    rmLeft = 3,    // left - 1
    rmRight = 4,   // left + 1
    rmGrow = 5,    // width + 2
    rmShrink = 6,  // width - 2
};

// W and H are the result picture's size in pixels, read afresh by the
// dialog at each call. Texts that pass IsIntegerText but are no integer
// raise EConvertError from StrToInt where the dialog would. Sums and
// products are worked out in 64 bits and held to the 32-bit range, so a
// huge typed value gives a huge placement, not a wrapped one.
class TPrintLayout {
public:
    std::string Edit1, Edit2, Edit3, Edit4;  // top, left, width, height
    TPlacement Image;                        // the preview's bounds
    bool Fit = false;                        // "Fit the page" ticked
    int32_t RepeatMode = rmNone;

    // Each showing: the picture at 14.4 pixels per millimetre, centred on
    // the page, "Fit the page" unticked.
    void Show(int32_t w, int32_t h);

    void Edit1KeyUp();
    void Edit2KeyUp();
    void Edit3KeyUp(int32_t w, int32_t h);
    void Edit4KeyUp(int32_t w, int32_t h);

    // Ticked: the fitted placement (the edits keep their texts); unticked:
    // the preview from the edits again.
    void SetFit(bool checked, int32_t w, int32_t h);
    // The edits and the nudge buttons are enabled while not fitted.
    bool ControlsEnabled() const { return !Fit; }

    // One nudge step of a mode 1 to 6 (0 does nothing), and the centre button.
    void Step(int32_t mode, int32_t w, int32_t h);
    void Centre();

    // The first edit (1 to 4, in the order Edit1..Edit4) that fails
    // IsIntegerText, or 0 when all pass.
    int InvalidEdit() const;
    // The printed rectangle in 14.4-dots: from the preview when fitted, else
    // from the edits (which must hold integers in either case).
    TRect PrintRectangle() const;
};

// The placement "Fit the page" gives: the page less 5 mm on each side.
TPlacement FitPlacement(int32_t w, int32_t h);
