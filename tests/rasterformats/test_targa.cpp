// The Truevision reader over files made by independent tools, hostile
// headers, and the writer.
#include <gtest/gtest.h>

#include <vector>

#include "rasterformats/RasterStrings.h"
#include "rasterformats/Targa.h"
#include "tests/rasterformats/RasterFiles.h"
#include "tests/rasterformats/ReaderBytes.h"

namespace {

using readerbytes::Bytes;
using readerbytes::operator+;

Bytes Header(uint8_t type, uint16_t width, uint16_t height, uint8_t depth, uint8_t descriptor = 0x20,
             uint8_t mapType = 0, uint16_t mapLength = 0, uint8_t entry = 0) {
    return {0, mapType, type, 0, 0, uint8_t(mapLength), uint8_t(mapLength >> 8), entry, 0, 0, 0, 0,
            uint8_t(width), uint8_t(width >> 8), uint8_t(height), uint8_t(height >> 8), depth, descriptor};
}

// "" when the bytes load, else the message they are refused with.
std::string LoadError(const Bytes& bytes) { return readerbytes::LoadError<TTargaGraphic>(bytes); }
std::string LoadError(const Bytes& bytes, TTargaGraphic& into) { return readerbytes::LoadError(bytes, into); }

// A bitmap of the format with runs and changes in every row.
std::unique_ptr<TBitmap> Picture(TPixelFormat format, int32_t width, int32_t height) {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(format);
    bitmap->SetSize(width, height);
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = bitmap->ScanLine(y);
        const int32_t bytes = (width * BitsPerPixel(format) + 7) / 8;
        for (int32_t i = 0; i < bytes; ++i) row[i] = static_cast<uint8_t>(((i / 5 + y) % 4) * 61 + (i % 5 == 4 ? i : 0));
    }
    return bitmap;
}

Bytes Saved(TTargaGraphic& targa, bool compressed) {
    TMemoryStream out;
    targa.SaveToStreamCompressed(out, compressed);
    return Bytes(out.Memory(), out.Memory() + out.Size());
}

}  // namespace

TEST(Targa, FilesFromIndependentToolsMatchTheirReferences) {
    readerbytes::CheckGeneratedFamily<TTargaGraphic>("targa", 38);
}

TEST(Targa, HostileAndBrokenHeaders) {
    const std::string invalid = Format(raster::kInvalidImage, "TGA");
    const std::string colour = Format(raster::kInvalidColorFormat, "TGA");
    const std::string read = "Stream read error";
    struct Case {
        const char* what;
        Bytes bytes;
        std::string error;
    } cases[] = {
        {"shorter than a header", Bytes(17, 0), invalid},
        {"unknown image type", Header(4, 2, 2, 24) + Bytes(12, 0), invalid},
        {"no image data", Header(0, 30000, 30000, 32), invalid},
        {"unknown colour map type", Header(2, 2, 2, 24, 0x20, 2) + Bytes(12, 0), invalid},
        {"no width", Header(2, 0, 2, 24), invalid},
        {"65535 x 65535 pixels", Header(10, 65535, 65535, 24) + Bytes(20, 0xFF), invalid},
        {"16000 x 16000 packed from a few bytes", Header(10, 16000, 16000, 24) + Bytes(20, 0xFF), invalid},
        {"raw pixels missing", Header(2, 1000, 1000, 24) + Bytes(10, 0), read},
        {"colour map past the end", Header(1, 2, 2, 8, 0x20, 1, 65535, 24) + Bytes(30, 0), read},
        {"colour map entries of 8 bits", Header(1, 2, 2, 8, 0x20, 1, 2, 8) + Bytes(6, 0), colour},
        {"colour-mapped pixels of 24 bits", Header(1, 2, 2, 24) + Bytes(12, 0), colour},
        {"grey pixels of 16 bits", Header(3, 2, 2, 16) + Bytes(8, 0), colour},
        {"pixels of 12 bits", Header(2, 2, 2, 12) + Bytes(8, 0), raster::kBadSampleCount},
    };
    for (const Case& c : cases) EXPECT_EQ(LoadError(c.bytes), c.error) << c.what;

    // What is missing of packed data stays zero.
    TTargaGraphic graphic;
    ASSERT_EQ(LoadError(Header(10, 3, 2, 24) + Bytes{0x81, 1, 2, 3}, graphic), "");
    EXPECT_EQ(graphic.Pixel(1, 0), RGB(3, 2, 1));
    EXPECT_EQ(graphic.Pixel(2, 0), RGB(0, 0, 0));
    EXPECT_EQ(graphic.Pixel(0, 1), RGB(0, 0, 0));
}

