#include <gtest/gtest.h>

#include <filesystem>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/core/LoadWork.h"
#include "platform/core/Metafile.h"
#include "platform/core/Numeric.h"
#include "platform/core/Parallel.h"

namespace {

using Bytes = std::vector<uint8_t>;

void P16(Bytes& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void P32(Bytes& v, uint32_t x) {
    P16(v, x & 0xFFFF);
    P16(v, x >> 16);
}
uint32_t G32(const Bytes& v, size_t at) {
    return uint32_t(v[at]) | (uint32_t(v[at + 1]) << 8) | (uint32_t(v[at + 2]) << 16) | (uint32_t(v[at + 3]) << 24);
}

// A 24-bit bitmap whose pixel (x, y) is colour(x, y).
template <class F>
void Paint(TBitmap& b, int w, int h, F colour, TPixelFormat format = TPixelFormat::pf24bit) {
    b.SetPixelFormat(format);
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.SetPixel(x, y, colour(x, y));
}
TColor Pattern(int x, int y) { return RGB(uint8_t(40 * x + 1), uint8_t(30 * y + 2), uint8_t(7 * x * y + 3)); }

// A 24-bit DIB (header + bits), bottom-up unless topDown, rows given top first.
Bytes Dib(int w, int h, TColor (*colour)(int, int), bool topDown = false) {
    Bytes d;
    P32(d, 40);
    P32(d, uint32_t(w));
    P32(d, uint32_t(topDown ? -h : h));
    P16(d, 1);
    P16(d, 24);
    for (int i = 0; i < 6; ++i) P32(d, 0);
    const size_t stride = ((size_t(w) * 24 + 31) / 32) * 4;
    for (int i = 0; i < h; ++i) {
        const int y = topDown ? i : h - 1 - i;
        Bytes row(stride, 0);
        for (int x = 0; x < w; ++x) {
            const TColor c = colour(x, y);
            row[3 * x] = GetBValue(c), row[3 * x + 1] = GetGValue(c), row[3 * x + 2] = GetRValue(c);
        }
        d.insert(d.end(), row.begin(), row.end());
    }
    return d;
}

// Placeable Windows metafile: bounding box, units per inch, records.
struct Wmf {
    Bytes records;
    void Add(uint16_t function, const std::vector<int16_t>& words, const Bytes& tail = {}) {
        const size_t size = 6 + 2 * words.size() + tail.size();
        P32(records, uint32_t((size + 1) / 2));
        P16(records, function);
        for (int16_t w : words) P16(records, uint16_t(w));
        records.insert(records.end(), tail.begin(), tail.end());
        if (size % 2) records.push_back(0);
    }
    Bytes Build(bool placeable, int16_t right, int16_t bottom, uint16_t inch) const {
        Bytes f;
        if (placeable) {
            P32(f, 0x9AC6CDD7);
            P16(f, 0);
            P16(f, 0), P16(f, 0), P16(f, uint16_t(right)), P16(f, uint16_t(bottom));
            P16(f, inch);
            P32(f, 0);
            uint16_t sum = 0;
            for (size_t i = 0; i < 20; i += 2) sum ^= uint16_t(f[i] | (f[i + 1] << 8));
            P16(f, sum);
        }
        P16(f, 1);
        P16(f, 9);
        P16(f, 0x300);
        P32(f, uint32_t((18 + records.size() + 6) / 2));
        P16(f, 0);
        P32(f, 0);
        P16(f, 0);
        f.insert(f.end(), records.begin(), records.end());
        P32(f, 3);
        P16(f, 0);
        return f;
    }
};

// Enhanced metafile with a 96 dpi reference and the given frame in pixels.
struct Emf {
    Bytes records;
    int count = 0;
    void Add(uint32_t type, const Bytes& payload) {
        P32(records, type);
        P32(records, uint32_t(8 + payload.size()));
        records.insert(records.end(), payload.begin(), payload.end());
        ++count;
    }
    Bytes Build(int w, int h) const {
        Bytes f;
        P32(f, 1);
        P32(f, 88);
        P32(f, 0), P32(f, 0), P32(f, uint32_t(w - 1)), P32(f, uint32_t(h - 1));
        P32(f, 0), P32(f, 0), P32(f, uint32_t(num::MulDiv(w, 2540, 96))), P32(f, uint32_t(num::MulDiv(h, 2540, 96)));
        P32(f, 0x464D4520);
        P32(f, 0x10000);
        P32(f, uint32_t(88 + records.size() + 20));
        P32(f, uint32_t(count + 2));
        P16(f, 4), P16(f, 0);
        P32(f, 0), P32(f, 0), P32(f, 0);
        P32(f, 1920), P32(f, 1440), P32(f, 508), P32(f, 381);
        f.insert(f.end(), records.begin(), records.end());
        P32(f, 14), P32(f, 20), P32(f, 0), P32(f, 16), P32(f, 20);
        return f;
    }
};

Bytes Ints(std::initializer_list<int32_t> values) {
    Bytes b;
    for (int32_t v : values) P32(b, uint32_t(v));
    return b;
}

void Load(TMetafile& mf, const Bytes& bytes) {
    TMemoryStream ms;
    ms.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    ms.SetPosition(0);
    mf.LoadFromStream(ms);
}

std::string LoadError(const Bytes& bytes) {
    TMetafile mf;
    try {
        Load(mf, bytes);
    } catch (const EInvalidGraphic& e) {
        return e.Message();
    }
    return "";
}

Bytes Saved(TMetafile& mf) {
    TMemoryStream ms;
    mf.SaveToStream(ms);
    return Bytes(ms.Memory(), ms.Memory() + ms.Size());
}

// Plays the metafile at its own size onto a 32-bit canvas of grey.
void Play(TMetafile& mf, TBitmap& out, TRect rect = {}) {
    out.SetPixelFormat(TPixelFormat::pf32bit);
    out.SetSize(mf.Width(), mf.Height());
    out.Canvas().Brush.Color = clGray;
    out.Canvas().FillRect(Rect(0, 0, out.Width(), out.Height()));
    if (rect.IsEmpty()) rect = Rect(0, 0, mf.Width(), mf.Height());
    out.Canvas().StretchDraw(rect, mf);
}

void Record(TMetafile& mf, const TBitmap& bmp) {
    mf.SetHeight(bmp.Height());
    mf.SetWidth(bmp.Width());
    TMetafileCanvas canvas(&mf, nullptr);
    canvas.Draw(0, 0, const_cast<TBitmap&>(bmp));
}

}  // namespace

// A bitmap record that cannot be drawn (a JPEG-compressed bitmap) is
// skipped, and an 8-bit bitmap whose colour table is shorter than its bits
// call for keeps the entries present; the other records are drawn.
TEST(Metafile, RecordsThatCannotBeDrawnAreSkipped) {
    TMetafile mf;
    mf.LoadFromFile(std::string(QUILLARC_TEST_DATA) + "/valid/undrawable-records.emf");
    ASSERT_EQ(mf.Width(), 6);
    ASSERT_EQ(mf.Height(), 2);
    TBitmap b;
    b.SetPixelFormat(TPixelFormat::pf32bit);
    b.SetSize(6, 2);
    b.Canvas().Brush.Color = clWhite;
    b.Canvas().FillRect(Rect(0, 0, 6, 2));
    b.Canvas().Draw(0, 0, mf);
    EXPECT_EQ(b.Pixel(1, 1), clRed);
    EXPECT_EQ(b.Pixel(2, 0), clLime);
    EXPECT_EQ(b.Pixel(3, 1), clBlue);
    EXPECT_EQ(b.Pixel(4, 0), clWhite);
}

TEST(Metafile, RegisteredForBothExtensions) {
    EXPECT_EQ(TPicture::ClassForExtension("emf"), &TMetafile::StaticClass());
    EXPECT_EQ(TPicture::ClassForExtension("wmf"), &TMetafile::StaticClass());
}

TEST(Metafile, RecordingIsAValidEnhancedMetafile) {
    TBitmap bmp;
    Paint(bmp, 5, 3, Pattern);
    TMetafile mf;
    Record(mf, bmp);
    const Bytes f = Saved(mf);
    ASSERT_GE(f.size(), 108u + 120 + 20);
    EXPECT_EQ(G32(f, 0), 1u);                    // EMR_HEADER
    EXPECT_EQ(G32(f, 4), 108u);
    EXPECT_EQ(G32(f, 16), 4u);                   // bounds right, inclusive
    EXPECT_EQ(G32(f, 20), 2u);
    EXPECT_EQ(G32(f, 32), 132u);                 // frame: 5 px at 96 dpi in 0.01 mm
    EXPECT_EQ(G32(f, 36), 79u);
    EXPECT_EQ(G32(f, 40), 0x464D4520u);
    EXPECT_EQ(G32(f, 44), 0x10000u);
    EXPECT_EQ(G32(f, 48), f.size());             // nBytes
    EXPECT_EQ(G32(f, 52), 3u);                   // header, bitmap, end
    EXPECT_EQ(f[56] | (f[57] << 8), 1);          // nHandles
    EXPECT_EQ(G32(f, 108), 81u);                 // EMR_STRETCHDIBITS
    EXPECT_EQ(G32(f, 108 + 68), uint32_t(cmSrcCopy));
    EXPECT_EQ(G32(f, f.size() - 20), 14u);       // EMR_EOF
    EXPECT_EQ(G32(f, f.size() - 4), 20u);
}

TEST(Metafile, RoundTripGivesTheSamePixels) {
    for (auto [w, h] : {std::pair{1, 1}, {7, 5}, {1, 9}, {33, 2}}) {
        TBitmap bmp;
        Paint(bmp, w, h, Pattern);
        TMetafile recorded;
        Record(recorded, bmp);
        TMetafile mf;
        Load(mf, Saved(recorded));
        ASSERT_EQ(mf.Width(), w);
        ASSERT_EQ(mf.Height(), h);
        EXPECT_TRUE(mf.Enhanced());
        TBitmap out;
        Play(mf, out);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) ASSERT_EQ(out.Pixel(x, y), Pattern(x, y)) << w << "x" << h << " " << x << "," << y;
    }
}

