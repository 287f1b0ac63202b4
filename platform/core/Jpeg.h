// The JPEG picture class on libjpeg's 6b interface. The picture is held
// decoded, as a 24-bit bitmap (blue, green, red), and encoded again on save.
#pragma once

#include <memory>

#include "Graphics.h"

class TJPEGImage : public TGraphic {
    QUILLARC_DECLARE_GRAPHIC(TJPEGImage)
public:
    TJPEGImage();
    ~TJPEGImage() override;
    TJPEGImage(const TJPEGImage&) = delete;
    TJPEGImage& operator=(const TJPEGImage&) = delete;

    void Draw(TCanvas& canvas, const TRect& rect) override;  // stretched
    bool Empty() const override { return bitmap_->Empty(); }
    int32_t Width() const override { return bitmap_->Width(); }
    int32_t Height() const override { return bitmap_->Height(); }
    // A JPEG picture has the size of its data: raises EInvalidGraphicOperation.
    void SetWidth(int32_t value) override;
    void SetHeight(int32_t value) override;

    // Decodes the rest of the stream. Grey and CMYK pictures come out in
    // colour; any libjpeg error raises EInvalidGraphic "JPEG error #<n>: ...".
    void LoadFromStream(TStream& stream) override;
    // Baseline (unless ProgressiveEncoding), floating-point DCT, at
    // CompressionQuality, in colour (unless Grayscale).
    void SaveToStream(TStream& stream) override;

    // From another JPEG picture, or from any graphic as a 24-bit copy.
    void Assign(const TPersistent* source) override;

    int CompressionQuality() const { return quality_; }
    void SetCompressionQuality(int value);  // clamped to 1..100
    bool ProgressiveEncoding() const { return progressive_; }
    void SetProgressiveEncoding(bool value) { progressive_ = value; }
    // Encode (and, where libjpeg can, decode) a single grey channel.
    bool Grayscale() const { return grayscale_; }
    void SetGrayscale(bool value) { grayscale_ = value; }

    // Decodes the rest of the stream as LoadFromStream does, straight into
    // bitmap at 32 bits per pixel with alpha 0: the bitmap a load, an
    // Assign and a change to 32 bits would give, without the 24-bit
    // picture and its copy. On failure the bitmap's pixels are undefined.
    static void ReadBitmap32(TStream& stream, TBitmap& bitmap);

    // The decoded picture, 24 bits per pixel.
    const TBitmap& Bitmap() const { return *bitmap_; }

protected:
    // A bitmap receives the decoded picture at 24 bits per pixel.
    void AssignTo(TPersistent* dest) const override;

private:
    std::unique_ptr<TBitmap> bitmap_;
    int quality_ = 90;
    bool progressive_ = false;
    bool grayscale_ = false;
};
