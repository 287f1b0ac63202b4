#include <gtest/gtest.h>

#include <filesystem>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "platform/core/Jpeg.h"
#include "platform/core/LoadWork.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/Progress.h"
#include "tests/rasterformats/RasterFiles.h"

namespace {

std::unique_ptr<TBitmap> Filled(int w, int h, uint8_t b, uint8_t g, uint8_t r) {
    auto bmp = std::make_unique<TBitmap>();
    bmp->SetPixelFormat(TPixelFormat::pf24bit);
    bmp->SetSize(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* p = bmp->ScanLine(y);
        for (int x = 0; x < w; ++x) p[3 * x] = b, p[3 * x + 1] = g, p[3 * x + 2] = r;
    }
    return bmp;
}

std::unique_ptr<TBitmap> Gradient(int w, int h) {
    auto bmp = Filled(w, h, 0, 0, 0);
    for (int y = 0; y < h; ++y) {
        uint8_t* p = bmp->ScanLine(y);
        for (int x = 0; x < w; ++x) {
            p[3 * x] = static_cast<uint8_t>(x * 255 / (w - 1));
            p[3 * x + 1] = static_cast<uint8_t>(y * 255 / (h - 1));
            p[3 * x + 2] = static_cast<uint8_t>(128 + (x - y) / 4);
        }
    }
    return bmp;
}

std::vector<uint8_t> Save(const TBitmap& bmp) {
    TJPEGImage jpeg;
    jpeg.Assign(&bmp);
    TMemoryStream ms;
    jpeg.SaveToStream(ms);
    return std::vector<uint8_t>(ms.Memory(), ms.Memory() + ms.Size());
}

void LoadBytes(TJPEGImage& jpeg, const std::vector<uint8_t>& bytes) {
    TMemoryStream ms;
    ms.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    ms.SetPosition(0);
    jpeg.LoadFromStream(ms);
}

std::string LoadError(const std::vector<uint8_t>& bytes) {
    TJPEGImage jpeg;
    try {
        LoadBytes(jpeg, bytes);
    } catch (const EInvalidGraphic& e) {
        return e.Message();
    }
    return "";
}

size_t FindMarker(const std::vector<uint8_t>& b, uint8_t marker) {
    for (size_t i = 0; i + 1 < b.size(); ++i)
        if (b[i] == 0xFF && b[i + 1] == marker) return i;
    return std::string::npos;
}

// Encodes raw samples straight through libjpeg, for comparison and for
// colour spaces the class never writes.
std::vector<uint8_t> EncodeRaw(const std::vector<uint8_t>& samples, int w, int h, int comps, J_COLOR_SPACE space,
                               bool floatDct, bool arithmeticProgressive = false) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = w;
    c.image_height = h;
    c.input_components = comps;
    c.in_color_space = space;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    if (floatDct) c.dct_method = JDCT_FLOAT;
    if (arithmeticProgressive) {
        c.arith_code = TRUE;
        jpeg_simple_progression(&c);
    }
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPLE*>(&samples[size_t(c.next_scanline) * w * comps]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> bytes(out, out + size);
    jpeg_destroy_compress(&c);
    std::free(out);
    return bytes;
}

}  // namespace

TEST(Jpeg, DefaultsAreQuality90BaselineColour) {
    TJPEGImage jpeg;
    EXPECT_EQ(jpeg.CompressionQuality(), 90);
    EXPECT_FALSE(jpeg.ProgressiveEncoding());
    EXPECT_FALSE(jpeg.Grayscale());
    EXPECT_TRUE(jpeg.Empty());
    EXPECT_EQ(TPicture::ClassForExtension("jpg"), &TJPEGImage::StaticClass());
    EXPECT_EQ(TPicture::ClassForExtension("jpeg"), &TJPEGImage::StaticClass());
}

TEST(Jpeg, SavesExactlyWhatLibjpegWritesWithFloatDctAtQuality90) {
    auto bmp = Gradient(37, 21);
    std::vector<uint8_t> rgb;
    for (int y = 0; y < 21; ++y) {
        const uint8_t* p = bmp->ScanLine(y);
        for (int x = 0; x < 37; ++x) rgb.insert(rgb.end(), {p[3 * x + 2], p[3 * x + 1], p[3 * x]});
    }
    const std::vector<uint8_t> ours = Save(*bmp);
    EXPECT_EQ(ours, EncodeRaw(rgb, 37, 21, 3, JCS_RGB, true));
    EXPECT_NE(ours, EncodeRaw(rgb, 37, 21, 3, JCS_RGB, false));  // the slow integer DCT differs
    EXPECT_NE(FindMarker(ours, 0xC0), std::string::npos);        // baseline frame
    EXPECT_EQ(FindMarker(ours, 0xC2), std::string::npos);        // not progressive
}