TEST(Metafile, RoundTripOfTheSamplePicture) {
    TBitmap sample;
    sample.LoadFromFile(QUILLARC_SAMPLE);
    TMetafile recorded;
    Record(recorded, sample);
    TMetafile mf;
    Load(mf, Saved(recorded));
    ASSERT_EQ(mf.Width(), 364);
    ASSERT_EQ(mf.Height(), 384);
    TBitmap out;
    Play(mf, out);
    out.SetPixelFormat(TPixelFormat::pf24bit);
    for (int y = 0; y < 384; ++y)
        ASSERT_EQ(0, std::memcmp(out.ScanLine(y), sample.ScanLine(y), 364 * 3)) << "row " << y;
}

TEST(Metafile, DrawScalesIntoTheRectangleAndLeavesTheRestAlone) {
    TBitmap bmp;
    Paint(bmp, 2, 2, Pattern);
    TMetafile mf;
    mf.SetWidth(6);
    mf.SetHeight(6);
    {
        TMetafileCanvas canvas(&mf);
        canvas.Draw(2, 2, bmp);
    }
    TBitmap out;
    Play(mf, out);
    EXPECT_EQ(out.Pixel(0, 0), clGray);
    EXPECT_EQ(out.Pixel(5, 5), clGray);
    EXPECT_EQ(out.Pixel(3, 2), Pattern(1, 0));
    TBitmap big;
    big.SetPixelFormat(TPixelFormat::pf32bit);
    big.SetSize(12, 12);
    big.Canvas().StretchDraw(Rect(0, 0, 12, 12), mf);
    EXPECT_EQ(big.Pixel(4, 4), Pattern(0, 0));
    EXPECT_EQ(big.Pixel(7, 4), Pattern(1, 0));
    EXPECT_EQ(big.Pixel(7, 7), Pattern(1, 1));
    EXPECT_EQ(big.ScanLine(0)[3], 0);  // never drawn
}

