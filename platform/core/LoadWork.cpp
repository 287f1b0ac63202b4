#include "platform/core/LoadWork.h"

#include <atomic>

namespace loadwork {
namespace {
std::atomic<uint64_t> decodedBytes{0}, drawnPixels{0};
std::atomic<uint64_t> coefficientBytes{0}, scanBlocks{0};
}  // namespace

void Reset() {
    decodedBytes.store(0, std::memory_order_relaxed);
    drawnPixels.store(0, std::memory_order_relaxed);
    coefficientBytes.store(0, std::memory_order_relaxed);
    scanBlocks.store(0, std::memory_order_relaxed);
}
void AddDecodedBytes(uint64_t bytes) { decodedBytes.fetch_add(bytes, std::memory_order_relaxed); }
void AddDrawnPixels(uint64_t pixels) { drawnPixels.fetch_add(pixels, std::memory_order_relaxed); }
void AddCoefficientBytes(uint64_t bytes) { coefficientBytes.fetch_add(bytes, std::memory_order_relaxed); }
uint64_t DecodedBytes() { return decodedBytes.load(std::memory_order_relaxed); }
uint64_t DrawnPixels() { return drawnPixels.load(std::memory_order_relaxed); }
void AddScanBlocks(uint64_t blocks) { scanBlocks.fetch_add(blocks, std::memory_order_relaxed); }
uint64_t ScanBlocks() { return scanBlocks.load(std::memory_order_relaxed); }
uint64_t CoefficientBytes() { return coefficientBytes.load(std::memory_order_relaxed); }

}  // namespace loadwork
