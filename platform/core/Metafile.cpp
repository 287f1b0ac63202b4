#include "Metafile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "LoadWork.h"
#include "Numeric.h"

// What is played: the bitmap records (EMF: EMR_STRETCHDIBITS, EMR_BITBLT,
// EMR_STRETCHBLT, EMR_SETDIBITSTODEVICE; WMF: META_STRETCHDIB,
// META_DIBSTRETCHBLT, META_DIBBITBLT, META_SETDIBTODEV), blits without a
// bitmap (solid brush, black, white, inverted destination), and the
// records that place them: map mode, window and viewport origin and
// extent, save and restore of that state, and (EMF) solid brushes.
// Everything else (lines, text, paths, regions, world transforms) is
// skipped.

namespace {

[[noreturn]] void InvalidMetafile(const std::string& why) { throw EInvalidGraphic("Metafile is not valid: " + why); }

// A bitmap record whose bitmap this reader cannot draw (a compression it
// does not decode, a header or a colour table it cannot make sense of).
// Playback skips such a record and draws the others, as the desktop's
// does; only damage to the record structure refuses the whole picture.
struct UndrawableBitmap {};
[[noreturn]] void Undrawable() { throw UndrawableBitmap{}; }

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
int16_t GetS16(const uint8_t* p) { return static_cast<int16_t>(Get16(p)); }
uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
int32_t GetS32(const uint8_t* p) { return static_cast<int32_t>(Get32(p)); }

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
void PutS32(std::vector<uint8_t>& out, int32_t v) { Put32(out, static_cast<uint32_t>(v)); }
void Set32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// ------------------------------------------------------------ record numbers

constexpr uint32_t EMR_HEADER = 1;
constexpr uint32_t EMR_SETWINDOWEXTEX = 9;
constexpr uint32_t EMR_SETWINDOWORGEX = 10;
constexpr uint32_t EMR_SETVIEWPORTEXTEX = 11;
constexpr uint32_t EMR_SETVIEWPORTORGEX = 12;
constexpr uint32_t EMR_EOF = 14;
constexpr uint32_t EMR_SETMAPMODE = 17;
constexpr uint32_t EMR_SAVEDC = 33;
constexpr uint32_t EMR_RESTOREDC = 34;
constexpr uint32_t EMR_SELECTOBJECT = 37;
constexpr uint32_t EMR_CREATEBRUSHINDIRECT = 39;
constexpr uint32_t EMR_DELETEOBJECT = 40;
constexpr uint32_t EMR_BITBLT = 76;
constexpr uint32_t EMR_STRETCHBLT = 77;
constexpr uint32_t EMR_SETDIBITSTODEVICE = 80;
constexpr uint32_t EMR_STRETCHDIBITS = 81;
constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"

constexpr uint16_t META_EOF = 0x0000;
constexpr uint16_t META_SAVEDC = 0x001E;
constexpr uint16_t META_RESTOREDC = 0x0127;
constexpr uint16_t META_SETWINDOWORG = 0x020B;
constexpr uint16_t META_SETWINDOWEXT = 0x020C;
constexpr uint16_t META_DIBBITBLT = 0x0940;
constexpr uint16_t META_DIBSTRETCHBLT = 0x0B41;
constexpr uint16_t META_SETDIBTODEV = 0x0D33;
constexpr uint16_t META_STRETCHDIB = 0x0F43;
constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;

constexpr int MM_TEXT = 1, MM_ISOTROPIC = 7, MM_ANISOTROPIC = 8;
constexpr uint32_t kDstInvert = 0x00550009;
constexpr uint32_t kDibPalColors = 1;
constexpr size_t kMaxSavedStates = 1024;
constexpr int32_t kHundredthMmPerInch = 2540;

// The reference screen of recordings: 1920 x 1440 pixels on 508 x 381 mm,
// exactly 96 pixels per inch on both axes.
constexpr int32_t kRefDevice[2] = {1920, 1440};
constexpr int32_t kRefMillimeters[2] = {508, 381};

bool NeedsSource(uint32_t rop) {
    const uint8_t i = static_cast<uint8_t>(rop >> 16);
    return ((i >> 2) & 0x33) != (i & 0x33);
}
bool NeedsPattern(uint32_t rop) {
    const uint8_t i = static_cast<uint8_t>(rop >> 16);
    return ((i >> 4) & 0x0F) != (i & 0x0F);
}

// ------------------------------------------------------------ DIBs

// A read-only stream over a small header buffer followed by a view of the
// record's pixel bytes, so a record's bitmap reaches the core's BMP reader
// without a copy of its pixels.
class JoinedStream : public TStream {
public:
    JoinedStream(const std::vector<uint8_t>& head, const uint8_t* tail, size_t tailSize)
        : head_(head), tail_(tail), tailSize_(tailSize) {}
    int64_t Read(void* buffer, int64_t count) override {
        if (count <= 0 || pos_ >= Size()) return 0;
        count = std::min<int64_t>(count, Size() - pos_);
        auto* out = static_cast<uint8_t*>(buffer);
        int64_t done = 0;
        const int64_t headSize = static_cast<int64_t>(head_.size());
        if (pos_ < headSize) {
            const int64_t n = std::min(count, headSize - pos_);
            std::memcpy(out, head_.data() + pos_, static_cast<size_t>(n));
            done = n;
        }
        if (done < count) {
            const int64_t from = pos_ + done - headSize;
            std::memcpy(out + done, tail_ + from, static_cast<size_t>(count - done));
            done = count;
        }
        pos_ += done;
        return done;
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        int64_t base = origin == TSeekOrigin::soBeginning ? 0 : (origin == TSeekOrigin::soCurrent ? pos_ : Size());
        pos_ = std::max<int64_t>(0, base + offset);
        return pos_;
    }
    int64_t Size() override { return static_cast<int64_t>(head_.size() + tailSize_); }

private:
    const std::vector<uint8_t>& head_;
    const uint8_t* tail_;
    size_t tailSize_;
    int64_t pos_ = 0;
};

struct DibInfo {
    int32_t width = 0, height = 0;  // height as stored: negative for top-down rows
    uint32_t headerSize = 0;
    size_t tableBytes = 0;          // header, bit masks and colour table
    int64_t presentColors = -1;     // entries of a short colour table, else -1
};

// shortTable: the record says where the header and table end (n), and a
// colour table shorter than the bits call for keeps the entries present.
DibInfo ReadDibInfo(const uint8_t* p, size_t n, uint32_t usage, bool shortTable = false) {
    DibInfo info;
    if (n < 12) Undrawable();
    info.headerSize = Get32(p);
    int bits = 0;
    uint32_t compression = 0, used = 0;
    if (info.headerSize == 12) {
        info.width = Get16(p + 4);
        info.height = Get16(p + 6);
        bits = Get16(p + 10);
    } else {
        if (info.headerSize < 40 || info.headerSize > n) Undrawable();
        info.width = GetS32(p + 4);
        info.height = GetS32(p + 8);
        bits = Get16(p + 14);
        compression = Get32(p + 16);
        used = Get32(p + 32);
    }
    if (info.width <= 0 || info.height == 0 || info.height == std::numeric_limits<int32_t>::min()) Undrawable();
    uint64_t colors = used;
    if (bits <= 8 && bits > 0) {
        if (colors == 0) colors = uint64_t(1) << bits;
        if (colors > (uint64_t(1) << bits)) Undrawable();
    } else if (colors > 256) {
        Undrawable();
    }
    uint64_t masks = 0;
    if (info.headerSize == 40 && compression == 3) masks = 12;
    if (info.headerSize == 40 && compression == 6) masks = 16;
    const uint64_t entry = usage == kDibPalColors ? 2 : (info.headerSize == 12 ? 3 : 4);
    const uint64_t table = info.headerSize + masks + colors * entry;
    if (table > n) {
        if (!shortTable || info.headerSize < 40 || info.headerSize + masks > n || bits > 8) Undrawable();
        info.presentColors = static_cast<uint32_t>((n - info.headerSize - masks) / entry);
    }
    info.tableBytes = static_cast<size_t>(std::min<uint64_t>(table, n));
    return info;
}

// Caps the pixels all bitmaps of one metafile may decode to. Uncompressed
// bitmaps are bounded by their bytes anyway; run-length coded ones are not,
// so a few bytes could otherwise ask for gigabytes.
struct PixelBudget {
    int64_t left;
    void Take(int64_t width, int64_t height) {
        if (width > kMaxBitmapSide || height > kMaxBitmapSide || width * height > left)
            InvalidMetafile("bitmap too large");
        left -= width * height;
    }
};

// Decodes header + table bytes and pixel bytes through the core's BMP
// reader. rows > 0 replaces the stored height (keeping its direction),
// for records that carry only some of the rows.
std::shared_ptr<const TBitmap> DecodeDib(const uint8_t* table, const DibInfo& info, const uint8_t* bits,
                                         size_t bitsSize, int32_t rows, PixelBudget& budget) {
    int32_t height = info.height;
    if (rows > 0) height = height < 0 ? -rows : rows;
    budget.Take(info.width, height < 0 ? -int64_t(height) : height);
    if (uint64_t(bitsSize) + info.tableBytes + 14 > uint64_t(std::numeric_limits<int32_t>::max()))
        InvalidMetafile("bitmap too large");
    std::vector<uint8_t> head;
    head.reserve(14 + info.tableBytes);
    head.push_back('B');
    head.push_back('M');
    Put32(head, static_cast<uint32_t>(14 + info.tableBytes + bitsSize));
    Put32(head, 0);
    Put32(head, static_cast<uint32_t>(14 + info.tableBytes));
    head.insert(head.end(), table, table + info.tableBytes);
    if (info.presentColors >= 0) Set32(head, 14 + 32, static_cast<uint32_t>(info.presentColors));
    if (rows > 0) {
        if (info.headerSize == 12)
            head[14 + 6] = static_cast<uint8_t>(height), head[14 + 7] = static_cast<uint8_t>(height >> 8);
        else
            Set32(head, 14 + 8, static_cast<uint32_t>(height));
    }
    JoinedStream stream(head, bits, bitsSize);
    auto bitmap = std::make_shared<TBitmap>();
    try {
        bitmap->LoadFromStream(stream);
    } catch (const Exception&) {
        Undrawable();
    }
    return bitmap;
}

}  // namespace

