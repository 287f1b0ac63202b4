// giflib as the tests' reference decoder: a black box that says which
// indices and colours each frame of a file holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/Graphics.h"

namespace giflib_reference {

struct Frame {
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<uint8_t> indices;         // rows from the top
    std::vector<TPaletteEntry> colors;  // the frame's own table, else the global one
    int transparent = -1;
};

struct Picture {
    int width = 0, height = 0;
    std::vector<Frame> frames;
};

// False (with giflib's error text) when giflib cannot read the file.
bool Load(const std::string& fileName, Picture& picture, std::string& error);

}  // namespace giflib_reference
