// The GIF codec: a GIF file held as a tree of its parts (header, frames,
// extensions, colour tables), read from and written to streams, rendered
// into platform bitmaps and registered with the picture registry as "GIF".
//
// Fatal format errors raise GIFException with a fixed English message;
// recoverable problems go to the picture's OnGIFWarning with severity 1 and
// reading goes on. Long operations report through the graphic's progress
// notification.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/Classes.h"
#include "platform/core/Graphics.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/SysUtils.h"
#include "platform/core/Threads.h"

QUILLARC_EXCEPTION(GIFException, EInvalidGraphic)

// The file format version a part needs; the highest wins.
using TGIFVersion = uint8_t;
constexpr TGIFVersion gvUnknown = 0;
constexpr TGIFVersion gv87a = 1;
constexpr TGIFVersion gv89a = 2;

// Hostile files may claim any size up to 65535 x 65535. A frame or a
// logical screen holds at most kGIFMaxFramePixels pixels, and the frames of
// one picture together at most kGIFMaxPicturePixels; larger claims are
// refused with "Invalid image dimensions" before anything is allocated.
constexpr int64_t kGIFMaxFramePixels = int64_t(1) << 26;    // 67,108,864 (8192 x 8192)
constexpr int64_t kGIFMaxPicturePixels = int64_t(1) << 28;  // 268,435,456

class TGIFPicture;
class TGIFSubImage;
class TGIFHeader;
class TGIFExtension;
class TGIFGraphicControlExtension;
class TGIFPainter;
class TDIBReader;
class TIcon;
class TMetafile;

// ------------------------------------------------------------ shared helpers

[[noreturn]] void RaiseGIFError(const std::string& message);
// Reads count bytes; fewer raise "Premature end of data".
void ReadExact(TStream& stream, void* buffer, int64_t count);
// One byte, or -1 when the stream has none left.
int ReadOneByte(TStream& stream);
void WriteOneByte(TStream& stream, uint8_t value);
// Each line as data sub-blocks of at most 255 bytes (an empty line writes
// nothing), then one 0 byte.
void WriteSubBlockStrings(TStream& stream, const TStringList& lines);
// Each sub-block up to the zero-length one becomes one line.
void ReadSubBlockStrings(TStream& stream, TStringList& lines);
// A handle the platform could not create (nullptr) raises EOutOfResources.
template <class Handle>
Handle CheckGDIHandle(Handle handle) {
    if (!handle) throw EOutOfResources("Out of system resources");
    return handle;
}

// ------------------------------------------------------------ colour maps

// 0 for no colours, else the smallest b >= 1 with 2^b >= count.
int BitsForColorCount(int count);

// A GIF colour table: at most 256 red, green, blue triplets. Colours cross
// its interface as TColor values (0x00BBGGRR).
class TGIFColorMap : public TPersistent {
public:
    TGIFColorMap() = default;
    TGIFColorMap(const TGIFColorMap&) = delete;
    TGIFColorMap& operator=(const TGIFColorMap&) = delete;
    const char* ClassName() const override { return "TGIFColorMap"; }

    int Count() const { return count_; }
    int Capacity() const { return capacity_; }
    bool Sorted() const { return sorted_; }
    void SetSorted(bool value) { sorted_ = value; }
    // The triplets, Count() of them.
    const uint8_t* Data() const { return buffer_.get(); }

    // Frees the table; sends no change notice.
    void RemoveAll();
    void EnsureCapacity(int count);
    int TableBits() const { return BitsForColorCount(count_); }
    // Reads count triplets (count <= 256); the count is set only once all
    // were read. Sends no change notice.
    void ReadTable(TStream& stream, int count);
    // The triplets padded with black to 2^TableBits entries; nothing when empty.
    void WriteTable(TStream& stream) const;

    int FindColor(TColor color) const;
    int Append(TColor color);
    int AppendUnique(TColor color);
    void Remove(int index);
    // An index outside the table warns "Invalid color index" and gives
    // entry 0; an empty table raises "Color table is empty".
    TColor ColorAt(int index);
    // Entry index, or entry 0 when the index lies outside the table, without
    // a warning (for per-pixel reads). Black for an empty table.
    TColor ColorOrFirst(int index) const;

    // A new palette of the table (nullptr when empty), owned by the caller.
    HPALETTE MakePalette() const;
    void LoadPalette(HPALETTE palette);
    // count DIB colour entries (blue, green, red, reserved).
    void LoadQuads(const uint8_t* quads, int count);
    // The colour table of the bitmap behind a canvas.
    void LoadDCColors(HDC dc);
    void Assign(const TPersistent* source) override;

    static void ColorToTriplet(TColor color, uint8_t* triplet);
    static TColor TripletToColor(const uint8_t* triplet);

    // Use counts of the 256 possible indices, each with its index.
    struct THistogramEntry {
        int64_t count;
        int32_t index;
    };
    using THistogram = std::array<THistogramEntry, 256>;
    using TIndexMap = std::array<uint8_t, 256>;

