// The canvas of a bitmap: fills, blits with raster operations, stretching.
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/core/Graphics.h"
#include "platform/core/PixelRows.h"

namespace px {
namespace {

// A ternary raster operation on whole words: bit i of the operation code's
// index byte gives the result for pattern, source and destination bits
// (P, S, D) with i = 4P + 2S + D. The pattern is fixed for a blit, so it is
// folded into one mask per source and destination pair, and each pixel
// takes a few branch-free operations whatever the code.
class TernaryRop {
public:
    TernaryRop(uint8_t index, uint32_t p) {
        for (int k = 0; k < 4; ++k)
            m_[k] = (((index >> (4 + k)) & 1) ? p : 0u) | (((index >> k) & 1) ? ~p : 0u);
    }
    uint32_t operator()(uint32_t s, uint32_t d) const {
        return (m_[3] & s & d) | (m_[2] & s & ~d) | (m_[1] & ~s & d) | (m_[0] & ~s & ~d);
    }

private:
    uint32_t m_[4];  // by 2S + D
};

// Nearest-neighbour source coordinate of destination pixel i of n, over
// source span [from, from + span): the centre of the destination pixel
// mapped back, rounded down.
inline int64_t SourceCoord(int64_t from, int64_t span, int64_t i, int64_t n) {
    return from + ((2 * i + 1) * span) / (2 * n);
}

bool IsWordFormat(TPixelFormat format) {
    return BitsPerPixel(format) == 32 && format != TPixelFormat::pfCustom;
}

// Blit's source copy: every pixel drawn is the source's, with no raster
// operation to apply, so rows go across whole where the stretch maps
// columns one to one and no mask or uncovered column keeps destination
// pixels. Draws what the general loop draws; a pixel it keeps is left
// untouched (the general loop writes it back as read).
void CopySource(TBitmap& dst, const TBitmap& source, const TBitmap* mask, const RowCodec& srcCodec,
                RowCodec& dstCodec, const RowCodec* maskCodec, const TRect& srcRect, const TRect& destRect, int32_t x0,
                int32_t y0, int32_t y1, int32_t lo, int32_t span, int32_t maskSpan, const std::vector<int32_t>& columns) {
    const int32_t n = static_cast<int32_t>(columns.size());
    bool allColumns = true, anyColumn = false, contiguous = true;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t c = columns[static_cast<size_t>(i)];
        allColumns = allColumns && c >= 0;
        anyColumn = anyColumn || c >= 0;
        contiguous = contiguous && c == columns[0] + i;
    }
    if (!anyColumn) return;
    if (!allColumns) contiguous = false;
    const bool wholeRows = mask == nullptr && allColumns;
    const bool wordDest = IsWordFormat(dst.PixelFormat());
    const bool straight = wholeRows && contiguous && IsWordFormat(source.PixelFormat()) && wordDest;
    // What a 1-bit mask's two indices say: keep the destination where the
    // index stands for a colour other than black.
    const bool bitMask = mask != nullptr && mask->PixelFormat() == TPixelFormat::pf1bit;
    uint32_t keepBit[2] = {0, 0};
    if (bitMask)
        for (size_t i = 0; i < 2 && i < mask->ColorTable().size(); ++i) keepBit[i] = EntryToWord(mask->ColorTable()[i]);
    // A frame of indices under its transparency mask, unstretched, as an
    // animation composes it: eight pixels of the mask at a time, and only
    // the pixels drawn looked up.
    const bool indexedUnderMask = bitMask && contiguous && wordDest && source.PixelFormat() == TPixelFormat::pf8bit;
    uint32_t colors[256] = {};
    if (indexedUnderMask)
        for (size_t i = 0; i < 256 && i < source.ColorTable().size(); ++i) colors[i] = EntryToWord(source.ColorTable()[i]);
    const uint8_t keepIfSet = keepBit[1] & 0xFFFFFF ? 0xFF : 0, keepIfClear = keepBit[0] & 0xFFFFFF ? 0xFF : 0;
    std::vector<uint32_t> srcRow(static_cast<size_t>(span));
    std::vector<uint32_t> maskRow(static_cast<size_t>(span), 0u);
    std::vector<uint32_t> out(static_cast<size_t>(n));
    const int64_t dh = destRect.Height(), sh = srcRect.Height();
    int64_t loadedRow = -1;
    for (int32_t y = y0; y < y1; ++y) {
        const int64_t sy = SourceCoord(srcRect.Top, sh, y - destRect.Top, dh);
        if (sy < 0 || sy >= source.Height()) continue;
        uint8_t* row = dst.ScanLine(y);
        if (indexedUnderMask) {
            const int32_t first = lo + columns[0];
            const uint8_t* indices = source.ScanLine(static_cast<int32_t>(sy)) + first;
            const uint8_t* bits = sy < mask->Height() ? mask->ScanLine(static_cast<int32_t>(sy)) : nullptr;
            const int32_t maskEnd = bits != nullptr ? mask->Width() : 0;
            uint8_t* d = row + 4 * static_cast<size_t>(x0);
            auto draw = [&](int32_t i) { std::memcpy(d + 4 * static_cast<size_t>(i), &colors[indices[i]], 4); };
            int32_t i = 0;
            while (i < n) {
                const int32_t x = first + i;
                if ((x & 7) == 0 && i + 8 <= n && x + 8 <= maskEnd) {
                    const uint8_t b = bits[x >> 3];
                    const uint8_t kept = static_cast<uint8_t>((b & keepIfSet) | (~b & keepIfClear));
                    if (kept == 0) {
                        for (int32_t k = 0; k < 8; ++k) draw(i + k);
                    } else if (kept != 0xFF) {
                        for (int32_t k = 0; k < 8; ++k)
                            if (!((kept >> (7 - k)) & 1)) draw(i + k);
                    }
                    i += 8;
                    continue;
                }
                const bool keep = x < maskEnd && (keepBit[(bits[x >> 3] >> (7 - (x & 7))) & 1] & 0xFFFFFF) != 0;
                if (!keep) draw(i);
                ++i;
            }
            continue;
        }
        if (straight) {
            std::memcpy(row + 4 * static_cast<size_t>(x0),
                        source.ScanLine(static_cast<int32_t>(sy)) + 4 * static_cast<size_t>(lo + columns[0]),
                        4 * static_cast<size_t>(n));
            continue;
        }
        if (sy != loadedRow) {
            srcCodec.Read(source.ScanLine(static_cast<int32_t>(sy)), lo, span, srcRow.data());
            if (mask != nullptr) {
                std::fill(maskRow.begin(), maskRow.end(), 0u);
                if (sy < mask->Height() && maskSpan > 0) {
                    if (bitMask) {
                        // A 1-bit mask is looked at bit by bit, not through colours.
                        const uint8_t* bits = mask->ScanLine(static_cast<int32_t>(sy));
                        for (int32_t i = 0; i < maskSpan; ++i) {
                            const int32_t x = lo + i;
                            maskRow[static_cast<size_t>(i)] = keepBit[(bits[x >> 3] >> (7 - (x & 7))) & 1];
                        }
                    } else {
                        maskCodec->Read(mask->ScanLine(static_cast<int32_t>(sy)), lo, maskSpan, maskRow.data());
                    }
                }
            }
            loadedRow = sy;
        }
        if (wholeRows && contiguous) {
            dstCodec.Write(row, x0, n, srcRow.data() + columns[0]);
            continue;
        }
        if (wholeRows) {
            for (int32_t i = 0; i < n; ++i) out[static_cast<size_t>(i)] = srcRow[static_cast<size_t>(columns[static_cast<size_t>(i)])];
            dstCodec.Write(row, x0, n, out.data());
            continue;
        }
        if (wordDest) {
            // Pixels drawn are stored one by one; the rest stay.
            uint8_t* d = row + 4 * static_cast<size_t>(x0);
            for (int32_t i = 0; i < n; ++i) {
                const int32_t sx = columns[static_cast<size_t>(i)];
                if (sx < 0 || (maskRow[static_cast<size_t>(sx)] & 0xFFFFFF) != 0) continue;
                std::memcpy(d + 4 * static_cast<size_t>(i), &srcRow[static_cast<size_t>(sx)], 4);
            }
            continue;
        }
        dstCodec.Read(row, x0, n, out.data());
        for (int32_t i = 0; i < n; ++i) {
            const int32_t sx = columns[static_cast<size_t>(i)];
            if (sx < 0 || (maskRow[static_cast<size_t>(sx)] & 0xFFFFFF) != 0) continue;
            out[static_cast<size_t>(i)] = srcRow[static_cast<size_t>(sx)];
        }
        dstCodec.Write(row, x0, n, out.data());
    }
}

}  // namespace

