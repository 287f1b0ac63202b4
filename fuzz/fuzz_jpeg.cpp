// JPEG decoder under libFuzzer: any input must load or be refused with
// EInvalidGraphic, never end the process, crash or read out of bounds.
#include <cstddef>
#include <cstdint>

#include "platform/core/Jpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream stream;
    if (size > 0) stream.WriteBuffer(data, static_cast<int64_t>(size));
    stream.SetPosition(0);
    TJPEGImage jpeg;
    try {
        jpeg.LoadFromStream(stream);
        TBitmap copy;
        copy.Assign(&jpeg);
    } catch (const Exception&) {
    }
    return 0;
}
