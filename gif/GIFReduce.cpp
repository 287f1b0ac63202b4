// Colour reduction: ditherers, fixed palettes, the octree quantiser and the
// reduction of a true-colour bitmap to an 8-bit one.
#include "gif/GIFReduce.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/core/Numeric.h"
#include "platform/core/Parallel.h"

// ------------------------------------------------------------ dithering

void TDitherEngine::EndRow() {
    direction_ = -direction_;
    column_ = direction_ > 0 ? 0 : width_ - 1;
}

TFloydSteinbergDitherer::TFloydSteinbergDitherer(int width, TColorLookup& lookup) : TDitherEngine(width, lookup) {
    rows_.assign((static_cast<size_t>(width) + 2) * 3, 0);
}

uint8_t TFloydSteinbergDitherer::DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed,
                                             uint8_t& outGreen, uint8_t& outBlue) {
    int32_t* slot = rows_.data() + 3 * static_cast<size_t>(pointer_);
    const int32_t v[3] = {num::ClampByte(red + (slot[0] + cur_[0] + 8) / 16),
                          num::ClampByte(green + (slot[1] + cur_[1] + 8) / 16),
                          num::ClampByte(blue + (slot[2] + cur_[2] + 8) / 16)};
    uint8_t out[3];
    const uint8_t index = Nearest(static_cast<uint8_t>(v[0]), static_cast<uint8_t>(v[1]), static_cast<uint8_t>(v[2]),
                                  out[0], out[1], out[2]);
    for (int c = 0; c < 3; ++c) {
        const int32_t e = v[c] - out[c];
        if (e == 0) {
            cur_[c] = 0;
            continue;
        }
        slot[c] = b2_[c] + 3 * e;
        b2_[c] = b1_[c] + 5 * e;
        b1_[c] = e;
        cur_[c] = 7 * e;
    }
    pointer_ += direction_;
    outRed = out[0];
    outGreen = out[1];
    outBlue = out[2];
    return index;
}

void TFloydSteinbergDitherer::EndRow() {
    int32_t* slot = rows_.data() + 3 * static_cast<size_t>(pointer_);
    for (int c = 0; c < 3; ++c) {
        slot[c] = b2_[c];
        cur_[c] = b1_[c] = b2_[c] = 0;
    }
    TDitherEngine::EndRow();
    pointer_ = direction_ > 0 ? 0 : width_ + 1;
}

TErrorRowsDitherer::TErrorRowsDitherer(int width, TColorLookup& lookup, int rows, int margin, int divisor,
                                       std::vector<Tap> taps)
    : TDitherEngine(width, lookup), margin_(margin), divisor_(divisor), taps_(std::move(taps)) {
    buffers_.assign(static_cast<size_t>(rows) * 3, std::vector<int32_t>(static_cast<size_t>(width + 2 * margin), 0));
    for (int r = 0; r < rows; ++r) order_.push_back(r);
}

uint8_t TErrorRowsDitherer::DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed,
                                        uint8_t& outGreen, uint8_t& outBlue) {
    const int slot = column_ + margin_;
    const int direction = direction_;
    const uint8_t in[3] = {red, green, blue};
    int32_t v[3];
    for (int c = 0; c < 3; ++c) {
        const int32_t collected = buffers_[static_cast<size_t>(order_[0] * 3 + c)][static_cast<size_t>(slot)];
        v[c] = num::ClampByte(in[c] + (collected + divisor_ / 2) / divisor_);
    }
    uint8_t out[3];
    const uint8_t index = Nearest(static_cast<uint8_t>(v[0]), static_cast<uint8_t>(v[1]), static_cast<uint8_t>(v[2]),
                                  out[0], out[1], out[2]);
    for (int c = 0; c < 3; ++c) {
        const int32_t e = v[c] - out[c];
        if (e == 0) continue;
        for (const Tap& t : taps_)
            buffers_[static_cast<size_t>(order_[static_cast<size_t>(t.row)] * 3 + c)]
                    [static_cast<size_t>(slot + t.offset * direction)] += t.weight * e;
    }
    outRed = out[0];
    outGreen = out[1];
    outBlue = out[2];
    return index;
}

void TErrorRowsDitherer::EndRow() {
    for (int c = 0; c < 3; ++c) {
        auto& row = buffers_[static_cast<size_t>(order_[0] * 3 + c)];
        std::fill(row.begin(), row.end(), 0);
    }
    std::rotate(order_.begin(), order_.begin() + 1, order_.end());
    TDitherEngine::EndRow();
}

