// The base of every raster reader: a bitmap that decodes a file into its
// own pixels, with an owned colour manager, the image properties a reader
// fills from the header, and the load frame with its progress events.
//
// A reader derives from TRasterGraphic, declares itself with
// QUILLARC_DECLARE_RASTER_GRAPHIC / QUILLARC_DEFINE_RASTER_GRAPHIC, gives a
// static AcceptsStream, and overrides ReadImageInfo and LoadImage. A
// LoadImage goes: ReadHeader (format name for the messages), StartProgress,
// the colour manager's sides, SetReaderPixelFormat, the palette, the size
// (NewImage when every byte of every row is written, the padding after the
// last pixel included, else SetSize for a zeroed picture; ZeroRowPadding
// for rows whose pixels are all written but not their padding), then row
// after row into ScanLine with RowProgress, and
// EndProgress. Probe, header and pixels are separate steps; every size is
// computed in 64 bits and checked (CheckImageSize, RequireBytes, or a bound
// of what packed data can expand to) before anything is allocated.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/Graphics.h"
#include "rasterformats/RasterColor.h"
#include "rasterformats/RasterCompression.h"

// ------------------------------------------------------------ image properties

// How the pixel data of an image is compressed.
enum class TCompressionType : uint8_t {
    ctUnknown = 0,
    ctNone = 1,
    ctRLE = 2,  // run-length: Targa, PCX, SGI and the like
    ctPackedBits = 3,
    ctLZW = 4,
    ctFax3 = 5,
    ctFaxRLE = 6,
    ctFax4 = 7,
    ctFaxRLEW = 8,
    ctLZ77 = 9,  // deflate
    ctJPEG = 10,
    ctOJPEG = 11,
    ctThunderscan = 12,
    ctNext = 13,
    ctIT8CTPAD = 14,
    ctIT8LW = 15,
    ctIT8MP = 16,
    ctIT8BL = 17,
    ctPixarFilm = 18,
    ctPixarLog = 19,
    ctDCS = 20,
    ctJBIG = 21,
    ctPCDHuffmann = 22,
};

// Bits of TImageProperties::Options.
inline constexpr uint8_t ioTiled = 1;
inline constexpr uint8_t ioBigEndian = 2;
inline constexpr uint8_t ioMinIsWhite = 4;
inline constexpr uint8_t ioReversed = 8;   // least significant bit first
inline constexpr uint8_t ioUseGamma = 16;  // the reader set a gamma curve

// What a reader learns from a file's header. Readers fill only the fields
// their format has; the rest stay as the reset leaves them (zero, gamma 1).
struct TImageProperties {
    uint32_t Version = 0;
    uint8_t Options = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    TColorLayout ColorScheme = TColorLayout::csNone;
    uint8_t BitsPerSample = 0;
    uint8_t SamplesPerPixel = 0;
    uint8_t BitsPerPixel = 0;
    TCompressionType Compression = TCompressionType::ctUnknown;
    float FileGamma = 1.0f;
    float XResolution = 0;
    float YResolution = 0;
    bool Interlaced = false;
    bool HasAlpha = false;
    // TIFF
    uint32_t FirstIFD = 0;
    uint32_t PlanarConfiguration = 0;
    uint32_t RowIndex = 0;
    uint32_t TileWidth = 0;
    uint32_t TileLength = 0;
    int32_t BytesPerRow = 0;
    std::vector<uint32_t> RowsPerStrip;
    std::vector<uint8_t> YCbCrSubSampling;
    std::vector<uint8_t> JPEGTables;
    uint32_t JPEGColorMode = 0;
    uint32_t JPEGTablesMode = 0;
    int32_t StripIndex = 0;
    int32_t StripCount = 0;
    uint32_t Predictor = 0;
    // Photo-CD
    bool Overview = false;
    uint8_t Rotation = 0;
    uint16_t ImageCount = 0;
    // Alias/Wavefront
    bool BottomUp = false;
    // Photoshop
    uint8_t Channels = 0;
    // PNG
    uint8_t FilterMode = 0;
};

