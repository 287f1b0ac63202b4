// The Standard conversion: seven preset styles, named by their radio buttons.
#pragma once

#include <cstdint>
#include <string>

#include "app/Image32.h"

enum class TRevision { Current, Earlier };

struct TStandardSettings {
    // 1 "Color Pencil", 2 "Color Pen", 3 "Black and White Pencil",
    // 4 "Black and White Pen", 5 "Oil Painting", 6 "Crayon", 7 "Pen && Ink".
    int32_t Style = 1;
    int32_t TrackBar1 = 67;  // B&W pencil angle
    int32_t TrackBar2 = 67;  // colour pencil angle
    int32_t TrackBar3 = 191; // colour pen level
    int32_t TrackBar4 = 10;  // pen and ink sigma
    int32_t TrackBar5 = 18;  // pen and ink low ratio
    int32_t TrackBar6 = 30;  // pen and ink high ratio
    int32_t TrackBar7 = 191; // B&W pen level
    int32_t TrackBar8 = 4;   // oil painting
    int32_t TrackBar9 = 5;   // crayon (earlier revision: 1..26, default 13)
    TRevision Revision = TRevision::Current;

    static TStandardSettings Defaults(TRevision revision);
    // "RadioButtonN" with value 1 selects style N; "TrackBarN" sets a slider,
    // a position outside its range taken at the nearest end as a track bar
    // does. Set Revision first: false for a control the revision lacks.
    bool Set(const std::string& control, int32_t value);
};

// The crayon cell edge for a TrackBar9 position: round(256 / pos).
int32_t CrayonCellSizeFor(int32_t position);

// The hsladjust arguments of the colour styles' base for their slider's
// position: "Color Pencil" (TrackBar2) and "Color Pen" (TrackBar3).
struct THslArguments {
    int32_t Hue, Saturation, Lightness;
};
THslArguments ColorPencilBase(int32_t position);
THslArguments ColorPenBase(int32_t position);

// Converts source into result; sets MakeMode to 1. "Done" and the batch share
// it. A style the revision lacks raises EConvertError.
void RunStandard(const TStandardSettings& settings, const TBitmap& source, TBitmap& result);