TStuckiDitherer::TStuckiDitherer(int width, TColorLookup& lookup)
    : TErrorRowsDitherer(width, lookup, 3, 2, 42,
                    {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2},
                     {2, -2, 1}, {2, -1, 2}, {2, 0, 4}, {2, 1, 2}, {2, 2, 1}}) {}

TSierraDitherer::TSierraDitherer(int width, TColorLookup& lookup)
    : TErrorRowsDitherer(width, lookup, 3, 2, 32,
                    {{0, 1, 5}, {0, 2, 3}, {1, -2, 2}, {1, -1, 4}, {1, 0, 5}, {1, 1, 4}, {1, 2, 2},
                     {2, -1, 2}, {2, 0, 3}, {2, 1, 2}}) {}

TJaJuNiDitherer::TJaJuNiDitherer(int width, TColorLookup& lookup)
    : TErrorRowsDitherer(width, lookup, 3, 2, 48,
                    {{0, 1, 7}, {0, 2, 5}, {1, -2, 3}, {1, -1, 5}, {1, 0, 7}, {1, 1, 5}, {1, 2, 3},
                     {2, -2, 1}, {2, -1, 3}, {2, 0, 5}, {2, 1, 3}, {2, 2, 1}}) {}

TSteveArcheDitherer::TSteveArcheDitherer(int width, TColorLookup& lookup)
    : TErrorRowsDitherer(width, lookup, 4, 3, 200,
                         {{0, 2, 32}, {1, -3, 12}, {1, -1, 26}, {1, 1, 30}, {1, 3, 16}, {2, -2, 12}, {2, 0, 26},
                          {2, 2, 12}, {3, -3, 5}, {3, -1, 12}, {3, 1, 12}, {3, 3, 5}}) {}

TBurkesDitherer::TBurkesDitherer(int width, TColorLookup& lookup)
    : TErrorRowsDitherer(width, lookup, 2, 2, 32,
                         {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}}) {}

std::unique_ptr<TDitherEngine> CreateDitherer(TDitherKind kind, int width, TColorLookup& lookup) {
    switch (kind) {
        case 0: return std::make_unique<TDitherEngine>(width, lookup);
        case 1: return std::make_unique<TFloydSteinbergDitherer>(width, lookup);
        case 2: return std::make_unique<TStuckiDitherer>(width, lookup);
        case 3: return std::make_unique<TSierraDitherer>(width, lookup);
        case 4: return std::make_unique<TJaJuNiDitherer>(width, lookup);
        case 5: return std::make_unique<TSteveArcheDitherer>(width, lookup);
        case 6: return std::make_unique<TBurkesDitherer>(width, lookup);
        default: return nullptr;
    }
}

// ------------------------------------------------------------ fixed palettes

HPALETTE Create216ColorPalette() {
    TPaletteEntry entries[216];
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                entries[36 * r + 6 * g + b] =
                    TPaletteEntry{uint8_t(51 * r), uint8_t(51 * g), uint8_t(51 * b), 0};
    return CreatePalette(entries, 216);
}

HPALETTE CreateGreyPalette256() {
    TPaletteEntry entries[256];
    for (int i = 0; i < 256; ++i) entries[i] = TPaletteEntry{uint8_t(i), uint8_t(i), uint8_t(i), PC_NOCOLLAPSE};
    return CreatePalette(entries, 256);
}

HPALETTE CreateBlackWhitePalette() {
    const TPaletteEntry entries[2] = {{0, 0, 0, PC_NOCOLLAPSE}, {255, 255, 255, PC_NOCOLLAPSE}};
    return CreatePalette(entries, 2);
}

HPALETTE CreateFourGreyPalette() {
    const TPaletteEntry entries[4] = {{0x00, 0x00, 0x00, PC_NOCOLLAPSE},
                                      {0x80, 0x80, 0x80, PC_NOCOLLAPSE},
                                      {0xC0, 0xC0, 0xC0, PC_NOCOLLAPSE},
                                      {0xFF, 0xFF, 0xFF, PC_NOCOLLAPSE}};
    return CreatePalette(entries, 4);
}

HPALETTE CreateScreenHalftonePalette() {
    const auto& table = HalftonePalette256();
    return CheckGDIHandle(CreatePalette(table.data(), static_cast<int>(table.size())));
}

// ------------------------------------------------------------ octree

TColorQuantizer::TColorQuantizer(int maxColors, int colorBits) : maxColors_(maxColors), colorBits_(colorBits) {}

