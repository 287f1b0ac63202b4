#include "rasterformats/FaxDecoders.h"

#include <cstring>
#include <string_view>

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
    WhiteStates();
    BlackStates();
}

void TCCITTDecoder::Start(const uint8_t* source, int64_t packedSize, uint8_t* dest, int64_t unpackedSize) {
    source_ = source;
    packedLeft_ = source == nullptr ? 0 : std::max<int64_t>(packedSize, 0);
    consumed_ = 0;
    bits_ = mask_ = bitsLeft_ = 0;
    zeroRun_ = 0;
    dest_ = dest;
    unpackedSize_ = dest == nullptr ? 0 : std::max<int64_t>(unpackedSize, 0);
    if (unpackedSize_ > 0) std::memset(dest_, 0, static_cast<size_t>(unpackedSize_));
    rowBytes_ = (int64_t(width_) + 7) / 8;
    row_ = 0;
    x_ = 0;
    isWhite_ = true;
}

void TCCITTDecoder::LoadByte() {
    bits_ = swapBits_ ? Reversed(*source_) : *source_;
    ++source_;
    --packedLeft_;
    ++consumed_;
    mask_ = 0x80;
    bitsLeft_ = 8;
}

int TCCITTDecoder::ReadBit() {
    if (bitsLeft_ == 0) {
        if (packedLeft_ == 0) return 0;
        LoadByte();
    }
    const int bit = (bits_ & mask_) != 0;
    mask_ >>= 1;
    --bitsLeft_;
    zeroRun_ = bit ? 0 : zeroRun_ + 1;
    return bit;
}

int32_t TCCITTDecoder::DecodeRun() {
    const std::vector<TState>& tree = isWhite_ ? WhiteStates() : BlackStates();
    int32_t node = 0, sum = 0;
    for (;;) {
        if (!InputLeft()) {
            // A code that ends with the data still counts.
            const TState& last = tree[static_cast<size_t>(node)];
            if (node == 0 || last.child[0] != 0 || last.child[1] != 0) return sum;
            if (last.value < 64) return sum + last.value;
            return static_cast<int32_t>(std::min<int64_t>(int64_t(sum) + last.value, width_));
        }
        if (bitsLeft_ == 0) LoadByte();  // the next byte, no bit taken yet
        const int bit = (bits_ & mask_) != 0;
        int32_t next = tree[static_cast<size_t>(node)].child[bit];
        if (next == 0) {
            // The node ends a code; this bit starts the next one.
            const int32_t value = tree[static_cast<size_t>(node)].value;
            if (value < 64) return sum + value;
            // Make-up codes may follow one another; the sum stops at the
            // width, which is all a line can take.
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
    if (!isWhite_) {
        uint8_t* row = dest_ + row_ * rowBytes_;
        int32_t x = x_;
        const int32_t end = x_ + k;
        for (; x < end && (x & 7) != 0; ++x) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        if (end - x >= 8) {
            std::memset(row + (x >> 3), 0xFF, static_cast<size_t>((end - x) >> 3));
            x += (end - x) & ~7;
        }
        for (; x < end; ++x) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
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

int64_t TCCITTFax3Decoder::Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) {
    Start(source, packedSize, dest, unpackedSize);
    if (rowBytes_ == 0) return 0;
    bool afterEndOfLine = false;
    while (InputLeft() && RowFits()) {
        // A line ended by its own end-of-line code starts at once; otherwise
        // skip to the end of the next end-of-line code: eleven zeros or more
        // (counting those just read), then the one.
        if (!afterEndOfLine) {
            while (zeroRun_ < 11 && InputLeft()) ReadBit();
            while (InputLeft() && ReadBit() == 0) {
            }
        }
        afterEndOfLine = false;
        isWhite_ = true;
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
            // A byte only looked at (the line ended on its boundary) is
            // not consumed.
            if (bitsLeft_ == 8) {
                --source_;
                ++packedLeft_;
                --consumed_;
            }
            bitsLeft_ = 0;
            if (wordAligned_ && (consumed_ & 1) && packedLeft_ > 0) {
                ++source_;
                --packedLeft_;
                ++consumed_;
            }
        }
        isWhite_ = !isWhite_;
    }
    return Written();
}