// ------------------------------------------------------------ playable records

struct TMetafile::Op {
    enum class Kind : uint8_t {
        Blit,
        MapMode,
        WindowOrg,
        WindowExt,
        ViewportOrg,
        ViewportExt,
        SaveDC,
        RestoreDC,
        CreateBrush,
        SelectObject,
        DeleteObject,
    };
    Kind kind = Kind::Blit;
    int32_t a = 0, b = 0;  // state parameters; object index and flags for brushes
    TColor color = 0;
    // Blit: destination in logical units, source in the bitmap's pixels
    // from its top-left corner; extents may be negative (mirrored).
    int32_t dx = 0, dy = 0, dw = 0, dh = 0;
    int32_t sx = 0, sy = 0, sw = 0, sh = 0;
    uint32_t rop = cmSrcCopy;
    std::shared_ptr<const TBitmap> bitmap;
};

namespace {

using Op = TMetafile::Op;
using OpList = std::vector<std::shared_ptr<const Op>>;

std::shared_ptr<Op> StateOp(Op::Kind kind, int32_t a, int32_t b = 0) {
    auto op = std::make_shared<Op>();
    op->kind = kind;
    op->a = a;
    op->b = b;
    return op;
}

// A DIB's source rectangle, given with the origin at the lower-left corner
// for bottom-up bitmaps (the DIB calls), as a top-down rectangle.
int32_t TopFromDibY(int32_t ySrc, int32_t cySrc, int32_t storedHeight) {
    if (storedHeight < 0) return ySrc;
    return static_cast<int32_t>(int64_t(storedHeight) - ySrc - cySrc);
}

std::shared_ptr<Op> BlitOp(int32_t dx, int32_t dy, int32_t dw, int32_t dh, uint32_t rop) {
    auto op = std::make_shared<Op>();
    op->dx = dx;
    op->dy = dy;
    op->dw = dw;
    op->dh = dh;
    op->rop = rop;
    return op;
}

// Record bytes [0, size) with the DIB at given offsets inside the record.
struct DibRef {
    size_t bmiAt, bmiSize, bitsAt, bitsSize;
};
bool InRecord(uint64_t at, uint64_t size, uint64_t recordSize) { return at <= recordSize && size <= recordSize - at; }

// ------------------------------------------------------------ EMF records

void ParseEmfRecord(const uint8_t* r, uint32_t type, uint32_t size, OpList& ops, PixelBudget& budget) {
    auto need = [&](uint32_t bytes) {
        if (size < bytes) InvalidMetafile(Format("record %u cut short", type));
    };
    auto dib = [&](size_t at, uint32_t usage, DibInfo& info, DibRef& ref) {
        ref = DibRef{Get32(r + at), Get32(r + at + 4), Get32(r + at + 8), Get32(r + at + 12)};
        if (!InRecord(ref.bmiAt, ref.bmiSize, size) || !InRecord(ref.bitsAt, ref.bitsSize, size))
            InvalidMetafile("bitmap outside its record");
        info = ReadDibInfo(r + ref.bmiAt, ref.bmiSize, usage, true);
        info.tableBytes = ref.bmiSize;  // the record says where the table ends
    };
    switch (type) {
        case EMR_SETWINDOWEXTEX:
        case EMR_SETWINDOWORGEX:
        case EMR_SETVIEWPORTEXTEX:
        case EMR_SETVIEWPORTORGEX: {
            need(16);
            static const Op::Kind kinds[] = {Op::Kind::WindowExt, Op::Kind::WindowOrg, Op::Kind::ViewportExt,
                                             Op::Kind::ViewportOrg};
            ops.push_back(StateOp(kinds[type - EMR_SETWINDOWEXTEX], GetS32(r + 8), GetS32(r + 12)));
            break;
        }
        case EMR_SETMAPMODE:
            need(12);
            ops.push_back(StateOp(Op::Kind::MapMode, GetS32(r + 8)));
            break;
        case EMR_SAVEDC:
            ops.push_back(StateOp(Op::Kind::SaveDC, 0));
            break;
        case EMR_RESTOREDC:
            need(12);
            ops.push_back(StateOp(Op::Kind::RestoreDC, GetS32(r + 8)));
            break;
        case EMR_CREATEBRUSHINDIRECT: {
            need(24);
            auto op = StateOp(Op::Kind::CreateBrush, GetS32(r + 8), static_cast<int32_t>(Get32(r + 12)));
            op->color = static_cast<TColor>(Get32(r + 16) & 0xFFFFFF);
            ops.push_back(op);
            break;
        }
        case EMR_SELECTOBJECT:
        case EMR_DELETEOBJECT:
            need(12);
            ops.push_back(StateOp(type == EMR_SELECTOBJECT ? Op::Kind::SelectObject : Op::Kind::DeleteObject,
                                  static_cast<int32_t>(Get32(r + 8))));
            break;
        case EMR_BITBLT:
        case EMR_STRETCHBLT: {
            need(type == EMR_BITBLT ? 100 : 108);
            auto op = BlitOp(GetS32(r + 24), GetS32(r + 28), GetS32(r + 32), GetS32(r + 36), Get32(r + 40));
            if (Get32(r + 88) != 0) {  // a source bitmap
                DibInfo info;
                DibRef ref{};
                const uint32_t usage = Get32(r + 80);
                dib(84, usage, info, ref);
                if (usage == kDibPalColors) break;  // colours from a palette we do not have
                op->sx = GetS32(r + 44);
                op->sy = GetS32(r + 48);  // the source device's own coordinates: top-down
                op->sw = type == EMR_BITBLT ? op->dw : GetS32(r + 100);
                op->sh = type == EMR_BITBLT ? op->dh : GetS32(r + 104);
                op->bitmap = DecodeDib(r + ref.bmiAt, info, r + ref.bitsAt, ref.bitsSize, 0, budget);
            }
            ops.push_back(op);
            break;
        }
        case EMR_STRETCHDIBITS: {
            need(80);
            DibInfo info;
            DibRef ref{};
            const uint32_t usage = Get32(r + 64);
            if (Get32(r + 52) == 0) break;  // no bitmap: nothing to draw
            dib(48, usage, info, ref);
            if (usage == kDibPalColors) break;
            auto op = BlitOp(GetS32(r + 24), GetS32(r + 28), GetS32(r + 72), GetS32(r + 76), Get32(r + 68));
            op->sx = GetS32(r + 32);
            op->sw = GetS32(r + 40);
            op->sh = GetS32(r + 44);
            op->sy = TopFromDibY(GetS32(r + 36), op->sh, info.height);
            op->bitmap = DecodeDib(r + ref.bmiAt, info, r + ref.bitsAt, ref.bitsSize, 0, budget);
            ops.push_back(op);
            break;
        }
        case EMR_SETDIBITSTODEVICE: {
            need(76);
            DibInfo info;
            DibRef ref{};
            const uint32_t usage = Get32(r + 64);
            if (Get32(r + 52) == 0) break;
            dib(48, usage, info, ref);
            const uint32_t start = Get32(r + 68), scans = Get32(r + 72);
            if (usage == kDibPalColors || scans == 0 || scans > static_cast<uint32_t>(kMaxBitmapSide)) break;
            const int32_t cx = GetS32(r + 40), cy = GetS32(r + 44);
            auto op = BlitOp(GetS32(r + 24), GetS32(r + 28), cx, cy, cmSrcCopy);
            op->sx = GetS32(r + 32);
            op->sw = cx;
            op->sh = cy;
            // The bits hold scan lines start .. start + scans - 1 of the whole
            // bitmap; the source rectangle is given in the whole bitmap.
            const int64_t ySrc = int64_t(GetS32(r + 36)) - start;
            const int32_t rows = static_cast<int32_t>(scans);
            op->sy = info.height < 0 ? static_cast<int32_t>(ySrc)
                                     : static_cast<int32_t>(std::clamp<int64_t>(rows - ySrc - cy, INT32_MIN, INT32_MAX));
            op->bitmap = DecodeDib(r + ref.bmiAt, info, r + ref.bitsAt, ref.bitsSize, rows, budget);
            ops.push_back(op);
            break;
        }
        default:
            break;
    }
}

// ------------------------------------------------------------ WMF records

struct WmfFrame {
    bool haveOrg = false, haveExt = false, drawn = false;
    int32_t orgX = 0, orgY = 0, extX = 0, extY = 0;
    int64_t left = 0, top = 0, right = 0, bottom = 0;  // union of blit destinations
};

void ParseWmfRecord(const uint8_t* r, uint16_t function, size_t size, OpList& ops, PixelBudget& budget,
                    WmfFrame& frame) {
    // Parameters are 16-bit words in reverse order after the 6-byte record head.
    auto need = [&](size_t bytes) {
        if (size < bytes) InvalidMetafile(Format("record 0x%04X cut short", function));
    };
    auto w = [&](size_t index) { return GetS16(r + 6 + 2 * index); };
    std::shared_ptr<Op> op;
    switch (function) {
        case META_SETWINDOWORG:
        case META_SETWINDOWEXT: {
            need(10);
            const bool org = function == META_SETWINDOWORG;
            ops.push_back(StateOp(org ? Op::Kind::WindowOrg : Op::Kind::WindowExt, w(1), w(0)));
            if (org && !frame.haveOrg && !frame.drawn) {
                frame.haveOrg = true;
                frame.orgX = w(1);
                frame.orgY = w(0);
            } else if (!org && !frame.haveExt && !frame.drawn) {
                frame.haveExt = true;
                frame.extX = w(1);
                frame.extY = w(0);
            }
            return;
        }
        case META_SAVEDC:
            ops.push_back(StateOp(Op::Kind::SaveDC, 0));
            return;
        case META_RESTOREDC:
            need(8);
            ops.push_back(StateOp(Op::Kind::RestoreDC, w(0)));
            return;
        case META_DIBBITBLT:
        case META_DIBSTRETCHBLT: {
            // With a bitmap: rop (2 words), [source height, source width,]
            // source y, x, destination height, width, y, x, then the DIB.
            // Without one, a reserved word follows the source position and
            // the record is exactly (function >> 8) + 3 words long.
            const bool stretch = function == META_DIBSTRETCHBLT;
            need(stretch ? 26 : 22);
            const uint32_t rop = uint32_t(uint16_t(w(0))) | (uint32_t(uint16_t(w(1))) << 16);
            const size_t s = stretch ? 4 : 2;  // source y
            const bool plain = size == (size_t(function >> 8) + 3) * 2;
            const size_t d = s + 2 + (plain ? 1 : 0);  // destination height
            need(6 + 2 * (d + 4));
            op = BlitOp(w(d + 3), w(d + 2), w(d + 1), w(d), rop);
            if (plain) break;
            op->sx = w(s + 1);
            op->sy = w(s);  // the source device's own coordinates: top-down
            op->sw = stretch ? w(3) : op->dw;
            op->sh = stretch ? w(2) : op->dh;
            const size_t dibAt = 6 + 2 * (d + 4);
            DibInfo info = ReadDibInfo(r + dibAt, size - dibAt, 0);
            const size_t bitsAt = dibAt + info.tableBytes;
            op->bitmap = DecodeDib(r + dibAt, info, r + bitsAt, size - bitsAt, 0, budget);
            break;
        }
        case META_STRETCHDIB: {
            const size_t dibAt = 28;
            need(dibAt + 12);
            const uint32_t rop = uint32_t(uint16_t(w(0))) | (uint32_t(uint16_t(w(1))) << 16);
            const uint32_t usage = uint16_t(w(2));
            DibInfo info = ReadDibInfo(r + dibAt, size - dibAt, usage);
            if (usage == kDibPalColors) return;
            op = BlitOp(w(10), w(9), w(8), w(7), rop);
            op->sx = w(6);
            op->sw = w(4);
            op->sh = w(3);
            op->sy = TopFromDibY(w(5), op->sh, info.height);
            const size_t bitsAt = dibAt + info.tableBytes;
            op->bitmap = DecodeDib(r + dibAt, info, r + bitsAt, size - bitsAt, 0, budget);
            break;
        }
        case META_SETDIBTODEV: {
            const size_t dibAt = 24;
            need(dibAt + 12);
            const uint32_t usage = uint16_t(w(0));
            const int32_t scans = uint16_t(w(1)), start = uint16_t(w(2));
            DibInfo info = ReadDibInfo(r + dibAt, size - dibAt, usage);
            if (usage == kDibPalColors || scans == 0) return;
            const int32_t cx = w(6), cy = w(5);
            op = BlitOp(w(8), w(7), cx, cy, cmSrcCopy);
            op->sx = w(4);
            op->sw = cx;
            op->sh = cy;
            const int32_t ySrc = w(3) - start;
            op->sy = info.height < 0 ? ySrc : scans - ySrc - cy;
            const size_t bitsAt = dibAt + info.tableBytes;
            op->bitmap = DecodeDib(r + dibAt, info, r + bitsAt, size - bitsAt, scans, budget);
            break;
        }
        default:
            return;
    }
    frame.drawn = true;
    const int64_t x0 = op->dx, x1 = int64_t(op->dx) + op->dw, y0 = op->dy, y1 = int64_t(op->dy) + op->dh;
    frame.left = std::min({frame.left, x0, x1});
    frame.right = std::max({frame.right, x0, x1});
    frame.top = std::min({frame.top, y0, y1});
    frame.bottom = std::max({frame.bottom, y0, y1});
    ops.push_back(op);
}

void CheckPictureSize(int64_t width, int64_t height) {
    if (width > kMaxBitmapSide || height > kMaxBitmapSide || width * height > kMaxMetafilePixels)
        InvalidMetafile(Format("picture of %lld x %lld pixels is too large", static_cast<long long>(width),
                               static_cast<long long>(height)));
}

PixelBudget BudgetFor(size_t bytes) {
    return PixelBudget{std::min<int64_t>(kMaxMetafilePixels, (int64_t(1) << 20) + 256 * int64_t(bytes))};
}

uint64_t Area(const TRect& r) {
    if (r.Right <= r.Left || r.Bottom <= r.Top) return 0;
    return uint64_t(int64_t(r.Right) - r.Left) * uint64_t(int64_t(r.Bottom) - r.Top);
}

// The pixels one drawing may write onto `shown` pixels of the canvas.
// Each record may cover the whole picture, so the work of playing is
// records x area, which the file's length alone does not bound.
uint64_t DrawAllowance(uint64_t shown, uint64_t fileBytes) {
    const uint64_t frames = kMetafileDrawFrames * shown;  // at most 2^62 pixels shown
    const uint64_t perByte = kMetafileDrawPixelsPerByte * fileBytes;
    return frames > std::numeric_limits<uint64_t>::max() - perByte ? std::numeric_limits<uint64_t>::max()
                                                                   : frames + perByte;
}

// ------------------------------------------------------------ playing

struct DcState {
    int mapMode = MM_TEXT;
    long double winOrgX = 0, winOrgY = 0, winExtX = 1, winExtY = 1;
    long double vpOrgX = 0, vpOrgY = 0, vpExtX = 1, vpExtY = 1;
    int32_t brush = -1;  // object index; -1 the stock white brush
};

struct Brush {
    enum Kind : uint8_t { None, Solid, Hollow, Other } kind = None;
    TColor color = clWhite;
};

// Plays records onto a canvas, or, without one, only places them and
// counts what they would draw onto clip. Once a record would take the
// drawing past its allowance, nothing more is drawn.
class Player {
public:
    Player(TCanvas* canvas, const TRect& clip, const TRect& rect, bool enhanced, long double frameLeft,
           long double frameTop, long double frameWidth, long double frameHeight, uint64_t allowance)
        : canvas_(canvas), clip_(clip), rect_(rect), enhanced_(enhanced), frameLeft_(frameLeft), frameTop_(frameTop),
          frameWidth_(frameWidth), frameHeight_(frameHeight), left_(allowance) {
        if (!enhanced_) {
            // A Windows metafile's window is its frame until it sets its own.
            state_.winOrgX = frameLeft;
            state_.winOrgY = frameTop;
            state_.winExtX = frameWidth;
            state_.winExtY = frameHeight;
        }
    }

