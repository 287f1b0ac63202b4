// The PNG reader over files made by independent tools and damaged files
// (tests/data/png), the row filters, and what one load leaves for the next.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "rasterformats/Png.h"
#include "rasterformats/RasterStrings.h"
#include "tests/rasterformats/RasterFiles.h"
#include "tests/rasterformats/ReaderBytes.h"

namespace {

const std::string kDir = rastertest::GeneratedDir("png");

void Load(TPNGGraphic& graphic, const std::string& name) { graphic.LoadFromFile(kDir + "/" + name); }

}  // namespace

TEST(Png, FilesFromIndependentToolsMatchTheirReferences) {
    readerbytes::CheckGeneratedFamily<TPNGGraphic>("png", 110);
}

TEST(Png, SignatureAloneIsNoPicture) {
    using readerbytes::operator+;
    const readerbytes::Bytes signature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    EXPECT_FALSE(readerbytes::Accepts<TPNGGraphic>(signature));
    EXPECT_TRUE(readerbytes::Accepts<TPNGGraphic>(signature + readerbytes::Bytes{0}));
}

TEST(Png, PixelFormatsAndImageProperties) {
    struct Case {
        const char* file;
        TPixelFormat format;
        uint8_t bitsPerPixel;
        bool interlaced, alpha;
    } cases[] = {
        {"pypng-ct0-1-13x11.png", TPixelFormat::pf1bit, 1, false, false},
        {"pypng-ct0-2-13x11.png", TPixelFormat::pf4bit, 2, false, false},
        {"pypng-ct0-16-i-13x11.png", TPixelFormat::pf8bit, 16, true, false},
        {"pypng-ct3-2-13x11.png", TPixelFormat::pf4bit, 2, false, false},
        {"pypng-ct4-8-13x11.png", TPixelFormat::pf8bit, 8, false, true},
        {"pypng-ct2-16-13x11.png", TPixelFormat::pf24bit, 48, false, false},
        {"pypng-ct6-8-i-13x11.png", TPixelFormat::pf32bit, 32, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TPNGGraphic graphic;
        Load(graphic, c.file);
        EXPECT_EQ(graphic.PixelFormat(), c.format);
        EXPECT_EQ(graphic.ImageProperties.BitsPerPixel, c.bitsPerPixel);
        EXPECT_EQ(graphic.ImageProperties.Interlaced, c.interlaced);
        EXPECT_EQ(graphic.ImageProperties.HasAlpha, c.alpha);
    }
}

// Gamma, background and transparency belong to one file: a file without
// them, loaded into the same object after one with them, reads as it does
// into a fresh object.
TEST(Png, NothingCarriesOverFromTheLastLoad) {
    const char* plain = "pypng-ct2-8-i-13x11.png";  // no gAMA, no tRNS
    const char* marked = "pypng-ct2-16-i-13x11.png";  // gAMA 2.2 and tRNS
    TPNGGraphic fresh, reused;
    Load(fresh, plain);
    Load(reused, marked);
    EXPECT_NE(reused.ImageProperties.FileGamma, 1.0f);
    EXPECT_TRUE(reused.Transparent());
    EXPECT_EQ(reused.TransparentColor(), RGB(0, 0, 0));  // the 16-bit sample 1, reduced
    Load(reused, plain);
    EXPECT_FALSE(reused.Transparent());
    EXPECT_EQ(reused.ImageProperties.FileGamma, 1.0f);
    EXPECT_FALSE(reused.ColorManager().TargetFlags & cfApplyGamma);
    EXPECT_EQ(rastertest::Compare(rastertest::Expand(reused), rastertest::Expand(fresh), "exact"), "");
    // A failed load leaves an empty picture, and the next one loads.
    EXPECT_THROW(Load(reused, "d-crc-idat.png"), EInvalidGraphic);
    EXPECT_TRUE(reused.Empty());
    Load(reused, plain);
    EXPECT_EQ(rastertest::Compare(rastertest::Expand(reused), rastertest::Expand(fresh), "exact"), "");
}

TEST(Png, ProgressOfAnInterlacedLoad) {
    TPNGGraphic graphic;
    std::vector<std::string> events;
    graphic.OnProgress = [&](TObject*, TProgressStage stage, uint8_t percent, bool, const TRect& r,
                             const std::string& msg) {
        events.push_back(std::to_string(int(stage)) + " " + std::to_string(percent) + " " + std::to_string(r.Top) +
                         (msg.empty() ? "" : " " + msg));
    };
    Load(graphic, "pypng-ct0-1-i-1x9.png");
    // Only the last pass, which holds the odd rows, reports its rows.
    EXPECT_EQ(events, (std::vector<std::string>{"0 0 0 Preparing...", "2 0 0", "0 0 0 Transfering...", "1 22 0",
                                                 "1 44 1", "1 67 2", "1 89 3", "2 0 4"}));
}

// The whole-row filters against the byte-by-byte ones, for every pixel size
// and filter type (5 does not exist), on rows of 1 to 3 pixels and on long
// ones; the predictor against its definition on every input.
TEST(Png, FiltersGiveTheSameBytesBothWays) {
    std::mt19937 random(11);
    for (uint32_t bpp : {1u, 2u, 3u, 4u, 6u, 8u}) {
        for (uint8_t type = 0; type <= 5; ++type) {
            for (size_t pixels : {1, 2, 3, 257}) {
                const size_t length = pixels * bpp;
                std::vector<uint8_t> prior(length), row(length);
                for (auto& v : prior) v = static_cast<uint8_t>(random());
                for (auto& v : row) v = static_cast<uint8_t>(random());
                std::vector<uint8_t> fast = row, plain = row;
                ApplyPNGFilter(type, fast.data(), prior.data(), length, bpp);
                ApplyPNGFilterBytes(type, plain.data(), prior.data(), length, bpp);
                ASSERT_EQ(fast, plain) << "bpp " << bpp << " type " << int(type) << " pixels " << pixels;
            }
        }
    }
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b)
            for (int c = 0; c < 256; ++c) {
                const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                const int want = pa <= pb && pa <= pc ? a : (pb <= pc ? b : c);
                if (PaethPredictor(uint8_t(a), uint8_t(b), uint8_t(c)) != want)
                    FAIL() << a << " " << b << " " << c;
            }
}