int32_t TColorQuantizer::NewNode(int level) {
    int32_t index;
    if (!free_.empty()) {
        index = free_.back();
        free_.pop_back();
        nodes_[static_cast<size_t>(index)] = Node{};
    } else {
        index = static_cast<int32_t>(nodes_.size());
        nodes_.emplace_back();
    }
    Node& node = nodes_[static_cast<size_t>(index)];
    node.level = static_cast<uint8_t>(level);
    if (level == colorBits_) {
        node.leaf = true;
        ++leafCount_;
    } else {
        node.next = reducible_[level];
        reducible_[level] = index;
    }
    return index;
}

void TColorQuantizer::FreeSubtree(int32_t node) {
    for (int i = 7; i >= 0; --i) {
        const int32_t child = nodes_[static_cast<size_t>(node)].children[i];
        if (child >= 0) FreeSubtree(child);
    }
    free_.push_back(node);
}

int32_t TColorQuantizer::InsertColor(uint8_t red, uint8_t green, uint8_t blue, bool count) {
    if (root_ < 0) root_ = NewNode(0);
    int32_t node = root_;
    for (int level = 0;; ++level) {
        Node& n = nodes_[static_cast<size_t>(node)];
        if (n.leaf) {
            if (count) {
                ++n.count;
                n.red += red;
                n.green += green;
                n.blue += blue;
            }
            return node;
        }
        const int shift = 7 - level;
        const int index = (((red >> shift) & 1) << 2) | (((green >> shift) & 1) << 1) | ((blue >> shift) & 1);
        int32_t child = n.children[index];
        if (child < 0) {
            child = NewNode(level + 1);  // may move the nodes
            nodes_[static_cast<size_t>(node)].children[index] = child;
        }
        node = child;
    }
}

void TColorQuantizer::MergeDeepest() {
    int level = colorBits_ - 1;
    while (level > 0 && reducible_[level] < 0) --level;
    const int32_t index = reducible_[level];
    if (index < 0) return;
    Node& node = nodes_[static_cast<size_t>(index)];
    reducible_[level] = node.next;
    int children = 0;
    int64_t red = 0, green = 0, blue = 0;
    for (int i = 0; i < 8; ++i) {
        const int32_t child = node.children[i];
        if (child < 0) continue;
        const Node& c = nodes_[static_cast<size_t>(child)];
        red += c.red;
        green += c.green;
        blue += c.blue;
        node.count += c.count;
        ++children;
    }
    for (int i = 7; i >= 0; --i) {
        if (node.children[i] >= 0) FreeSubtree(node.children[i]);
        node.children[i] = -1;
    }
    node.leaf = true;
    node.red = red;
    node.green = green;
    node.blue = blue;
    leafCount_ -= children - 1;
}

