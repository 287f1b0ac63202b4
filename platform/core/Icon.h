// The icon picture class: .ico files holding one or more images, each a
// device-independent bitmap with its AND mask. The image shown is the one
// the desktop would pick for a large (32 x 32) icon.
#pragma once

#include <memory>
#include <vector>

#include "Graphics.h"

// Size of the system's large icon, the size the loader prefers.
constexpr int32_t kLargeIconSize = 32;

class TIcon : public TGraphic {
    QUILLARC_DECLARE_GRAPHIC(TIcon)
public:
    TIcon();
    ~TIcon() override;
    TIcon(const TIcon&) = delete;
    TIcon& operator=(const TIcon&) = delete;

    // Draws the chosen image stretched into rect: where its mask is set the
    // destination stays (XOR-ed with the image, as the desktop draws icons);
    // an image with an alpha channel is blended by it instead.
    void Draw(TCanvas& canvas, const TRect& rect) override;
    bool Empty() const override { return color_->Empty(); }
    int32_t Width() const override { return color_->Width(); }
    int32_t Height() const override { return color_->Height(); }
    // An icon has the size of its image: raises EInvalidGraphicOperation.
    void SetWidth(int32_t value) override;
    void SetHeight(int32_t value) override;

    // Reads an .ico file from the rest of the stream. Raises EInvalidGraphic
    // "Icon image is not valid..." for anything malformed.
    void LoadFromStream(TStream& stream) override;
    // Writes the file as it was loaded (all of its images).
    void SaveToStream(TStream& stream) override;

    void Assign(const TPersistent* source) override;

    // The chosen image: 32 bits per pixel, blue, green, red and alpha (255
    // where the mask is clear, 0 where set, unless the file has alpha).
    const TBitmap& ColorBitmap() const { return *color_; }
    // Its AND mask, 1 bit per pixel, a set bit where the destination shows.
    const TBitmap& MaskBitmap() const { return *mask_; }
    // True when the chosen image blends by its own alpha channel.
    bool HasAlpha() const { return hasAlpha_; }
    // The image's own bits when it has one bit per pixel (a monochrome
    // icon), else nullptr.
    const TBitmap* MonochromeBits() const { return monochrome_.get(); }

protected:
    // A bitmap becomes 32 bits per pixel, the icon's size, with the icon
    // drawn on black (alpha 0 where transparent).
    void AssignTo(TPersistent* dest) const override;

private:
    std::vector<uint8_t> data_;  // the whole file, for SaveToStream
    std::unique_ptr<TBitmap> color_;
    std::unique_ptr<TBitmap> mask_;
    std::unique_ptr<TBitmap> monochrome_;
    bool hasAlpha_ = false;
};

// An icon's mask and colour bitmaps, as the desktop hands them out; they
// belong to the info and go with it. A monochrome icon has no colour
// bitmap, and its mask is twice the icon's height: the AND mask over the
// image's own bits. False for an empty icon.
struct TIconInfo {
    bool fIcon = true;
    std::unique_ptr<TBitmap> hbmMask, hbmColor;
};
bool GetIconInfo(const TIcon& icon, TIconInfo& info);
