// Metafiles: recorded drawing. TMetafileCanvas records bitmaps drawn on it
// as an enhanced metafile; TMetafile saves that, and loads enhanced and
// Windows metafiles (placeable or plain), playing their bitmap records.
#pragma once

#include <memory>
#include <vector>

#include "Graphics.h"

// The reference screen metafiles are recorded and measured against.
constexpr int32_t kMetafilePixelsPerInch = 96;

// Largest picture a metafile may declare (the loader draws it into a
// 32-bit bitmap of that size).
constexpr int64_t kMaxMetafilePixels = int64_t(1) << 26;

// The pixels one drawing of a metafile may write: this many times the
// pixels of its rectangle on the canvas, plus this many per byte of the
// file. Loading refuses a metafile whose records would write more at its
// own size.
constexpr uint64_t kMetafileDrawFrames = 4;
constexpr uint64_t kMetafileDrawPixelsPerByte = 1024;

class TMetafile : public TGraphic {
    QUILLARC_DECLARE_GRAPHIC(TMetafile)
public:
    TMetafile();
    ~TMetafile() override;
    TMetafile(const TMetafile&) = delete;
    TMetafile& operator=(const TMetafile&) = delete;

    // Plays the records with the picture's frame mapped onto rect. Places
    // where no record draws keep what the canvas had.
    void Draw(TCanvas& canvas, const TRect& rect) override;
    bool Empty() const override;
    int32_t Width() const override { return width_; }  // pixels at 96 per inch
    int32_t Height() const override { return height_; }
    void SetWidth(int32_t value) override;
    void SetHeight(int32_t value) override;
    // The size in 0.01 mm.
    int32_t MMWidth() const;
    int32_t MMHeight() const;
    // True for an enhanced metafile (recorded here or loaded), false for a
    // loaded Windows metafile.
    bool Enhanced() const { return enhanced_; }

    // Reads an enhanced metafile, a placeable Windows metafile or a plain
    // Windows metafile from the stream. Raises EInvalidGraphic "Metafile is
    // not valid..." for malformed ones.
    void LoadFromStream(TStream& stream) override;
    // Writes the metafile as recorded or loaded. An empty metafile raises
    // EInvalidGraphic.
    void SaveToStream(TStream& stream) override;

    void Assign(const TPersistent* source) override;

    struct Op;  // one playable record

protected:
    // A bitmap becomes 32 bits per pixel, the metafile's size, with the
    // records played onto white.
    void AssignTo(TPersistent* dest) const override;

private:
    friend class TMetafileCanvas;
    void Clear();
    // recorded: a recording of this program's, not checked for how much it draws.
    void LoadEnhanced(std::vector<uint8_t> data, bool recorded = false);
    void LoadWindows(std::vector<uint8_t> data, size_t start, bool placeable);

    std::vector<uint8_t> data_;   // the file as recorded or loaded
    std::vector<std::shared_ptr<const Op>> ops_;
    bool enhanced_ = true;
    int32_t width_ = 0, height_ = 0;
    // The picture's frame in the records' device (EMF) or logical (WMF)
    // coordinates; Draw maps it onto its rectangle.
    long double frameLeft_ = 0, frameTop_ = 0, frameWidth_ = 0, frameHeight_ = 0;
};

// Records what is drawn on it into its metafile as an enhanced metafile of
// bitmap records; destroying the canvas completes the recording, which then
// replaces the metafile's content. Without a reference device the screen
// (96 pixels per inch) is the reference.
class TMetafileCanvas : public TCanvas {
public:
    TMetafileCanvas(TMetafile* metafile, HDC referenceDevice = nullptr);
    ~TMetafileCanvas() override;
    TMetafileCanvas(const TMetafileCanvas&) = delete;
    TMetafileCanvas& operator=(const TMetafileCanvas&) = delete;
    const char* ClassName() const override { return "TMetafileCanvas"; }

    TRect ClipRect() const override;  // the metafile's size
    void Draw(int32_t x, int32_t y, TGraphic& graphic) override;
    void StretchDraw(const TRect& rect, TGraphic& graphic) override;
    void FillRect(const TRect& rect) override;  // recorded as a stretched colour
    void CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect) override;
    // Masked blits are not recorded: raises EInvalidGraphicOperation.
    void StretchBlt(const TRect& destRect, const TBitmap& source, const TRect& srcRect,
                    const TBitmap* mask = nullptr) override;
    void InvertRect(const TRect& rect) override;

private:
    void RecordBitmap(const TRect& dest, const TBitmap& source, const TRect& srcRect);
    void Include(const TRect& rect);

    TMetafile* metafile_;
    std::vector<uint8_t> records_;
    uint32_t recordCount_ = 0;
    TRect bounds_;
    bool drawn_ = false;
};
