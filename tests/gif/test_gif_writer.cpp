// The GIF writer against giflib: every file of the reader's test set and
// random index images, written by both encoders, decode in giflib and in
// this reader to what was written; the code stream's edges.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "gif/GIFEncoder.h"
#include "tests/gif/GifTestKit.h"

using namespace giftest;

namespace {

// Walks a file's blocks: every block must stand where the format puts it,
// and every sub-block of an image's data but the last be full.
::testing::AssertionResult FullSubBlocks(const Bytes& b) {
    if (b.size() < 13) return ::testing::AssertionFailure() << "no header";
    size_t pos = 13 + ((b[10] & 0x80) ? 3u * (2u << (b[10] & 7)) : 0);
    while (pos < b.size() && b[pos] != ';') {
        const bool image = b[pos] == ',';
        if (image) {
            pos += 11 + ((b[pos + 9] & 0x80) ? 3u * (2u << (b[pos + 9] & 7)) : 0);  // and the code size
        } else if (b[pos] == '!') {
            pos += 2;
        } else {
            return ::testing::AssertionFailure() << "unexpected byte " << int(b[pos]) << " at " << pos;
        }
        std::vector<int> lengths;
        for (; pos < b.size() && b[pos] != 0; pos += 1u + b[pos]) lengths.push_back(b[pos]);
        ++pos;
        if (!image) continue;
        if (lengths.empty()) return ::testing::AssertionFailure() << "an image without data";
        for (size_t i = 0; i + 1 < lengths.size(); ++i)
            if (lengths[i] != 255) return ::testing::AssertionFailure() << "sub-block " << i << ": " << lengths[i];
    }
    if (pos + 1 != b.size()) return ::testing::AssertionFailure() << "the trailer does not end the file";
    return ::testing::AssertionSuccess();
}

// Image data from one encoder in a file of its own: screen and frame of
// w x h, a global table of 2^max(bits, 1) entries.
Bytes EncodedFile(TGIFEncoder& encoder, int w, int h, int bits, bool interlaced, const Bytes& pixels) {
    TMemoryStream s;
    const int tableBits = std::max(bits, 1);
    const uint8_t head[13] = {'G', 'I', 'F', '8', '7', 'a', uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8),
                              uint8_t(0x80 | (tableBits - 1)), 0, 0};
    s.WriteBuffer(head, 13);
    for (int i = 0; i < (1 << tableBits); ++i) {
        const uint8_t rgb[3] = {uint8_t(i), uint8_t(i), uint8_t(i)};
        s.WriteBuffer(rgb, 3);
    }
    const uint8_t descriptor[10] = {',', 0, 0, 0, 0, uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8),
                                    uint8_t(interlaced ? 0x40 : 0)};
    s.WriteBuffer(descriptor, 10);
    encoder.Encode(s, bits, w, h, interlaced, pixels.data(), 1 << bits);
    WriteOneByte(s, ';');
    return BytesOf(s);
}

}  // namespace

TEST(GIFWriter, EveryGeneratedFileRoundTripsThroughBothEncoders) {
    for (const auto& file : GifsIn(kGenerated)) {
        Picture original;
        std::string error;
        ASSERT_TRUE(Giflib(file.string(), original, error)) << error;
        // Blocks of a label the reader does not know are passed over when
        // read, so they are not written back.
        for (Frame& frame : original.frames)
            std::erase_if(frame.extensions, [](const Extension& e) {
                return e.label != 0x01 && e.label != 0xF9 && e.label != 0xFE && e.label != 0xFF;
            });
        for (int encoding : {0, 1}) {
            SCOPED_TRACE(file.filename().string() + (encoding ? " run-length" : " LZW"));
            TGIFPicture gif;
            gif.LoadFromFile(file.string());
            gif.Encoding = static_cast<TGIFEncoding>(encoding);
            const Bytes saved = Save(gif);
            EXPECT_TRUE(FullSubBlocks(saved));
            const Picture back = Giflib(saved);
            ASSERT_EQ(back.frames.size(), original.frames.size());
            EXPECT_EQ(back.globalColors.size(), original.globalColors.size());
            EXPECT_EQ(back.trailing, original.trailing);
            std::unique_ptr<TGIFPicture> reread = Reload(saved);
            for (size_t i = 0; i < back.frames.size(); ++i) {
                SCOPED_TRACE("frame " + std::to_string(i));
                const Frame &a = original.frames[i], &b = back.frames[i];
                EXPECT_EQ(Bounds(b.left, b.top, b.width, b.height), Bounds(a.left, a.top, a.width, a.height));
                EXPECT_EQ(b.indices, a.indices);
                EXPECT_EQ(b.colors, a.colors);
                EXPECT_EQ(b.transparent, a.transparent);
                EXPECT_EQ(b.extensions, a.extensions);
                EXPECT_EQ(Indices(*reread->Images()[static_cast<int>(i)]), a.indices);
            }
        }
    }
}

