#include <gtest/gtest.h>

#include <filesystem>

#include <functional>
#include <vector>

#include "platform/core/Icon.h"

namespace {

void Put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

// Colour of pixel (x, y) counted from the top: 0x00BBGGRR, or an index for
// the indexed depths; alpha only for 32 bits.
struct Image {
    int w, h, bits;
    std::function<uint32_t(int, int)> color;
    std::function<bool(int, int)> masked = [](int, int) { return false; };
    std::function<uint8_t(int, int)> alpha = [](int, int) { return uint8_t(0); };
    std::vector<uint32_t> palette = {};  // 0x00RRGGBB as stored (blue first)
    bool writeMask = true;
};

std::vector<uint8_t> Dib(const Image& im) {
    std::vector<uint8_t> d;
    Put32(d, 40);
    Put32(d, uint32_t(im.w));
    Put32(d, uint32_t(im.h * 2));
    Put16(d, 1);
    Put16(d, uint32_t(im.bits));
    for (int i = 0; i < 6; ++i) Put32(d, 0);
    if (im.bits <= 8) {
        for (size_t i = 0; i < (size_t(1) << im.bits); ++i) Put32(d, i < im.palette.size() ? im.palette[i] : 0);
    }
    const size_t stride = ((size_t(im.w) * im.bits + 31) / 32) * 4;
    for (int r = im.h - 1; r >= 0; --r) {
        std::vector<uint8_t> row(stride, 0);
        for (int x = 0; x < im.w; ++x) {
            const uint32_t c = im.color(x, r);
            if (im.bits <= 8) {
                const int per = 8 / im.bits;
                row[x / per] |= uint8_t(c << (8 - im.bits * (x % per + 1)));
            } else {
                const size_t at = size_t(x) * (im.bits / 8);
                row[at] = uint8_t(c >> 16), row[at + 1] = uint8_t(c >> 8), row[at + 2] = uint8_t(c);
                if (im.bits == 32) row[at + 3] = im.alpha(x, r);
            }
        }
        d.insert(d.end(), row.begin(), row.end());
    }
    if (!im.writeMask) return d;
    const size_t maskStride = ((size_t(im.w) + 31) / 32) * 4;
    for (int r = im.h - 1; r >= 0; --r) {
        std::vector<uint8_t> row(maskStride, 0);
        for (int x = 0; x < im.w; ++x)
            if (im.masked(x, r)) row[x / 8] |= uint8_t(0x80 >> (x % 8));
        d.insert(d.end(), row.begin(), row.end());
    }
    return d;
}

std::vector<uint8_t> Ico(const std::vector<std::vector<uint8_t>>& images, const std::vector<std::pair<int, int>>& sizes) {
    std::vector<uint8_t> f;
    Put16(f, 0);
    Put16(f, 1);
    Put16(f, uint32_t(images.size()));
    uint32_t offset = uint32_t(6 + 16 * images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        f.push_back(uint8_t(sizes[i].first));
        f.push_back(uint8_t(sizes[i].second));
        f.push_back(0);
        f.push_back(0);
        Put16(f, 1);
        Put16(f, 0);
        Put32(f, uint32_t(images[i].size()));
        Put32(f, offset);
        offset += uint32_t(images[i].size());
    }
    for (const auto& im : images) f.insert(f.end(), im.begin(), im.end());
    return f;
}

Image Solid(int size, int bits, uint32_t rgb) {
    Image im{size, size, bits, [rgb](int, int) { return rgb; }};
    if (bits <= 8) {
        im.palette = {0, rgb};
        im.color = [](int, int) { return 1u; };
    } else {
        // Dib() writes blue, green, red from bits 16, 8, 0 of a direct colour.
        const uint32_t bgr = ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
        im.color = [bgr](int, int) { return bgr; };
    }
    if (bits == 32) im.alpha = [](int, int) { return uint8_t(255); };
    return im;
}

void Load(TIcon& icon, const std::vector<uint8_t>& bytes) {
    TMemoryStream ms;
    ms.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    ms.SetPosition(0);
    icon.LoadFromStream(ms);
}

std::string LoadError(const std::vector<uint8_t>& bytes) {
    TIcon icon;
    try {
        Load(icon, bytes);
    } catch (const EInvalidGraphic& e) {
        return e.Message();
    }
    return "";
}

void Fill24(TBitmap& b, int w, int h, uint8_t grey) {
    b.SetPixelFormat(TPixelFormat::pf24bit);
    b.SetSize(w, h);
    b.Canvas().Brush.Color = RGB(grey, grey, grey);
    b.Canvas().FillRect(Rect(0, 0, w, h));
}

}  // namespace

