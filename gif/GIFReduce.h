// Colour reduction for frames built from true-colour pictures: the
// ditherers, the octree quantiser, the fixed palettes and the reduction
// that ties them together.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "gif/GIFPicture.h"

// ------------------------------------------------------------ dithering

// Turns true-colour pixels into palette indices one at a time, in a
// serpentine scan: row 0 left to right, row 1 right to left, and so on. The
// caller reads the pixel at Column(), calls DitherPixel (which moves the
// column on) while the column stays inside the row, then EndRow.
class TDitherEngine : public TObject {
public:
    TDitherEngine(int width, TColorLookup& lookup)
        : lookup_(lookup),
          fast_(dynamic_cast<TFastColorLookup*>(&lookup)),
          cube_(dynamic_cast<TNetscapeColorLookup*>(&lookup)),
          width_(width) {}
    const char* ClassName() const override { return "TDitherEngine"; }
    // The palette index for the pixel; the chosen entry's colour in the out
    // values. The plain engine takes the nearest entry without diffusion.
    virtual uint8_t DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                                uint8_t& outBlue) {
        return Nearest(red, green, blue, outRed, outGreen, outBlue);
    }
    virtual void EndRow();
    // Passes over a pixel without dithering it.
    void StepColumn() { column_ += direction_; }
    int Column() const { return column_; }
    int Direction() const { return direction_; }
    int Width() const { return width_; }

protected:
    // The common last step of every kind: the lookup's entry, then the next
    // column.
    uint8_t Nearest(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen, uint8_t& outBlue) {
        const uint8_t index = fast_ != nullptr   ? fast_->NearestIndex(red, green, blue, outRed, outGreen, outBlue)
                              : cube_ != nullptr ? cube_->NearestIndex(red, green, blue, outRed, outGreen, outBlue)
                                                 : lookup_.NearestIndex(red, green, blue, outRed, outGreen, outBlue);
        StepColumn();
        return index;
    }

    int direction_ = 1;
    int column_ = 0;
    TColorLookup& lookup_;
    // The same lookup, when it is one of the two the reduction and the
    // dithered rendering use most: its calls are bound, not looked up.
    TFastColorLookup* fast_;
    TNetscapeColorLookup* cube_;
    int width_;
};

// One error row per channel and three running values; the slot under the
// pointer is read for the pixel and then takes the error for the row below.
class TFloydSteinbergDitherer final : public TDitherEngine {
public:
    TFloydSteinbergDitherer(int width, TColorLookup& lookup);
    const char* ClassName() const override { return "TFloydSteinbergDitherer"; }
    uint8_t DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                        uint8_t& outBlue) override;
    void EndRow() override;

private:
    std::vector<int32_t> rows_;  // red, green, blue of each slot
    int pointer_ = 0;
    int32_t cur_[3] = {}, b1_[3] = {}, b2_[3] = {};
};

// The error-diffusing kinds with several rows: each keeps rows error rows
// per channel of width + 2 x margin slots (column x at slot x + margin) and
// spreads each pixel's error over weights at offsets counted in the scan
// direction.
class TErrorRowsDitherer : public TDitherEngine {
public:
    struct Tap {
        int row, offset, weight;
    };
    TErrorRowsDitherer(int width, TColorLookup& lookup, int rows, int margin, int divisor, std::vector<Tap> taps);
    uint8_t DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                        uint8_t& outBlue) override;
    void EndRow() override;

private:
    int margin_, divisor_;
    std::vector<Tap> taps_;
    // rows_ x 3 rows (red, green, blue of row 0, then of row 1, ...), each
    // width + 2 x margin slots; order_[r] names the buffer that is row r.
    std::vector<std::vector<int32_t>> buffers_;
    std::vector<int> order_;
};

// Stucki, Sierra and Jarvis-Judice-Ninke: three rows, two slots each side.
class TStuckiDitherer : public TErrorRowsDitherer {
public:
    TStuckiDitherer(int width, TColorLookup& lookup);
    const char* ClassName() const override { return "TStuckiDitherer"; }
};
class TSierraDitherer : public TErrorRowsDitherer {
public:
    TSierraDitherer(int width, TColorLookup& lookup);
    const char* ClassName() const override { return "TSierraDitherer"; }
};
class TJaJuNiDitherer : public TErrorRowsDitherer {
public:
    TJaJuNiDitherer(int width, TColorLookup& lookup);
    const char* ClassName() const override { return "TJaJuNiDitherer"; }
};
class TSteveArcheDitherer : public TErrorRowsDitherer {
public:
    TSteveArcheDitherer(int width, TColorLookup& lookup);
    const char* ClassName() const override { return "TSteveArcheDitherer"; }
};
class TBurkesDitherer : public TErrorRowsDitherer {
public:
    TBurkesDitherer(int width, TColorLookup& lookup);
    const char* ClassName() const override { return "TBurkesDitherer"; }
};

