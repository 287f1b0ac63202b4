// The GIF writer against giflib: every file of the reader's test set and
// random index images, written by both encoders, decode in giflib and in
// this reader to what was written; the code stream's edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <cmath>
#include <random>

#include "gif/GIFEncoder.h"
#include "gif/GIFPicture.h"
#include "tests/gif/GiflibReference.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

const std::string kGenerated = std::string(QUILLARC_GENERATED_DATA) + "/gif";

Bytes Save(TGIFPicture& gif) {
    TMemoryStream out;
    gif.SaveToStream(out);
    return Bytes(out.Memory(), out.Memory() + out.Size());
}

std::unique_ptr<TGIFPicture> Reload(const Bytes& bytes) {
    TMemoryStream in;
    in.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    in.SetPosition(0);
    auto gif = std::make_unique<TGIFPicture>();
    gif->LoadFromStream(in);
    return gif;
}

giflib_reference::Picture Giflib(const Bytes& bytes) {
    giflib_reference::Picture picture;
    std::string error;
    EXPECT_TRUE(giflib_reference::Load(bytes.data(), bytes.size(), picture, error)) << error;
    return picture;
}

// Walks a file's blocks and returns the sub-block lengths of each image's
// data. Every block must stand where the format puts it.
std::vector<std::vector<int>> ImageSubBlocks(const Bytes& b) {
    std::vector<std::vector<int>> images;
    size_t pos = 13;
    if (b.size() < 13) {
        ADD_FAILURE() << "no header";
        return images;
    }
    if (b[10] & 0x80) pos += 3u * (2u << (b[10] & 7));
    auto subBlocks = [&](std::vector<int>* lengths) {
        while (pos < b.size() && b[pos] != 0) {
            if (lengths) lengths->push_back(b[pos]);
            pos += 1u + b[pos];
        }
        ++pos;
    };
    while (pos < b.size() && b[pos] != ';') {
        if (b[pos] == '!') {
            pos += 2;
            subBlocks(nullptr);
        } else if (b[pos] == ',') {
            const uint8_t packed = b[pos + 9];
            pos += 10;
            if (packed & 0x80) pos += 3u * (2u << (packed & 7));
            ++pos;  // minimum code size
            images.emplace_back();
            subBlocks(&images.back());
        } else {
            ADD_FAILURE() << "unexpected byte " << int(b[pos]) << " at " << pos;
            return images;
        }
    }
    EXPECT_EQ(pos + 1, b.size()) << "the trailer ends the file";
    return images;
}

// Every sub-block but the last of an image is full.
::testing::AssertionResult FullSubBlocks(const Bytes& bytes) {
    for (const std::vector<int>& lengths : ImageSubBlocks(bytes)) {
        if (lengths.empty()) return ::testing::AssertionFailure() << "an image without data";
        for (size_t i = 0; i + 1 < lengths.size(); ++i)
            if (lengths[i] != 255) return ::testing::AssertionFailure() << "sub-block " << i << ": " << lengths[i];
        if (lengths.back() < 1 || lengths.back() > 255) return ::testing::AssertionFailure() << "last sub-block";
    }
    return ::testing::AssertionSuccess();
}

// One frame of w x h pixels over a global table of 2^bits colours.
std::unique_ptr<TGIFPicture> IndexPicture(int w, int h, int bits, const Bytes& pixels, int encoding) {
    auto gif = std::make_unique<TGIFPicture>();
    gif->Encoding = static_cast<TGIFEncoding>(encoding);
    for (int i = 0; i < (1 << bits); ++i) gif->GlobalColorMap().Append(RGB(uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)));
    auto* frame = new TGIFSubImage(gif.get());
    gif->Images().Add(frame);
    frame->PlaceFrame(0, 0, w, h);
    std::copy(pixels.begin(), pixels.end(), frame->Data());
    return gif;
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
    return Bytes(s.Memory(), s.Memory() + s.Size());
}

// The extensions the reader keeps: blocks of a label it does not know are
// passed over when read, so they are not written back.
std::vector<giflib_reference::Extension> Known(std::vector<giflib_reference::Extension> list) {
    std::erase_if(list, [](const giflib_reference::Extension& e) {
        return e.label != 0x01 && e.label != 0xF9 && e.label != 0xFE && e.label != 0xFF;
    });
    return list;
}

}  // namespace

