// The GIF codec's parts on their own: byte layouts of extensions and the
// header, colour tables, the DIB writer, colour lookups, frame rendering
// and painting.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gif/GIFPicture.h"

namespace {

using Bytes = std::vector<uint8_t>;

TMemoryStream StreamOf(const Bytes& bytes) {
    TMemoryStream s;
    s.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    s.SetPosition(0);
    return s;
}

Bytes BytesOf(TMemoryStream& s) { return Bytes(s.Memory(), s.Memory() + s.Size()); }

// A picture with one empty frame, for extensions and tables to belong to.
struct Picture {
    Picture() : frame(new TGIFSubImage(&gif)) { gif.Images().Add(frame); }
    TGIFPicture gif;
    TGIFSubImage* frame;

    // Reads one extension from bytes through the registry, as the frame
    // loop does, and appends it to the frame.
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

Bytes Written(TGIFItem& item) {
    TMemoryStream s;
    item.SaveToStream(s);
    return BytesOf(s);
}

Bytes Ascii(const std::string& text) { return Bytes(text.begin(), text.end()); }

}  // namespace

TEST(GIFExtensions, BlocksReadAsTheirFieldsAndWriteBackByteForByte) {
    Picture p;
    const Bytes gceBytes{0x21, 0xF9, 0x04, 0x09, 0x0A, 0x00, 0x03, 0x00};
    auto* gce = dynamic_cast<TGIFGraphicControlExtension*>(p.Read(gceBytes));
    ASSERT_NE(gce, nullptr);
    EXPECT_TRUE(gce->Transparent());
    EXPECT_TRUE(p.frame->Transparent());
    EXPECT_EQ(gce->Disposal(), 2);
    EXPECT_EQ(gce->Delay(), 10);
    EXPECT_EQ(gce->TransparentIndex(), 3);
    EXPECT_EQ(Written(*gce), gceBytes);

    Bytes loop{0x21, 0xFF, 0x0B};
    const Bytes id = Ascii("NETSCAPE2.0");
    loop.insert(loop.end(), id.begin(), id.end());
    loop.insert(loop.end(), {0x03, 0x01, 0x00, 0x00, 0x00});
    auto* ns = dynamic_cast<TGIFAppExtNSLoop*>(p.Read(loop));
    ASSERT_NE(ns, nullptr);
    EXPECT_EQ(ns->LoopCount, 0);
    EXPECT_EQ(Written(*ns), loop);

    Bytes unknown{0x21, 0xFF, 0x0B};
    const Bytes other = Ascii("QUILLARCAPP");
    unknown.insert(unknown.end(), other.begin(), other.end());
    unknown.insert(unknown.end(), {0x02, 'a', 'b', 0x01, 'c', 0x00});
    auto* app = dynamic_cast<TGIFUnknownAppExtension*>(p.Read(unknown));
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->Blocks().size(), 2u);
    EXPECT_EQ(Written(*app), unknown);

    // A block of size 10 lends its first sub-block's size byte to the
    // identifier and is written back with size 11.
    Bytes ten{0x21, 0xFF, 0x0A};
    const Bytes tenId = Ascii("ABCDEFGHIJ");
    ten.insert(ten.end(), tenId.begin(), tenId.end());
    ten.insert(ten.end(), {0x01, 'z', 0x00});
    auto* short_ = dynamic_cast<TGIFUnknownAppExtension*>(p.Read(ten));
    ASSERT_NE(short_, nullptr);
    EXPECT_EQ(short_->ApplicationIdentifier()[10], 0x01);
    Bytes tenBack{0x21, 0xFF, 0x0B};
    tenBack.insert(tenBack.end(), tenId.begin(), tenId.end());
    tenBack.insert(tenBack.end(), {0x01, 0x01, 'z', 0x00});
    EXPECT_EQ(Written(*short_), tenBack);

    // The frame keeps the extensions in file order, and "89a" with them.
    EXPECT_EQ(p.frame->Extensions().Count(), 4);
    EXPECT_EQ(p.frame->RequiredVersion(), gv89a);
    delete gce;  // leaves the frame's list, and the frame its transparency
    EXPECT_EQ(p.frame->Extensions().Count(), 3);
    EXPECT_FALSE(p.frame->Transparent());
    EXPECT_EQ(p.frame->GraphicControlExtension(), nullptr);
}