void Blit(TBitmap& dst, const TRect& destRect, const TBitmap& src, const TRect& srcRect, const TBitmap* mask,
          uint32_t rop, TColor brush, int64_t keyColor) {
    if (destRect.IsEmpty() || srcRect.IsEmpty() || dst.Empty()) return;
    const int32_t x0 = std::max<int32_t>(destRect.Left, 0);
    const int32_t x1 = std::min<int32_t>(destRect.Right, dst.Width());
    const int32_t y0 = std::max<int32_t>(destRect.Top, 0);
    const int32_t y1 = std::min<int32_t>(destRect.Bottom, dst.Height());
    if (x0 >= x1 || y0 >= y1) return;

    // Drawing a bitmap onto itself reads from a snapshot.
    std::unique_ptr<TBitmap> snapshot;
    const TBitmap* source = &src;
    if (&src == &dst && !src.Empty()) {
        snapshot = std::make_unique<TBitmap>();
        snapshot->Assign(&src);
        source = snapshot.get();
    }

    const int64_t dw = destRect.Width(), dh = destRect.Height();
    const int64_t sw = srcRect.Width(), sh = srcRect.Height();
    const int32_t n = x1 - x0;
    std::vector<int32_t> columns(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        const int64_t sx = SourceCoord(srcRect.Left, sw, x0 + i - destRect.Left, dw);
        columns[static_cast<size_t>(i)] = (sx >= 0 && sx < source->Width()) ? static_cast<int32_t>(sx) : -1;
    }

    const uint8_t index = static_cast<uint8_t>(rop >> 16);
    const uint32_t pattern = ColorToWord(brush);
    const bool needSource = ((index >> 2) & 0x33) != (index & 0x33);
    const TPixelFormat sf = source->PixelFormat();
    const TPixelFormat df = dst.PixelFormat();
    const bool indexedDest = IsIndexed(df);
    const uint32_t key = keyColor >= 0 ? ColorToWord(static_cast<TColor>(keyColor)) : 0;

    const RowCodec srcCodec(sf, source->ColorTable());
    std::unique_ptr<RowCodec> maskCodec;
    if (mask != nullptr && !mask->Empty())
        maskCodec = std::make_unique<RowCodec>(mask->PixelFormat(), mask->ColorTable());
    else
        mask = nullptr;

    // Only the source columns this blit reaches are decoded per row.
    int32_t lo = INT32_MAX, hi = -1;
    for (const int32_t c : columns) {
        if (c < 0) continue;
        lo = std::min(lo, c);
        hi = std::max(hi, c);
    }
    const bool anyColumn = hi >= 0;
    if (!anyColumn) {
        lo = 0;
        hi = 0;
    }
    const int32_t span = hi - lo + 1;
    const int32_t maskSpan = mask ? std::max(0, std::min(hi + 1, mask->Width()) - lo) : 0;
    for (int32_t& c : columns)
        if (c >= 0) c -= lo;
    // A large blit goes in bands of rows over the worker threads: each
    // destination row is made from the source and from itself alone, so the
    // bands may run in any order, each with its own codec (an indexed one
    // caches its colour look-ups) and row buffers. A mask that is the
    // destination itself changes under the rows, so that blit stays whole.
    const size_t bytes = 4 * static_cast<size_t>(n) * static_cast<size_t>(y1 - y0);
    auto inBands = [&](const std::function<void(int32_t, int32_t)>& rows) {
        if (mask == &dst) {
            rows(y0, y1);
            return;
        }
        pixmem::ForRows(y1 - y0, bytes, [&](int32_t begin, int32_t end) { rows(y0 + begin, y0 + end); });
    };
    if (index == 0xCC && keyColor < 0 && !indexedDest) {
        inBands([&](int32_t from, int32_t to) {
            RowCodec bandCodec(df, dst.ColorTable());
            CopySource(dst, *source, mask, srcCodec, bandCodec, maskCodec.get(), srcRect, destRect, x0, from, to, lo,
                       span, maskSpan, columns);
        });
        return;
    }
    const TernaryRop apply(index, pattern);
    const bool everyColumn = std::find(columns.begin(), columns.end(), -1) == columns.end();
    inBands([&](int32_t from, int32_t to) {
        RowCodec dstCodec(df, dst.ColorTable());
        std::vector<uint32_t> srcRow(static_cast<size_t>(span));
        std::vector<uint32_t> maskRow(static_cast<size_t>(span), 0u);
        std::vector<uint32_t> out(static_cast<size_t>(n));
        int64_t loadedRow = -1;
        for (int32_t y = from; y < to; ++y) {
            const int64_t sy = SourceCoord(srcRect.Top, sh, y - destRect.Top, dh);
            if (needSource && (sy < 0 || sy >= source->Height())) continue;
            if (needSource && sy != loadedRow) {
                if (anyColumn)
                    srcCodec.Read(source->ScanLine(static_cast<int32_t>(sy)), lo, span, srcRow.data());
                if (mask != nullptr) {
                    std::fill(maskRow.begin(), maskRow.end(), 0u);
                    if (sy < mask->Height() && maskSpan > 0)
                        maskCodec->Read(mask->ScanLine(static_cast<int32_t>(sy)), lo, maskSpan, maskRow.data());
                }
                loadedRow = sy;
            }
            uint8_t* row = dst.ScanLine(y);
            dstCodec.Read(row, x0, n, out.data());
            // A fill, and whole rows of the source without a key colour or
            // a mask, keep no pixel: the rows go across without a test.
            if (!indexedDest && !needSource) {
                for (uint32_t& d : out) d = apply(0, d);
                dstCodec.Write(row, x0, n, out.data());
                continue;
            }
            if (!indexedDest && everyColumn && keyColor < 0 && mask == nullptr) {
                for (int32_t i = 0; i < n; ++i)
                    out[static_cast<size_t>(i)] = apply(srcRow[static_cast<size_t>(columns[static_cast<size_t>(i)])],
                                                        out[static_cast<size_t>(i)]);
                dstCodec.Write(row, x0, n, out.data());
                continue;
            }
            for (int32_t i = 0; i < n; ++i) {
                uint32_t s = 0;
                if (needSource) {
                    const int32_t sx = columns[static_cast<size_t>(i)];
                    if (sx < 0) continue;
                    s = srcRow[static_cast<size_t>(sx)];
                    if (keyColor >= 0 && (s & 0xFFFFFF) == key) continue;
                    if (mask != nullptr && (maskRow[static_cast<size_t>(sx)] & 0xFFFFFF) != 0)
                        continue;
                }
                uint32_t& d = out[static_cast<size_t>(i)];
                d = apply(s, d);
                // An index written back could pick another entry of the same
                // colour, so indexed pixels are written only where drawn.
                if (indexedDest) dstCodec.Write(row, x0 + i, 1, &d);
            }
            if (!indexedDest) dstCodec.Write(row, x0, n, out.data());
        }
    });
}

}  // namespace px

