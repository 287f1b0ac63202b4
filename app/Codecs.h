// The picture codecs the program carries beyond the platform's own: the GIF
// codec and the raster-format library. Start-up registers them with the
// picture registry before the first window exists and shut-down removes
// them; the decode tool and test fixtures do the same. Nothing registers
// from a static initialiser: the libraries are static, and a class nothing
// names would silently never register.
#pragma once

void RegisterPictureCodecs();
void UnregisterPictureCodecs();

// The codecs registered for the life of one object.
struct TPictureCodecs {
    TPictureCodecs() { RegisterPictureCodecs(); }
    ~TPictureCodecs() { UnregisterPictureCodecs(); }
    TPictureCodecs(const TPictureCodecs&) = delete;
    TPictureCodecs& operator=(const TPictureCodecs&) = delete;
};