TEST(Metafile, FillAndInvertAreRecordedAndPlayed) {
    TMetafile mf;
    mf.SetWidth(4);
    mf.SetHeight(4);
    {
        TMetafileCanvas canvas(&mf);
        canvas.Brush.Color = clRed;
        canvas.FillRect(Rect(0, 0, 4, 2));
        canvas.InvertRect(Rect(0, 1, 4, 3));
    }
    TMetafile copy;
    Load(copy, Saved(mf));
    TBitmap out;
    Play(copy, out);
    EXPECT_EQ(out.Pixel(0, 0), clRed);
    EXPECT_EQ(out.Pixel(0, 1), RGB(0, 255, 255));
    EXPECT_EQ(out.Pixel(0, 2), RGB(0x7F, 0x7F, 0x7F));
    EXPECT_EQ(out.Pixel(0, 3), clGray);
}

TEST(Metafile, MaskedDrawingIsRefusedAndAnEmptyMetafileIsNotSaved) {
    TMetafile mf;
    TBitmap bmp, mask;
    Paint(bmp, 2, 2, Pattern);
    Paint(mask, 2, 2, Pattern);
    {
        TMetafileCanvas canvas(&mf);
        EXPECT_THROW(canvas.StretchBlt(Rect(0, 0, 2, 2), bmp, Rect(0, 0, 2, 2), &mask), EInvalidGraphicOperation);
    }
    TMetafile empty;
    TMemoryStream ms;
    EXPECT_THROW(empty.SaveToStream(ms), EInvalidGraphic);
}

