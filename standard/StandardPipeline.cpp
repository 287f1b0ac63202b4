#include "standard/StandardPipeline.h"

#include <algorithm>

#include "app/PixelOps.h"
#include "app/SketchFilters.h"
#include "app/SketchLayer.h"
#include "app/SketchState.h"
#include "platform/core/Numeric.h"
#include "platform/core/SysUtils.h"
#include "professional/ProfessionalFilters.h"
#include "standard/StandardFilters.h"

namespace {

using LD = long double;

struct TSliderRange {
    int32_t TStandardSettings::*field;
    int32_t min, max;
};

// The sliders' ranges; a track bar never holds a position outside its own.
// TrackBar4..6 exist only in the current revision, and TrackBar9 has the
// range of the revision's crayon.
bool SliderRange(const std::string& name, TRevision revision, TSliderRange& range) {
    static const struct {
        const char* name;
        TSliderRange range;
    } sliders[] = {
        {"TrackBar1", {&TStandardSettings::TrackBar1, 1, 89}},
        {"TrackBar2", {&TStandardSettings::TrackBar2, 1, 89}},
        {"TrackBar3", {&TStandardSettings::TrackBar3, 1, 255}},
        {"TrackBar4", {&TStandardSettings::TrackBar4, 1, 101}},
        {"TrackBar5", {&TStandardSettings::TrackBar5, 0, 20}},
        {"TrackBar6", {&TStandardSettings::TrackBar6, 0, 40}},
        {"TrackBar7", {&TStandardSettings::TrackBar7, 1, 255}},
        {"TrackBar8", {&TStandardSettings::TrackBar8, 2, 10}},
        {"TrackBar9", {&TStandardSettings::TrackBar9, 2, 15}},
    };
    for (const auto& s : sliders) {
        if (name != s.name) continue;
        const bool penInk = s.range.field == &TStandardSettings::TrackBar4 ||
                            s.range.field == &TStandardSettings::TrackBar5 ||
                            s.range.field == &TStandardSettings::TrackBar6;
        if (revision == TRevision::Earlier && penInk) return false;
        range = s.range;
        if (revision == TRevision::Earlier && range.field == &TStandardSettings::TrackBar9) range.min = 1, range.max = 26;
        return true;
    }
    return false;
}

}  // namespace

TStandardSettings TStandardSettings::Defaults(TRevision revision) {
    TStandardSettings s;
    s.Revision = revision;
    if (revision == TRevision::Earlier) s.TrackBar9 = 13;
    return s;
}

bool TStandardSettings::Set(const std::string& control, int32_t value) {
    const std::string radio = "RadioButton";
    if (control.size() == radio.size() + 1 && control.compare(0, radio.size(), radio) == 0) {
        const int32_t n = control.back() - '0';
        const int32_t styles = Revision == TRevision::Earlier ? 6 : 7;
        if (n < 1 || n > styles) return false;
        if (value) Style = n;
        return true;
    }
    TSliderRange range;
    if (!SliderRange(control, Revision, range)) return false;
    this->*(range.field) = std::clamp(value, range.min, range.max);
    return true;
}

int32_t CrayonCellSizeFor(int32_t position) {
    // Positions below 1 lie outside every revision's slider; the smallest
    // position gives the largest cell rather than a division by zero.
    return num::Round32(LD(256) / LD(std::max(position, 1)));
}

THslArguments ColorPencilBase(int32_t position) {
    const int32_t d = std::max(num::Round32(LD(position - 67) / 24 * 60), -24);
    return {170, 100, 140 - d};
}

THslArguments ColorPenBase(int32_t position) {
    const int32_t e = std::max(num::Round32(LD(position - 191) / 60 * 40), -50);
    const int32_t s = std::max(num::Round32(LD(position - 191) / 128 * 40), -20);
    return {170, 140 - s, 120 - e};
}

void RunStandard(const TStandardSettings& s, const TBitmap& source, TBitmap& result) {
    const int32_t styles = s.Revision == TRevision::Earlier ? 6 : 7;
    if (s.Style < 1 || s.Style > styles)
        throw EConvertError("Standard style " + IntToStr(s.Style) + " does not exist");
    MakeMode = 1;
    IProgressBar& progress = SharedProgressBar();

    // Every step reads the source as 32-bit pixels; a narrower one is
    // widened once (as each step's own 32-bit copy of it would be).
    TBitmap32 widened;
    const TBitmap* src = &source;
    if (source.PixelFormat() != TPixelFormat::pf32bit) {
        widened.Assign(&source);
        src = &widened;
    }

    const bool pencil = s.Style == 1 || s.Style == 3;
    const int32_t levels[] = {s.TrackBar2, s.TrackBar3, s.TrackBar1, s.TrackBar7};  // styles 1..4
    const sketch::TSketchShape shape = pencil ? sketch::TSketchShape::Pencil : sketch::TSketchShape::Pen;
    // The passes below, each over the picture's rows, for the bar.
    int32_t passes = 1;
    if (s.Style == 3 || s.Style == 4)
        passes = sketch::LayerPasses(*src, shape);
    else if (s.Style == 1 || s.Style == 2)
        passes += sketch::TSketchRows::Applies(*src) ? 0 : sketch::LayerPasses(*src, shape);
    else if (s.Style == 6 && s.Revision == TRevision::Current)
        passes = 2;  // the cells' sums, then the picture
    progress.Plan(passes, src->Height());

    TBitmap32 base;
    if (s.Style == 3 || s.Style == 4) {
        // The black and white styles show the sketch layer alone.
        sketch::BuildSketchLayer(*src, shape, levels[s.Style - 1], base, progress);
    } else if (s.Style == 1 || s.Style == 2) {
        // The colour styles: the layer, row by row, over the adjusted base.
        const THslArguments a = s.Style == 1 ? ColorPencilBase(s.TrackBar2) : ColorPenBase(s.TrackBar3);
        pro::TPointChain chain;
        chain.SetHsl(a.Hue, a.Saturation, a.Lightness);
        const sketch::TSketchRows rows(shape, levels[s.Style - 1]);
        TBitmap32 layer;
        const bool inPass = sketch::TSketchRows::Applies(*src);
        if (!inPass) sketch::BuildSketchLayer(*src, shape, levels[s.Style - 1], layer, progress);
        sketch::ComposeRows(*src, inPass ? &rows : nullptr, inPass ? nullptr : &layer, [&] { return chain.MakeFn(); },
                            base, &progress);
    } else if (s.Style == 5) {
        sketch::dosoften(s.TrackBar8, *src, base, progress);
    } else if (s.Style == 6 && s.Revision == TRevision::Earlier) {
        pro::colorzone(s.TrackBar9 - 13, *src, base, progress);
    } else if (s.Style == 6) {
        stdf::CrayonCellSize = CrayonCellSizeFor(s.TrackBar9);
        stdf::crayonpic(*src, base, StandardProgressBar());
    } else {
        stdf::PenInkBmp(*src, base, {s.TrackBar4, s.TrackBar5, s.TrackBar6}, StandardProgressBar());
    }
    sketch::HandOver(base, result);
    pix::ReleaseScratch();
}
