#include "Jpeg.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <limits>

// libjpeg's headers expect these to be declared first.
#include <jpeglib.h>
#include <jerror.h>

#include "platform/core/JpegLimits.h"
#include "platform/core/Progress.h"

namespace {

// The windows' chance to paint, once every 64 rows from `before` on to
// `after`.
void PulseRows(uint32_t before, uint32_t after) {
    if (before / 64 != after / 64) progress::Pulse();
}

// ------------------------------------------------------------ errors

// libjpeg's default error_exit ends the process; ours jumps back to the
// caller, which turns the message into EInvalidGraphic.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX + 32];
};

void ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    std::snprintf(err->message, sizeof err->message, "JPEG error #%d: %s", cinfo->err->msg_code, text);
    std::longjmp(err->jump, 1);
}

struct MemorySource {
    jpeg_source_mgr pub;
    bool hitEnd;  // the data ran out and a fake EOI marker was supplied
};

// Warnings (corrupt data that libjpeg decodes around) and trace messages are
// ignored, as the platform's JPEG class does, with one exception: entropy
// data that stops at the end of the file means the file was cut short,
// which is an error rather than grey rows.
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    auto* src = reinterpret_cast<MemorySource*>(reinterpret_cast<j_decompress_ptr>(cinfo)->src);
    if (cinfo->is_decompressor && src != nullptr && src->hitEnd && cinfo->err->msg_code == JWRN_HIT_MARKER &&
        !jpeglimits::TScanWatch::Cut(*reinterpret_cast<j_decompress_ptr>(cinfo)))
        ERREXIT(cinfo, JERR_INPUT_EOF);
}
void OutputMessage(j_common_ptr) {}

void InstallErrorManager(ErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.emit_message = EmitMessage;
    err.pub.output_message = OutputMessage;
    err.message[0] = '\0';
}

// ------------------------------------------------------------ source

const JOCTET kFakeEoi[2] = {0xFF, JPEG_EOI};

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

// At the end of the data libjpeg gets an EOI marker, as from its own file
// source: the decoder reads ahead past the last entropy bytes, and a file
// that lacks only its EOI (common from cameras) is whole. Real truncation
// shows as a warning (EmitMessage) or an unfinished progression (Decode).
boolean FillInputBuffer(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<MemorySource*>(cinfo->src);
    src->hitEnd = true;
    src->pub.next_input_byte = kFakeEoi;
    src->pub.bytes_in_buffer = 2;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    auto* src = reinterpret_cast<MemorySource*>(cinfo->src);
    if (static_cast<unsigned long>(count) > src->pub.bytes_in_buffer) {
        FillInputBuffer(cinfo);
        return;
    }
    src->pub.next_input_byte += count;
    src->pub.bytes_in_buffer -= static_cast<size_t>(count);
}

// True when every coefficient of every component reached full precision.
bool ProgressionComplete(const jpeg_decompress_struct& cinfo) {
    if (!cinfo.progressive_mode || cinfo.coef_bits == nullptr) return true;
    for (int c = 0; c < cinfo.num_components; ++c)
        for (int k = 0; k < DCTSIZE2; ++k)
            if (cinfo.coef_bits[c][k] != 0) return false;
    return true;
}

// ------------------------------------------------------------ destination

// Grows a malloc'd buffer: nothing that throws may run inside libjpeg.
struct MemoryDestination {
    jpeg_destination_mgr pub;
    JOCTET* buffer;
    size_t capacity;
};

void InitDestination(j_compress_ptr cinfo) {
    auto* dst = reinterpret_cast<MemoryDestination*>(cinfo->dest);
    dst->pub.next_output_byte = dst->buffer;
    dst->pub.free_in_buffer = dst->capacity;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    auto* dst = reinterpret_cast<MemoryDestination*>(cinfo->dest);
    size_t used = dst->capacity;  // libjpeg calls this only when the buffer is full
    if (dst->capacity > std::numeric_limits<size_t>::max() / 2) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
    size_t grown = dst->capacity * 2;
    auto* bigger = static_cast<JOCTET*>(std::realloc(dst->buffer, grown));
    if (bigger == nullptr) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 2);
    dst->buffer = bigger;
    dst->capacity = grown;
    dst->pub.next_output_byte = bigger + used;
    dst->pub.free_in_buffer = grown - used;
    return TRUE;
}

void TermDestination(j_compress_ptr) {}

// ------------------------------------------------------------ limits

// Arithmetic-coded files may stand for this many pixels whatever their
// size: a flat picture of eight megapixels takes about 200 bytes.
constexpr uint64_t kArithmeticFreePixels = uint64_t(8) << 20;

