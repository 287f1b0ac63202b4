// Editing GIF pictures: colour tables sorted by use, the optimiser (which
// must leave what an animation shows as it was), copying and adding
// frames, dithered rendering and the clipboard.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

#include "platform/core/Clipboard.h"
#include "platform/core/Metafile.h"
#include "tests/TestRegistry.h"
#include "tests/gif/GifTestKit.h"

using namespace giftest;

namespace {

// What a viewer shows: the screen after each frame, frames drawn in turn
// without their transparent colour (a frame without an image shows
// nothing); then a disposal of 2 clears the frame's area to the background
// (-1 here) and 3 restores what was there before. Repeats of the same
// screen are kept once, with the delays of the frames that showed it added
// up; a first frame that shows nothing shows the empty screen. The loop
// counts in the order they stand (viewers take the first or the last).
struct Shown {
    std::vector<std::vector<TColor>> screens;
    std::vector<int> delays;
    std::vector<int> loops;
    bool operator==(const Shown&) const = default;
};

void PrintTo(const Shown& shown, std::ostream* os) {
    *os << shown.screens.size() << " screens, delays";
    for (int d : shown.delays) *os << ' ' << d;
    *os << ", loops";
    for (int l : shown.loops) *os << ' ' << l;
}

Shown Compose(TGIFPicture& gif) {
    const int w = gif.Width(), h = gif.Height();
    std::vector<TColor> screen(size_t(w) * h, -1);
    Shown shown;
    for (int i = 0; i < gif.Images().Count(); ++i) {
        TGIFSubImage* frame = gif.Images()[i];
        for (int e = 0; e < frame->Extensions().Count(); ++e)
            if (auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(frame->Extensions()[e]))
                shown.loops.push_back(loop->LoopCount);
        if (frame->IsEmpty()) continue;
        const std::vector<TColor> before = screen;
        const TGIFGraphicControlExtension* control = frame->GraphicControlExtension();
        const int t = frame->Transparent() && control ? control->TransparentIndex() : -1;
        TGIFColorMap& map = frame->EffectiveColorMap();
        for (int y = 0; y < frame->Height(); ++y)
            for (int x = 0; x < frame->Width(); ++x) {
                const int sx = frame->Left() + x, sy = frame->Top() + y;
                const int v = frame->PixelAt(x, y);
                if (sx < w && sy < h && v != t) screen[size_t(sy) * w + sx] = map.ColorOrFirst(v);
            }
        if (shown.screens.empty() || shown.screens.back() != screen) {
            shown.screens.push_back(screen);
            shown.delays.push_back(0);
        }
        shown.delays.back() += control ? control->Delay() : 0;
        const int disposal = control ? control->Disposal() : 0;
        if (disposal == 3) screen = before;
        if (disposal == 2)
            for (int y = frame->Top(); y < std::min(h, frame->Top() + frame->Height()); ++y)
                for (int x = frame->Left(); x < std::min(w, frame->Left() + frame->Width()); ++x)
                    screen[size_t(y) * w + x] = -1;
    }
    // A still picture neither waits nor loops.
    if (shown.screens.size() <= 1) shown = Shown{shown.screens, std::vector<int>(shown.screens.size(), 0), {}};
    return shown;
}

void AddLoop(TGIFSubImage& frame, int count) {
    auto* loop = new TGIFAppExtNSLoop(&frame);
    loop->LoopCount = static_cast<uint16_t>(count);
    frame.Extensions().Insert(0, loop);
}

constexpr uint8_t kAllOptions = goCrop | goMerge | goCleanup | goColorMap | goReduceColors;

}  // namespace

