// The TIFF and EPS readers over the files tests/data/tiff makes with
// independent tools and lays down by hand (hostile strip tables, counts and
// offsets, the colour rules, JPEG strips libjpeg refuses), and what those
// comparisons do not see: pixel formats, progress, warnings, threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/core/Dialogs.h"
#include "platform/core/Jpeg.h"
#include "platform/core/LoadWork.h"
#include "platform/core/Parallel.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/Simd.h"
#include "rasterformats/RasterStrings.h"
#include "rasterformats/TIFF.h"
#include "rasterformats/TIFFJPEGDecoder.h"
#include "tests/rasterformats/RasterFiles.h"
#include "tests/rasterformats/ReaderBytes.h"

namespace {

using readerbytes::Bytes;
using readerbytes::StreamOf;
using readerbytes::operator+;

const std::string kDir = rastertest::GeneratedDir("tiff");

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
    EXPECT_GT(rastertest::CheckFamily("tiff"), 80u);
    EXPECT_TRUE(recorder.warnings.empty());
    for (const rastertest::Expectation& e : rastertest::ReadManifest(kDir)) {
        // The probe reads the header: files refused for what follows pass it.
        const bool eps = e.file.ends_with(".eps");
        if (e.mode == "refuse" && (eps || e.file.starts_with("h-header-"))) continue;
        EXPECT_TRUE(eps ? TEPSGraphic::AcceptsFile(kDir + "/" + e.file) : TTIFFGraphic::AcceptsFile(kDir + "/" + e.file))
            << e.file;
    }
    TTIFFGraphic graphic;
    rastertest::CheckFuzzRegressions("tiff", graphic);
}

// 2-bit samples go to a 4-bit bitmap, grey with an extra sample is grey.
TEST(TIFF, SmallSamplesAndExtraSamples) {
    for (const auto& [file, format] : {std::pair{"h-map-2-bits.tif", TPixelFormat::pf4bit},
                                       {"im-gray2.tif", TPixelFormat::pf4bit},
                                       {"h-grey-extra-sample.tif", TPixelFormat::pf8bit}}) {
        TTIFFGraphic graphic;
        graphic.LoadFromFile(kDir + "/" + file);
        EXPECT_EQ(graphic.PixelFormat(), format) << file;
    }
}

TEST(TIFF, ProgressCountsTheRowJustDone) {
    TTIFFGraphic graphic;
    std::vector<std::string> events;
    graphic.OnProgress = [&](TObject*, TProgressStage stage, uint8_t percent, bool, const TRect& r,
                             const std::string& msg) {
        events.push_back(std::to_string(int(stage)) + " " + std::to_string(percent) + " " + std::to_string(r.Top) +
                         " " + std::to_string(r.Right) + " " + msg);
    };
    graphic.LoadFromFile(kDir + "/h-grey-2x2.tif");
    EXPECT_EQ(events, (std::vector<std::string>{"0 0 0 0 Preparing...", "2 0 0 2 ", "0 0 0 2 Transfering...",
                                                 "1 50 0 2 ", "1 100 1 2 ", "2 0 2 2 "}));
}

// A strip cut short decodes with what it has; the warnings of one load share
// its number, the first says the input ended.
TEST(TIFF, JPEGStripCutShortWarnsOncePerLoad) {
    WarningRecorder recorder;
    TTIFFGraphic graphic;
    graphic.LoadFromFile(kDir + "/warning-jpeg-cut.tif");
    ASSERT_FALSE(recorder.warnings.empty());
    EXPECT_EQ(recorder.warnings[0].second, raster::kJPEGUnexpectedEnd);
    for (const auto& w : recorder.warnings) EXPECT_EQ(w.first, recorder.warnings[0].first);
    graphic.LoadFromFile(kDir + "/warning-jpeg-cut.tif");
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
    // A 16 x 8 strip as the platform's JPEG class writes it (YCbCr, chroma
    // halved both ways).
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(16, 8);
    TJPEGImage jpeg;
    jpeg.Assign(&bitmap);
    TMemoryStream saved;
    jpeg.SaveToStream(saved);
    const Bytes strip(saved.Memory(), saved.Memory() + saved.Size());
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

namespace {

// `size` bytes of JPEG: a grey frame (SOF marker `frame`), one DC code of a
// bit, a scan of the DC coefficients whose data is zeros, the end marker.
Bytes GreyFrame(uint8_t frame, int width, int height, size_t size) {
    Bytes b = Bytes{0xFF, 0xD8, 0xFF, 0xDB, 0, 67, 0} + Bytes(64, 1) +
              Bytes{0xFF, frame, 0, 11, 8, uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8), uint8_t(width),
                    1, 1, 0x11, 0} +
              Bytes{0xFF, 0xC4, 0, 20, 0, 1} + Bytes(16, 0) + Bytes{0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 0, 0};
    b.resize(size - 2);
    return b + Bytes{0xFF, 0xD9};
}

}  // namespace