    virtual void ReportWarning(int severity, const std::string& message) = 0;
    // Adds the pixels of the frames drawn with this table to the histogram;
    // a transparent index (and the screen's background index) counts as
    // used even where no pixel shows it.
    virtual void CountUse(THistogram& histogram) = 0;
    // Rewrites the pixels of the frames drawn with this table, and their
    // transparent indices, through map.
    virtual void RemapPixels(const TIndexMap& map) = 0;
    // Orders the table by use, most used first, rewriting the pixels, and
    // drops the colours nothing uses. False when there is nothing to sort.
    virtual bool SortByUse();
    // Tells the owner that the colours changed.
    virtual void ColorsChanged() = 0;

protected:
    std::unique_ptr<uint8_t[]> buffer_;
    int count_ = 0;
    int capacity_ = 0;
    bool sorted_ = false;
};

// The header's table.
class TGIFGlobalColorMap : public TGIFColorMap {
public:
    explicit TGIFGlobalColorMap(TGIFHeader* header) : header_(header) {}
    ~TGIFGlobalColorMap() override;
    const char* ClassName() const override { return "TGIFGlobalColorMap"; }
    TGIFHeader* Header() const { return header_; }
    void ReportWarning(int severity, const std::string& message) override;
    void CountUse(THistogram& histogram) override;
    void RemapPixels(const TIndexMap& map) override;
    bool SortByUse() override;
    void ColorsChanged() override;

private:
    TGIFHeader* header_;
};

// One frame's own table.
class TGIFLocalColorMap : public TGIFColorMap {
public:
    explicit TGIFLocalColorMap(TGIFSubImage* frame) : frame_(frame) {}
    ~TGIFLocalColorMap() override;
    const char* ClassName() const override { return "TGIFLocalColorMap"; }
    TGIFSubImage* Frame() const { return frame_; }
    void ReportWarning(int severity, const std::string& message) override;
    void CountUse(THistogram& histogram) override;
    void RemapPixels(const TIndexMap& map) override;
    void ColorsChanged() override;

private:
    TGIFSubImage* frame_;
};

// ------------------------------------------------------------ file parts

// One part of a GIF file, belonging to a picture (not owned).
class TGIFItem : public TPersistent {
public:
    explicit TGIFItem(TGIFPicture* owner) : owner_(owner) {}
    TGIFItem(const TGIFItem&) = delete;
    TGIFItem& operator=(const TGIFItem&) = delete;
    const char* ClassName() const override { return "TGIFItem"; }

    TGIFPicture* Image() const { return owner_; }
    virtual TGIFVersion RequiredVersion() const { return gv87a; }
    virtual void ReportWarning(int severity, const std::string& message);
    virtual void SaveToStream(TStream& stream) = 0;
    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToFile(const std::string& fileName);
    virtual void LoadFromFile(const std::string& fileName);

protected:
    TGIFPicture* owner_;
};

// An owning list of file parts.
class TGIFList : public TPersistent {
public:
    explicit TGIFList(TGIFPicture* owner) : owner_(owner) {}
    ~TGIFList() override;
    TGIFList(const TGIFList&) = delete;
    TGIFList& operator=(const TGIFList&) = delete;
    const char* ClassName() const override { return "TGIFList"; }

    TGIFPicture* Image() const { return owner_; }
    // An index outside the list raises EListError.
    TGIFItem* Items(int index) const { return static_cast<TGIFItem*>(list_.Items(index)); }
    int Count() const { return list_.Count(); }
    // Appends; the list takes ownership. Returns the index.
    int Add(TGIFItem* item) { return list_.Add(item); }
    void Insert(int index, TGIFItem* item) { list_.Insert(index, item); }
    void Delete(int index);       // removes and frees
    void Remove(TGIFItem* item);  // removes without freeing
    void Clear();                 // frees every item, first to last

    virtual void ReportWarning(int severity, const std::string& message);
    virtual void SaveToStream(TStream& stream);
    virtual void LoadFromStream(TStream& stream, TObject* parent) = 0;

protected:
    TGIFPicture* owner_;
    TList list_;
};

// The frames of a picture, in file order.
class TGIFImageList : public TGIFList {
public:
    using TGIFList::TGIFList;
    const char* ClassName() const override { return "TGIFImageList"; }
    TGIFSubImage* Items(int index) const;
    TGIFSubImage* operator[](int index) const { return Items(index); }
    void SaveToStream(TStream& stream) override;
    // Reads frames until the trailer byte, which it leaves unread; parent is
    // the picture.
    void LoadFromStream(TStream& stream, TObject* parent) override;
};

// The extensions standing before one frame's image.
class TGIFExtensionList : public TGIFList {
public:
    using TGIFList::TGIFList;
    const char* ClassName() const override { return "TGIFExtensionList"; }
    TGIFExtension* Items(int index) const;
    TGIFExtension* operator[](int index) const { return Items(index); }
    // parent is the frame the extensions belong to.
    void LoadFromStream(TStream& stream, TObject* parent) override;
};

// Signature, logical screen descriptor and global colour table.
class TGIFHeader : public TGIFItem {
public:
    explicit TGIFHeader(TGIFPicture* owner);
    ~TGIFHeader() override;
    const char* ClassName() const override { return "TGIFHeader"; }

