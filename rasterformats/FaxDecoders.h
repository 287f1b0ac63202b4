// One-dimensional CCITT run-length coding (fax group 3) into 1-bit rows:
// T.4 with end-of-line codes (TIFF compression 3) and modified Huffman
// without them (TIFF compression 2, and 32771 with lines on 16-bit
// boundaries). Rows come out most significant bit first, white 0 and black
// 1, each line starting on the next row of (width + 7) div 8 bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/core/PixelBuffer.h"
#include "rasterformats/RasterCompression.h"

class TCCITTDecoder : public TDecoder {
public:
    // options: the file's T4 options, kept but not used (only 1-D data is
    // decoded). swapBits: the packed bytes hold their first bit in the least
    // significant place (reversed fill order).
    TCCITTDecoder(int32_t options, bool swapBits, bool wordAligned, int32_t width);
    const char* ClassName() const override { return "TCCITTDecoder"; }

    // A node of a code tree: the children for bit 0 and bit 1 (0 = none)
    // and, at the end of a code, its run length (-1 end of line, -2 a code
    // that is no code).
    struct TState {
        int32_t child[2];
        int32_t value;
    };
    static const std::vector<TState>& WhiteStates();
    static const std::vector<TState>& BlackStates();

protected:
    // Sets up the reader on the packed bytes and the writer on dest, which
    // holds unpackedSize bytes, cleared to white.
    void Start(const uint8_t* source, int64_t packedSize, uint8_t* dest, int64_t unpackedSize);
    bool InputLeft() const { return position_ < 8 * packedSize_; }
    int ReadBit();
    // One run of the current colour: the sum of its make-up codes and its
    // terminating code (at most the width), or a negative code value.
    int32_t DecodeRun();
    // Adds n pixels of the current colour; true when the line is full.
    bool AddRun(int32_t n);
    // Moves the writer to the start of the next row.
    void EndLine();
    // Moves the reader to the next byte boundary (where it is not on one).
    void AlignToByte() { position_ = (position_ + 7) & ~int64_t(7); }
    // True while the writer's row lies wholly inside the output.
    bool RowFits() const { return (row_ + 1) * rowBytes_ <= unpackedSize_; }
    // Bytes of output that decoding reached: whole rows plus a started one.
    int64_t Written() const { return std::min(unpackedSize_, (row_ + (x_ > 0 ? 1 : 0)) * rowBytes_); }

    int32_t options_;
    bool swapBits_;
    bool wordAligned_;
    int32_t width_;
    bool isWhite_ = true;
    // Reader: the packed bytes and the bits of them taken so far.
    const uint8_t* source_ = nullptr;
    int64_t packedSize_ = 0;
    int64_t position_ = 0;
    int32_t zeroRun_ = 0;  // zero bits read in a row up to now
    // Writer.
    uint8_t* dest_ = nullptr;
    int64_t unpackedSize_ = 0, rowBytes_ = 0, row_ = 0;
    int32_t x_ = 0;  // pixels of the current line done

    // The 8 packed bytes from index on, first bit most significant.
    uint64_t Window(int64_t index) const;
    // The code at the reader's position walked bit by bit from the root of
    // the tree, onto sum: for the last bits of the data.
    int32_t WalkRun(int32_t sum);
    // The packed byte at index, its first bit most significant.
    uint8_t Byte(int64_t index) const;
};

// T.4: each line is introduced by an end-of-line code (eleven zero bits and
// a one, after any number of fill zeros).
//
// Every line starts just past an end-of-line code, so a large strip is cut
// into pieces at such codes and the pieces are decoded on several threads,
// each into rows of its own. A piece is taken only where the lines before it
// were found to end exactly where it starts, so the rows are those a decode
// from the start would give; where they do not, the decode goes on from the
// last piece that held, as one.
class TCCITTFax3Decoder : public TCCITTDecoder {
public:
    using TCCITTDecoder::TCCITTDecoder;
    const char* ClassName() const override { return "TCCITTFax3Decoder"; }
    // Decodes the strip into whole rows of dest; returns the bytes reached.
    int64_t Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) override;

    // Strips of fewer packed bytes than this are decoded in one piece.
    static constexpr int64_t kPieceBytes = 8192;
    // Whether a large strip may be decoded in pieces on several threads:
    // not when the strips themselves are already shared out among them.
    bool Pieces = true;

private:
    // Lines until the data or the rows run out (false), or until a line
    // would start at or past stopAt, or on row stopRow (true, the reader
    // left at that line's start). With resume set the reader stands at a
    // line's start already, and that line is decoded first.
    bool Lines(bool resume, int64_t stopAt, int64_t stopRow);
    // The first line start at or after bit `from`: the end of the next
    // end-of-line code, or -1.
    int64_t NextLineStart(int64_t from) const;
    int64_t DecodeInPieces(int pieces);

    // The runs of the current line from the code tables, with the reader
    // and the line in locals, while 8 bytes of data are left; says how the
    // line ended (an end-of-line code -1, another code that is no run -2,
    // full 0) or 1 when the data grew short first, the rest of the line
    // being the caller's, run by run.
    int TableLine();

    bool clearRows_ = false;  // rows are cleared as their lines start, not all at once
    TPixelBuffer pieceRows_;  // the rows of the pieces after the first
};

// Modified Huffman: lines of runs without end-of-line codes, each starting
// on a byte (or, word aligned, a 16-bit) boundary of the strip.
class TCCITTMHDecoder : public TCCITTDecoder {
public:
    using TCCITTDecoder::TCCITTDecoder;
    const char* ClassName() const override { return "TCCITTMHDecoder"; }
    int64_t Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) override;
};
