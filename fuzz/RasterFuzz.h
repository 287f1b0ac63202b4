// Shared body of the raster readers' fuzz targets: any input must load or be
// refused with one of the program's exceptions, never crash, hang or touch
// memory outside its buffers. A reader's target is three lines:
//   #include "fuzz/RasterFuzz.h"
//   #include "rasterformats/Xxx.h"
//   extern "C" int LLVMFuzzerTestOneInput(const uint8_t* d, size_t n) { return FuzzRasterReader<TXxxGraphic>(d, n); }
// with its seeds in fuzz/corpus/<kind>/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/core/Graphics.h"
#include "rasterformats/RasterGraphic.h"

inline TMemoryStream FuzzStream(const uint8_t* data, size_t size) {
    TMemoryStream stream;
    if (size > 0) stream.WriteBuffer(data, static_cast<int64_t>(size));
    stream.SetPosition(0);
    return stream;
}

// Loads the input with Reader; afterwards check(reader) may look further at
// a picture that loaded. Returns 0 as libFuzzer wants.
template <class Reader, class Check>
int FuzzRasterReader(const uint8_t* data, size_t size, Check check) {
    TMemoryStream stream = FuzzStream(data, size);
    // The probe keeps the stream where it was.
    Reader::AcceptsStream(stream);
    if (stream.Position() != 0) std::abort();
    Reader reader;
    try {
        reader.ReadImageInfo(stream, 0);
    } catch (const Exception&) {
    }
    stream.SetPosition(0);
    try {
        reader.LoadFromStream(stream);
        if (!reader.Empty()) {
            volatile uint8_t sink = 0;
            for (int32_t y = 0; y < reader.Height(); ++y) sink = sink + reader.ScanLine(y)[0];
            check(reader);
        }
    } catch (const Exception&) {
        if (!reader.Empty()) std::abort();  // a failed load leaves nothing behind
    }
    return 0;
}

template <class Reader>
int FuzzRasterReader(const uint8_t* data, size_t size) {
    return FuzzRasterReader<Reader>(data, size, [](Reader&) {});
}
