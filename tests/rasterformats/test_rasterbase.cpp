// The reader base (load frame, progress, image properties, shared routines)
// and the file-format registry.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/core/Icon.h"
#include "rasterformats/RasterFormats.h"
#include "rasterformats/RasterGraphic.h"
#include "rasterformats/Targa.h"
#include "tests/TestRegistry.h"
#include "tests/rasterformats/RasterFiles.h"
#include "tests/rasterformats/ReaderBytes.h"

namespace {

using readerbytes::Bytes;
using readerbytes::StreamOf;

// A raw 8-bit grey Targa image of the given size, pixel value = row.
Bytes GreyTarga(uint16_t width, uint16_t height) {
    Bytes b{0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, uint8_t(width), uint8_t(width >> 8), uint8_t(height),
            uint8_t(height >> 8), 8, 0x20};
    for (uint16_t y = 0; y < height; ++y) b.insert(b.end(), width, uint8_t(y));
    return b;
}

}  // namespace

TEST(RasterBase, AssignCopiesPropertiesOnlyFromReaders) {
    TMemoryStream stream = StreamOf(GreyTarga(3, 2));
    TTargaGraphic loaded, copy;
    loaded.LoadFromStream(stream);
    copy.ImageProperties.Version = 9;
    TBitmap plain;
    plain.Assign(&loaded);
    copy.Assign(&plain);
    EXPECT_EQ(copy.ImageProperties.Version, 9u);
    EXPECT_EQ(copy.Width(), 3);
    copy.Assign(&loaded);
    EXPECT_EQ(copy.ImageProperties.Version, 0u);
    EXPECT_EQ(copy.ImageProperties.Width, 3);
    EXPECT_EQ(copy.ImageProperties.ColorScheme, TColorLayout::csGray);
}

TEST(RasterBase, ProgressRunsOncePerRowAndNeverReaches100) {
    TMemoryStream stream = StreamOf(GreyTarga(4, 3));
    TTargaGraphic graphic;
    std::vector<std::string> events;
    graphic.OnProgress = [&](TObject* sender, TProgressStage stage, uint8_t percent, bool redraw, const TRect& r,
                             const std::string& msg) {
        EXPECT_EQ(sender, &graphic);
        events.push_back(std::to_string(int(stage)) + " " + std::to_string(percent) + (redraw ? " r " : " - ") +
                         std::to_string(r.Top) + "-" + std::to_string(r.Bottom) + " " + std::to_string(r.Right) +
                         " " + msg);
    };
    graphic.LoadFromStream(stream);
    EXPECT_EQ(events, (std::vector<std::string>{"0 0 - 0-1 4 Preparing...", "2 0 - 0-1 4 ", "0 0 - 0-1 4 Transfering...",
                                                 "1 0 r 0-1 4 ", "1 33 r 1-2 4 ", "1 67 r 2-3 4 ", "2 0 - 3-4 4 "}));
}

TEST(RasterBase, AFailedLoadLeavesAnEmptyBitmapAndNothingCarriesOver) {
    TTargaGraphic graphic;
    TMemoryStream good = StreamOf(GreyTarga(2, 2));
    graphic.LoadFromStream(good);
    graphic.ColorManager().TargetFlags = cfApplyGamma;
    graphic.ColorManager().SetGammaCurve(3, 3);
    Bytes cut = GreyTarga(40, 40);
    cut.resize(100);
    TMemoryStream bad = StreamOf(cut);
    EXPECT_THROW(graphic.LoadFromStream(bad), EReadError);
    EXPECT_TRUE(graphic.Empty());
    EXPECT_EQ(graphic.PixelFormat(), TPixelFormat::pfDevice);
    EXPECT_EQ(graphic.ColorManager().TargetFlags, 0);
    EXPECT_EQ(graphic.ColorManager().GammaCurve()[64], 136);
}