TEST(GIFColorMap, SortByUseKeepsWhatIndicesStillPointAt) {
    const std::vector<TColor> colors{clRed, clLime, clBlue, clWhite};
    // Index 2 most used, then 0; 1 unused; the transparent index 3 shows
    // nowhere but stays, after 0 by the sort's partition; 6 lies beyond the
    // table and keeps its value.
    auto gif = Build(3, 2, colors, {{Rect(0, 0, 3, 2), {2, 2, 2, 0, 6, 2}, 3}});
    gif->Header().SetBackgroundIndex(2);
    ASSERT_TRUE(gif->GlobalColorMap().SortByUse());
    TGIFSubImage* frame = gif->Images()[0];
    EXPECT_EQ(Indices(*frame), (Bytes{0, 0, 0, 2, 6, 0}));
    ASSERT_EQ(gif->GlobalColorMap().Count(), 3);
    EXPECT_EQ(gif->GlobalColorMap().ColorAt(0), clBlue);
    EXPECT_EQ(gif->GlobalColorMap().ColorAt(1), clWhite);
    EXPECT_EQ(gif->GlobalColorMap().ColorAt(2), clRed);
    EXPECT_EQ(frame->GraphicControlExtension()->TransparentIndex(), 1);
    EXPECT_EQ(gif->Header().BackgroundIndex(), 0);
    // Already in order of use: nothing moves, not even unused colours go.
    auto ordered = Build(3, 1, {clRed, clLime, clBlue}, {{Rect(0, 0, 3, 1), {0, 0, 1}}});
    EXPECT_TRUE(ordered->GlobalColorMap().SortByUse());
    EXPECT_EQ(ordered->GlobalColorMap().Count(), 3);
}

TEST(GIFStreamline, OptimisedAnimationsShowTheSameFrames) {
    std::mt19937 random(99);
    auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    // White twice, so colours match across indices.
    const std::vector<TColor> colors{clBlack, clWhite, clRed, clLime, clBlue, clWhite, clYellow, clAqua};
    std::vector<std::unique_ptr<TGIFPicture>> pictures;
    for (int n = 0; n < 600; ++n) {
        const int w = 1 + below(8), h = 1 + below(6);
        std::vector<FramePlan> frames;
        std::vector<int> screen(size_t(w) * h, 0);  // a rough guess of what shows, to repeat it
        // Some pictures show nothing at all; some frames show nothing, the
        // first one among them.
        const bool blankPicture = below(8) == 0;
        for (int f = 0, count = 1 + below(6); f < count; ++f) {
            FramePlan plan;
            const int left = below(w), top = below(h);
            plan.place = Rect(left, top, left + 1 + below(w - left), top + 1 + below(h - top));
            const bool blank = blankPicture || below(5) == 0;
            plan.transparent = below(3) || blank ? below(8) : -1;
            plan.disposal = below(3) ? below(4) : 0;
            plan.delay = below(3) ? below(3) * 5 : 0;
            const int border = below(2);
            for (int y = plan.place.Top; y < plan.place.Bottom; ++y)
                for (int x = plan.place.Left; x < plan.place.Right; ++x) {
                    const bool edge = border && (x == plan.place.Left || y == plan.place.Top);
                    int v = below(3) ? screen[size_t(y) * w + x] : below(8);
                    if ((edge || blank) && plan.transparent >= 0) v = plan.transparent;
                    plan.pixels.push_back(static_cast<uint8_t>(v));
                    if (v != plan.transparent) screen[size_t(y) * w + x] = v;
                }
            frames.push_back(plan);
        }
        pictures.push_back(Build(w, h, colors, frames));
        // Loop blocks before any frame, now and then two.
        TGIFImageList& built = pictures.back()->Images();
        for (int l = below(3) == 0 ? 2 : below(2); l > 0; --l) AddLoop(*built[below(built.Count())], below(3));
    }
    for (const auto& file : GifsIn(kGenerated)) {
        auto gif = std::make_unique<TGIFPicture>();
        gif->LoadFromFile(file.string());
        if (gif->Images().Count() > 1 && int64_t(gif->Width()) * gif->Height() < 200000)
            pictures.push_back(std::move(gif));
    }
    for (uint8_t options : {uint8_t(goCrop), uint8_t(goMerge), uint8_t(goCleanup), uint8_t(goColorMap), kAllOptions})
        for (size_t i = 0; i < pictures.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "options " << int(options) << ", picture " << i);
            const Shown before = Compose(*pictures[i]);
            TGIFPicture copy;
            copy.Assign(pictures[i].get());
            copy.Streamline(options, 0, 8, 0);
            EXPECT_EQ(Compose(copy), before);
            // What was written reads back showing the same.
            EXPECT_EQ(Compose(*Reload(Save(copy))), before);
        }
}