TEST(GIFWriter, RandomIndexImagesRoundTripAtEveryDepthThroughBothEncoders) {
    std::mt19937 random(20240611);
    auto between = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    for (int bits = 1; bits <= 8; ++bits) {
        for (int trial = 0; trial < 8; ++trial) {
            // Sides 1..300 either way; noise, runs of every length (a single
            // colour gives runs past 4095) and mixtures of both.
            int w = between(1, 300), h = between(1, 300);
            if (trial == 0) w = h = 1;
            if (trial == 1) w = 300, h = 300;
            const int kind = trial % 4;
            Bytes pixels(size_t(w) * h);
            int value = 0, left = 0;
            for (uint8_t& p : pixels) {
                if (kind == 0) {
                    p = static_cast<uint8_t>(between(0, (1 << bits) - 1));
                    continue;
                }
                if (left == 0) {
                    value = between(0, (1 << bits) - 1);
                    left = kind == 1 ? int(pixels.size()) : between(1, kind == 2 ? 9000 : 40);
                }
                p = static_cast<uint8_t>(value);
                --left;
            }
            TLZWEncoder lzw;
            TRLEEncoder rle;
            for (TGIFEncoder* encoder : {static_cast<TGIFEncoder*>(&lzw), static_cast<TGIFEncoder*>(&rle)}) {
                SCOPED_TRACE(std::string(encoder->ClassName()) + " bits " + std::to_string(bits) + " " +
                             std::to_string(w) + "x" + std::to_string(h) + " kind " + std::to_string(kind));
                const Bytes file = EncodedFile(*encoder, w, h, bits, trial % 3 == 2, pixels);
                EXPECT_TRUE(FullSubBlocks(file));
                const Picture back = Giflib(file);
                ASSERT_EQ(back.frames.size(), 1u);
                EXPECT_EQ(back.frames[0].indices, pixels);
                EXPECT_EQ(Indices(*Reload(file)->Images()[0]), pixels);
            }
        }
    }
}

TEST(GIFEncoder, CodeStreamEdges) {
    auto data = [](TGIFEncoder& encoder, int bits, int w, int h, const Bytes& pixels) {
        TMemoryStream s;
        encoder.Encode(s, bits, w, h, false, pixels.empty() ? nullptr : pixels.data(), 1 << bits);
        return BytesOf(s);
    };
    TLZWEncoder lzw;
    // No pixels: the code size, one sub-block with the end code, the terminator.
    EXPECT_EQ(data(lzw, 1, 0, 5, {}), (Bytes{2, 1, 0x05, 0}));
    // Clear, 1, 1, end in three bits each.
    EXPECT_EQ(data(lzw, 2, 2, 1, {1, 1}), (Bytes{2, 2, 0x4C, 0x0A, 0}));
    // Clear, 0, 1, 2 in three bits and the end code in four: 16 bits, and no
    // byte after them.
    EXPECT_EQ(data(lzw, 2, 3, 1, {0, 1, 2}), (Bytes{2, 2, 0x44, 0x54, 0}));
    EXPECT_EQ(data(lzw, 8, 1, 1, {7})[0], 8);
    try {
        data(lzw, 2, 2, 1, {1, 4});
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_EQ(e.Message(), "Color not in color table");
    }
    // A code stream of exactly 255 bytes: one full sub-block, then the terminator.
    std::mt19937 random(7);
    Bytes noise(400);
    for (uint8_t& p : noise) p = static_cast<uint8_t>(random());
    bool found = false;
    for (int w = 100; w <= 400 && !found; ++w) {
        const Bytes d = data(lzw, 8, w, 1, Bytes(noise.begin(), noise.begin() + w));
        if (d[1] != 255 || d.size() > 258) continue;
        found = true;
        EXPECT_EQ(d.size(), 258u);
        EXPECT_EQ(d.back(), 0);
    }
    EXPECT_TRUE(found);
    // A writer holding nothing writes nothing.
    TMemoryStream empty;
    TGIFWriter(empty).FlushBlock();
    EXPECT_EQ(empty.Size(), 0);
}