    void Clear();
    void Assign(const TPersistent* source) override;
    void BuildPackedByte();
    void SaveToStream(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;
    TGIFVersion RequiredVersion() const override;

    // The seven descriptor bytes as they stand in the file: width, height
    // (little-endian 16-bit), packed byte, background index, aspect ratio.
    const std::array<uint8_t, 7>& Descriptor() const { return descriptor_; }
    uint16_t Width() const { return static_cast<uint16_t>(descriptor_[0] | (descriptor_[1] << 8)); }
    uint16_t Height() const { return static_cast<uint16_t>(descriptor_[2] | (descriptor_[3] << 8)); }
    void SetWidth(uint16_t value);
    void SetHeight(uint16_t value);
    uint8_t PackedByte() const { return descriptor_[4]; }
    uint8_t BackgroundIndex() const { return descriptor_[5]; }
    void SetBackgroundIndex(uint8_t value) { descriptor_[5] = value; }
    uint8_t AspectRatio() const { return descriptor_[6]; }
    void SetAspectRatio(uint8_t value) { descriptor_[6] = value; }
    TColor BackgroundColor() { return colorMap_->ColorAt(BackgroundIndex()); }
    int BitsPerPixel() const { return colorMap_->TableBits(); }
    int ColorResolution() const { return BitsPerPixel() - 1; }
    TGIFGlobalColorMap& ColorMap() { return *colorMap_; }
    const TGIFGlobalColorMap& ColorMap() const { return *colorMap_; }

private:
    std::array<uint8_t, 7> descriptor_{};
    std::unique_ptr<TGIFGlobalColorMap> colorMap_;
};

// The ";" that ends a file.
class TGIFTrailer : public TGIFItem {
public:
    using TGIFItem::TGIFItem;
    const char* ClassName() const override { return "TGIFTrailer"; }
    void SaveToStream(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;
};

// ------------------------------------------------------------ frames

// One frame: the extensions before an image, the image descriptor, an
// optional local colour table and the pixel indices (one byte per pixel,
// rows from the top). Renders itself into a bitmap with an optional
// transparency mask.
class TGIFSubImage : public TGIFItem {
public:
    explicit TGIFSubImage(TGIFPicture* owner);
    ~TGIFSubImage() override;
    const char* ClassName() const override { return "TGIFSubImage"; }

    // Position and size on the logical screen, from the descriptor.
    uint16_t Left() const { return Word(1); }
    uint16_t Top() const { return Word(3); }
    uint16_t Width() const { return Word(5); }
    uint16_t Height() const { return Word(7); }
    void SetLeft(int value) { PlaceFrame(value, Top(), Width(), Height()); }
    void SetTop(int value) { PlaceFrame(Left(), value, Width(), Height()); }
    void SetWidth(int value) { PlaceFrame(Left(), Top(), value, Height()); }
    void SetHeight(int value) { PlaceFrame(Left(), Top(), Width(), value); }
    void PlaceFrame(int left, int top, int width, int height);
    TRect FrameRect() const { return Rect(Left(), Top(), Left() + Width(), Top() + Height()); }
    const std::array<uint8_t, 10>& Descriptor() const { return descriptor_; }

    bool IsEmpty() const;
    bool IsInterlaced() const { return (descriptor_[9] & 0x40) != 0; }
    TGIFColorMap& EffectiveColorMap();
    TGIFLocalColorMap& ColorMap() { return *colorMap_; }
    TGIFExtensionList& Extensions() { return *extensions_; }
    int BitsPerPixel() const { return colorMap_->TableBits(); }
    int ColorResolution() const { return BitsPerPixel() - 1; }
    TGIFVersion RequiredVersion() const override;

    // Transparency, set by the graphic control extensions of the frame.
    bool Transparent() const { return transparent_; }
    void SetTransparentFlag(bool value) { transparent_ = value; }
    TGIFGraphicControlExtension* GraphicControlExtension() const { return graphicControl_; }
    void SetGraphicControlExtension(TGIFGraphicControlExtension* extension) { graphicControl_ = extension; }

    // Pixel storage.
    const uint8_t* Data() const { return pixels_.data(); }
    uint8_t* Data() { return pixels_.data(); }
    int64_t DataSize() const { return pixelSize_; }
    uint8_t PixelAt(int x, int y);
    uint8_t* RowPixels(int y);
    // width x height bytes, zero unless the caller is about to write them all.
    void AllocatePixels(bool zeroed = true);
    void ReleasePixels();
    void RequirePixels();

    // Derived bitmaps.
    TBitmap* CachedBitmap() const { return bitmap_.get(); }
    TBitmap* Mask() const { return mask_.get(); }
    void RecreateBitmap();
    void DropBitmap();
    void DropMask();
    bool MaskReady();
    void Clear();
    // The palette the frame renders with; the frame (or the bitmap, or the
    // picture) keeps ownership.
    HPALETTE GetPalette();
    // Takes ownership of palette.
    void SetPalette(HPALETTE palette);
    // The rendered frame, built on first demand; nullptr for an empty frame.
    TBitmap* FrameBitmap();
    // The frame rendered into bitmap as FrameBitmap renders it, without
    // keeping it; false (and bitmap empty) when the rendering was aborted.
    bool RenderTo(TBitmap& bitmap);

    // Painting onto a canvas: the frame's place on the logical screen mapped
    // into rect, or tiled at its own size.
    void Paint(TCanvas& canvas, const TRect& rect, bool transparent, bool tile);
    void PaintStretched(TCanvas& canvas, const TRect& rect, bool transparent, bool tile);
    TRect ScaledRect(const TRect& rect) const;

