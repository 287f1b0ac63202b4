// The graphics core: colours, palettes, bitmaps with their pixel formats,
// canvases, the abstract graphic and the picture registry. Nothing here
// depends on a window system.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Classes.h"
#include "PixelBuffer.h"

// ------------------------------------------------------------ geometry

struct TPoint {
    int32_t X = 0, Y = 0;
};

// Right and bottom are exclusive.
struct TRect {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    int32_t Width() const { return Right - Left; }
    int32_t Height() const { return Bottom - Top; }
    bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    bool operator==(const TRect&) const = default;
};

inline TRect Rect(int32_t left, int32_t top, int32_t right, int32_t bottom) { return {left, top, right, bottom}; }
inline TRect Bounds(int32_t left, int32_t top, int32_t width, int32_t height) {
    return {left, top, left + width, top + height};
}
inline bool EqualRect(const TRect& a, const TRect& b) { return a == b; }
// Stores the intersection in dst and returns whether it is non-empty
// (an empty intersection is stored as 0, 0, 0, 0).
bool IntersectRect(TRect& dst, const TRect& a, const TRect& b);

// ------------------------------------------------------------ colours

// 0x00BBGGRR, red in the low byte. Values with the top bit set name a
// system colour (index in the low byte), resolved by ColorToRGB.
using TColor = int32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clMoneyGreen = 0xC0DCC0;
constexpr TColor clSkyBlue = 0xF0CAA6;
constexpr TColor clCream = 0xF0FBFF;
constexpr TColor clMedGray = 0xA4A0A0;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

constexpr TColor SystemColor(int index) { return static_cast<TColor>(0x80000000u | static_cast<uint32_t>(index)); }
constexpr TColor clScrollBar = SystemColor(0);
constexpr TColor clBackground = SystemColor(1);
constexpr TColor clActiveCaption = SystemColor(2);
constexpr TColor clInactiveCaption = SystemColor(3);
constexpr TColor clMenu = SystemColor(4);
constexpr TColor clWindow = SystemColor(5);
constexpr TColor clWindowFrame = SystemColor(6);
constexpr TColor clMenuText = SystemColor(7);
constexpr TColor clWindowText = SystemColor(8);
constexpr TColor clCaptionText = SystemColor(9);
constexpr TColor clActiveBorder = SystemColor(10);
constexpr TColor clInactiveBorder = SystemColor(11);
constexpr TColor clAppWorkSpace = SystemColor(12);
constexpr TColor clHighlight = SystemColor(13);
constexpr TColor clHighlightText = SystemColor(14);
constexpr TColor clBtnFace = SystemColor(15);
constexpr TColor clBtnShadow = SystemColor(16);
constexpr TColor clGrayText = SystemColor(17);
constexpr TColor clBtnText = SystemColor(18);
constexpr TColor clInactiveCaptionText = SystemColor(19);
constexpr TColor clBtnHighlight = SystemColor(20);
constexpr TColor clGradientActiveCaption = SystemColor(27);
constexpr TColor clGradientInactiveCaption = SystemColor(28);

// Resolves system colours through the platform's fixed table (window white,
// window text black, ...); other values are returned unchanged.
TColor ColorToRGB(TColor color);
constexpr uint8_t GetRValue(TColor c) { return static_cast<uint8_t>(c & 0xFF); }
constexpr uint8_t GetGValue(TColor c) { return static_cast<uint8_t>((c >> 8) & 0xFF); }
constexpr uint8_t GetBValue(TColor c) { return static_cast<uint8_t>((c >> 16) & 0xFF); }
constexpr TColor RGB(uint8_t r, uint8_t g, uint8_t b) { return r | (g << 8) | (b << 16); }

// ------------------------------------------------------------ palettes

struct TPaletteEntry {
    uint8_t peRed = 0, peGreen = 0, peBlue = 0, peFlags = 0;
    bool operator==(const TPaletteEntry&) const = default;
};
constexpr uint8_t PC_NOCOLLAPSE = 4;

