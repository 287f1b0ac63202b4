#include "rasterformats/TIFFJPEGDecoder.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// libjpeg's headers expect these to be declared first.
#include <jpeglib.h>
#include <jerror.h>

#include "platform/core/Dialogs.h"
#include "platform/core/JpegLimits.h"
#include "rasterformats/RasterStrings.h"

namespace {

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

// Memory for one of libjpeg's pools that outlives the pool: freeing the pool
// only rewinds it, so the next strip finds its buffers where the last one
// left them. Without this every strip's buffers went back to malloc, which
// gave the pages back to the system and took them again, strip after strip.
class TArena {
public:
    // Aligned for libjpeg's vector code; nullptr when memory runs out.
    void* Allocate(size_t size) noexcept {
        if (size > kLargest) return nullptr;
        size = (size + kAlign - 1) & ~(kAlign - 1);
        for (; chunk_ < chunks_.size(); ++chunk_, used_ = 0) {
            Chunk& c = chunks_[chunk_];
            if (c.size - used_ >= size) {
                void* result = c.data.get() + used_;
                used_ += size;
                return result;
            }
        }
        const size_t last = chunks_.empty() ? 0 : chunks_.back().size;
        const size_t wanted = std::max({size, kFirstChunk, std::min(2 * last, kLargest)});
        try {
            chunks_.push_back({std::unique_ptr<uint8_t[], Free>(static_cast<uint8_t*>(std::aligned_alloc(kAlign, wanted))), wanted});
        } catch (...) {
            return nullptr;
        }
        if (!chunks_.back().data) {
            chunks_.pop_back();
            return nullptr;
        }
        chunk_ = chunks_.size() - 1;
        used_ = size;
        return chunks_.back().data.get();
    }
    void Rewind() noexcept { chunk_ = used_ = 0; }

private:
    static constexpr size_t kAlign = 64;
    static constexpr size_t kFirstChunk = size_t(256) << 10;
    static constexpr size_t kLargest = size_t(1) << 30;
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    struct Chunk {
        std::unique_ptr<uint8_t[], Free> data;
        size_t size;
    };
    std::vector<Chunk> chunks_;
    size_t chunk_ = 0, used_ = 0;
};

}  // namespace

// Everything libjpeg points into lives here, at a fixed place on the heap.
struct TTIFFJPEGDecoder::TState {
    jpeg_decompress_struct cinfo;
    struct ErrorManager {
        jpeg_error_mgr pub;
        std::jmp_buf jump;
        char message[JMSG_LENGTH_MAX];
        uint64_t load;  // the picture load its warnings belong to
        const std::function<void(const std::string&)>* sink;
    } err;
    struct Source {
        jpeg_source_mgr pub;
        const uint8_t* data;
        size_t size;
    } source;
    // The pools' memory, permanent and per image; libjpeg's own manager
    // keeps what the virtual arrays of progressive strips need.
    TArena arenas[JPOOL_NUMPOOLS];
    jpeglimits::TScanWatch scans;
    void (*freePool)(j_common_ptr, int) = nullptr;  // libjpeg's own
    bool created = false;
    uint16_t horizontalSubsampling = 1, verticalSubsampling = 1;
};

