// The decoders behind the TIFF and Photo-CD readers, on hand-made data:
// one-dimensional fax coding, deflate strips, ThunderScan and the Photo-CD
// residuals.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/core/LoadWork.h"
#include "platform/core/Parallel.h"
#include "rasterformats/FaxDecoders.h"
#include "rasterformats/PCDDecoder.h"
#include "rasterformats/TIFFDeflateDecoder.h"
#include "rasterformats/ThunderDecoder.h"
#include "tests/rasterformats/ReaderBytes.h"

namespace {

using readerbytes::Bytes;
using readerbytes::operator+;

// Bits written as '0' and '1' (spaces ignored), first bit most significant,
// padded with zeros to whole bytes.
Bytes Bits(const std::string& text) {
    Bytes out;
    int n = 0;
    for (char c : text) {
        if (c != '0' && c != '1') continue;
        if (n % 8 == 0) out.push_back(0);
        if (c == '1') out.back() |= static_cast<uint8_t>(0x80 >> (n % 8));
        ++n;
    }
    return out;
}

// Decodes into a buffer of `rows` rows followed by guard bytes; returns
// the rows and checks the guard and the count reported.
Bytes Decode(TDecoder& decoder, const Bytes& packed, size_t rows, size_t rowBytes, int64_t expectWritten) {
    Bytes out(rows * rowBytes + 4, 0xA5);
    const uint8_t* in = packed.data();
    uint8_t* dest = out.data();
    EXPECT_EQ(decoder.Decode(in, dest, static_cast<int64_t>(packed.size()), static_cast<int64_t>(rows * rowBytes)),
              expectWritten);
    EXPECT_EQ(in, packed.data());
    EXPECT_EQ(Bytes(out.end() - 4, out.end()), Bytes(4, 0xA5)) << "written past the output";
    out.resize(rows * rowBytes);
    return out;
}

const std::string kEOL = "000000000001 ";

}  // namespace

