// The Professional dialog's own filters.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "app/Image32.h"
#include "platform/core/Progress.h"

namespace pro {

// hsladjust's rule for one pixel (alpha 255), remembered by colour: after
// the posteriser a picture has at most 343 colours, and on a photo
// neighbouring pixels repeat often. One per thread.
class THslRule {
public:
    THslRule(int32_t H, int32_t S, int32_t L);
    uint32_t operator()(uint32_t pixel) {
        const uint32_t colour = pixel & 0x00FFFFFFu;
        Slot& slot = slots_[(colour * 0x9E3779B1u) >> (32 - kBits)];
        if (slot.key != colour) slot = {colour, Compute(colour)};
        return slot.value;
    }

private:
    struct Slot {
        uint32_t key, value;
    };
    static constexpr int kBits = 14;                  // 128 KiB
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu;  // no 24-bit colour has it
    uint32_t Compute(uint32_t colour) const;
    int32_t h_, s_, l_;
    std::unique_ptr<Slot[]> slots_;
};

// colorzone's level for every channel value.
std::array<uint8_t, 256> ZoneLevels(int32_t offset);

// The point filters of a conversion's base, in their pipeline order,
// applied to one pixel at a time so that a run of them costs one pass:
// colorzone (not on row 0 and column 0), the exposure of
// TMainForm.Exposure with the return to 32 bits after it (alpha 0), and
// hsladjust. The same bytes as the filters one after the other.
struct TPointChain {
    bool Zone = false, Exposure = false, Hsl = false;
    std::array<uint8_t, 256> ZoneLut{}, Solarise{};
    int32_t H = 0, S = 0, L = 0;

    void SetZone(int32_t offset);
    void SetExposure(int32_t threshold);
    void SetHsl(int32_t h, int32_t s, int32_t l);
    bool Empty() const { return !Zone && !Exposure && !Hsl; }

    // The function of one block of rows: fn(pixel, x, y).
    class Fn {
    public:
        explicit Fn(const TPointChain& chain);
        uint32_t operator()(uint32_t p, int32_t x, int32_t y) {
            if (c_->Zone && x >= 1 && y >= 1) p = Levels(c_->ZoneLut, p) | 0xFF000000u;
            if (c_->Exposure) p = Levels(c_->Solarise, p);
            if (rule_) p = (*rule_)(p);
            return p;
        }

    private:
        static uint32_t Levels(const std::array<uint8_t, 256>& lut, uint32_t p) {
            return uint32_t(lut[p & 0xFF]) | (uint32_t(lut[(p >> 8) & 0xFF]) << 8) |
                   (uint32_t(lut[(p >> 16) & 0xFF]) << 16);
        }
        const TPointChain* c_;
        std::unique_ptr<THslRule> rule_;
    };
    Fn MakeFn() const { return Fn(*this); }
};

void hsladjust(int32_t H, int32_t S, int32_t L, TBitmap32& Bmp, IProgressBar& progress);
void colorzone(int32_t Offset, TBitmap32& Bmp, IProgressBar& progress);
// The same from a 32-bit Src into Dst (which may be Src).
void colorzone(int32_t Offset, const TBitmap& Src, TBitmap32& Dst, IProgressBar& progress);
// Scatter; draws two numbers per changed pixel from the shared generator.
void Brume(int32_t N, TBitmap32& Bmp, IProgressBar& progress);
void fringe1(TBitmap32& Bmp, IProgressBar& progress);
void CopyMe(TBitmap& Dst, const TBitmap32& Src);
void Convolve(const int32_t (&Kernel)[9], uint16_t Divisor, TBitmap& Bmp, IProgressBar& progress);
void fringe2(TBitmap32& Bmp, IProgressBar& progress);
void fringe3(TBitmap32& Bmp, IProgressBar& progress);
void pinghua(TBitmap32& Bmp, IProgressBar& progress);

}  // namespace pro