TEST(GIFWriter, EveryGeneratedFileRoundTripsThroughBothEncoders) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(kGenerated))
        if (entry.path().extension() == ".gif") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 30u);
    for (const fs::path& file : files) {
        giflib_reference::Picture original;
        std::string error;
        ASSERT_TRUE(giflib_reference::Load(file.string(), original, error)) << error;
        for (int encoding : {0, 1}) {
            SCOPED_TRACE(file.filename().string() + (encoding ? " run-length" : " LZW"));
            TGIFPicture gif;
            gif.LoadFromFile(file.string());
            gif.Encoding = static_cast<TGIFEncoding>(encoding);
            const Bytes saved = Save(gif);
            EXPECT_TRUE(FullSubBlocks(saved));
            const giflib_reference::Picture back = Giflib(saved);
            ASSERT_EQ(back.frames.size(), original.frames.size());
            EXPECT_EQ(back.globalColors.size(), original.globalColors.size());
            EXPECT_EQ(back.trailing, original.trailing);
            std::unique_ptr<TGIFPicture> reread = Reload(saved);
            for (size_t i = 0; i < back.frames.size(); ++i) {
                const giflib_reference::Frame &a = original.frames[i], &b = back.frames[i];
                EXPECT_EQ(Bounds(b.left, b.top, b.width, b.height), Bounds(a.left, a.top, a.width, a.height));
                EXPECT_EQ(b.indices, a.indices) << "frame " << i;
                EXPECT_EQ(b.colors, a.colors) << "frame " << i;
                EXPECT_EQ(b.transparent, a.transparent) << "frame " << i;
                EXPECT_EQ(b.extensions, Known(a.extensions)) << "frame " << i;
                const TGIFSubImage* f = reread->Images()[static_cast<int>(i)];
                EXPECT_EQ(Bytes(f->Data(), f->Data() + f->DataSize()), a.indices) << "frame " << i;
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
            const bool interlaced = trial % 3 == 2;
            TLZWEncoder lzw;
            TRLEEncoder rle;
            for (TGIFEncoder* encoder : {static_cast<TGIFEncoder*>(&lzw), static_cast<TGIFEncoder*>(&rle)}) {
                SCOPED_TRACE(std::string(encoder->ClassName()) + " bits " + std::to_string(bits) + " " +
                             std::to_string(w) + "x" + std::to_string(h) + " kind " + std::to_string(kind));
                const Bytes file = EncodedFile(*encoder, w, h, bits, interlaced, pixels);
                EXPECT_TRUE(FullSubBlocks(file));
                const giflib_reference::Picture back = Giflib(file);
                ASSERT_EQ(back.frames.size(), 1u);
                EXPECT_EQ(back.frames[0].indices, pixels);
                std::unique_ptr<TGIFPicture> reread = Reload(file);
                const TGIFSubImage* f = reread->Images()[0];
                EXPECT_EQ(Bytes(f->Data(), f->Data() + f->DataSize()), pixels);
            }
        }
    }
}

TEST(GIFWriter, PicturesWrittenFromTheModelKeepTheirBlocksByteForByte) {
    for (int encoding : {0, 1}) {
        std::unique_ptr<TGIFPicture> gif = IndexPicture(5, 3, 2, Bytes(15, 3), encoding);
        TGIFSubImage* frame = gif->Images()[0];
        const Bytes gce{0x21, 0xF9, 0x04, 0x09, 0x0A, 0x00, 0x03, 0x00};
        TMemoryStream s;
        s.WriteBuffer(gce.data(), 8);
        s.SetPosition(0);
        auto* control = new TGIFGraphicControlExtension(frame);
        control->LoadFromStream(s);
        frame->Extensions().Add(control);
        auto* comment = new TGIFCommentExtension(frame);
        comment->Text().Add("a");
        comment->Text().Add("");
        frame->Extensions().Add(comment);
        auto* loop = new TGIFAppExtNSLoop(frame);
        frame->Extensions().Add(loop);
        const Bytes saved = Save(*gif);
        Bytes expected = gce;
        expected.insert(expected.end(), {0x21, 0xFE, 0x01, 'a', 0x00, 0x21, 0xFF, 0x0B});
        for (char c : std::string("NETSCAPE2.0")) expected.push_back(static_cast<uint8_t>(c));
        expected.insert(expected.end(), {0x03, 0x01, 0x00, 0x00, 0x00, ','});
        const size_t at = 13 + 12;
        ASSERT_GT(saved.size(), at + expected.size());
        EXPECT_EQ(Bytes(saved.begin() + at, saved.begin() + at + expected.size()), expected);
        EXPECT_EQ(Bytes(saved.begin(), saved.begin() + 6), (Bytes{'G', 'I', 'F', '8', '9', 'a'}));
        const giflib_reference::Picture back = Giflib(saved);
        ASSERT_EQ(back.frames.size(), 1u);
        EXPECT_EQ(back.frames[0].transparent, 3);
        EXPECT_EQ(back.frames[0].indices, Bytes(15, 3));
    }
}