TEST(Metafile, PlaceableWindowsMetafileWithStretchDib) {
    // 600 x 300 twips at 1440 per inch: 40 x 20 pixels; a 4 x 2 DIB fills it.
    Wmf w;
    w.Add(0x020B, {0, 0});      // SETWINDOWORG y, x
    w.Add(0x020C, {300, 600});  // SETWINDOWEXT y, x
    // rop (low, high), usage, srcH, srcW, ySrc, xSrc, destH, destW, yDest, xDest
    w.Add(0x0F43, {0x0020, 0x00CC, 0, 2, 4, 0, 0, 300, 600, 0, 0}, Dib(4, 2, Pattern));
    TMetafile mf;
    Load(mf, w.Build(true, 600, 300, 1440));
    EXPECT_FALSE(mf.Enhanced());
    ASSERT_EQ(mf.Width(), 40);
    ASSERT_EQ(mf.Height(), 20);
    TBitmap out;
    Play(mf, out);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(out.Pixel(10 * x + 5, 10 * y + 5), Pattern(x, y)) << x << "," << y;
}

TEST(Metafile, WindowsBlitRecordsAndTheirSourceRectangles) {
    Wmf w;
    w.Add(0x020C, {4, 8});
    // DIBBITBLT: rop, ySrc, xSrc, height, width, yDest, xDest — top-down source.
    w.Add(0x0940, {0x0020, 0x00CC, 1, 1, 1, 2, 0, 0}, Dib(3, 3, Pattern));
    // DIBSTRETCHBLT: rop, srcH, srcW, ySrc, xSrc, destH, destW, yDest, xDest.
    w.Add(0x0B41, {0x0020, 0x00CC, 1, 1, 0, 2, 2, 2, 2, 4}, Dib(3, 3, Pattern));
    // STRETCHDIB, bottom-up: ySrc 0 is the bottom row.
    w.Add(0x0F43, {0x0020, 0x00CC, 0, 1, 1, 0, 0, 1, 1, 3, 7}, Dib(3, 3, Pattern));
    // SETDIBTODEV: usage, scans, start, yDib, xDib, height, width, yDest, xDest.
    w.Add(0x0D33, {0, 3, 0, 0, 1, 1, 1, 0, 7}, Dib(3, 3, Pattern));
    // No-bitmap DIBBITBLT with BLACKNESS.
    w.Add(0x0940, {0x0042, 0x0000, 0, 0, 0, 1, 1, 3, 0});
    TMetafile mf;
    Load(mf, w.Build(false, 0, 0, 0));
    ASSERT_EQ(mf.Width(), 8);
    ASSERT_EQ(mf.Height(), 4);
    TBitmap out;
    Play(mf, out);
    EXPECT_EQ(out.Pixel(0, 0), Pattern(1, 1));
    EXPECT_EQ(out.Pixel(1, 0), Pattern(2, 1));
    EXPECT_EQ(out.Pixel(0, 1), clGray);
    EXPECT_EQ(out.Pixel(4, 2), Pattern(2, 0));
    EXPECT_EQ(out.Pixel(5, 3), Pattern(2, 0));
    EXPECT_EQ(out.Pixel(7, 3), Pattern(0, 2));
    EXPECT_EQ(out.Pixel(7, 0), Pattern(1, 2));
    EXPECT_EQ(out.Pixel(0, 3), clBlack);
    EXPECT_EQ(out.Pixel(3, 3), clGray);
}