    void SaveToStream(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;
    // Fills the pixels from the image data the stream stands on (the LZW
    // minimum code size byte first).
    void DecodeFrameData(TStream& stream);
    // Writes the pixels as image data.
    void EncodeFrameData(TStream& stream);

    // From another frame: a copy. From a bitmap, an icon, a metafile, any
    // other graphic or a TPicture: the picture imported, reduced to at most
    // 256 colours by the picture's ReductionMethod, DitherKind and
    // ReductionBits where it holds more than 8 bits per pixel, with its
    // transparency (a transparent bitmap's mask, an icon's mask, what a
    // metafile leaves undrawn) as a transparent colour.
    void Assign(const TPersistent* source) override;
    // Crops a transparent frame to the pixels that show; one that shows
    // nothing becomes empty.
    void TrimTransparentEdges();
    // Makes the pixels that repeat what previous shows at the same place
    // transparent.
    void MergeWithPrevious(TGIFSubImage* previous);
    // Room for a transparent colour in the table the frame is drawn with.
    bool CanAddTransparentColor();

protected:
    // A TBitmap receives FrameBitmap.
    void AssignTo(TPersistent* dest) const override;

private:
    uint16_t Word(int offset) const {
        return static_cast<uint16_t>(descriptor_[static_cast<size_t>(offset)] |
                                     (descriptor_[static_cast<size_t>(offset) + 1] << 8));
    }
    void SetWord(int offset, int value);
    void RenderPlain(TBitmap& bitmap);
    void RenderDithered(TBitmap& bitmap);
    // The mask wanted for this rendering (clears need-mask), and its index.
    bool TakeMaskRequest(uint8_t& transparentIndex);
    int ChooseTransparentIndex();
    void AssignFrame(const TGIFSubImage& source);
    void AssignBitmap(const TBitmap& source);
    void AssignGraphic(const TGraphic& source);
    void ImportRows(TDIBReader& reader, TBitmap& bitmap);
    void ApplyTransparencyMask(const TBitmap& mask, int rows);
    void ApplyMaskHandle(const TBitmap* mask);
    void ApplyIconMask(const TIcon& icon);
    void ApplyMetafileMask(const TMetafile& metafile);
    void ReportConverting(TProgressStage stage, uint8_t percent, bool redrawNow);
    void ReportProgress(TProgressStage stage, uint8_t percent, bool redrawNow);
    void EndRendering(uint8_t percent);

    std::unique_ptr<TBitmap> bitmap_;
    std::unique_ptr<TBitmap> mask_;
    bool needMask_ = true;
    HPALETTE palette_ = nullptr;
    // From the bitmaps' pool: a large frame's pages come and go as a
    // bitmap's do.
    TPixelBuffer pixels_;
    int64_t pixelSize_ = 0;
    std::unique_ptr<TGIFLocalColorMap> colorMap_;
    std::array<uint8_t, 10> descriptor_{};
    std::unique_ptr<TGIFExtensionList> extensions_;
    bool transparent_ = false;
    TGIFGraphicControlExtension* graphicControl_ = nullptr;
};

// Transparent blit: where mask (a bitmap in the source's coordinates) has a
// set bit the destination stays, elsewhere srcRect of source is stretched
// into destRect. Always source-copy, whatever the canvas's copy mode.
void MaskedStretchBlt(TCanvas& dest, const TRect& destRect, const TBitmap& source, const TRect& srcRect,
                      const TBitmap& mask);

// ------------------------------------------------------------ extensions

// Class identity of an extension class: its label, how to create one for a
// frame, and how it picks a more specific class from the bytes after the
// label (RefineClass; nullptr keeps the class itself).
struct TGIFExtensionClass {
    const char* name;
    uint8_t label;
    TGIFExtension* (*create)(TGIFSubImage* frame);
    const TGIFExtensionClass* (*refine)(TStream& stream);
};

class TGIFExtension : public TGIFItem {
public:
    explicit TGIFExtension(TGIFSubImage* frame);
    // Leaves the frame's extension list.
    ~TGIFExtension() override;
    const char* ClassName() const override { return ClassType().name; }