// A header claiming more than the file's bytes can code (see JpegLimits.h)
// is hostile or cut short: it is refused before libjpeg or the bitmap
// allocate for it.
bool PlausibleSize(const jpeg_decompress_struct& cinfo, size_t bytes) {
    const uint32_t width = cinfo.image_width, height = cinfo.image_height;
    if (width == 0 || height == 0) return false;
    if (width > static_cast<uint32_t>(kMaxBitmapSide) || height > static_cast<uint32_t>(kMaxBitmapSide))
        return false;
    if (uint64_t(width) * height > static_cast<uint64_t>(kMaxBitmapPixels)) return false;
    return jpeglimits::Backed(cinfo, bytes, kArithmeticFreePixels);
}

uint8_t MulDiv255(unsigned a, unsigned b) { return static_cast<uint8_t>((a * b + 127) / 255); }

// One decoded row into blue, green, red (outBytes 3) or blue, green, red
// and alpha 0 (outBytes 4).
void StoreRow(const JSAMPLE* in, uint8_t* out, uint32_t width, int components, bool adobeCmyk, int outBytes) {
    const int k = outBytes;
    if (k == 4)
        for (uint32_t x = 0; x < width; ++x) out[4 * x + 3] = 0;
    if (components == 1) {
        for (uint32_t x = 0; x < width; ++x, out += k) out[0] = out[1] = out[2] = in[x];
    } else if (components == 3) {
        for (uint32_t x = 0; x < width; ++x, in += 3, out += k) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    } else if (adobeCmyk) {
        // Adobe writes CMYK inverted: the stored values are 255 - ink.
        for (uint32_t x = 0; x < width; ++x, in += 4, out += k) {
            out[0] = MulDiv255(in[2], in[3]);
            out[1] = MulDiv255(in[1], in[3]);
            out[2] = MulDiv255(in[0], in[3]);
        }
    } else {
        for (uint32_t x = 0; x < width; ++x, in += 4, out += k) {
            out[0] = MulDiv255(255u - in[2], 255u - in[3]);
            out[1] = MulDiv255(255u - in[1], 255u - in[3]);
            out[2] = MulDiv255(255u - in[0], 255u - in[3]);
        }
    }
}

// Every C++ object lives outside the setjmp region's scope, so the jump
// back skips no destructor; the guard frees libjpeg's memory on every path.
struct DecompressGuard {
    jpeg_decompress_struct* cinfo;
    ~DecompressGuard() { jpeg_destroy_decompress(cinfo); }
};
struct CompressGuard {
    jpeg_compress_struct* cinfo;
    MemoryDestination* dest;
    ~CompressGuard() {
        jpeg_destroy_compress(cinfo);
        std::free(dest->buffer);
    }
};

// The rest of the stream, the whole file as the decoder takes it. libjpeg
// counts input in size_t but the platform's streams stop at 2 GB.
std::vector<uint8_t> ReadRest(TStream& stream) {
    const int64_t size = stream.Remaining();
    if (size > std::numeric_limits<int32_t>::max()) throw EInvalidGraphic("JPEG image is too large");
    std::vector<uint8_t> data(static_cast<size_t>(size));
    stream.ReadBuffer(data.data(), size);
    return data;
}

