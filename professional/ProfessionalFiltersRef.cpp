#include "professional/ProfessionalFiltersRef.h"

#include <algorithm>
#include <cstring>

#include "app/Hsl.h"
#include "app/Random.h"
#include "professional/ProfessionalFilters.h"

namespace pro::ref {


namespace {

using Row = uint8_t*;

int32_t Clamp(int64_t v) { return v < 0 ? 0 : (v > 255 ? 255 : static_cast<int32_t>(v)); }

}  // namespace

void hsladjust(int32_t H, int32_t S, int32_t L, TBitmap32& Bmp, IProgressBar& progress) {
    TBitmap32 work;
    work.Assign(&Bmp);
    for (int32_t y = 0; y < work.Height(); ++y) {
        Row row = work.ScanLine(y);
        for (int32_t x = 0; x < work.Width(); ++x) {
            uint8_t* p = row + 4 * x;
            int32_t h, s, l;
            RGBToHSL(p[2], p[1], p[0], h, s, l);
            h = static_cast<int32_t>((int64_t(h) + H + 180) % 360);
            s = static_cast<int32_t>(std::clamp<int64_t>(int64_t(s) + S - 100, 0, 100));
            l = static_cast<int32_t>(std::clamp<int64_t>(int64_t(l) + L - 100, 0, 100));
            int32_t r, g, b;
            HSLToRGB(h, s, l, r, g, b);
            p[0] = uint8_t(b), p[1] = uint8_t(g), p[2] = uint8_t(r), p[3] = 255;
        }
        progress.StepBy(1);
    }
    progress.SetPosition(0);
    Bmp.Assign(&work);
}

void colorzone(int32_t Offset, TBitmap32& Bmp, IProgressBar& progress) {
    TBitmap32 work;
    work.Assign(&Bmp);
    const int64_t o = Offset;
    for (int32_t y = 1; y < work.Height(); ++y) {
        Row row = work.ScanLine(y);
        for (int32_t x = 1; x < work.Width(); ++x) {
            for (int32_t c : {2, 1, 0}) {
                const int32_t v = row[4 * x + c];
                int32_t level;
                if (v < o) level = 0;
                else if (v < o + 51) level = 25;
                else if (v < o + 102) level = 76;
                else if (v < o + 153) level = 127;
                else if (v < o + 204) level = 178;
                else if (v < o + 255) level = 229;
                else level = 255;
                row[4 * x + c] = uint8_t(level);
            }
            row[4 * x + 3] = 255;
        }
        progress.StepBy(1);
    }
    progress.SetPosition(0);
    Bmp.Assign(&work);
}

void Brume(int32_t N, TBitmap32& Bmp, IProgressBar& progress) {
    TBitmap32 work, source;
    work.Assign(&Bmp);
    source.Assign(&Bmp);
    const int32_t h = work.Height(), w = work.Width();
    for (int32_t y = 1; y < h; ++y) {
        for (int32_t x = 1; x < w; ++x) {
            const int64_t dy = int64_t(rnd::Random(uint32_t(N + 3))) - N;
            const int64_t dx = int64_t(rnd::Random(uint32_t(N + 3))) - N;
            int64_t sy = y + dy;
            if (sy >= h) sy = h - 1;
            else if (sy < 0) sy = 0;
            int64_t sx = x + dx;
            if (sx >= w) sx = w - 1;
            else if (sx < 0) sx = 0;
            const uint8_t* s = source.ScanLine(int32_t(sy)) + 4 * sx;
            uint8_t* d = work.ScanLine(y) + 4 * x;
            d[0] = s[0], d[1] = s[1], d[2] = s[2], d[3] = 255;
        }
        progress.StepBy(1);
    }
    progress.SetPosition(0);
    Bmp.Assign(&work);
}

void Convolve(const int32_t (&K)[9], uint16_t Divisor, TBitmap& Bmp, IProgressBar& progress) {
    TBitmap32 src;
    src.Assign(&Bmp);
    Bmp.SetPixelFormat(TPixelFormat::pf32bit);
    const int64_t div = Divisor == 0 ? 1 : Divisor;
    for (int32_t y = 1; y + 1 < src.Height(); ++y) {
        for (int32_t x = 1; x + 1 < src.Width(); ++x) {
            for (int32_t c : {2, 0, 1}) {
                int64_t sum = 0;
                int k = 0;
                for (int32_t dy = -1; dy <= 1; ++dy)
                    for (int32_t dx = -1; dx <= 1; ++dx) sum += int64_t(K[k++]) * src.ScanLine(y + dy)[4 * (x + dx) + c];
                Bmp.ScanLine(y)[4 * x + c] = uint8_t(Clamp(sum / div));
            }
            Bmp.ScanLine(y)[4 * x + 3] = 255;
        }
        progress.StepBy(1);
    }
    progress.SetPosition(0);
}

void fringe1(TBitmap32& Bmp, IProgressBar& progress) {
    TBitmap tmp;
    pro::CopyMe(tmp, Bmp);
    const int32_t k[9] = {1, 2, 1, 0, 0, 0, -1, -1, -1};
    Convolve(k, 1, tmp, progress);
    Bmp.Assign(&tmp);
}

namespace {

void FillBorder(TBitmap32& work) {
    const int32_t w = work.Width(), h = work.Height();
    if (w < 2 || h < 2) return;
    for (int32_t y = 1; y <= h - 2; ++y) {
        Row r = work.ScanLine(y);
        std::memcpy(r, r + 4, 3);
        std::memcpy(r + 4 * (w - 1), r + 4 * (w - 2), 3);
    }
    for (int32_t x = 0; x < w; ++x) std::memcpy(work.ScanLine(0) + 4 * x, work.ScanLine(1) + 4 * x, 3);
    for (int32_t x = 0; x < w; ++x) std::memcpy(work.ScanLine(h - 1) + 4 * x, work.ScanLine(h - 2) + 4 * x, 3);
}

template <class Edge>
void EdgeStyle(TBitmap32& Bmp, IProgressBar& progress, Edge edge) {
    TBitmap32 work, src;
    work.Assign(&Bmp);
    src.Assign(&work);
    for (int32_t y = 1; y + 1 < src.Height(); ++y) {
        for (int32_t x = 1; x + 1 < src.Width(); ++x) {
            for (int32_t c : {2, 1, 0}) {
                auto at = [&](int32_t dx, int32_t dy) -> int32_t { return src.ScanLine(y + dy)[4 * (x + dx) + c]; };
                work.ScanLine(y)[4 * x + c] = uint8_t(edge(at));
            }
            work.ScanLine(y)[4 * x + 3] = 0;
        }
        progress.StepBy(1);
    }
    progress.SetPosition(0);
    FillBorder(work);
    work.Canvas().InvertRect(work.Canvas().ClipRect());
    Bmp.Assign(&work);
}

template <class At>
int32_t PopArt(const At& at) {
    const int32_t gv = Clamp(at(-1, 1) + 2 * at(0, 1) + at(1, 1) - at(-1, -1) - 2 * at(0, -1) - at(1, -1));
    const int32_t gh = Clamp(at(1, -1) + 2 * at(1, 0) + at(1, 1) - at(-1, -1) - 2 * at(-1, 0) - at(-1, 1));
    return std::max(gv, gh);
}
template <class At>
int32_t Abstract(const At& at) {
    return Clamp(at(-1, -1) + at(-1, 0) + at(-1, 1) - at(1, -1) - at(1, 0) - at(1, 1));
}

}  // namespace

void fringe2(TBitmap32& Bmp, IProgressBar& p) {
    EdgeStyle(Bmp, p, [](const auto& at) { return PopArt(at); });
}
void fringe3(TBitmap32& Bmp, IProgressBar& p) {
    EdgeStyle(Bmp, p, [](const auto& at) { return Abstract(at); });
}

void pinghua(TBitmap32& Bmp, IProgressBar& progress) {
    TBitmap32 out, src;
    out.Assign(&Bmp);
    src.Assign(&Bmp);
    static const int32_t weight[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
    for (int32_t y = 1; y + 1 < src.Height(); ++y) {
        for (int32_t x = 1; x + 1 < src.Width(); ++x)
            for (int32_t c : {2, 1, 0}) {
                int32_t sum = 0, k = 0;
                for (int32_t dy = -1; dy <= 1; ++dy)
                    for (int32_t dx = -1; dx <= 1; ++dx) sum += weight[k++] * src.ScanLine(y + dy)[4 * (x + dx) + c];
                out.ScanLine(y)[4 * x + c] = uint8_t(Clamp(sum / 16));
            }
        progress.StepBy(1);
    }
    progress.SetPosition(0);
    Bmp.Assign(&out);
}

}  // namespace pro::ref
