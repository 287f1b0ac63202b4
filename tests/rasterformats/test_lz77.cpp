// The deflate decoder over streams zlib's own deflate made: strip after strip
// as TIFF does, and damaged. (Whole streams, and pieces as PNG hands them
// over, are checked through the readers over their generated files.)
#include <gtest/gtest.h>

#include <zlib.h>

#include <random>
#include <vector>

#include "rasterformats/LZ77Decoder.h"
#include "rasterformats/RasterStrings.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Rows of a picture-like signal: runs, gradients and noise.
Bytes Plain(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) b[i] = (i / 97) % 3 == 0 ? uint8_t(i / 13) : uint8_t(random() % 7 * 30);
    return b;
}

Bytes Deflated(const Bytes& plain, int level = 6) {
    uLongf size = compressBound(plain.size());
    Bytes packed(size);
    EXPECT_EQ(compress2(packed.data(), &size, plain.data(), plain.size(), level), Z_OK);
    packed.resize(size);
    return packed;
}

}  // namespace

// TIFF: each strip its own stream through one decoder; a damaged strip does
// not spoil the next one.
TEST(LZ77Decoder, AutoResetDecodesEachStripOnItsOwn) {
    const Bytes a = Plain(5000, 3), b = Plain(7000, 4);
    const Bytes pa = Deflated(a), pb = Deflated(b);
    Bytes broken = pa;
    broken.resize(broken.size() / 2);
    broken[broken.size() - 1] ^= 0x55;
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, true);
    decoder.BeginDecode();
    for (const auto& [packed, plain] : {std::pair{pa, a}, std::pair{broken, Bytes()}, std::pair{pb, b},
                                        std::pair{pa, a}}) {
        Bytes out(8000);
        const uint8_t* source = packed.data();
        uint8_t* dest = out.data();
        const int64_t got = decoder.Decode(source, dest, int64_t(packed.size()), int64_t(out.size()));
        if (plain.empty()) continue;
        EXPECT_EQ(decoder.Result(), kZlibStreamEnd);
        ASSERT_EQ(got, int64_t(plain.size()));
        EXPECT_EQ(Bytes(out.begin(), out.begin() + got), plain);
    }
    decoder.EndDecode();
}

TEST(LZ77Decoder, EndsAndErrorsAreKeptNotRaised) {
    const Bytes plain = Plain(4000, 5), packed = Deflated(plain);
    // After the end of the stream a further call does nothing.
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
    decoder.BeginDecode();
    Bytes out(plain.size() + 100);
    const uint8_t* source = packed.data();
    uint8_t* dest = out.data();
    decoder.Decode(source, dest, int64_t(packed.size()), int64_t(out.size()));
    EXPECT_EQ(decoder.Result(), kZlibStreamEnd);
    const uint8_t* again = packed.data();
    uint8_t* dest2 = out.data();
    EXPECT_EQ(decoder.Decode(again, dest2, int64_t(packed.size()), 100), 0);
    EXPECT_EQ(again, packed.data());
    EXPECT_EQ(decoder.AvailableInput(), int64_t(packed.size()));
    decoder.EndDecode();

    // A damaged stream: the bytes before the damage stay, the error is kept.
    Bytes damaged = packed;
    damaged[0] = 0x78;
    damaged[1] = 0x9C;
    damaged[2] = 0xFF;  // block type 3 does not exist
    TLZ77Decoder broken(Z_PARTIAL_FLUSH, false);
    broken.BeginDecode();
    source = damaged.data();
    dest = out.data();
    EXPECT_EQ(broken.Decode(source, dest, int64_t(damaged.size()), int64_t(out.size())), 0);
    EXPECT_EQ(broken.Result(), Z_DATA_ERROR);
    EXPECT_EQ(broken.Decode(source, dest, int64_t(damaged.size()), int64_t(out.size())), 0);
    broken.EndDecode();

    // Begin and end go in pairs; a stray end is zlib's error.
    TLZ77Decoder unused(Z_FINISH, false);
    try {
        unused.EndDecode();
        ADD_FAILURE() << "no exception";
    } catch (const EGraphicCompression& e) {
        EXPECT_EQ(e.Message(), raster::kLZ77Error);
    }
    // Decoding without a begin writes nothing.
    source = packed.data();
    dest = out.data();
    EXPECT_EQ(unused.Decode(source, dest, int64_t(packed.size()), 10), 0);
    EXPECT_LT(unused.Result(), 0);
}