// Decodes into bitmap at 24 bits per pixel, or at 32 (alpha 0, the bytes a
// 24-bit decode set to 32 bits per pixel would hold) when wide is set.
void Decode(const uint8_t* data, size_t size, bool grayscale, TBitmap& bitmap, std::vector<JSAMPLE>& row,
            bool wide) {
    jpeg_decompress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);  // destroying a never-created struct is then harmless
    ErrorManager err;
    InstallErrorManager(err);
    cinfo.err = &err.pub;
    MemorySource src;
    std::memset(&src, 0, sizeof src);
    DecompressGuard guard{&cinfo};

    if (setjmp(err.jump)) throw EInvalidGraphic(err.message);

    jpeg_create_decompress(&cinfo);
    src.pub.init_source = InitSource;
    src.pub.fill_input_buffer = FillInputBuffer;
    src.pub.skip_input_data = SkipInputData;
    src.pub.resync_to_restart = jpeg_resync_to_restart;
    src.pub.term_source = TermSource;
    src.pub.next_input_byte = data;
    src.pub.bytes_in_buffer = size;
    src.hitEnd = false;
    cinfo.src = &src.pub;

    // libjpeg would otherwise see only the end marker it is given at the
    // end of the data, and say the file does not start like a JPEG file.
    if (size == 0) ERREXIT(&cinfo, JERR_INPUT_EMPTY);
    jpeg_read_header(&cinfo, TRUE);
    if (!PlausibleSize(cinfo, size))
        throw EInvalidGraphic(Format("JPEG image is not valid: %u x %u pixels in %zu bytes",
                                     cinfo.image_width, cinfo.image_height, size));
    jpeglimits::WatchArrays(cinfo);
    jpeglimits::TScanWatch scans;
    scans.Install(cinfo, size, true);

    bool adobeCmyk = false;
    switch (cinfo.jpeg_color_space) {
        case JCS_GRAYSCALE:
            cinfo.out_color_space = JCS_GRAYSCALE;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            cinfo.out_color_space = JCS_CMYK;
            adobeCmyk = cinfo.saw_Adobe_marker;
            break;
        case JCS_YCbCr:
            cinfo.out_color_space = grayscale ? JCS_GRAYSCALE : JCS_RGB;
            break;
        default:
            cinfo.out_color_space = JCS_RGB;
            break;
    }
    // Colour pictures decode straight into 32-bit rows, in the bitmap's
    // byte order; everything else goes through one row of samples.
    const bool direct = wide && cinfo.out_color_space == JCS_RGB;
    if (direct) cinfo.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&cinfo);
    // A multi-scan file has been read whole by now: one cut short is
    // refused before its picture is allocated.
    if (src.hitEnd && !ProgressionComplete(cinfo) && !jpeglimits::TScanWatch::Cut(cinfo))
        throw EInvalidGraphic("JPEG image is not valid: the file is cut short");

    const uint32_t width = cinfo.output_width;
    const int32_t height = static_cast<int32_t>(cinfo.output_height);
    const int components = cinfo.output_components;
    // Every pixel is written below: no zero fill.
    bitmap.NewImage(static_cast<int32_t>(width), height, wide ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
    if (!wide) {
        const size_t used = size_t(width) * 3, padding = static_cast<size_t>(bitmap.RowBytes()) - used;
        for (int32_t y = 0; y < height && padding > 0; ++y) std::memset(bitmap.ScanLine(y) + used, 0, padding);
    }
    if (direct) {
        constexpr int kBatch = 16;
        JSAMPROW rows[kBatch];
        while (cinfo.output_scanline < cinfo.output_height) {
            const int32_t first = static_cast<int32_t>(cinfo.output_scanline);
            const int32_t n = std::min<int32_t>(kBatch, height - first);
            for (int32_t i = 0; i < n; ++i) rows[i] = bitmap.ScanLine(first + i);
            const int32_t got = static_cast<int32_t>(jpeg_read_scanlines(&cinfo, rows, static_cast<JDIMENSION>(n)));
            if (got <= 0) throw EInvalidGraphic("JPEG image is not valid");
            // The library fills the fourth byte with 255.
            for (int32_t i = 0; i < got; ++i) {
                uint8_t* p = rows[i];
                for (uint32_t x = 0; x < width; ++x) p[4 * x + 3] = 0;
            }
            PulseRows(static_cast<uint32_t>(first), static_cast<uint32_t>(first + got));
        }
    } else {
        row.resize(size_t(width) * static_cast<size_t>(components));
        while (cinfo.output_scanline < cinfo.output_height) {
            uint8_t* out = bitmap.ScanLine(static_cast<int32_t>(cinfo.output_scanline));
            JSAMPROW rows[1] = {row.data()};
            if (jpeg_read_scanlines(&cinfo, rows, 1) != 1) throw EInvalidGraphic("JPEG image is not valid");
            StoreRow(row.data(), out, width, components, adobeCmyk, wide ? 4 : 3);
            PulseRows(cinfo.output_scanline - 1, cinfo.output_scanline);
        }
    }
    jpeg_finish_decompress(&cinfo);
}

