// The raster library's fixed English texts: messages, progress stage texts
// and the descriptions it registers its file formats under. Messages with
// "%s" are filled with a format name ("TGA", "PCX or SCR", ...).
#pragma once

namespace raster {

// Colour manager.
inline constexpr const char* kIndexedConversion =
    "Conversion between indexed and non-indexed pixel formats is not supported.";
inline constexpr const char* kNoConverter = "Color conversion failed. Could not find a proper method.";
inline constexpr const char* kBadSampleBits = "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.";
inline constexpr const char* kBadSampleCount = "Sample count per pixel does not correspond to the given color scheme.";
inline constexpr const char* kBadSubsampling = "Subsampling value is invalid. Allowed are 1, 2 and 4.";
inline constexpr const char* kSubsamplingOrder = "Vertical subsampling value must be <= horizontal subsampling value.";

// Readers.
inline constexpr const char* kInvalidImage = "Cannot load image. Invalid or unexpected %s image format.";
inline constexpr const char* kInvalidColorFormat = "Invalid color format in %s file.";
inline constexpr const char* kStreamReadError = "Stream read error in %s file.";
inline constexpr const char* kNotSupported = "Cannot load image. %s not supported for %s files.";
inline constexpr const char* kCompressionScheme = "The compression scheme is";
inline constexpr const char* kCRCError = "Cannot load image. CRC error found in %s file.";
inline constexpr const char* kCompressionError = "Cannot load image. Compression error found in %s file.";
inline constexpr const char* kExtraCompressedData = "Cannot load image. Extra compressed data found in %s file.";
inline constexpr const char* kInvalidPalette = "Cannot load image. Palette in %s file is invalid.";
inline constexpr const char* kUnknownCriticalChunk = "Cannot load PNG image. Unexpected but critical chunk detected.";

// Decoders.
inline constexpr const char* kLZ77Error = "LZ77 decompression error.";

// JPEG-compressed TIFF strips.
inline constexpr const char* kJPEGBogusTables = "Bogus JPEG tables field.";
inline constexpr const char* kJPEGStripSize = "Improper JPEG strip/tile size.";
inline constexpr const char* kJPEGComponents = "Improper JPEG component count.";
inline constexpr const char* kJPEGPrecision = "Improper JPEG data precision.";
inline constexpr const char* kJPEGSampling = "Improper JPEG sampling factors.";
inline constexpr const char* kJPEGFractionalScanline = "Fractional JPEG scanline unsupported.";
inline constexpr const char* kJPEGStripTooShort = "JPEG strip/tile too short for its size.";
inline constexpr const char* kJPEGUnexpectedEnd = "JPEG decompression error. Unexpected end of input.";

// What a TIFF file may hold that the reader does not read, for kNotSupported.
inline constexpr const char* kYCbCrSubsampling = "YCbCr subsampling is";
inline constexpr const char* kSeparatePlanes = "Separate sample planes are";

// Progress stages.
inline constexpr const char* kPreparing = "Preparing...";
inline constexpr const char* kLoadingData = "Loading data...";
inline constexpr const char* kUpsampling = "Upsampling...";
inline constexpr const char* kTransfering = "Transfering...";

// Registry.
inline constexpr const char* kRegisterTwice = "Attempt to register %s twice.";

// Descriptions of the registered file formats.
inline constexpr const char* kWindowsBitmaps = "Windows bitmaps";
inline constexpr const char* kRLEBitmaps = "Run length encoded Windows bitmaps";
inline constexpr const char* kDIBBitmaps = "Device independant Windows bitmaps";
inline constexpr const char* kWindowsIcons = "Windows icons";
inline constexpr const char* kWindowsMetafiles = "Windows metafiles";
inline constexpr const char* kEnhancedMetafiles = "Windows enhanced meta files";
inline constexpr const char* kJFIFImages = "JFIF images";
inline constexpr const char* kJPGImages = "JPG images";
inline constexpr const char* kJPEImages = "JPE images";
inline constexpr const char* kJPEGImages = "JPEG images";
inline constexpr const char* kTruevisionImages = "Truevision images";
inline constexpr const char* kTIFFImages = "Tagged image file format images";
inline constexpr const char* kMacTIFFImages = "Macintosh TIFF images";
inline constexpr const char* kPCTIFImages = "PC TIF images";
inline constexpr const char* kGFIFaxImages = "GFI fax images";
inline constexpr const char* kEPSImages = "Encapsulated Postscript images";
inline constexpr const char* kPCXImages = "ZSoft Paintbrush images";
inline constexpr const char* kWordScreenImages = "Word 5.x screen capture images";
inline constexpr const char* kRLAImages = "Alias/Wavefront images";
inline constexpr const char* kSGIImages = "SGI images";
inline constexpr const char* kSGITrueColorImages = "SGI true color images";
inline constexpr const char* kSGIAlphaImages = "SGI true color images with alpha";
inline constexpr const char* kSGIMonoImages = "SGI black/white images";
inline constexpr const char* kPSDImages = "Photoshop images";
inline constexpr const char* kPortableMapImages = "Portable map images";
inline constexpr const char* kPPMImages = "Portable pixel map images";
inline constexpr const char* kPGMImages = "Portable gray map images";
inline constexpr const char* kPBMImages = "Portable bitmap images";
inline constexpr const char* kAutodeskImages = "Autodesk images";
inline constexpr const char* kPCDImages = "Kodak Photo-CD images";
inline constexpr const char* kCUTImages = "Dr. Halo images";
inline constexpr const char* kPSPImages = "Paintshop Pro images";
inline constexpr const char* kPNGImages = "Portable network graphic images";

}  // namespace raster
