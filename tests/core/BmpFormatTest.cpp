#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "platform/core/BmpFormat.h"
#include "platform/core/Graphics.h"
#include "tests/rasterformats/RasterFiles.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
    Put16(b, at, v);
    Put16(b, at + 2, v >> 16);
}

// A BMP file put together field by field, so that every variant and every
// damaged header can be written down in a test.
struct Spec {
    uint32_t headerSize = 40;
    int32_t width = 1;
    int32_t height = 1;
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint32_t colorsUsed = 0;
    std::vector<uint32_t> table;  // 0x00RRGGBB
    std::vector<uint32_t> masks;  // written after a 40-byte header, or inside a larger one
    Bytes pixels;
    int64_t offset = -1;          // pixel offset; -1 computes it
    uint32_t sizeImage = 0;
};

Bytes Build(const Spec& s) {
    const size_t entry = s.headerSize == 12 ? 3 : 4;
    const size_t maskBytes = s.headerSize == 40 ? 4 * s.masks.size() : 0;
    const size_t tableAt = 14 + s.headerSize + maskBytes;
    const size_t pixelsAt = tableAt + entry * s.table.size();
    Bytes b(pixelsAt, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 10, s.offset >= 0 ? static_cast<uint32_t>(s.offset) : static_cast<uint32_t>(pixelsAt));
    Put32(b, 14, s.headerSize);
    if (s.headerSize == 12) {
        Put16(b, 18, static_cast<uint32_t>(s.width));
        Put16(b, 20, static_cast<uint32_t>(s.height));
        Put16(b, 22, 1);
        Put16(b, 24, s.bits);
    } else {
        Put32(b, 18, static_cast<uint32_t>(s.width));
        Put32(b, 22, static_cast<uint32_t>(s.height));
        Put16(b, 26, 1);
        Put16(b, 28, s.bits);
        if (s.headerSize >= 20) Put32(b, 30, s.compression);
        if (s.headerSize >= 24) Put32(b, 34, s.sizeImage);
        if (s.headerSize >= 36) Put32(b, 46, s.colorsUsed);
        for (size_t i = 0; i < s.masks.size(); ++i) Put32(b, 54 + 4 * i, s.masks[i]);
    }
    for (size_t i = 0; i < s.table.size(); ++i) {
        b[tableAt + entry * i] = static_cast<uint8_t>(s.table[i]);
        b[tableAt + entry * i + 1] = static_cast<uint8_t>(s.table[i] >> 8);
        b[tableAt + entry * i + 2] = static_cast<uint8_t>(s.table[i] >> 16);
    }
    b.insert(b.end(), s.pixels.begin(), s.pixels.end());
    Put32(b, 2, static_cast<uint32_t>(b.size()));
    return b;
}

void Load(TBitmap& bitmap, const Bytes& file) {
    TMemoryStream s;
    if (!file.empty()) s.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
    s.SetPosition(0);
    bitmap.LoadFromStream(s);
}

void ExpectInvalid(const Bytes& file, const char* what) {
    TBitmap b;
    try {
        Load(b, file);
        ADD_FAILURE() << what << ": accepted";
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.Message(), "Bitmap image is not valid") << what;
    }
}

uint32_t Word(const TBitmap& b, int32_t x, int32_t y) {
    const uint8_t* p = b.ScanLine(y) + 4 * x;
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

TEST(BmpRead, OneBitWithItsPalette) {
    Spec s;
    s.width = 10;
    s.height = 2;
    s.bits = 1;
    s.table = {0x102030, 0xFFEEDD};
    s.pixels = {0x80, 0x40, 0, 0,   // bottom row: pixels 0 and 9
                0x01, 0x00, 0, 0};  // top row: pixel 7
    TBitmap b;
    Load(b, Build(s));
    EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf1bit);
    EXPECT_EQ(b.Pixel(0, 1), RGB(0xFF, 0xEE, 0xDD));
    EXPECT_EQ(b.Pixel(9, 1), RGB(0xFF, 0xEE, 0xDD));
    EXPECT_EQ(b.Pixel(7, 0), RGB(0xFF, 0xEE, 0xDD));
    EXPECT_EQ(b.Pixel(1, 1), RGB(0x10, 0x20, 0x30));
    EXPECT_EQ(PaletteEntryCount(b.Palette()), 2);
}