TEST(GIFEncoder, HashProbesDoubleAndStopAfterOneCycle) {
    EXPECT_EQ(THashTable::NextSlot(0), 8008);
    EXPECT_EQ(THashTable::NextSlot(4004), 8008);
    EXPECT_EQ(THashTable::NextSlot(4005), 1);
    // Keys whose probe cycles run through slot 1's: the cycle takes 4004 of
    // them, then Store reports the table full and Find gives up.
    std::vector<bool> cycle(THashTable::kSize);
    for (int s = 1, i = 0; i < 4004; ++i, s = THashTable::NextSlot(s)) cycle[size_t(s)] = true;
    EXPECT_EQ(std::count(cycle.begin(), cycle.end(), true), 4004);
    THashTable table;
    int stored = 0;
    uint32_t key = 0, first = 0xFFFFF;
    for (; key < 0xFFFFF; ++key) {
        if (!cycle[size_t(THashTable::Hash(key))]) continue;
        if (!table.Store(key, int(key & 0xFFF))) break;
        first = std::min(first, key);
        ++stored;
    }
    EXPECT_EQ(stored, 4004);
    EXPECT_EQ(table.Find(key), -1);
    EXPECT_EQ(table.Find(first), int(first & 0xFFF));
}

TEST(GIFEncoder, RunCodeCostsAndIntegerRoots) {
    for (int64_t x : std::vector<int64_t>{0, 1, 2, 3, 4, 8, 15, 16, 24, 99, 100, 1000000, 999999999999})
        EXPECT_EQ(IntegerRoot(x), int64_t(std::sqrt(double(x)))) << x;
    EXPECT_EQ(RunCodeCost(10, 4), 4);  // 1 + 2 + 3 + 4
    EXPECT_EQ(RunCodeCost(11, 4), 5);
    EXPECT_EQ(RunCodeCost(7, 4), 4);   // 1 + 2 + 3 leave one more
    EXPECT_EQ(RunCodeCost(6, 4), 3);
}

// Every hand-made hostile file and fuzz finding that loads is written
// again and reads back with the same images (blocks read with odd sizes are
// written in the format's own).
TEST(GIFWriter, DamagedFilesThatLoadAreWrittenWellFormed) {
    int written = 0;
    for (const char* folder : {"/gif/hostile", "/gif/fuzz"}) {
        for (const auto& file : GifsIn(std::string(QUILLARC_TEST_DATA) + folder)) {
            SCOPED_TRACE(file.filename().string());
            TGIFPicture gif;
            try {
                gif.LoadFromFile(file.string());
            } catch (const Exception&) {
            }
            if (gif.Empty()) continue;
            Bytes saved;
            try {
                saved = Save(gif);
            } catch (const GIFException& e) {
                EXPECT_EQ(e.Message(), "Color not in color table");
                continue;
            }
            ++written;
            std::unique_ptr<TGIFPicture> back = Reload(saved);
            auto images = [](TGIFPicture& p) {
                std::vector<std::pair<TRect, Bytes>> list;
                for (int i = 0; i < p.Images().Count(); ++i)
                    if (TGIFSubImage* f = p.Images()[i]; !f->IsEmpty()) list.emplace_back(f->FrameRect(), Indices(*f));
                return list;
            };
            EXPECT_TRUE(images(gif) == images(*back));
        }
    }
    EXPECT_GE(written, 15);
}