// The strip table's bound follows the coding the strip's frame marker
// gives: a bit a block for Huffman data in the file's layout (YCbCr halved
// both ways: 6 blocks for 256 pixels of 3 bytes), 768 pixels a byte for
// arithmetic data. The stream stays where it was.
TEST(TIFF, JPEGStripTableBoundFollowsTheStripsCoding) {
    TImageProperties p;
    p.Width = 100;
    p.BytesPerRow = 300;
    p.SamplesPerPixel = 3;
    p.PlanarConfiguration = 1;
    p.YCbCrSubSampling = {2, 2};
    TMemoryStream huffman = StreamOf(Bytes{1, 2, 3} + GreyFrame(0xC0, 8, 8, 200)),
                  arithmetic = StreamOf(Bytes{1, 2, 3} + GreyFrame(0xC9, 8, 8, 200));
    huffman.SetPosition(1);
    EXPECT_EQ(TTIFFJPEGDecoder::MostUnpacked(huffman, p, 3, 1000), 1000 * 512 * 4 / 6 * 3);
    EXPECT_EQ(huffman.Position(), 1);
    EXPECT_EQ(TTIFFJPEGDecoder::MostUnpacked(arithmetic, p, 3, 1000), 1000 * 768 * 3);
    p.BytesPerRow = 100;
    p.SamplesPerPixel = 1;
    p.YCbCrSubSampling.clear();
    EXPECT_EQ(TTIFFJPEGDecoder::MostUnpacked(huffman, p, 3, 1000), 1000 * 512);
}

// A 2048 x 2048 grey strip has 65536 blocks: 8191 bytes cannot hold them,
// and libjpeg sets nothing up for it; 8192 bytes can, and its coefficients
// take 8 MiB while its scans are read.
TEST(TIFF, JPEGStripTooShortForItsBlocksIsRefused) {
    TImageProperties p;
    p.Width = p.BytesPerRow = 2048;
    p.Height = 2048;
    p.SamplesPerPixel = 1;
    p.BitsPerSample = 8;
    p.ColorScheme = TColorLayout::csGray;
    p.RowsPerStrip = {2048};
    TTIFFJPEGDecoder decoder(p);
    decoder.OnWarning = [](const std::string&) {};
    Bytes out(2048 * 2048);
    for (const size_t size : {8191, 8192}) {
        const Bytes strip = GreyFrame(0xC2, 2048, 2048, size);
        const uint8_t* in = strip.data();
        uint8_t* dest = out.data();
        loadwork::Reset();
        std::string error;
        try {
            decoder.Decode(in, dest, int64_t(size), int64_t(out.size()));
        } catch (const EGraphicCompression& e) {
            error = e.Message();
        }
        EXPECT_EQ(error, size == 8191 ? raster::kJPEGStripTooShort : "");
        EXPECT_EQ(loadwork::CoefficientBytes(), size == 8191 ? 0u : 65536u * 128);
    }
}

// The same bytes from any number of threads, and with the vector kernels
// that trade red and blue turned off.
TEST(TIFF, StripsDecodeTheSameOnAnyNumberOfThreads) {
    const int threads = par::ThreadCount();
    for (const char* name : {"tc-rgb-zip2-r3.tif", "tc-rgb-jpeg-ycbcr.tif", "tc-rgb-packbits-r1.tif", "tc-g3-lsb-r5.fax",
                             "thunder-30-r4.tif", "warning-jpeg-cut.tif", "im-rgba-packbits-mm.tif", "im-big-none.tif",
                             "im-big-packbits.tif", "im-big-zip.tif", "im-big-gray16.tif",
                             "tc-big-gray-packbits-lsb.tif", "h-strips-starting-together.tif", "tc-gray-zip2.tif",
                             "tc-rgba-zip2-mm.tif", "tc-rgb-mm-r7.tif", "pool-rgb-1001.tif", "im-rgb-packbits-rps5.tif",
                             "tc-rgb-packbits-1x1.tif", "tc-rgb-packbits-1x9.tif", "tc-rgb-packbits-9x1.tif",
                             "tc-rgb-packbits-7x5.tif", "h-packbits-cut-in-a-pixel.tif", "r2t-rgb-lsb-packbits.tif"}) {
        SCOPED_TRACE(name);
        std::vector<rastertest::Rgba> pictures;
        std::vector<std::vector<std::string>> texts;
        // Last, from memory rather than from the file.
        for (int n : {1, 3, 8, 0, -1}) {
            simd::AllowAvx2(n != 0);
            par::SetThreadCount(std::max(n, 1));
            WarningRecorder recorder;
            TTIFFGraphic graphic;
            if (n >= 0) {
                graphic.LoadFromFile(kDir + "/" + name);
            } else {
                TMemoryStream stream;
                stream.LoadFromFile(kDir + "/" + name);
                graphic.LoadFromStream(stream);
            }
            pictures.push_back(rastertest::Expand(graphic));
            texts.emplace_back();
            for (const auto& w : recorder.warnings) texts.back().push_back(w.second);
        }
        for (size_t i = 1; i < pictures.size(); ++i) {
            EXPECT_EQ(rastertest::Compare(pictures[i], pictures[0], "exact"), "");
            EXPECT_EQ(texts[i], texts[0]);
        }
    }
    simd::AllowAvx2(true);
    par::SetThreadCount(threads);
}