// ------------------------------------------------------------ canvas

namespace {

struct LiveCanvases {
    std::mutex mutex;
    std::unordered_map<const TCanvas*, uint64_t> serials;
    uint64_t next = 1;
};

LiveCanvases& Live() {
    static LiveCanvases* live = new LiveCanvases;  // outlives every canvas, static ones too
    return *live;
}

}  // namespace

TCanvas::TCanvas(TBitmap* target) : target_(target) {
    LiveCanvases& live = Live();
    std::lock_guard lock(live.mutex);
    live.serials[this] = live.next++;
}

TCanvas::~TCanvas() {
    LiveCanvases& live = Live();
    std::lock_guard lock(live.mutex);
    live.serials.erase(this);
}

uint64_t LiveCanvasSerial(HDC dc) {
    LiveCanvases& live = Live();
    std::lock_guard lock(live.mutex);
    const auto it = live.serials.find(dc);
    return it == live.serials.end() ? 0 : it->second;
}

uint32_t GetObjectType(HDC dc) { return LiveCanvasSerial(dc) != 0 ? OBJ_DC : 0; }

namespace {
// Nested drawing (a graphic drawing itself through canvas calls) reports
// one change, from the outermost call.
struct ChangeBatch {
    explicit ChangeBatch(int& depth) : depth_(depth) { ++depth_; }
    ~ChangeBatch() { --depth_; }
    int& depth_;
};
}  // namespace