TEST(BmpRead, FourAndEightBitsWithShortTables) {
    Spec s;
    s.width = 3;
    s.height = 1;
    s.bits = 4;
    s.colorsUsed = 3;
    s.table = {0x000000, 0x0000FF, 0x00FF00};
    s.pixels = {0x12, 0x00, 0, 0};
    TBitmap b;
    Load(b, Build(s));
    EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf4bit);
    EXPECT_EQ(b.ColorTable().size(), 3u);
    EXPECT_EQ(b.Pixel(0, 0), RGB(0, 0, 0xFF));
    EXPECT_EQ(b.Pixel(1, 0), RGB(0, 0xFF, 0));

    Spec e;
    e.width = 2;
    e.bits = 8;
    for (uint32_t i = 0; i < 256; ++i) e.table.push_back(i * 0x010101);
    e.pixels = {7, 200, 0, 0};
    Load(b, Build(e));
    EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(PaletteEntryCount(b.Palette()), 256);
    EXPECT_EQ(b.ScanLine(0)[1], 200);
    EXPECT_EQ(b.Pixel(0, 0), RGB(7, 7, 7));
}

TEST(BmpRead, TopDownTwentyFourBits) {
    Spec s;
    s.width = 1;
    s.height = -2;
    s.pixels = {1, 2, 3, 0, 4, 5, 6, 0};
    TBitmap b;
    Load(b, Build(s));
    EXPECT_EQ(b.Height(), 2);
    EXPECT_EQ(b.Pixel(0, 0), RGB(3, 2, 1));
    EXPECT_EQ(b.Pixel(0, 1), RGB(6, 5, 4));
}

TEST(BmpRead, ThirtyTwoBitsKeepTheFourthByte) {
    Spec s;
    s.width = 2;
    s.bits = 32;
    s.pixels = {1, 2, 3, 0x99, 4, 5, 6, 0x11};
    TBitmap b;
    Load(b, Build(s));
    EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_EQ(Word(b, 0, 0), 0x99030201u);
    EXPECT_EQ(Word(b, 1, 0), 0x11060504u);
}

TEST(BmpRead, SixteenBitsPlainAndBitFields) {
    Spec s;
    s.width = 2;
    s.bits = 16;
    s.pixels = {0x01, 0x7C, 0xE0, 0x03};  // 555: red + 1 blue, green
    TBitmap b;
    Load(b, Build(s));
    EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf15bit);
    EXPECT_EQ(b.Pixel(0, 0), RGB(255, 0, 8));
    EXPECT_EQ(b.Pixel(1, 0), RGB(0, 255, 0));

    s.compression = 3;
    s.masks = {0xF800, 0x07E0, 0x001F};
    s.pixels = {0x01, 0xF8, 0xE0, 0x07};
    Load(b, Build(s));
    EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf16bit);
    EXPECT_EQ(b.Pixel(0, 0), RGB(255, 0, 8));
    EXPECT_EQ(b.Pixel(1, 0), RGB(0, 255, 0));

    // Any other masks are widened into 24 bits, rounding narrow channels.
    s.masks = {0x0F00, 0x00F0, 0x000F};
    s.pixels = {0x8F, 0x00, 0xF0, 0x0F};
    Load(b, Build(s));
    EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(b.Pixel(0, 0), RGB(0, 136, 255));
    EXPECT_EQ(b.Pixel(1, 0), RGB(255, 255, 0));
}