TEST(RasterBase, SharedRoutinesGiveExactBytes) {
    uint8_t words[] = {1, 2, 3, 4};
    SwapWordArray(words, 2);
    EXPECT_EQ(Bytes(words, words + 4), (Bytes{2, 1, 4, 3}));
    SwapLongArray(words, 1);
    EXPECT_EQ(Bytes(words, words + 4), (Bytes{3, 4, 1, 2}));
    EXPECT_EQ(SwapLong(0x11223344u), 0x44332211u);
    uint8_t row[] = {10, 20, 30, 250, 10, 1, 1, 1, 1};
    UndoPredictor3(row, 2);
    EXPECT_EQ(Bytes(row, row + 9), (Bytes{10, 20, 30, 4, 30, 31, 5, 31, 32}));
    uint8_t grey[] = {200, 100, 7};
    UndoPredictor1(grey, 2);
    EXPECT_EQ(Bytes(grey, grey + 3), (Bytes{200, 44, 51}));
    EXPECT_EQ(raster::CheckedMul(int64_t(1) << 40, int64_t(1) << 30), -1);
    EXPECT_EQ(raster::CheckedMul(65535, 65535), 4294836225);
    // Doubling averages between samples: a 1 x 1 plane of stride 2, and
    // 2 x 2 in a 4 x 4 area.
    uint8_t one[4] = {9, 0, 0, 0};
    UpsampleDouble(1, 1, 2, one);
    EXPECT_EQ(Bytes(one, one + 4), (Bytes{9, 9, 9, 9}));
    uint8_t p[16] = {0, 10, 0, 0, 20, 31, 0, 0};
    UpsampleDouble(2, 2, 4, p);
    EXPECT_EQ(Bytes(p, p + 16), (Bytes{0, 5, 10, 10, 10, 15, 21, 21, 20, 26, 31, 31, 20, 26, 31, 31}));
}

// ------------------------------------------------------------ registry