TRect TCanvas::ClipRect() const {
    if (target_ == nullptr) return TRect{};
    return Rect(0, 0, target_->Width(), target_->Height());
}

void TCanvas::Draw(int32_t x, int32_t y, TGraphic& graphic) {
    if (graphic.Empty()) return;
    {
        ChangeBatch batch(changeDepth_);
        graphic.Draw(*this, Bounds(x, y, graphic.Width(), graphic.Height()));
    }
    Changed();
}

void TCanvas::StretchDraw(const TRect& rect, TGraphic& graphic) {
    if (graphic.Empty()) return;
    {
        ChangeBatch batch(changeDepth_);
        graphic.Draw(*this, rect);
    }
    Changed();
}

void TCanvas::FillRect(const TRect& rect) {
    if (target_ == nullptr || target_->Empty()) return;
    TRect r;
    if (!IntersectRect(r, rect, ClipRect())) return;
    const uint32_t word = px::ColorToWord(ColorToRGB(Brush.Color));
    // A large fill (a picture's background) goes in bands over the threads.
    const size_t bytes = 4 * static_cast<size_t>(r.Width()) * static_cast<size_t>(r.Height());
    pixmem::ForRows(r.Height(), bytes, [&](int32_t begin, int32_t end) {
        px::RowCodec codec(target_->PixelFormat(), target_->ColorTable());
        std::vector<uint32_t> fill(static_cast<size_t>(r.Width()), word);
        for (int32_t y = r.Top + begin; y < r.Top + end; ++y)
            codec.Write(target_->ScanLine(y), r.Left, r.Width(), fill.data());
    });
    Changed();
}