    bool Spent() const { return spent_; }

    void Play(const Op& op) {
        if (spent_) return;
        switch (op.kind) {
            case Op::Kind::Blit: Blit(op); break;
            case Op::Kind::MapMode: state_.mapMode = op.a; break;
            case Op::Kind::WindowOrg: state_.winOrgX = op.a, state_.winOrgY = op.b; break;
            case Op::Kind::ViewportOrg: state_.vpOrgX = op.a, state_.vpOrgY = op.b; break;
            case Op::Kind::WindowExt:
                if (op.a != 0 && op.b != 0) state_.winExtX = op.a, state_.winExtY = op.b;
                break;
            case Op::Kind::ViewportExt:
                if (op.a != 0 && op.b != 0) state_.vpExtX = op.a, state_.vpExtY = op.b;
                break;
            case Op::Kind::SaveDC:
                if (saved_.size() < kMaxSavedStates) saved_.push_back(state_);
                break;
            case Op::Kind::RestoreDC: Restore(op.a); break;
            case Op::Kind::CreateBrush: {
                Brush* b = Object(op.a);
                if (b == nullptr) break;
                b->kind = op.b == 0 ? Brush::Solid : (op.b == 1 ? Brush::Hollow : Brush::Other);
                b->color = op.color;
                break;
            }
            case Op::Kind::SelectObject: Select(static_cast<uint32_t>(op.a)); break;
            case Op::Kind::DeleteObject:
                if (Brush* b = Object(op.a)) *b = Brush{};
                break;
        }
    }

private:
    // Logical units to the canvas. Enhanced: through the map mode to the
    // reference device, then the frame onto rect. Windows metafiles: their
    // window onto rect.
    long double MapX(long double x) const {
        if (!enhanced_) return rect_.Left + (x - state_.winOrgX) * rect_.Width() / state_.winExtX;
        const long double dev = Scaled() ? (x - state_.winOrgX) * state_.vpExtX / state_.winExtX + state_.vpOrgX
                                         : x - state_.winOrgX + state_.vpOrgX;
        return rect_.Left + (dev - frameLeft_) * rect_.Width() / frameWidth_;
    }
    long double MapY(long double y) const {
        if (!enhanced_) return rect_.Top + (y - state_.winOrgY) * rect_.Height() / state_.winExtY;
        const long double dev = Scaled() ? (y - state_.winOrgY) * state_.vpExtY / state_.winExtY + state_.vpOrgY
                                         : y - state_.winOrgY + state_.vpOrgY;
        return rect_.Top + (dev - frameTop_) * rect_.Height() / frameHeight_;
    }
    bool Scaled() const { return state_.mapMode == MM_ANISOTROPIC || state_.mapMode == MM_ISOTROPIC; }