namespace {

// The whole start-up table in its order: extension, class, format types
// and the description the picture registry receives.
struct FullRow {
    const char* extension;
    const char* className;
    TFormatTypes types;
    const char* description;
};
const FullRow kFullTable[] = {
    {"bmp", "TBitmap", 8, "Windows bitmaps"}, {"ico", "TIcon", 8, "Windows icons"},
    {"wmf", "TMetafile", 16, "Windows metafiles"}, {"emf", "TMetafile", 16, "Windows enhanced meta files"},
    {"jfif", "TJPEGImage", 8, "JFIF images"}, {"jpg", "TJPEGImage", 8, "JPG images"},
    {"jpe", "TJPEGImage", 8, "JPE images"}, {"jpeg", "TJPEGImage", 8, "JPEG images"},
    {"rle", "TBitmap", 8, "Run length encoded Windows bitmaps"},
    {"dib", "TBitmap", 8, "Device independant Windows bitmaps"}, {"win", "TTargaGraphic", 8, "Truevision images"},
    {"vst", "TTargaGraphic", 8, "Truevision images"}, {"vda", "TTargaGraphic", 8, "Truevision images"},
    {"tga", "TTargaGraphic", 8, "Truevision images"}, {"icb", "TTargaGraphic", 8, "Truevision images"},
    {"tiff", "TTIFFGraphic", 12, "Macintosh TIFF images"}, {"tif", "TTIFFGraphic", 12, "PC TIF images"},
    {"fax", "TTIFFGraphic", 12, "GFI fax images"}, {"eps", "TEPSGraphic", 8, "Encapsulated Postscript images"},
    {"pcx", "TPCXGraphic", 8, "ZSoft Paintbrush images"}, {"pcc", "TPCXGraphic", 8, "ZSoft Paintbrush images"},
    {"scr", "TPCXGraphic", 8, "Word 5.x screen capture images"}, {"rpf", "TRLAGraphic", 8, "Alias/Wavefront images"},
    {"rla", "TRLAGraphic", 8, "Alias/Wavefront images"}, {"sgi", "TSGIGraphic", 8, "SGI true color images"},
    {"rgba", "TSGIGraphic", 8, "SGI true color images with alpha"}, {"rgb", "TSGIGraphic", 8, "SGI true color images"},
    {"bw", "TSGIGraphic", 8, "SGI black/white images"}, {"psd", "TPSDGraphic", 10, "Photoshop images"},
    {"pdd", "TPSDGraphic", 10, "Photoshop images"}, {"ppm", "TPPMGraphic", 8, "Portable pixel map images"},
    {"pgm", "TPPMGraphic", 8, "Portable gray map images"}, {"pbm", "TPPMGraphic", 8, "Portable bitmap images"},
    {"cel", "TAutodeskGraphic", 8, "Autodesk images"}, {"pic", "TAutodeskGraphic", 8, "Autodesk images"},
    {"pcd", "TPCDGraphic", 8, "Kodak Photo-CD images"}, {"cut", "TCUTGraphic", 8, "Dr. Halo images"},
    {"psp", "TPSPGraphic", 24, "Paintshop Pro images"}, {"png", "TPNGGraphic", 8, "Portable network graphic images"},
};

std::string DescriptionOf(const std::string& extension) {
    for (const TFileFormat& f : TPicture::FileFormats())
        if (f.extension == extension) return f.description;
    return "(none)";
}

// A picture of the extension: the registry family's sample (made by
// tools), else a file that loads among those a reader family made.
std::string SampleOf(const std::string& extension) {
    const std::string own = rastertest::GeneratedDir("registry") + "/sample." + extension;
    if (FILE* f = std::fopen(own.c_str(), "rb")) {
        std::fclose(f);
        return own;
    }
    DIR* d = opendir(QUILLARC_GENERATED_DATA);
    if (d == nullptr) return "";
    std::vector<std::string> families;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') families.push_back(e->d_name);
    closedir(d);
    std::sort(families.begin(), families.end());
    for (const std::string& family : families) {
        const std::string dir = rastertest::GeneratedDir(family);
        for (const rastertest::Expectation& e : rastertest::ReadManifest(dir))
            if (e.mode != "refuse" && e.mode != "empty" && e.file.size() > extension.size() + 1 &&
                CompareText(e.file.substr(e.file.size() - extension.size() - 1), "." + extension) == 0)
                return dir + "/" + e.file;
    }
    return "";
}

}  // namespace

TEST(RasterRegistry, StartUpRegistersEveryExtensionInOrderUnderItsDescription) {
    testpics::CodecsRegistered codecs;
    const TFileFormatList& list = *FileFormatList();
    // The class list follows from the table: first appearance, one count
    // per extension.
    std::vector<std::pair<std::string, int>> classes;
    ASSERT_EQ(list.Extensions().size(), std::size(kFullTable));
    for (size_t i = 0; i < std::size(kFullTable); ++i) {
        const FullRow& row = kFullTable[i];
        const auto& e = *list.Extensions()[i];
        EXPECT_EQ(e.extension, row.extension) << i;
        EXPECT_EQ(e.formatTypes, row.types) << row.extension;
        EXPECT_EQ(DescriptionOf(e.extension), row.description) << row.extension;
        EXPECT_STREQ(TPicture::ClassForExtension(UpperCase(e.extension))->name, row.className) << row.extension;
        auto c = std::find_if(classes.begin(), classes.end(), [&](const auto& n) { return n.first == row.className; });
        if (c == classes.end()) classes.emplace_back(row.className, 1);
        else ++c->second;
    }
    ASSERT_EQ(list.Classes().size(), classes.size());
    for (size_t i = 0; i < classes.size(); ++i) {
        EXPECT_EQ(list.Classes()[i]->graphicClass->name, classes[i].first) << i;
        EXPECT_EQ(list.Classes()[i]->count, classes[i].second) << i;
    }
}

