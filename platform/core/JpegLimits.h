// What JPEG-coded data can stand for, judged from its bytes once libjpeg has
// read a frame's header, before the picture or libjpeg's whole-image
// buffers are allocated: the platform's JPEG class checks whole files, the
// TIFF reader its JPEG strips.
#pragma once

#include <cstdint>
#include <cstdio>

// libjpeg's headers expect <cstdio> first.
#include <jpeglib.h>

namespace jpeglimits {

// Arithmetic coding has no floor of bits a block: a flat picture of any
// size takes a few hundred bytes. A photograph coded so takes at most about
// 390 pixels a byte at quality 5 (240 progressive, whose coefficients are
// held beside the picture while it is read), and far fewer at any quality a
// photograph is kept at; a byte may stand for about twice that, counted in
// the memory it makes a load hold: the picture at 3 bytes a pixel and the
// coefficients, together at most this many bytes a byte of the data (768
// grey or colour pixels a byte, 460 of a progressive grey file).
constexpr uint64_t kArithmeticBytesPerByte = 2304;
// The pixels a byte of arithmetic-coded data stands for at the most, when
// nothing but its frame marker is known.
constexpr uint64_t kArithmeticPixelsPerByte = kArithmeticBytesPerByte / 3;

// The fewest bits the frame's Huffman-coded data can take: a complete file
// codes at least the DC coefficient of every 8 x 8 block of every component
// (a progressive one in its first DC scan), and every code is a bit or more.
uint64_t FewestBits(const jpeg_decompress_struct& cinfo);

// Whether `bytes` of the file or strip can hold the frame: Huffman-coded
// data at least FewestBits; arithmetic-coded data `freePixels` pixels, or a
// picture and coefficients of no more than kArithmeticBytesPerByte bytes a
// byte.
bool Backed(const jpeg_decompress_struct& cinfo, uint64_t bytes, uint64_t freePixels);

// The bytes of libjpeg's whole-image coefficient arrays for the frame: a
// progressive file, or one whose components come in several scans, keeps
// 64 coefficients of 2 bytes for every block (its components' blocks
// rounded up to their sampling factors) until its last scan is read. 0 for
// a file of one scan, which is decoded as it is read.
uint64_t CoefficientBytes(const jpeg_decompress_struct& cinfo);

// Counts the whole-image arrays libjpeg asks its memory manager for in
// loadwork::CoefficientBytes, and holds them to CoefficientBytes and a
// little more: libjpeg refuses ("Backing store not supported") before it
// allocates beyond. Call after the header is read, before decompressing.
void WatchArrays(jpeg_decompress_struct& cinfo);

// libjpeg's code for data whose scans would take more work than its bytes
// pay for (see TScanWatch), and the text it formats to.
constexpr int kTooManyScans = 1000;
constexpr const char* kTooManyScansText = "More scans than the data can pay for";

// Holds the scans a file is read through before its rows (a progressive
// one, or one whose components come in scans of their own) to work its
// bytes pay for. Each scan goes over every block of its components, however
// few bytes it takes (an end-of-band run passes over 32,767 blocks in a few
// bits), so a small file repeating its scans would be as slow as their
// count. A load may visit the frame's blocks 16 times over, and 512 blocks
// a byte of the data beyond that. A complete file's scans visit its blocks
// once each for every coefficient band and bit it refines: libjpeg's own
// progressions take 6 to 10 scans. Past the allowance the watch either
// raises kTooManyScans, or, with `cut` set, ends the data there: the
// picture is what the scans before have made (later scans only refine it),
// and Cut() tells the source's end from a file cut short. The watch lives
// as long as the decompressor uses it.
class TScanWatch {
public:
    void Install(jpeg_decompress_struct& cinfo, uint64_t bytes, bool cut);
    // Whether the watch of the decompressor (one installed, or none) has
    // ended its data.
    static bool Cut(const jpeg_decompress_struct& cinfo);

private:
    static void Monitor(j_common_ptr cinfo);

    jpeg_progress_mgr progress_{};  // first: libjpeg hands back its address
    uint64_t allowed_ = 0, visited_ = 0;
    int scan_ = 0;
    bool cut_ = false, ended_ = false;
};

}  // namespace jpeglimits