// ------------------------------------------------------------ limits

namespace raster {

// Every reader keeps its images within these before it allocates anything.
inline constexpr int32_t kMaxImageSide = 65535;
inline constexpr int64_t kMaxImagePixels = kMaxBitmapPixels;  // 268,435,456 pixels

// a x b for non-negative sizes; -1 when either is negative or the product
// leaves the 63-bit range.
int64_t CheckedMul(int64_t a, int64_t b);

}  // namespace raster

// ------------------------------------------------------------ class declaration

// Declares the class descriptor and the class-level tests. The class must
// also have a static `bool AcceptsStream(TStream&)`.
#define QUILLARC_DECLARE_RASTER_GRAPHIC(Class)                                     \
    QUILLARC_DECLARE_GRAPHIC(Class)                                                \
    static bool AcceptsFile(const std::string& fileName);

#define QUILLARC_DEFINE_RASTER_GRAPHIC(Class, Parent)                              \
    const TGraphicClass& Class::StaticClass() {                                    \
        static const TGraphicClass cls{#Class, &Parent::StaticClass(),             \
                                       []() -> std::unique_ptr<TGraphic> {         \
                                           return std::make_unique<Class>();       \
                                       },                                          \
                                       &Class::AcceptsFile, &Class::AcceptsStream};\
        return cls;                                                                \
    }                                                                              \
    bool Class::AcceptsFile(const std::string& fileName) {                         \
        return TRasterGraphic::AcceptsFileWith(fileName, &Class::AcceptsStream);   \
    }

// ------------------------------------------------------------ the reader base

class TRasterGraphic : public TBitmap {
    QUILLARC_DECLARE_RASTER_GRAPHIC(TRasterGraphic)
public:
    TRasterGraphic();
    ~TRasterGraphic() override;

    // True when the stream holds this class's format at its position, which
    // is restored. The base knows no format.
    static bool AcceptsStream(TStream& stream);
    // Opens the file for reading (other writers denied) and asks test.
    static bool AcceptsFileWith(const std::string& fileName, bool (*test)(TStream&));

    // Parses the header of image `index` (0 = first) at the stream's
    // position into ImageProperties; true when the format is recognised.
    // The base resets the record and returns false; overrides call it first.
    virtual bool ReadImageInfo(TStream& stream, int index);

    // From another reader its image properties too, then the bitmap.
    void Assign(const TPersistent* source) override;

    // The load frame: empties the bitmap, remembers where the image starts
    // and resets the colour manager, then runs LoadImage. A load that fails
    // leaves an empty bitmap behind and passes the exception on.
    void LoadFromStream(TStream& stream) override;

    TColorManager& ColorManager() { return *colorManager_; }
    const TColorManager& ColorManager() const { return *colorManager_; }
    TImageProperties ImageProperties;
    int64_t BasePosition() const { return basePosition_; }

protected:
    // The format's own work, with the stream at BasePosition(). The base
    // reads what its parent, the bitmap, reads.
    virtual void LoadImage(TStream& stream);

    // Steps of the frame that readers call from LoadImage.
    // ReadImageInfo at the base position; when it is false, or the size is
    // outside the limits, the invalid-format message with formatName. The
    // stream is left at the base position.
    void ReadHeader(TStream& stream, const char* formatName);
    // Width and height 1..65535 and their product within the pixel limit.
    void CheckImageSize(const char* formatName) const;
    // The pixel format of the target side, or a fixed one, with the palette
    // a bitmap gets when its file has none: black and white for 1 bit, the
    // 16-colour system palette for 4 bits, a grey ramp for 8 bits.
    void SetReaderPixelFormat(TPixelFormat format);
    // Zeroes every row from its first byte that holds no whole pixel on, so
    // that pixels written later (also a few bits at a time) leave no byte
    // of the picture undefined.
    void ZeroRowPadding();

