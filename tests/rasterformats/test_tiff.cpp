// The TIFF and EPS readers over files made by independent tools, and over
// hand-made files: hostile strip tables, counts and offsets, the colour
// rules, the predictor, JPEG strips and their warnings.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/core/Dialogs.h"
#include "platform/core/Jpeg.h"
#include "platform/core/Parallel.h"
#include "rasterformats/RasterStrings.h"
#include "rasterformats/TIFF.h"
#include "rasterformats/TIFFJPEGDecoder.h"
#include "tests/rasterformats/RasterFiles.h"
#include "tests/rasterformats/ReaderBytes.h"

namespace {

using readerbytes::Bytes;
using readerbytes::operator+;
using readerbytes::StreamOf;

// One directory entry: type 3 short, 4 long, 5 rational (values in pairs),
// 7 undefined (one byte a value). Type 0 leaves out a tag the builder
// would otherwise add.
struct Tag {
    uint16_t tag, type;
    std::vector<uint32_t> values;
    uint32_t count = ~0u;  // the count written, when not the values' count
};

// A TIFF of one image: the header, the strips, the values that do not fit
// their entries, the directory. Strip offsets and byte counts are added
// from the strips unless given.
Bytes Tiff(std::vector<Tag> tags, const std::vector<Bytes>& strips, bool bigEndian = false) {
    auto put16 = [bigEndian](Bytes& b, uint32_t v) {
        if (bigEndian) b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)});
        else b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
    };
    auto put32 = [&](Bytes& b, uint32_t v) {
        if (bigEndian) put16(b, v >> 16), put16(b, v & 0xFFFF);
        else put16(b, v & 0xFFFF), put16(b, v >> 16);
    };
    Bytes file = bigEndian ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
    put16(file, 42);
    put32(file, 0);  // directory offset, set below
    std::vector<uint32_t> offsets, counts;
    for (const Bytes& s : strips) {
        offsets.push_back(static_cast<uint32_t>(file.size()));
        counts.push_back(static_cast<uint32_t>(s.size()));
        file = file + s;
    }
    auto has = [&tags](uint16_t t) {
        for (const Tag& g : tags)
            if (g.tag == t) return true;
        return false;
    };
    if (!has(273)) tags.push_back({273, 4, offsets});
    if (!has(279)) tags.push_back({279, 4, counts});
    std::erase_if(tags, [](const Tag& g) { return g.type == 0; });
    std::sort(tags.begin(), tags.end(), [](const Tag& a, const Tag& b) { return a.tag < b.tag; });
    Bytes directory;
    put16(directory, static_cast<uint32_t>(tags.size()));
    Bytes outside;
    const size_t directoryAt = file.size();
    const size_t outsideAt = directoryAt + 2 + 12 * tags.size() + 4;
    for (const Tag& g : tags) {
        Bytes values;
        for (uint32_t v : g.values) {
            if (g.type == 3) put16(values, v);
            else if (g.type == 7) values.push_back(uint8_t(v));
            else put32(values, v);
        }
        const uint32_t perValue = g.type == 3 ? 2 : g.type == 7 ? 1 : g.type == 5 ? 8 : 4;
        put16(directory, g.tag);
        put16(directory, g.type);
        put32(directory, g.count != ~0u ? g.count : static_cast<uint32_t>(values.size() / perValue));
        if (values.size() <= 4) {
            values.resize(4, 0);
            directory = directory + values;
        } else {
            put32(directory, static_cast<uint32_t>(outsideAt + outside.size()));
            outside = outside + values;
        }
    }
    put32(directory, 0);
    file = file + directory + outside;
    Bytes header;
    put32(header, static_cast<uint32_t>(directoryAt));
    std::copy(header.begin(), header.end(), file.begin() + 4);
    return file;
}

std::vector<Tag> operator+(std::vector<Tag> a, const std::vector<Tag>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The tags of a width x height image of samples x bits, one strip per
// rowsPerStrip rows.
std::vector<Tag> Image(uint32_t width, uint32_t height, uint32_t samples, uint32_t bits, uint32_t photometric,
                       uint32_t compression = 1, std::vector<Tag> more = {}) {
    std::vector<Tag> tags = {{256, 4, {width}},       {257, 4, {height}},    {258, 3, {bits}},
                             {259, 3, {compression}}, {262, 3, {photometric}}, {277, 3, {samples}}};
    return tags + more;
}

// PackBits literal packets of at most 128 bytes.
Bytes Literal(const Bytes& data) {
    Bytes out;
    for (size_t i = 0; i < data.size(); i += 128) {
        const size_t n = std::min<size_t>(128, data.size() - i);
        out.push_back(static_cast<uint8_t>(n - 1));
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(i),
                   data.begin() + static_cast<std::ptrdiff_t>(i + n));
    }
    return out;
}