// Widened by a shift of 3, as the other decoders' rounding differs.
TEST(Targa, FiveBitColourMapEntries) {
    TTargaGraphic graphic;
    // Entries 0x7FFF, 0x001F, 0x7C00; pixels 0, 1, 2.
    const Bytes file = Header(1, 3, 1, 8, 0x20, 1, 3, 16) + Bytes{0xFF, 0x7F, 0x1F, 0x00, 0x00, 0x7C} + Bytes{0, 1, 2};
    ASSERT_EQ(LoadError(file, graphic), "");
    EXPECT_EQ(graphic.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(graphic.Pixel(0, 0), RGB(248, 248, 248));
    EXPECT_EQ(graphic.Pixel(1, 0), RGB(0, 0, 248));
    EXPECT_EQ(graphic.Pixel(2, 0), RGB(248, 0, 0));
}

TEST(Targa, WriterHeaders) {
    TTargaGraphic targa;
    targa.Assign(Picture(TPixelFormat::pf24bit, 5, 3).get());
    const Bytes packed = Saved(targa, true);
    EXPECT_EQ(Bytes(packed.begin(), packed.begin() + 18), Header(10, 5, 3, 24, 0x20, 0, 256, 24));
    targa.Assign(Picture(TPixelFormat::pf8bit, 5, 3).get());
    const Bytes raw = Saved(targa, false);
    EXPECT_EQ(Bytes(raw.begin(), raw.begin() + 18), Header(1, 5, 3, 8, 0x20, 1, 256, 24));
    ASSERT_EQ(raw.size(), 18u + 768u + 15u);
    const TPaletteEntry& c1 = targa.ColorTable()[1];
    EXPECT_EQ(Bytes(raw.begin() + 21, raw.begin() + 24), (Bytes{c1.peBlue, c1.peGreen, c1.peRed}));
    EXPECT_EQ(Saved(targa, true)[2], 9);
    TTargaGraphic empty;
    EXPECT_TRUE(Saved(empty, true).empty());
    TTargaGraphic wide;
    wide.SetPixelFormat(TPixelFormat::pf8bit);
    wide.SetSize(65536, 1);
    EXPECT_THROW(Saved(wide, false), EInvalidGraphic);
}

TEST(Targa, WrittenPicturesReadBackAsTheyWere) {
    struct Case {
        TPixelFormat format;
        const char* mode;
        TPixelFormat readBack;
    } cases[] = {
        {TPixelFormat::pf1bit, "exact", TPixelFormat::pf8bit},   {TPixelFormat::pf4bit, "exact", TPixelFormat::pf8bit},
        {TPixelFormat::pf8bit, "exact", TPixelFormat::pf8bit},   {TPixelFormat::pf15bit, "exact", TPixelFormat::pf15bit},
        {TPixelFormat::pf16bit, "top5", TPixelFormat::pf15bit},  {TPixelFormat::pf24bit, "exact", TPixelFormat::pf24bit},
        {TPixelFormat::pf32bit, "exact", TPixelFormat::pf32bit}, {TPixelFormat::pfDevice, "rgb", TPixelFormat::pf32bit},
    };
    for (const Case& c : cases) {
        for (bool compressed : {false, true}) {
            SCOPED_TRACE(std::to_string(int(c.format)) + (compressed ? " packed" : " raw"));
            const auto source = Picture(c.format, 37, 5);
            TTargaGraphic targa;
            targa.Assign(source.get());
            const Bytes file = Saved(targa, compressed);
            TTargaGraphic back;
            ASSERT_EQ(LoadError(file, back), "");
            EXPECT_EQ(back.PixelFormat(), c.readBack);
            EXPECT_EQ(targa.PixelFormat(), c.format);  // saving leaves the picture as it was
            EXPECT_EQ(rastertest::Compare(rastertest::Expand(back), rastertest::Expand(*source), c.mode), "");
        }
    }
}