// The smallest pictures each option used to change: one that shows
// nothing (it keeps a frame, and is written with it), a blank opening with
// its time, a loop block before a later frame, and a screen of width 0
// that takes frame 0's extent. Each shows the same after, and read back.
TEST(GIFStreamline, SmallestCasesShowTheSame) {
    const std::vector<TColor> colors{clBlack, clRed, clLime};
    for (int n = 0; n < 4; ++n)
        for (uint8_t options : {uint8_t(goCrop), uint8_t(goCleanup), kAllOptions}) {
            SCOPED_TRACE(testing::Message() << "case " << n << ", options " << int(options));
            std::unique_ptr<TGIFPicture> gif;
            if (n == 0) {
                gif = Build(3, 2, colors,
                            {{Rect(1, 0, 3, 2), {1, 1, 1, 1}, 1, 0, 4}, {Rect(0, 0, 1, 1), {0}, 0, 0, 6}});
                AddLoop(*gif->Images()[1], 0);
            } else if (n == 1) {
                gif = Build(1, 2, colors, {{Rect(0, 0, 1, 1), {0}, 0, 0, 1}, {Rect(0, 0, 1, 2), {0, 0}, 0, 0, 2},
                                           {Rect(0, 1, 1, 2), {1}}});
            } else if (n == 2) {
                gif = Build(2, 2, colors, {{Rect(0, 0, 1, 1), {2}}, {Rect(1, 1, 2, 2), {1}}});
                AddLoop(*gif->Images()[1], 1);
            } else {
                gif = Build(3, 2, colors, {{Rect(0, 0, 3, 2), {0, 0, 0, 0, 1, 0}, 0}, {Rect(2, 1, 3, 2), {1}}});
                gif->Header().SetWidth(0);
            }
            const Shown before = Compose(*gif);
            gif->Streamline(options, 0, 8, 0);
            EXPECT_EQ(Compose(*gif), before);
            EXPECT_EQ(Compose(*Reload(Save(*gif))), before);
        }
}

TEST(GIFStreamline, DroppedFramesLendTheirDelayUpTo65535) {
    const std::vector<TColor> colors{clBlack, clWhite};
    auto gif = Build(2, 1, colors,
                     {{Rect(0, 0, 2, 1), {0, 1}, 1, 1, 60000}, {Rect(0, 0, 2, 1), {1, 1}, 1, 1, 10000}});
    gif->Streamline(goCrop, 0, 8, 0);
    ASSERT_EQ(gif->Images().Count(), 1);
    EXPECT_EQ(gif->Images()[0]->GraphicControlExtension()->Delay(), 65535);
    try {
        gif->Streamline(goReduceColors, 9, 8, 0);
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_EQ(e.Message(), "Invalid reduction method");
    }
}

// A frame with an opaque control block before a transparent one stays
// transparent when cleanup drops the first block; cropping then passes it
// over instead of following the block that is gone.
TEST(GIFStreamline, CropAfterCleanupOfADoubledControlBlock) {
    Bytes bytes = Save(*Build(2, 2, {clBlack, clWhite}, {{Rect(0, 0, 2, 2), {0, 1, 1, 0}, 0}}));
    const uint8_t control[] = {0x21, 0xF9, 0x04};
    const auto at = std::search(bytes.begin(), bytes.end(), std::begin(control), std::end(control));
    ASSERT_NE(at, bytes.end());
    const Bytes opaque{0x21, 0xF9, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00};
    bytes.insert(at, opaque.begin(), opaque.end());
    auto gif = Reload(bytes);
    gif->Streamline(goCleanup, 0, 8, 0);
    EXPECT_NO_THROW(gif->Streamline(goCrop, 0, 8, 0));
    EXPECT_EQ(gif->Images().Count(), 1);
}

