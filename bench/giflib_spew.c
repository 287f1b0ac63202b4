/* giflib's writer, timed the way quillarc-decode times its GIF save: the
 * input read once with DGifSlurp (not timed), then written whole with
 * EGifSpew into memory, repeated, with the median; the last output is
 * written to OUTPUT. Built by bench/compare-gif.sh.
 * usage: giflib-spew [--repeat N] INPUT OUTPUT.gif */
#include <gif_lib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bench_timing.h"

typedef struct {
    unsigned char* data;
    size_t size, capacity;
} Buffer;

static int Put(GifFileType* gif, const GifByteType* bytes, int count) {
    Buffer* b = (Buffer*)gif->UserData;
    if (b->size + (size_t)count > b->capacity) {
        size_t capacity = b->capacity ? b->capacity : 1 << 20;
        while (capacity < b->size + (size_t)count) capacity *= 2;
        unsigned char* data = realloc(b->data, capacity);
        if (data == NULL) return 0;
        b->data = data;
        b->capacity = capacity;
    }
    memcpy(b->data + b->size, bytes, (size_t)count);
    b->size += (size_t)count;
    return count;
}

int main(int argc, char** argv) {
    int repeat = 1, arg = 1;
    if (argc > 2 && strcmp(argv[1], "--repeat") == 0) {
        repeat = atoi(argv[2]);
        arg = 3;
    }
    if (argc != arg + 2 || repeat < 1 || repeat > 1000) {
        fprintf(stderr, "usage: giflib-spew [--repeat N] INPUT OUTPUT.gif\n");
        return 2;
    }
    int error = 0;
    double* seconds = calloc((size_t)repeat, sizeof(double));
    Buffer out = {NULL, 0, 0};
    for (int r = 0; r < repeat; ++r) {
        /* EGifSpew frees what it wrote: each round reads the input again. */
        GifFileType* in = DGifOpenFileName(argv[arg], &error);
        if (in == NULL || DGifSlurp(in) != GIF_OK) {
            fprintf(stderr, "giflib: %s\n", GifErrorString(in ? in->Error : error));
            return 1;
        }
        out.size = 0;
        GifFileType* gif = EGifOpen(&out, Put, &error);
        if (gif == NULL) return 1;
        gif->SWidth = in->SWidth;
        gif->SHeight = in->SHeight;
        gif->SColorResolution = in->SColorResolution;
        gif->SBackGroundColor = in->SBackGroundColor;
        gif->SColorMap = in->SColorMap;
        gif->ImageCount = in->ImageCount;
        gif->SavedImages = in->SavedImages;
        gif->ExtensionBlockCount = in->ExtensionBlockCount;
        gif->ExtensionBlocks = in->ExtensionBlocks;
        in->SColorMap = NULL;
        in->SavedImages = NULL;
        in->ImageCount = 0;
        in->ExtensionBlocks = NULL;
        in->ExtensionBlockCount = 0;
        const double start = Now();
        if (EGifSpew(gif) != GIF_OK) {
            fprintf(stderr, "giflib: %s\n", GifErrorString(gif->Error));
            return 1;
        }
        seconds[r] = Now() - start;
        DGifCloseFile(in, &error);
    }
    FILE* file = fopen(argv[arg + 1], "wb");
    if (file == NULL || fwrite(out.data, 1, out.size, file) != out.size) return 1;
    fclose(file);
    const double median = SortedMedian(seconds, repeat);
    printf("written: %zu bytes\n", out.size);
    printf("median save time: %.3f s over %d run%s (fastest %.3f s, slowest %.3f s)\n", median, repeat,
           repeat == 1 ? "" : "s", seconds[0], seconds[repeat - 1]);
    return 0;
}