TEST(BmpRead, ThirtyTwoBitFieldsInALargeHeader) {
    for (uint32_t headerSize : {108u, 124u, 56u}) {
        Spec s;
        s.headerSize = headerSize;
        s.width = 1;
        s.bits = 32;
        s.compression = 3;
        s.masks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000};  // R and B swapped, alpha
        s.pixels = {0x10, 0x20, 0x30, 0x40};
        TBitmap b;
        Load(b, Build(s));
        EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf32bit);
        EXPECT_EQ(Word(b, 0, 0), 0x40102030u) << headerSize;
    }
}

TEST(BmpRead, Os2Headers) {
    Spec s;
    s.headerSize = 12;
    s.width = 2;
    s.bits = 8;
    s.table.assign(256, 0);
    s.table[5] = 0xABCDEF;
    s.pixels = {5, 0, 0, 0};
    TBitmap b;
    Load(b, Build(s));
    EXPECT_EQ(b.Pixel(0, 0), RGB(0xAB, 0xCD, 0xEF));
    EXPECT_EQ(b.Pixel(1, 0), 0);

    Spec v2;
    v2.headerSize = 64;
    v2.width = 1;
    v2.bits = 24;
    v2.pixels = {9, 8, 7, 0};
    Load(b, Build(v2));
    EXPECT_EQ(b.Pixel(0, 0), RGB(7, 8, 9));
    v2.compression = 3;  // Huffman 1D there, not bit fields
    ExpectInvalid(Build(v2), "OS/2 Huffman");
}

TEST(BmpRead, Rle8RunsCopiesJumpsAndLineEnds) {
    Spec s;
    s.width = 6;
    s.height = 3;
    s.bits = 8;
    s.compression = 1;
    for (uint32_t i = 0; i < 256; ++i) s.table.push_back(i);
    s.pixels = {
        3, 7,              // bottom row: 7 7 7
        0, 3, 1, 2, 3, 0,  // copy 1 2 3 (padded)
        0, 0,              // end of line
        0, 2, 2, 1,        // jump 2 right, 1 up: to (2, top row)
        2, 9,              // 9 9 at x 2..3
        0, 1,              // end of bitmap
    };
    TBitmap b;
    Load(b, Build(s));
    const uint8_t bottom[6] = {7, 7, 7, 1, 2, 3};
    EXPECT_EQ(std::memcmp(b.ScanLine(2), bottom, 6), 0);
    const uint8_t middle[6] = {0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(b.ScanLine(1), middle, 6), 0);
    const uint8_t top[6] = {0, 0, 9, 9, 0, 0};
    EXPECT_EQ(std::memcmp(b.ScanLine(0), top, 6), 0);
}

TEST(BmpRead, Rle4AlternatesNibbles) {
    Spec s;
    s.width = 7;
    s.height = 1;
    s.bits = 4;
    s.compression = 2;
    s.table.assign(16, 0);
    s.pixels = {3, 0x12, 0, 3, 0xAB, 0xC0, 0, 1, 1};  // 1 2 1, then A B C, end
    TBitmap b;
    Load(b, Build(s));
    const uint8_t expect[4] = {0x12, 0x1A, 0xBC, 0x00};
    EXPECT_EQ(std::memcmp(b.ScanLine(0), expect, 4), 0);
}

// Runs and copies that go on past the row end draw what falls inside it
// and are consumed whole; the next code starts where the row's codes go on.
TEST(BmpRead, RleRunsPastTheRowEndAreCutAtTheEdge) {
    Spec s;
    s.width = 4;
    s.height = 2;
    s.bits = 8;
    s.compression = 1;
    for (uint32_t i = 0; i < 256; ++i) s.table.push_back(i);
    s.pixels = {6, 7, 0, 0, 0, 5, 1, 2, 3, 4, 5, 0, 2, 9, 0, 1};
    TBitmap b;
    Load(b, Build(s));
    const uint8_t bottom[4] = {7, 7, 7, 7}, top[4] = {1, 2, 3, 4};
    EXPECT_EQ(std::memcmp(b.ScanLine(1), bottom, 4), 0);
    EXPECT_EQ(std::memcmp(b.ScanLine(0), top, 4), 0);

    s.width = 3;
    s.height = 1;
    s.bits = 4;
    s.compression = 2;
    s.table.assign(16, 0);
    s.pixels = {4, 0x12, 0, 1};  // the odd pixel of the last pair runs over
    Load(b, Build(s));
    EXPECT_EQ(b.ScanLine(0)[0], 0x12);
    EXPECT_EQ(b.ScanLine(0)[1], 0x10);
    // The file ImageMagick writes by default for an 8-bit picture of odd width.
    TBitmap made;
    made.LoadFromFile(std::string(QUILLARC_TEST_DATA) + "/valid/rle8-row-overrun.bmp");
    EXPECT_GT(made.Width(), 0);
}

