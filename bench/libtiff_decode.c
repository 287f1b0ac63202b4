/* The comparison driver for TIFF reading: libtiff opens the file and reads
 * every strip of its first image with TIFFReadEncodedStrip into one buffer
 * of the whole image, as an application that keeps the picture would (the
 * buffer is kept from load to load, as Quillarc's bitmaps come from a pool;
 * the first load pays for it, page faults included); JPEG strips in YCbCr
 * are asked for as RGB, the form the Quillarc reader delivers. Prints the
 * median time of N loads (open, all strips, close) and the process's peak
 * resident memory.
 * usage: libtiff_decode [--repeat N] FILE.tif
 * Built by bench/compare-tiff.sh. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>

#include <tiffio.h>

#include "bench_timing.h"

/* Reads all strips once into the buffer, grown as needed; returns the bytes
 * read, or -1. The picture's size goes to *pixels. */
static long long read_strips(const char* name, unsigned char** buffer, tmsize_t* size, double* pixels) {
    TIFF* tif = TIFFOpen(name, "r");
    if (!tif) return -1;
    uint16_t compression = 0, photometric = 0;
    uint32_t width = 0, height = 0;
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    *pixels = (double)width * height;
    if (compression == COMPRESSION_JPEG && photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    const tmsize_t stripSize = TIFFStripSize(tif);
    const uint32_t strips = TIFFNumberOfStrips(tif);
    if (stripSize * (tmsize_t)strips > *size) {
        free(*buffer);
        *size = stripSize * (tmsize_t)strips;
        *buffer = malloc((size_t)*size);
    }
    long long total = *buffer ? 0 : -1;
    for (uint32_t s = 0; s < strips && total >= 0; ++s) {
        const tmsize_t got = TIFFReadEncodedStrip(tif, s, *buffer + (tmsize_t)s * stripSize, stripSize);
        total = got < 0 ? -1 : total + got;
    }
    TIFFClose(tif);
    return total;
}

int main(int argc, char** argv) {
    int repeat = 1, i = 1;
    if (argc > 2 && strcmp(argv[1], "--repeat") == 0) {
        repeat = atoi(argv[2]);
        i = 3;
    }
    if (i + 1 != argc || repeat < 1 || repeat > 1000) {
        fprintf(stderr, "usage: libtiff_decode [--repeat N] FILE.tif\n");
        return 2;
    }
    TIFFSetWarningHandler(NULL);
    unsigned char* buffer = NULL;
    tmsize_t size = 0;
    double* seconds = malloc(sizeof(double) * (size_t)repeat);
    long long bytes = 0;
    double pixels = 0;
    for (int r = 0; r < repeat; ++r) {
        const double start = Now();
        bytes = read_strips(argv[i], &buffer, &size, &pixels);
        seconds[r] = Now() - start;
        if (bytes < 0) {
            fprintf(stderr, "libtiff_decode: cannot read %s\n", argv[i]);
            return 1;
        }
    }
    const double median = SortedMedian(seconds, repeat);
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    const double peak = (double)usage.ru_maxrss * 1024;
    printf("bytes: %lld\nmedian time: %.4f s over %d run%s\n", bytes, median, repeat, repeat == 1 ? "" : "s");
    printf("peak resident memory: %.1f MiB (%.1f bytes per pixel)\n", peak / 1048576, pixels > 0 ? peak / pixels : 0);
    free(seconds);
    free(buffer);
    return 0;
}
