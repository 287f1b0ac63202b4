// The Huffman-coded residuals of the higher Photo-CD resolutions: small
// differences added to the bytes of the luma and chroma planes, row by row
// as the data's row headers say. The coded data (its tables first) is read
// from the decoder's stream in sectors of 2048 bytes.
#pragma once

#include <cstdint>

#include "platform/core/Classes.h"
#include "rasterformats/RasterCompression.h"

// The three planes the residuals go to, each with the rows it holds; all
// share one row stride.
struct TPCDPlanes {
    uint8_t* plane[3] = {};  // luma, first chroma, second chroma
    int32_t rows[3] = {};
};

class TPCDDecoder : public TDecoder {
public:
    explicit TPCDDecoder(TStream& stream);
    const char* ClassName() const override { return "TPCDDecoder"; }
    using TDecoder::Decode;
    // Reads one table (rowStride up to 1536) or three (luma, first and
    // second chroma), then applies the residuals until the row header of
    // stopRow. A luma row r goes to row r of the luma plane, a chroma row r
    // to row r div 2 of its plane; differences past the end of a row or for
    // rows a plane does not hold are dropped. Raises EAbort for the plane
    // code 1, EGraphicCompression for chroma data without chroma tables,
    // EReadError when the stream ends first.
    void Decode(const TPCDPlanes& planes, int32_t rowStride, int32_t stopRow);

private:
    TStream& stream_;
};