TEST(GIFExtensions, CommentLinesBecomeSubBlocks) {
    Picture p;
    TGIFCommentExtension comment(p.frame);
    comment.Text().Add("a");
    comment.Text().Add("");
    EXPECT_EQ(Written(comment), (Bytes{0x21, 0xFE, 0x01, 'a', 0x00}));
    comment.Text().Clear();
    comment.Text().Add(std::string(300, 'x'));
    const Bytes long_ = Written(comment);
    ASSERT_EQ(long_.size(), 2u + 1 + 255 + 1 + 45 + 1);
    EXPECT_EQ(long_[2], 255);
    EXPECT_EQ(long_[258], 45);
    auto* back = dynamic_cast<TGIFCommentExtension*>(p.Read(long_));
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(back->Text().Count(), 2);
    EXPECT_EQ(back->Text()[1], std::string(45, 'x'));
}

TEST(GIFExtensions, FirstGraphicControlBlockSuppliesTheFramesIndex) {
    Picture p;
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

TEST(GIFExtensions, UnknownLabelsAndShortApplicationBlocks) {
    Picture p;
    EXPECT_EQ(p.Read({0x21, 0x02, 0x01, 'x', 0x00}), nullptr);
    TMemoryStream s = StreamOf({0x21, 0xFF, 0x05, 'A', 'B', 'C', 'D', 'E', 0x00});
    s.SetPosition(1);
    const TGIFExtensionClass* cls = TGIFExtension::FindExtensionClass(s);
    ASSERT_EQ(cls, &TGIFApplicationExtension::StaticClass());
    s.SetPosition(0);
    std::unique_ptr<TGIFExtension> e(cls->create(p.frame));
    try {
        e->LoadFromStream(s);
        FAIL();
    } catch (const GIFException& x) {
        EXPECT_EQ(x.Message(), "Unsupported Application Extension block size");
    }
}

TEST(GIFHeader, WritesTheGlobalTableAndTheVersionItsFramesNeed) {
    TGIFPicture gif;
    TMemoryStream none;
    try {
        gif.SaveToStream(none);
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
    TMemoryStream out;
    gif.SaveToStream(out);
    const Bytes bytes = BytesOf(out);
    ASSERT_EQ(bytes.size(), 13u + 48 + 6 + 1);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 13),
              (Bytes{'G', 'I', 'F', '8', '9', 'a', 3, 0, 2, 0, 0x80 | 0x30 | 3, 0, 0}));
    EXPECT_EQ(bytes[13 + 3 * 15], 15);
    EXPECT_EQ(Bytes(bytes.end() - 7, bytes.end()), (Bytes{0x21, 0xFE, 2, 'h', 'i', 0, ';'}));
}

TEST(GIFColorMap, TablesPadGrowAndAnswerAsSpecified) {
    Picture p;
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
    while (map.Count() < 16) map.Append(clWhite);
    EXPECT_EQ(map.Capacity(), 16);
    map.Append(clWhite);
    EXPECT_EQ(map.Capacity(), 32);
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

TEST(GIFDIB, WriterLaysOutRowsAndHandsOverOnClose) {
    TBitmap bitmap;
    TDIBWriter eight(bitmap, TPixelFormat::pf8bit, 3, 2, nullptr);
    EXPECT_EQ(eight.RowAddress(0) - eight.RowAddress(1), 4);  // rows of 4 bytes, bottom-up
    EXPECT_EQ(eight.RowBytes(), 4);
    TDIBWriter wide(bitmap, TPixelFormat::pf24bit, 5, 1, nullptr);
    wide.RowAddress(0);
    EXPECT_EQ(wide.RowBytes(), 16);
    EXPECT_THROW(TDIBWriter(bitmap, TPixelFormat::pf8bit, 4, 0, nullptr), GIFException);
    EXPECT_THROW(TDIBWriter(bitmap, TPixelFormat::pf32bit, 4, 4, nullptr), GIFException);
    EXPECT_THROW(eight.RowAddress(2), EInvalidGraphicOperation);
    { TDIBWriter untouched(bitmap, TPixelFormat::pf8bit, 3, 2, nullptr); }
    EXPECT_TRUE(bitmap.Empty());

    std::vector<TPaletteEntry> sixteen(16, TPaletteEntry{10, 20, 30, 0});
    HPALETTE palette = CreatePalette(sixteen.data(), 16);
    TDIBWriter writer(bitmap, TPixelFormat::pf8bit, 3, 2, palette);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) writer.RowAddress(y)[x] = static_cast<uint8_t>(y * 3 + x + 14);
    writer.Close();
    DeleteObject(palette);
    ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(bitmap.ColorTable().size(), 256u);
    EXPECT_EQ(bitmap.Pixel(1, 0), RGB(10, 20, 30));  // index 15
    EXPECT_EQ(bitmap.Pixel(2, 0), clBlack);          // index 16, beyond the palette
    EXPECT_EQ(bitmap.ScanLine(1)[2], 19);
}