TEST(Jpeg, PureRedStaysRedThroughSaveAndLoad) {
    auto red = Filled(8, 8, 0, 0, 255);
    TJPEGImage jpeg;
    LoadBytes(jpeg, Save(*red));
    ASSERT_EQ(jpeg.Width(), 8);
    ASSERT_EQ(jpeg.Height(), 8);
    EXPECT_EQ(jpeg.Bitmap().PixelFormat(), TPixelFormat::pf24bit);
    for (int y = 0; y < 8; ++y) {
        const uint8_t* p = jpeg.Bitmap().ScanLine(y);
        for (int x = 0; x < 8; ++x) {
            EXPECT_LE(p[3 * x], 8);       // blue
            EXPECT_LE(p[3 * x + 1], 8);   // green
            EXPECT_GE(p[3 * x + 2], 247); // red
        }
    }
}

TEST(Jpeg, RoundTripKeepsPixelsClose) {
    auto bmp = Gradient(64, 48);
    TJPEGImage jpeg;
    LoadBytes(jpeg, Save(*bmp));
    int worst = 0;
    for (int y = 0; y < 48; ++y) {
        const uint8_t* a = bmp->ScanLine(y);
        const uint8_t* b = jpeg.Bitmap().ScanLine(y);
        for (int i = 0; i < 64 * 3; ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
    }
    EXPECT_LE(worst, 12);
}

TEST(Jpeg, AssignGivesAndTakes24BitCopies) {
    auto src = Filled(5, 3, 10, 20, 30);
    src->SetPixelFormat(TPixelFormat::pf32bit);
    TJPEGImage jpeg;
    jpeg.Assign(src.get());
    EXPECT_EQ(jpeg.Bitmap().PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(jpeg.Bitmap().Pixel(4, 2), RGB(30, 20, 10));
    TBitmap out;
    out.Assign(&jpeg);
    EXPECT_EQ(out.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(out.Width(), 5);
    EXPECT_EQ(out.Pixel(0, 0), RGB(30, 20, 10));
    EXPECT_THROW(jpeg.SetWidth(3), EInvalidGraphicOperation);
}

TEST(Jpeg, GreyFilesComeOutInColourChannels) {
    TJPEGImage writer;
    auto bmp = Gradient(16, 16);
    writer.Assign(bmp.get());
    writer.SetGrayscale(true);
    TMemoryStream ms;
    writer.SaveToStream(ms);
    ms.SetPosition(0);
    TJPEGImage jpeg;
    jpeg.LoadFromStream(ms);
    const uint8_t* p = jpeg.Bitmap().ScanLine(7);
    for (int x = 0; x < 16; ++x) {
        EXPECT_EQ(p[3 * x], p[3 * x + 1]);
        EXPECT_EQ(p[3 * x], p[3 * x + 2]);
    }
}

// Colour, grey and CMYK files of odd sizes: the same bytes as a load, an
// Assign and a change to 32 bits.
TEST(Jpeg, ReadBitmap32GivesTheLoadedPictureAt32Bits) {
    std::vector<uint8_t> grey(37 * 23), cmyk;
    for (size_t i = 0; i < grey.size(); ++i) grey[i] = uint8_t(i * 7);
    for (size_t i = 0; i < grey.size(); ++i) cmyk.insert(cmyk.end(), {uint8_t(i), uint8_t(3 * i), 40, uint8_t(200 - i % 90)});
    const std::vector<std::vector<uint8_t>> files = {Save(*Gradient(37, 23)), Save(*Filled(1, 1, 10, 200, 30)),
                                                     EncodeRaw(grey, 37, 23, 1, JCS_GRAYSCALE, false),
                                                     EncodeRaw(cmyk, 37, 23, 4, JCS_CMYK, false)};
    for (const auto& bytes : files) {
        TJPEGImage jpeg;
        LoadBytes(jpeg, bytes);
        TBitmap expected;
        expected.Assign(&jpeg);
        expected.SetPixelFormat(TPixelFormat::pf32bit);
        TMemoryStream ms;
        ms.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
        ms.SetPosition(0);
        TBitmap direct;
        TJPEGImage::ReadBitmap32(ms, direct);
        ASSERT_EQ(direct.PixelFormat(), TPixelFormat::pf32bit);
        ASSERT_EQ(direct.Width(), expected.Width());
        ASSERT_EQ(direct.Height(), expected.Height());
        for (int32_t y = 0; y < direct.Height(); ++y)
            ASSERT_EQ(std::memcmp(direct.ScanLine(y), expected.ScanLine(y), size_t(direct.Width()) * 4), 0) << y;
    }
}

TEST(Jpeg, AdobeCmykIsConvertedToColour) {
    // Adobe stores inverted inks: red is C 0, M 255, Y 255, K 0 stored as
    // 255, 0, 0, 255.
    std::vector<uint8_t> cmyk;
    for (int i = 0; i < 16 * 16; ++i) cmyk.insert(cmyk.end(), {255, 0, 0, 255});
    TJPEGImage jpeg;
    LoadBytes(jpeg, EncodeRaw(cmyk, 16, 16, 4, JCS_CMYK, false));
    const TColor c = jpeg.Bitmap().Pixel(8, 8);
    EXPECT_GE(GetRValue(c), 245);
    EXPECT_LE(GetGValue(c), 10);
    EXPECT_LE(GetBValue(c), 10);
}

TEST(Jpeg, BadDataRaisesInvalidGraphicWithLibjpegText) {
    EXPECT_EQ(LoadError({}).rfind("JPEG error #", 0), 0u);
    EXPECT_NE(LoadError({}).find(": Empty input file"), std::string::npos) << LoadError({});
    const std::string msg = LoadError({'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'});
    EXPECT_EQ(msg.rfind("JPEG error #", 0), 0u) << msg;
    EXPECT_NE(msg.find("Not a JPEG file"), std::string::npos) << msg;
}

TEST(Jpeg, TruncatedFileRaisesButAMissingEndMarkerIsAccepted) {
    const std::vector<uint8_t> full = Save(*Gradient(64, 64));
    std::vector<uint8_t> half(full.begin(), full.begin() + full.size() / 2);
    EXPECT_NE(LoadError(half), "");
    std::vector<uint8_t> headerOnly(full.begin(), full.begin() + static_cast<long>(FindMarker(full, 0xDA)) + 4);
    EXPECT_NE(LoadError(headerOnly), "");
    std::vector<uint8_t> noEoi(full.begin(), full.end() - 2);
    EXPECT_EQ(LoadError(noEoi), "");
}

TEST(Jpeg, ProgressiveFileCutBetweenScansRaises) {
    TJPEGImage writer;
    auto bmp = Gradient(32, 32);
    writer.Assign(bmp.get());
    writer.SetProgressiveEncoding(true);
    TMemoryStream ms;
    writer.SaveToStream(ms);
    std::vector<uint8_t> full(ms.Memory(), ms.Memory() + ms.Size());
    EXPECT_NE(FindMarker(full, 0xC2), std::string::npos);
    EXPECT_EQ(LoadError(full), "");
    // Cut just before the third scan header: the first two scans are whole.
    size_t at = 0;
    for (int scan = 0; scan < 3; ++scan) {
        at = FindMarker(std::vector<uint8_t>(full.begin() + static_cast<long>(at) + 1, full.end()), 0xDA) + at + 1;
    }
    std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<long>(at));
    EXPECT_NE(LoadError(cut), "");
}

TEST(Jpeg, HugeDimensionsInASmallFileAreRefusedBeforeDecoding) {
    std::vector<uint8_t> bytes = Save(*Filled(8, 8, 1, 2, 3));
    const size_t sof = FindMarker(bytes, 0xC0);
    ASSERT_NE(sof, std::string::npos);
    bytes[sof + 5] = 0xEA, bytes[sof + 6] = 0x60;  // 60000 rows
    bytes[sof + 7] = 0xEA, bytes[sof + 8] = 0x60;  // 60000 columns
    const std::string msg = LoadError(bytes);
    EXPECT_NE(msg.find("60000 x 60000"), std::string::npos) << msg;
}

// Arithmetic-coded, progressive, multi-scan and the densest files libjpeg's
// tools write decode as djpeg decodes them; a dense file cut short and a
// flat arithmetic one of 16 megapixels in 214 bytes are refused.
TEST(Jpeg, FilesFromLibjpegToolsMatchDjpeg) { EXPECT_EQ(rastertest::CheckFamily("jpeg"), 12u); }

// A progressive arithmetic-coded file cut before its last scan is refused
// once libjpeg has read its scans into the coefficients (4:2:0, 640 x 480:
// 7200 blocks of 128 bytes), before its picture is allocated.
TEST(Jpeg, CutProgressiveFileIsRefusedBeforeItsPicture) {
    std::vector<uint8_t> rgb(640 * 480 * 3);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = uint8_t(i * 7 / 5);
    std::vector<uint8_t> bytes = EncodeRaw(rgb, 640, 480, 3, JCS_RGB, false, true);
    size_t lastScan = 0;
    for (size_t i = 0; i + 1 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) lastScan = i;
    bytes.resize(lastScan);
    pixmem::ResetPeakBytes();
    const size_t held = pixmem::PeakBytes();
    loadwork::Reset();
    EXPECT_EQ(LoadError(bytes), "JPEG image is not valid: the file is cut short");
    EXPECT_EQ(pixmem::PeakBytes(), held);
    EXPECT_EQ(loadwork::CoefficientBytes(), 7200u * 128);
}

// A flat arithmetic-coded picture of 8 megapixels takes 215 bytes.
TEST(Jpeg, SmallArithmeticCodedFileOfManyPixelsLoads) {
    TBitmap bitmap;
    TFileStream stream(std::string(QUILLARC_TEST_DATA) + "/valid/arith-flat-8mp.jpg", fmOpenRead);
    TJPEGImage::ReadBitmap32(stream, bitmap);
    EXPECT_EQ(bitmap.Width(), 3200);
    EXPECT_EQ(bitmap.Height(), 2600);
    const TColor c = bitmap.Pixel(1600, 1300);
    EXPECT_NEAR(GetRValue(c), 90, 2);
    EXPECT_NEAR(GetBValue(c), 200, 2);
}

TEST(Jpeg, SavingAnEmptyPictureRaises) {
    TJPEGImage jpeg;
    TMemoryStream ms;
    EXPECT_THROW(jpeg.SaveToStream(ms), EInvalidGraphic);
    EXPECT_EQ(ms.Size(), 0);
}

// Files the fuzzer found: each loads or raises EInvalidGraphic, nothing else.
TEST(Jpeg, FuzzRegressionFilesLoadOrRaise) {
    const std::filesystem::path dir = std::filesystem::path(QUILLARC_TEST_DATA) / "jpeg" / "fuzz";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() == ".txt") continue;
        ++files;
        TJPEGImage jpeg;
        try {
            jpeg.LoadFromFile(entry.path().string());
        } catch (const EInvalidGraphic&) {
        }
    }
    EXPECT_GT(files, 0);
}

TEST(Jpeg, FuzzSeedsAreValidPictures) {
    const std::filesystem::path dir = std::filesystem::path(QUILLARC_TEST_DATA) / ".." / ".." / "fuzz" / "corpus" / "jpeg";
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        TJPEGImage jpeg;
        EXPECT_NO_THROW(jpeg.LoadFromFile(entry.path().string())) << entry.path();
        EXPECT_FALSE(jpeg.Empty()) << entry.path();
    }
}

// Long decodes and encodes give the windows a chance to paint every 64
// rows, however many rows the library hands over at a time.
namespace {
int jpegPulses = 0;
void CountJpegPulse() { ++jpegPulses; }
}  // namespace

TEST(Jpeg, LoadAndSavePulseEverySixtyFourRows) {
    progress::SetPulse(&CountJpegPulse);
    const std::vector<uint8_t> bytes = Save(*Gradient(40, 300));
    const int afterSave = jpegPulses;
    TMemoryStream ms;
    ms.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    ms.SetPosition(0);
    TBitmap direct;
    TJPEGImage::ReadBitmap32(ms, direct);
    progress::SetPulse(nullptr);
    EXPECT_EQ(afterSave, 4);
    EXPECT_EQ(jpegPulses - afterSave, 4);
}
