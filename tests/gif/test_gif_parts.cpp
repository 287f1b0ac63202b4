// The GIF codec's parts on their own: byte layouts of extensions and the
// header, colour tables, colour lookups, frame rendering and painting.
#include <gtest/gtest.h>

#include "tests/gif/GifTestKit.h"

using namespace giftest;
using namespace std::string_literals;

namespace {

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Written(TGIFItem& item) {
    TMemoryStream s;
    item.SaveToStream(s);
    return BytesOf(s);
}

// A picture with one empty frame, for extensions and tables to belong to.
struct OneFrame {
    OneFrame() : frame(new TGIFSubImage(&gif)) { gif.Images().Add(frame); }
    TGIFPicture gif;
    TGIFSubImage* frame;

    // Reads one extension through the registry, as the frame loop does,
    // and appends it to the frame.
    TGIFExtension* Read(const Bytes& bytes) {
        TMemoryStream s = StreamOf(bytes);
        s.SetPosition(1);
        const TGIFExtensionClass* cls = TGIFExtension::FindExtensionClass(s);
        EXPECT_EQ(s.Position(), 1);
        if (cls == nullptr) return nullptr;
        s.SetPosition(0);
        TGIFExtension* e = cls->create(frame);
        e->LoadFromStream(s);
        EXPECT_EQ(s.Position(), s.Size());
        frame->Extensions().Add(e);
        return e;
    }
};

}  // namespace

TEST(GIFExtensions, BlocksReadAsTheirFieldsAndWriteInTheirOwnSizes) {
    const std::string x300 = "\x21\xFE\xFF"s + std::string(255, 'x') + "\x2D" + std::string(45, 'x') + "\0"s;
    const std::vector<std::pair<std::string, std::string>> cases = {  // read, written ("" if the same)
        {"\x21\xF9\x04\x09\x0A\x00\x03\x00"s, ""},
        // A control block of size 5 keeps the fields it holds (written from
        // them); written with size 4.
        {"\x21\xF9\x05\x01\x0A\x00\x03\x07\x00"s, "\x21\xF9\x04\x01\x0A\x00\x03\x00"s},
        {"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"s, ""},
        {"\x21\xFF\x0BQUILLARCAPP\x02" "ab\x01" "c\x00"s, ""},
        // A block of size 10 lends its first sub-block's size byte to the
        // identifier and is written back with size 11.
        {"\x21\xFF\x0A" "ABCDEFGHIJ\x01z\x00"s, "\x21\xFF\x0B" "ABCDEFGHIJ\x01\x01z\x00"s},
        {x300, ""},
        // Such blocks whose identifier the loop block has are written as read:
        // with size 11 they would read back as loop blocks, and these data
        // ("Invalid GIF data" for a loop sub-block of 1 byte) not load.
        {"\x21\xFF\x0C" "NETSCAPE2.0+\x01\x01\x00"s, ""},
        {"\x21\xFF\x0A" "NETSCAPE2.\x30"s + std::string(48, '\x01') + "\x01\x01\x00"s, ""},
    };
    OneFrame p;
    std::vector<TGIFExtension*> read;
    for (const auto& [in, out] : cases) {
        SCOPED_TRACE(read.size());
        read.push_back(p.Read(B(in)));
        ASSERT_NE(read.back(), nullptr);
        EXPECT_EQ(Written(*read.back()), B(out.empty() ? in : out));
    }
    auto* gce = dynamic_cast<TGIFGraphicControlExtension*>(read[0]);
    ASSERT_NE(gce, nullptr);
    EXPECT_TRUE(gce->Transparent());
    EXPECT_EQ(gce->Disposal(), 2);
    EXPECT_EQ(gce->Delay(), 10);
    EXPECT_EQ(gce->TransparentIndex(), 3);
    EXPECT_EQ(dynamic_cast<TGIFAppExtNSLoop&>(*read[2]).LoopCount, 0);
    EXPECT_EQ(dynamic_cast<TGIFUnknownAppExtension&>(*read[4]).ApplicationIdentifier()[10], 0x01);
    auto& comment = dynamic_cast<TGIFCommentExtension&>(*read[5]);
    ASSERT_EQ(comment.Text().Count(), 2);
    EXPECT_EQ(comment.Text()[1], std::string(45, 'x'));
    // Comment lines become sub-blocks of at most 255 bytes; empty ones go.
    comment.Text().Clear();
    comment.Text().Add(std::string(300, 'x'));
    EXPECT_EQ(Written(comment), B(x300));
    comment.Text().Clear();
    comment.Text().Add("a");
    comment.Text().Add("");
    EXPECT_EQ(Written(comment), (Bytes{0x21, 0xFE, 0x01, 'a', 0x00}));

    // The frame keeps them in file order, and "89a" with them; the first
    // control block gives the frame its transparency until it is deleted.
    EXPECT_EQ(p.frame->Extensions().Count(), 8);
    EXPECT_EQ(p.frame->RequiredVersion(), gv89a);
    EXPECT_EQ(p.frame->GraphicControlExtension(), gce);
    EXPECT_TRUE(p.frame->Transparent());
    delete read[1];
    delete gce;
    EXPECT_EQ(p.frame->Extensions().Count(), 6);
    EXPECT_FALSE(p.frame->Transparent());
    EXPECT_EQ(p.frame->GraphicControlExtension(), nullptr);
}