// "" when the bytes load, else the message they are refused with.
template <class Reader = TTIFFGraphic>
std::string LoadError(const Bytes& bytes) {
    return readerbytes::LoadError<Reader>(bytes);
}
std::string LoadError(const Bytes& bytes, TRasterGraphic& into) { return readerbytes::LoadError(bytes, into); }

const std::string kInvalid = Format(raster::kInvalidImage, "TIF/TIFF");
const std::string kColour = Format(raster::kInvalidColorFormat, "TIF/TIFF");
std::string NotSupported(const char* what) { return Format(raster::kNotSupported, what, "TIF/TIFF"); }

// Records the picture warnings of a scope.
struct WarningRecorder {
    std::vector<std::pair<uint64_t, std::string>> warnings;
    TPictureWarningHandler previous = SetPictureWarningHandler(
        [this](uint64_t load, const std::string& text) { warnings.emplace_back(load, text); });
    ~WarningRecorder() { SetPictureWarningHandler(previous); }
};

}  // namespace

TEST(TIFF, FilesFromIndependentToolsMatchTheirReferences) {
    WarningRecorder recorder;
    EXPECT_GT(rastertest::CheckFamily("tiff"), 40u);
    EXPECT_TRUE(recorder.warnings.empty());
    const std::string dir = rastertest::GeneratedDir("tiff");
    for (const rastertest::Expectation& e : rastertest::ReadManifest(dir)) {
        const bool eps = e.file.ends_with(".eps");
        if (e.mode == "refuse" && eps) continue;
        EXPECT_TRUE(eps ? TEPSGraphic::AcceptsFile(dir + "/" + e.file) : TTIFFGraphic::AcceptsFile(dir + "/" + e.file))
            << e.file;
    }
    TTIFFGraphic graphic;
    rastertest::CheckFuzzRegressions("tiff", graphic);
}

TEST(TIFF, HostileStripsCountsAndOffsets) {
    const Bytes row = {10, 20, 30, 40, 50, 60};  // two RGB pixels
    const std::vector<Tag> rgb = Image(2, 2, 3, 8, 2);
    struct Case {
        const char* what;
        Bytes file;
        std::string error;
    } cases[] = {
        {"no strip offsets", Tiff(rgb + std::vector<Tag>{{273, 0, {}}}, {row + row}), kInvalid},
        {"packed strips without byte counts",
         Tiff(Image(2, 2, 3, 8, 2, 32773) + std::vector<Tag>{{279, 0, {}}}, {Literal(row + row)}), kInvalid},
        {"fewer byte counts than strips",
         Tiff(Image(2, 2, 3, 8, 2, 32773, {{278, 4, {1}}, {279, 4, {7}}}), {Literal(row), Literal(row)}), kInvalid},
        {"stored strips need no byte counts", Tiff(rgb + std::vector<Tag>{{279, 0, {}}}, {row + row}), ""},
        {"a strip past the end of the stream",
         Tiff(rgb + std::vector<Tag>{{278, 4, {1}}, {273, 4, {8, 0x7FFFFF00}}}, {row}), ""},
        {"a billion strip offsets", Tiff(rgb + std::vector<Tag>{{273, 4, {8, 8}, 1000000000}}, {row + row}), ""},
        {"rows per strip beyond any picture", Tiff(rgb + std::vector<Tag>{{278, 4, {0xFFFFFFFE}}}, {row + row}), ""},
        {"directory past the end", Bytes{'I', 'I', 42, 0, 0xF0, 0xFF, 0xFF, 0x0F} + Bytes(8, 0), kInvalid},
        {"version 43", [&] { Bytes b = Tiff(rgb, {row + row}); b[2] = 43; return b; }(), kInvalid},
        {"no width", Tiff(Image(0, 2, 3, 8, 2), {row + row}), kInvalid},
        {"65536 pixels wide", Tiff(Image(65536, 1, 1, 8, 1), {row}), kInvalid},
        {"an unknown compression", Tiff(Image(2, 2, 3, 8, 2, 50000), {row + row}), NotSupported(raster::kCompressionScheme)},
        {"old-style JPEG", Tiff(Image(2, 2, 3, 8, 2, 6), {row + row}), NotSupported(raster::kCompressionScheme)},
    };
    for (const Case& c : cases) EXPECT_EQ(LoadError(c.file), c.error) << c.what;

    // Strips that share their bytes, more than the stream holds in all, are
    // read one after another; each gives its rows.
    TTIFFGraphic shared;
    ASSERT_EQ(LoadError(Tiff(Image(2, 3, 3, 8, 2, 32773, {{278, 4, {1}}, {273, 4, {8, 8, 8}}, {279, 4, {900, 900, 900}}}),
                             {Literal(row)}),
                        shared),
              "");
    for (int y = 0; y < 3; ++y) EXPECT_EQ(shared.Pixel(1, y), RGB(40, 50, 60)) << y;

    // The strip that is not there reads as zero.
    TTIFFGraphic graphic;
    ASSERT_EQ(LoadError(Tiff(rgb + std::vector<Tag>{{278, 4, {1}}, {273, 4, {8, 0x7FFFFF00}}}, {row}), graphic), "");
    EXPECT_EQ(graphic.Pixel(1, 0), RGB(40, 50, 60));
    EXPECT_EQ(graphic.Pixel(1, 1), RGB(0, 0, 0));
}

