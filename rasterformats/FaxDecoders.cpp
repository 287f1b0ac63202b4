#include "rasterformats/FaxDecoders.h"

#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>

#include "platform/core/Parallel.h"
#include "platform/core/PixelBuffer.h"

namespace {

struct Code {
    int32_t run;
    std::string_view bits;
};

// The terminating codes (runs 0 to 63) and make-up codes (64 to 1728) of
// ITU-T T.4, for white and for black runs.
constexpr Code kWhiteCodes[] = {
    {0, "00110101"},     {1, "000111"},       {2, "0111"},         {3, "1000"},         {4, "1011"},
    {5, "1100"},         {6, "1110"},         {7, "1111"},         {8, "10011"},        {9, "10100"},
    {10, "00111"},       {11, "01000"},       {12, "001000"},      {13, "000011"},      {14, "110100"},
    {15, "110101"},      {16, "101010"},      {17, "101011"},      {18, "0100111"},     {19, "0001100"},
    {20, "0001000"},     {21, "0010111"},     {22, "0000011"},     {23, "0000100"},     {24, "0101000"},
    {25, "0101011"},     {26, "0010011"},     {27, "0100100"},     {28, "0011000"},     {29, "00000010"},
    {30, "00000011"},    {31, "00011010"},    {32, "00011011"},    {33, "00010010"},    {34, "00010011"},
    {35, "00010100"},    {36, "00010101"},    {37, "00010110"},    {38, "00010111"},    {39, "00101000"},
    {40, "00101001"},    {41, "00101010"},    {42, "00101011"},    {43, "00101100"},    {44, "00101101"},
    {45, "00000100"},    {46, "00000101"},    {47, "00001010"},    {48, "00001011"},    {49, "01010010"},
    {50, "01010011"},    {51, "01010100"},    {52, "01010101"},    {53, "00100100"},    {54, "00100101"},
    {55, "01011000"},    {56, "01011001"},    {57, "01011010"},    {58, "01011011"},    {59, "01001010"},
    {60, "01001011"},    {61, "00110010"},    {62, "00110011"},    {63, "00110100"},    {64, "11011"},
    {128, "10010"},      {192, "010111"},     {256, "0110111"},    {320, "00110110"},   {384, "00110111"},
    {448, "01100100"},   {512, "01100101"},   {576, "01101000"},   {640, "01100111"},   {704, "011001100"},
    {768, "011001101"},  {832, "011010010"},  {896, "011010011"},  {960, "011010100"},  {1024, "011010101"},
    {1088, "011010110"}, {1152, "011010111"}, {1216, "011011000"}, {1280, "011011001"}, {1344, "011011010"},
    {1408, "011011011"}, {1472, "010011000"}, {1536, "010011001"}, {1600, "010011010"}, {1664, "011000"},
    {1728, "010011011"},
};

constexpr Code kBlackCodes[] = {
    {0, "0000110111"},     {1, "010"},            {2, "11"},             {3, "10"},
    {4, "011"},            {5, "0011"},           {6, "0010"},           {7, "00011"},
    {8, "000101"},         {9, "000100"},         {10, "0000100"},       {11, "0000101"},
    {12, "0000111"},       {13, "00000100"},      {14, "00000111"},      {15, "000011000"},
    {16, "0000010111"},    {17, "0000011000"},    {18, "0000001000"},    {19, "00001100111"},
    {20, "00001101000"},   {21, "00001101100"},   {22, "00000110111"},   {23, "00000101000"},
    {24, "00000010111"},   {25, "00000011000"},   {26, "000011001010"},  {27, "000011001011"},
    {28, "000011001100"},  {29, "000011001101"},  {30, "000001101000"},  {31, "000001101001"},
    {32, "000001101010"},  {33, "000001101011"},  {34, "000011010010"},  {35, "000011010011"},
    {36, "000011010100"},  {37, "000011010101"},  {38, "000011010110"},  {39, "000011010111"},
    {40, "000001101100"},  {41, "000001101101"},  {42, "000011011010"},  {43, "000011011011"},
    {44, "000001010100"},  {45, "000001010101"},  {46, "000001010110"},  {47, "000001010111"},
    {48, "000001100100"},  {49, "000001100101"},  {50, "000001010010"},  {51, "000001010011"},
    {52, "000000100100"},  {53, "000000110111"},  {54, "000000111000"},  {55, "000000100111"},
    {56, "000000101000"},  {57, "000001011000"},  {58, "000001011001"},  {59, "000000101011"},
    {60, "000000101100"},  {61, "000001011010"},  {62, "000001100110"},  {63, "000001100111"},
    {64, "0000001111"},    {128, "000011001000"}, {192, "000011001001"}, {256, "000001011011"},
    {320, "000000110011"}, {384, "000000110100"}, {448, "000000110101"}, {512, "0000001101100"},
    {576, "0000001101101"}, {640, "0000001001010"}, {704, "0000001001011"}, {768, "0000001001100"},
    {832, "0000001001101"}, {896, "0000001110010"}, {960, "0000001110011"}, {1024, "0000001110100"},
    {1088, "0000001110101"}, {1152, "0000001110110"}, {1216, "0000001110111"}, {1280, "0000001010010"},
    {1344, "0000001010011"}, {1408, "0000001010100"}, {1472, "0000001010101"}, {1536, "0000001011010"},
    {1600, "0000001011011"}, {1664, "0000001100100"}, {1728, "0000001100101"},
};

// Both colours: the extended make-up codes, the end-of-line code and the
// bit patterns that can only be damage.
constexpr Code kSharedCodes[] = {
    {1792, "00000001000"},  {1856, "00000001100"},  {1920, "00000001101"},  {1984, "000000010010"},
    {2048, "000000010011"}, {2112, "000000010100"}, {2176, "000000010101"}, {2240, "000000010110"},
    {2304, "000000010111"}, {2368, "000000011100"}, {2432, "000000011101"}, {2496, "000000011110"},
    {2560, "000000011111"}, {-1, "000000000001"},   {-2, "000000001"},      {-2, "0000000001"},
    {-2, "00000000001"},    {-2, "000000000000"},
};

using States = std::vector<TCCITTDecoder::TState>;

void Insert(States& tree, const Code& code) {
    int32_t node = 0;
    for (char c : code.bits) {
        const int bit = c == '1';
        if (tree[static_cast<size_t>(node)].child[bit] == 0) {
            tree.push_back(TCCITTDecoder::TState{{0, 0}, 0});
            tree[static_cast<size_t>(node)].child[bit] = static_cast<int32_t>(tree.size() - 1);
        }
        node = tree[static_cast<size_t>(node)].child[bit];
    }
    tree[static_cast<size_t>(node)].value = code.run;
}

template <size_t N>
States BuildTree(const Code (&codes)[N]) {
    States tree(1, TCCITTDecoder::TState{{0, 0}, 0});
    for (const Code& c : codes) Insert(tree, c);
    for (const Code& c : kSharedCodes) Insert(tree, c);
    return tree;
}

constexpr uint8_t Reversed(uint8_t b) {
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

constexpr auto kReversed = [] {
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) t[size_t(i)] = Reversed(static_cast<uint8_t>(i));
    return t;
}();

// Every code is at most this long, so the next kLongBits bits of the data
// decide where a walk down a tree from its root stops; the next kShortBits
// decide it for the short codes, which are most of the codes in a picture.
constexpr int kLongBits = 13;
constexpr int kShortBits = 9;

// Where the walk from the root stops for a pattern of the next bits: the
// value of the node it stops at, the bits it took (0 when the pattern does
// not decide it) and how many of those end in zeros.
struct Lookup {
    int16_t value;
    uint8_t length;
    uint8_t trailingZeros;
};

template <int Bits>
std::array<Lookup, size_t(1) << Bits> BuildLookup(const States& tree) {
    std::array<Lookup, size_t(1) << Bits> table{};
    for (uint32_t pattern = 0; pattern < table.size(); ++pattern) {
        int32_t node = 0;
        int length = 0;
        for (;;) {
            const TCCITTDecoder::TState& state = tree[static_cast<size_t>(node)];
            const bool leaf = state.child[0] == 0 && state.child[1] == 0;
            if (length == Bits && !leaf) {
                length = 0;  // the walk goes on past the bits looked at
                break;
            }
            const int bit = length == Bits ? 0 : (pattern >> (Bits - 1 - length)) & 1;
            if (state.child[bit] == 0) break;
            node = state.child[bit];
            ++length;
        }
        const uint32_t taken = length == 0 ? 0 : pattern >> (Bits - length);
        table[pattern] = Lookup{static_cast<int16_t>(tree[static_cast<size_t>(node)].value), static_cast<uint8_t>(length),
                                static_cast<uint8_t>(taken == 0 ? length : std::countr_zero(taken))};
    }
    return table;
}

struct Lookups {
    std::array<Lookup, size_t(1) << kShortBits> shortCodes;
    std::array<Lookup, size_t(1) << kLongBits> longCodes;
};

// Sets bits from to from + count - 1 (count > 0) of a row, first bit most
// significant.
void SetBits(uint8_t* row, int32_t from, int32_t count) {
    const int32_t first = from >> 3, last = (from + count - 1) >> 3;
    const auto head = static_cast<uint8_t>(0xFF >> (from & 7));
    const auto tail = static_cast<uint8_t>(0xFF << (7 - ((from + count - 1) & 7)));
    if (first == last) {
        row[first] |= head & tail;
        return;
    }
    row[first] |= head;
    std::memset(row + first + 1, 0xFF, static_cast<size_t>(last - first - 1));
    row[last] |= tail;
}

const Lookups& WhiteLookups() {
    static const Lookups tables{BuildLookup<kShortBits>(TCCITTDecoder::WhiteStates()),
                                BuildLookup<kLongBits>(TCCITTDecoder::WhiteStates())};
    return tables;
}

const Lookups& BlackLookups() {
    static const Lookups tables{BuildLookup<kShortBits>(TCCITTDecoder::BlackStates()),
                                BuildLookup<kLongBits>(TCCITTDecoder::BlackStates())};
    return tables;
}

}  // namespace