TEST(GIFEncoder, CodeStreamEdges) {
    auto data = [](TGIFEncoder& encoder, int bits, int w, int h, const Bytes& pixels) {
        TMemoryStream s;
        encoder.Encode(s, bits, w, h, false, pixels.empty() ? nullptr : pixels.data(), 1 << bits);
        return Bytes(s.Memory(), s.Memory() + s.Size());
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
    {
        TGIFWriter writer(empty);
        writer.FlushBlock();
    }
    EXPECT_EQ(empty.Size(), 0);
    EXPECT_THROW(TGIFWriter(empty).Seek(0, TSeekOrigin::soBeginning), Exception);
}

TEST(GIFEncoder, HashProbesDoubleAndStopAfterOneCycle) {
    EXPECT_EQ(THashTable::NextSlot(0), 8008);
    EXPECT_EQ(THashTable::NextSlot(4004), 8008);
    EXPECT_EQ(THashTable::NextSlot(4005), 1);
    // Keys whose probe cycles run through slot 1's: the cycle takes 4004 of
    // them, then Store reports the table full and Find gives up.
    auto inCycleOfOne = [](int h) {
        for (int s = 1, i = 0; i < 4004; ++i, s = THashTable::NextSlot(s))
            if (s == h) return true;
        return false;
    };
    std::vector<bool> cycle(THashTable::kSize);
    for (int h = 0; h < THashTable::kSize; ++h) cycle[size_t(h)] = inCycleOfOne(h);
    EXPECT_EQ(std::count(cycle.begin(), cycle.end(), true), 4004);
    THashTable table;
    int stored = 0;
    uint32_t key = 0;
    for (; key < 0xFFFFF; ++key) {
        if (!cycle[size_t(THashTable::Hash(key))]) continue;
        if (!table.Store(key, int(key & 0xFFF))) break;
        ++stored;
    }
    EXPECT_EQ(stored, 4004);
    EXPECT_EQ(table.Find(key), -1);
    uint32_t first = 0;
    while (!cycle[size_t(THashTable::Hash(first))]) ++first;
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
        for (const auto& entry : fs::directory_iterator(std::string(QUILLARC_TEST_DATA) + folder)) {
            if (entry.path().extension() != ".gif") continue;
            SCOPED_TRACE(entry.path().filename().string());
            TGIFPicture gif;
            try {
                gif.LoadFromFile(entry.path().string());
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
            std::vector<TGIFSubImage*> a, b;
            for (int i = 0; i < gif.Images().Count(); ++i)
                if (!gif.Images()[i]->IsEmpty()) a.push_back(gif.Images()[i]);
            for (int i = 0; i < back->Images().Count(); ++i)
                if (!back->Images()[i]->IsEmpty()) b.push_back(back->Images()[i]);
            ASSERT_EQ(a.size(), b.size());
            for (size_t i = 0; i < a.size(); ++i) {
                EXPECT_EQ(a[i]->FrameRect(), b[i]->FrameRect());
                EXPECT_EQ(Bytes(a[i]->Data(), a[i]->Data() + a[i]->DataSize()),
                          Bytes(b[i]->Data(), b[i]->Data() + b[i]->DataSize()));
            }
        }
    }
    EXPECT_GE(written, 15);
}