TEST(GIFColorLookup, KindsAnswerAsTheirPalettes) {
    uint8_t r, g, b;
    TNetscapeColorLookup cube;
    EXPECT_EQ(cube.NearestIndex(255, 255, 255, r, g, b), 215);
    EXPECT_EQ(cube.NearestIndex(47, 48, 0, r, g, b), 6);
    EXPECT_EQ((std::vector<int>{r, g, b}), (std::vector<int>{0, 51, 0}));
    EXPECT_EQ(cube.NearestIndex(25, 25, 25, r, g, b), 0);
    TGrayScaleLookup grey;
    EXPECT_EQ(grey.NearestIndex(255, 0, 0, r, g, b), 76);
    EXPECT_EQ(grey.NearestIndex(255, 255, 255, r, g, b), 255);
    TMonochromeLookup mono;
    EXPECT_EQ(mono.NearestIndex(127, 127, 127, r, g, b), 0);
    EXPECT_EQ(mono.NearestIndex(128, 127, 127, r, g, b), 1);
    EXPECT_EQ(r, 255);

    const TPaletteEntry bw[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    HPALETTE palette = CreatePalette(bw, 2);
    TFastColorLookup fast(palette);
    DeleteObject(palette);
    EXPECT_EQ(fast.Colors(), 2);
    EXPECT_EQ(fast.NearestIndex(100, 100, 100, r, g, b), 0);  // 300 against 465
    EXPECT_EQ(fast.NearestIndex(4, 4, 4, r, g, b), 0);        // black's own key
    EXPECT_EQ(fast.NearestIndex(200, 200, 200, r, g, b), 1);

    const TPaletteEntry greys[2] = {{0, 0, 0, 0}, {200, 200, 200, 0}};
    palette = CreatePalette(greys, 2);
    TFastColorLookup even(palette);
    DeleteObject(palette);
    EXPECT_EQ(even.NearestIndex(100, 100, 100, r, g, b), 0);  // 300 to both: the lower index
    // The first colour asked with a key answers for the whole key.
    EXPECT_EQ(even.NearestIndex(103, 100, 100, r, g, b), 0);
    EXPECT_EQ(even.NearestIndex(104, 100, 100, r, g, b), 1);  // another key: 296 against 304
}

TEST(GIFFrame, RendersMaskRowsAndReportsProgressEvery32Rows) {
    TGIFPicture gif;
    for (uint8_t i = 0; i < 4; ++i) gif.GlobalColorMap().Append(RGB(i * 60, 0, 0));
    auto* frame = new TGIFSubImage(&gif);
    gif.Images().Add(frame);
    frame->PlaceFrame(0, 0, 4, 1);
    const uint8_t pixels[4] = {0, 1, 2, 1};
    std::copy(pixels, pixels + 4, frame->RowPixels(0));
    auto* gce = new TGIFGraphicControlExtension(frame);
    frame->Extensions().Add(gce);
    gce->SetTransparentIndex(1);
    gce->SetTransparent(true);
    ASSERT_TRUE(frame->MaskReady());
    ASSERT_EQ(frame->Mask()->PixelFormat(), TPixelFormat::pf1bit);
    EXPECT_EQ(frame->Mask()->ScanLine(0)[0], 0x50);

    std::vector<int> percents;
    gif.OnProgress = [&](TObject*, TProgressStage stage, uint8_t percent, bool, const TRect&, const std::string& m) {
        EXPECT_EQ(m, "Rendering...");
        if (stage == TProgressStage::psRunning) percents.push_back(percent);
    };
    frame->PlaceFrame(0, 0, 3, 70);
    frame->FrameBitmap();
    EXPECT_EQ(percents, (std::vector<int>{0, 46, 91}));  // rows 0, 32, 64
}

TEST(GIFFrame, PaintsScaledAndTiled) {
    TGIFPicture gif;
    gif.GlobalColorMap().Append(clRed);
    gif.GlobalColorMap().Append(clBlue);
    gif.Header().SetWidth(20);
    gif.Header().SetHeight(10);
    auto* frame = new TGIFSubImage(&gif);
    gif.Images().Add(frame);
    frame->PlaceFrame(10, 0, 10, 10);
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
    EXPECT_TRUE(gif.Equals(gif));
    TGIFPicture other;
    EXPECT_FALSE(gif.Equals(other));
}
