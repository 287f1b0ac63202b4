// The strips of a TIFF image: where each lies in the file and which rows it
// holds, checked against the file before anything is allocated, and the
// strips decoded into a bitmap's rows on several threads.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "rasterformats/RasterGraphic.h"

class TColorManager;

// How a decoded row becomes a row of the bitmap.
enum class TRowForm : uint8_t {
    Copy,     // the same bytes
    SwapRB3,  // 8-bit RGB to blue, green, red: red and blue trade places
    SwapRB4,  // 8-bit RGBA to blue, green, red, alpha
    Convert,  // through the colour manager, from a row of its own
};

// What the strips hold and how their rows reach the bitmap.
struct TTIFFStripFormat {
    TCompressionType scheme = TCompressionType::ctNone;
    int32_t width = 0, height = 0;
    uint8_t bits = 0, samples = 0;
    int64_t bytesPerRow = 0;  // of the data, not of the bitmap
    uint32_t faxOptions = 0;
    bool reversed = false;   // fill order 2
    bool predictor = false;  // horizontal differences of 8- or 16-bit samples
    bool bigEndian = false;
};

class TTIFFStrips {
public:
    // The table from the directory: strip offsets (from base), byte counts
    // (needed for packed strips only) and rows per strip (the last value
    // goes on for the strips after it). Raises the invalid-format message
    // for a table without offsets, packed strips without their counts, a
    // picture the strips' bytes cannot back, or packed strips that would put
    // more than twice the bytes they take in the file, and 64 KiB, through
    // the decoders.
    // mostOfJPEG(start, bytes, enough) gives the most bytes of rows the
    // JPEG data of a strip can decode to, or any figure of `enough` or more
    // when it is that much.
    TTIFFStrips(const TTIFFStripFormat& format, const std::vector<uint32_t>& offsets,
                const std::vector<uint32_t>& byteCounts, const std::vector<uint32_t>& rowsPerStrip, int64_t base,
                int64_t streamSize,
                const std::function<int64_t(int64_t start, int64_t bytes, int64_t enough)>& mostOfJPEG);
    ~TTIFFStrips();

    int32_t Count() const { return static_cast<int32_t>(strips_.size()); }
    // Rows the strips reach, from the top; those below are the caller's.
    int64_t RowsCovered() const { return rowsCovered_; }

    // Where the rows go: the bitmap's first row, the distance between rows,
    // the bytes of a row its format fills (the rest is padding, which is
    // written zero), and how a decoded row becomes one of its rows.
    struct TTarget {
        uint8_t* pixels = nullptr;
        int64_t stride = 0;
        int64_t used = 0;
        bool packed = false;  // 1 or 4 bits a pixel
        TRowForm form = TRowForm::Convert;
    };
    // What a decode leaves: the strips' warnings in strip order, up to the
    // first strip that failed, and what it raised (as if the strips had been
    // read one after another).
    struct TOutcome {
        std::vector<std::string> warnings;
        std::exception_ptr error;
    };
    // Decodes every strip into its rows, rows the data does not cover zero.
    // The colour manager's converter must be chosen already. A JPEG decoder
    // takes its fields from properties. rowsDone hears the rows done so far,
    // on the calling thread.
    TOutcome Decode(TStream& stream, const TTarget& target, TColorManager& colors, const TImageProperties& properties,
                    const std::function<void(int64_t rowsDone)>& rowsDone) const;

    // Where a strip starts, its bytes in the stream (and as many as the
    // directory says), the rows it holds, and the earlier strip whose rows
    // it repeats, or -1.
    struct TStrip {
        int64_t start, length, stated, rows, firstRow;
        int32_t repeats;
    };

private:
    struct TJob;
    class TWorker;
    TTIFFStripFormat format_;
    std::vector<TStrip> strips_;
    int64_t rowsCovered_ = 0;
    // The distinct places strips start, and the bytes taken from each.
    std::vector<int64_t> starts_, extent_;
};
