#include "platform/core/JpegLimits.h"

#include <atomic>
#include <type_traits>

#include <jerror.h>

#include "platform/core/LoadWork.h"

namespace jpeglimits {
namespace {

uint64_t RoundUp(uint64_t n, uint64_t to) { return (n + to - 1) / to * to; }

// libjpeg's own request methods, the same for every decompressor.
using RequestBlocks = jvirt_barray_ptr (*)(j_common_ptr, int, boolean, JDIMENSION, JDIMENSION, JDIMENSION);
using RequestSamples = jvirt_sarray_ptr (*)(j_common_ptr, int, boolean, JDIMENSION, JDIMENSION, JDIMENSION);
std::atomic<RequestBlocks> libraryBlocks{nullptr};
std::atomic<RequestSamples> librarySamples{nullptr};

jvirt_barray_ptr CountedBlocks(j_common_ptr cinfo, int pool, boolean zero, JDIMENSION blocksPerRow, JDIMENSION rows,
                               JDIMENSION access) {
    loadwork::AddCoefficientBytes(uint64_t(blocksPerRow) * rows * sizeof(JBLOCK));
    return libraryBlocks.load(std::memory_order_relaxed)(cinfo, pool, zero, blocksPerRow, rows, access);
}

jvirt_sarray_ptr CountedSamples(j_common_ptr cinfo, int pool, boolean zero, JDIMENSION samplesPerRow,
                                JDIMENSION rows, JDIMENSION access) {
    loadwork::AddCoefficientBytes(uint64_t(samplesPerRow) * rows * sizeof(JSAMPLE));
    return librarySamples.load(std::memory_order_relaxed)(cinfo, pool, zero, samplesPerRow, rows, access);
}

}  // namespace

uint64_t FewestBits(const jpeg_decompress_struct& cinfo) {
    uint64_t blocks = 0;
    for (int c = 0; c < cinfo.num_components; ++c)
        blocks += uint64_t(cinfo.comp_info[c].width_in_blocks) * cinfo.comp_info[c].height_in_blocks;
    return blocks;
}

bool Backed(const jpeg_decompress_struct& cinfo, uint64_t bytes, uint64_t freePixels) {
    if (!cinfo.arith_code) return FewestBits(cinfo) <= 8 * bytes;
    const uint64_t pixels = uint64_t(cinfo.image_width) * cinfo.image_height;
    return pixels <= freePixels || 3 * pixels + CoefficientBytes(cinfo) <= kArithmeticBytesPerByte * bytes;
}

uint64_t CoefficientBytes(const jpeg_decompress_struct& cinfo) {
    if (!cinfo.progressive_mode && cinfo.comps_in_scan >= cinfo.num_components) return 0;
    uint64_t blocks = 0;
    for (int c = 0; c < cinfo.num_components; ++c) {
        const jpeg_component_info& comp = cinfo.comp_info[c];
        blocks += RoundUp(comp.width_in_blocks, uint64_t(comp.h_samp_factor)) *
                  RoundUp(comp.height_in_blocks, uint64_t(comp.v_samp_factor));
    }
    return blocks * sizeof(JBLOCK);
}

void WatchArrays(jpeg_decompress_struct& cinfo) {
    jpeg_memory_mgr& mem = *cinfo.mem;
    if (mem.request_virt_barray != CountedBlocks) {
        libraryBlocks.store(mem.request_virt_barray, std::memory_order_relaxed);
        mem.request_virt_barray = CountedBlocks;
    }
    if (mem.request_virt_sarray != CountedSamples) {
        librarySamples.store(mem.request_virt_sarray, std::memory_order_relaxed);
        mem.request_virt_sarray = CountedSamples;
    }
    // The limit counts what libjpeg's manager has handed out before the
    // arrays too: row buffers, some of them a few hundred rows deep.
    const uint64_t before = (uint64_t(16) << 20) + uint64_t(cinfo.image_width) * cinfo.num_components * 256;
    mem.max_memory_to_use = static_cast<long>(CoefficientBytes(cinfo) + before);
}

namespace {
const char* const kMessages[] = {kTooManyScansText};
}  // namespace

static_assert(std::is_standard_layout_v<TScanWatch>, "libjpeg's progress pointer is the watch's address");

void TScanWatch::Install(jpeg_decompress_struct& cinfo, uint64_t bytes, bool cut) {
    allowed_ = 16 * FewestBits(cinfo) + 512 * bytes;
    visited_ = 0;
    scan_ = 0;
    cut_ = cut;
    ended_ = false;
    progress_.progress_monitor = Monitor;
    cinfo.progress = &progress_;
    cinfo.err->addon_message_table = kMessages;
    cinfo.err->first_addon_message = cinfo.err->last_addon_message = kTooManyScans;
}

// Called before each row of blocks libjpeg reads while it takes in a
// multi-scan file; a new scan counts the blocks of its components.
void TScanWatch::Monitor(j_common_ptr common) {
    auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
    auto* self = reinterpret_cast<TScanWatch*>(cinfo->progress);
    if (cinfo->input_scan_number == self->scan_) return;
    self->scan_ = cinfo->input_scan_number;
    uint64_t blocks = 0;
    for (int i = 0; i < cinfo->comps_in_scan; ++i)
        blocks += uint64_t(cinfo->cur_comp_info[i]->width_in_blocks) * cinfo->cur_comp_info[i]->height_in_blocks;
    loadwork::AddScanBlocks(blocks);
    self->visited_ += blocks;
    if (self->visited_ <= self->allowed_ || self->ended_) return;
    if (!self->cut_) ERREXIT(cinfo, kTooManyScans);
    // The source's next read finds its end.
    cinfo->src->next_input_byte += cinfo->src->bytes_in_buffer;
    cinfo->src->bytes_in_buffer = 0;
    self->ended_ = true;
}

bool TScanWatch::Cut(const jpeg_decompress_struct& cinfo) {
    return cinfo.progress != nullptr && reinterpret_cast<const TScanWatch*>(cinfo.progress)->ended_;
}

}  // namespace jpeglimits