TEST(GIFExtensions, FirstGraphicControlBlockSuppliesTheFramesIndex) {
    OneFrame p;
    p.Read({0x21, 0xF9, 0x04, 0x01, 0x05, 0x00, 0x02, 0x00});
    auto* second = p.Read({0x21, 0xF9, 0x04, 0x0D, 0x07, 0x00, 0x09, 0x00});
    ASSERT_NE(p.frame->GraphicControlExtension(), nullptr);
    EXPECT_NE(p.frame->GraphicControlExtension(), second);
    EXPECT_EQ(p.frame->GraphicControlExtension()->TransparentIndex(), 2);
    EXPECT_EQ(dynamic_cast<TGIFGraphicControlExtension*>(second)->Disposal(), 3);
    // Out of range for the frame's table: a warning and index 0.
    std::vector<std::string> warnings;
    p.gif.OnGIFWarning = [&](TObject*, int, const std::string& m) { warnings.push_back(m); };
    TMemoryStream table = StreamOf(Bytes(12, 0));
    p.gif.GlobalColorMap().ReadTable(table, 4);
    p.frame->GraphicControlExtension()->SetTransparentIndex(4);
    EXPECT_EQ(p.frame->GraphicControlExtension()->TransparentIndex(), 0);
    EXPECT_EQ(warnings, std::vector<std::string>{"Invalid color index"});
}

TEST(GIFHeader, WritesTheGlobalTableAndTheVersionItsFramesNeed) {
    TGIFPicture gif;
    try {
        Save(gif);
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_EQ(e.Message(), "Unsupported GIF version");
    }
    gif.Header().SetWidth(3);
    gif.Header().SetHeight(2);
    for (int i = 0; i < 16; ++i) gif.GlobalColorMap().Append(RGB(uint8_t(i), 0, 0));
    auto* frame = new TGIFSubImage(&gif);  // extensions only, no image
    gif.Images().Add(frame);
    EXPECT_EQ(gif.RequiredVersion(), gv87a);
    auto* comment = new TGIFCommentExtension(frame);
    comment->Text().Add("hi");
    frame->Extensions().Add(comment);
    const Bytes bytes = Save(gif);
    ASSERT_EQ(bytes.size(), 13u + 48 + 6 + 1);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 13), B("GIF89a\x03\x00\x02\x00\xB3\x00\x00"s));
    EXPECT_EQ(bytes[13 + 3 * 15], 15);
    EXPECT_EQ(Bytes(bytes.end() - 7, bytes.end()), B("\x21\xFE\x02hi\x00;"s));
}

TEST(GIFHeader, ASortedTableOrAnAspectRatioIsWrittenAs89a) {
    struct Case {
        bool sorted;
        uint8_t aspect;
        std::string version;
    };
    for (const Case& c : {Case{false, 0, "GIF87a"}, Case{true, 0, "GIF89a"}, Case{false, 49, "GIF89a"}}) {
        auto gif = Build(2, 1, {clRed, clBlue}, {{Rect(0, 0, 2, 1), {0, 1}}});
        gif->GlobalColorMap().SetSorted(c.sorted);
        gif->Header().SetAspectRatio(c.aspect);
        const Bytes bytes = Save(*gif);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), c.version);
        EXPECT_EQ(bytes[10] & 0x08, c.sorted ? 0x08 : 0);
    }
}

