// Files of under 1 MB claiming the largest pictures their formats allow
// (tests/data/hostile): each load through the picture registry, and the
// bitmap the preview makes of what loaded, is refused or holds no more
// pixel memory at once than the file could fill. The families are split
// among tests by extension, so that the slow ones run side by side.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "platform/core/LoadWork.h"
#include "platform/core/Metafile.h"
#include "platform/core/PixelBuffer.h"
#include "tests/rasterformats/RasterFiles.h"

namespace {

// The manifest's lines for files with one of the extensions (", .x, .y,").
void CheckHostileFiles(const std::string& extensions) {
    testpics::CodecsRegistered codecs;
    const std::string dir = rastertest::GeneratedDir("hostile");
    size_t checked = 0;
    for (const rastertest::Expectation& c : rastertest::ReadManifest(dir, "claims.txt")) {
        if (extensions.find(", " + LowerCase(ExtractFileExt(c.file)) + ",") == std::string::npos) continue;
        SCOPED_TRACE(c.file);
        ++checked;
        // The columns: the ratio, then "pending" for a reader still being
        // mended, whose bound is expected broken until it is, or "limit" for
        // a metafile, bound by its size cap drawn at 32 bits.
        const size_t ratio = std::stoul(c.mode);
        struct stat info {};
        ASSERT_EQ(stat((dir + "/" + c.file).c_str(), &info), 0);
        const size_t bound = (c.message == "limit" ? 4 * size_t(kMaxMetafilePixels) : ratio * size_t(info.st_size)) +
                             (size_t(4) << 20);
        pixmem::ResetPeakBytes();
        const size_t before = pixmem::PeakBytes();
        try {
            TPicture picture;
            picture.LoadFromFile(dir + "/" + c.file);
            TBitmap shown;
            shown.Assign(picture.Graphic());
        } catch (const Exception&) {
        }
        const size_t peak = pixmem::PeakBytes() - before;
        if (c.message == "pending") {
            EXPECT_GT(peak, bound) << "now within its bound: drop \"pending\" from its line in make-hostile.py";
        } else {
            EXPECT_LE(peak, bound) << "pixel memory held at once for a file of " << info.st_size << " bytes";
        }
    }
    EXPECT_GT(checked, 0u);
}

}  // namespace

TEST(HostileSizes, RunLengthReaders) { CheckHostileFiles(", .tga, .sgi, .rgb, .bw, .pcx, .cut, .rla, .psd,"); }
TEST(HostileSizes, OtherRasterReaders) { CheckHostileFiles(", .ppm, .pbm, .pgm, .cel, .psp, .png, .pcd,"); }
TEST(HostileSizes, TiffAndEps) { CheckHostileFiles(", .tif, .eps,"); }
TEST(HostileSizes, PlatformFormatsAndGif) { CheckHostileFiles(", .bmp, .ico, .jpg, .emf, .wmf, .gif,"); }

// A metafile drawn at its own size, as the preview and the main window
// draw it, writes no more than 4 x its pixels plus 1,024 per byte of the
// file; one whose records would write more is refused before it draws.
TEST(HostileSizes, MetafilesDrawNoMoreThanTheirFilesAllow) {
    const std::string dir = rastertest::GeneratedDir("hostile");
    uint64_t drawn = 0;
    for (const rastertest::Expectation& c : rastertest::ReadManifest(dir, "claims.txt")) {
        const std::string ext = LowerCase(ExtractFileExt(c.file));
        if (ext != ".wmf" && ext != ".emf") continue;
        SCOPED_TRACE(c.file);
        struct stat info {};
        ASSERT_EQ(stat((dir + "/" + c.file).c_str(), &info), 0);
        loadwork::Reset();
        uint64_t allowed = 0;
        try {
            TMetafile metafile;
            metafile.LoadFromFile(dir + "/" + c.file);
            allowed = 4 * uint64_t(metafile.Width()) * uint64_t(metafile.Height()) + 1024 * uint64_t(info.st_size);
            TBitmap shown;
            shown.Assign(&metafile);
        } catch (const EInvalidGraphic&) {
        }
        EXPECT_LE(loadwork::DrawnPixels(), allowed);
        drawn += loadwork::DrawnPixels();
    }
    EXPECT_GT(drawn, 4u * uint64_t(kMaxMetafilePixels));  // the file drawn to its allowance is among them
}

// A progressive file repeating one AC scan 750 times goes over its 262,144
// blocks 751 times; the load stops taking scans at 16 passes and 512 blocks
// a byte (the one that passes it counted), and shows what the scans before
// made: the repeats change nothing, so every pixel is the flat grey.
TEST(HostileSizes, RepeatedJpegScansStopAtWhatTheirBytesPayFor) {
    testpics::CodecsRegistered codecs;
    const std::string file = rastertest::GeneratedDir("hostile") + "/progressive-repeated-scans.jpg";
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    loadwork::Reset();
    TPicture picture;
    picture.LoadFromFile(file);
    const uint64_t blocks = 4096 * 4096 / 64;
    EXPECT_LE(loadwork::ScanBlocks(), 16 * blocks + 512 * uint64_t(info.st_size) + blocks);
    EXPECT_GT(loadwork::ScanBlocks(), 16 * blocks);
    TBitmap shown;
    shown.Assign(picture.Graphic());
    ASSERT_EQ(shown.Width(), 4096);
    for (int32_t y : {0, 2047, 4095})
        for (int32_t x : {0, 3001, 4095}) EXPECT_EQ(shown.Pixel(x, y), shown.Pixel(0, 0));
}