    virtual const TGIFExtensionClass& ClassType() const = 0;
    uint8_t ExtensionLabel() const { return ClassType().label; }
    TGIFSubImage* Frame() const { return frame_; }
    // Leaves its frame's list for place index in another frame's.
    void MoveToFrame(TGIFSubImage& frame, int index);
    TGIFVersion RequiredVersion() const override { return gv89a; }
    // The two-byte head: "!" and the label.
    void SaveToStream(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;
    // With the stream on the label byte after a "!": the class to create, or
    // nullptr. The position is left where it was.
    static const TGIFExtensionClass* FindExtensionClass(TStream& stream);

protected:
    TGIFSubImage* frame_;
};

// Delay, disposal and transparency of a frame: six stored bytes (block
// size, packed byte, delay, transparent index, terminator).
class TGIFGraphicControlExtension : public TGIFExtension {
public:
    explicit TGIFGraphicControlExtension(TGIFSubImage* frame);
    ~TGIFGraphicControlExtension() override;
    static const TGIFExtensionClass& StaticClass();
    const TGIFExtensionClass& ClassType() const override { return StaticClass(); }
    void SaveToStream(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;

    bool Transparent() const { return (stored_[1] & 1) != 0; }
    void SetTransparent(bool value);
    uint8_t TransparentIndex() const { return stored_[4]; }
    void SetTransparentIndex(int value);
    uint16_t Delay() const { return static_cast<uint16_t>(stored_[2] | (stored_[3] << 8)); }
    void SetDelay(uint16_t value);
    bool UserInput() const { return (stored_[1] & 2) != 0; }
    uint8_t Disposal() const { return (stored_[1] >> 2) & 7; }
    void SetDisposal(uint8_t value);
    const std::array<uint8_t, 6>& Stored() const { return stored_; }

private:
    std::array<uint8_t, 6> stored_{4, 0, 0, 0, 0, 0};
};

// Plain text: 13 stored bytes (block size and the text grid) and the lines.
class TGIFTextExtension : public TGIFExtension {
public:
    explicit TGIFTextExtension(TGIFSubImage* frame);
    static const TGIFExtensionClass& StaticClass();
    const TGIFExtensionClass& ClassType() const override { return StaticClass(); }
    void SaveToStream(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;
    const std::array<uint8_t, 13>& Stored() const { return stored_; }
    TStringList& Text() { return text_; }

private:
    std::array<uint8_t, 13> stored_{12};
    TStringList text_;
};

class TGIFCommentExtension : public TGIFExtension {
public:
    using TGIFExtension::TGIFExtension;
    static const TGIFExtensionClass& StaticClass();
    const TGIFExtensionClass& ClassType() const override { return StaticClass(); }
    void SaveToStream(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;
    TStringList& Text() { return text_; }

private:
    TStringList text_;
};

// An application block: an 11-byte identifier (8-byte application name and
// 3-byte authentication code) and data that the subclasses read and write.
class TGIFApplicationExtension : public TGIFExtension {
public:
    using Identifier = std::array<uint8_t, 11>;
    using TGIFExtension::TGIFExtension;
    static const TGIFExtensionClass& StaticClass();
    const TGIFExtensionClass& ClassType() const override { return StaticClass(); }
    void SaveToStream(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;
    const Identifier& ApplicationIdentifier() const { return identifier_; }
    void SetApplicationIdentifier(const Identifier& identifier) { identifier_ = identifier; }
    // Abstract here (EAbstractError); the subclasses give them.
    virtual void SaveAppData(TStream& stream);
    virtual void LoadAppData(TStream& stream);

protected:
    Identifier identifier_{};

private:
    // The identifier block as read when its size was not 11 (10, or more
    // with bytes after the identifier). Such a block is read as an unknown
    // application's whatever its identifier; written with size 11, one
    // whose identifier a known application has would be read back as that
    // application's, whose data it need not hold, so it is written as read.
    uint8_t identifierSize_ = 11;
    std::vector<uint8_t> identifierExtra_;
};

// One data sub-block of an application block.
class TGIFBlock : public TObject {
public:
    explicit TGIFBlock(uint8_t size) : data_(size, 0) {}
    const char* ClassName() const override { return "TGIFBlock"; }
    uint8_t Size() const { return static_cast<uint8_t>(data_.size()); }
    const std::vector<uint8_t>& Data() const { return data_; }
    void SaveToStream(TStream& stream) const;
    void LoadFromStream(TStream& stream);

private:
    std::vector<uint8_t> data_;
};

// An application block no registry entry knows: kept as its sub-blocks.
class TGIFUnknownAppExtension : public TGIFApplicationExtension {
public:
    using TGIFApplicationExtension::TGIFApplicationExtension;
    static const TGIFExtensionClass& StaticClass();
    const TGIFExtensionClass& ClassType() const override { return StaticClass(); }
    void SaveAppData(TStream& stream) override;
    void LoadAppData(TStream& stream) override;
    const std::vector<std::unique_ptr<TGIFBlock>>& Blocks() const { return blocks_; }

private:
    std::vector<std::unique_ptr<TGIFBlock>> blocks_;
};

// The animation loop count ("NETSCAPE2.0" and "ANIMEXTS1.0").
class TGIFAppExtNSLoop : public TGIFApplicationExtension {
public:
    explicit TGIFAppExtNSLoop(TGIFSubImage* frame);
    static const TGIFExtensionClass& StaticClass();
    const TGIFExtensionClass& ClassType() const override { return StaticClass(); }
    void SaveAppData(TStream& stream) override;
    void LoadAppData(TStream& stream) override;