namespace {

using TState = TTIFFJPEGDecoder::TState;

TState& StateOf(j_common_ptr cinfo) {
    return *reinterpret_cast<TState*>(reinterpret_cast<char*>(cinfo->err) - offsetof(TState, err));
}

// libjpeg's default error exit ends the process: ours jumps back into the
// decoder, which raises EGraphicCompression with libjpeg's text.
void ErrorExit(j_common_ptr cinfo) {
    TState& state = StateOf(cinfo);
    (*cinfo->err->format_message)(cinfo, state.err.message);
    std::longjmp(state.err.jump, 1);
}

void Warn(TState& state, const char* text) {
    // Nothing may leave a libjpeg callback by an exception.
    try {
        if (state.err.sink != nullptr && *state.err.sink) (*state.err.sink)(text);
        else PictureWarning(state.err.load, text);
    } catch (...) {
    }
}

void OutputMessage(j_common_ptr cinfo) {
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    Warn(StateOf(cinfo), text);
}

void InitSource(j_decompress_ptr cinfo) {
    TState& state = StateOf(reinterpret_cast<j_common_ptr>(cinfo));
    state.source.pub.next_input_byte = state.source.data;
    state.source.pub.bytes_in_buffer = state.source.size;
}

// Data that ends before the image does: a warning, and an end-of-image
// marker, so that libjpeg completes the strip from what it has.
boolean FillInputBuffer(j_decompress_ptr cinfo) {
    TState& state = StateOf(reinterpret_cast<j_common_ptr>(cinfo));
    Warn(state, raster::kJPEGUnexpectedEnd);
    state.source.pub.next_input_byte = kEndOfImage;
    state.source.pub.bytes_in_buffer = 2;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    jpeg_source_mgr& src = *cinfo->src;
    if (static_cast<unsigned long>(count) > src.bytes_in_buffer) {
        FillInputBuffer(cinfo);
        return;
    }
    src.next_input_byte += count;
    src.bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr) {}

// Runs a libjpeg step with its error exit pointed here; false when libjpeg
// gave up, with its message in the state. The step must not hold objects
// that need destroying: the jump passes over them.
template <class Step>
bool Guarded(TState& state, Step&& step) {
    if (setjmp(state.err.jump)) return false;
    step();
    return true;
}

// libjpeg's memory methods, on the arenas. Rows of sample arrays are
// padded as the library's own manager pads them: its vector code may run
// on past a row's last sample.
void* Allocate(j_common_ptr cinfo, int pool, size_t size) {
    if (pool < 0 || pool >= JPOOL_NUMPOOLS) ERREXIT1(cinfo, JERR_BAD_POOL_ID, pool);
    void* result = StateOf(cinfo).arenas[pool].Allocate(size);
    if (result == nullptr) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    return result;
}

template <class Row>
Row* AllocateRows(j_common_ptr cinfo, int pool, size_t rowBytes, JDIMENSION rows) {
    constexpr size_t kRowAlign = 128;
    rowBytes = (rowBytes + kRowAlign - 1) & ~(kRowAlign - 1);
    if (rows == 0 || rowBytes > (size_t(1) << 30) / rows) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
    Row* table = static_cast<Row*>(Allocate(cinfo, pool, rows * sizeof(Row)));
    auto* data = static_cast<uint8_t*>(Allocate(cinfo, pool, rows * rowBytes));
    for (JDIMENSION r = 0; r < rows; ++r) table[r] = reinterpret_cast<Row>(data + r * rowBytes);
    return table;
}

JSAMPARRAY AllocateSamples(j_common_ptr cinfo, int pool, JDIMENSION samples, JDIMENSION rows) {
    return AllocateRows<JSAMPROW>(cinfo, pool, size_t(samples) * sizeof(JSAMPLE), rows);
}

JBLOCKARRAY AllocateBlocks(j_common_ptr cinfo, int pool, JDIMENSION blocks, JDIMENSION rows) {
    return AllocateRows<JBLOCKROW>(cinfo, pool, size_t(blocks) * sizeof(JBLOCK), rows);
}

void FreePool(j_common_ptr cinfo, int pool) {
    TState& state = StateOf(cinfo);
    if (pool >= 0 && pool < JPOOL_NUMPOOLS) state.arenas[pool].Rewind();
    state.freePool(cinfo, pool);
}

[[noreturn]] void RaiseLibraryError(const TState& state) { TDecoder::RaiseCompressionError(state.err.message); }

// The frame marker (SOF0 to SOF15) of the JPEG data in the `bytes` bytes
// from the stream's position, or 0 when none comes before the first scan,
// the end of the data or anything libjpeg would have to skip. Marker
// segments are passed over by their lengths, read through a small window.
uint8_t FrameMarker(TStream& stream, int64_t bytes) {
    const int64_t start = stream.Position();
    uint8_t window[4096];
    int64_t from = 0, held = 0;
    auto byteAt = [&](int64_t at) -> int {
        if (at < 0 || at >= bytes) return -1;
        if (at < from || at >= from + held) {
            stream.SetPosition(start + at);
            from = at;
            held = std::max<int64_t>(stream.Read(window, std::min<int64_t>(sizeof window, bytes - at)), 0);
            if (held == 0) return -1;
        }
        return window[at - from];
    };
    for (int64_t at = 0;;) {
        if (byteAt(at) != 0xFF) return 0;
        int code = byteAt(++at);
        while (code == 0xFF) code = byteAt(++at);  // fill bytes
        ++at;
        if (code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC)
            return static_cast<uint8_t>(code);
        if (code < 0 || code == 0xD9 || code == 0xDA) return 0;
        if (code == 0x01 || code == 0xD8 || (code >= 0xD0 && code <= 0xD7)) continue;  // no length
        const int high = byteAt(at), low = byteAt(at + 1);
        if (high < 0 || low < 0 || (high << 8 | low) < 2) return 0;
        at += high << 8 | low;
    }
}

}  // namespace