// Palette words are stored blue, green, red: 0x00RRGGBB read as a word.
constexpr uint32_t kRedWord = 0x00FF0000, kGreenWord = 0x0000FF00, kBlueWord = 0x000000FF;

TEST(Icon, PicksTheLargeIconSizeWithTheMostColours) {
    TIcon icon;
    Load(icon, Ico({Dib(Solid(16, 32, kGreenWord)), Dib(Solid(32, 4, kBlueWord)), Dib(Solid(32, 32, kRedWord)),
                    Dib(Solid(48, 32, 0xFFFFFF))},
                   {{16, 16}, {32, 32}, {32, 32}, {48, 48}}));
    EXPECT_EQ(icon.Width(), 32);
    EXPECT_EQ(icon.Height(), 32);
    EXPECT_EQ(icon.ColorBitmap().Pixel(5, 5), clRed);
    EXPECT_EQ(TPicture::ClassForExtension("ico"), &TIcon::StaticClass());
}

TEST(Icon, WithoutA32PixelImageTakesTheNearestSizeAndTheEarlierOnATie) {
    TIcon a;
    Load(a, Ico({Dib(Solid(48, 8, kBlueWord)), Dib(Solid(24, 8, kGreenWord))}, {{48, 48}, {24, 24}}));
    EXPECT_EQ(a.Width(), 24);
    TIcon b;
    Load(b, Ico({Dib(Solid(48, 8, kBlueWord)), Dib(Solid(16, 8, kGreenWord))}, {{48, 48}, {16, 16}}));
    EXPECT_EQ(b.Width(), 48);
    EXPECT_EQ(b.ColorBitmap().Pixel(0, 0), clBlue);
}

TEST(Icon, DecodesEachDepthInItsColours) {
    for (int bits : {1, 4, 8, 24, 32}) {
        Image im{16, 16, bits, [](int x, int) { return uint32_t(x & 1); }};
        if (bits <= 8) {
            im.palette = {kBlueWord, kRedWord};
        } else {
            im.color = [](int x, int) { return (x & 1) ? 0x0000FFu : 0xFF0000u; };  // red, blue
            im.alpha = [](int, int) { return uint8_t(255); };
        }
        TIcon icon;
        Load(icon, Ico({Dib(im)}, {{16, 16}}));
        EXPECT_EQ(icon.ColorBitmap().Pixel(0, 3), clBlue) << bits;
        EXPECT_EQ(icon.ColorBitmap().Pixel(1, 3), clRed) << bits;
    }
}

TEST(Icon, MaskKeepsTheDestinationAndXorsTheImage) {
    // Top-left quarter masked over black, one masked pixel over white
    // (which inverts), the rest opaque red.
    Image im = Solid(16, 4, kRedWord);
    im.palette = {0, kRedWord, 0xFFFFFF};
    im.color = [](int x, int y) { return (x == 15 && y == 15) ? 2u : (x < 8 && y < 8 ? 0u : 1u); };
    im.masked = [](int x, int y) { return (x < 8 && y < 8) || (x == 15 && y == 15); };
    TIcon icon;
    Load(icon, Ico({Dib(im)}, {{16, 16}}));
    TBitmap dest;
    Fill24(dest, 16, 16, 0x40);
    dest.Canvas().Draw(0, 0, icon);
    EXPECT_EQ(dest.Pixel(3, 3), RGB(0x40, 0x40, 0x40));
    EXPECT_EQ(dest.Pixel(12, 3), clRed);
    EXPECT_EQ(dest.Pixel(15, 15), RGB(0xBF, 0xBF, 0xBF));
    EXPECT_EQ(icon.ColorBitmap().ScanLine(3)[4 * 3 + 3], 0);    // alpha of a masked pixel
    EXPECT_EQ(icon.ColorBitmap().ScanLine(3)[4 * 12 + 3], 255);
}