    static int32_t ToPixel(long double v) {
        constexpr long double kLimit = 1 << 30;  // far outside any canvas, still safe to subtract
        return static_cast<int32_t>(num::RoundEven(std::clamp(v, -kLimit, kLimit)));
    }

    void Restore(int32_t which) {
        size_t keep;
        if (which < 0) {
            const uint64_t back = uint64_t(-int64_t(which));
            if (back > saved_.size()) return;
            keep = saved_.size() - static_cast<size_t>(back);
        } else {
            if (which == 0 || static_cast<size_t>(which) > saved_.size()) return;
            keep = static_cast<size_t>(which) - 1;
        }
        state_ = saved_[keep];
        saved_.resize(keep);
    }

    Brush* Object(int32_t index) {
        if (index <= 0 || index >= 65536) return nullptr;  // 0 is the metafile itself
        if (objects_.size() <= static_cast<size_t>(index)) objects_.resize(static_cast<size_t>(index) + 1);
        return &objects_[static_cast<size_t>(index)];
    }

    void Select(uint32_t index) {
        if (index & 0x80000000u) {
            static const TColor kStock[] = {clWhite, 0xC0C0C0, 0x808080, 0x404040, clBlack};
            const uint32_t stock = index & 0x7FFFFFFF;
            if (stock <= 4) {
                stockBrush_ = Brush{Brush::Solid, kStock[stock]};
                state_.brush = -1;
            } else if (stock == 5) {
                stockBrush_ = Brush{Brush::Hollow, clWhite};
                state_.brush = -1;
            }
            return;
        }
        const Brush* b = index < objects_.size() ? &objects_[index] : nullptr;
        if (b != nullptr && b->kind != Brush::None) state_.brush = static_cast<int32_t>(index);
    }

