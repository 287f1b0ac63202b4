#include "rasterformats/PhotoCD.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/core/Numeric.h"
#include "rasterformats/RasterStrings.h"

namespace {

constexpr const char* kFormatName = "PCD";
constexpr int64_t kSector = 2048;
constexpr int64_t kInfoSize = 3 * kSector;
constexpr int kBaseResolution = 2;            // 768 x 512
constexpr int64_t kBaseSector = 96;           // where an image pack keeps it
constexpr int64_t kOverviewFirstSector = 5;   // the first image of an overview pack

bool IsOverview(const uint8_t* b) { return std::memcmp(b, "PCD_OPA", 7) == 0; }
bool IsImagePack(const uint8_t* b) { return std::memcmp(b + 2048, "PCD", 3) == 0; }

}  // namespace

QUILLARC_DEFINE_RASTER_GRAPHIC(TPCDGraphic, TRasterGraphic)

bool TPCDGraphic::AcceptsStream(TStream& stream) {
    if (BytesLeft(stream) <= kInfoSize) return false;
    uint8_t bytes[2051];
    return PeekBytes(stream, bytes, sizeof bytes) && (IsOverview(bytes) || IsImagePack(bytes));
}

bool TPCDGraphic::ReadImageInfo(TStream& stream, int index) {
    TRasterGraphic::ReadImageInfo(stream, index);
    std::vector<uint8_t> info(kInfoSize);
    if (stream.Read(info.data(), kInfoSize) != kInfoSize) return false;
    TImageProperties& p = ImageProperties;
    p.Overview = IsOverview(info.data());
    if (!p.Overview && !IsImagePack(info.data())) return false;
    // An overview pack holds its images at the lowest resolution.
    const int resolution = p.Overview ? 0 : std::clamp(index, 0, 5);
    p.Rotation = info[3586] & 3;
    if (p.Overview) p.ImageCount = static_cast<uint16_t>(info[10] << 8 | info[11]);
    p.Width = 192 << resolution;
    p.Height = 128 << resolution;
    if (p.Rotation == 1 || p.Rotation == 3) std::swap(p.Width, p.Height);
    p.ColorScheme = TColorLayout::csPhotoYCC;
    p.BitsPerSample = 8;
    p.SamplesPerPixel = 3;
    p.BitsPerPixel = 24;
    p.Compression = resolution <= kBaseResolution ? TCompressionType::ctNone : TCompressionType::ctPCDHuffmann;
    return true;
}

void TPCDGraphic::LoadImage(TStream& stream) {
    // A file that is no Photo-CD pack is refused, not shown as an empty picture.
    if (!ReadImageInfo(stream, kBaseResolution)) RaiseInvalidGraphicFmt(raster::kInvalidImage, kFormatName);
    stream.SetPosition(basePosition_);
    TImageProperties& p = ImageProperties;
    // Image packs: the base resolution. Overview packs: their first image,
    // at the size their images have.
    const int32_t width = p.Overview ? 192 : 768, height = p.Overview ? 128 : 512;
    const int64_t firstSector = p.Overview ? kOverviewFirstSector : kBaseSector;
    progressRect_ = Rect(0, 0, width, 1);
    StartProgress(raster::kPreparing);
    p.Width = width;
    p.Height = height;

    // Luma, first and second chroma; the chroma planes are filled at half
    // size and doubled in place.
    const size_t planeSize = size_t(width) * height;
    std::vector<uint8_t> planes(3 * planeSize);
    uint8_t* luma = planes.data();
    uint8_t* chroma1 = luma + planeSize;
    uint8_t* chroma2 = chroma1 + planeSize;
    stream.Seek(firstSector * kSector, TSeekOrigin::soCurrent);

    TColorManager& cm = ColorManager();
    cm.SetSourceLayout(TColorLayout::csPhotoYCC);
    cm.SetSourceSampleBits(8);
    cm.SetSourceSampleCount(3);
    cm.SetTargetLayout(TColorLayout::csBGR);
    cm.SetTargetSampleBits(8);
    cm.SetTargetSampleCount(3);
    static constexpr float kLumaWeights[3] = {0.2125f, 0.7154f, 0.0721f};
    cm.SetChromaParameters(kLumaWeights, 2, 2);
    SetReaderPixelFormat(TPixelFormat::pf24bit);
    EndProgress();

    StartProgress(raster::kLoadingData);
    const int32_t half = width / 2;
    for (int32_t y = 0; y < height; y += 2) {
        Progress(this, TProgressStage::psRunning, static_cast<uint8_t>(num::MulDiv(y, 100, height)), false,
                 progressRect_, "");
        stream.ReadBuffer(luma + size_t(y) * width, 2 * int64_t(width));
        stream.ReadBuffer(chroma1 + size_t(y / 2) * width, half);
        stream.ReadBuffer(chroma2 + size_t(y / 2) * width, half);
    }
    EndProgress();

    StartProgress(raster::kUpsampling);
    Progress(this, TProgressStage::psRunning, 80, false, progressRect_, "");
    UpsampleDouble(half, height / 2, width, chroma1);
    Progress(this, TProgressStage::psRunning, 100, false, progressRect_, "");
    UpsampleDouble(half, height / 2, width, chroma2);
    EndProgress();

    StartProgress(raster::kTransfering);
    const uint8_t rotation = p.Rotation;
    const bool turned = rotation == 1 || rotation == 3;
    NewImage(turned ? height : width, turned ? width : height, TPixelFormat::pf24bit);
    const size_t stride = static_cast<size_t>(RowBytes());
    const size_t used = size_t(Width()) * 3;
    for (int32_t y = 0; y < Height(); ++y) std::memset(ScanLine(y) + used, 0, stride - used);
    std::vector<uint8_t> work(size_t(width) * 3);
    for (int32_t y = 0; y < height; ++y) {
        const size_t at = size_t(y) * width;
        const TRowPlane source[3] = {{luma + at, size_t(width)}, {chroma1 + at, size_t(width)},
                                     {chroma2 + at, size_t(width)}};
        if (rotation == 0) {
            cm.ConvertPixels(source, ScanLine(y), stride, static_cast<uint32_t>(width));
        } else {
            cm.ConvertPixels(source, work.data(), work.size(), static_cast<uint32_t>(width));
            for (int32_t x = 0; x < width; ++x) {
                uint8_t* d;
                switch (rotation) {
                    case 1: d = ScanLine(width - 1 - x) + size_t(y) * 3; break;           // a quarter turn counter-clockwise
                    case 2: d = ScanLine(height - 1 - y) + size_t(width - 1 - x) * 3; break;  // half a turn
                    default: d = ScanLine(x) + size_t(height - 1 - y) * 3; break;         // a quarter turn clockwise
                }
                std::memcpy(d, work.data() + size_t(x) * 3, 3);
            }
        }
        RowProgress(y, height);
    }
    EndProgress();
}