const std::vector<TCCITTDecoder::TState>& TCCITTDecoder::WhiteStates() {
    static const States tree = BuildTree(kWhiteCodes);
    return tree;
}

const std::vector<TCCITTDecoder::TState>& TCCITTDecoder::BlackStates() {
    static const States tree = BuildTree(kBlackCodes);
    return tree;
}

TCCITTDecoder::TCCITTDecoder(int32_t options, bool swapBits, bool wordAligned, int32_t width)
    : options_(options), swapBits_(swapBits), wordAligned_(wordAligned), width_(width < 0 ? 0 : width) {
    WhiteLookups();
    BlackLookups();
}

void TCCITTDecoder::Start(const uint8_t* source, int64_t packedSize, uint8_t* dest, int64_t unpackedSize) {
    source_ = source;
    packedSize_ = source == nullptr ? 0 : std::max<int64_t>(packedSize, 0);
    position_ = 0;
    zeroRun_ = 0;
    dest_ = dest;
    unpackedSize_ = dest == nullptr ? 0 : std::max<int64_t>(unpackedSize, 0);
    if (unpackedSize_ > 0) std::memset(dest_, 0, static_cast<size_t>(unpackedSize_));
    rowBytes_ = (int64_t(width_) + 7) / 8;
    row_ = 0;
    x_ = 0;
    isWhite_ = true;
}

