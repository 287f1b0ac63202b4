#include "app/SketchFiltersRef.h"

#include <cmath>
#include <cstdlib>

#include "app/Hsl.h"
#include "app/SketchFilters.h"
#include "platform/core/Numeric.h"

namespace sketch::ref {
namespace {

using LD = long double;
constexpr LD kPi = 3.14159265358979323846264338327950288L;

uint8_t& At(TBitmap& bmp, int32_t x, int32_t y, int32_t channel) { return bmp.ScanLine(y)[4 * x + channel]; }
int32_t Get(const TBitmap& bmp, int32_t x, int32_t y, int32_t channel) { return bmp.ScanLine(y)[4 * x + channel]; }

void Copy32(TBitmap32& to, const TBitmap& from) {
    to.Assign(&from);
    to.SetPixelFormat(TPixelFormat::pf32bit);
}

constexpr int32_t kColourChannels[3] = {2, 1, 0};  // red, green, blue

}  // namespace

void PureHue(int32_t H, int32_t& R, int32_t& G, int32_t& B) {
    auto up = [&](int32_t from) { return num::Round32(4.25L * (H - from)); };
    auto down = [&](int32_t from) { return num::Round32(255 - 4.25L * (H - from)); };
    if (H <= 60) {
        R = 255, G = up(0), B = 0;
    } else if (H <= 120) {
        R = down(60), G = 255, B = 0;
    } else if (H <= 180) {
        R = 0, G = 255, B = up(120);
    } else if (H <= 240) {
        R = 0, G = down(180), B = 255;
    } else if (H <= 300) {
        R = up(240), G = 0, B = 255;
    } else {
        R = 255, G = 0, B = down(300);
    }
}

int32_t Saturate(int32_t c, int32_t S) {
    const double d = static_cast<double>(LD(std::abs(S - 100)) / 100);
    return num::Round32(LD(c) - LD(c - 128) * d);
}

int32_t Lighten(int32_t c, int32_t L) {
    const double e = static_cast<double>(LD(L - 50) / 50);
    if (e > 0) return num::Round32(LD(c) + LD(255 - c) * e);
    if (e < 0) return num::Round32(LD(c) + LD(c) * e);
    return c;
}

void HSLToRGB(int32_t H, int32_t S, int32_t L, int32_t& R, int32_t& G, int32_t& B) {
    R = G = B = 0;
    if (H < 0 || H >= 360 || S < 0 || S > 100 || L < 0 || L > 100) return;
    PureHue(H, R, G, B);
    R = Saturate(R, S), G = Saturate(G, S), B = Saturate(B, S);
    R = Lighten(R, L), G = Lighten(G, L), B = Lighten(B, L);
}

void PencilPixel(int32_t Angle, int32_t& R, int32_t& G, int32_t& B) {
    const LD t = std::tan(Angle * kPi / 180);
    int32_t h, s, l;
    RGBToHSL(R, G, B, h, s, l);
    int32_t l2 = Angle < 45 ? num::Round32(t * (l - 55)) + 100 - Angle : num::Round32(t * (l - Angle - 5)) + 50;
    l2 = std::min(100, std::max(0, l2));
    if (h == 360) h = 0;
    HSLToRGB(h, s, l2, R, G, B);
}

void convertimg1(int32_t Angle, TBitmap32& Src, TBitmap32& Dst, IProgressBar& progress) {
    TBitmap32 work;
    Copy32(work, Src);
    for (int32_t y = 0; y < work.Height(); ++y) {
        for (int32_t x = 0; x < work.Width(); ++x) {
            int32_t r = Get(work, x, y, 2), g = Get(work, x, y, 1), b = Get(work, x, y, 0);
            PencilPixel(Angle, r, g, b);
            At(work, x, y, 2) = uint8_t(r), At(work, x, y, 1) = uint8_t(g), At(work, x, y, 0) = uint8_t(b);
        }
        progress.StepBy(1);
    }
    Dst.Assign(&work);
    progress.SetPosition(0);
}

void twovaluetopen(int32_t Threshold, TBitmap32& Src, TBitmap32& Dst) {
    TBitmap32 work;
    Copy32(work, Src);
    for (int32_t y = 0; y < work.Height(); ++y)
        for (int32_t x = 0; x < work.Width(); ++x) {
            const uint8_t v = Get(work, x, y, 2) > Threshold ? 255 : 0;
            At(work, x, y, 0) = At(work, x, y, 1) = At(work, x, y, 2) = v;
            At(work, x, y, 3) = uint8_t(255 - v);
        }
    Dst.Assign(&work);
}

void picsobel(TBitmap32& Bmp, const TRect& invertRect, IProgressBar& progress) {
    TBitmap32 out, ref;
    Copy32(out, Bmp);
    Copy32(ref, out);
    const int32_t w = out.Width(), h = out.Height();
    if (h >= 3 && w >= 3) {
        for (int32_t y = 1; y <= h - 2; ++y) {
            for (int32_t x = 1; x <= w - 2; ++x)
                for (int32_t c : kColourChannels) {
                    auto s = [&](int32_t dx, int32_t dy) { return Get(ref, x + dx, y + dy, c); };
                    const int32_t gx = num::Clamp255(-s(-1, -1) + s(1, -1) - 2 * s(-1, 0) + 2 * s(1, 0) -
                                                     s(-1, 1) + s(1, 1));
                    const int32_t gy =
                        num::Clamp255(-s(-1, -1) - s(0, -1) - s(1, -1) + s(-1, 1) + s(0, 1) + s(1, 1));
                    const int32_t gc =
                        num::Clamp255(s(-1, -1) + s(-1, 0) + s(-1, 1) - s(1, -1) - s(1, 0) - s(1, 1));
                    At(out, x, y, c) = uint8_t(std::max(gx, std::max(gy, gc)));
                }
            progress.StepBy(1);
        }
    }
    progress.SetPosition(0);
    if (w >= 2 && h >= 2) {
        for (int32_t y = 1; y <= h - 2; ++y)
            for (int32_t c : kColourChannels) {
                At(out, 0, y, c) = At(out, 1, y, c);
                At(out, w - 1, y, c) = At(out, w - 2, y, c);
            }
        for (int32_t x = 0; x < w; ++x)
            for (int32_t c : kColourChannels) {
                At(out, x, 0, c) = At(out, x, 1, c);
                At(out, x, h - 1, c) = At(out, x, h - 2, c);
            }
    }
    Bmp.Assign(&out);
    Bmp.Canvas().InvertRect(invertRect);
}

void sharpen(int32_t A, TBitmap32& Bmp, IProgressBar& progress) {
    TBitmap32 out, ref;
    Copy32(out, Bmp);
    Copy32(ref, out);
    const int32_t w = out.Width(), h = out.Height();
    if (A >= 0) {
        for (int32_t y = A; y <= h - A - 1; ++y) {
            for (int32_t x = A; x <= w - A - 1; ++x)
                for (int32_t c : {2, 0, 1}) {
                    const int32_t v = 5 * Get(ref, x, y, c) - Get(ref, x, y - A, c) - Get(ref, x - A, y, c) -
                                      Get(ref, x + A, y, c) - Get(ref, x, y + A, c);
                    At(out, x, y, c) = num::ClampByte(v);
                }
            progress.StepBy(1);
        }
    }
    progress.SetPosition(0);
    Bmp.Assign(&out);
}

void soften(int32_t A, TBitmap32& Bmp, IProgressBar& progress) {
    TBitmap32 out, ref;
    Copy32(out, Bmp);
    Copy32(ref, Bmp);
    const int32_t w = out.Width(), h = out.Height();
    if (A >= 0) {
        for (int32_t y = A; y <= h - A - 1; ++y) {
            for (int32_t x = A; x <= w - A - 1; ++x)
                for (int32_t c : kColourChannels) {
                    int32_t s[9];
                    int32_t n = 0;
                    for (int32_t dy : {-A, 0, A})
                        for (int32_t dx : {-A, 0, A}) s[n++] = Get(ref, x + dx, y + dy, c);
                    SelectionSort(s, 8);
                    At(out, x, y, c) = uint8_t(std::min(255, s[4]));
                }
            progress.StepBy(1);
        }
    }
    progress.SetPosition(0);
    Bmp.Assign(&out);
}

void dosoften(int32_t A, TBitmap32& Bmp, IProgressBar& progress) {
    TBitmap32 work;
    Copy32(work, Bmp);
    soften(A - 1, work, progress);
    sharpen(A, work, progress);
    Bmp.Assign(&work);
}

void Blur(int32_t A, TBitmap32& Bmp, IProgressBar& progress) {
    TBitmap32 out, ref;
    Copy32(out, Bmp);
    Copy32(ref, Bmp);
    const int32_t w = out.Width(), h = out.Height();
    if (A >= 1) {
        for (int32_t y = A; y <= h - A - 1; ++y) {
            for (int32_t x = A; x <= w - A - 1; ++x)
                for (int32_t c : kColourChannels) {
                    auto s = [&](int32_t dx, int32_t dy) { return Get(ref, x + dx * A, y + dy, c); };
                    const int32_t sum = s(-1, -1) + 2 * s(0, -1) + s(1, -1) + 2 * s(-1, 0) + 4 * s(0, 0) +
                                        2 * s(1, 0) + s(-1, 1) + 2 * s(0, 1) + s(1, 1);
                    At(out, x, y, c) = num::ClampByte(num::Round32(LD(sum) / 16));
                }
            progress.StepBy(1);
        }
    }
    progress.SetPosition(0);
    Bmp.Assign(&out);
}

void Exposure(TBitmap32& Bmp, int32_t Threshold, IProgressBar& progress) {
    Bmp.SetPixelFormat(TPixelFormat::pf24bit);
    for (int32_t y = 0; y < Bmp.Height(); ++y) {
        uint8_t* row = Bmp.ScanLine(y);
        for (int32_t x = 0; x < Bmp.Width(); ++x)
            for (int32_t c : {2, 1, 0})
                if (row[3 * x + c] < Threshold) row[3 * x + c] = uint8_t(255 - row[3 * x + c]);
        progress.StepBy(1);
    }
    progress.SetPosition(0);
}

void BuildSketchLayer(const TBitmap& source, TSketchShape shape, int32_t level, TBitmap32& layer,
                      IProgressBar& progress) {
    TBitmap32 edge, grey, tone;
    Copy32(edge, source);
    picsobel(edge, Rect(0, 0, edge.Width(), edge.Height()), progress);
    Copy32(grey, edge);
    for (int32_t y = 0; y < grey.Height(); ++y)
        for (int32_t x = 0; x < grey.Width(); ++x) {
            const int32_t t = num::ClampByte(num::Round32(0.3L * Get(grey, x, y, 2) + 0.59L * Get(grey, x, y, 1) +
                                                          0.11L * Get(grey, x, y, 0)));
            At(grey, x, y, 0) = At(grey, x, y, 1) = At(grey, x, y, 2) = uint8_t(t);
            if (shape == TSketchShape::Pencil)
                At(grey, x, y, 3) = uint8_t(num::Round32(sqrtl(65025.0L - LD(t) * t)));
        }
    Copy32(tone, grey);
    if (shape == TSketchShape::Pencil)
        convertimg1(level, tone, layer, progress);
    else
        twovaluetopen(level, tone, layer);
}

void DrawTo(const TBitmap32& layer, TBitmap& dest) {
    dest.SetPixelFormat(TPixelFormat::pf32bit);
    for (int32_t y = dest.Height() - 1; y >= 0; --y)
        for (int32_t x = 0; x < dest.Width(); ++x) At(dest, x, y, 3) = 255;
    const int32_t w = std::min(dest.Width(), layer.Width()), h = std::min(dest.Height(), layer.Height());
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            TBitmap32::BlendPixel(reinterpret_cast<uint32_t*>(dest.ScanLine(y))[x],
                                  reinterpret_cast<const uint32_t*>(layer.ScanLine(y))[x]);
}

}  // namespace sketch::ref
