#include "rasterformats/DrHalo.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "rasterformats/RasterStrings.h"

namespace {

constexpr const char* kFormatName = "CUT";
constexpr int64_t kHeaderSize = 6;  // width, height, two reserved bytes

uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// The palette file beside a picture: its name with ".pal", or, when that
// does not exist, the same name with the extension in other letter cases
// (".PAL" beside "PHOTO.CUT").
std::string FindPaletteFile(const std::string& fileName) {
    const std::string exact = ChangeFileExt(fileName, ".pal");
    if (FileExists(exact)) return exact;
    const std::string folder = ExtractFilePath(exact);
    const std::string name = ExtractFileName(exact);
    const std::string stem = name.substr(0, name.size() - 4);
    std::vector<std::string> found;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder.empty() ? "." : folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::string candidate = it->path().filename().string();
        if (candidate.size() == name.size() && candidate.compare(0, stem.size(), stem) == 0 &&
            CompareText(candidate.substr(stem.size()), ".pal") == 0)
            found.push_back(candidate);
    }
    if (found.empty()) return exact;
    return folder + *std::min_element(found.begin(), found.end());
}

}  // namespace

QUILLARC_DEFINE_RASTER_GRAPHIC(TCUTGraphic, TRasterGraphic)

bool TCUTGraphic::AcceptsStream(TStream&) { return false; }

void TCUTGraphic::LoadFromFile(const std::string& fileName) {
    paletteFileName_ = FindPaletteFile(fileName);
    TRasterGraphic::LoadFromFile(fileName);
}

bool TCUTGraphic::ReadImageInfo(TStream& stream, int index) {
    TRasterGraphic::ReadImageInfo(stream, index);
    SetPixelFormat(TPixelFormat::pf8bit);
    uint8_t header[4];
    if (stream.Read(header, 4) != 4) return false;
    TImageProperties& p = ImageProperties;
    p.Width = Word(header);
    p.Height = Word(header + 2);
    p.ColorScheme = TColorLayout::csIndexed;
    p.BitsPerSample = 8;
    p.SamplesPerPixel = 1;
    p.BitsPerPixel = 8;
    p.Compression = TCompressionType::ctRLE;
    return true;
}

void TCUTGraphic::LoadImage(TStream& stream) {
    ReadHeader(stream, kFormatName);
    stream.Seek(kHeaderSize, TSeekOrigin::soCurrent);
    StartProgress(raster::kTransfering);
    SetReaderPixelFormat(TPixelFormat::pf8bit);
    LoadPalette();

    const int32_t width = ImageProperties.Width, height = ImageProperties.Height;
    // Refuse before allocating a picture the data could not fill: a line
    // takes at least its 2-byte length and its end mark, and 2 bytes of
    // runs give at most 127 pixels.
    const int64_t left = BytesLeft(stream);
    if (raster::CheckedMul(width, height) > (left / 2 + 1) * 127 || left < 3)
        RaiseInvalidGraphicFmt(raster::kInvalidImage, kFormatName);
    std::vector<uint8_t> data(static_cast<size_t>(left));
    const int64_t got = stream.Read(data.data(), left);
    const uint8_t* cursor = data.data();
    const uint8_t* const end = data.data() + std::max<int64_t>(got, 0);

    NewImage(width, height, TPixelFormat::pf8bit);
    const size_t stride = static_cast<size_t>(RowBytes());
    TCUTRLEDecoder decoder;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = ScanLine(y);
        // A line longer than the picture is cut at its edge; lines missing
        // at the end leave index 0.
        const int64_t done = decoder.Decode(cursor, row, end - cursor, width);
        std::memset(row + done, 0, stride - static_cast<size_t>(done));
        RowProgress(y, height);
    }
    EndProgress();
}

void TCUTGraphic::LoadPalette() {
    std::vector<TPaletteEntry> entries;
    if (!paletteFileName_.empty() && FileExists(paletteFileName_)) {
        TFileStream file(paletteFileName_, fmOpenRead | fmShareDenyNone);
        // Blocks of 512 bytes: the entry count less one at offset 12 of the
        // first, entries of three 16-bit words (red, green, blue; their low
        // bytes taken) from offset 40; an entry never crosses into the next
        // block, it starts at the next block's beginning instead.
        uint8_t block[512] = {};
        int64_t inBlock = file.Read(block, sizeof block);
        if (inBlock >= 14) {
            const uint32_t count = std::min<uint32_t>(Word(block + 12) + 1u, 256);
            size_t at = 40;
            for (uint32_t i = 0; i < count; ++i, at += 6) {
                if (at > 506) {
                    std::memset(block, 0, sizeof block);
                    inBlock = file.Read(block, sizeof block);
                    at = 0;
                }
                if (static_cast<int64_t>(at) + 6 > inBlock) break;  // the file ends early: the entries it has
                entries.push_back(TPaletteEntry{block[at], block[at + 2], block[at + 4], 0});
            }
        }
    }
    if (entries.empty()) {
        entries.resize(256);
        for (size_t i = 0; i < entries.size(); ++i) {
            const auto v = static_cast<uint8_t>(i);
            entries[i] = TPaletteEntry{v, v, v, 0};
        }
    }
    SetPalette(CreatePalette(entries.data(), static_cast<int>(entries.size())));
}