TEST(Metafile, MirroredDestinationFlipsTheBitmap) {
    Wmf w;
    w.Add(0x020C, {1, 3});
    w.Add(0x0F43, {0x0020, 0x00CC, 0, 1, 3, 0, 0, 1, -3, 0, 3}, Dib(3, 1, Pattern));
    TMetafile mf;
    Load(mf, w.Build(false, 0, 0, 0));
    TBitmap out;
    Play(mf, out);
    EXPECT_EQ(out.Pixel(0, 0), Pattern(2, 0));
    EXPECT_EQ(out.Pixel(2, 0), Pattern(0, 0));
}

TEST(Metafile, EnhancedBlitRecordsMapModesAndBrushes) {
    Emf e;
    const Bytes dib = Dib(2, 2, Pattern);
    // EMR_BITBLT with a bitmap: bounds, dest x y cx cy, rop, src x y, xform,
    // bk colour, usage, offBmi cbBmi offBits cbBits.
    Bytes blt = Ints({0, 0, 1, 1, 0, 0, 2, 2, int32_t(cmSrcCopy), 0, 0});
    for (float f : {1.f, 0.f, 0.f, 1.f, 0.f, 0.f}) {
        uint32_t u;
        std::memcpy(&u, &f, 4);
        P32(blt, u);
    }
    const Bytes tail = Ints({0, 0, 100, 40, 140, int32_t(dib.size() - 40)});
    blt.insert(blt.end(), tail.begin(), tail.end());
    blt.insert(blt.end(), dib.begin(), dib.end());
    e.Add(76, blt);
    // Anisotropic: logical 0..1 spans 2 device pixels; a STRETCHDIBITS of
    // 1 x 1 logical units at (2, 0) covers device 4..5 on both axes.
    e.Add(17, Ints({8}));
    e.Add(9, Ints({1, 1}));   // window ext
    e.Add(11, Ints({2, 2}));  // viewport ext
    Bytes sdib = Ints({0, 0, 0, 0, 2, 2, 0, 0, 1, 1, 80, 40, 120, int32_t(dib.size() - 40), 0, int32_t(cmSrcCopy), 1, 1});
    sdib.insert(sdib.end(), dib.begin(), dib.end());
    e.Add(81, sdib);
    e.Add(17, Ints({1}));
    // A solid blue brush and a PATCOPY blit without a bitmap.
    e.Add(39, Ints({1, 0, int32_t(clBlue), 0}));
    e.Add(37, Ints({1}));
    Bytes pat = Ints({0, 0, 0, 0, 0, 7, 1, 1, int32_t(cmPatCopy), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    e.Add(76, pat);
    TMetafile mf;
    Load(mf, e.Build(8, 8));
    ASSERT_EQ(mf.Width(), 8);
    TBitmap out;
    Play(mf, out);
    EXPECT_EQ(out.Pixel(0, 0), Pattern(0, 0));
    EXPECT_EQ(out.Pixel(1, 1), Pattern(1, 1));
    EXPECT_EQ(out.Pixel(4, 4), Pattern(0, 1));  // bottom-up DIB: ySrc 0 is its last row
    EXPECT_EQ(out.Pixel(5, 5), Pattern(0, 1));
    EXPECT_EQ(out.Pixel(6, 6), clGray);
    EXPECT_EQ(out.Pixel(0, 7), clBlue);
}

TEST(Metafile, HostileFilesRaiseInvalidGraphic) {
    TBitmap bmp;
    Paint(bmp, 3, 3, Pattern);
    TMetafile recorded;
    Record(recorded, bmp);
    const Bytes good = Saved(recorded);
    std::vector<Bytes> bad;
    bad.push_back({});
    bad.push_back({1, 2, 3});
    Bytes sig = good;
    sig[40] = 'X';
    bad.push_back(sig);
    Bytes longer = good;
    P32(longer, 0);
    const uint32_t claimed = uint32_t(longer.size() + 4);  // nBytes past the stream
    for (int i = 0; i < 4; ++i) longer[48 + i] = uint8_t(claimed >> (8 * i));
    bad.push_back(longer);
    Bytes zero = good;
    zero[108 + 4] = 0, zero[108 + 5] = 0, zero[108 + 6] = 0, zero[108 + 7] = 0;  // zero-sized record
    bad.push_back(zero);
    Bytes past = good;
    past[108 + 7] = 0x7F;  // record longer than the file
    bad.push_back(past);
    Bytes wide = good;
    wide[108 + 80 + 6] = 0x10;  // DIB 1 million pixels wide
    bad.push_back(wide);
    Bytes bits = good;
    bits[108 + 62] = 0xFF;  // pixel bytes outside the record
    bad.push_back(bits);
    Bytes frame = good;
    frame[34] = 0x7F;  // a frame of kilometres
    bad.push_back(frame);
    Wmf w;
    w.Add(0x0F43, {0x0020, 0x00CC, 0, 2, 4, 0, 0, 300, 600, 0, 0}, Dib(4, 2, Pattern));
    Bytes wmf = w.Build(true, 600, 300, 1440);
    Bytes noInch = wmf;
    noInch[14] = 0, noInch[15] = 0;
    bad.push_back(noInch);
    Bytes badRecord = wmf;
    badRecord[22 + 18] = 1, badRecord[22 + 19] = 0, badRecord[22 + 20] = 0, badRecord[22 + 21] = 0;
    bad.push_back(badRecord);
    Bytes cut = wmf;
    cut.resize(22 + 18 + 30);
    bad.push_back(cut);
    for (size_t i = 0; i < bad.size(); ++i) {
        const std::string msg = LoadError(bad[i]);
        EXPECT_EQ(msg.rfind("Metafile is not valid", 0), 0u) << i << ": " << msg;
    }
}

TEST(Metafile, SaveToFileReplacesOnlyWhenTheSaveSucceeds) {
    const std::string path = testing::TempDir() + "quillarc_metafile_save.emf";
    TBitmap bmp;
    Paint(bmp, 2, 2, Pattern);
    TMetafile mf;
    Record(mf, bmp);
    mf.SaveToFile(path);
    TMetafile back;
    back.LoadFromFile(path);
    EXPECT_EQ(back.Width(), 2);
    TMetafile empty;
    EXPECT_THROW(empty.SaveToFile(path), EInvalidGraphic);
    TMetafile still;
    still.LoadFromFile(path);
    EXPECT_EQ(still.Width(), 2);
    std::remove(path.c_str());
}

// Files the fuzzer found: each loads or raises EInvalidGraphic, and what
// loads plays.
TEST(Metafile, FuzzRegressionFilesLoadOrRaise) {
    const std::filesystem::path dir = std::filesystem::path(QUILLARC_TEST_DATA) / "fuzz" / "metafile";
    if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no regression files";
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() == ".txt") continue;
        TMetafile mf;
        try {
            mf.LoadFromFile(entry.path().string());
            TBitmap out;
            out.SetPixelFormat(TPixelFormat::pf32bit);
            out.SetSize(48, 32);
            out.Canvas().StretchDraw(Rect(0, 0, 48, 32), mf);
        } catch (const EInvalidGraphic&) {
        }
    }
}