// Every narrow and wide channel widens to round(v x 255 / max): plain 555,
// 1555 bit fields and 10-bit channels alike.
TEST(BmpRead, ChannelsWidenByRounding) {
    Spec s;
    s.width = 32;
    s.bits = 16;
    for (uint32_t v = 0; v < 32; ++v) s.pixels.insert(s.pixels.end(), {uint8_t(v), 0});
    TBitmap plain, masked;
    Load(plain, Build(s));
    s.compression = 3;
    s.headerSize = 56;
    s.masks = {0x7C00, 0x03E0, 0x001F, 0x8000};
    Load(masked, Build(s));
    for (int32_t v = 0; v < 32; ++v) {
        EXPECT_EQ(plain.Pixel(v, 0), RGB(0, 0, (v * 255 + 15) / 31)) << v;
        EXPECT_EQ(masked.Pixel(v, 0), plain.Pixel(v, 0)) << v;
    }
    Spec w;
    w.width = 2;
    w.bits = 32;
    w.compression = 3;
    w.masks = {0x3FF00000, 0x000FFC00, 0x000003FF};
    w.pixels = {3, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0x3F};  // blue 3; then 1023, 1023, 1022
    TBitmap wide;
    Load(wide, Build(w));
    EXPECT_EQ(wide.Pixel(0, 0), RGB(0, 0, 1));  // truncation would give 0
    EXPECT_EQ(wide.Pixel(1, 0), RGB(255, 255, 255));
}

TEST(BmpRead, RleWithoutEndCodeKeepsWhatWasDecoded) {
    Spec s;
    s.width = 2;
    s.height = 1;
    s.bits = 8;
    s.compression = 1;
    s.table.assign(256, 0);
    s.pixels = {2, 5};
    TBitmap b;
    Load(b, Build(s));
    EXPECT_EQ(b.ScanLine(0)[1], 5);
}

// ImageMagick's run-length file, and pictures of 1.1 megapixels a few dozen
// bytes draw and pass over with end-of-line and jump codes, against
// ImageMagick's decode (tests/data/bmp).
TEST(BmpRead, RunLengthFilesMatchImageMagick) { EXPECT_EQ(rastertest::CheckFamily("bmp"), 3u); }

TEST(BmpRead, StartsAtTheStreamPosition) {
    Spec s;
    s.pixels = {1, 2, 3, 0};
    const Bytes file = Build(s);
    TMemoryStream m;
    m.WriteBuffer("junk", 4);
    m.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
    m.SetPosition(4);
    EXPECT_TRUE(bmp::Probe(m));
    EXPECT_EQ(m.Position(), 4);
    TBitmap b;
    b.LoadFromStream(m);
    EXPECT_EQ(b.Pixel(0, 0), RGB(3, 2, 1));
}

TEST(BmpRead, TheSamplePicture) {
    TBitmap b;
    b.LoadFromFile(QUILLARC_SAMPLE);
    EXPECT_EQ(b.Width(), 364);
    EXPECT_EQ(b.Height(), 384);
    EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf24bit);
}