uint8_t TCCITTDecoder::Byte(int64_t index) const { return swapBits_ ? kReversed[source_[index]] : source_[index]; }

int TCCITTDecoder::ReadBit() {
    if (!InputLeft()) return 0;
    const int bit = (Byte(position_ >> 3) >> (7 - (position_ & 7))) & 1;
    ++position_;
    zeroRun_ = bit ? 0 : zeroRun_ + 1;
    return bit;
}

uint64_t TCCITTDecoder::Window(int64_t index) const {
    uint64_t word;
    std::memcpy(&word, source_ + index, 8);
    if (swapBits_) {
        uint8_t bytes[8];
        std::memcpy(bytes, &word, 8);
        for (uint8_t& b : bytes) b = kReversed[b];
        std::memcpy(&word, bytes, 8);
    }
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
    return word;
}

int32_t TCCITTDecoder::DecodeRun() {
    const Lookups& tables = isWhite_ ? WhiteLookups() : BlackLookups();
    int32_t sum = 0;
    // Whole codes from the tables while 8 bytes of data are left: a window
    // of the next 57 bits or more holds at least four codes.
    while ((position_ >> 3) + 8 <= packedSize_) {
        const uint64_t window = Window(position_ >> 3) << (position_ & 7);
        int used = 0;
        do {
            const uint64_t next = window << used;
            Lookup code = tables.shortCodes[next >> (64 - kShortBits)];
            if (code.length == 0) code = tables.longCodes[next >> (64 - kLongBits)];
            if (code.length == 0) {
                position_ += used;
                return WalkRun(sum);
            }
            used += code.length;
            zeroRun_ = code.trailingZeros == code.length ? zeroRun_ + code.length : code.trailingZeros;
            if (code.value < 64) {
                position_ += used;
                return sum + code.value;
            }
            // Make-up codes may follow one another; the sum stops at the
            // width, which is all a line can take.
            sum = static_cast<int32_t>(std::min<int64_t>(int64_t(sum) + code.value, width_));
        } while (used + kLongBits <= 57);
        position_ += used;
    }
    return WalkRun(sum);
}