void Encode(const TBitmap& bitmap, int quality, bool progressive, bool grayscale, std::vector<JSAMPLE>& row,
            TStream& stream) {
    jpeg_compress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    ErrorManager err;
    InstallErrorManager(err);
    cinfo.err = &err.pub;
    MemoryDestination dst;
    std::memset(&dst, 0, sizeof dst);
    CompressGuard guard{&cinfo, &dst};

    if (setjmp(err.jump)) throw EInvalidGraphic(err.message);

    jpeg_create_compress(&cinfo);
    dst.capacity = 65536;
    dst.buffer = static_cast<JOCTET*>(std::malloc(dst.capacity));
    if (dst.buffer == nullptr) ERREXIT1(&cinfo, JERR_OUT_OF_MEMORY, 0);
    dst.pub.init_destination = InitDestination;
    dst.pub.empty_output_buffer = EmptyOutputBuffer;
    dst.pub.term_destination = TermDestination;
    cinfo.dest = &dst.pub;

    const int32_t width = bitmap.Width();
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(bitmap.Height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.dct_method = JDCT_FLOAT;
    if (grayscale) jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
    if (progressive) jpeg_simple_progression(&cinfo);
    row.resize(size_t(width) * 3);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        // Stock libjpeg takes red, green, blue; the bitmap holds blue first.
        const uint8_t* in = bitmap.ScanLine(static_cast<int32_t>(cinfo.next_scanline));
        JSAMPLE* out = row.data();
        for (int32_t x = 0; x < width; ++x, in += 3, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
        PulseRows(cinfo.next_scanline - 1, cinfo.next_scanline);
    }
    jpeg_finish_compress(&cinfo);
    stream.WriteBuffer(dst.buffer, static_cast<int64_t>(dst.capacity - dst.pub.free_in_buffer));
}

struct Registration {
    Registration() {
        TPicture::RegisterFileFormat("jpg", "JPEG Image File", TJPEGImage::StaticClass());
        TPicture::RegisterFileFormat("jpeg", "JPEG Image File", TJPEGImage::StaticClass());
    }
} registration;

}  // namespace

QUILLARC_DEFINE_GRAPHIC(TJPEGImage, TGraphic)

TJPEGImage::TJPEGImage() : bitmap_(std::make_unique<TBitmap>()) { bitmap_->SetPixelFormat(TPixelFormat::pf24bit); }

TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::Draw(TCanvas& canvas, const TRect& rect) {
    if (!Empty()) canvas.StretchDraw(rect, *bitmap_);
}

void TJPEGImage::SetWidth(int32_t) { throw EInvalidGraphicOperation("Cannot change the size of a JPEG image"); }
void TJPEGImage::SetHeight(int32_t) { throw EInvalidGraphicOperation("Cannot change the size of a JPEG image"); }

void TJPEGImage::SetCompressionQuality(int value) { quality_ = value < 1 ? 1 : (value > 100 ? 100 : value); }

void TJPEGImage::LoadFromStream(TStream& stream) {
    const std::vector<uint8_t> data = ReadRest(stream);
    auto bitmap = std::make_unique<TBitmap>();
    std::vector<JSAMPLE> row;
    Decode(data.data(), data.size(), grayscale_, *bitmap, row, false);
    bitmap_ = std::move(bitmap);
    Changed(this);
}

void TJPEGImage::ReadBitmap32(TStream& stream, TBitmap& bitmap) {
    const std::vector<uint8_t> data = ReadRest(stream);
    std::vector<JSAMPLE> row;
    Decode(data.data(), data.size(), false, bitmap, row, true);
}

void TJPEGImage::SaveToStream(TStream& stream) {
    if (Empty()) throw EInvalidGraphic("Cannot save an empty JPEG image");
    std::vector<JSAMPLE> row;
    Encode(*bitmap_, quality_, progressive_, grayscale_, row, stream);
}

void TJPEGImage::Assign(const TPersistent* source) {
    if (auto* jpeg = dynamic_cast<const TJPEGImage*>(source)) {
        if (jpeg == this) return;
        auto copy = std::make_unique<TBitmap>();
        copy->Assign(jpeg->bitmap_.get());
        bitmap_ = std::move(copy);
        quality_ = jpeg->quality_;
        progressive_ = jpeg->progressive_;
        grayscale_ = jpeg->grayscale_;
        Changed(this);
        return;
    }
    if (auto* graphic = dynamic_cast<const TGraphic*>(source)) {
        auto copy = std::make_unique<TBitmap>();
        copy->Assign(graphic);
        copy->SetPixelFormat(TPixelFormat::pf24bit);
        bitmap_ = std::move(copy);
        Changed(this);
        return;
    }
    TGraphic::Assign(source);
}

void TJPEGImage::AssignTo(TPersistent* dest) const {
    if (auto* bitmap = dynamic_cast<TBitmap*>(dest)) {
        // The pixels shared, not copied: a preview or a conversion that only
        // reads them holds one picture, not two; either side's first write
        // takes its own copy.
        bitmap->AssignShared(*bitmap_);
        bitmap->SetPixelFormat(TPixelFormat::pf24bit);
        return;
    }
    TGraphic::AssignTo(dest);
}
