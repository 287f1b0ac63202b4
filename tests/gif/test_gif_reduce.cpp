// Colour reduction: the ditherers' arithmetic, the fixed palettes, the
// octree (serial and parallel alike, bounded, on a picture of one colour)
// and the reduction methods' results.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <thread>

#include "gif/GIFReduce.h"
#include "platform/core/Parallel.h"

namespace {

std::unique_ptr<TBitmap> Picture24(int w, int h, const std::function<TColor(int, int)>& color) {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(TPixelFormat::pf24bit);
    bitmap->SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) bitmap->SetPixel(x, y, color(x, y));
    return bitmap;
}

// The indices of a reduced bitmap's only row.
std::vector<int> Indices(const TBitmap& bitmap) { return {bitmap.ScanLine(0), bitmap.ScanLine(0) + bitmap.Width()}; }

// The serpentine scan over a picture of one colour per row.
std::vector<int> Dither(TDitherEngine& ditherer, int w, const std::vector<int>& greys) {
    std::vector<int> out;
    for (int grey : greys) {
        std::vector<int> row(static_cast<size_t>(w));
        uint8_t r, g, b;
        for (int x = ditherer.Column(); x >= 0 && x < w; x = ditherer.Column())
            row[static_cast<size_t>(x)] = ditherer.DitherPixel(uint8_t(grey), uint8_t(grey), uint8_t(grey), r, g, b);
        ditherer.EndRow();
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

}  // namespace

TEST(GIFDither, FloydSteinbergCarriesItsErrorsAsLaidDown) {
    TMonochromeLookup mono;
    // Grey 100: the second pixel gets 100 + (0 + 700 + 8) div 16 = 144 and
    // turns white; its error -111 brings the third to 52, black. The row
    // back reads the slots the row before left: 0 + 8, then 149 + 700 + 8.
    TFloydSteinbergDitherer fs(3, mono);
    EXPECT_EQ(Dither(fs, 3, {100, 100}), (std::vector<int>{0, 1, 0, 0, 1, 0}));
    // One pixel wide: every row starts at column 0 while the direction
    // alternates, and the slot read on the way back is never written on the
    // way there, so grey 100 never turns white.
    TFloydSteinbergDitherer narrow(1, mono);
    std::vector<int> columns, directions;
    uint8_t r, g, b;
    for (int y = 0; y < 6; ++y) {
        columns.push_back(narrow.Column());
        directions.push_back(narrow.Direction());
        EXPECT_EQ(narrow.DitherPixel(100, 100, 100, r, g, b), 0);
        narrow.EndRow();
    }
    EXPECT_EQ(columns, std::vector<int>(6, 0));
    EXPECT_EQ(directions, (std::vector<int>{1, -1, 1, -1, 1, -1}));
}

TEST(GIFDither, EveryKindKeepsExactColoursAndMixesGreys) {
    TNetscapeColorLookup cube;
    TMonochromeLookup mono;
    for (TDitherKind kind = 0; kind <= 6; ++kind) {
        SCOPED_TRACE(int(kind));
        // A cube colour has no error: nothing spreads, every pixel keeps it.
        std::unique_ptr<TDitherEngine> exact = CreateDitherer(kind, 9, cube);
        const std::vector<int> same = Dither(*exact, 9, {153, 153, 153});
        EXPECT_EQ(same, std::vector<int>(27, 3 * 36 + 3 * 6 + 3));
        // Mid-grey on black and white mixes both (kind 0 takes the nearest).
        std::unique_ptr<TDitherEngine> mixed = CreateDitherer(kind, 16, mono);
        const std::vector<int> bw = Dither(*mixed, 16, std::vector<int>(8, 128));
        const auto whites = std::count(bw.begin(), bw.end(), 1);
        if (kind == 0)
            EXPECT_EQ(whites, 128);
        else
            EXPECT_TRUE(whites > 32 && whites < 96) << whites;
    }
    EXPECT_EQ(CreateDitherer(7, 4, cube), nullptr);
}

TEST(GIFReduce, MethodsGiveTheirPalettesAndIndices) {
    // Red, blue, mid-grey, white, and a grey just past the black/white line.
    const std::vector<TColor> colors{clRed, clBlue, RGB(127, 127, 127), clWhite, RGB(128, 127, 127)};
    auto source = Picture24(5, 1, [&](int x, int) { return colors[static_cast<size_t>(x)]; });
    auto reduce = [&](TPaletteReduction method, int bits = 8) {
        TBitmap copy;
        copy.Assign(source.get());
        return ReduceBitmapColors(copy, method, 0, bits, nullptr);
    };
    EXPECT_EQ(Indices(*reduce(6)), (std::vector<int>{180, 5, 2 * 36 + 2 * 6 + 2, 215, 2 * 36 + 2 * 6 + 2}));
    EXPECT_EQ(Indices(*reduce(5)), (std::vector<int>{76, 28, 127, 255, 127}));
    EXPECT_EQ(Indices(*reduce(4)), (std::vector<int>{0, 0, 0, 1, 1}));
    EXPECT_EQ(Indices(*reduce(3)), (std::vector<int>{0, 0, 1, 3, 1}));
    EXPECT_EQ(reduce(1)->Pixel(0, 0), RGB(0xFF, 0, 0));
    EXPECT_EQ(PaletteEntryCount(DefaultPalette()), 20);  // the stock palette is still there
    EXPECT_EQ(reduce(2)->ColorTable().size(), 256u);
    EXPECT_EQ(reduce(0)->PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_TRUE(reduce(10)->Empty());
    EXPECT_TRUE(reduce(9)->Empty());  // no palette given
    TBitmap wide;
    wide.Assign(source.get());
    wide.SetPixelFormat(TPixelFormat::pf32bit);
    EXPECT_EQ(ReduceBitmapColors(wide, 0, 0, 8, nullptr)->PixelFormat(), TPixelFormat::pf24bit);
    TBitmap unknownKind;
    unknownKind.Assign(source.get());
    EXPECT_TRUE(ReduceBitmapColors(unknownKind, 6, 7, 8, nullptr)->Empty());

    // The octree with system colours keeps the 20 at both ends.
    const auto table = reduce(8)->ColorTable();
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(table[size_t(i)].peRed, SystemPalette20()[size_t(i)].peRed);
        EXPECT_EQ(table[size_t(246 + i)].peBlue, SystemPalette20()[size_t(10 + i)].peBlue);
    }
    // Out-of-range colour bits are held to 1..8: never more than 2^bits
    // entries, and the unused ones black.
    for (int bits : {-5, 0, 1, 4, 9, 31}) {
        const std::vector<int> used = Indices(*reduce(7, bits));
        EXPECT_LT(*std::max_element(used.begin(), used.end()), 1 << std::clamp(bits, 1, 8)) << bits;
    }
    const std::unique_ptr<TBitmap> exact = reduce(7, 4);
    for (int x = 0; x < 5; ++x) EXPECT_EQ(exact->Pixel(x, 0), colors[size_t(x)]) << x;
    EXPECT_EQ(exact->ColorTable()[6], (TPaletteEntry{0, 0, 0, 0}));
}

TEST(GIFOctree, ParallelTreeEqualsTheSerialOneAndStaysBounded) {
    std::mt19937 random(5);
    auto rows = [](TBitmap& b) { return [&b](int y) -> const uint8_t* { return b.ScanLine(y); }; };
    std::vector<std::unique_ptr<TBitmap>> pictures;
    for (auto [w, h] : std::vector<std::pair<int, int>>{{1, 1}, {1, 9}, {3, 3}, {7, 5}, {64, 48}}) {
        pictures.push_back(Picture24(w, h, [&](int, int) {
            return RGB(uint8_t(random() % 64 * 4), uint8_t(random()), uint8_t(random() % 8 * 32));
        }));
    }
    TBitmap sample;
    sample.LoadFromFile(QUILLARC_SAMPLE);
    sample.SetPixelFormat(TPixelFormat::pf24bit);
    for (size_t i = 0; i < pictures.size() + 1; ++i) {
        TBitmap& picture = i < pictures.size() ? *pictures[i] : sample;
        for (int colors : {2, 16, 236, 256}) {
            TColorQuantizer serial(colors, 8), parallel(colors, 8);
            serial.AddPicture(picture.Width(), picture.Height(), rows(picture));
            par::SetThreadCount(i % 2 ? 3 : 8);
            parallel.AddPictureParallel(picture.Width(), picture.Height(), rows(picture));
            const std::vector<TPaletteEntry> a = serial.CollectColors(), b = parallel.CollectColors();
            EXPECT_EQ(a, b) << i << " " << colors;
            EXPECT_LE(static_cast<int>(a.size()), colors);
        }
    }
    par::SetThreadCount(par::AvailableCpus());
    // 12 million white pixels in one leaf: the sums pass 32 bits.
    TBitmap white;
    white.SetPixelFormat(TPixelFormat::pf24bit);
    white.SetSize(4000, 3000);
    for (int y = 0; y < 3000; ++y) std::memset(white.ScanLine(y), 255, 12000);
    HPALETTE palette = BuildOctreePalette(white, 256, 8, false);
    TPaletteEntry entries[256];
    ASSERT_EQ(GetPaletteEntries(palette, 0, 256, entries), 256);
    DeleteObject(palette);
    EXPECT_EQ(entries[0], (TPaletteEntry{255, 255, 255, 0}));
    EXPECT_EQ(entries[1], (TPaletteEntry{0, 0, 0, 0}));
}
