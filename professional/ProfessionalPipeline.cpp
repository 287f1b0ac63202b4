#include "professional/ProfessionalPipeline.h"

#include <algorithm>
#include <map>

#include "app/PixelOps.h"
#include "app/SketchFilters.h"
#include "app/SketchLayer.h"
#include "app/SketchState.h"
#include "professional/ProfessionalFilters.h"

bool TProfessionalSettings::Set(const std::string& control, int32_t value) {
    const std::map<std::string, bool TProfessionalSettings::*> boxes = {
        {"CheckBox1", &TProfessionalSettings::CheckBox1}, {"CheckBox2", &TProfessionalSettings::CheckBox2},
        {"CheckBox3", &TProfessionalSettings::CheckBox3}, {"CheckBox4", &TProfessionalSettings::CheckBox4},
        {"CheckBox5", &TProfessionalSettings::CheckBox5}, {"CheckBox6", &TProfessionalSettings::CheckBox6},
        {"CheckBox7", &TProfessionalSettings::CheckBox7}, {"CheckBox8", &TProfessionalSettings::CheckBox8},
    };
    // The sliders with their ranges; a track bar never holds a position
    // outside its own.
    struct Slider {
        int32_t TProfessionalSettings::*field;
        int32_t min, max;
    };
    const std::map<std::string, Slider> bars = {
        {"TrackBar1", {&TProfessionalSettings::TrackBar1, 1, 89}},
        {"TrackBar2", {&TProfessionalSettings::TrackBar2, 0, 255}},
        {"TrackBar3", {&TProfessionalSettings::TrackBar3, 0, 360}},
        {"TrackBar4", {&TProfessionalSettings::TrackBar4, 0, 200}},
        {"TrackBar5", {&TProfessionalSettings::TrackBar5, 0, 200}},
        {"TrackBar6", {&TProfessionalSettings::TrackBar6, 1, 10}},
        {"TrackBar7", {&TProfessionalSettings::TrackBar7, 1, 255}},
        {"TrackBar8", {&TProfessionalSettings::TrackBar8, 2, 11}},
        {"TrackBar9", {&TProfessionalSettings::TrackBar9, 1, 26}},
    };
    if (auto it = boxes.find(control); it != boxes.end()) {
        this->*(it->second) = value != 0;
        if (control == "CheckBox1") CheckBox7Enabled = value != 0;
        return true;
    }
    if (auto it = bars.find(control); it != bars.end()) {
        this->*(it->second.field) = std::clamp(value, it->second.min, it->second.max);
        return true;
    }
    // Radio buttons: selecting one (value 1) unchecks its group.
    if (control == "RadioButton1" || control == "RadioButton2" || control == "RadioButton3") {
        if (value) Artistic = control.back() - '0';
        return true;
    }
    if (control == "RadioButton4") {
        if (value) Pencil = true;
        return true;
    }
    if (control == "RadioButton5") {
        if (value) Pencil = false;
        return true;
    }
    return false;
}

void RunProfessional(const TProfessionalSettings& s, const TBitmap& source, TBitmap& result) {
    MakeMode = 2;
    IProgressBar& progress = SharedProgressBar();

    // Every step reads the source as 32-bit pixels; a narrower one is
    // widened once (as each step's own 32-bit copy of it would be).
    TBitmap32 widened;
    const TBitmap* src = &source;
    if (source.PixelFormat() != TPixelFormat::pf32bit) {
        widened.Assign(&source);
        src = &widened;
    }

    const bool smooth = s.CheckBox7 && s.CheckBox7Enabled && s.CheckBox1;
    const bool anyEffect = s.CheckBox2 || s.CheckBox3 || s.CheckBox4 || s.CheckBox5 || s.CheckBox6 || s.CheckBox8;
    const bool neighbourhood = s.CheckBox3 || s.CheckBox4 || s.CheckBox5;
    const sketch::TSketchShape shape = s.Pencil ? sketch::TSketchShape::Pencil : sketch::TSketchShape::Pen;
    const int32_t level = s.Pencil ? s.TrackBar1 : s.TrackBar7;

    // The layer is computed row by row inside the final pass when nothing
    // works on it as a whole picture and the base needs no neighbourhood.
    const bool layerInPass = s.CheckBox1 && anyEffect && !smooth && !neighbourhood && sketch::TSketchRows::Applies(*src);

    // The point filters before the neighbourhood ones, and hsladjust after.
    pro::TPointChain before, after;
    if (s.CheckBox8) before.SetZone(s.TrackBar9 - 13);
    if (s.CheckBox2) before.SetExposure(s.TrackBar2);
    if (s.CheckBox6) (neighbourhood ? after : before).SetHsl(s.TrackBar3, s.TrackBar4, s.TrackBar5);

    // The passes below, each over the picture's rows, for the bar.
    int32_t passes = 0;
    if (s.CheckBox1 && !layerInPass) passes += sketch::LayerPasses(*src, shape) + (smooth ? 1 : 0);
    if (!s.CheckBox1 || anyEffect) {
        if (!neighbourhood)
            passes += 1;
        else
            passes += (before.Empty() ? 0 : 1) + (s.CheckBox5 ? 1 : 0) + (s.CheckBox3 ? 2 : 0) + (s.CheckBox4 ? 2 : 0) +
                      (!after.Empty() || s.CheckBox1 ? 1 : 0);
    }
    progress.Plan(passes, src->Height());

    TBitmap32 layer;
    if (s.CheckBox1 && !layerInPass) {
        sketch::BuildSketchLayer(*src, shape, level, layer, progress);
        if (smooth) {
            pro::pinghua(layer, progress);
            layer.SetPixelFormat(TPixelFormat::pf32bit);
        }
    }
    if (s.CheckBox1 && !anyEffect) {
        sketch::HandOver(layer, result);  // the sketch alone, without colour
        pix::ReleaseScratch();
        return;
    }

    const sketch::TSketchRows rows(shape, level);
    const TBitmap32* finalLayer = s.CheckBox1 ? &layer : nullptr;
    TBitmap32 base;
    if (!neighbourhood) {
        sketch::ComposeRows(*src, layerInPass ? &rows : nullptr, layerInPass ? nullptr : finalLayer,
                            [&] { return before.MakeFn(); }, base, &progress);
    } else {
        if (before.Empty())
            base.Assign(src);
        else
            sketch::ComposeRows(*src, nullptr, nullptr, [&] { return before.MakeFn(); }, base, &progress);
        if (s.CheckBox5) {
            if (s.Artistic == 1) pro::fringe1(base, progress);
            else if (s.Artistic == 2) pro::fringe2(base, progress);
            else pro::fringe3(base, progress);
        }
        if (s.CheckBox3) {
            pro::Brume(s.TrackBar6, base, progress);
            sketch::Blur(s.TrackBar6, base, progress);
        }
        if (s.CheckBox4) sketch::dosoften(s.TrackBar8, base, progress);
        if (!after.Empty() || finalLayer)
            sketch::ComposeRows(base, nullptr, finalLayer, [&] { return after.MakeFn(); }, base, &progress);
    }
    sketch::HandOver(base, result);
    pix::ReleaseScratch();
}
