// What the GIF tests share: giflib as the reference decoder (a black box
// that says which indices and colours each frame of a file holds), the
// folders of test files, bytes in and out of pictures, and pictures built
// frame by frame.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "gif/GIFPicture.h"

namespace giftest {

using Bytes = std::vector<uint8_t>;

inline const std::string kGenerated = std::string(QUILLARC_GENERATED_DATA) + "/gif";
inline const std::string kHostile = std::string(QUILLARC_TEST_DATA) + "/gif/hostile";

std::vector<std::filesystem::path> GifsIn(const std::string& folder);  // sorted
TMemoryStream StreamOf(const Bytes& bytes);                            // at position 0
Bytes BytesOf(TMemoryStream& stream);
Bytes Indices(const TGIFSubImage& frame);
Bytes Save(TGIFPicture& gif);
std::unique_ptr<TGIFPicture> Reload(const Bytes& bytes);

// A picture of w x h with a global table of colors and one frame per plan;
// a control block when the frame has a transparent index, disposal or delay.
struct FramePlan {
    TRect place;
    Bytes pixels;
    int transparent = -1, disposal = 0, delay = 0;
};
std::unique_ptr<TGIFPicture> Build(int w, int h, const std::vector<TColor>& colors,
                                   const std::vector<FramePlan>& frames);

// One extension block as giflib reports it: its label and the bytes of its
// sub-blocks, one entry per sub-block.
struct Extension {
    int label = 0;
    std::vector<Bytes> blocks;
    bool operator==(const Extension&) const = default;
};
void PrintTo(const Extension& extension, std::ostream* os);

struct Frame {
    int left = 0, top = 0, width = 0, height = 0;
    Bytes indices;                      // rows from the top
    std::vector<TPaletteEntry> colors;  // the frame's own table, else the global one
    int transparent = -1;
    std::vector<Extension> extensions;  // those standing before the image
};

struct Picture {
    int width = 0, height = 0;
    std::vector<TPaletteEntry> globalColors;
    std::vector<Frame> frames;
    std::vector<Extension> trailing;  // extensions after the last image
};

// False (with giflib's error text) when giflib cannot read the file.
bool Giflib(const std::string& fileName, Picture& picture, std::string& error);
// The picture giflib reads from bytes; a test failure when it cannot.
Picture Giflib(const Bytes& bytes);

}  // namespace giftest
