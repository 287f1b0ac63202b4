/* The comparison driver for TIFF reading: libtiff opens the file and reads
 * every strip of its first image with TIFFReadEncodedStrip into one buffer
 * of the whole image, as an application that keeps the picture would (the
 * buffer is kept from run to run, as Quillarc's bitmaps come from a pool);
 * JPEG strips in YCbCr are asked for as RGB, the form the Quillarc reader
 * delivers. Prints the median time of N runs (open, all strips, close).
 * usage: libtiff_decode [--repeat N] FILE.tif
 * Built by bench/compare-tiff.sh. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tiffio.h>

#include "bench_timing.h"

/* Reads all strips once; returns the bytes read, or -1. */
static long long read_strips(const char* name, unsigned char** buffer, tmsize_t* size) {
    TIFF* tif = TIFFOpen(name, "r");
    if (!tif) return -1;
    uint16_t compression = 0, photometric = 0;
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    if (compression == COMPRESSION_JPEG && photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    const tmsize_t stripSize = TIFFStripSize(tif);
    const uint32_t strips = TIFFNumberOfStrips(tif);
    const tmsize_t imageSize = stripSize * (tmsize_t)strips;
    if (imageSize > *size) {
        free(*buffer);
        *buffer = malloc((size_t)imageSize);
        *size = imageSize;
    }
    long long total = 0;
    for (uint32_t s = 0; s < strips; ++s) {
        const tmsize_t got = TIFFReadEncodedStrip(tif, s, *buffer + (tmsize_t)s * stripSize, stripSize);
        if (got < 0) {
            TIFFClose(tif);
            return -1;
        }
        total += got;
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
    for (int r = 0; r < repeat; ++r) {
        const double start = Now();
        bytes = read_strips(argv[i], &buffer, &size);
        seconds[r] = Now() - start;
        if (bytes < 0) {
            fprintf(stderr, "libtiff_decode: cannot read %s\n", argv[i]);
            return 1;
        }
    }
    const double median = SortedMedian(seconds, repeat);
    printf("bytes: %lld\nmedian time: %.3f s over %d run%s\n", bytes, median, repeat, repeat == 1 ? "" : "s");
    free(seconds);
    free(buffer);
    return 0;
}