TEST(Icon, AlphaImagesBlendAndAnAllZeroAlphaFallsBackToTheMask) {
    Image im = Solid(8, 32, 0x000000);
    im.alpha = [](int x, int) { return uint8_t(x == 0 ? 0 : (x == 1 ? 128 : 255)); };
    TIcon icon;
    Load(icon, Ico({Dib(im)}, {{8, 8}}));
    EXPECT_TRUE(icon.HasAlpha());
    TBitmap dest;
    Fill24(dest, 8, 8, 255);
    dest.Canvas().Draw(0, 0, icon);
    EXPECT_EQ(dest.Pixel(0, 0), clWhite);
    // (0 * 128 + 255 * 127 + 127) div 255 = 127
    EXPECT_EQ(dest.Pixel(1, 0), RGB(127, 127, 127));
    EXPECT_EQ(dest.Pixel(2, 0), clBlack);

    Image old = Solid(8, 32, 0x000000);
    old.alpha = [](int, int) { return uint8_t(0); };
    old.masked = [](int x, int) { return x < 4; };
    TIcon plain;
    Load(plain, Ico({Dib(old)}, {{8, 8}}));
    EXPECT_FALSE(plain.HasAlpha());
    TBitmap dest2;
    Fill24(dest2, 8, 8, 255);
    dest2.Canvas().Draw(0, 0, plain);
    EXPECT_EQ(dest2.Pixel(1, 1), clWhite);
    EXPECT_EQ(dest2.Pixel(6, 1), clBlack);
}

TEST(Icon, A32BitImageWithoutItsMaskIsTolerated) {
    Image im = Solid(8, 32, kRedWord);
    im.alpha = [](int x, int) { return uint8_t(x < 2 ? 0 : 255); };
    im.writeMask = false;
    TIcon icon;
    Load(icon, Ico({Dib(im)}, {{8, 8}}));
    EXPECT_EQ(icon.Width(), 8);
    const uint8_t* mask = icon.MaskBitmap().ScanLine(0);
    EXPECT_EQ(mask[0] & 0xC0, 0xC0);  // transparent where alpha is 0
    EXPECT_EQ(mask[0] & 0x20, 0);
}