TEST(TIFF, SamplesMustFitTheColourModel) {
    const Bytes data(64, 1);
    struct Case {
        const char* what;
        std::vector<Tag> tags;
    } cases[] = {
        {"RGB of one sample", Image(2, 2, 1, 8, 2)},
        {"Lab of two samples", Image(2, 2, 2, 8, 8)},
        {"YCbCr of one sample", Image(2, 2, 1, 8, 6, 1, {{530, 3, {1, 1}}})},
        {"CMYK of three samples", Image(2, 2, 3, 8, 5)},
        {"palette with an extra sample but one sample", Image(2, 2, 1, 8, 3, 1, {{338, 3, {2}}})},
        {"RGB of 12 bits", Image(2, 2, 3, 12, 2)},
        {"grey of 3 bits", Image(2, 2, 1, 3, 1)},
        {"fax data of 8 bits", Image(2, 2, 1, 8, 0, 3)},
        {"ThunderScan of 8 bits", Image(2, 2, 1, 8, 1, 32809)},
        {"colour map of 8-bit size for 4 bits", Image(2, 2, 1, 4, 3, 1, {{320, 3, std::vector<uint32_t>(768, 0)}})},
        {"colour map one short", Image(2, 2, 1, 8, 3, 1, {{320, 3, std::vector<uint32_t>(767, 0)}})},
        {"colour map for 16-bit indices", Image(2, 2, 1, 16, 3, 1, {{320, 3, std::vector<uint32_t>(768, 0)}})},
    };
    for (const Case& c : cases) EXPECT_EQ(LoadError(Tiff(c.tags, {data})), kColour) << c.what;
}