TEST(GIFColorMap, TablesPadFillUpAndAnswerForEveryIndex) {
    OneFrame p;
    TGIFColorMap& map = p.frame->ColorMap();
    auto written = [&] {
        TMemoryStream s;
        map.WriteTable(s);
        return s.Size();
    };
    EXPECT_EQ(written(), 0);
    map.Append(clRed);
    EXPECT_EQ(written(), 6);
    map.Append(clBlue);
    map.Append(clRed);
    EXPECT_EQ(written(), 12);
    EXPECT_EQ(map.FindColor(clRed), 2);  // unsorted: the last match
    map.SetSorted(true);
    EXPECT_EQ(map.FindColor(clRed), 0);  // sorted: the first
    while (map.Count() < 129) map.Append(clBlack);
    EXPECT_EQ(written(), 768);
    while (map.Count() < 256) map.Append(clBlack);
    EXPECT_THROW(map.Append(clBlack), GIFException);
    std::vector<std::string> warnings;
    p.gif.OnGIFWarning = [&](TObject*, int, const std::string& m) { warnings.push_back(m); };
    EXPECT_EQ(map.ColorAt(300), clRed);
    EXPECT_EQ(warnings, std::vector<std::string>{"Invalid color index"});
    map.RemoveAll();
    EXPECT_THROW(map.ColorAt(0), GIFException);
}

TEST(GIFColorLookup, KindsAnswerAsTheirPalettes) {
    const TPaletteEntry bw[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}}, greys[2] = {{0, 0, 0, 0}, {200, 200, 200, 0}};
    HPALETTE palette = CreatePalette(bw, 2);
    TFastColorLookup fast(palette);
    DeleteObject(palette);
    palette = CreatePalette(greys, 2);
    TFastColorLookup even(palette);
    DeleteObject(palette);
    TNetscapeColorLookup cube;
    EXPECT_EQ(fast.Colors(), 2);
    struct Case {
        TColorLookup& lookup;
        uint8_t r, g, b;
        int index;
    };
    const Case cases[] = {
        {cube, 25, 25, 25, 0},
        {cube, 47, 48, 0, 6},
        {fast, 100, 100, 100, 0},   // 300 against 465
        {fast, 4, 4, 4, 0},         // black's own key
        {fast, 200, 200, 200, 1},
        {even, 100, 100, 100, 0},   // 300 to both: the lower index
        {even, 103, 100, 100, 0},   // the first colour asked with a key answers for the whole key
        {even, 104, 100, 100, 1},   // another key: 296 against 304
    };
    uint8_t r, g, b;
    for (const Case& c : cases) EXPECT_EQ(c.lookup.NearestIndex(c.r, c.g, c.b, r, g, b), c.index) << int(c.r);
    cube.NearestIndex(47, 48, 0, r, g, b);
    EXPECT_EQ((std::vector<int>{r, g, b}), (std::vector<int>{0, 51, 0}));
}

TEST(GIFFrame, RendersMaskRowsAndReportsProgressEvery32Rows) {
    auto gif = Build(4, 1, {RGB(0, 0, 0), RGB(60, 0, 0), RGB(120, 0, 0), RGB(180, 0, 0)},
                     {{Rect(0, 0, 4, 1), {0, 1, 2, 1}, 1}});
    TGIFSubImage* frame = gif->Images()[0];
    ASSERT_TRUE(frame->MaskReady());
    ASSERT_EQ(frame->Mask()->PixelFormat(), TPixelFormat::pf1bit);
    EXPECT_EQ(frame->Mask()->ScanLine(0)[0], 0x50);

    std::vector<int> percents;
    gif->OnProgress = [&](TObject*, TProgressStage stage, uint8_t percent, bool, const TRect&, const std::string& m) {
        EXPECT_EQ(m, "Rendering...");
        if (stage == TProgressStage::psRunning) percents.push_back(percent);
    };
    frame->PlaceFrame(0, 0, 3, 70);
    frame->FrameBitmap();
    EXPECT_EQ(percents, (std::vector<int>{0, 46, 91}));  // rows 0, 32, 64
}