int32_t TCCITTDecoder::WalkRun(int32_t sum) {
    const std::vector<TState>& tree = isWhite_ ? WhiteStates() : BlackStates();
    int32_t node = 0;
    for (;;) {
        if (!InputLeft()) {
            // A code that ends with the data still counts.
            const TState& last = tree[static_cast<size_t>(node)];
            if (node == 0 || last.child[0] != 0 || last.child[1] != 0) return sum;
            if (last.value < 64) return sum + last.value;
            return static_cast<int32_t>(std::min<int64_t>(int64_t(sum) + last.value, width_));
        }
        const int bit = (Byte(position_ >> 3) >> (7 - (position_ & 7))) & 1;  // looked at, not yet taken
        int32_t next = tree[static_cast<size_t>(node)].child[bit];
        if (next == 0) {
            // The node ends a code; this bit starts the next one.
            const int32_t value = tree[static_cast<size_t>(node)].value;
            if (value < 64) return sum + value;
            sum = static_cast<int32_t>(std::min<int64_t>(int64_t(sum) + value, width_));
            next = tree[0].child[bit];
        }
        ReadBit();
        node = next;
    }
}

bool TCCITTDecoder::AddRun(int32_t n) {
    const int32_t k = std::min(n, width_ - x_);
    if (k <= 0) return x_ >= width_;
    if (!isWhite_) SetBits(dest_ + row_ * rowBytes_, x_, k);
    x_ += k;
    return x_ >= width_;
}

void TCCITTDecoder::EndLine() {
    // The next line starts on the next row, however far this one got.
    isWhite_ = false;
    ++row_;
    x_ = 0;
}

// ------------------------------------------------------------ T.4

namespace {

// How a line's runs ended: an end-of-line code, another code that is no
// run, a full line, or none of these yet.
enum : int { kEndOfLine = -1, kNoCode = -2, kFullLine = 0, kLineGoesOn = 1 };

}  // namespace