TEST(FaxDecoders, RunsAndEndOfLineCodes) {
    struct Case {
        const char* what;
        int32_t width;
        size_t rows;
        std::string bits;
        Bytes expected;
    } cases[] = {
        {"white run 0, then black from the first pixel", 8, 1, kEOL + "00110101 10 1100", {0xE0}},
        {"extended make-up code 1792 and a terminating 0", 1800, 1,
         kEOL + "00000001000 00110101 000101", [] { Bytes r(225, 0); r[224] = 0xFF; return r; }()},
        {"fill zeros before the end-of-line code", 8, 1, "0000000 0000 " + kEOL + "00110101 10 1100", {0xE0}},
        // A line that ends early (its end-of-line code comes first) leaves
        // the rest white; the next line starts right after that code, on the
        // next row.
        {"short line", 8, 2, kEOL + "0111 010 " + kEOL + "0111 0010", {0x20, 0x3F}},
        {"code that is no code ends the line", 8, 2, kEOL + "0111 000000001 " + kEOL + "1000 0011", {0x00, 0x1F}},
        // A line needs its end-of-line code; data before the first one is
        // skipped.
        {"data before the first end-of-line code", 8, 1, "0111 0010 " + kEOL + "1000 0011", {0x1F}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t rowBytes = (size_t(c.width) + 7) / 8;
        TCCITTFax3Decoder decoder(0, false, false, c.width);
        EXPECT_EQ(Decode(decoder, Bits(c.bits), c.rows, rowBytes, int64_t(c.rows * rowBytes)), c.expected);
    }
}

TEST(FaxDecoders, OutputIsBoundedByWholeRows) {
    // Three lines for room of two: the third is not decoded.
    const std::string line = kEOL + "0111 0010 ";
    TCCITTFax3Decoder fax3(0, false, false, 8);
    EXPECT_EQ(Decode(fax3, Bits(line + line + line), 2, 1, 2), (Bytes{0x3F, 0x3F}));
    // Modified Huffman lines on byte boundaries, and the same bound.
    TCCITTMHDecoder mh(0, false, false, 8);
    EXPECT_EQ(Decode(mh, Bits("0111 0010 0111 0010 0111 0010"), 2, 1, 2), (Bytes{0x3F, 0x3F}));
    // Data that ends inside the second line reports what it reached.
    EXPECT_EQ(Decode(mh, Bits("0111 0010 0111"), 2, 1, 2), (Bytes{0x3F, 0x00}));
    // Make-up codes that would add up past any width stop at the width.
    Bytes chain;
    for (int i = 0; i < 420000; ++i) chain.insert(chain.end(), {0x01, 0xF0, 0x1F});  // 2560, 2560
    TCCITTMHDecoder longRun(0, false, false, 16);
    EXPECT_EQ(Decode(longRun, chain, 1, 2, 2), (Bytes{0x00, 0x00}));
}

TEST(FaxDecoders, WordAlignedLinesStartOnEvenBytes) {
    // Width 3. Line 1 (white 2, black 1) ends inside byte 0: line 2 starts
    // at byte 2. Line 2 (white 0, black 2, white 1) fills bytes 2 and 3 and
    // ends on an even boundary: line 3 follows at once, in byte 4, and
    // line 4 at byte 6.
    const Bytes data = {0x74, 0x00, 0x35, 0xC7, 0x74, 0x00, 0x74};
    TCCITTMHDecoder words(0, false, true, 3);
    EXPECT_EQ(Decode(words, data, 4, 1, 4), (Bytes{0x20, 0xC0, 0x20, 0x20}));
    // Byte aligned, lines follow on the next byte.
    TCCITTMHDecoder bytes(0, false, false, 3);
    EXPECT_EQ(Decode(bytes, Bytes{0x74, 0x35, 0xC7, 0x74}, 3, 1, 3), (Bytes{0x20, 0xC0, 0x20}));
}

// A large strip is decoded in pieces on several threads: the rows must be
// those of one decode from the start, whatever the data. Lines of random
// bytes after their end-of-line codes end anyhow (full, early, on a byte
// that is no code, running on past the next code), so pieces are often cut
// where no line starts.
TEST(FaxDecoders, PiecesDecodeAsOneDecodeWould) {
    const int threads = par::ThreadCount();
    std::mt19937 random(7);
    for (int32_t width : {8, 300, 1728}) {
        Bytes strip;
        while (strip.size() < size_t(6 * TCCITTFax3Decoder::kPieceBytes)) {
            if (random() % 8 != 0) strip = strip + Bits(std::string(random() % 4, '0') + kEOL);
            for (uint32_t n = random() % 40; n > 0; --n) strip.push_back(static_cast<uint8_t>(random() % 3 ? random() : 0));
        }
        const size_t rowBytes = (size_t(width) + 7) / 8;
        for (size_t rows : {size_t(40), size_t(2000), size_t(100000)}) {
            SCOPED_TRACE(testing::Message() << "width " << width << ", rows " << rows);
            std::vector<Bytes> outputs;
            std::vector<int64_t> written;
            for (int n : {1, 3, 8}) {
                par::SetThreadCount(n);
                TCCITTFax3Decoder decoder(0, false, false, width);
                Bytes out(rows * rowBytes, 0xA5);
                const uint8_t* in = strip.data();
                uint8_t* dest = out.data();
                written.push_back(decoder.Decode(in, dest, int64_t(strip.size()), int64_t(out.size())));
                outputs.push_back(std::move(out));
            }
            for (size_t i = 1; i < outputs.size(); ++i) {
                EXPECT_EQ(written[i], written[0]);
                EXPECT_TRUE(outputs[i] == outputs[0]);
            }
        }
    }
    par::SetThreadCount(threads);
}

// A strip inflates to the bytes zlib gives it, sound or not: whole, cut
// short, with bits flipped anywhere (the checksum too), with room for less
// than it holds, or behind a header that is no zlib header.
TEST(TIFFDeflateDecoder, GivesWhatZlibGivesForEveryStrip) {
    Bytes raw(30000);
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(i % 700 < 350 ? i * i / 7 : i / 64);
    uLongf length = compressBound(raw.size());
    Bytes sound(length);
    ASSERT_EQ(compress2(sound.data(), &length, raw.data(), raw.size(), 6), Z_OK);
    sound.resize(length);
    std::vector<Bytes> strips = {sound, Bytes(sound.begin(), sound.end() - 2), Bytes(sound.begin(), sound.end() - 900),
                                 Bytes{0x78, 0x9C}, Bytes{0x78, 0xBB, 0, 0, 0, 0}};
    for (size_t bit = 5; bit < 8 * sound.size(); bit += 8 * sound.size() / 40 + 3) {
        strips.push_back(sound);
        strips.back()[bit / 8] ^= static_cast<uint8_t>(1 << bit % 8);
    }
    for (const Bytes& strip : strips)
        for (int64_t room : {30000, 29999, 12345, 40000})
            for (bool cut : {false, true}) {
                Bytes expected(40000, 0xA5), got(40000, 0xA5);
                TLZ77Decoder zlib(1, true);
                TTIFFDeflateDecoder fast;
                zlib.BeginDecode();
                fast.BeginDecode();
                const uint8_t *in = strip.data(), *fastIn = strip.data();
                uint8_t *out = expected.data(), *fastOut = got.data();
                const auto size = static_cast<int64_t>(strip.size());
                const int64_t written = zlib.Decode(in, out, size, room);
                fast.CutShort = cut;
                loadwork::Reset();
                ASSERT_EQ(fast.Decode(fastIn, fastOut, size, room), written);
                // zlib goes over the bytes after libdeflate only where it refused
                // them; a strip known to be cut goes to zlib alone.
                const bool whole = &strip == &strips[0] && room >= 30000;
                EXPECT_EQ(loadwork::DecodedBytes() > 0, !cut && !whole) << strip.size() << " bytes into " << room;
                // What lies past the bytes written is no output; past the room
                // nothing is touched.
                std::fill(got.begin() + written, got.begin() + room, 0xA5);
                std::fill(expected.begin() + written, expected.begin() + room, 0xA5);
                EXPECT_TRUE(got == expected) << strip.size() << " bytes into " << room;
                zlib.EndDecode();
                fast.EndDecode();
            }
}

TEST(ThunderDecoder, CodesRowsAndBounds) {
    struct Case {
        const char* what;
        int32_t width;
        size_t rows;
        Bytes packed;
        Bytes expected;
        int64_t written;
    } cases[] = {
        // Code 2 (2-bit) and 4 (3-bit) put nothing.
        {"codes that put no pixel", 3, 1, {0xC1, 0x62, 0xA1}, {0x11, 0x20}, 2},
        // A run past the row's end is cut there.
        {"run cut at the row's end", 2, 2, {0xC7, 0x3F, 0xC9, 0x01}, {0x77, 0x99}, 2},
        {"room for one row", 2, 1, {0xC7, 0x01, 0xC9, 0x01}, {0x77}, 1},
        {"no width", 0, 1, {0xC7, 0x01}, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TThunderDecoder decoder(c.width);
        const size_t rowBytes = (size_t(c.width) + 1) / 2;
        EXPECT_EQ(Decode(decoder, c.packed, c.rows, rowBytes, c.written), c.expected);
    }
}

namespace {

// A coded Photo-CD stream: one table (or three) of entries
// {length, code bits left-aligned, delta}, then the coded part.
struct PCDEntry {
    int length;
    uint16_t code;
    int8_t delta;
};

Bytes PCDTable(const std::vector<PCDEntry>& entries) {
    Bytes out{static_cast<uint8_t>(entries.size() - 1)};
    for (const PCDEntry& e : entries)
        out.insert(out.end(), {uint8_t(e.length - 1), uint8_t(e.code >> 8), uint8_t(e.code), uint8_t(e.delta)});
    return out;
}

// A row header: 23 ones and a zero, the plane in two bits, the row in 13.
Bytes RowHeader(int plane, int row) {
    return {0xFF, 0xFF, 0xFE, uint8_t(plane << 6 | row >> 7), uint8_t((row & 0x7F) << 1)};
}

TMemoryStream Sectors(Bytes data) {
    data.resize((data.size() + 2047) / 2048 * 2048, 0);
    return readerbytes::StreamOf(data);
}

// Codes 10 (-3), 01 (+10), 11 (+1): four codes a byte.
const Bytes kTable = PCDTable({{2, 0x8000, -3}, {2, 0x4000, 10}, {2, 0xC000, 1}});

}  // namespace

TEST(PCDDecoder, ResidualsAreAddedAndLimited) {
    Bytes luma = {1, 1, 1, 1, 2, 250, 100, 7};  // two rows of 4
    TPCDPlanes planes;
    planes.plane[0] = luma.data();
    planes.rows[0] = 2;
    // Row 1: -3, +10, +1, +1 (10 01 11 11). Row 0: eight codes, of which
    // the four past the row's end are dropped. Row 9 is no row of the
    // plane. Row 5 stops.
    TMemoryStream stream = Sectors(kTable + RowHeader(0, 1) + Bytes{0x9F} + RowHeader(0, 0) + Bytes{0x9F, 0xFF} +
                                   RowHeader(0, 9) + Bytes{0xFF} + RowHeader(0, 5) + Bytes{0xFF});
    TPCDDecoder decoder(stream);
    decoder.Decode(planes, 4, 5);
    // A delta of -3 on 2 gives 0, +10 on 250 gives 255.
    EXPECT_EQ(luma, (Bytes{0, 11, 2, 2, 0, 255, 101, 8}));
}

TEST(PCDDecoder, ChromaPlanesAndRefusals) {
    constexpr int32_t kStride = 2000;  // above 1536: three tables
    Bytes luma(2 * kStride, 50), chroma1(kStride, 60), chroma2(kStride, 70);
    TPCDPlanes planes;
    planes.plane[0] = luma.data();
    planes.plane[1] = chroma1.data();
    planes.plane[2] = chroma2.data();
    planes.rows[0] = 2;
    planes.rows[1] = planes.rows[2] = 1;
    // Chroma rows r go to row r div 2 of their plane, each with its own
    // table; four codes, then zeros that match no code and lead to the next
    // row header.
    const Bytes plus1 = PCDTable({{1, 0x8000, 1}}), minus1 = PCDTable({{1, 0x8000, -1}});
    TMemoryStream stream = Sectors(kTable + plus1 + minus1 + RowHeader(2, 1) + Bytes{0xF0} + RowHeader(3, 0) +
                                   Bytes{0xF0} + RowHeader(3, 2) + Bytes{0xF0} + RowHeader(0, 7));
    TPCDDecoder decoder(stream);
    decoder.Decode(planes, kStride, 7);
    EXPECT_EQ(Bytes(chroma1.begin(), chroma1.begin() + 5), (Bytes{61, 61, 61, 61, 60}));
    EXPECT_EQ(Bytes(chroma2.begin(), chroma2.begin() + 5), (Bytes{69, 69, 69, 69, 70}));
    EXPECT_EQ(luma, Bytes(2 * kStride, 50));

    // With one table, chroma data has no table to go by.
    TMemoryStream oneTable = Sectors(kTable + RowHeader(2, 0) + Bytes{0xFF} + RowHeader(0, 7));
    TPCDDecoder chroma(oneTable);
    EXPECT_THROW(chroma.Decode(planes, 4, 7), EGraphicCompression);
    // Plane code 1 ends decoding silently.
    TMemoryStream abort = Sectors(kTable + RowHeader(1, 0) + Bytes{0xFF});
    TPCDDecoder silent(abort);
    EXPECT_THROW(silent.Decode(planes, 4, 7), EAbort);
    // Data without the stop row runs into the end of the stream.
    TMemoryStream endless = Sectors(kTable + RowHeader(0, 0) + Bytes{0xFF});
    TPCDDecoder reader(endless);
    EXPECT_THROW(reader.Decode(planes, 4, 7), EReadError);
    EXPECT_EQ(Bytes(luma.begin(), luma.begin() + 5), (Bytes{51, 51, 51, 51, 50}));
}