TEST(RasterRegistry, ASampleOfEveryExtensionLoadsThroughThePictureRegistry) {
    testpics::CodecsRegistered codecs;
    for (const FullRow& row : kFullTable) {
        SCOPED_TRACE(row.extension);
        const std::string sample = SampleOf(row.extension);
        ASSERT_FALSE(sample.empty()) << "no sample file";
        TPicture picture;
        try {
            picture.LoadFromFile(sample);
        } catch (const Exception& e) {
            ADD_FAILURE() << sample << ": " << e.Message();
            continue;
        }
        ASSERT_NE(picture.Graphic(), nullptr);
        EXPECT_STREQ(picture.Graphic()->ClassType().name, row.className);
        EXPECT_FALSE(picture.Graphic()->Empty()) << sample;
    }
}

TEST(RasterRegistry, ExtensionsAreNeverRegisteredTwice) {
    testpics::CodecsRegistered codecs;
    TFileFormatList& list = *FileFormatList();
    const size_t before = list.Extensions().size();
    auto errorOf = [](const std::function<void()>& f) {
        try {
            f();
        } catch (const EInvalidGraphic& e) {
            return e.Message();
        }
        return std::string("no error");
    };
    EXPECT_EQ(errorOf([&] { list.RegisterFormat("TGA", "", "", ftRaster, false, TBitmap::StaticClass()); }),
              "Attempt to register TGA twice.");
    EXPECT_EQ(TPicture::ClassForExtension("tga"), &TTargaGraphic::StaticClass());
    EXPECT_EQ(errorOf([] { RegisterRasterFormats(); }), "Attempt to register bmp twice.");
    EXPECT_EQ(list.Extensions().size(), before);
}

TEST(RasterRegistry, UnregisteringByExtensionAndByClass) {
    testpics::RegistryGuard guard;
    TFileFormatList list;
    list.RegisterFormat("aa", "Common", "", ftRaster, false, TTargaGraphic::StaticClass());
    list.RegisterFormat("bb", "", "Own", ftRaster, false, TTargaGraphic::StaticClass());
    list.RegisterFormat("cc", "", "", ftRaster, false, TTargaGraphic::StaticClass());
    EXPECT_EQ(list.Classes()[0]->description, "Common");  // an empty common one keeps the earlier
    list.UnregisterFormat("aa", TTargaGraphic::StaticClass());
    EXPECT_EQ(TPicture::ClassForExtension("bb"), &TTargaGraphic::StaticClass());
    EXPECT_EQ(TPicture::ClassForExtension("aa"), &TTargaGraphic::StaticClass());  // the class stays with the registry
    // Replacing rebinds to another class; the old one goes with its last extension.
    list.RegisterFormat("bb", "", "", ftRaster, true, TBitmap::StaticClass());
    EXPECT_EQ(list.Classes().size(), 2u);
    list.RegisterFormat("cc", "", "", ftRaster, true, TBitmap::StaticClass());
    EXPECT_EQ(list.Classes().size(), 1u);
    EXPECT_EQ(list.IndexOfClass(TTargaGraphic::StaticClass()), -1);
    list.UnregisterFormat("", TBitmap::StaticClass());
    EXPECT_TRUE(list.Extensions().empty());
    EXPECT_EQ(TPicture::ClassForExtension("cc"), nullptr);
    list.UnregisterFormat("", TIcon::StaticClass());  // never registered: nothing happens
    list.UnregisterFormat("zz", TIcon::StaticClass());
}

TEST(RasterRegistry, ShutDownTakesOutEveryClassAndLeavesNothing) {
    testpics::RegistryGuard guard;
    RegisterRasterFormats();
    std::multiset<std::string> gone, registered;
    for (const auto& c : FileFormatList()->Classes()) registered.insert(c->graphicClass->name);
    FileFormatList()->OnClassUnregistered = [&gone](const TGraphicClass& c) { gone.insert(c.name); };
    UnregisterRasterFormats();
    EXPECT_EQ(gone, registered);
    EXPECT_EQ(FileFormatList(), nullptr);
    for (const FullRow& row : kFullTable) EXPECT_EQ(TPicture::ClassForExtension(row.extension), nullptr) << row.extension;
    UnregisterRasterFormats();  // a second time does nothing
}