void TColorQuantizer::AddPictureParallel(int width, int height, const std::function<const uint8_t*(int)>& rows) {
    if (width <= 0 || height <= 0) return;
    // The distinct colours in the order they first appear: each block of
    // rows lists its own first appearances, then the blocks are joined in
    // order, keeping the colours no earlier block had.
    const int blocks = std::min(height, std::max(1, par::ThreadCount() * 2));
    std::vector<std::vector<uint32_t>> firsts(static_cast<size_t>(blocks));
    par::ForRows(blocks, [&](int32_t b0, int32_t b1) {
        std::vector<uint64_t> seen(size_t(1) << 18, 0);
        for (int32_t b = b0; b < b1; ++b) {
            std::vector<uint32_t>& list = firsts[static_cast<size_t>(b)];
            const int y0 = static_cast<int>(int64_t(b) * height / blocks);
            const int y1 = static_cast<int>(int64_t(b + 1) * height / blocks);
            for (int y = y0; y < y1; ++y) {
                const uint8_t* p = rows(y);
                for (int x = 0; x < width; ++x, p += 3) {
                    const uint32_t c = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
                    uint64_t& word = seen[c >> 6];
                    const uint64_t bit = uint64_t(1) << (c & 63);
                    if (word & bit) continue;
                    word |= bit;
                    list.push_back(c);
                }
            }
            for (uint32_t c : list) seen[c >> 6] = 0;
        }
    });
    // The tree's shape: only a colour's first appearance can add a node, so
    // the merges follow from this order alone.
    {
        std::vector<uint64_t> seen(size_t(1) << 18, 0);
        for (const std::vector<uint32_t>& list : firsts)
            for (uint32_t c : list) {
                uint64_t& word = seen[c >> 6];
                const uint64_t bit = uint64_t(1) << (c & 63);
                if (word & bit) continue;
                word |= bit;
                InsertColor(static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c),
                            false);
                while (leafCount_ > maxColors_) MergeDeepest();
            }
    }
    firsts.clear();
    // Each leaf holds every pixel below its place in the tree: the sums are
    // added up per block of rows and joined in order.
    std::vector<int32_t> leafIndex(nodes_.size(), -1);
    int leaves = 0;
    for (size_t i = 0; i < nodes_.size(); ++i)
        if (nodes_[i].leaf) leafIndex[i] = leaves++;
    std::vector<std::vector<int64_t>> sums(static_cast<size_t>(blocks));
    par::ForRows(blocks, [&](int32_t b0, int32_t b1) {
        for (int32_t b = b0; b < b1; ++b) {
            std::vector<int64_t>& s = sums[static_cast<size_t>(b)];
            s.assign(static_cast<size_t>(leaves) * 4, 0);
            const int y0 = static_cast<int>(int64_t(b) * height / blocks);
            const int y1 = static_cast<int>(int64_t(b + 1) * height / blocks);
            uint32_t lastColor = 0xFFFFFFFF;
            int64_t* last = nullptr;
            for (int y = y0; y < y1; ++y) {
                const uint8_t* p = rows(y);
                for (int x = 0; x < width; ++x, p += 3) {
                    const uint32_t c = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
                    if (c != lastColor) {
                        int32_t node = root_;
                        for (int level = 0; !nodes_[static_cast<size_t>(node)].leaf; ++level) {
                            const int shift = 7 - level;
                            const int index = (((p[2] >> shift) & 1) << 2) | (((p[1] >> shift) & 1) << 1) |
                                              ((p[0] >> shift) & 1);
                            node = nodes_[static_cast<size_t>(node)].children[index];
                        }
                        last = s.data() + 4 * leafIndex[static_cast<size_t>(node)];
                        lastColor = c;
                    }
                    last[0] += 1;
                    last[1] += p[2];
                    last[2] += p[1];
                    last[3] += p[0];
                }
            }
        }
    });
    for (size_t i = 0; i < nodes_.size(); ++i) {
        if (leafIndex[i] < 0) continue;
        Node& n = nodes_[i];
        n.count = n.red = n.green = n.blue = 0;
        for (const std::vector<int64_t>& s : sums) {
            const int64_t* t = s.data() + 4 * leafIndex[i];
            n.count += t[0];
            n.red += t[1];
            n.green += t[2];
            n.blue += t[3];
        }
    }
}

std::vector<TPaletteEntry> TColorQuantizer::CollectColors() const {
    std::vector<TPaletteEntry> colors;
    if (root_ < 0) return colors;
    std::function<void(int32_t)> walk = [&](int32_t index) {
        const Node& n = nodes_[static_cast<size_t>(index)];
        if (n.leaf) {
            if (n.count == 0)
                colors.push_back(TPaletteEntry{});
            else
                colors.push_back(TPaletteEntry{static_cast<uint8_t>(n.red / n.count),
                                               static_cast<uint8_t>(n.green / n.count),
                                               static_cast<uint8_t>(n.blue / n.count), 0});
            return;
        }
        for (int i = 0; i < 8; ++i)
            if (n.children[i] >= 0) walk(n.children[i]);
    };
    walk(root_);
    return colors;
}

HPALETTE BuildOctreePalette(TBitmap& bitmap, int colors, int colorBits, bool withSystemColors) {
    std::vector<TPaletteEntry> entries(static_cast<size_t>(withSystemColors ? 256 : colors));
    int first = 0, asked = colors;
    if (withSystemColors) {
        const auto& system = SystemPalette20();
        for (int i = 0; i < 10; ++i) {
            entries[static_cast<size_t>(i)] = system[static_cast<size_t>(i)];
            entries[static_cast<size_t>(246 + i)] = system[static_cast<size_t>(10 + i)];
        }
        first = 10;
        asked = 236;
    }
    TColorQuantizer quantizer(asked, colorBits);
    quantizer.AddPictureParallel(bitmap.Width(), bitmap.Height(),
                                 [&bitmap](int y) -> const uint8_t* { return bitmap.ScanLine(y); });
    const std::vector<TPaletteEntry> collected = quantizer.CollectColors();
    // Entries the tree leaves unused stay black.
    for (size_t i = 0; i < collected.size() && i < static_cast<size_t>(asked); ++i) {
        TPaletteEntry e = collected[i];
        e.peFlags = 0;
        entries[static_cast<size_t>(first) + i] = e;
    }
    for (TPaletteEntry& e : entries) e.peFlags = 0;
    return CreatePalette(entries.data(), static_cast<int>(entries.size()));
}

