#include "standard/StandardPipelineRef.h"

#include "app/SketchFilters.h"
#include "app/SketchFiltersRef.h"
#include "app/SketchState.h"
#include "platform/core/SysUtils.h"
#include "professional/ProfessionalFiltersRef.h"
#include "standard/StandardFiltersRef.h"

void RunStandardReference(const TStandardSettings& s, const TBitmap& source, TBitmap& result) {
    const int32_t styles = s.Revision == TRevision::Earlier ? 6 : 7;
    if (s.Style < 1 || s.Style > styles)
        throw EConvertError("Standard style " + IntToStr(s.Style) + " does not exist");
    MakeMode = 1;
    IProgressBar& progress = SharedProgressBar();
    const bool sketchStyle = s.Style >= 1 && s.Style <= 4;
    TBitmap32 layer;
    if (sketchStyle) {
        const bool pencil = s.Style == 1 || s.Style == 3;
        const int32_t levels[] = {s.TrackBar2, s.TrackBar3, s.TrackBar1, s.TrackBar7};
        sketch::ref::BuildSketchLayer(source, pencil ? sketch::TSketchShape::Pencil : sketch::TSketchShape::Pen,
                                      levels[s.Style - 1], layer, progress);
    }
    TBitmap32 base;
    base.Assign(&source);
    switch (s.Style) {
        case 5:
            sketch::ref::dosoften(s.TrackBar8, base, progress);
            break;
        case 6:
            if (s.Revision == TRevision::Earlier) {
                pro::ref::colorzone(s.TrackBar9 - 13, base, progress);
            } else {
                stdf::CrayonCellSize = CrayonCellSizeFor(s.TrackBar9);
                stdf::ref::crayonpic(base, StandardProgressBar());
            }
            break;
        case 7:
            stdf::ref::PenInkBmp(base, {s.TrackBar4, s.TrackBar5, s.TrackBar6}, StandardProgressBar());
            break;
        case 1: {
            const THslArguments a = ColorPencilBase(s.TrackBar2);
            pro::ref::hsladjust(a.Hue, a.Saturation, a.Lightness, base, progress);
            break;
        }
        case 2: {
            const THslArguments a = ColorPenBase(s.TrackBar3);
            pro::ref::hsladjust(a.Hue, a.Saturation, a.Lightness, base, progress);
            break;
        }
    }
    result.Assign(&base);
    if (s.Style == 3 || s.Style == 4)
        result.Assign(&layer);
    else if (sketchStyle)
        sketch::ref::DrawTo(layer, result);
}