TEST(BmpWrite, EveryFormatRoundTrips) {
    for (TPixelFormat f : {TPixelFormat::pf1bit, TPixelFormat::pf4bit, TPixelFormat::pf8bit, TPixelFormat::pf15bit,
                           TPixelFormat::pf16bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit,
                           TPixelFormat::pfDevice}) {
        TBitmap b;
        b.SetPixelFormat(f);
        b.SetSize(7, 5);
        for (int32_t y = 0; y < 5; ++y) {
            const int bytes = (7 * BitsPerPixel(f) + 7) / 8;
            for (int i = 0; i < bytes; ++i) b.ScanLine(y)[i] = static_cast<uint8_t>(y * 31 + i * 17);
            if (f == TPixelFormat::pf15bit) b.ScanLine(y)[1] &= 0x7F;
        }
        TMemoryStream m;
        b.SaveToStream(m);
        const uint8_t* h = m.Memory();
        EXPECT_EQ(h[0], 'B');
        EXPECT_EQ(h[14], 40);
        EXPECT_EQ(h[22], 5) << "bottom-up";
        m.SetPosition(0);
        TBitmap c;
        c.LoadFromStream(m);
        const TPixelFormat expect = f == TPixelFormat::pfDevice ? TPixelFormat::pf32bit : f;
        EXPECT_EQ(c.PixelFormat(), expect) << static_cast<int>(f);
        EXPECT_EQ(c.ColorTable(), b.ColorTable());
        for (int32_t y = 0; y < 5; ++y)
            EXPECT_EQ(std::memcmp(c.ScanLine(y), b.ScanLine(y), static_cast<size_t>((7 * BitsPerPixel(f) + 7) / 8)), 0)
                << static_cast<int>(f) << " row " << y;
    }
}

TEST(BmpWrite, EmptyBitmapRoundTrips) {
    TBitmap b;
    b.SetPixelFormat(TPixelFormat::pf24bit);
    TMemoryStream m;
    b.SaveToStream(m);
    m.SetPosition(0);
    TBitmap c;
    c.LoadFromStream(m);
    EXPECT_TRUE(c.Empty());
}

TEST(BmpHostile, HugeDimensionsFailFast) {
    Spec s;
    s.width = 100000;
    s.height = 100000;
    ExpectInvalid(Build(s), "100000 x 100000");
    s.width = 60000;
    s.height = 60000;
    ExpectInvalid(Build(s), "60000 x 60000 with no pixels");
    s.width = 65536;
    s.height = 65536;
    s.bits = 1;
    ExpectInvalid(Build(s), "over the pixel limit");
}

TEST(BmpHostile, BrokenHeaders) {
    Spec good;
    good.pixels = {0, 0, 0, 0};
    const Bytes file = Build(good);
    ExpectInvalid({}, "empty");
    ExpectInvalid(Bytes(file.begin(), file.begin() + 20), "cut in the header");
    ExpectInvalid(Bytes(file.begin(), file.end() - 1), "cut in the pixels");
    Bytes sig = file;
    sig[1] = 'A';
    ExpectInvalid(sig, "signature");
    for (uint32_t size : {0u, 4u, 41u, 100u, 200u, 0xFFFFFFFFu}) {
        Bytes b = file;
        Put32(b, 14, size);
        ExpectInvalid(b, "header size");
    }
    Spec s = good;
    s.width = -1;
    ExpectInvalid(Build(s), "negative width");
    s = good;
    s.height = INT32_MIN;
    ExpectInvalid(Build(s), "height -2^31");
    s = good;
    s.bits = 7;
    ExpectInvalid(Build(s), "7 bits");
    s = good;
    s.compression = 1;
    ExpectInvalid(Build(s), "RLE8 on 24 bits");
    s = good;
    s.compression = 4;
    ExpectInvalid(Build(s), "embedded JPEG");
}

