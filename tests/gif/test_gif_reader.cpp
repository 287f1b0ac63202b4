// The GIF reader against giflib, over the files independent tools made at
// test time, and against the expected outcome of the hand-made hostile
// files.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <utility>

#include "platform/core/PixelBuffer.h"
#include "tests/gif/GifTestKit.h"

using namespace giftest;

namespace {

std::unique_ptr<TGIFPicture> Load(const std::string& file, std::vector<std::string>& warnings) {
    auto gif = std::make_unique<TGIFPicture>();
    gif->OnGIFWarning = [&warnings](TObject*, int severity, const std::string& message) {
        EXPECT_EQ(severity, 1);
        warnings.push_back(message);
    };
    // However damaged the file, progress ends at 100 %.
    gif->OnProgress = [](TObject*, TProgressStage, uint8_t percent, bool, const TRect&, const std::string&) {
        EXPECT_LE(percent, 100);
    };
    gif->LoadFromFile(file);
    gif->OnProgress = nullptr;
    return gif;
}

// The bitmap shows the reference frame with its top-left pixel at (x0, y0),
// wherever the two overlap; an index beyond the table shows its first entry.
::testing::AssertionResult ShowsFrame(const TBitmap& bitmap, const Frame& frame, int x0, int y0) {
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            if (x0 + x >= bitmap.Width() || y0 + y >= bitmap.Height()) continue;
            size_t index = frame.indices[size_t(y) * frame.width + x];
            const TPaletteEntry& e = frame.colors[index < frame.colors.size() ? index : 0];
            const TColor want = RGB(e.peRed, e.peGreen, e.peBlue), got = bitmap.Pixel(x0 + x, y0 + y);
            if (got != want)
                return ::testing::AssertionFailure()
                       << "pixel (" << x << ", " << y << "): " << std::hex << got << " instead of " << want;
        }
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST(GIFReader, EveryGeneratedFileDecodesAsGiflibDoes) {
    const auto files = GifsIn(kGenerated);
    ASSERT_GE(files.size(), 25u) << "the generator made too few files in " << kGenerated;
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        Picture ref;
        std::string error;
        ASSERT_TRUE(Giflib(file.string(), ref, error)) << error;
        std::vector<std::string> warnings;
        std::unique_ptr<TGIFPicture> gif;
        ASSERT_NO_THROW(gif = Load(file.string(), warnings));
        ASSERT_EQ(gif->Images().Count(), static_cast<int>(ref.frames.size()));

        // Frame 0 at logical-screen size (a screen of 0 takes frame 0's extent).
        const Frame& first = ref.frames[0];
        const TBitmap* bitmap = gif->FirstFrameBitmap();
        ASSERT_NE(bitmap, nullptr);
        EXPECT_EQ(bitmap->Width(), ref.width ? ref.width : first.left + first.width);
        EXPECT_EQ(bitmap->Height(), ref.height ? ref.height : first.top + first.height);
        EXPECT_TRUE(ShowsFrame(*bitmap, first, first.left, first.top));

        // Every frame on its own, each with its own table or the global one.
        for (size_t i = 0; i < ref.frames.size(); ++i) {
            SCOPED_TRACE("frame " + std::to_string(i));
            const Frame& want = ref.frames[i];
            TGIFSubImage* frame = gif->Images()[static_cast<int>(i)];
            EXPECT_EQ(frame->FrameRect(), Bounds(want.left, want.top, want.width, want.height));
            EXPECT_EQ(Indices(*frame), want.indices);
            EXPECT_TRUE(ShowsFrame(*frame->FrameBitmap(), want, 0, 0));
            EXPECT_EQ(frame->Transparent(), want.transparent >= 0);
            if (frame->Transparent()) {
                EXPECT_EQ(frame->GraphicControlExtension()->TransparentIndex(), want.transparent);
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
    size_t checked = 0;
    for (std::string line; std::getline(manifest, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> column;
        std::stringstream fields(line);
        for (std::string c; std::getline(fields, c, '|');) {
            c.erase(0, c.find_first_not_of(' '));
            column.push_back(c.erase(c.find_last_not_of(' ') + 1));
        }
        if (column.size() != 4u) {
            ADD_FAILURE() << line;
            continue;
        }
        SCOPED_TRACE(column[0]);
        ++checked;
        std::vector<std::string> warnings;
        std::unique_ptr<TGIFPicture> gif;
        try {
            gif = Load(folder + "/" + column[0], warnings);
        } catch (const GIFException& e) {
            EXPECT_EQ("error: " + e.Message(), column[1]);
            continue;
        }
        EXPECT_EQ("frames " + std::to_string(gif->Images().Count()), column[1]);
        std::string joined;
        for (const std::string& w : warnings) joined += (joined.empty() ? "" : " ; ") + w;
        EXPECT_EQ(joined.empty() ? "-" : joined, column[2]);
        try {
            // Every row of what comes out can be read.
            const TBitmap* bitmap = gif->FirstFrameBitmap();
            if (bitmap != nullptr && !bitmap->Empty()) bitmap->ScanLine(bitmap->Height() - 1);
            EXPECT_EQ(column[3], "ok");
        } catch (const GIFException& e) {
            EXPECT_EQ("error: " + e.Message(), column[3]);
        }
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
    const Bytes cut = Indices(*Load(kHostile + "/truncated_data.gif", warnings)->Images()[0]);
    EXPECT_EQ(cut.back(), 0);
    EXPECT_NE(std::count(cut.begin(), cut.end(), 0), std::ssize(cut));
    // Stopped right after a string was copied: the rest is 0 all the same.
    EXPECT_EQ(Indices(*Load(kHostile + "/ends_after_copy.gif", warnings)->Images()[0]),
              (Bytes{2, 3, 2, 3, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    // Interlaced, transparent index 3, data for three rows: the rows of the
    // first two passes that arrived (0, 8, then 4) hold the data, all
    // others the transparent index.
    Bytes interlaced;
    for (int y = 0; y < 10; ++y) interlaced.resize(interlaced.size() + 10, y == 0 || y == 8 || y == 4 ? 1 : 3);
    EXPECT_EQ(Indices(*Load(kHostile + "/interlaced_short.gif", warnings)->Images()[0]), interlaced);
}

TEST(GIFReader, ScreensOfZeroOrWiderThanFrameZero) {
    std::vector<std::string> warnings;
    // A zero logical screen takes frame 0's extent, and the frame maps onto it.
    auto zero = Load(kHostile + "/zero_screen_moved_frame.gif", warnings);
    EXPECT_EQ(zero->Width(), 7);
    EXPECT_EQ(zero->Height(), 6);
    const TBitmap* bitmap = zero->FirstFrameBitmap();
    ASSERT_EQ(bitmap->Width(), 7);
    EXPECT_EQ(bitmap->Pixel(3, 2), RGB(200, 10, 10));
    EXPECT_EQ(bitmap->Pixel(6, 5), RGB(200, 10, 10));
    EXPECT_EQ(bitmap->Pixel(2, 2), clBlack);
    EXPECT_EQ(zero->Images()[0]->ScaledRect(Rect(0, 0, 14, 12)), Rect(6, 4, 14, 12));
    // A smaller frame 0 gives a true-colour screen, black outside the frame,
    // which keeps the palette handed to it but reports none; the picture's
    // palette is still its global table's.
    auto small = Load(kGenerated + "/gs_small_frame.gif", warnings);
    bitmap = small->FirstFrameBitmap();
    EXPECT_EQ(bitmap->Palette(), nullptr);
    EXPECT_EQ(PaletteEntryCount(small->Palette()), 16);
    EXPECT_EQ(bitmap->Pixel(0, 0), clBlack);
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

// With code size 1 the first free code, 4, already needs 3 bits, and codes
// never widen: each 2-bit code is a pixel. So a byte of data backs at most 4
// pixels (the last code may be completed with zero bits), and a frame may
// claim four times that plus 1 Mi: 4 Mi pixels need 196,607 bytes.
TEST(GIFReader, CodeSizeOneTakesTwoBitCodesAPixelEach) {
    auto gif1 = [](int w, int h, const Bytes& data) {
        Bytes b = {'G', 'I', 'F', '8', '9', 'a', uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8),
                   0x80, 0, 0, 0, 0, 0, 255, 255, 255, ',', 0, 0, 0, 0, uint8_t(w), uint8_t(w >> 8),
                   uint8_t(h), uint8_t(h >> 8), 0, 1};
        for (size_t i = 0; i < data.size(); i += 255) {
            const size_t n = std::min<size_t>(255, data.size() - i);
            b.push_back(uint8_t(n));
            b.insert(b.end(), data.begin() + std::ptrdiff_t(i), data.begin() + std::ptrdiff_t(i + n));
        }
        b.push_back(0);
        b.push_back(';');
        return b;
    };
    // clear, 1, 0, 1, 1, end: 2 bits each, least significant first.
    EXPECT_EQ(Indices(*Reload(gif1(4, 1, {0x46, 0x0D}))->Images()[0]), (Bytes{1, 0, 1, 1}));
    EXPECT_EQ(Reload(gif1(2048, 2048, Bytes(196607, 0)))->Images().Count(), 1);
    try {
        Reload(gif1(2048, 2048, Bytes(196606, 0)));
        ADD_FAILURE() << "a frame its data cannot back was read";
    } catch (const GIFException& e) {
        EXPECT_EQ(e.Message(), "Premature end of data");
    }
}

TEST(GIFReader, FirstFrameBitmapLeavesNoByteUndefined) {
    // Frame 0 over the whole screen (an odd width: rows end in padding),
    // and a smaller one: the rest of the screen is zero.
    for (const TRect place : {Rect(0, 0, 1101, 1000), Rect(300, 200, 1101, 1000)}) {
        SCOPED_TRACE(place.Left);
        auto gif = Build(1101, 1000, {clRed, clBlue}, {{place, Bytes(size_t(place.Width()) * place.Height(), 1)}});
        // Blocks of a bitmap's size handed back to the pool full of old bytes.
        for (const size_t size : {size_t(1104) * 1000, size_t(1101) * 4 * 1000}) {
            TPixelBuffer stale = TPixelBuffer::Allocate(size, false);
            std::fill(stale.data(), stale.data() + stale.size(), uint8_t(0xAB));
        }
        TBitmap bitmap;
        bitmap.Assign(gif.get());
        const int bytes = bitmap.PixelFormat() == TPixelFormat::pf8bit ? 1 : 4;
        int64_t wrong = 0;
        for (int y = 0; y < bitmap.Height(); ++y) {
            const uint8_t* row = bitmap.ScanLine(y);
            for (int x = 0; x < bitmap.RowBytes(); ++x) {
                const bool inside = x / bytes >= place.Left && x / bytes < std::min(bitmap.Width(), int(place.Right)) &&
                                    y >= place.Top && y < place.Bottom;
                wrong += !inside && row[x] != 0;
            }
        }
        EXPECT_EQ(wrong, 0);
    }
}

// A frame with a full colour table and rows without padding lends its
// pixels to the bitmap made from it: no copy, yet a write to either leaves
// the other as it was, and the bitmap outlives the picture.
TEST(GIFReader, ABitmapSharingAFramesPixelsKeepsWritesApart) {
    std::vector<TColor> colors;
    for (int i = 0; i < 256; ++i) colors.push_back(RGB(i, 255 - i, i / 2));
    Bytes pixels(8 * 3);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 7);
    auto gif = Build(8, 3, colors, {{Rect(0, 0, 8, 3), pixels}});
    TGIFSubImage* frame = gif->Images()[0];
    TBitmap bitmap;
    bitmap.Assign(gif.get());
    ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(std::as_const(bitmap).ScanLine(0), std::as_const(*frame).Data());

    frame->RowPixels(1)[2] = 200;
    bitmap.ScanLine(2)[5] = 100;
    EXPECT_EQ(std::as_const(bitmap).ScanLine(1)[2], pixels[8 + 2]);
    Bytes want = pixels;
    want[8 + 2] = 200;
    EXPECT_EQ(Indices(*frame), want);

    gif.reset();
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(std::as_const(bitmap).ScanLine(y)[x], y == 2 && x == 5 ? 100 : pixels[size_t(y) * 8 + x]);
}