TEST(TIFF, SmallSamplesAndColourMaps) {
    TTIFFGraphic graphic;
    // A 2-bit colour map of 4 entries, each as 16 bits (taken as v x 255
    // div 65535), three planes; big-endian too.
    const std::vector<uint32_t> map = {0xFFFF, 0x0101, 0, 0x8000,  0, 0xFFFF, 0x7F80, 0,  0, 0, 0xFF00, 0x0100};
    const TColor colours[4] = {RGB(255, 0, 0), RGB(1, 255, 0), RGB(0, 127, 254), RGB(127, 0, 0)};
    for (bool bigEndian : {false, true}) {
        ASSERT_EQ(LoadError(Tiff(Image(4, 1, 1, 2, 3, 1, {{320, 3, map}}), {{0x1B}}, bigEndian), graphic), "");
        EXPECT_EQ(graphic.PixelFormat(), TPixelFormat::pf4bit);
        for (int x = 0; x < 4; ++x) EXPECT_EQ(graphic.Pixel(x, 0), colours[x]) << x << (bigEndian ? " MM" : " II");
    }
    // Grey with an extra sample is grey.
    ASSERT_EQ(LoadError(Tiff(Image(2, 1, 2, 8, 1, 1, {{338, 3, {2}}}), {{7, 200, 9, 100}}), graphic), "");
    EXPECT_EQ(graphic.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(graphic.Pixel(1, 0), RGB(9, 9, 9));
    // The predictor works on whole 8- and 16-bit samples: not on 4-bit ones.
    ASSERT_EQ(LoadError(Tiff(Image(2, 1, 1, 4, 1, 32773, {{317, 3, {2}}}), {Literal({0x35})}), graphic), "");
    EXPECT_EQ(graphic.Pixel(1, 0), RGB(85, 85, 85));
}

TEST(TIFF, YCbCrCoefficientsWithoutValuesKeepTheDefaults) {
    const Bytes ycc = {100, 50, 200, 30, 220, 128};
    TTIFFGraphic plain, empty;
    ASSERT_EQ(LoadError(Tiff(Image(2, 1, 3, 8, 6, 1, {{530, 3, {1, 1}}}), {ycc}), plain), "");
    ASSERT_EQ(LoadError(Tiff(Image(2, 1, 3, 8, 6, 1, {{530, 3, {1, 1}}, {529, 5, {}}}), {ycc}), empty), "");
    // Y 100, Cb 50, Cr 200 with 0.299, 0.587, 0.114: red 100 + 101, green
    // 100 + 27 - 51, blue 100 - 138.
    EXPECT_EQ(plain.Pixel(0, 0), RGB(201, 76, 0));
    for (int x = 0; x < 2; ++x) EXPECT_EQ(empty.Pixel(x, 0), plain.Pixel(x, 0));
}

TEST(TIFF, ProgressCountsTheRowJustDone) {
    TTIFFGraphic graphic;
    std::vector<std::string> events;
    graphic.OnProgress = [&](TObject*, TProgressStage stage, uint8_t percent, bool, const TRect& r,
                             const std::string& msg) {
        events.push_back(std::to_string(int(stage)) + " " + std::to_string(percent) + " " + std::to_string(r.Top) +
                         " " + std::to_string(r.Right) + " " + msg);
    };
    ASSERT_EQ(LoadError(Tiff(Image(2, 2, 1, 8, 1), {{1, 2, 3, 4}}), graphic), "");
    EXPECT_EQ(events, (std::vector<std::string>{"0 0 0 0 Preparing...", "2 0 0 2 ", "0 0 0 2 Transfering...",
                                                 "1 50 0 2 ", "1 100 1 2 ", "2 0 2 2 "}));
}

namespace {

// A JPEG image of width x height, as the platform's JPEG class writes it
// (YCbCr, chroma halved both ways).
Bytes Jpeg(int32_t width, int32_t height) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) bitmap.SetPixel(x, y, RGB(x * 15, y * 30, (x + y) * 8));
    TJPEGImage jpeg;
    jpeg.Assign(&bitmap);
    TMemoryStream out;
    jpeg.SaveToStream(out);
    return Bytes(out.Memory(), out.Memory() + out.Size());
}

const std::vector<Tag> kJpegYCbCr = Image(16, 8, 3, 8, 6, 7);

}  // namespace

TEST(TIFF, JPEGStripFaultsAreRefusedOrWarned) {
    const Bytes strip = Jpeg(16, 8);
    const Bytes half(strip.begin(), strip.end() - 12);  // entropy data cut short
    struct Case {
        const char* what;
        Bytes file;
        std::string error;
    } cases[] = {
        {"no JPEG data", Tiff(kJpegYCbCr, {Bytes(100, 0x55)}), "Not a JPEG file: starts with 0x55 0x55"},
        {"strip of other rows", Tiff(kJpegYCbCr + std::vector<Tag>{{278, 3, {4}}}, {strip, strip}), raster::kJPEGStripSize},
        {"grey image, colour strip", Tiff(Image(16, 8, 1, 8, 1, 7), {strip}), raster::kJPEGComponents},
        {"other sampling", Tiff(kJpegYCbCr + std::vector<Tag>{{530, 3, {1, 1}}}, {strip}), raster::kJPEGSampling},
        {"16-bit samples", Tiff(Image(16, 8, 3, 16, 6, 7), {strip}), raster::kJPEGPrecision},
        {"an image as the tables", Tiff(kJpegYCbCr + std::vector<Tag>{{347, 7, {strip.begin(), strip.end()}}}, {strip}),
         raster::kJPEGBogusTables},
    };
    for (const Case& c : cases) EXPECT_EQ(LoadError(c.file), c.error) << c.what;

    // A strip cut short decodes with what it has; the warnings of one load
    // share its number, the first says the input ended.
    WarningRecorder recorder;
    TTIFFGraphic graphic;
    ASSERT_EQ(LoadError(Tiff(kJpegYCbCr, {half}), graphic), "");
    ASSERT_FALSE(recorder.warnings.empty());
    EXPECT_EQ(recorder.warnings[0].second, raster::kJPEGUnexpectedEnd);
    for (const auto& w : recorder.warnings) EXPECT_EQ(w.first, recorder.warnings[0].first);
    ASSERT_EQ(LoadError(Tiff(kJpegYCbCr, {half}), graphic), "");
    EXPECT_NE(recorder.warnings.back().first, recorder.warnings[0].first);
}

