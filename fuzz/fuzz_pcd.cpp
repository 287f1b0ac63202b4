// Photo-CD reader and residual decoder under libFuzzer. An image pack is
// some 770 kB, more than a fuzzer grows an input to: the input is also
// placed where a pack keeps its base image, behind a header with the
// signature and the rotation code of its first byte, and fed to the
// residual decoder as coded data.
#include <cstring>
#include <vector>

#include "fuzz/RasterFuzz.h"
#include "rasterformats/PCDDecoder.h"
#include "rasterformats/PhotoCD.h"

namespace {

void FuzzPack(const uint8_t* data, size_t size) {
    std::vector<uint8_t> pack(96 * 2048, 0);
    std::memcpy(pack.data() + 2048, "PCD_IPI", 7);
    if (size > 0) pack[3586] = data[0];
    pack.insert(pack.end(), data, data + size);
    FuzzRasterReader<TPCDGraphic>(pack.data(), pack.size());
}

void FuzzResiduals(const uint8_t* data, size_t size) {
    if (size < 2) return;
    // Three tables above a stride of 1536, else one.
    const int32_t stride = data[0] & 1 ? 2048 : 64;
    const int32_t rows = 1 + (data[1] & 7);
    std::vector<uint8_t> luma(size_t(stride) * rows), chroma1(size_t(stride) * rows / 2 + stride),
        chroma2(chroma1.size());
    TPCDPlanes planes;
    planes.plane[0] = luma.data();
    planes.plane[1] = chroma1.data();
    planes.plane[2] = chroma2.data();
    planes.rows[0] = rows;
    planes.rows[1] = planes.rows[2] = static_cast<int32_t>(chroma1.size() / size_t(stride));
    TMemoryStream stream = FuzzStream(data + 2, size - 2);
    // The decoder reads whole sectors: pad the data to one.
    stream.SetSize((stream.Size() + 2047) / 2048 * 2048);
    stream.SetPosition(0);
    try {
        TPCDDecoder(stream).Decode(planes, stride, data[1] >> 3);
    } catch (const Exception&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzRasterReader<TPCDGraphic>(data, size);
    FuzzPack(data, size);
    FuzzResiduals(data, size);
    return 0;
}