TEST(GIFPicture, CopiesAddsAndRefuses) {
    auto source = Build(4, 2, {clRed, clBlue}, {{Rect(0, 0, 4, 2), {0, 1, 0, 1, 1, 1, 0, 0}, 1, 2, 7}});
    TGIFPicture copy;
    copy.Assign(source.get());
    ASSERT_EQ(copy.Images().Count(), 1);
    TGIFSubImage* frame = copy.Images()[0];
    EXPECT_EQ(Indices(*frame), (Bytes{0, 1, 0, 1, 1, 1, 0, 0}));
    EXPECT_EQ(frame->GraphicControlExtension()->Delay(), 7);
    EXPECT_TRUE(frame->Transparent());

    // A frame is appended as it is, a bitmap imported as a new frame, its
    // transparent colour (that of the bottom-left pixel) becoming the
    // frame's transparent index.
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf8bit);
    bitmap.SetSize(3, 3);
    bitmap.SetPixel(1, 1, clWhite);
    bitmap.SetTransparent(true);
    EXPECT_EQ(copy.Add(new TGIFSubImage(&copy)), 1);
    EXPECT_EQ(copy.Add(&bitmap), 2);
    TGIFSubImage* imported = copy.Images()[2];
    EXPECT_EQ(imported->Width(), 3);
    ASSERT_TRUE(imported->Transparent());
    const int t = imported->GraphicControlExtension()->TransparentIndex();
    EXPECT_EQ(std::count(imported->Data(), imported->Data() + 9, t), 8);
    EXPECT_EQ(imported->ColorMap().ColorAt(imported->PixelAt(1, 1)), clWhite);
    TPicture notAGraphic;
    try {
        copy.Add(&notAGraphic);
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_EQ(e.Message(), "Object type not supported for operation");
    }
    // Sizes and places outside 16 bits are refused, not wrapped, and change nothing.
    TGIFSubImage* first = copy.Images()[0];
    for (const auto& refused : std::vector<std::function<void()>>{
             [&] { copy.SetWidth(65536); }, [&] { copy.SetHeight(-1); }, [&] { first->SetWidth(70000); },
             [&] { first->SetTop(-2); }, [&] { first->PlaceFrame(65000, 0, 1000, 2); }}) {
        try {
            refused();
            ADD_FAILURE();
        } catch (const GIFException& e) {
            EXPECT_EQ(e.Message(), "Invalid image dimensions");
        }
    }
    EXPECT_EQ(copy.Width(), 4);
    EXPECT_EQ(first->FrameRect(), Rect(0, 0, 4, 2));
}

TEST(GIFFrame, DitheredRenderingUsesTheCubeAndItsEntryForTheTransparentColour) {
    auto gif = Build(3, 1, {clWhite, RGB(10, 20, 250), RGB(255, 0, 0)}, {{Rect(0, 0, 3, 1), {0, 1, 2}, 0}});
    gif->PaintFlags = static_cast<TGIFPaintFlags>((gif->PaintFlags | gpDither) & ~gpAutoDither);
    ASSERT_TRUE(gif->DitherActive());
    EXPECT_EQ(PaletteEntryCount(gif->Palette()), 216);
    TBitmap* bitmap = gif->Images()[0]->FrameBitmap();
    ASSERT_NE(bitmap, nullptr);
    // The transparent white takes the cube's white, 215; blue and red dither.
    EXPECT_EQ(bitmap->ScanLine(0)[0], 215);
    EXPECT_EQ(bitmap->ScanLine(0)[1], 4);
    EXPECT_EQ(bitmap->Pixel(2, 0), clRed);
    ASSERT_NE(gif->Images()[0]->Mask(), nullptr);
    EXPECT_EQ(gif->Images()[0]->Mask()->ScanLine(0)[0], 0x80);
}

TEST(GIFClipboard, PicturesGoOnTheClipboardAsGifAndBitmap) {
    testpics::CodecsRegistered codecs;
    auto gif = Build(3, 2, {clRed, clBlue}, {{Rect(0, 0, 3, 2), {0, 1, 0, 1, 1, 0}}});
    Clipboard().Assign(*gif);
    EXPECT_TRUE(Clipboard().HasFormat(CF_BITMAP));
    ASSERT_TRUE(Clipboard().HasFormat(GIFClipboardFormat));

    TPicture picture;
    picture.LoadFromClipboardFormat(GIFClipboardFormat, Clipboard().GetClipboardData(GIFClipboardFormat), nullptr);
    auto* pasted = dynamic_cast<TGIFPicture*>(picture.Graphic());
    ASSERT_NE(pasted, nullptr);
    EXPECT_EQ(Indices(*pasted->Images()[0]), (Bytes{0, 1, 0, 1, 1, 0}));
    // The bitmap form comes in as one imported frame.
    TGIFPicture fromBitmap;
    fromBitmap.LoadFromClipboardFormat(CF_BITMAP, nullptr, nullptr);
    ASSERT_EQ(fromBitmap.Images().Count(), 1);
    EXPECT_EQ(fromBitmap.FirstFrameBitmap()->Pixel(1, 0), clBlue);
    try {
        fromBitmap.LoadFromClipboardFormat(CF_PALETTE, nullptr, nullptr);
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_EQ(e.Message(), "Unsupported clipboard format");
    }
    // Outside an open clipboard the GIF cannot be stored; nothing is left behind.
    uint32_t format = 0;
    THandle data = nullptr;
    HPALETTE palette = nullptr;
    try {
        gif->SaveToClipboardFormat(format, data, palette);
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_EQ(e.Message(), "Failed to store GIF on clipboard");
    }
    EXPECT_EQ(data, nullptr);
    Clipboard().Clear();
    EXPECT_FALSE(Clipboard().HasFormat(GIFClipboardFormat));
}

