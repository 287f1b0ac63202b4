// The Professional conversion: a sketch layer over a colour base, with the
// settings the dialog reads from its controls (named as the controls are).
#pragma once

#include <cstdint>
#include <string>

#include "app/Image32.h"

struct TProfessionalSettings {
    bool CheckBox1 = true;   // "Sketch" "Enable"
    bool CheckBox2 = false;  // "Exposure"
    bool CheckBox3 = false;  // "Blur"
    bool CheckBox4 = false;  // "Oil painting"
    bool CheckBox5 = false;  // "Artistic" "Enable"
    bool CheckBox6 = true;   // "HSL Adjust" "Enable"
    bool CheckBox7 = false;  // "Smooth"
    bool CheckBox8 = true;   // "Crayon"
    bool CheckBox7Enabled = true;  // "Smooth" is enabled while "Sketch" is ticked
    int32_t Artistic = 1;    // RadioButton1 "Realism", 2 "Pop art", 3 "Abstract"
    bool Pencil = true;      // RadioButton4 "Pencil"; false: RadioButton5 "Pen"
    int32_t TrackBar1 = 65;   // pencil angle 1..89
    int32_t TrackBar2 = 102;  // exposure threshold 0..255
    int32_t TrackBar3 = 170;  // hue 0..360
    int32_t TrackBar4 = 100;  // saturation 0..200
    int32_t TrackBar5 = 120;  // lightness 0..200
    int32_t TrackBar6 = 3;    // blur 1..10
    int32_t TrackBar7 = 128;  // pen level 1..255
    int32_t TrackBar8 = 4;    // oil painting 2..11
    int32_t TrackBar9 = 13;   // crayon 1..26

    // Sets a control by name ("CheckBox3", "RadioButton5", "TrackBar1");
    // returns false for an unknown name. A slider takes a position outside
    // its range at the nearest end, as a track bar does.
    bool Set(const std::string& control, int32_t value);
};

// Converts source (the left pane's picture) into result; sets MakeMode to 2
// and advances the Professional dialog's bar. "Done" and the batch share it.
void RunProfessional(const TProfessionalSettings& settings, const TBitmap& source, TBitmap& result);