TEST(Metafile, FuzzSeedsAreValidMetafiles) {
    const std::filesystem::path dir = std::filesystem::path(QUILLARC_TEST_DATA) / ".." / ".." / "fuzz" / "corpus" / "metafile";
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        TMetafile mf;
        EXPECT_NO_THROW(mf.LoadFromFile(entry.path().string())) << entry.path();
        EXPECT_GT(mf.Width(), 0) << entry.path();
    }
}

// Records cost work by the pixels they cover, not by their bytes: a
// drawing may write 4 x the pixels shown plus 1,024 per byte of the file.
// Seven blackness blits over a 256 x 256 frame and one of 136 rows in 226
// bytes fill that to the pixel; a row more is refused before anything is
// drawn. Drawn at twice the size, the drawing stops after four records.
TEST(Metafile, DrawingIsBoundByTheFile) {
    auto file = [](int16_t lastRows) {
        Wmf w;
        w.Add(0x020C, {256, 256});
        for (int i = 0; i < 8; ++i) w.Add(0x0940, {0x0042, 0x0000, 0, 0, 0, i < 7 ? int16_t(256) : lastRows, 256, 0, 0});
        return w.Build(false, 0, 0, 0);
    };
    const Bytes full = file(136);
    ASSERT_EQ(full.size(), 226u);
    EXPECT_EQ(LoadError(file(137)), "Metafile is not valid: drawing too large");
    TMetafile mf;
    Load(mf, full);
    TBitmap out;
    loadwork::Reset();
    Play(mf, out);
    EXPECT_EQ(loadwork::DrawnPixels(), 4u * 65536 + 1024u * 226);
    EXPECT_EQ(out.Pixel(255, 255), clBlack);
    TBitmap big;
    big.SetPixelFormat(TPixelFormat::pf32bit);
    big.SetSize(512, 512);
    loadwork::Reset();
    big.Canvas().StretchDraw(Rect(0, 0, 512, 512), mf);
    EXPECT_EQ(loadwork::DrawnPixels(), 4u * 512 * 512);
    EXPECT_EQ(big.Pixel(511, 511), clBlack);
}