TTIFFJPEGDecoder::TTIFFJPEGDecoder(const TImageProperties& properties)
    : properties_(properties), state_(std::make_unique<TState>()) {
    std::memset(&state_->cinfo, 0, sizeof state_->cinfo);
}

TTIFFJPEGDecoder::~TTIFFJPEGDecoder() {
    if (state_->created) jpeg_destroy_decompress(&state_->cinfo);
}

void TTIFFJPEGDecoder::BeginDecode() {
    TState& s = *state_;
    if (s.created) {
        jpeg_destroy_decompress(&s.cinfo);
        s.created = false;
    }
    std::memset(&s.cinfo, 0, sizeof s.cinfo);
    s.cinfo.err = jpeg_std_error(&s.err.pub);
    s.err.pub.error_exit = ErrorExit;
    s.err.pub.output_message = OutputMessage;
    s.err.message[0] = '\0';
    s.err.load = NewPictureLoad();
    s.err.sink = &OnWarning;
    // The library's own version: the one its record layout belongs to.
    if (!Guarded(s, [&] { jpeg_CreateDecompress(&s.cinfo, JPEG_LIB_VERSION, sizeof s.cinfo); }))
        RaiseLibraryError(s);
    s.created = true;
    jpeg_memory_mgr& mem = *s.cinfo.mem;
    s.freePool = mem.free_pool;
    mem.alloc_small = Allocate;
    mem.alloc_large = Allocate;
    mem.alloc_sarray = AllocateSamples;
    mem.alloc_barray = AllocateBlocks;
    mem.free_pool = FreePool;
    for (TArena& arena : s.arenas) arena.Rewind();

    const std::vector<uint8_t>& sub = properties_.YCbCrSubSampling;
    s.horizontalSubsampling = sub.empty() ? 1 : sub[0];
    s.verticalSubsampling = sub.size() < 2 ? 1 : sub[1];

    s.source.pub.init_source = InitSource;
    s.source.pub.fill_input_buffer = FillInputBuffer;
    s.source.pub.skip_input_data = SkipInputData;
    s.source.pub.resync_to_restart = jpeg_resync_to_restart;
    s.source.pub.term_source = TermSource;
    s.cinfo.src = &s.source.pub;

    const std::vector<uint8_t>& tables = properties_.JPEGTables;
    if (!tables.empty()) {
        s.source.data = tables.data();
        s.source.size = tables.size();
        int result = 0;
        if (!Guarded(s, [&] { result = jpeg_read_header(&s.cinfo, FALSE); })) RaiseLibraryError(s);
        if (result != JPEG_HEADER_TABLES_ONLY) RaiseCompressionError(raster::kJPEGBogusTables);
    }
}