    const Brush& Current() const {
        if (state_.brush >= 0 && static_cast<size_t>(state_.brush) < objects_.size()) return objects_[state_.brush];
        return stockBrush_;
    }

    // Takes what a blit onto dest draws from the allowance; false, and
    // nothing more drawn, when it is not there.
    bool Take(const TRect& dest) {
        TRect visible;
        const uint64_t pixels = IntersectRect(visible, dest, clip_) ? Area(visible) : 0;
        if (pixels > left_) {
            spent_ = true;
            return false;
        }
        left_ -= pixels;
        if (canvas_ != nullptr) loadwork::AddDrawnPixels(pixels);
        return true;
    }

    void Blit(const Op& op) {
        const uint32_t rop = op.rop;
        TColor brush = clWhite;
        if (NeedsPattern(rop)) {
            const Brush& b = Current();
            if (b.kind != Brush::Solid) return;  // hollow or patterned brushes are not played
            brush = b.color;
        }
        const long double x0 = MapX(op.dx), x1 = MapX(int64_t(op.dx) + op.dw);
        const long double y0 = MapY(op.dy), y1 = MapY(int64_t(op.dy) + op.dh);
        if (!op.bitmap) {
            if (NeedsSource(rop)) return;
            static const TBitmap* dummy = [] {
                auto* b = new TBitmap;
                b->SetPixelFormat(TPixelFormat::pf24bit);
                b->SetSize(1, 1);
                return b;
            }();
            TRect dest = Normalized(ToPixel(x0), ToPixel(y0), ToPixel(x1), ToPixel(y1));
            if (dest.IsEmpty() || !Take(dest) || canvas_ == nullptr) return;
            canvas_->Brush.Color = brush;
            canvas_->CopyMode = static_cast<TCopyMode>(rop);
            canvas_->StretchBlt(dest, *dummy, Rect(0, 0, 1, 1));
            return;
        }
        const TBitmap& bitmap = *op.bitmap;
        if (op.sw == 0 || op.sh == 0) return;
        // The part of the source inside the bitmap, and where its edges land.
        const int64_t s0x = op.sx, s1x = int64_t(op.sx) + op.sw, s0y = op.sy, s1y = int64_t(op.sy) + op.sh;
        const int64_t cx0 = std::max<int64_t>(std::min(s0x, s1x), 0), cx1 = std::min<int64_t>(std::max(s0x, s1x), bitmap.Width());
        const int64_t cy0 = std::max<int64_t>(std::min(s0y, s1y), 0), cy1 = std::min<int64_t>(std::max(s0y, s1y), bitmap.Height());
        if (cx0 >= cx1 || cy0 >= cy1) return;
        auto along = [](long double d0, long double d1, int64_t s0, int64_t s1, int64_t c) {
            return d0 + (c - s0) * (d1 - d0) / static_cast<long double>(s1 - s0);
        };
        const int32_t ax = ToPixel(along(x0, x1, s0x, s1x, cx0)), bx = ToPixel(along(x0, x1, s0x, s1x, cx1));
        const int32_t ay = ToPixel(along(y0, y1, s0y, s1y, cy0)), by = ToPixel(along(y0, y1, s0y, s1y, cy1));
        if (ax == bx || ay == by) return;
        const TRect dest = Normalized(ax, ay, bx, by);
        const TRect src = Rect(static_cast<int32_t>(cx0), static_cast<int32_t>(cy0), static_cast<int32_t>(cx1),
                               static_cast<int32_t>(cy1));
        TRect visible;
        // A canvas without pixels (a recording one) takes what lies outside its clip too.
        if (!IntersectRect(visible, dest, clip_) && (canvas_ == nullptr || canvas_->Target() != nullptr)) return;
        if (!Take(dest) || canvas_ == nullptr) return;
        canvas_->Brush.Color = brush;
        canvas_->CopyMode = static_cast<TCopyMode>(rop);
        if (bx > ax && by > ay) {
            canvas_->StretchBlt(dest, bitmap, src);
            return;
        }
        TBitmap mirrored;
        Mirror(bitmap, src, bx < ax, by < ay, mirrored);
        canvas_->StretchBlt(dest, mirrored, Rect(0, 0, mirrored.Width(), mirrored.Height()));
    }

    static TRect Normalized(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        return Rect(std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1));
    }

    // The source part, flipped, as a 32-bit bitmap.
    static void Mirror(const TBitmap& bitmap, const TRect& src, bool flipX, bool flipY, TBitmap& out) {
        out.SetPixelFormat(TPixelFormat::pf32bit);
        out.SetSize(src.Width(), src.Height());
        out.Canvas().StretchBlt(Rect(0, 0, src.Width(), src.Height()), bitmap, src);
        const int32_t w = out.Width(), h = out.Height();
        if (flipY)
            for (int32_t y = 0; y < h / 2; ++y)
                std::swap_ranges(out.ScanLine(y), out.ScanLine(y) + 4 * size_t(w), out.ScanLine(h - 1 - y));
        if (flipX)
            for (int32_t y = 0; y < h; ++y) {
                auto* row = reinterpret_cast<uint32_t*>(out.ScanLine(y));
                std::reverse(row, row + w);
            }
    }

    TCanvas* canvas_;
    TRect clip_;
    TRect rect_;
    bool enhanced_;
    long double frameLeft_, frameTop_, frameWidth_, frameHeight_;
    uint64_t left_;
    bool spent_ = false;
    DcState state_;
    std::vector<DcState> saved_;
    std::vector<Brush> objects_;
    Brush stockBrush_{Brush::Solid, clWhite};
};

// Refuses a metafile whose records, played at its own size as the loaders
// play it, would write more than a drawing may, before any pixel is drawn.
void CheckDrawing(const OpList& ops, bool enhanced, int64_t width, int64_t height, long double frameLeft,
                  long double frameTop, long double frameWidth, long double frameHeight, size_t fileBytes) {
    const TRect own = Rect(0, 0, static_cast<int32_t>(width), static_cast<int32_t>(height));
    Player player(nullptr, own, own, enhanced, frameLeft, frameTop, frameWidth, frameHeight,
                  DrawAllowance(Area(own), fileBytes));
    for (const auto& op : ops) {
        player.Play(*op);
        if (player.Spent()) InvalidMetafile("drawing too large");
    }
}

struct Registration {
    Registration() {
        TPicture::RegisterFileFormat("emf", "Enhanced Metafiles", TMetafile::StaticClass());
        TPicture::RegisterFileFormat("wmf", "Metafiles", TMetafile::StaticClass());
    }
} registration;

}  // namespace