    uint16_t LoopCount = 0;
    uint32_t BufferSize = 0;
};

// The extension registries: label -> class, and application identifier ->
// class. Each is built with its stock entries on first use; a later entry
// wins over an earlier one.
class TExtensionList : public TObject {
public:
    struct Entry {
        const TGIFExtensionClass* extensionClass;
        uint8_t label;
    };
    void Add(uint8_t label, const TGIFExtensionClass& extensionClass) { entries_.push_back({&extensionClass, label}); }
    const TGIFExtensionClass* FindLabel(uint8_t label) const;
    const char* ClassName() const override { return "TExtensionList"; }

private:
    std::vector<Entry> entries_;
};

class TAppExtensionList : public TObject {
public:
    struct Entry {
        const TGIFExtensionClass* extensionClass;
        TGIFApplicationExtension::Identifier identifier;
    };
    void Add(const TGIFApplicationExtension::Identifier& identifier, const TGIFExtensionClass& extensionClass) {
        entries_.push_back({&extensionClass, identifier});
    }
    const TGIFExtensionClass* FindIdentifier(const TGIFApplicationExtension::Identifier& identifier) const;
    const char* ClassName() const override { return "TAppExtensionList"; }

private:
    std::vector<Entry> entries_;
};

TExtensionList& ExtensionRegistry();
TAppExtensionList& AppExtensionRegistry();
// Frees both registries (the next use builds them again).
void FreeExtensionRegistries();

// ------------------------------------------------------------ DIB rows

// Row access to a bitmap in a fixed pixel format.
class TDIB : public TObject {
public:
    TDIB(TBitmap& bitmap, TPixelFormat format) : bitmap_(&bitmap), format_(format) {}
    const char* ClassName() const override { return "TDIB"; }
    virtual uint8_t* RowAddress(int row) = 0;

protected:
    TBitmap* bitmap_;
    TPixelFormat format_;
};

// Converts the bitmap to the format in place and hands out its rows.
class TDIBReader : public TDIB {
public:
    TDIBReader(TBitmap& bitmap, TPixelFormat format);
    const char* ClassName() const override { return "TDIBReader"; }
    uint8_t* RowAddress(int row) override { return bitmap_->ScanLine(row); }
};

// Builds an 8-bit (with a palette) or 24-bit bitmap row by row, straight in
// the target bitmap's own rows: no copy of the picture is made. The bitmap
// ends as a BMP of those rows would load (an 8-bit one with a table of 256
// colours, the palette's followed by black), every row's padding zero.
// Close() ends the writing; a writer destroyed without Close() (an
// exception passing) leaves the rows never handed out zero, silently.
class TDIBWriter : public TDIB {
public:
    // Raises "Unsupported PixelFormat" for formats other than pf8bit and
    // pf24bit, "Invalid image dimensions" for a width or height of 0.
    TDIBWriter(TBitmap& bitmap, TPixelFormat format, int width, int height, HPALETTE palette);
    ~TDIBWriter() override;
    const char* ClassName() const override { return "TDIBWriter"; }
    // Allocates on first use. Rows outside 0..height-1 raise
    // EInvalidGraphicOperation "Scan line index out of range". The row's
    // padding comes zeroed; the caller writes its pixels.
    uint8_t* RowAddress(int row) override;
    // Instead of rows to write: the bitmap takes a share of pixels, a
    // block already laid out as its rows, with no padding to clear. False,
    // changing nothing, when the rows are laid out otherwise or rows were
    // handed out already.
    bool ShareBits(const TPixelBuffer& pixels);
    void Close();
    int64_t RowBytes() const { return rowBytes_; }

private:
    void PrepareBitmap();
    void AllocateBits();
    void ZeroRowsNotHandedOut();

    bool allocated_ = false;
    std::vector<bool> handedOut_;  // rows given to the caller
    int64_t rowBytes_ = 0;
    int64_t usedBytes_ = 0;  // of a row, before its padding
    HPALETTE palette_;
    int height_;
    int width_;
};

// ------------------------------------------------------------ colour lookups

// Which entry of a fixed palette stands for a colour, and that entry's own
// colour.
class TColorLookup : public TObject {
public:
    explicit TColorLookup(int colors) : colors_(colors) {}
    const char* ClassName() const override { return "TColorLookup"; }
    int Colors() const { return colors_; }
    virtual uint8_t NearestIndex(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                                 uint8_t& outBlue) = 0;

protected:
    int colors_;
};

// Any palette: a 15-bit colour cache over a linear search by the sum of
// absolute differences.
class TFastColorLookup final : public TColorLookup {
public:
    explicit TFastColorLookup(HPALETTE palette);
    const char* ClassName() const override { return "TFastColorLookup"; }
    uint8_t NearestIndex(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                         uint8_t& outBlue) override {
        const int key = (red >> 3) | ((green >> 3) << 5) | ((blue >> 3) << 10);
        int slot = cache_[static_cast<size_t>(key)];
        if (slot < 0) slot = Search(key, red, green, blue);
        const TPaletteEntry& e = entries_[static_cast<size_t>(slot)];
        outRed = e.peRed;
        outGreen = e.peGreen;
        outBlue = e.peBlue;
        return static_cast<uint8_t>(slot);
    }

private:
    // The entry nearest to the colour, kept as the key's answer.
    int Search(int key, uint8_t red, uint8_t green, uint8_t blue);