int TCCITTFax3Decoder::TableLine() {
    const Lookups& whiteCodes = WhiteLookups();
    const Lookups& blackCodes = BlackLookups();
    const int64_t last = 8 * (packedSize_ - 8);  // the last position with 8 bytes from its byte on
    int64_t position = position_;
    int32_t zeroRun = zeroRun_, x = x_, sum = 0;
    bool white = isWhite_, open = false;
    uint8_t* const row = dest_ + row_ * rowBytes_;
    int ended = kLineGoesOn;
    while (ended == kLineGoesOn && !open && position <= last) {
        const uint64_t window = Window(position >> 3) << (position & 7);
        int used = 0;
        while (used + kLongBits <= 57) {
            const Lookups& tables = white ? whiteCodes : blackCodes;
            const uint64_t next = window << used;
            Lookup code = tables.shortCodes[next >> (64 - kShortBits)];
            if (code.length == 0) code = tables.longCodes[next >> (64 - kLongBits)];
            if (code.length == 0) {
                open = true;
                break;
            }
            used += code.length;
            zeroRun = code.trailingZeros == code.length ? zeroRun + code.length : code.trailingZeros;
            if (code.value >= 64) {
                sum = static_cast<int32_t>(std::min<int64_t>(int64_t(sum) + code.value, width_));
                continue;
            }
            const int32_t run = sum + code.value;
            sum = 0;
            if (run < 0) {
                ended = run == -1 ? kEndOfLine : kNoCode;
                break;
            }
            const int32_t k = std::min(run, width_ - x);
            if (k > 0) {
                if (!white) SetBits(row, x, k);
                x += k;
            }
            if (x >= width_) {
                ended = kFullLine;
                break;
            }
            white = !white;
        }
        position += used;
    }
    position_ = position;
    zeroRun_ = zeroRun;
    x_ = x;
    isWhite_ = white;
    if (ended != kLineGoesOn || (sum == 0 && !open)) return ended;
    // A run begun near the end of the data goes on bit by bit.
    const int32_t run = WalkRun(sum);
    if (run < 0) return run == -1 ? kEndOfLine : kNoCode;
    if (AddRun(run)) return kFullLine;
    isWhite_ = !isWhite_;
    return kLineGoesOn;
}

bool TCCITTFax3Decoder::Lines(bool resume, int64_t stopAt, int64_t stopRow) {
    bool afterEndOfLine = false;
    for (bool first = true;; first = false) {
        if (!first || !resume) {
            if (!InputLeft() || !RowFits()) return false;
            // A line ended by its own end-of-line code starts at once;
            // otherwise skip to the end of the next end-of-line code: eleven
            // zeros or more (counting those just read), then the one.
            if (!afterEndOfLine) {
                while (zeroRun_ < 11 && InputLeft()) ReadBit();
                while (InputLeft() && ReadBit() == 0) {
                }
            }
            if (position_ >= stopAt || row_ >= stopRow) return true;
        }
        if (clearRows_) std::memset(dest_ + row_ * rowBytes_, 0, size_t(rowBytes_));
        isWhite_ = true;
        const int ended = TableLine();
        afterEndOfLine = ended == kEndOfLine;
        if (ended == kLineGoesOn)
            while (InputLeft()) {
                const int32_t run = DecodeRun();
                if (run == -1) {
                    afterEndOfLine = true;
                    break;
                }
                if (run < 0) break;
                if (AddRun(run)) break;
                isWhite_ = !isWhite_;
            }
        EndLine();
    }
}

int64_t TCCITTFax3Decoder::NextLineStart(int64_t from) const {
    int32_t zeros = 0;
    for (int64_t at = from, end = 8 * packedSize_; at < end; ++at) {
        if (((Byte(at >> 3) >> (7 - (at & 7))) & 1) == 0) {
            ++zeros;
        } else if (zeros >= 11) {
            return at + 1;
        } else {
            zeros = 0;
        }
    }
    return -1;
}

int64_t TCCITTFax3Decoder::Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) {
    Start(source, packedSize, dest, unpackedSize);
    if (rowBytes_ == 0) return 0;
    const int pieces = Pieces ? static_cast<int>(std::min<int64_t>(par::ThreadCount(), packedSize_ / kPieceBytes)) : 1;
    if (pieces > 1) return DecodeInPieces(pieces);
    Lines(false, std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::max());
    return Written();
}