// Strips that share their bytes decode them once, strips that overlap are
// cut where the next one starts, and strips that start together but end
// apart may not decode the same bytes over and over: a load's work stays
// within the file's bytes twice over, however many strips name them.
TEST(TIFF, StripsDecodeSharedBytesOnce) {
    const std::string dir = rastertest::GeneratedDir("hostile");
    for (const auto& [name, outcome] : {std::pair{"strips-one-stretch-deflate.tif", "1 x 16316, 0"},
                                       {"strips-one-stretch-sound.tif", "1 x 16316, 7"},
                                       {"strips-one-stretch-jpeg.tif", "8 x 65264, 128"},
                                       {"strips-shifted.tif", "1 x 4000, 0"},
                                       {"strips-ending-apart.tif", raster::kInvalidImage}}) {
        SCOPED_TRACE(name);
        loadwork::Reset();
        std::string got;
        try {
            TTIFFGraphic graphic;
            graphic.LoadFromFile(dir + "/" + name);
            got = std::to_string(graphic.Width()) + " x " + std::to_string(graphic.Height()) + ", " +
                  std::to_string(graphic.ScanLine(graphic.Height() - 1)[0]);
        } catch (const Exception& e) {
            got = e.Message();
        }
        EXPECT_EQ(got, Format(outcome, "TIF/TIFF"));
        std::ifstream file(dir + "/" + name, std::ios::binary | std::ios::ate);
        EXPECT_LE(loadwork::DecodedBytes(), 2 * uint64_t(file.tellg()));
    }
}

// Row padding and the rows of a strip past the end come out zero, whatever
// the pixel pool's block held: loads into blocks filled with other bytes
// give the same rows, byte for byte.
TEST(TIFF, NoStaleBytesReachAPicture) {
    TTIFFGraphic graphic;
    graphic.LoadFromFile(kDir + "/pool-rgb-1001.tif");
    const size_t stride = static_cast<size_t>(graphic.RowBytes()), used = 3 * size_t(graphic.Width());
    const size_t bytes = stride * size_t(graphic.Height());
    std::vector<uint8_t> seen[2];
    for (int i = 0; i < 2; ++i) {
        graphic.ReleaseImage();
        TPixelBuffer stale = TPixelBuffer::Allocate(bytes, false);
        std::memset(stale.data(), i == 0 ? 0xAB : 0x54, stale.size());
        stale.Clear();
        graphic.LoadFromFile(kDir + "/pool-rgb-1001.tif");
        for (int32_t y = 0; y < graphic.Height(); ++y) {
            const uint8_t* row = graphic.ScanLine(y);
            seen[i].insert(seen[i].end(), row, row + stride);
            ASSERT_EQ(std::count(row + used, row + stride, 0), stride - used) << "row " << y;
        }
    }
    EXPECT_TRUE(seen[0] == seen[1]);
}

TEST(EPS, PreviewFoundByTheHeader) {
    std::ifstream in(kDir + "/eps-rgb.eps", std::ios::binary);
    const Bytes good{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // Offsets count from the EPS header, wherever it starts in the stream;
    // the probe leaves the stream where it was.
    Bytes padded = good;
    padded.insert(padded.begin(), 5, 'x');
    TMemoryStream stream = StreamOf(padded);
    stream.SetPosition(5);
    EXPECT_TRUE(TEPSGraphic::AcceptsStream(stream));
    EXPECT_EQ(stream.Position(), 5);
    TEPSGraphic graphic, file;
    graphic.LoadFromStream(stream);
    file.LoadFromFile(kDir + "/eps-rgb.eps");
    EXPECT_EQ(rastertest::Compare(rastertest::Expand(graphic), rastertest::Expand(file), "exact"), "");
    // A preview inside the header, or without a length, is none.
    for (const auto& [offset, length] : {std::pair{29u, 100u}, {12u, 100u}, {40u, 0u}}) {
        Bytes bad = good;
        for (int i = 0; i < 4; ++i) bad[20 + i] = uint8_t(offset >> 8 * i), bad[24 + i] = uint8_t(length >> 8 * i);
        EXPECT_FALSE(readerbytes::Accepts<TEPSGraphic>(bad)) << offset << " " << length;
    }
}