// The ditherer of a TDitherKind (0..6), or nullptr for any other kind.
std::unique_ptr<TDitherEngine> CreateDitherer(TDitherKind kind, int width, TColorLookup& lookup);

// ------------------------------------------------------------ fixed palettes

// New palettes, owned by the caller.
HPALETTE Create216ColorPalette();  // entry 36r + 6g + b = (51r, 51g, 51b)
HPALETTE CreateGreyPalette256();
HPALETTE CreateBlackWhitePalette();
HPALETTE CreateFourGreyPalette();  // 0x00, 0x80, 0xC0, 0xFF
HPALETTE CreateScreenHalftonePalette();

// ------------------------------------------------------------ octree

// Octree colour quantisation: every pixel goes down the tree by its colour
// bits to a leaf at depth colourBits; whenever there are more leaves than
// colours, the inner node at the deepest level that was created last
// becomes a leaf holding its children's sums. Counts and sums are 64-bit.
class TColorQuantizer : public TObject {
public:
    // colourBits 1..8.
    TColorQuantizer(int maxColors, int colorBits);
    const char* ClassName() const override { return "TColorQuantizer"; }
    // rows: height rows of width pixels, 3 bytes each (blue, green, red),
    // row y at rows(y).
    template <class Rows>
    void AddPicture(int width, int height, Rows rows) {
        for (int y = 0; y < height; ++y) {
            const uint8_t* p = rows(y);
            for (int x = 0; x < width; ++x, p += 3) {
                InsertColor(p[2], p[1], p[0]);
                while (leafCount_ > maxColors_) MergeDeepest();
            }
        }
    }
    // The same tree, built in parallel: the order in which distinct colours
    // first appear decides every merge, so the tree's shape is built from
    // that order alone and the leaves' sums are added up row-parallel.
    void AddPictureParallel(int width, int height, const std::function<const uint8_t*(int)>& rows);
    // Leaf colours in depth-first order (children 0 to 7), as red, green,
    // blue.
    std::vector<TPaletteEntry> CollectColors() const;
    int LeafCount() const { return leafCount_; }

private:
    struct Node {
        bool leaf = false;
        int64_t count = 0, red = 0, green = 0, blue = 0;
        int32_t next = -1;  // next node in the reducible list of its level
        int32_t children[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
        uint8_t level = 0;
    };
    int32_t NewNode(int level);
    void FreeSubtree(int32_t node);
    // Returns the leaf the colour ended in; adds it there when count is set.
    int32_t InsertColor(uint8_t red, uint8_t green, uint8_t blue, bool count = true);
    void MergeDeepest();

    std::vector<Node> nodes_;
    std::vector<int32_t> free_;
    int32_t root_ = -1;
    int leafCount_ = 0;
    int32_t reducible_[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    int maxColors_;
    int colorBits_;
};

// An octree palette of the 24-bit picture behind reader (bitmap's rows):
// colours entries (unused ones black), or 256 with the 20 system colours at
// 0..9 and 246..255 and 236 octree colours between them. Owned by the caller.
HPALETTE BuildOctreePalette(TBitmap& bitmap, int colors, int colorBits, bool withSystemColors);
HPALETTE BitmapOctreePalette(TBitmap& bitmap, int colors, int colorBits, bool withSystemColors);

// ------------------------------------------------------------ reduction

// A new 8-bit bitmap of the picture reduced by the method (a
// TPaletteReduction) with the ditherer of kind; palette only serves method
// 9. Method 0 gives a 24-bit copy. bits (octree colours 2^bits) is clamped
// to 1..8. A method above 9, a kind above 6 or a palette without entries
// give an empty bitmap. The source bitmap is converted to 24 bits on the
// way.
std::unique_ptr<TBitmap> ReduceBitmapColors(TBitmap& bitmap, TPaletteReduction method, TDitherKind kind, int bits,
                                            HPALETTE palette);