// Stand-in for a logical palette handle. A palette that CreatePalette or
// CopyPalette returns belongs to the caller, who deletes it or hands it to
// a bitmap; a palette handed into a function is never deleted by it.
struct TPaletteObject;
using HPALETTE = TPaletteObject*;

// 1..256 entries, else nullptr.
HPALETTE CreatePalette(const TPaletteEntry* entries, int count);
HPALETTE CopyPalette(HPALETTE palette);
// Copies up to count entries from start; returns the number copied. With
// out == nullptr returns the palette's entry count.
int GetPaletteEntries(HPALETTE palette, int start, int count, TPaletteEntry* out);
int PaletteEntryCount(HPALETTE palette);
// Deletes a palette; null and stock palettes are ignored. Returns true when
// the handle was valid.
bool DeleteObject(HPALETTE palette);
// The stock default palette: the 20 static system colours (never deleted).
HPALETTE DefaultPalette();
// Fixed colour tables of the platform.
const std::array<TPaletteEntry, 20>& SystemPalette20();
const std::array<TPaletteEntry, 16>& SystemPalette16();
const std::array<TPaletteEntry, 256>& HalftonePalette256();

// ------------------------------------------------------------ graphic base

class TCanvas;
class TGraphic;

// Class identity for the picture registry and for class tests: one static
// descriptor per graphic class. The two class-level tests are optional: a
// class that can tell its own files from others fills them in (the raster
// readers do); for the others they stay null.
struct TGraphicClass {
    const char* name;
    const TGraphicClass* parent;
    std::unique_ptr<TGraphic> (*create)();
    // Whether the named file, or the stream at its position (which is kept),
    // holds this class's format.
    bool (*acceptsFile)(const std::string& fileName) = nullptr;
    bool (*acceptsStream)(TStream& stream) = nullptr;
    bool InheritsFrom(const TGraphicClass& other) const;
};

#define QUILLARC_DECLARE_GRAPHIC(Class)                                           \
public:                                                                           \
    static const TGraphicClass& StaticClass();                                    \
    const TGraphicClass& ClassType() const override { return StaticClass(); }

#define QUILLARC_DEFINE_GRAPHIC(Class, Parent)                                    \
    const TGraphicClass& Class::StaticClass() {                                   \
        static const TGraphicClass cls{#Class, &Parent::StaticClass(),            \
                                       []() -> std::unique_ptr<TGraphic> {        \
                                           return std::make_unique<Class>();      \
                                       },                                         \
                                       nullptr, nullptr};                         \
        return cls;                                                               \
    }

// Clipboard data: a bitmap (a TBitmap* under CF_BITMAP), a palette or a
// global memory block, by the format it is held under (Clipboard.h).
using THandle = void*;

enum class TProgressStage { psStarting, psRunning, psEnding };
using TProgressEvent = std::function<void(TObject* sender, TProgressStage stage, uint8_t percent,
                                          bool redrawNow, const TRect& rect, const std::string& msg)>;

class TGraphic : public TPersistent {
public:
    static const TGraphicClass& StaticClass();
    virtual const TGraphicClass& ClassType() const = 0;
    const char* ClassName() const override { return ClassType().name; }
    bool InheritsFrom(const TGraphicClass& cls) const { return ClassType().InheritsFrom(cls); }