// ------------------------------------------------------------ TMetafile

QUILLARC_DEFINE_GRAPHIC(TMetafile, TGraphic)

TMetafile::TMetafile() = default;
TMetafile::~TMetafile() = default;

bool TMetafile::Empty() const { return data_.empty(); }

void TMetafile::SetWidth(int32_t value) {
    if (value < 0) throw EInvalidGraphicOperation("Invalid metafile size");
    width_ = value;
    Changed(this);
}

void TMetafile::SetHeight(int32_t value) {
    if (value < 0) throw EInvalidGraphicOperation("Invalid metafile size");
    height_ = value;
    Changed(this);
}

int32_t TMetafile::MMWidth() const { return num::MulDiv(width_, kHundredthMmPerInch, kMetafilePixelsPerInch); }
int32_t TMetafile::MMHeight() const { return num::MulDiv(height_, kHundredthMmPerInch, kMetafilePixelsPerInch); }

void TMetafile::Clear() {
    data_.clear();
    ops_.clear();
    enhanced_ = true;
    width_ = height_ = 0;
    frameLeft_ = frameTop_ = 0;
    frameWidth_ = frameHeight_ = 1;
}

void TMetafile::LoadFromStream(TStream& stream) {
    const int64_t start = stream.Position();
    const int64_t available = stream.Remaining();
    uint8_t probe[22] = {};
    const int64_t got = stream.Read(probe, sizeof probe);
    stream.SetPosition(start);
    if (got >= 4 && Get32(probe) == kPlaceableKey) {
        if (got < 22) InvalidMetafile("placeable header cut short");
    } else if (got >= 8 && Get32(probe) == EMR_HEADER) {
        // An enhanced metafile: its header says how long it is.
        uint8_t head[88];
        if (available < 88) InvalidMetafile("header cut short");
        stream.ReadBuffer(head, sizeof head);
        if (Get32(head + 40) != kEmfSignature) InvalidMetafile("bad signature");
        const uint32_t bytes = Get32(head + 48);
        if (bytes < 88 || bytes > available) InvalidMetafile("bad length");
        std::vector<uint8_t> data(bytes);
        std::memcpy(data.data(), head, sizeof head);
        stream.ReadBuffer(data.data() + 88, bytes - 88);
        LoadEnhanced(std::move(data));
        return;
    } else if (got < 18) {
        InvalidMetafile("unknown format");
    }
    // A Windows metafile does not reliably say its length: take the rest of
    // the stream and stop at its end record.
    if (available > std::numeric_limits<int32_t>::max()) InvalidMetafile("too large");
    std::vector<uint8_t> data(static_cast<size_t>(available));
    stream.ReadBuffer(data.data(), available);
    const bool placeable = Get32(data.data()) == kPlaceableKey;
    LoadWindows(std::move(data), placeable ? 22 : 0, placeable);
}

void TMetafile::LoadEnhanced(std::vector<uint8_t> data, bool recorded) {
    const uint8_t* d = data.data();
    const size_t size = data.size();
    const uint32_t headerSize = Get32(d + 4);
    if (headerSize < 88 || headerSize > size || headerSize % 4 != 0) InvalidMetafile("bad header size");
    const int32_t bounds[4] = {GetS32(d + 8), GetS32(d + 12), GetS32(d + 16), GetS32(d + 20)};
    const int32_t frame[4] = {GetS32(d + 24), GetS32(d + 28), GetS32(d + 32), GetS32(d + 36)};
    // Reference device pixels per 0.01 mm; micrometres when the header has them.
    long double perX = 0, perY = 0;
    if (headerSize >= 108 && GetS32(d + 100) > 0 && GetS32(d + 104) > 0 && GetS32(d + 72) > 0 && GetS32(d + 76) > 0) {
        perX = GetS32(d + 72) * 10.0L / GetS32(d + 100);
        perY = GetS32(d + 76) * 10.0L / GetS32(d + 104);
    } else if (GetS32(d + 72) > 0 && GetS32(d + 76) > 0 && GetS32(d + 80) > 0 && GetS32(d + 84) > 0) {
        perX = GetS32(d + 72) / (GetS32(d + 80) * 100.0L);
        perY = GetS32(d + 76) / (GetS32(d + 84) * 100.0L);
    } else {
        perX = perY = kMetafilePixelsPerInch / static_cast<long double>(kHundredthMmPerInch);
    }

    int64_t width, height;
    long double fl, ft, fw, fh;
    const int64_t frameW = int64_t(frame[2]) - frame[0], frameH = int64_t(frame[3]) - frame[1];
    if (frameW > 0 && frameH > 0) {
        width = (frameW * kMetafilePixelsPerInch + kHundredthMmPerInch / 2) / kHundredthMmPerInch;
        height = (frameH * kMetafilePixelsPerInch + kHundredthMmPerInch / 2) / kHundredthMmPerInch;
        fl = frame[0] * perX, ft = frame[1] * perY, fw = frameW * perX, fh = frameH * perY;
    } else {
        // No frame: the bounds (inclusive device pixels) are the picture.
        const int64_t bw = int64_t(bounds[2]) - bounds[0] + 1, bh = int64_t(bounds[3]) - bounds[1] + 1;
        if (bw > 0 && bh > 0) {
            const long double toScreen = kMetafilePixelsPerInch / (kHundredthMmPerInch * perX);
            width = num::RoundEven(bw * toScreen);
            height = num::RoundEven(bh * (kMetafilePixelsPerInch / (kHundredthMmPerInch * perY)));
            fl = bounds[0], ft = bounds[1], fw = static_cast<long double>(bw), fh = static_cast<long double>(bh);
        } else {
            width = height = 0;
            fl = ft = 0, fw = fh = 1;
        }
    }
    CheckPictureSize(width, height);

    OpList ops;
    PixelBudget budget = BudgetFor(size);
    size_t at = headerSize;
    // Every record is at least 8 bytes long, so this walk ends.
    while (at + 8 <= size) {
        const uint32_t type = Get32(d + at), length = Get32(d + at + 4);
        if (length < 8 || length % 4 != 0 || length > size - at) InvalidMetafile(Format("bad record length at %zu", at));
        if (type == EMR_EOF) break;
        if (type == EMR_HEADER) InvalidMetafile("second header");
        try {
            ParseEmfRecord(d + at, type, length, ops, budget);
        } catch (const UndrawableBitmap&) {
            // skipped: the record's bitmap cannot be drawn
        }
        at += length;
    }
    // Tolerated: a metafile that ends without its EOF record plays the
    // records it has.
    if (!recorded) CheckDrawing(ops, true, width, height, fl, ft, fw, fh, size);
    data_ = std::move(data);
    ops_ = std::move(ops);
    enhanced_ = true;
    width_ = static_cast<int32_t>(width);
    height_ = static_cast<int32_t>(height);
    frameLeft_ = fl, frameTop_ = ft, frameWidth_ = fw, frameHeight_ = fh;
    Changed(this);
}

