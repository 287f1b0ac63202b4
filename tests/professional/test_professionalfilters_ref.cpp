// The fast Professional filters against plain scalar versions that follow
// the described steps literally (copies, one pixel at a time, one thread):
// same bytes on odd sizes and on the sample picture, for 1 and 8 threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/Hsl.h"
#include "app/Image32.h"
#include "app/Random.h"
#include "platform/core/Parallel.h"
#include "professional/ProfessionalFilters.h"
#include "professional/ProfessionalFiltersRef.h"

namespace ref = pro::ref;

namespace {

using Filter = std::function<void(TBitmap32&, IProgressBar&)>;

struct Pair {
    std::string name;
    Filter fast, slow;
};

std::vector<Pair> Filters() {
    const int32_t sharp[9] = {-1, -1, -1, -1, 9, -1, -1, -1, -1};
    auto convolve = [sharp](uint16_t d, bool fast) {
        return [sharp, d, fast](TBitmap32& b, IProgressBar& p) {
            int32_t k[9];
            std::copy(sharp, sharp + 9, k);
            if (fast) pro::Convolve(k, d, b, p);
            else ref::Convolve(k, d, b, p);
        };
    };
    return {
        {"hsladjust default", [](auto& b, auto& p) { pro::hsladjust(170, 100, 120, b, p); },
         [](auto& b, auto& p) { ref::hsladjust(170, 100, 120, b, p); }},
        {"hsladjust strong", [](auto& b, auto& p) { pro::hsladjust(13, 160, 55, b, p); },
         [](auto& b, auto& p) { ref::hsladjust(13, 160, 55, b, p); }},
        {"colorzone 0", [](auto& b, auto& p) { pro::colorzone(0, b, p); },
         [](auto& b, auto& p) { ref::colorzone(0, b, p); }},
        {"colorzone -12", [](auto& b, auto& p) { pro::colorzone(-12, b, p); },
         [](auto& b, auto& p) { ref::colorzone(-12, b, p); }},
        {"colorzone 13", [](auto& b, auto& p) { pro::colorzone(13, b, p); },
         [](auto& b, auto& p) { ref::colorzone(13, b, p); }},
        {"colorzone -51", [](auto& b, auto& p) { pro::colorzone(-51, b, p); },
         [](auto& b, auto& p) { ref::colorzone(-51, b, p); }},
        {"colorzone 52", [](auto& b, auto& p) { pro::colorzone(52, b, p); },
         [](auto& b, auto& p) { ref::colorzone(52, b, p); }},
        {"Brume 1", [](auto& b, auto& p) { pro::Brume(1, b, p); }, [](auto& b, auto& p) { ref::Brume(1, b, p); }},
        {"Brume 10", [](auto& b, auto& p) { pro::Brume(10, b, p); }, [](auto& b, auto& p) { ref::Brume(10, b, p); }},
        {"fringe1", &pro::fringe1, &ref::fringe1},
        {"Convolve /3", convolve(3, true), convolve(3, false)},
        {"Convolve /0", convolve(0, true), convolve(0, false)},
        {"fringe2", &pro::fringe2, &ref::fringe2},
        {"fringe3", &pro::fringe3, &ref::fringe3},
        {"pinghua", &pro::pinghua, &ref::pinghua},
    };
}

// Every byte random, alpha included (a small local generator, not the
// program's shared one).
void Noise(TBitmap32& bmp, int32_t w, int32_t h, uint32_t seed) {
    bmp.SetSize(w, h);
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = bmp.ScanLine(y);
        for (int32_t i = 0; i < 4 * w; ++i) {
            seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
            row[i] = uint8_t(seed >> 7);
        }
    }
}

void ExpectSameBytes(const TBitmap& a, const TBitmap& b, const std::string& what) {
    ASSERT_EQ(a.PixelFormat(), b.PixelFormat()) << what;
    ASSERT_EQ(a.Width(), b.Width()) << what;
    ASSERT_EQ(a.Height(), b.Height()) << what;
    for (int32_t y = 0; y < a.Height(); ++y)
        ASSERT_EQ(std::memcmp(a.ScanLine(y), b.ScanLine(y), size_t(a.Width()) * 4), 0) << what << " row " << y;
}

class ProfessionalAgainstReference : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        saved_ = par::ThreadCount();
        par::SetThreadCount(GetParam());
    }
    void TearDown() override { par::SetThreadCount(saved_); }

    // Runs both versions on copies of input, from the same generator state.
    static void Compare(const Pair& f, const TBitmap32& input, const std::string& what) {
        TBitmap32 fast, slow;
        fast.Assign(&input);
        slow.Assign(&input);
        if (input.PixelFormat() != TPixelFormat::pf32bit) {
            fast.SetPixelFormat(input.PixelFormat());
            slow.SetPixelFormat(input.PixelFormat());
        }
        TNullProgressBar p1, p2;
        rnd::SetSeed(0x5EED1234u);
        f.fast(fast, p1);
        const uint32_t fastSeed = rnd::Seed();
        rnd::SetSeed(0x5EED1234u);
        f.slow(slow, p2);
        EXPECT_EQ(fastSeed, rnd::Seed()) << f.name << " " << what;
        EXPECT_EQ(p1.Position(), 0);
        ExpectSameBytes(fast, slow, f.name + " " + what);
    }

private:
    int saved_ = 1;
};

TEST_P(ProfessionalAgainstReference, OddSizes) {
    const std::pair<int32_t, int32_t> sizes[] = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {2, 5}, {5, 2},
                                                 {3, 3}, {7, 5}, {64, 33}, {257, 3}};
    for (const Pair& f : Filters())
        for (auto [w, h] : sizes) {
            TBitmap32 input;
            Noise(input, w, h, uint32_t(w * 1000 + h));
            Compare(f, input, std::to_string(w) + "x" + std::to_string(h));
        }
}

TEST_P(ProfessionalAgainstReference, TwentyFourBitInput) {
    for (const Pair& f : Filters()) {
        TBitmap32 input;
        Noise(input, 7, 5, 99);
        input.SetPixelFormat(TPixelFormat::pf24bit);
        Compare(f, input, "24-bit 7x5");
    }
}

TEST_P(ProfessionalAgainstReference, SamplePicture) {
    TBitmap32 sample;
    sample.LoadFromFile(QUILLARC_SAMPLE);
    ASSERT_EQ(sample.Width(), 364);
    for (const Pair& f : Filters()) Compare(f, sample, "sample");
    // As in the dialog's pipeline: few colours reach the HSL step.
    TBitmap32 zoned;
    zoned.Assign(&sample);
    TNullProgressBar p;
    pro::colorzone(0, zoned, p);
    Compare(Filters()[0], zoned, "sample after colorzone");
}

INSTANTIATE_TEST_SUITE_P(Threads, ProfessionalAgainstReference, ::testing::Values(1, 8));

}  // namespace