int64_t TCCITTFax3Decoder::DecodeInPieces(int pieces) {
    constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
    // Where each piece starts: the first line start from its share of the
    // data on. Piece 0 is this decoder, straight into dest.
    std::vector<int64_t> starts{0};
    for (int k = 1; k < pieces; ++k) {
        const int64_t at = NextLineStart(8 * (packedSize_ * k / pieces));
        if (at > starts.back() && at < 8 * packedSize_) starts.push_back(at);
    }
    const size_t count = starts.size();
    starts.push_back(kNever);
    const int64_t rowsWanted = unpackedSize_ / rowBytes_;
    // A piece takes at most half as many rows again as its share, so that
    // the pieces of a strange strip do not each hold the whole of it.
    const int64_t share = 3 * rowsWanted / (2 * int64_t(count)) + 16;

    // The other pieces' rows, one block for all, each row cleared as its
    // line starts. The block stays for the next strip, and goes back to the
    // pixel pool (it is never smaller than the pool's blocks) for the next
    // picture.
    const int64_t pieceBytes = (share + 1) * rowBytes_;
    const size_t allBytes = size_t(pieceBytes) * (count - 1);
    if (pieceRows_.size() < allBytes) pieceRows_ = TPixelBuffer::Allocate(std::max(allBytes, pixmem::kPooledBytes), false);
    struct TPiece {
        std::unique_ptr<TCCITTFax3Decoder> decoder;
        bool stopped = false;
    };
    std::vector<TPiece> parts(count);
    for (TPiece& part : parts) part.decoder = std::make_unique<TCCITTFax3Decoder>(options_, swapBits_, wordAligned_, width_);
    uint8_t* const pieceRows = pieceRows_.data();
    par::ForRows(static_cast<int32_t>(count), [&](int32_t begin, int32_t end) {
        for (auto k = size_t(begin); k < size_t(end); ++k) {
            TPiece& part = parts[k];
            if (k == 0) {
                part.stopped = Lines(false, starts[1], kNever);
                continue;
            }
            TCCITTFax3Decoder& d = *part.decoder;
            d.Start(source_, packedSize_, nullptr, 0);
            d.dest_ = pieceRows + (k - 1) * size_t(pieceBytes);
            d.unpackedSize_ = pieceBytes;
            d.clearRows_ = true;
            d.position_ = starts[k];
            part.stopped = d.Lines(true, starts[k + 1], share);
        }
    });

    // Piece k's rows follow those before it when the lines before it ended
    // a line right where it starts.
    bool stopped = parts[0].stopped;
    for (size_t k = 1; k < count && stopped && position_ == starts[k]; ++k) {
        const TCCITTFax3Decoder& d = *parts[k].decoder;
        const int64_t taken = std::min(d.row_ + (d.x_ > 0 ? 1 : 0), rowsWanted - row_);
        std::memcpy(dest_ + row_ * rowBytes_, d.dest_, size_t(taken * rowBytes_));
        if (row_ + d.row_ >= rowsWanted) {
            row_ = rowsWanted;
            x_ = 0;
            return Written();
        }
        row_ += d.row_;
        x_ = d.x_;
        position_ = d.position_;
        stopped = parts[k].stopped;
    }
    // Unless the data or the rows ran out, the decode goes on from the line
    // start where the last piece taken stopped: past the next piece's start,
    // or on its share of the rows.
    if (stopped) {
        x_ = 0;
        zeroRun_ = 0;
        Lines(true, kNever, kNever);
    }
    return Written();
}

// ------------------------------------------------------------ modified Huffman

int64_t TCCITTMHDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) {
    Start(source, packedSize, dest, unpackedSize);
    if (rowBytes_ == 0) return 0;
    while (InputLeft() && RowFits()) {
        const int32_t run = DecodeRun();
        if (run > 0 && AddRun(run)) {
            EndLine();
            // The next line starts on the next byte, or 16-bit word, of
            // the strip.
            AlignToByte();
            if (wordAligned_ && ((position_ >> 3) & 1) && (position_ >> 3) < packedSize_) position_ += 8;
        }
        isWhite_ = !isWhite_;
    }
    return Written();
}