void TMetafile::LoadWindows(std::vector<uint8_t> data, size_t start, bool placeable) {
    const uint8_t* d = data.data();
    const size_t size = data.size();
    int64_t width = 0, height = 0;
    long double fl = 0, ft = 0, fw = 1, fh = 1;
    if (placeable) {
        // Tolerated: a wrong checksum in the placeable header; the rest of
        // the header is checked and is what matters.
        const int16_t left = GetS16(d + 6), top = GetS16(d + 8), right = GetS16(d + 10), bottom = GetS16(d + 12);
        const uint16_t inch = Get16(d + 14);
        if (inch == 0) InvalidMetafile("zero units per inch");
        const int64_t w = int64_t(right) - left, h = int64_t(bottom) - top;
        width = (std::abs(w) * kMetafilePixelsPerInch + inch / 2) / inch;
        height = (std::abs(h) * kMetafilePixelsPerInch + inch / 2) / inch;
        fl = left, ft = top, fw = w ? w : 1, fh = h ? h : 1;
    }
    if (size < start + 18) InvalidMetafile("header cut short");
    const uint8_t* h = d + start;
    const uint16_t type = Get16(h), headerWords = Get16(h + 2), version = Get16(h + 4);
    if ((type != 1 && type != 2) || headerWords != 9 || (version != 0x0100 && version != 0x0300))
        InvalidMetafile("unknown format");

    OpList ops;
    PixelBudget budget = BudgetFor(size);
    WmfFrame frame;
    size_t at = start + 18;
    bool ended = false;
    // Every record is at least 6 bytes long, so this walk ends.
    while (at + 6 <= size) {
        const uint64_t length = uint64_t(Get32(d + at)) * 2;
        const uint16_t function = Get16(d + at + 4);
        if (length < 6 || length > size - at) InvalidMetafile(Format("bad record length at %zu", at));
        if (function == META_EOF) {
            ended = true;
            break;
        }
        try {
            ParseWmfRecord(d + at, function, static_cast<size_t>(length), ops, budget, frame);
        } catch (const UndrawableBitmap&) {
            // skipped: the record's bitmap cannot be drawn
        }
        at += static_cast<size_t>(length);
    }
    (void)ended;  // tolerated as for enhanced metafiles: a missing end record
    if (!placeable) {
        // A plain Windows metafile has no size of its own: its first window,
        // else what its records cover, in logical units taken as pixels.
        if (frame.haveExt && frame.extX != 0 && frame.extY != 0) {
            fl = frame.orgX, ft = frame.orgY, fw = frame.extX, fh = frame.extY;
            width = std::abs(int64_t(frame.extX));
            height = std::abs(int64_t(frame.extY));
        } else if (frame.drawn && frame.right > frame.left && frame.bottom > frame.top) {
            fl = static_cast<long double>(frame.left), ft = static_cast<long double>(frame.top);
            fw = static_cast<long double>(frame.right - frame.left), fh = static_cast<long double>(frame.bottom - frame.top);
            width = frame.right - frame.left;
            height = frame.bottom - frame.top;
        }
    }
    CheckPictureSize(width, height);
    CheckDrawing(ops, false, width, height, fl, ft, fw, fh, size);
    data_ = std::move(data);
    ops_ = std::move(ops);
    enhanced_ = false;
    width_ = static_cast<int32_t>(width);
    height_ = static_cast<int32_t>(height);
    frameLeft_ = fl, frameTop_ = ft, frameWidth_ = fw, frameHeight_ = fh;
    Changed(this);
}

void TMetafile::SaveToStream(TStream& stream) {
    if (data_.empty()) throw EInvalidGraphic("Cannot save an empty metafile");
    stream.WriteBuffer(data_.data(), static_cast<int64_t>(data_.size()));
}

void TMetafile::Draw(TCanvas& canvas, const TRect& rect) {
    if (Empty() || rect.IsEmpty() || ops_.empty()) return;
    const TCopyMode mode = canvas.CopyMode;
    const TBrush brush = canvas.Brush;
    // A loaded metafile draws whole at its own size (loading refuses one
    // that would not); drawn into another rectangle, it stops at the first
    // record past its allowance and keeps what it drew.
    const TRect clip = canvas.ClipRect();
    TRect shown;
    const uint64_t allowance = DrawAllowance(IntersectRect(shown, rect, clip) ? Area(shown) : 0, data_.size());
    Player player(&canvas, clip, rect, enhanced_, frameLeft_, frameTop_, frameWidth_, frameHeight_, allowance);
    try {
        for (const auto& op : ops_) {
            player.Play(*op);
            if (player.Spent()) break;
        }
    } catch (...) {
        canvas.CopyMode = mode;
        canvas.Brush = brush;
        throw;
    }
    canvas.CopyMode = mode;
    canvas.Brush = brush;
    canvas.Changed();
}

void TMetafile::Assign(const TPersistent* source) {
    if (auto* other = dynamic_cast<const TMetafile*>(source)) {
        if (other == this) return;
        data_ = other->data_;
        ops_ = other->ops_;  // immutable once parsed, so shared
        enhanced_ = other->enhanced_;
        width_ = other->width_;
        height_ = other->height_;
        frameLeft_ = other->frameLeft_, frameTop_ = other->frameTop_;
        frameWidth_ = other->frameWidth_, frameHeight_ = other->frameHeight_;
        Changed(this);
        return;
    }
    TGraphic::Assign(source);
}

void TMetafile::AssignTo(TPersistent* dest) const {
    if (auto* bitmap = dynamic_cast<TBitmap*>(dest)) {
        bitmap->ReleaseImage();
        bitmap->SetPixelFormat(TPixelFormat::pf32bit);
        bitmap->SetSize(width_, height_);
        TCanvas& canvas = bitmap->Canvas();
        const TColor old = canvas.Brush.Color;
        canvas.Brush.Color = clWhite;
        canvas.FillRect(Rect(0, 0, width_, height_));
        canvas.Brush.Color = old;
        const_cast<TMetafile*>(this)->Draw(canvas, Rect(0, 0, width_, height_));
        return;
    }
    TGraphic::AssignTo(dest);
}

// ------------------------------------------------------------ recording

TMetafileCanvas::TMetafileCanvas(TMetafile* metafile, HDC) : TCanvas(nullptr), metafile_(metafile) {
    if (metafile_ == nullptr) throw EInvalidGraphicOperation("A metafile canvas needs a metafile");
}

TRect TMetafileCanvas::ClipRect() const { return Rect(0, 0, metafile_->Width(), metafile_->Height()); }

void TMetafileCanvas::Include(const TRect& rect) {
    if (rect.IsEmpty()) return;
    if (!drawn_) {
        bounds_ = rect;
        drawn_ = true;
        return;
    }
    bounds_ = Rect(std::min(bounds_.Left, rect.Left), std::min(bounds_.Top, rect.Top),
                   std::max(bounds_.Right, rect.Right), std::max(bounds_.Bottom, rect.Bottom));
}