TEST(TIFF, JPEGDecoderRefusesRowsThatDoNotFit) {
    TImageProperties p;
    p.Width = 16;
    p.Height = 8;
    p.SamplesPerPixel = 3;
    p.BitsPerSample = 8;
    p.ColorScheme = TColorLayout::csYCbCr;
    p.PlanarConfiguration = 1;
    p.RowsPerStrip = {8};
    p.YCbCrSubSampling = {2, 2};
    p.BytesPerRow = 48;
    TTIFFJPEGDecoder decoder(p);
    decoder.BeginDecode();
    const Bytes strip = Jpeg(16, 8);
    Bytes out(8 * 48);
    const uint8_t* in = strip.data();
    uint8_t* dest = out.data();
    try {
        decoder.Decode(in, dest, static_cast<int64_t>(strip.size()), 8 * 48 - 1);
        FAIL();
    } catch (const EGraphicCompression& e) {
        EXPECT_EQ(e.Message(), raster::kJPEGFractionalScanline);
    }
    EXPECT_EQ(decoder.Decode(in, dest, static_cast<int64_t>(strip.size()), 8 * 48), 8 * 48);
    decoder.EndDecode();
}

TEST(TIFF, StripsDecodeTheSameOnAnyNumberOfThreads) {
    const std::string dir = rastertest::GeneratedDir("tiff");
    const int threads = par::ThreadCount();
    for (const char* name : {"tc-rgb-zip2-r3.tif", "tc-rgb-jpeg-ycbcr.tif", "tc-rgb-packbits-r1.tif", "tc-g3-lsb-r5.fax",
                             "thunder-30-r4.tif", "warning-jpeg-cut.tif"}) {
        SCOPED_TRACE(name);
        std::vector<rastertest::Rgba> pictures;
        std::vector<std::vector<std::string>> texts;
        for (int n : {1, 3, 8}) {
            par::SetThreadCount(n);
            WarningRecorder recorder;
            TTIFFGraphic graphic;
            graphic.LoadFromFile(dir + "/" + name);
            pictures.push_back(rastertest::Expand(graphic));
            texts.emplace_back();
            for (const auto& w : recorder.warnings) texts.back().push_back(w.second);
        }
        for (size_t i = 1; i < pictures.size(); ++i) {
            EXPECT_EQ(rastertest::Compare(pictures[i], pictures[0], "exact"), "");
            EXPECT_EQ(texts[i], texts[0]);
        }
    }
    par::SetThreadCount(threads);
}

TEST(EPS, PreviewFoundByTheHeader) {
    const Bytes tiff = Tiff(Image(2, 1, 1, 8, 1), {{40, 80}});
    auto eps = [&](uint32_t offset, uint32_t length) {
        Bytes h = {0xC5, 0xD0, 0xD3, 0xC6};
        for (uint32_t v : {30u, 0u, 0u, 0u, offset, length}) h = h + Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        return h + Bytes{0xFF, 0xFF} + Bytes(10, '%') + tiff;
    };
    const Bytes good = eps(40, static_cast<uint32_t>(tiff.size()));
    TMemoryStream stream = StreamOf(Bytes(5, 'x') + good);
    stream.SetPosition(5);
    EXPECT_TRUE(TEPSGraphic::AcceptsStream(stream));
    EXPECT_EQ(stream.Position(), 5);
    // Offsets count from the EPS header, wherever it starts in the stream.
    TEPSGraphic graphic;
    graphic.LoadFromStream(stream);
    EXPECT_EQ(graphic.Pixel(1, 0), RGB(80, 80, 80));
    // A preview inside the header, or without a length, is none.
    for (const Bytes& bad : {eps(30, 100), eps(12, 100), eps(40, 0)}) {
        TMemoryStream s = StreamOf(bad);
        EXPECT_FALSE(TEPSGraphic::AcceptsStream(s));
    }
    // The TIFF inside speaks for itself.
    EXPECT_EQ(LoadError<TEPSGraphic>(eps(40, 10) + Bytes(3, 0)), "");
    Bytes notTiff = good;
    notTiff[40] = 'X';
    EXPECT_EQ(LoadError<TEPSGraphic>(notTiff), kInvalid);
}