    std::array<TPaletteEntry, 256> entries_{};
    std::vector<int16_t> cache_;
};

// The 6 x 6 x 6 colour cube (entry 36r + 6g + b).
class TNetscapeColorLookup final : public TColorLookup {
public:
    explicit TNetscapeColorLookup(HPALETTE = nullptr) : TColorLookup(216) {}
    const char* ClassName() const override { return "TNetscapeColorLookup"; }
    uint8_t NearestIndex(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                         uint8_t& outBlue) override {
        // The level below, not the nearest: (c + 3) div 51.
        const int r = (red + 3) / 51, g = (green + 3) / 51, b = (blue + 3) / 51;
        outRed = static_cast<uint8_t>(r * 51);
        outGreen = static_cast<uint8_t>(g * 51);
        outBlue = static_cast<uint8_t>(b * 51);
        return static_cast<uint8_t>(b + 6 * g + 36 * r);
    }
};

// 256 greys.
class TGrayScaleLookup : public TColorLookup {
public:
    explicit TGrayScaleLookup(HPALETTE = nullptr) : TColorLookup(256) {}
    const char* ClassName() const override { return "TGrayScaleLookup"; }
    uint8_t NearestIndex(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                         uint8_t& outBlue) override;
};

// Black (0) and white (1).
class TMonochromeLookup : public TColorLookup {
public:
    explicit TMonochromeLookup(HPALETTE = nullptr) : TColorLookup(2) {}
    const char* ClassName() const override { return "TMonochromeLookup"; }
    uint8_t NearestIndex(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                         uint8_t& outBlue) override;
};

// ------------------------------------------------------------ the picture

using TGIFPaintFlags = uint16_t;
enum TGIFPaintFlag : TGIFPaintFlags {
    gpThreaded = 0x0001,        // painters run in their own thread
    gpTransparent = 0x0002,     // frames are drawn with their transparent colour left out
    gpAnimate = 0x0004,         // all frames are shown in turn (else only frame 0)
    gpLoop = 0x0008,            // the frame sequence is repeated
    gpLoopForever = 0x0010,     // repeat without end, whatever the file's loop count
    gpValidateCanvas = 0x0020,  // a painter stops when its target has gone
    gpDirectCanvas = 0x0040,    // paint straight onto the caller's canvas
    gpClearOnLoop = 0x0080,     // restore the background before every pass
    gpTile = 0x0100,            // tile the picture over the target rectangle
    gpDither = 0x0200,          // dither frames to the 216-colour cube
    gpAutoDither = 0x0400,      // dither only on displays of 8 bits or fewer
};

// Colour reduction for frames built from other graphics, and the ditherer
// it uses (the values of the file model's option bytes).
using TPaletteReduction = uint8_t;
using TDitherKind = uint8_t;
// 0 LZW, 1 run-length style.
using TGIFEncoding = uint8_t;

using TGIFWarning = std::function<void(TObject* sender, int severity, const std::string& message)>;

// Unit-level settings; a new picture copies the first seven.
extern TGIFPaintFlags DefaultPaintFlags;
extern TPaletteReduction DefaultPaletteReduction;
extern int32_t DefaultReductionBits;
extern TDitherKind DefaultDitherKind;
extern TGIFEncoding DefaultGIFEncoding;
extern TThreadPriority DefaultPainterPriority;
extern int32_t DefaultAnimationSpeed;
// True when the screen shows at most 8 bits per pixel; set by RegisterGIFGraphic.
extern bool AutoDitherApplies;
// Render each frame as soon as it is loaded.
extern bool RenderFramesOnLoad;
extern bool OptimizeOnFormStream;

// The platform graphic for GIF pictures.
class TGIFPicture : public TGraphic {
    QUILLARC_DECLARE_GRAPHIC(TGIFPicture)
public:
    TGIFPicture();
    ~TGIFPicture() override;
    TGIFPicture(const TGIFPicture&) = delete;
    TGIFPicture& operator=(const TGIFPicture&) = delete;

    // A picture of one frame, or without gpAnimate, paints frame 0 into
    // rect (its transparent colour left out under gpTransparent, tiled
    // under gpTile). Otherwise the animation plays: a painter keeps the
    // cached bitmap current (or, under gpDirectCanvas, paints on canvas
    // itself), and every draw shows the cached bitmap as it stands; OnChange
    // tells when it changed. Nested calls draw nothing.
    void Draw(TCanvas& canvas, const TRect& rect) override;
    bool Empty() const override { return frames_->Count() == 0; }
    // The logical screen; a screen dimension of 0 (some encoders write one)
    // is taken from frame 0's extent.
    int32_t Width() const override;
    int32_t Height() const override;
    // Refuses a size below some frame's extent, or above 65535.
    void SetWidth(int32_t value) override;
    void SetHeight(int32_t value) override;
    HPALETTE Palette() const override { return const_cast<TGIFPicture*>(this)->GetPalette(); }
    void SetPalette(HPALETTE palette) override;
    bool Equals(const TGraphic& other) const override { return &other == this; }
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
    // From another TGIFPicture: a copy of its file model and drawing options
    // (not its ReductionBits, Encoding or PlaybackSpeed), which ends without
    // a progress handler and without OnGIFWarning. From any other graphic:
    // that graphic imported as the one frame.
    void Assign(const TPersistent* source) override;
    // Appends a frame as it is, or any other graphic imported as a new
    // frame; returns its index. Anything else raises "Object type not
    // supported for operation".
    int Add(TPersistent* source);
    // Optimises the file model by the options (goCrop, goMerge, goCleanup,
    // goColorMap, goReduceColors; see below).
    void Streamline(uint8_t options, TPaletteReduction method, int bits, TDitherKind kind);
    // GIFClipboardFormat (a whole GIF file in global memory) or CF_BITMAP.
    void LoadFromClipboardFormat(uint32_t format, THandle data, HPALETTE palette) override;
    // The first frame's bitmap form in the out values; the whole GIF goes on
    // the clipboard under GIFClipboardFormat as well.
    void SaveToClipboardFormat(uint32_t& format, THandle& data, HPALETTE& palette) override;
    // Streamlines first when OptimizeOnFormStream is set.
    void WriteData(TStream& stream) override;

    // Forwards to OnGIFWarning.
    virtual void ReportWarning(TObject* sender, int severity, const std::string& message);