// One EMR_STRETCHDIBITS holding srcRect of source as a 24-bit bottom-up DIB.
void TMetafileCanvas::RecordBitmap(const TRect& dest, const TBitmap& source, const TRect& srcRect) {
    TRect src;
    if (dest.IsEmpty() || !IntersectRect(src, srcRect, Rect(0, 0, source.Width(), source.Height()))) return;
    const TBitmap* pixels = &source;
    TBitmap converted;
    if (source.PixelFormat() != TPixelFormat::pf24bit) {
        converted.Assign(&source);
        converted.SetPixelFormat(TPixelFormat::pf24bit);
        pixels = &converted;
    }
    const uint64_t stride = ((uint64_t(src.Width()) * 24 + 31) / 32) * 4;
    const uint64_t bitsSize = stride * uint64_t(src.Height());
    constexpr uint64_t kFixed = 80 + 40;
    if (bitsSize > std::numeric_limits<uint32_t>::max() - kFixed - records_.size())
        throw EInvalidGraphicOperation("Picture too large for a metafile");
    records_.reserve(records_.size() + kFixed + bitsSize);
    Put32(records_, EMR_STRETCHDIBITS);
    Put32(records_, static_cast<uint32_t>(kFixed + bitsSize));
    PutS32(records_, dest.Left);
    PutS32(records_, dest.Top);
    PutS32(records_, dest.Right - 1);
    PutS32(records_, dest.Bottom - 1);
    PutS32(records_, dest.Left);          // xDest
    PutS32(records_, dest.Top);           // yDest
    PutS32(records_, 0);                  // xSrc
    PutS32(records_, 0);                  // ySrc
    PutS32(records_, src.Width());        // cxSrc
    PutS32(records_, src.Height());       // cySrc
    Put32(records_, 80);                  // offBmiSrc
    Put32(records_, 40);                  // cbBmiSrc
    Put32(records_, 120);                 // offBitsSrc
    Put32(records_, static_cast<uint32_t>(bitsSize));
    Put32(records_, 0);                   // DIB_RGB_COLORS
    Put32(records_, CopyMode);
    PutS32(records_, dest.Width());
    PutS32(records_, dest.Height());
    // BITMAPINFOHEADER
    Put32(records_, 40);
    PutS32(records_, src.Width());
    PutS32(records_, src.Height());
    Put16(records_, 1);
    Put16(records_, 24);
    Put32(records_, 0);
    Put32(records_, static_cast<uint32_t>(bitsSize));
    Put32(records_, 3780);  // 96 per inch in pixels per metre
    Put32(records_, 3780);
    Put32(records_, 0);
    Put32(records_, 0);
    const size_t bitsAt = records_.size();
    records_.resize(bitsAt + bitsSize, 0);
    for (int32_t y = 0; y < src.Height(); ++y) {
        const uint8_t* row = pixels->ScanLine(src.Top + y) + size_t(src.Left) * 3;
        uint8_t* out = records_.data() + bitsAt + stride * uint64_t(src.Height() - 1 - y);
        std::memcpy(out, row, size_t(src.Width()) * 3);
    }
    ++recordCount_;
    Include(dest);
}

void TMetafileCanvas::Draw(int32_t x, int32_t y, TGraphic& graphic) {
    if (graphic.Empty()) return;
    StretchDraw(Bounds(x, y, graphic.Width(), graphic.Height()), graphic);
}

void TMetafileCanvas::StretchDraw(const TRect& rect, TGraphic& graphic) {
    if (graphic.Empty()) return;
    if (auto* bitmap = dynamic_cast<TBitmap*>(&graphic)) {
        RecordBitmap(rect, *bitmap, Rect(0, 0, bitmap->Width(), bitmap->Height()));
    } else {
        // Other pictures are recorded as the bitmap they draw.
        TBitmap drawn;
        drawn.Assign(&graphic);
        RecordBitmap(rect, drawn, Rect(0, 0, drawn.Width(), drawn.Height()));
    }
    Changed();
}

void TMetafileCanvas::FillRect(const TRect& rect) {
    TBitmap colour;
    colour.SetPixelFormat(TPixelFormat::pf24bit);
    colour.SetSize(1, 1);
    colour.SetPixel(0, 0, ColorToRGB(Brush.Color));
    const TCopyMode mode = CopyMode;
    CopyMode = cmSrcCopy;
    RecordBitmap(rect, colour, Rect(0, 0, 1, 1));
    CopyMode = mode;
    Changed();
}

void TMetafileCanvas::CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect) {
    if (source.Target() == nullptr) return;
    RecordBitmap(dest, *source.Target(), sourceRect);
    Changed();
}

void TMetafileCanvas::StretchBlt(const TRect& destRect, const TBitmap& source, const TRect& srcRect,
                                 const TBitmap* mask) {
    if (mask != nullptr) throw EInvalidGraphicOperation("Masked drawing cannot be recorded in a metafile");
    RecordBitmap(destRect, source, srcRect);
    Changed();
}

void TMetafileCanvas::InvertRect(const TRect& rect) {
    if (rect.IsEmpty()) return;
    // EMR_BITBLT with no source bitmap.
    Put32(records_, EMR_BITBLT);
    Put32(records_, 100);
    PutS32(records_, rect.Left);
    PutS32(records_, rect.Top);
    PutS32(records_, rect.Right - 1);
    PutS32(records_, rect.Bottom - 1);
    PutS32(records_, rect.Left);
    PutS32(records_, rect.Top);
    PutS32(records_, rect.Width());
    PutS32(records_, rect.Height());
    Put32(records_, kDstInvert);
    PutS32(records_, 0);  // xSrc
    PutS32(records_, 0);  // ySrc
    const float identity[6] = {1, 0, 0, 1, 0, 0};
    for (float f : identity) {
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        Put32(records_, bits);
    }
    for (int i = 0; i < 6; ++i) Put32(records_, 0);  // background, usage, no bitmap
    ++recordCount_;
    Include(rect);
    Changed();
}

TMetafileCanvas::~TMetafileCanvas() {
    // A destructor cannot report a failure; the metafile is then left empty
    // rather than holding half a recording.
    try {
        int32_t width = metafile_->Width(), height = metafile_->Height();
        if ((width == 0 || height == 0) && drawn_) {
            width = std::max(0, bounds_.Right);
            height = std::max(0, bounds_.Bottom);
        }
        std::vector<uint8_t> out;
        out.reserve(108 + records_.size() + 20);
        Put32(out, EMR_HEADER);
        Put32(out, 108);
        if (drawn_) {
            PutS32(out, bounds_.Left), PutS32(out, bounds_.Top);
            PutS32(out, bounds_.Right - 1), PutS32(out, bounds_.Bottom - 1);
        } else {
            PutS32(out, 0), PutS32(out, 0), PutS32(out, -1), PutS32(out, -1);
        }
        PutS32(out, 0);
        PutS32(out, 0);
        PutS32(out, num::MulDiv(width, kHundredthMmPerInch, kMetafilePixelsPerInch));
        PutS32(out, num::MulDiv(height, kHundredthMmPerInch, kMetafilePixelsPerInch));
        Put32(out, kEmfSignature);
        Put32(out, 0x10000);
        const uint64_t total = 108 + uint64_t(records_.size()) + 20;
        if (total > std::numeric_limits<uint32_t>::max()) throw EInvalidGraphicOperation("Metafile too large");
        Put32(out, static_cast<uint32_t>(total));
        Put32(out, recordCount_ + 2);
        Put16(out, 1);  // nHandles: the metafile's own
        Put16(out, 0);
        Put32(out, 0);  // no description
        Put32(out, 0);
        Put32(out, 0);  // no palette
        PutS32(out, kRefDevice[0]), PutS32(out, kRefDevice[1]);
        PutS32(out, kRefMillimeters[0]), PutS32(out, kRefMillimeters[1]);
        Put32(out, 0), Put32(out, 0), Put32(out, 0);  // no pixel format, no OpenGL
        PutS32(out, kRefMillimeters[0] * 1000), PutS32(out, kRefMillimeters[1] * 1000);
        out.insert(out.end(), records_.begin(), records_.end());
        records_.clear();
        records_.shrink_to_fit();
        Put32(out, EMR_EOF);
        Put32(out, 20);
        Put32(out, 0);   // nPalEntries
        Put32(out, 16);  // offPalEntries
        Put32(out, 20);  // nSizeLast
        // Taken as drawn, however much it draws: refusing it would lose
        // what was recorded.
        metafile_->LoadEnhanced(std::move(out), true);
        // The size as set, not as measured back from the frame.
        metafile_->width_ = width;
        metafile_->height_ = height;
    } catch (...) {
        metafile_->Clear();
    }
}