TEST(GIFImport, PicturesArriveWithTheirColoursAndTransparency) {
    testpics::CodecsRegistered codecs;
    const std::string dir = std::string(QUILLARC_GENERATED_DATA) + "/gifimport/";
    auto load = [](const std::string& file) {
        TPicture picture;
        picture.LoadFromFile(file);
        auto bitmap = std::make_unique<TBitmap>();
        bitmap->Assign(picture.Graphic());
        return bitmap;
    };
    auto cube = [](TColor c) {
        auto level = [](int v) { return uint8_t((v + 3) / 51 * 51); };
        return RGB(level(GetRValue(c)), level(GetGValue(c)), level(GetBValue(c)));
    };
    const std::unique_ptr<TBitmap> mask = load(dir + "mask.pgm");
    // A metafile that draws a few colours into part of its area only.
    TBitmap patch;
    patch.SetPixelFormat(TPixelFormat::pf24bit);
    patch.SetSize(6, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) patch.SetPixel(x, y, x < 3 ? clRed : RGB(10, 20, 30 * y));
    auto metafile = std::make_unique<TMetafile>();
    metafile->SetWidth(10);
    metafile->SetHeight(8);
    {
        TMetafileCanvas canvas(metafile.get());
        canvas.Draw(3, 2, patch);
    }
    // Pictures of up to 8 bits per pixel keep their colours; true-colour
    // ones are reduced, here to the cube (by the method 6) or not at all.
    // Each file X.ext beside its truth X.ppm.
    struct Case {
        std::string file;
        TPaletteReduction method;
        bool masked;
    };
    for (const Case& c : std::vector<Case>{{"bmp1.bmp", 6, false}, {"bmp4.bmp", 6, false}, {"bmp8.bmp", 6, false},
                                           {"bmp24.bmp", 6, false}, {"ico1.ico", 0, true}, {"ico8.ico", 0, true},
                                           {"ico24.ico", 6, true}, {"metafile", 0, true}}) {
        const bool cubed = c.method == 6 && c.file.find("24") != std::string::npos;
        SCOPED_TRACE(c.file);
        TPicture source;
        if (c.file == "metafile")
            source.SetGraphic(metafile.get());
        else
            source.LoadFromFile(dir + c.file);
        TGIFPicture gif;
        gif.ReductionMethod = c.method;
        gif.Assign(source.Graphic());
        const Picture back = Giflib(Save(gif));
        ASSERT_EQ(back.frames.size(), 1u);
        const Frame& frame = back.frames[0];
        ASSERT_EQ(frame.width, source.Width());
        ASSERT_EQ(frame.height, source.Height());
        EXPECT_EQ(frame.transparent >= 0, c.masked);
        const std::unique_ptr<TBitmap> truth =
            c.file == "metafile" ? nullptr : load(dir + c.file.substr(0, c.file.find('.')) + ".ppm");
        int wrong = 0;
        for (int y = 0; y < frame.height; ++y)
            for (int x = 0; x < frame.width; ++x) {
                const int index = frame.indices[size_t(y) * frame.width + x];
                bool clear;
                TColor want;
                if (truth == nullptr) {
                    clear = x < 3 || x >= 9 || y < 2 || y >= 6;
                    want = clear ? clBlack : patch.Pixel(x - 3, y - 2);
                } else {
                    clear = c.masked && mask->Pixel(x, y) == clBlack;
                    want = cubed ? cube(truth->Pixel(x, y)) : truth->Pixel(x, y);
                }
                if (clear) {
                    wrong += index != frame.transparent;
                    continue;
                }
                const TPaletteEntry& e = frame.colors.at(size_t(index));
                wrong += index == frame.transparent || RGB(e.peRed, e.peGreen, e.peBlue) != want;
            }
        EXPECT_EQ(wrong, 0);
    }
}
