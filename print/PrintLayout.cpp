#include "print/PrintLayout.h"

#include <algorithm>
#include <cmath>

#include "platform/core/Numeric.h"
#include "platform/core/SysUtils.h"

namespace {

int32_t Saturate(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// Nearest integer, ties to even, held to the 32-bit range.
int32_t RoundSat(long double v) {
    if (std::isnan(v)) return 0;
    return num::Round32(std::clamp<long double>(v, INT32_MIN, INT32_MAX));
}

// Round(v x num / den) with the product exact: the dialog's aspect-ratio
// rule. A picture without pixels has no ratio; its placement is 0.
int32_t ScaleRound(int64_t v, int32_t numerator, int32_t denominator) {
    if (denominator == 0) return 0;
    return RoundSat(static_cast<long double>(v * numerator) / denominator);
}

int32_t Dots(int32_t mm) { return RoundSat(mm * kMillimetresToDots); }

std::string Str(int32_t v) { return IntToStr(v); }

}  // namespace

bool IsIntegerText(const std::string& text) {
    if (text.empty()) return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c == '-' || (c >= '0' && c <= '9'); });
}

void TPrintLayout::Show(int32_t w, int32_t h) {
    Edit1 = Str(RoundSat((kPageHeightMm - h / kMillimetresToDots) / 2));
    Edit2 = Str(RoundSat((kPageWidthMm - w / kMillimetresToDots) / 2));
    Edit3 = Str(RoundSat(w / kMillimetresToDots));
    Edit4 = Str(RoundSat(h / kMillimetresToDots));
    Image = {StrToInt(Edit1), StrToInt(Edit2), StrToInt(Edit3), StrToInt(Edit4)};
    if (Fit) SetFit(false, w, h);
    RepeatMode = rmNone;
}

void TPrintLayout::Edit1KeyUp() {
    if (!IsIntegerText(Edit1)) return;
    Image.Top = Edit1 == "-" ? 0 : StrToInt(Edit1);
}

void TPrintLayout::Edit2KeyUp() {
    if (!IsIntegerText(Edit2)) return;
    Image.Left = Edit2 == "-" ? 0 : StrToInt(Edit2);
}

void TPrintLayout::Edit3KeyUp(int32_t w, int32_t h) {
    if (!IsIntegerText(Edit3)) return;
    if (Edit3 == "-") {
        Image.Width = 0;
        Edit4 = "0";
        Image.Height = 0;
        return;
    }
    const int32_t v = StrToInt(Edit3);
    Edit4 = Str(ScaleRound(v, h, w));
    Image.Width = StrToInt(Edit3);
    Image.Height = StrToInt(Edit4);
}

void TPrintLayout::Edit4KeyUp(int32_t w, int32_t h) {
    if (!IsIntegerText(Edit4)) return;
    if (Edit4 == "-") {
        Image.Height = 0;
        Edit3 = "0";
        Image.Width = 0;
        return;
    }
    const int32_t v = StrToInt(Edit4);
    Edit3 = Str(ScaleRound(v, w, h));
    Image.Height = StrToInt(Edit4);
    Image.Width = StrToInt(Edit3);
}

TPlacement FitPlacement(int32_t w, int32_t h) {
    TPlacement p;
    // W / H <= 200 / 287 compared exactly, so that equal ratios take the
    // fit-to-height branch.
    if (int64_t(w) * 287 <= int64_t(h) * 200) {
        p.Top = 5;
        p.Height = 287;
        p.Width = ScaleRound(w, p.Height, h);
        p.Left = RoundSat((kPageWidthMm - static_cast<long double>(p.Width)) / 2);
    } else {
        p.Width = 200;
        p.Left = 5;
        p.Height = ScaleRound(h, p.Width, w);
        p.Top = RoundSat((kPageHeightMm - static_cast<long double>(p.Height)) / 2);
    }
    return p;
}

void TPrintLayout::SetFit(bool checked, int32_t w, int32_t h) {
    if (checked) {
        Image = FitPlacement(w, h);
    } else {
        Image = {StrToInt(Edit1), StrToInt(Edit2), StrToInt(Edit3), StrToInt(Edit4)};
    }
    Fit = checked;
}

void TPrintLayout::Step(int32_t mode, int32_t w, int32_t h) {
    switch (mode) {
        case rmUp:
        case rmDown:
            Edit1 = Str(Saturate(int64_t(StrToInt(Edit1)) + (mode == rmUp ? -1 : 1)));
            Image.Top = StrToInt(Edit1);
            break;
        case rmLeft:
        case rmRight:
            Edit2 = Str(Saturate(int64_t(StrToInt(Edit2)) + (mode == rmLeft ? -1 : 1)));
            Image.Left = StrToInt(Edit2);
            break;
        case rmGrow:
        case rmShrink: {
            const bool grow = mode == rmGrow;
            Edit3 = Str(Saturate(int64_t(StrToInt(Edit3)) + (grow ? 2 : -2)));
            Edit4 = Str(ScaleRound(StrToInt(Edit3), h, w));
            Image.Width = StrToInt(Edit3);
            Image.Height = StrToInt(Edit4);
            // Moving the corner back keeps the picture roughly where it was
            // centred while it grows.
            Image.Left = Saturate(int64_t(Image.Left) + (grow ? -1 : 1));
            Edit2 = Str(Image.Left);
            const int32_t dy = ScaleRound(1, h, w);
            Image.Top = Saturate(int64_t(Image.Top) + (grow ? -dy : dy));
            Edit1 = Str(Image.Top);
            break;
        }
        default:
            break;
    }
}

void TPrintLayout::Centre() {
    Image.Top = Saturate((int64_t(kPageHeightMm) - StrToInt(Edit4)) / 2);
    Image.Left = Saturate((int64_t(kPageWidthMm) - StrToInt(Edit3)) / 2);
    Edit1 = Str(Image.Top);
    Edit2 = Str(Image.Left);
}

int TPrintLayout::InvalidEdit() const {
    const std::string* edits[] = {&Edit1, &Edit2, &Edit3, &Edit4};
    for (int i = 0; i < 4; ++i)
        if (!IsIntegerText(*edits[i])) return i + 1;
    return 0;
}

TRect TPrintLayout::PrintRectangle() const {
    const int32_t hm = StrToInt(Edit4);
    const int32_t wm = StrToInt(Edit3);
    TRect r;
    if (Fit) {
        r.Left = Dots(Image.Left);
        r.Top = Dots(Image.Top);
        r.Right = Saturate(int64_t(Dots(Image.Width)) + r.Left);
        r.Bottom = Saturate(int64_t(Dots(Image.Height)) + r.Top);
    } else {
        r.Left = Dots(StrToInt(Edit2));
        r.Top = Dots(StrToInt(Edit1));
        r.Right = Saturate(int64_t(Dots(wm)) + r.Left);
        r.Bottom = Saturate(int64_t(Dots(hm)) + r.Top);
    }
    return r;
}