TEST(BmpHostile, BadOffsetsAndTables) {
    Spec s;
    s.pixels = {0, 0, 0, 0};
    s.offset = 20;
    ExpectInvalid(Build(s), "offset inside the header");
    s.offset = 0x7FFFFFFF;
    ExpectInvalid(Build(s), "offset past the end");
    s.offset = 0xFFFFFFFF;
    ExpectInvalid(Build(s), "offset -1");
    Spec t;
    t.bits = 8;
    t.colorsUsed = 0x80000000u;  // more than 8 bits address: the full table is expected
    t.table = {1, 2};
    t.pixels = {0, 0, 0, 0};
    ExpectInvalid(Build(t), "table cut short");
    Spec m;
    m.bits = 32;
    m.compression = 3;
    m.masks = {0x00FF00F0, 0x0000FF00, 0x000000FF};
    m.pixels = {0, 0, 0, 0};
    ExpectInvalid(Build(m), "split mask");
    m.masks = {0x00FFFF00, 0x0000FF00, 0x000000FF};
    ExpectInvalid(Build(m), "overlapping masks");
}

TEST(BmpHostile, RleNeverWritesOutsideTheBitmap) {
    Spec s;
    s.width = 4;
    s.height = 2;
    s.bits = 8;
    s.compression = 1;
    s.table.assign(256, 0);
    const Bytes cases[] = {
        {0, 2, 5, 0, 0, 1},                  // jump past the right edge
        {0, 2, 0, 3, 0, 1},                  // jump past the top
        {0, 0, 0, 0, 0, 0, 1, 1},            // run above the top row
        {0, 3, 1, 2},                        // copy cut short
        {2, 1, 0},                           // code cut in half
        {0, 2, 1},                           // jump cut in half
    };
    for (const Bytes& c : cases) {
        s.pixels = c;
        ExpectInvalid(Build(s), "RLE8 overrun");
    }
    s.pixels = {5, 1, 0, 0, 0, 0, 0, 0, 5, 1};  // a run past the row end, then one below the bitmap
    ExpectInvalid(Build(s), "RLE8 run below the bitmap");
    s.bits = 4;
    s.compression = 2;
    s.table.assign(16, 0);
    s.height = -2;
    s.pixels = {0, 1};
    ExpectInvalid(Build(s), "top-down RLE");
}

// Run-length data that ends the picture at once leaves it to the background;
// beyond the first 1 Mi pixels, at most three times what the data could
// draw (255 pixels a pair of bytes): 4 Mi pixels need 3085 pairs.
TEST(BmpHostile, RleDataMustBackThePicture) {
    Spec s;
    s.width = s.height = 2048;
    s.bits = 8;
    s.compression = 1;
    s.table.assign(256, 0);
    for (const auto& [pairs, loads] : {std::pair{3084, false}, {3085, true}}) {
        s.pixels.assign(size_t(2 * pairs), 0);
        s.pixels[1] = 1;  // end of bitmap
        TBitmap b;
        if (loads) {
            Load(b, Build(s));
            EXPECT_EQ(b.ScanLine(0)[2047], 0);
        } else {
            ExpectInvalid(Build(s), "end of bitmap at once");
        }
    }
}

TEST(BmpHostile, FailedLoadKeepsTheBitmap) {
    TBitmap b;
    b.SetPixelFormat(TPixelFormat::pf24bit);
    b.SetSize(3, 3);
    b.SetPixel(1, 1, clRed);
    Spec s;
    s.width = 10;
    s.pixels = {1, 2, 3};
    EXPECT_THROW(Load(b, Build(s)), EInvalidGraphic);
    EXPECT_EQ(b.Width(), 3);
    EXPECT_EQ(b.Pixel(1, 1), clRed);
}

// Files the fuzzer once broke the reader with; each must load or be
// refused with EInvalidGraphic, nothing else.
TEST(BmpHostile, FuzzRegressions) {
    const std::filesystem::path dir = std::filesystem::path(QUILLARC_TEST_DATA) / "fuzz" / "bmp";
    if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no regression files";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (!entry.is_regular_file() || entry.path().extension() == ".txt") continue;
        ++files;
        TMemoryStream m;
        m.LoadFromFile(entry.path().string());
        TBitmap b;
        try {
            b.LoadFromStream(m);
        } catch (const EInvalidGraphic&) {
        }
    }
    EXPECT_GT(files, 0);
}
