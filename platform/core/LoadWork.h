// The work a load does, counted so that tests can hold a hostile file's work
// to its size without a clock: packed bytes its decoders go through (a
// stretch decoded twice counts twice) and pixels its drawing writes. The
// counts add up over every thread from the last Reset; they cost one relaxed
// atomic add per strip, channel or record, never per pixel.
#pragma once

#include <cstdint>

namespace loadwork {

void Reset();
void AddDecodedBytes(uint64_t bytes);
void AddDrawnPixels(uint64_t pixels);
void AddCoefficientBytes(uint64_t bytes);  // whole-image arrays libjpeg asks for
void AddScanBlocks(uint64_t blocks);       // blocks libjpeg's scans go over
uint64_t DecodedBytes();
uint64_t DrawnPixels();
uint64_t CoefficientBytes();
uint64_t ScanBlocks();

}  // namespace loadwork
