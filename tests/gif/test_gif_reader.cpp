// The GIF reader against giflib, over the files independent tools made at
// test time, and against the expected outcome of the hand-made hostile
// files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "gif/GIFPicture.h"
#include "tests/TestRegistry.h"
#include "tests/gif/GiflibReference.h"

namespace fs = std::filesystem;
using giflib_reference::Frame;

namespace {

const std::string kGenerated = std::string(QUILLARC_GENERATED_DATA) + "/gif";
const std::string kHostile = std::string(QUILLARC_TEST_DATA) + "/gif/hostile";

std::vector<fs::path> GifsIn(const std::string& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".gif") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::unique_ptr<TGIFPicture> Load(const fs::path& file, std::vector<std::string>& warnings) {
    auto gif = std::make_unique<TGIFPicture>();
    gif->OnGIFWarning = [&warnings](TObject*, int severity, const std::string& message) {
        EXPECT_EQ(severity, 1);
        warnings.push_back(message);
    };
    gif->LoadFromFile(file.string());
    return gif;
}

// The colour giflib's indices stand for; an index beyond the table shows
// its first entry.
TColor Expand(const Frame& frame, size_t i) {
    size_t index = frame.indices[i];
    if (index >= frame.colors.size()) index = 0;
    const TPaletteEntry& e = frame.colors[index];
    return RGB(e.peRed, e.peGreen, e.peBlue);
}

// The bitmap shows the reference frame with its top-left pixel at (x0, y0),
// wherever the two overlap.
::testing::AssertionResult ShowsFrame(const TBitmap& bitmap, const Frame& frame, int x0, int y0) {
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            const int bx = x0 + x, by = y0 + y;
            if (bx >= bitmap.Width() || by >= bitmap.Height()) continue;
            const TColor want = Expand(frame, size_t(y) * frame.width + x), got = bitmap.Pixel(bx, by);
            if (got != want)
                return ::testing::AssertionFailure()
                       << "pixel (" << x << ", " << y << "): " << std::hex << got << " instead of " << want;
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST(GIFReader, EveryGeneratedFileDecodesAsGiflibDoes) {
    const std::vector<fs::path> files = GifsIn(kGenerated);
    ASSERT_GE(files.size(), 30u) << "the generator made too few files in " << kGenerated;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        giflib_reference::Picture ref;
        std::string error;
        ASSERT_TRUE(giflib_reference::Load(file.string(), ref, error)) << error;
        std::vector<std::string> warnings;
        std::unique_ptr<TGIFPicture> gif;
        ASSERT_NO_THROW(gif = Load(file, warnings));
        ASSERT_EQ(gif->Images().Count(), static_cast<int>(ref.frames.size()));

        // Frame 0 at logical-screen size (a screen of 0 takes frame 0's extent).
        const Frame& first = ref.frames[0];
        const int width = ref.width ? ref.width : first.left + first.width;
        const int height = ref.height ? ref.height : first.top + first.height;
        const TBitmap* bitmap = gif->FirstFrameBitmap();
        ASSERT_NE(bitmap, nullptr);
        EXPECT_EQ(bitmap->Width(), width);
        EXPECT_EQ(bitmap->Height(), height);
        EXPECT_TRUE(ShowsFrame(*bitmap, first, first.left, first.top));

        // Every frame on its own, each with its own table or the global one.
        for (size_t i = 0; i < ref.frames.size(); ++i) {
            SCOPED_TRACE("frame " + std::to_string(i));
            TGIFSubImage* frame = gif->Images()[static_cast<int>(i)];
            EXPECT_EQ(frame->FrameRect(), Bounds(ref.frames[i].left, ref.frames[i].top, ref.frames[i].width,
                                                 ref.frames[i].height));
            EXPECT_EQ(std::vector<uint8_t>(frame->Data(), frame->Data() + frame->DataSize()), ref.frames[i].indices);
            EXPECT_TRUE(ShowsFrame(*frame->FrameBitmap(), ref.frames[i], 0, 0));
            EXPECT_EQ(frame->Transparent(), ref.frames[i].transparent >= 0);
            if (frame->Transparent()) {
                EXPECT_EQ(frame->GraphicControlExtension()->TransparentIndex(), ref.frames[i].transparent);
            }
        }
    }
}

// Each folder's expected.txt: file | "frames N" or "error: MESSAGE" |
// warnings in order, " ; " between them, or "-" | the first-frame bitmap,
// "ok" or "error: MESSAGE".
static size_t CheckManifest(const std::string& folder) {
    std::ifstream manifest(folder + "/expected.txt");
    EXPECT_TRUE(manifest.good()) << folder;
    auto trim = [](std::string s) {
        s.erase(0, s.find_first_not_of(' '));
        s.erase(s.find_last_not_of(' ') + 1);
        return s;
    };
    size_t checked = 0;
    for (std::string line; std::getline(manifest, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> columns;
        std::stringstream fields(line);
        for (std::string c; std::getline(fields, c, '|');) columns.push_back(trim(c));
        if (columns.size() != 4u) {
            ADD_FAILURE() << line;
            continue;
        }
        SCOPED_TRACE(columns[0]);
        std::vector<std::string> warnings;
        std::unique_ptr<TGIFPicture> gif;
        const std::string load = columns[1];
        if (load.rfind("error: ", 0) == 0) {
            try {
                Load(folder + "/" + columns[0], warnings);
                ADD_FAILURE() << "loaded";
            } catch (const GIFException& e) {
                EXPECT_EQ(e.Message(), load.substr(7));
            }
            ++checked;
            continue;
        }
        try {
            gif = Load(folder + "/" + columns[0], warnings);
        } catch (const Exception& e) {
            ADD_FAILURE() << e.Message();
            continue;
        }
        EXPECT_EQ("frames " + std::to_string(gif->Images().Count()), load);
        std::string joined;
        for (const std::string& w : warnings) joined += (joined.empty() ? "" : " ; ") + w;
        EXPECT_EQ(joined.empty() ? "-" : joined, columns[2]);
        if (columns[3] == "ok") {
            // Every row of what comes out can be read.
            const TBitmap* bitmap = nullptr;
            EXPECT_NO_THROW(bitmap = gif->FirstFrameBitmap());
            if (bitmap != nullptr && !bitmap->Empty()) {
                EXPECT_NO_THROW(bitmap->ScanLine(bitmap->Height() - 1));
            }
        } else {
            try {
                gif->FirstFrameBitmap();
                ADD_FAILURE() << "rendered";
            } catch (const GIFException& e) {
                EXPECT_EQ("error: " + e.Message(), columns[3]);
            }
        }
        ++checked;
    }
    return checked;
}

TEST(GIFReader, HostileFilesAndFuzzFindingsEndAsExpected) {
    EXPECT_GE(CheckManifest(kHostile), 29u);
    EXPECT_EQ(CheckManifest(std::string(QUILLARC_TEST_DATA) + "/gif/fuzz"), 2u);
}

TEST(GIFReader, IndicesBeyondTheTableShowItsFirstColour) {
    std::vector<std::string> warnings;
    auto gif = Load(kHostile + "/indices_out_of_range.gif", warnings);
    const TBitmap* bitmap = gif->FirstFrameBitmap();
    for (int x = 0; x < 8; ++x) EXPECT_EQ(bitmap->Pixel(x, 0), x == 1 ? clBlue : clRed) << x;
    // The background index 9 of a two-colour table: a warning and the first colour.
    EXPECT_EQ(gif->HeaderBackgroundColor(), clRed);
    EXPECT_EQ(warnings, std::vector<std::string>{"Invalid color index"});
    // Drawn transparent, index 6 (beyond the table too) keeps the backdrop.
    TBitmap canvas;
    canvas.SetPixelFormat(TPixelFormat::pf24bit);
    canvas.SetSize(8, 1);
    canvas.Canvas().Brush.Color = clLime;
    canvas.Canvas().FillRect(Rect(0, 0, 8, 1));
    gif->Draw(canvas.Canvas(), Rect(0, 0, 8, 1));
    for (int x = 0; x < 8; ++x) EXPECT_EQ(canvas.Pixel(x, 0), x == 6 ? clLime : (x == 1 ? clBlue : clRed)) << x;
}

TEST(GIFReader, PixelsTheDataDoesNotReachKeepTheFill) {
    std::vector<std::string> warnings;
    // Cut inside its data: the rest is index 0.
    auto cut = Load(kHostile + "/truncated_data.gif", warnings);
    const TGIFSubImage* frame = cut->Images()[0];
    EXPECT_EQ(frame->Data()[frame->DataSize() - 1], 0);
    EXPECT_NE(std::count(frame->Data(), frame->Data() + frame->DataSize(), 0), frame->DataSize());
    // Stopped right after a string was copied: the rest is 0 all the same.
    auto copied = Load(kHostile + "/ends_after_copy.gif", warnings);
    const TGIFSubImage* c = copied->Images()[0];
    EXPECT_EQ(std::vector<uint8_t>(c->Data(), c->Data() + c->DataSize()),
              (std::vector<uint8_t>{2, 3, 2, 3, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    // Interlaced, transparent index 3, data for three rows: the rows of the
    // first two passes that arrived (0, 8, then 4) hold the data, all
    // others the transparent index.
    auto interlaced = Load(kHostile + "/interlaced_short.gif", warnings);
    TGIFSubImage* f = interlaced->Images()[0];
    for (int y = 0; y < 10; ++y) {
        const uint8_t want = (y == 0 || y == 8 || y == 4) ? 1 : 3;
        EXPECT_EQ(std::count(f->RowPixels(y), f->RowPixels(y) + 10, want), 10) << "row " << y;
    }
}

TEST(GIFReader, ZeroLogicalScreenTakesFrameZerosExtent) {
    std::vector<std::string> warnings;
    auto gif = Load(kHostile + "/zero_screen_moved_frame.gif", warnings);
    EXPECT_EQ(gif->Width(), 7);
    EXPECT_EQ(gif->Height(), 6);
    const TBitmap* bitmap = gif->FirstFrameBitmap();
    ASSERT_EQ(bitmap->Width(), 7);
    EXPECT_EQ(bitmap->Pixel(3, 2), RGB(200, 10, 10));
    EXPECT_EQ(bitmap->Pixel(6, 5), RGB(200, 10, 10));
    EXPECT_EQ(bitmap->Pixel(2, 2), clBlack);
    // The frame maps onto the screen it defines.
    EXPECT_EQ(gif->Images()[0]->ScaledRect(Rect(0, 0, 14, 12)), Rect(6, 4, 14, 12));
}

TEST(GIFReader, ASmallerFirstFrameGivesATrueColourScreenAndTheTablesPalette) {
    std::vector<std::string> warnings;
    auto gif = Load(kGenerated + "/gs_small_frame.gif", warnings);
    const TBitmap* bitmap = gif->FirstFrameBitmap();
    // The palette handed to the true-colour screen bitmap is kept by it but
    // not reported; the picture's palette is still its global table's.
    EXPECT_EQ(bitmap->Palette(), nullptr);
    EXPECT_EQ(PaletteEntryCount(gif->Palette()), 16);
    EXPECT_EQ(bitmap->Pixel(0, 0), clBlack);  // outside frame 0
}

TEST(GIFReader, OddGraphicControlBlocksKeepTheirFieldsAndAreWrittenWellFormed) {
    std::vector<std::string> warnings;
    auto gif = Load(kHostile + "/gce_size_5.gif", warnings);
    const TGIFGraphicControlExtension* gce = gif->Images()[0]->GraphicControlExtension();
    ASSERT_NE(gce, nullptr);
    EXPECT_TRUE(gce->Transparent());
    EXPECT_EQ(gce->Delay(), 10);
    EXPECT_EQ(gce->TransparentIndex(), 3);
    TMemoryStream out;
    const_cast<TGIFGraphicControlExtension*>(gce)->SaveToStream(out);
    EXPECT_EQ(std::vector<uint8_t>(out.Memory(), out.Memory() + out.Size()),
              (std::vector<uint8_t>{0x21, 0xF9, 4, 1, 10, 0, 3, 0}));
}

TEST(GIFReader, AFailedLoadKeepsEarlierFramesAndRewindsTheStream) {
    TMemoryStream stream;
    stream.WriteBuffer("xyz", 3);
    TFileStream file(kHostile + "/second_frame_circular.gif", fmOpenRead);
    stream.CopyFrom(file, 0);
    stream.SetPosition(3);
    TGIFPicture gif;
    std::vector<int> stages;
    gif.OnProgress = [&](TObject*, TProgressStage stage, uint8_t percent, bool, const TRect&, const std::string& msg) {
        EXPECT_EQ(msg, "Loading...");
        if (stage == TProgressStage::psEnding) {
            EXPECT_EQ(percent, 0);
        }
        stages.push_back(static_cast<int>(stage));
    };
    EXPECT_THROW(gif.LoadFromStream(stream), GIFException);
    EXPECT_EQ(stream.Position(), 3);
    EXPECT_EQ(gif.Images().Count(), 1);
    EXPECT_EQ(stages, (std::vector<int>{0, 1, 2}));
}

TEST(GIFReader, RegistersAsGifAndLeavesTheRegistryAsItWas) {
    testpics::RegistryGuard guard;
    TPicture::UnregisterGraphicClass(TGIFPicture::StaticClass());
    EXPECT_EQ(TPicture::ClassForExtension("gif"), nullptr);
    RegisterGIFGraphic();
    EXPECT_EQ(TPicture::ClassForExtension(".GIF"), &TGIFPicture::StaticClass());
    const auto formats = TPicture::FileFormats();
    EXPECT_TRUE(std::any_of(formats.begin(), formats.end(), [](const TFileFormat& f) {
        return f.extension == "gif" && f.description == "GIF Image";
    }));
    TPicture picture;
    picture.LoadFromFile(kGenerated + "/im_odd_7x5.gif");
    EXPECT_EQ(picture.Width(), 7);
    UnregisterGIFGraphic();
    EXPECT_EQ(TPicture::ClassForExtension("gif"), nullptr);
}