    // Draws the graphic stretched into rect of the canvas.
    virtual void Draw(TCanvas& canvas, const TRect& rect) = 0;
    virtual bool Empty() const = 0;
    virtual int32_t Width() const = 0;
    virtual int32_t Height() const = 0;
    virtual void SetWidth(int32_t value) = 0;
    virtual void SetHeight(int32_t value) = 0;
    virtual HPALETTE Palette() const { return nullptr; }
    virtual void SetPalette(HPALETTE palette);  // default: deletes it (not kept)
    virtual bool Transparent() const { return transparent_; }
    virtual void SetTransparent(bool value);
    virtual bool Equals(const TGraphic& other) const;

    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToStream(TStream& stream) = 0;
    // Opens the file read-only (other writers denied) and calls LoadFromStream.
    virtual void LoadFromFile(const std::string& fileName);
    // Saves through a memory stream and a temporary file renamed into place.
    virtual void SaveToFile(const std::string& fileName);
    virtual void ReadData(TStream& stream) { LoadFromStream(stream); }
    virtual void WriteData(TStream& stream) { SaveToStream(stream); }
    // The graphic's clipboard form: format, data and palette come back new
    // and belong to the caller, who normally hands them to the clipboard.
    // Both raise EInvalidGraphic "Unsupported clipboard format" for a class
    // without a clipboard form, or data of a format it does not take.
    virtual void SaveToClipboardFormat(uint32_t& format, THandle& data, HPALETTE& palette);
    virtual void LoadFromClipboardFormat(uint32_t format, THandle data, HPALETTE palette);

    virtual void Changed(TObject* sender);
    virtual void Progress(TObject* sender, TProgressStage stage, uint8_t percent, bool redrawNow,
                          const TRect& rect, const std::string& msg);

    TNotifyEvent OnChange;
    TProgressEvent OnProgress;
    bool Modified = false;
    bool PaletteModified = false;

protected:
    bool transparent_ = false;
};

// ------------------------------------------------------------ bitmap

enum class TPixelFormat : uint8_t {
    pfDevice = 0,  // no pixel format chosen yet; stored as 32 bits per pixel
    pf1bit = 1,    // indices, most significant bit first
    pf4bit = 2,    // first pixel in the high nibble
    pf8bit = 3,
    pf15bit = 4,   // little-endian 0RRRRRGGGGGBBBBB
    pf16bit = 5,   // little-endian RRRRRGGGGGGBBBBB
    pf24bit = 6,   // blue, green, red
    pf32bit = 7,   // blue, green, red, alpha
    pfCustom = 8,
};
int BitsPerPixel(TPixelFormat format);  // pfDevice and pfCustom: 32

enum class TTransparentMode { tmAuto, tmFixed };
// Every bitmap here is device-independent.
enum class TBitmapHandleType { bmDIB, bmDDB };

// Largest bitmap the core creates; larger requests raise EOutOfMemory
// before anything is allocated.
constexpr int64_t kMaxBitmapPixels = int64_t(1) << 28;  // 268 million pixels
constexpr int32_t kMaxBitmapSide = 1 << 16;

// Data that ends early leaves the rest of a picture as background: fine for
// a picture cut short, but it may not be what makes a small file a large
// picture. Of `claimed` pixels, those the data cannot stand for (at most
// `backed`) may come to three times those it can, beyond the first 1 Mi.
constexpr bool ClaimBacked(int64_t claimed, int64_t backed) {
    return backed >= claimed || claimed - backed <= 3 * backed + (int64_t(1) << 20);
}

// A device-independent bitmap held in memory, rows top-down, each row
// padded to a multiple of 4 bytes.
class TBitmap : public TGraphic {
    QUILLARC_DECLARE_GRAPHIC(TBitmap)
public:
    TBitmap();
    ~TBitmap() override;
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    void Draw(TCanvas& canvas, const TRect& rect) override;
    bool Empty() const override { return width_ == 0 || height_ == 0; }
    int32_t Width() const override { return width_; }
    int32_t Height() const override { return height_; }
    // Size changes keep the overlapping pixels, the format and the palette;
    // new pixels are zero.
    void SetWidth(int32_t value) override;
    void SetHeight(int32_t value) override;
    void SetSize(int32_t width, int32_t height);
    // A new image of the given size and format whose every pixel the caller
    // is about to write: the old pixels go, and the new ones start
    // undefined (no zero fill). An indexed format keeps its colour table.
    void NewImage(int32_t width, int32_t height, TPixelFormat format);
    // As NewImage, with a share of `pixels` for the image instead of a new
    // block: pixels already laid out as the bitmap's rows (RowBytesFor the
    // width, times the height, bytes). Neither owner sees the other's later
    // writes: the first to write takes a copy. False, changing nothing,
    // when the block's size is not the image's.
    bool NewSharedImage(int32_t width, int32_t height, TPixelFormat format, const TPixelBuffer& pixels);
    // The bytes of a row of the given width and format, padding included.
    static int64_t RowBytesFor(int64_t width, TPixelFormat format);