int64_t TTIFFJPEGDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) {
    TState& s = *state_;
    if (!s.created) BeginDecode();
    jpeg_decompress_struct& c = s.cinfo;
    const TImageProperties& p = properties_;

    s.source.data = source;
    s.source.size = source == nullptr ? 0 : static_cast<size_t>(std::max<int64_t>(packedSize, 0));
    // A new strip: the state of the last one goes, the file's tables stay.
    if (!Guarded(s, [&] {
            jpeg_abort_decompress(&c);
            jpeg_read_header(&c, TRUE);
        }))
        RaiseLibraryError(s);

    const size_t strip = p.RowsPerStrip.empty() ? 0
                         : std::min<size_t>(static_cast<size_t>(std::max(p.StripIndex, 0)), p.RowsPerStrip.size() - 1);
    const int64_t rowsLeft = int64_t(p.Height) - p.RowIndex;
    const int64_t rows = p.RowsPerStrip.empty() ? rowsLeft : std::min<int64_t>(p.RowsPerStrip[strip], rowsLeft);
    if (int64_t(c.image_width) != p.Width || int64_t(c.image_height) != rows)
        RaiseCompressionError(raster::kJPEGStripSize);
    const bool interleaved = p.PlanarConfiguration != 2;
    if (c.num_components != (interleaved ? p.SamplesPerPixel : 1)) RaiseCompressionError(raster::kJPEGComponents);
    if (c.data_precision != p.BitsPerSample) RaiseCompressionError(raster::kJPEGPrecision);
    const jpeg_component_info* comp = c.comp_info;
    if (interleaved) {
        bool bad = comp[0].h_samp_factor != s.horizontalSubsampling || comp[0].v_samp_factor != s.verticalSubsampling;
        for (int i = 1; i < c.num_components; ++i)
            bad = bad || comp[i].h_samp_factor != 1 || comp[i].v_samp_factor != 1;
        if (bad) RaiseCompressionError(raster::kJPEGSampling);
    } else if (comp[0].h_samp_factor != 1 || comp[0].v_samp_factor != 1) {
        RaiseCompressionError(raster::kJPEGSampling);
    }
    const int64_t stride = p.BytesPerRow;
    if (stride <= 0 || unpackedSize % stride != 0) RaiseCompressionError(raster::kJPEGFractionalScanline);
    if (!jpeglimits::Backed(c, s.source.size, 0)) RaiseCompressionError(raster::kJPEGStripTooShort);
    jpeglimits::WatchArrays(c);
    s.scans.Install(c, s.source.size, false);

    // The colour space follows the photometric interpretation: RGB and
    // grey strips are what most scanners and tools write.
    bool gray = false;
    switch (p.ColorScheme) {
        case TColorLayout::csYCbCr: c.jpeg_color_space = JCS_YCbCr; break;
        case TColorLayout::csRGB:
        case TColorLayout::csRGBA: c.jpeg_color_space = JCS_RGB; break;
        case TColorLayout::csGray: c.jpeg_color_space = JCS_GRAYSCALE, gray = true; break;
        default: c.jpeg_color_space = JCS_UNKNOWN; break;
    }
    c.out_color_space = gray ? JCS_GRAYSCALE : JCS_EXT_BGR;

    const int64_t wanted = std::min<int64_t>(unpackedSize / stride, rows);
    int64_t done = 0;
    const bool ok = Guarded(s, [&] {
        jpeg_start_decompress(&c);
        constexpr int kBatch = 16;
        JSAMPROW batch[kBatch];
        while (done < wanted) {
            const int n = static_cast<int>(std::min<int64_t>(kBatch, wanted - done));
            for (int i = 0; i < n; ++i) batch[i] = dest + (done + i) * stride;
            const JDIMENSION got = jpeg_read_scanlines(&c, batch, static_cast<JDIMENSION>(n));
            if (got == 0) break;
            done += got;
        }
        if (c.output_scanline >= c.output_height) jpeg_finish_decompress(&c);
        else jpeg_abort_decompress(&c);
    });
    if (!ok) {
        Guarded(s, [&] { jpeg_abort_decompress(&c); });
        RaiseLibraryError(s);
    }
    return done * stride;
}

void TTIFFJPEGDecoder::EndDecode() {
    TState& s = *state_;
    if (s.created) jpeg_destroy_decompress(&s.cinfo);
    s.created = false;
}

int64_t TTIFFJPEGDecoder::MostUnpacked(TStream& stream, const TImageProperties& p, int64_t start, int64_t bytes,
                                       int64_t enough) {
    if (p.Width <= 0 || bytes <= 0) return 0;
    const auto rowBytes = [&](int64_t pixels) {
        const int64_t most = raster::CheckedMul(pixels, p.BytesPerRow);
        return most < 0 ? INT64_MAX : most / p.Width;
    };
    // A unit of 8h x 8v pixels holds h x v blocks of the first component
    // and one of each other; libjpeg takes factors of 1 to 4.
    const bool interleaved = p.PlanarConfiguration != 2;
    const std::vector<uint8_t>& sub = p.YCbCrSubSampling;
    const int64_t h = interleaved && !sub.empty() ? std::clamp<int64_t>(sub[0], 1, 4) : 1;
    const int64_t v = interleaved && sub.size() > 1 ? std::clamp<int64_t>(sub[1], 1, 4) : 1;
    const int64_t components = interleaved ? std::max<int64_t>(p.SamplesPerPixel, 1) : 1;
    const int64_t huffman = rowBytes(bytes * 8 * 64 * h * v / (h * v + components - 1));
    // Arithmetic coding's bound is the larger: it matters only below enough.
    if (huffman >= enough) return huffman;
    const int64_t position = stream.Position();
    stream.SetPosition(start);
    const uint8_t marker = FrameMarker(stream, bytes);
    stream.SetPosition(position);
    return marker >= 0xC9 ? rowBytes(bytes * int64_t(jpeglimits::kArithmeticPixelsPerByte)) : huffman;
}