void TCanvas::CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect) {
    if (target_ == nullptr || source.Target() == nullptr) return;
    px::Blit(*target_, dest, *source.Target(), sourceRect, nullptr, CopyMode, ColorToRGB(Brush.Color), -1);
    Changed();
}

void TCanvas::StretchBlt(const TRect& destRect, const TBitmap& source, const TRect& srcRect, const TBitmap* mask) {
    if (target_ == nullptr) return;
    px::Blit(*target_, destRect, source, srcRect, mask, CopyMode, ColorToRGB(Brush.Color), -1);
    Changed();
}

void TCanvas::InvertRect(const TRect& rect) {
    if (target_ == nullptr || target_->Empty()) return;
    TRect r;
    if (!IntersectRect(r, rect, ClipRect())) return;
    px::RowCodec codec(target_->PixelFormat(), target_->ColorTable());
    std::vector<uint32_t> row(static_cast<size_t>(r.Width()));
    for (int32_t y = r.Top; y < r.Bottom; ++y) {
        uint8_t* line = target_->ScanLine(y);
        codec.Read(line, r.Left, r.Width(), row.data());
        for (uint32_t& w : row) w ^= 0x00FFFFFFu;
        codec.Write(line, r.Left, r.Width(), row.data());
    }
    Changed();
}

TColor TCanvas::Pixel(int32_t x, int32_t y) const { return target_ ? target_->Pixel(x, y) : -1; }

void TCanvas::SetPixel(int32_t x, int32_t y, TColor color) {
    if (target_ == nullptr) return;
    target_->SetPixel(x, y, color);
    Changed();
}

void TCanvas::Changed() {
    if (changeDepth_ > 0) return;
    if (OnChange) OnChange(this);
    if (target_ != nullptr) target_->Changed(target_);
}

void InvertRect(HDC dc, const TRect& rect) {
    if (dc != nullptr) dc->InvertRect(rect);
}
