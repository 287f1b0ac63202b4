// giflib as the tests' reference decoder: a black box that says which
// indices and colours each frame of a file holds.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "platform/core/Graphics.h"

namespace giflib_reference {

// One extension block as giflib reports it: its label and the bytes of its
// sub-blocks, one entry per sub-block.
struct Extension {
    int label = 0;
    std::vector<std::vector<uint8_t>> blocks;
    bool operator==(const Extension&) const = default;
};
void PrintTo(const Extension& extension, std::ostream* os);

struct Frame {
    int left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    std::vector<uint8_t> indices;         // rows from the top
    std::vector<TPaletteEntry> colors;  // the frame's own table, else the global one
    int transparent = -1;
    std::vector<Extension> extensions;  // those standing before the image
};

struct Picture {
    int width = 0, height = 0;
    int background = 0;
    std::vector<TPaletteEntry> globalColors;
    std::vector<Frame> frames;
    std::vector<Extension> trailing;  // extensions after the last image
};

// False (with giflib's error text) when giflib cannot read the file.
bool Load(const std::string& fileName, Picture& picture, std::string& error);
bool Load(const uint8_t* data, size_t size, Picture& picture, std::string& error);

}  // namespace giflib_reference