// Blits over a large frame go in bands of rows over the threads: stretched
// and mirrored bitmaps, a raster operation of brush, source and
// destination, and plain fills give the same bytes on any number of
// threads, onto 32-bit and 8-bit canvases.
TEST(Metafile, LargeFramesDrawTheSameOnAnyNumberOfThreads) {
    Wmf w;
    w.Add(0x020C, {1001, 1203});
    // STRETCHDIB: rop, usage, srcH, srcW, ySrc, xSrc, destH, destW, yDest, xDest.
    w.Add(0x0F43, {0x0020, 0x00CC, 0, 5, 7, 0, 0, 1001, 1203, 0, 0}, Dib(7, 5, Pattern));
    w.Add(0x0F43, {0x0746, 0x00E2, 0, 5, 7, 0, 0, 1000, -1100, 1, 1150}, Dib(7, 5, Pattern));
    w.Add(0x0940, {0x0009, 0x0055, 0, 0, 0, 960, 1100, 20, 100});  // DSTINVERT
    w.Add(0x0F43, {0x0086, 0x0066, 0, 3, 3, 0, 0, -990, 1190, 995, 5}, Dib(3, 3, Pattern));  // SRCINVERT
    TMetafile mf;
    Load(mf, w.Build(false, 0, 0, 0));
    const int threads = par::ThreadCount();
    for (TPixelFormat format : {TPixelFormat::pf32bit, TPixelFormat::pf8bit}) {
        std::vector<Bytes> drawn;
        for (int n : {1, 3, 8}) {
            par::SetThreadCount(n);
            TBitmap out;
            out.SetPixelFormat(format);
            out.SetSize(mf.Width(), mf.Height());
            out.Canvas().Draw(0, 0, mf);
            drawn.emplace_back();
            for (int y = 0; y < out.Height(); ++y)
                drawn.back().insert(drawn.back().end(), out.ScanLine(y), out.ScanLine(y) + out.RowBytes());
        }
        EXPECT_TRUE(drawn[1] == drawn[0] && drawn[2] == drawn[0]) << int(format);
    }
    par::SetThreadCount(threads);
}