    // Progress: a starting event with a stage text (the progress rectangle
    // is set to the first row), running events per row (percentage
    // MulDiv(row, 100, height), the rectangle moves down a row) and an
    // ending event.
    void StartProgress(const char* stageText);
    void RowProgress(int32_t row, int32_t height);
    void EndProgress(uint8_t percent = 0, bool redraw = false);

    int64_t basePosition_ = 0;
    TStream* stream_ = nullptr;  // the stream being loaded (not owned)
    TRect progressRect_;

private:
    std::unique_ptr<TColorManager> colorManager_;
};

// ------------------------------------------------------------ shared routines

[[noreturn]] void RaiseInvalidGraphic(const std::string& message);
// The message with %s filled by formatName ("Cannot load image. Invalid or
// unexpected %s image format.", ...).
[[noreturn]] void RaiseInvalidGraphicFmt(const char* message, const char* formatName);

// Bytes from the stream's position to its end (0 past the end).
int64_t BytesLeft(TStream& stream);
// EReadError "Stream read error" unless the stream holds `bytes` more bytes
// from its position: a check before buffers are sized from a header.
void RequireBytes(TStream& stream, int64_t bytes);
// Reads `count` bytes from the stream's position into buffer and goes back
// there; true when they were all there. A look at a header that moves nothing.
bool PeekBytes(TStream& stream, void* buffer, int64_t count);

void SwapWordArray(void* data, int64_t count);
void SwapLongArray(void* data, int64_t count);
constexpr uint32_t SwapLong(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}

// The horizontal-difference predictor over one row of 8-bit samples in
// place, for pixels of 1, 3 or 4 samples; count is the row's pixels less one.
void UndoPredictor1(uint8_t* row, int64_t count);
void UndoPredictor3(uint8_t* row, int64_t count);
void UndoPredictor4(uint8_t* row, int64_t count);

// Doubles a width x height 8-bit plane in both directions in place; rows lie
// rowStride apart, which must hold 2 x width bytes, and the plane must have
// room for 2 x height rows.
void UpsampleDouble(int32_t width, int32_t height, int32_t rowStride, uint8_t* plane);

// ------------------------------------------------------------ packed input

// Packed data taken from a stream in large pieces, for decoders that accept
// their input a piece at a time (they move their source cursor): the reader
// decodes a row, Consumes what the decoder took and Refills when it stalls.
class TPackedInput {
public:
    // Reads at most `limit` bytes of the stream (all that is left when
    // limit < 0), chunk bytes at a time: from its position, or from `from`
    // when that is given, seeking there before each read, so that inputs at
    // several places of one stream can take turns.
    TPackedInput(TStream& stream, size_t chunk, int64_t limit = -1, int64_t from = -1);
    const uint8_t* Data() const { return buffer_.data() + start_; }
    size_t Available() const { return end_ - start_; }
    // Bytes not consumed yet, in the buffer and still in the stream.
    int64_t Left() const { return static_cast<int64_t>(Available()) + left_; }
    void Consume(size_t n) { start_ += n < Available() ? n : Available(); }
    // Keeps what is left and reads more behind it; false when nothing more
    // came.
    bool Refill();
    // Decodes `units` units (of unitBytes bytes) into dest, refilling as
    // needed; returns the units written, fewer when the data ends.
    int64_t DecodeInto(TDecoder& decoder, uint8_t* dest, int64_t units, size_t unitBytes);
    // Puts the stream just after the last byte consumed.
    void Release();

private:
    TStream& stream_;
    std::vector<uint8_t> buffer_;
    size_t start_ = 0, end_ = 0;
    int64_t left_;       // bytes of the stream not yet read into the buffer
    int64_t from_ = -1;  // where the next read starts; -1: the stream's position
};
