/* giflib's reader, timed the way quillarc-decode times its own: the whole
 * file through DGifSlurp, repeated, with the median and the peak resident
 * memory; frame 0 is written as a PAM (RGB_ALPHA, alpha 255) at its own
 * size, its indices expanded through its colour table, for comparison.
 * Built by bench/compare-gif.sh. usage: giflib-slurp [--repeat N] INPUT OUTPUT.pam */
#include <gif_lib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>

#include "bench_timing.h"

int main(int argc, char** argv) {
    int repeat = 1, arg = 1;
    if (argc > 2 && strcmp(argv[1], "--repeat") == 0) {
        repeat = atoi(argv[2]);
        arg = 3;
    }
    if (argc != arg + 2 || repeat < 1 || repeat > 1000) {
        fprintf(stderr, "usage: giflib-slurp [--repeat N] INPUT OUTPUT.pam\n");
        return 2;
    }
    double* seconds = calloc((size_t)repeat, sizeof(double));
    GifFileType* gif = NULL;
    for (int r = 0; r < repeat; ++r) {
        int error = 0;
        if (gif != NULL) DGifCloseFile(gif, &error);
        const double start = Now();
        gif = DGifOpenFileName(argv[arg], &error);
        if (gif == NULL || DGifSlurp(gif) != GIF_OK) {
            fprintf(stderr, "giflib: %s\n", GifErrorString(gif ? gif->Error : error));
            return 1;
        }
        seconds[r] = Now() - start;
    }
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);

    const SavedImage* image = &gif->SavedImages[0];
    const ColorMapObject* map = image->ImageDesc.ColorMap ? image->ImageDesc.ColorMap : gif->SColorMap;
    const int w = image->ImageDesc.Width, h = image->ImageDesc.Height;
    FILE* out = fopen(argv[arg + 1], "wb");
    if (out == NULL || map == NULL) return 1;
    fprintf(out, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n", w, h);
    unsigned char* row = malloc((size_t)w * 4);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int index = image->RasterBits[(size_t)y * w + x];
            if (index >= map->ColorCount) index = 0;
            row[4 * x] = map->Colors[index].Red;
            row[4 * x + 1] = map->Colors[index].Green;
            row[4 * x + 2] = map->Colors[index].Blue;
            row[4 * x + 3] = 255;
        }
        fwrite(row, 1, (size_t)w * 4, out);
    }
    fclose(out);

    const double median = SortedMedian(seconds, repeat);
    const double peak = usage.ru_maxrss * 1024.0, pixels = (double)gif->SWidth * gif->SHeight;
    printf("picture: %d x %d, 8-bit indices\n", gif->SWidth, gif->SHeight);
    printf("median time: %.3f s over %d run%s (fastest %.3f s, slowest %.3f s)\n", median, repeat,
           repeat == 1 ? "" : "s", seconds[0], seconds[repeat - 1]);
    printf("peak resident memory: %.1f MiB (%.1f bytes per pixel)\n", peak / (1024.0 * 1024.0),
           pixels > 0 ? peak / pixels : 0.0);
    return 0;
}