HPALETTE BitmapOctreePalette(TBitmap& bitmap, int colors, int colorBits, bool withSystemColors) {
    TDIBReader reader(bitmap, TPixelFormat::pf24bit);
    return BuildOctreePalette(bitmap, colors, colorBits, withSystemColors);
}

// ------------------------------------------------------------ reduction

namespace {

// The serpentine scan of a picture read at 24 bits into the 8-bit rows of
// writer; step(red, green, blue) is the ditherer's DitherPixel, bound by the
// caller where it knows the ditherer's class.
template <class Step>
void ScanRows(TDitherEngine& ditherer, TDIBReader& reader, TDIBWriter& writer, int width, int height, Step step) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* source = reader.RowAddress(y);
        uint8_t* target = writer.RowAddress(y);
        for (int x = ditherer.Column(); x >= 0 && x < width; x = ditherer.Column()) {
            const uint8_t* p = source + 3 * x;
            target[x] = step(p[2], p[1], p[0]);
        }
        ditherer.EndRow();
    }
}

}  // namespace

std::unique_ptr<TBitmap> ReduceBitmapColors(TBitmap& bitmap, TPaletteReduction method, TDitherKind kind, int bits,
                                            HPALETTE palette) {
    auto result = std::make_unique<TBitmap>();
    if (method == 0) {
        result->Assign(&bitmap);
        result->SetPixelFormat(TPixelFormat::pf24bit);
        return result;
    }
    const int width = bitmap.Width(), height = bitmap.Height();
    if (int64_t(width) * height > 500000) result->SetPixelFormat(TPixelFormat::pf1bit);
    TDIBReader reader(bitmap, TPixelFormat::pf24bit);
    HPALETTE used = nullptr;
    struct Release {
        HPALETTE& p;
        ~Release() { DeleteObject(p); }  // the stock palette is ignored
    } release{used};
    switch (method) {
        case 1: used = DefaultPalette(); break;
        case 2: used = CreateScreenHalftonePalette(); break;
        case 3: used = CreateFourGreyPalette(); break;
        case 4: used = CreateBlackWhitePalette(); break;
        case 5: used = CreateGreyPalette256(); break;
        case 6: used = Create216ColorPalette(); break;
        case 7: used = BuildOctreePalette(bitmap, 1 << std::clamp(bits, 1, 8), 8, false); break;
        case 8: used = BitmapOctreePalette(bitmap, 256, 8, true); break;
        case 9: used = palette != nullptr ? CopyPalette(palette) : nullptr; break;
        default: return result;
    }
    std::unique_ptr<TColorLookup> lookup;
    switch (method) {
        case 4: lookup = std::make_unique<TMonochromeLookup>(used); break;
        case 5: lookup = std::make_unique<TGrayScaleLookup>(used); break;
        case 6: lookup = std::make_unique<TNetscapeColorLookup>(used); break;
        default: lookup = std::make_unique<TFastColorLookup>(used); break;
    }
    if (lookup->Colors() == 0) return result;
    std::unique_ptr<TDitherEngine> ditherer = CreateDitherer(kind, width, *lookup);
    if (ditherer == nullptr) return result;
    TDIBWriter writer(*result, TPixelFormat::pf8bit, width, height, used);
    TDitherEngine& engine = *ditherer;
    uint8_t r, g, b;
    if (auto* fs = dynamic_cast<TFloydSteinbergDitherer*>(&engine))
        ScanRows(engine, reader, writer, width, height,
                 [&](uint8_t red, uint8_t green, uint8_t blue) { return fs->DitherPixel(red, green, blue, r, g, b); });
    else if (kind == 0)  // the nearest colour: the engine's own step
        ScanRows(engine, reader, writer, width, height, [&](uint8_t red, uint8_t green, uint8_t blue) {
            return engine.TDitherEngine::DitherPixel(red, green, blue, r, g, b);
        });
    else
        ScanRows(engine, reader, writer, width, height, [&](uint8_t red, uint8_t green, uint8_t blue) {
            return engine.DitherPixel(red, green, blue, r, g, b);
        });
    writer.Close();
    return result;
}