TEST(Icon, DrawsStretchedAndOntoA32BitBitmapWithOpaqueAlpha) {
    Image im = Solid(4, 8, kRedWord);
    im.masked = [](int x, int) { return x < 2; };
    TIcon icon;
    Load(icon, Ico({Dib(im)}, {{4, 4}}));
    TBitmap dest;
    dest.SetPixelFormat(TPixelFormat::pf32bit);
    dest.SetSize(8, 8);
    dest.Canvas().StretchDraw(Rect(0, 0, 8, 8), icon);
    EXPECT_EQ(dest.ScanLine(5)[4 * 3 + 3], 0);  // left half kept
    EXPECT_EQ(dest.ScanLine(5)[4 * 4 + 2], 255);
    EXPECT_EQ(dest.ScanLine(5)[4 * 4 + 3], 255);
    TBitmap converted;
    converted.Assign(&icon);
    EXPECT_EQ(converted.PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_EQ(converted.Width(), 4);
    EXPECT_EQ(converted.Pixel(3, 0), clRed);
}

TEST(Icon, SavesTheFileAsLoaded) {
    const auto bytes = Ico({Dib(Solid(16, 4, kBlueWord)), Dib(Solid(32, 8, kRedWord))}, {{16, 16}, {32, 32}});
    TIcon icon;
    Load(icon, bytes);
    TMemoryStream out;
    icon.SaveToStream(out);
    EXPECT_EQ(std::vector<uint8_t>(out.Memory(), out.Memory() + out.Size()), bytes);
    TIcon empty;
    EXPECT_THROW(empty.SaveToStream(out), EInvalidGraphic);
    EXPECT_THROW(icon.SetWidth(3), EInvalidGraphicOperation);
}

TEST(Icon, HostileFilesRaiseInvalidGraphic) {
    const auto good = Ico({Dib(Solid(16, 4, kBlueWord))}, {{16, 16}});
    std::vector<std::vector<uint8_t>> bad;
    bad.push_back({});
    bad.push_back({0, 0, 1, 0, 0, 0});                  // no images
    auto cursor = good;
    cursor[2] = 2;                                      // a cursor file
    bad.push_back(cursor);
    auto manyEntries = good;
    manyEntries[4] = 0xFF, manyEntries[5] = 0xFF;       // 65535 entries
    bad.push_back(manyEntries);
    auto farOffset = good;
    farOffset[18] = 0xF0, farOffset[19] = 0xFF, farOffset[20] = 0xFF, farOffset[21] = 0x7F;
    bad.push_back(farOffset);
    auto longSize = good;
    longSize[14] = 0xFF, longSize[15] = 0xFF, longSize[16] = 0xFF, longSize[17] = 0xFF;
    bad.push_back(longSize);
    auto wide = good;
    wide[22 + 4] = 0xA0, wide[22 + 5] = 0x86, wide[22 + 6] = 0x01;  // 100000 pixels wide
    bad.push_back(wide);
    auto tall = good;
    tall[22 + 8] = 0x40, tall[22 + 9] = 0x0D, tall[22 + 10] = 0x03;  // 200000 rows
    bad.push_back(tall);
    auto depth = good;
    depth[22 + 14] = 7;
    bad.push_back(depth);
    auto colours = good;
    colours[22 + 32] = 17;                              // 17 colours in a 4-bit table
    bad.push_back(colours);
    auto compressed = good;
    compressed[22 + 16] = 1;
    bad.push_back(compressed);
    auto truncated = good;
    truncated.resize(good.size() - 40);
    bad.push_back(truncated);
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0};
    bad.push_back(Ico({png}, {{32, 32}}));
    for (size_t i = 0; i < bad.size(); ++i) {
        const std::string msg = LoadError(bad[i]);
        EXPECT_EQ(msg.rfind("Icon image is not valid", 0), 0u) << i << ": " << msg;
    }
}

TEST(Icon, PngEntriesArePassedOver) {
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0};
    TIcon icon;
    Load(icon, Ico({png, Dib(Solid(16, 8, kGreenWord))}, {{32, 32}, {16, 16}}));
    EXPECT_EQ(icon.Width(), 16);
    EXPECT_EQ(icon.ColorBitmap().Pixel(0, 0), clLime);
}

// Files the fuzzer found: each loads or raises EInvalidGraphic, and what
// loads can be drawn.
TEST(Icon, FuzzRegressionFilesLoadOrRaise) {
    const std::filesystem::path dir = std::filesystem::path(QUILLARC_TEST_DATA) / "fuzz" / "icon";
    if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no regression files";
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() == ".txt") continue;
        TIcon icon;
        try {
            icon.LoadFromFile(entry.path().string());
            TBitmap out;
            out.Assign(&icon);
        } catch (const EInvalidGraphic&) {
        }
    }
}

TEST(Icon, FuzzSeedsAreValidIcons) {
    const std::filesystem::path dir = std::filesystem::path(QUILLARC_TEST_DATA) / ".." / ".." / "fuzz" / "corpus" / "icon";
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        TIcon icon;
        EXPECT_NO_THROW(icon.LoadFromFile(entry.path().string())) << entry.path();
        EXPECT_FALSE(icon.Empty()) << entry.path();
    }
}