    TPixelFormat PixelFormat() const { return format_; }
    // Converts the pixels in place (24 to 32 bits leaves alpha 0; indexed
    // formats keep indices when the new format can hold them, else take the
    // nearest palette colour; conversions to indexed formats map colours to
    // the nearest palette entry). The palette of an indexed target is the
    // bitmap's own when it fits (also one set while the format had none),
    // else the default: black and white, SystemPalette16 or
    // HalftonePalette256. 15 and 16 bits widen each channel v of max 31
    // (63) to round(v x 255 / max) and narrow by truncation, so
    // 15/16 -> 24 -> 15/16 is exact.
    void SetPixelFormat(TPixelFormat format);

    // Row 0 is the top row. Rows outside 0..Height-1 raise
    // EInvalidGraphicOperation "Scan line index out of range".
    uint8_t* ScanLine(int32_t row);
    const uint8_t* ScanLine(int32_t row) const;
    int32_t RowBytes() const { return stride_; }  // distance between rows

    // The bitmap's own palette handle (nullptr for formats without a colour
    // table); the bitmap keeps ownership.
    HPALETTE Palette() const override;
    // Takes ownership of palette; its entries become the colour table.
    void SetPalette(HPALETTE palette) override;
    // The colour table of the indexed formats (2, 16 or 256 entries or fewer).
    const std::vector<TPaletteEntry>& ColorTable() const { return colors_; }
    void SetColorTable(const std::vector<TPaletteEntry>& colors);

    TCanvas& Canvas();
    // Empties the bitmap and forgets its pixel format (reads back as pfDevice).
    void ReleaseImage();
    // Drops the pixels of a bitmap, keeping format and palette.
    void FreeImage();

    // From a bitmap: a copy. From nullptr: empty (as ReleaseImage). From
    // another graphic: its AssignTo, or, when that refuses, the graphic
    // drawn onto a zeroed 32-bit bitmap of its size.
    void Assign(const TPersistent* source) override;
    // Takes other's picture as Assign would copy it, without a copy: its
    // pixels, size, format, colour table and transparency; other is left
    // empty (as ReleaseImage leaves it).
    void TakeOver(TBitmap& other);
    // As Assign from a bitmap, without copying the pixels now: both bitmaps
    // read the same block until either is written (ScanLine for writing,
    // SetPixel, drawing, a size or format change), which copies it then.
    void AssignShared(const TBitmap& source);
    // A BMP file; on any failure (EInvalidGraphic) the bitmap is unchanged.
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;    // BMP file in the current format
    bool Transparent() const override { return transparent_; }
    TColor TransparentColor() const;  // tmAuto: colour of the bottom-left pixel
    void SetTransparentColor(TColor color);
    TTransparentMode TransparentMode() const { return transparentMode_; }
    void SetTransparentMode(TTransparentMode mode) { transparentMode_ = mode; }
    // Pixel colour of any format as 0x00BBGGRR (alpha ignored); -1 outside
    // the bitmap. SetPixel writes like ScanLine does: alpha 0, the nearest
    // table entry for indexed formats, nothing outside, no OnChange.
    TColor Pixel(int32_t x, int32_t y) const;
    void SetPixel(int32_t x, int32_t y, TColor color);
    TBitmapHandleType HandleType() const { return TBitmapHandleType::bmDIB; }
    // A 1-bit bitmap of this one's size whose set bits (index 1) mark the
    // pixels of TransparentColor; nullptr for an empty bitmap. The bitmap
    // keeps it until the next call.
    const TBitmap* MaskHandle() const;
    // CF_BITMAP: a copy of the bitmap, and a copy of its palette (none for
    // formats without a colour table).
    void SaveToClipboardFormat(uint32_t& format, THandle& data, HPALETTE& palette) override;
    void LoadFromClipboardFormat(uint32_t format, THandle data, HPALETTE palette) override;

protected:
    void AssignTo(TPersistent* dest) const override;
    void Reallocate(int32_t width, int32_t height, TPixelFormat format, bool keepPixels);
    // Moves the pixels, size, format and colour table of other into this.
    void TakeImage(TBitmap& other);
    // Assign from a bitmap, converted on the way to format (a 32-bit word
    // format) when src holds 24 or 32 bits per pixel; false, changing
    // nothing, for any other source format.
    bool AssignConverted(const TBitmap& src, TPixelFormat format);
    // Drops the pixels and takes an unfilled block of bytes in their place.
    void ReplaceBlock(int64_t bytes);
    // The size and format of a new image whose block is already in place; an
    // indexed format without a colour table takes its default one.
    void ShapeNewImage(int32_t width, int32_t height, int32_t stride, TPixelFormat format);

