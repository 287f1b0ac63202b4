// The run-length decoders: their rules, and that data never takes them
// outside their buffers; the Truevision encoder's bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "platform/core/Simd.h"
#include "rasterformats/RasterCompression.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t E() { return 0xEE; }  // a byte no decoder wrote

struct Result {
    Bytes output;    // the destination after the call (room filled with 0xEE first)
    int64_t units;   // what Decode returned
    size_t consumed; // how far it moved source
};

Result Unpack(TDecoder& decoder, const Bytes& packed, size_t room, int64_t units = -1) {
    Result r{Bytes(room, 0xEE), 0, 0};
    const uint8_t* source = packed.data();
    uint8_t* dest = r.output.data();
    r.units = decoder.Decode(source, dest, static_cast<int64_t>(packed.size()), units < 0 ? int64_t(room) : units);
    r.consumed = static_cast<size_t>(source - packed.data());
    EXPECT_EQ(dest, r.output.data());  // no decoder moves dest
    return r;
}

}  // namespace

TEST(Decoders, RunLengthRulesAndBounds) {
    using Make = std::function<std::unique_ptr<TDecoder>()>;
    const Make packbits = [] { return std::make_unique<TPackbitsRLEDecoder>(); };
    const Make pcx = [] { return std::make_unique<TPCXRLEDecoder>(); };
    const Make sgi8 = [] { return std::make_unique<TSGIRLEDecoder>(8); };
    const Make sgi16 = [] { return std::make_unique<TSGIRLEDecoder>(16); };
    const Make cut = [] { return std::make_unique<TCUTRLEDecoder>(); };
    const Make psp = [] { return std::make_unique<TPSPRLEDecoder>(); };
    const Make rla = [] { return std::make_unique<TRLADecoder>(); };
    const uint8_t E = ::E();
    struct Case {
        const char* what;
        Make make;
        Bytes packed;
        size_t room;
        Bytes output;
        size_t consumed;  // checked for the decoders that move source
    } cases[] = {
        {"packbits literal, run, no-op", packbits, {1, 7, 8, 0xFE, 9, 0x80, 0}, 6, {7, 8, 9, 9, 9, E}, 0},
        {"packbits literal cut at the end of the data", packbits, {5, 1, 2}, 4, {1, 2, E, E}, 0},
        {"packbits run cut to the room", packbits, {0x81, 4}, 3, {4, 4, 4}, 0},
        {"packbits run without its byte", packbits, {0xFE}, 2, {E, E}, 0},
        {"pcx run and literal", pcx, {0xC3, 5, 6}, 5, {5, 5, 5, 6, E}, 3},
        {"pcx empty run consumes both bytes", pcx, {0xC0, 9, 1}, 2, {1, E}, 3},
        {"pcx run without its value", pcx, {2, 0xC5}, 3, {2, E, E}, 1},
        {"sgi literal, run, end", sgi8, {0x82, 1, 2, 0x03, 7, 0, 9}, 6, {1, 2, 7, 7, 7, E}, 0},
        {"sgi first header 0: empty row", sgi8, {0, 0x82, 1, 2}, 3, {E, E, E}, 0},
        {"sgi run cut to the row", sgi8, {0x7F, 5}, 4, {5, 5, 5, 5}, 0},
        {"sgi literal past the data", sgi8, {0x85, 1, 2}, 4, {1, 2, E, E}, 0},
        {"sgi 16-bit words as stored", sgi16, {0, 0x81, 1, 2, 0, 2, 3, 4, 0, 0}, 6, {1, 2, 3, 4, 3, 4}, 0},
        {"cut skips the count, stops after 0", cut, {9, 9, 0x83, 5, 2, 1, 2, 0, 7}, 6, {5, 5, 5, 1, 2, E}, 8},
        {"cut line longer than the row", cut, {9, 9, 0x85, 5, 0, 7}, 3, {5, 5, 5}, 5},
        {"cut line without its end", cut, {9, 9, 3, 1}, 4, {1, E, E, E}, 4},
        {"psp literal and run", psp, {2, 1, 2, 0x83, 9}, 6, {1, 2, 9, 9, 9, E}, 5},
        {"psp run cut to the room", psp, {0xFF, 1}, 2, {1, 1}, 2},
        {"psp run without its byte", psp, {1, 7, 0x85}, 3, {7, E, E}, 2},
        {"rla run and literal", rla, {1, 4, 0xFE, 5, 6}, 5, {4, 4, 5, 6, E}, 5},
        {"rla literal cut to the room", rla, {0x80, 1, 2, 3}, 2, {1, 2}, 3},
        {"rla span ends where the room does", rla, {0x7F, 4, 0x01, 5}, 3, {4, 4, 4}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto decoder = c.make();
        const Result r = Unpack(*decoder, c.packed, c.room);
        EXPECT_EQ(r.output, c.output);
        const auto written = std::count_if(c.output.begin(), c.output.end(), [](uint8_t b) { return b != 0xEE; });
        EXPECT_EQ(r.units, written);
        if (dynamic_cast<TPCXRLEDecoder*>(decoder.get()) || dynamic_cast<TCUTRLEDecoder*>(decoder.get()) ||
            dynamic_cast<TRLADecoder*>(decoder.get()) || dynamic_cast<TPSPRLEDecoder*>(decoder.get()))
            EXPECT_EQ(r.consumed, c.consumed);
        else
            EXPECT_EQ(r.consumed, 0u);
    }
}

TEST(Decoders, PCXRunsCarryOverToTheNextLine) {
    TPCXRLEDecoder decoder;
    const Bytes packed{0xC5, 3, 4};
    const Result first = Unpack(decoder, packed, 2);
    EXPECT_EQ(first.output, (Bytes{3, 3}));
    const Bytes rest(packed.begin() + static_cast<long>(first.consumed), packed.end());
    EXPECT_EQ(Unpack(decoder, rest, 4).output, (Bytes{3, 3, 3, 4}));
}

TEST(Decoders, PaintshopProPacketsRunAcrossCallsAndPieces) {
    // A run of five over rows of three: the rest opens the next row.
    TPSPRLEDecoder decoder;
    const Result row1 = Unpack(decoder, {0x85, 4, 0x03}, 3);
    EXPECT_EQ(row1.output, (Bytes{4, 4, 4}));
    EXPECT_EQ(row1.consumed, 2u);
    // A literal of three cut where the piece ends goes on with the next.
    const Result row2 = Unpack(decoder, {0x03, 1, 2}, 5);
    EXPECT_EQ(row2.output, (Bytes{4, 4, 1, 2, E()}));
    EXPECT_EQ(row2.consumed, 3u);
    EXPECT_EQ(Unpack(decoder, {3}, 1).output, (Bytes{3}));
    // BeginDecode forgets a packet part-way done.
    EXPECT_EQ(Unpack(decoder, {0x85, 4}, 1).output, (Bytes{4}));
    decoder.BeginDecode();
    EXPECT_EQ(Unpack(decoder, {0x81, 8}, 2).output, (Bytes{8, E()}));
}

TEST(Decoders, TargaPacketsRunAcrossCallsAndPieces) {
    TTargaRLEDecoder decoder(24);
    // 0x81 and one pixel: two equal pixels, source past the four bytes.
    const Result pair = Unpack(decoder, {0x81, 1, 2, 3, 0x00}, 6, 2);
    EXPECT_EQ(pair.output, (Bytes{1, 2, 3, 1, 2, 3}));
    EXPECT_EQ(pair.consumed, 4u);
    EXPECT_EQ(pair.units, 2);

    // A run of three over rows of two: the third pixel opens the next row.
    TTargaRLEDecoder rows(8);
    const Bytes packed{0x82, 9, 0x01, 5, 6};
    const Result row1 = Unpack(rows, packed, 2);
    EXPECT_EQ(row1.output, (Bytes{9, 9}));
    const Bytes rest(packed.begin() + static_cast<long>(row1.consumed), packed.end());
    EXPECT_EQ(Unpack(rows, rest, 2).output, (Bytes{9, 5}));

    // A literal cut in the middle of a pixel goes on with the next piece.
    TTargaRLEDecoder pieces(16);
    const Result part = Unpack(pieces, {0x01, 1, 2, 3}, 4, 2);
    EXPECT_EQ(part.output, (Bytes{1, 2, E(), E()}));
    EXPECT_EQ(part.consumed, 3u);
    EXPECT_EQ(Unpack(pieces, {3, 4}, 2, 1).output, (Bytes{3, 4}));
    // Other depths decode nothing.
    TTargaRLEDecoder odd(12);
    EXPECT_EQ(Unpack(odd, {0x81, 1, 2}, 4).units, 0);
}

TEST(Decoders, TargaEncoding) {
    TTargaRLEDecoder encoder(8);
    auto encode = [&](const Bytes& pixels) {
        Bytes out(static_cast<size_t>(encoder.MaxEncodedSize(static_cast<int64_t>(pixels.size()))));
        int64_t stored = -1;
        encoder.Encode(pixels.data(), out.data(), static_cast<int64_t>(pixels.size()), stored);
        out.resize(static_cast<size_t>(stored));
        return out;
    };
    EXPECT_EQ(encode({5, 5, 5, 7}), (Bytes{0x82, 5, 0x00, 7}));
    EXPECT_EQ(encode({1, 2, 3}), (Bytes{0x01, 1, 2, 0x00, 3}));
    EXPECT_EQ(encode({1, 2, 2}), (Bytes{0x00, 1, 0x81, 2}));
    EXPECT_EQ(encode(Bytes(130, 4)), (Bytes{0xFF, 4, 0x81, 4}));

    // Whatever the pixels, decoding gives them back within the bound.
    std::mt19937 random(7);
    for (uint32_t depth : {8u, 16u, 24u, 32u}) {
        TTargaRLEDecoder codec(depth);
        const uint32_t size = codec.PixelSize();
        for (int trial = 0; trial < 20; ++trial) {
            const int64_t count = 1 + random() % 300;
            Bytes pixels(static_cast<size_t>(count) * size);
            for (auto& b : pixels) b = static_cast<uint8_t>(random() % 3);  // many runs, many changes
            Bytes packed(static_cast<size_t>(codec.MaxEncodedSize(count)));
            int64_t stored = 0;
            codec.Encode(pixels.data(), packed.data(), count, stored);
            ASSERT_LE(stored, codec.MaxEncodedSize(count));
            Bytes back(pixels.size());
            const uint8_t* source = packed.data();
            uint8_t* dest = back.data();
            codec.BeginDecode();
            EXPECT_EQ(codec.Decode(source, dest, stored, count), count);
            EXPECT_EQ(back, pixels) << depth;
            EXPECT_EQ(source, packed.data() + stored);
        }
    }
}

// PackBits data handed over in pieces, into room that comes in pieces,
// gives the bytes of one call over all of it, wherever the pieces end:
// inside a literal, between a run's header and its byte, inside a pixel.
// Unpacked into RGB pixels kept blue first (every other trial), each byte
// lands where one call and a trade of red and blue would put it. Pictures
// of 1, 7 and 35 pixels and up to 1000; buffers of their exact sizes.
TEST(Decoders, PackBitsInPiecesAsInOneCall) {
    std::mt19937 random(11);
    for (int trial = 0; trial < 500; ++trial) {
        const bool traded = trial % 2 == 1;
#if QUILLARC_X86
        if (traded && !simd::Avx2()) continue;
#else
        if (traded) continue;
#endif
        Bytes packed(1 + random() % 1500);
        for (auto& b : packed) b = static_cast<uint8_t>(random() % 4 == 0 ? 0x80 + random() % 128 : random());
        const int64_t room = 3 * (trial < 6 ? std::vector<int64_t>{1, 7, 35}[size_t(trial / 2)] : 1 + random() % 1000);
        TPackbitsRLEDecoder whole, pieces;
        const Result expected = Unpack(whole, packed, size_t(room));
        Bytes got(static_cast<size_t>(room));
        pieces.Start();
        const uint8_t* in = packed.data();
        const uint8_t* end = in;
        int64_t done = 0;
        while (done < room) {
            if (in == end) end = std::min<const uint8_t*>(end + 1 + random() % 400, packed.data() + packed.size());
            int64_t n = 0;
#if QUILLARC_X86
            if (traded)
                n = pieces.ContinueTraded(in, end, got.data(), done,
                                          std::min<int64_t>(done - done % 3 + 3 * (1 + random() % 100), room));
#endif
            if (!traded)
                n = pieces.Continue(in, end, got.data() + done, std::min<int64_t>(1 + random() % 200, room - done));
            done += n;
            if (n == 0 && in == packed.data() + packed.size()) break;
        }
        ASSERT_EQ(done, expected.units) << trial;
        for (int64_t q = 0; q < done; ++q)
            ASSERT_EQ(got[size_t(traded ? q - q % 3 + 2 - q % 3 : q)], expected.output[size_t(q)]) << trial << ' ' << q;
    }
}
