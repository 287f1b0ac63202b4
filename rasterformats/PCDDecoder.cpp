#include "rasterformats/PCDDecoder.h"

#include <vector>

#include "platform/core/SysUtils.h"
#include "rasterformats/RasterColor.h"
#include "rasterformats/RasterStrings.h"

namespace {

constexpr int64_t kSectorSize = 2048;

struct Entry {
    uint32_t code, mask;
    int8_t delta;
    uint8_t length;
};

// A 32-bit window on the coded bits: `count` bits are valid from the top;
// whenever 24 or fewer are, the next byte goes in right behind them.
class BitWindow {
public:
    explicit BitWindow(TStream& stream) : stream_(stream), buffer_(kSectorSize) {}
    uint32_t Bits() const { return accumulator_; }
    void Shift(int n) {
        accumulator_ <<= n;
        count_ -= n;
        while (count_ <= 24) {
            accumulator_ |= static_cast<uint32_t>(NextByte()) << (24 - count_);
            count_ += 8;
        }
    }

private:
    uint8_t NextByte() {
        if (position_ == buffer_.size()) {
            stream_.ReadBuffer(buffer_.data(), kSectorSize);
            position_ = 0;
        }
        return buffer_[position_++];
    }

    TStream& stream_;
    std::vector<uint8_t> buffer_;
    size_t position_ = kSectorSize;
    uint32_t accumulator_ = 0;
    int count_ = 32;
};

// Bytes until the 12 bits below the top byte are all set, then bits until
// the top 24 are 23 ones and a zero: a row header.
void Synchronise(BitWindow& bits) {
    while ((bits.Bits() & 0xFFF000) != 0xFFF000) bits.Shift(8);
    while ((bits.Bits() & 0xFFFFFF00) != 0xFFFFFE00) bits.Shift(1);
}

}  // namespace

TPCDDecoder::TPCDDecoder(TStream& stream) : stream_(stream) {}

void TPCDDecoder::Decode(const TPCDPlanes& planes, int32_t rowStride, int32_t stopRow) {
    if (rowStride <= 0) return;
    BitWindow bits(stream_);
    // The tables come byte by byte through the low end of the window.
    auto nextByte = [&bits]() {
        bits.Shift(8);
        return static_cast<uint8_t>(bits.Bits());
    };
    const int tableCount = rowStride <= 1536 ? 1 : 3;
    std::vector<Entry> tables[3];
    for (int t = 0; t < tableCount; ++t) {
        const int entries = nextByte() + 1;
        for (int i = 0; i < entries; ++i) {
            const int length = nextByte() + 1;
            if (length > 16) return;  // no table of this data: nothing is written
            const uint32_t high = nextByte();
            const uint32_t code = ((high << 8) | nextByte()) << 16;
            const auto delta = static_cast<int8_t>(nextByte());
            const uint32_t mask = ~0u << (32 - length);
            tables[t].push_back(Entry{code, mask, delta, static_cast<uint8_t>(length)});
        }
    }
    bits.Shift(16);
    bits.Shift(16);
    Synchronise(bits);

    const std::vector<Entry>* table = &tables[0];
    uint8_t* rowStart = nullptr;  // nullptr: a row no plane holds
    int32_t column = 0;
    for (;;) {
        if ((bits.Bits() & 0xFFFFFF00) == 0xFFFFFE00) {
            bits.Shift(16);
            const int32_t row = static_cast<int32_t>((bits.Bits() >> 9) & 0x1FFF);
            if (row == stopRow) return;
            bits.Shift(8);
            const uint32_t plane = bits.Bits() >> 30;
            bits.Shift(16);
            if (plane == 1) throw EAbort("");
            const int index = plane == 0 ? 0 : static_cast<int>(plane) - 1;
            if (index >= tableCount)
                throw EGraphicCompression(Format(raster::kCompressionError, "PCD"));
            table = &tables[index];
            const int32_t planeRow = index == 0 ? row : row >> 1;
            rowStart = planeRow < planes.rows[index] && planes.plane[index] != nullptr
                           ? planes.plane[index] + int64_t(planeRow) * rowStride
                           : nullptr;
            column = 0;
            continue;
        }
        const Entry* match = nullptr;
        for (const Entry& e : *table) {
            if ((bits.Bits() & e.mask) == e.code) {
                match = &e;
                break;
            }
        }
        if (match == nullptr) {
            Synchronise(bits);
            continue;
        }
        if (column < rowStride) {
            if (rowStart != nullptr) rowStart[column] = SaturateByte(rowStart[column] + match->delta);
            ++column;
        }
        bits.Shift(match->length);
    }
}