    int32_t width_ = 0, height_ = 0, stride_ = 0;
    TPixelFormat format_ = TPixelFormat::pfDevice;
    TPixelBuffer pixels_;
    std::vector<TPaletteEntry> colors_;
    mutable HPALETTE palette_ = nullptr;
    mutable bool paletteStale_ = true;
    std::unique_ptr<TCanvas> canvas_;
    TColor transparentColor_ = clDefault;
    TTransparentMode transparentMode_ = TTransparentMode::tmAuto;
    mutable std::unique_ptr<TBitmap> mask_;
};

// A 1-bit bitmap (index 0 black, 1 white) from rows padded to 16 bits, the
// most significant bit leftmost; bits holds ((width + 15) / 16) * 2 * height
// bytes, or is nullptr for an all-black bitmap.
std::unique_ptr<TBitmap> CreateMonochromeBitmap(int32_t width, int32_t height, const uint8_t* bits);
// Colour depth of the screen the pictures are shown on: always true colour.
constexpr int kScreenBitsPerPixel = 32;

// ------------------------------------------------------------ canvas

using HDC = TCanvas*;

enum TCopyMode : uint32_t {
    cmBlackness = 0x00000042,
    cmDstInvert = 0x00550009,
    cmMergeCopy = 0x00C000CA,
    cmMergePaint = 0x00BB0226,
    cmNotSrcCopy = 0x00330008,
    cmNotSrcErase = 0x001100A6,
    cmPatCopy = 0x00F00021,
    cmPatInvert = 0x005A0049,
    cmPatPaint = 0x00FB0A09,
    cmSrcAnd = 0x008800C6,
    cmSrcCopy = 0x00CC0020,
    cmSrcErase = 0x00440328,
    cmSrcInvert = 0x00660046,
    cmSrcPaint = 0x00EE0086,
    cmWhiteness = 0x00FF0062,
};

struct TBrush {
    TColor Color = clWhite;
};

// A drawing surface. The canvas of a bitmap draws into its pixels; a
// metafile canvas records what is drawn. Drawing outside the surface is
// clipped. Every drawing operation fires OnChange.
class TCanvas : public TPersistent {
public:
    explicit TCanvas(TBitmap* target);
    ~TCanvas() override;
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;
    const char* ClassName() const override { return "TCanvas"; }

    virtual TRect ClipRect() const;
    virtual void Draw(int32_t x, int32_t y, TGraphic& graphic);
    virtual void StretchDraw(const TRect& rect, TGraphic& graphic);
    // With Brush.Color; 32-bit pixels get alpha 0, as from any blit.
    virtual void FillRect(const TRect& rect);
    virtual void CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect);
    // Stretches srcRect of source into destRect (nearest neighbour) with
    // CopyMode. Where mask (a bitmap of srcRect's size space, any format) has
    // a non-black pixel the destination is kept.
    virtual void StretchBlt(const TRect& destRect, const TBitmap& source, const TRect& srcRect,
                            const TBitmap* mask = nullptr);
    // Each colour byte c inside rect becomes 255 - c (alpha untouched).
    virtual void InvertRect(const TRect& rect);

    TColor Pixel(int32_t x, int32_t y) const;
    void SetPixel(int32_t x, int32_t y, TColor color);
    void Lock() {}
    void Unlock() {}
    HDC Handle() { return this; }
    TBitmap* Target() const { return target_; }
    virtual void Changed();

    TBrush Brush;
    TCopyMode CopyMode = cmSrcCopy;
    TNotifyEvent OnChange;

