#include "app/Codecs.h"

#include "gif/GIFPicture.h"
#include "rasterformats/RasterFormats.h"

// Each codec adds its own registration here, in start-up order, and its
// unregistration in the reverse order.
void RegisterPictureCodecs() {
    RegisterGIFGraphic();
    RegisterRasterFormats();
}

void UnregisterPictureCodecs() {
    UnregisterRasterFormats();
    UnregisterGIFGraphic();
}