TEST(GIFFrame, RenderingCutShortStillTellsOfAChangedPalette) {
    for (const bool abort : {true, false}) {
        auto gif = Build(2, 1, {clRed, clBlue}, {{Rect(0, 0, 2, 1), {0, 1}}});
        gif->PaletteModified = true;
        int changes = 0;
        gif->OnChange = [&](TObject*) { ++changes; };
        gif->OnProgress = [abort](TObject*, TProgressStage stage, uint8_t, bool, const TRect&, const std::string&) {
            if (stage != TProgressStage::psRunning) return;
            if (abort) throw EAbort("stop");
            throw EInvalidGraphic("broken");
        };
        TGIFSubImage* frame = gif->Images()[0];
        if (abort)
            EXPECT_EQ(frame->FrameBitmap(), nullptr);
        else
            EXPECT_THROW(frame->FrameBitmap(), EInvalidGraphic);
        EXPECT_EQ(changes, 1) << abort;
    }
}

TEST(GIFFrame, PaintsScaledAndTiled) {
    auto gif = Build(20, 10, {clRed, clBlue}, {{Rect(10, 0, 20, 10), {}}});
    TGIFSubImage* frame = gif->Images()[0];
    EXPECT_EQ(frame->ScaledRect(Rect(0, 0, 40, 20)), Rect(20, 0, 40, 20));

    TBitmap canvas;
    canvas.SetPixelFormat(TPixelFormat::pf24bit);
    canvas.SetSize(50, 25);
    canvas.Canvas().Brush.Color = clLime;
    canvas.Canvas().FillRect(Rect(0, 0, 50, 25));
    frame->PlaceFrame(0, 0, 2, 2);
    frame->RowPixels(0)[1] = 1;  // a blue pixel in a red frame
    frame->Paint(canvas.Canvas(), Rect(1, 1, 50, 25), false, true);
    // Tiles of 2 x 2 every 20 across and 10 down, from (1, 1).
    for (int y : {1, 11, 21})
        for (int x : {1, 21, 41}) {
            EXPECT_EQ(canvas.Pixel(x, y), clRed) << x << "," << y;
            EXPECT_EQ(canvas.Pixel(x + 1, y), clBlue) << x << "," << y;
            EXPECT_EQ(canvas.Pixel(x + 2, y), clLime) << x << "," << y;
        }
}

// The first of a frame's two control blocks gives it its transparency, and
// the painter its buffers and the frame's disposal.
TEST(GIFPainter, TheFirstControlBlockOfAFrameGivesItsDisposal) {
    auto gif = Build(4, 1, {clWhite, clRed, clBlue},
                     {{Rect(0, 0, 2, 1), {1, 1}, -1, 2, 1}, {Rect(3, 0, 4, 1), {2}, -1, 0, 1}});
    gif->Images()[0]->Extensions().Add(new TGIFGraphicControlExtension(gif->Images()[0]));  // leave in place
    gif->BackdropColor = clWhite;
    TBitmap target;
    target.SetPixelFormat(TPixelFormat::pf24bit);
    target.SetSize(4, 1);
    target.Canvas().Brush.Color = clLime;
    target.Canvas().FillRect(Rect(0, 0, 4, 1));
    std::vector<TColor> shown;
    gif->OnFramePainted = [&](TObject*) {
        for (int x = 0; x < 4; ++x) shown.push_back(target.Pixel(x, 0));
    };
    gif->StartPainter(nullptr, target.Canvas(), gpAnimate, Rect(0, 0, 4, 1));
    EXPECT_EQ(shown, (std::vector<TColor>{clRed, clRed, clLime, clLime, clWhite, clWhite, clLime, clBlue}));
}

TEST(GIFPicture, EmptyPictureEmptiesABitmapAndDrawsNothing) {
    TGIFPicture gif;
    TBitmap bitmap;
    bitmap.SetSize(4, 4);
    bitmap.Assign(&gif);
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_EQ(gif.FirstFrameBitmap(), nullptr);
    EXPECT_EQ(gif.Palette(), nullptr);
    TBitmap canvas;
    canvas.SetSize(2, 2);
    gif.Draw(canvas.Canvas(), Rect(0, 0, 2, 2));
}