    TGIFHeader& Header() { return *header_; }
    TGIFImageList& Images() { return *frames_; }
    const TGIFImageList& Images() const { return *frames_; }
    TGIFGlobalColorMap& GlobalColorMap() { return header_->ColorMap(); }
    TGIFVersion RequiredVersion() const;
    int ColorResolution() const;
    int BitsPerPixel() const;
    TColor HeaderBackgroundColor() { return header_->BackgroundColor(); }
    bool DitherActive() const;

    // Frame 0 at logical-screen size; nullptr for an empty picture.
    TBitmap* FirstFrameBitmap();
    TBitmap& EnsureBitmap();
    void DropBitmap();
    void Clear();
    // The picture's palette (the cached bitmap's, else that of its colour
    // tables); the picture or the bitmap keeps ownership.
    HPALETTE GetPalette();
    // The palette of the colour tables alone: what frames without a table of
    // their own render with.
    HPALETTE TablePalette();
    // A painter for this picture on canvas and rect, registered in
    // Painters and given the paint events; nullptr (and *reference cleared)
    // for an empty picture or rectangle. A threaded painter comes back
    // suspended; a synchronous one plays to its end first (an exception
    // that ended it is raised here) and nullptr comes back.
    TGIFPainter* StartPainter(TGIFPainter** reference, TCanvas& canvas, TGIFPaintFlags flags, const TRect& rect);
    // Stops the painter serving Draw and waits until it has gone (running
    // the window thread's queued steps meanwhile); drops the cached bitmap.
    void StopDrawPainter();
    // The same for every painter of this picture, then drops the cached
    // bitmap. Every edit of the frames calls it first, so no painter reads
    // frames while they change. A synchronous painter further up the stack,
    // or one whose step is running, is told to stop and not waited for: it
    // touches nothing of the picture once told.
    void StopAllPainters();

    TGIFPaintFlags PaintFlags;
    TPaletteReduction ReductionMethod;
    int32_t ReductionBits;
    TDitherKind DitherKind;
    TGIFEncoding Encoding;
    TGIFWarning OnGIFWarning;
    TThreadPriority PainterPriority;
    int32_t PlaybackSpeed;
    TColor BackdropColor = clNone;
    TNotifyEvent OnPaintStart, OnPaintFrame, OnFramePainted, OnPaintLoop, OnPaintEnd;

private:
    // What a draw on the stack still needs after its picture is destroyed
    // by code the draw ran (a synchronous painter pumps the window loop):
    // kept by the picture and by every running Draw.
    struct TDrawState {
        TThreadList painters;
        TGIFPainter* drawPainter = nullptr;
        bool drawing = false;
        bool alive = true;
    };
    std::shared_ptr<TDrawState> drawState_ = std::make_shared<TDrawState>();

public:
    // Live painters, and the one serving Draw (the lock of Painters guards
    // it). Locked on the window thread only.
    TThreadList& Painters = drawState_->painters;
    TGIFPainter*& DrawPainter = drawState_->drawPainter;

    // Pixels the frames of this picture hold; a frame that would pass
    // kGIFMaxPicturePixels is refused.
    int64_t FramePixels() const { return framePixels_; }
    void ChargeFramePixels(int64_t before, int64_t after);
    // A frame read from a file: its pixels and the most its image data could
    // make. Frames whose data cannot make enough of them are refused with
    // "Premature end of data" before their pixels are allocated (see
    // ClaimBacked: the frames read so far count together, and the pixels
    // their data cannot make come to kGIFMaxFramePixels at the most).
    void ChargeLoadedFrame(int64_t pixels, int64_t backed);

protected:
    // A TBitmap receives FirstFrameBitmap (an empty picture empties it).
    void AssignTo(TPersistent* dest) const override;

private:
    // What FirstFrameBitmap holds, rendered into bitmap; frame 0's own
    // bitmap is kept for later paints only when asked.
    void RenderFirstFrame(TBitmap& bitmap, bool keepFrameBitmap);
    // Without gpTile the bitmap stretched into rect; with it, tiles of the
    // logical screen's size from rect's top-left corner.
    void DrawTiled(TCanvas& canvas, const TRect& rect, TBitmap& bitmap);

    bool paletteGuard_ = false;
    std::unique_ptr<TGIFImageList> frames_;
    std::unique_ptr<TGIFHeader> header_;
    HPALETTE globalPalette_ = nullptr;
    std::unique_ptr<TBitmap> cachedBitmap_;
    int64_t framePixels_ = 0;
    int64_t loadedPixels_ = 0, loadedBacked_ = 0;  // of the frames read since Clear
};

// Streamline's options.
enum TGIFOptimizeOption : uint8_t {
    goCrop = 1,          // transparent frames cropped; frames showing nothing dropped
    goMerge = 2,         // pixels that repeat the frame below become transparent
    goCleanup = 4,       // unused transparency, disposal and extensions removed
    goColorMap = 8,      // colour tables sorted by use, unused colours dropped
    goReduceColors = 16, // checks the reduction method only
};

// The clipboard format "GIF Image", registered by RegisterGIFGraphic.
extern uint32_t GIFClipboardFormat;

// Start-up and shut-down of the codec: the "GIF" entry of the picture
// registry. Called by the program, the decode tool and test fixtures.
void RegisterGIFGraphic();
void UnregisterGIFGraphic();
