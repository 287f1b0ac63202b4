#include "professional/ProfessionalPipelineRef.h"

#include "app/SketchFilters.h"
#include "app/SketchFiltersRef.h"
#include "app/SketchState.h"
#include "professional/ProfessionalFiltersRef.h"

void RunProfessionalReference(const TProfessionalSettings& s, const TBitmap& source, TBitmap& result) {
    MakeMode = 2;
    IProgressBar& progress = SharedProgressBar();
    TBitmap32 layer;
    if (s.CheckBox1) {
        sketch::ref::BuildSketchLayer(source, s.Pencil ? sketch::TSketchShape::Pencil : sketch::TSketchShape::Pen,
                                      s.Pencil ? s.TrackBar1 : s.TrackBar7, layer, progress);
    }
    TBitmap32 base;
    base.Assign(&source);
    if (s.CheckBox8) pro::ref::colorzone(s.TrackBar9 - 13, base, progress);
    if (s.CheckBox2) {
        sketch::ref::Exposure(base, s.TrackBar2, progress);
        base.SetPixelFormat(TPixelFormat::pf32bit);
    }
    if (s.CheckBox5) {
        if (s.Artistic == 1) pro::ref::fringe1(base, progress);
        else if (s.Artistic == 2) pro::ref::fringe2(base, progress);
        else pro::ref::fringe3(base, progress);
    }
    if (s.CheckBox3) {
        pro::ref::Brume(s.TrackBar6, base, progress);
        sketch::ref::Blur(s.TrackBar6, base, progress);
    }
    if (s.CheckBox4) sketch::ref::dosoften(s.TrackBar8, base, progress);
    if (s.CheckBox6) pro::ref::hsladjust(s.TrackBar3, s.TrackBar4, s.TrackBar5, base, progress);
    if (s.CheckBox7 && s.CheckBox7Enabled && s.CheckBox1) {
        pro::ref::pinghua(layer, progress);
        layer.SetPixelFormat(TPixelFormat::pf32bit);
    }
    result.Assign(&base);
    if (s.CheckBox1) {
        const bool anyEffect = s.CheckBox2 || s.CheckBox3 || s.CheckBox4 || s.CheckBox5 || s.CheckBox6 || s.CheckBox8;
        if (anyEffect)
            sketch::ref::DrawTo(layer, result);
        else
            result.Assign(&layer);
    }
}