protected:
    TBitmap* target_;
    int changeDepth_ = 0;  // > 0 while Draw or StretchDraw runs a graphic's Draw
};

// The platform call: inverts the colour bytes of rect on the canvas.
void InvertRect(HDC dc, const TRect& rect);

// Every canvas is listed from its construction to its destruction, so code
// that kept a handle can ask whether it still stands for a canvas.
constexpr uint32_t OBJ_DC = 3;
// OBJ_DC while dc is a live canvas, else 0.
uint32_t GetObjectType(HDC dc);
// A number no other canvas of the run gets, or 0 when dc is not a live
// canvas: tells a canvas apart from a later one at the same address.
uint64_t LiveCanvasSerial(HDC dc);

// ------------------------------------------------------------ picture registry

struct TFileFormat {
    std::string extension;  // without the dot, lower case
    std::string description;
    const TGraphicClass* graphicClass;
};

class TPicture : public TPersistent {
public:
    TPicture();
    ~TPicture() override;
    const char* ClassName() const override { return "TPicture"; }

    TGraphic* Graphic() const { return graphic_.get(); }
    // Takes a copy of graphic (a new object of its class, then Assign);
    // nullptr empties the picture.
    void SetGraphic(const TGraphic* graphic);
    // The graphic as a bitmap; replaces a graphic of another class by an
    // empty bitmap first.
    TBitmap& Bitmap();
    int32_t Width() const;
    int32_t Height() const;

    // Picks the class by the extension (case ignored); an unknown extension
    // raises EInvalidGraphic "Unknown picture file extension (.<ext>)".
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);
    // A graphic of the class registered for the clipboard format loads the
    // data; an unregistered format raises EInvalidGraphic "Unsupported
    // clipboard format".
    void LoadFromClipboardFormat(uint32_t format, THandle data, HPALETTE palette);
    void Assign(const TPersistent* source) override;

    static void RegisterFileFormat(const std::string& extension, const std::string& description,
                                   const TGraphicClass& graphicClass);
    static void RegisterClipboardFormat(uint32_t format, const TGraphicClass& graphicClass);
    // Removes every extension and clipboard format of the class.
    static void UnregisterGraphicClass(const TGraphicClass& graphicClass);
    static const TGraphicClass* ClassForExtension(const std::string& extension);
    static std::vector<TFileFormat> FileFormats();
    // The whole registry (file and clipboard formats) as it stands, and a
    // way back to it: tests that register or unregister classes restore it,
    // so no test depends on the order tests run in.
    struct TRegistryState {
        std::vector<TFileFormat> formats;
        std::vector<std::pair<uint32_t, const TGraphicClass*>> clipboard;
    };
    static TRegistryState SaveRegistry();
    static void RestoreRegistry(const TRegistryState& state);
    static const TGraphicClass* ClassForClipboardFormat(uint32_t format);
    // "All (*.a;*.b)|*.a;*.b|Desc (*.a)|*.a|..." over classes inheriting from base.
    static std::string GraphicFilter(const TGraphicClass& base);

    TNotifyEvent OnChange;
    // The graphic's progress reports (a load's rows, for one), passed on;
    // one that raises ends the work that reported.
    TProgressEvent OnProgress;

private:
    void Changed();
    // What the picture's graphic reports to it.
    TProgressEvent ProgressRelay();
    std::unique_ptr<TGraphic> graphic_;
};
