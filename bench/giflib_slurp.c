/* giflib's reader, timed the way quillarc-decode times its own: the whole
 * file through DGifSlurp, repeated, with the median and the peak resident
 * memory; frame 0 is written as a PAM (RGB_ALPHA, alpha 255) at its own
 * size, its indices expanded through its colour table, for comparison.
 * With --once (and no OUTPUT), one load timed as quillarc-gifload times
 * its own: wall and processor time, minor page faults, the peak memory
 * above the start; --small-pages keeps transparent huge pages away.
 * Built by bench/compare-gif.sh.
 * usage: giflib-slurp [--repeat N] INPUT OUTPUT.pam
 *        giflib-slurp --once [--small-pages] INPUT */
#include <gif_lib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include "bench_timing.h"

static double CpuSeconds(const struct rusage* u) {
    return (double)(u->ru_utime.tv_sec + u->ru_stime.tv_sec) + (double)(u->ru_utime.tv_usec + u->ru_stime.tv_usec) / 1e6;
}

/* "VmRSS:" or "VmHWM:" of this process, in bytes. */
static double StatusBytes(const char* field) {
    FILE* status = fopen("/proc/self/status", "r");
    char line[256];
    double kb = 0;
    while (status != NULL && fgets(line, sizeof line, status) != NULL)
        if (strncmp(line, field, strlen(field)) == 0) kb = strtod(line + strlen(field), NULL);
    if (status != NULL) fclose(status);
    return kb * 1024.0;
}

static int Once(const char* input) {
    FILE* refs = fopen("/proc/self/clear_refs", "w"); /* the peak starts from here */
    if (refs != NULL) {
        fputs("5", refs);
        fclose(refs);
    }
    const double before = StatusBytes("VmRSS:");
    struct rusage start, end;
    getrusage(RUSAGE_SELF, &start);
    const double clock = Now();
    int error = 0;
    GifFileType* gif = DGifOpenFileName(input, &error);
    if (gif == NULL || DGifSlurp(gif) != GIF_OK) {
        fprintf(stderr, "giflib: %s\n", GifErrorString(gif ? gif->Error : error));
        return 1;
    }
    const int w = gif->SWidth, h = gif->SHeight;
    DGifCloseFile(gif, &error);
    const double wall = Now() - clock;
    getrusage(RUSAGE_SELF, &end);
    const double pixels = (double)w * h, peak = StatusBytes("VmHWM:") - before;
    printf("picture: %d x %d, 8-bit indices\n", w, h);
    printf("load: %.4f s wall, %.4f s processor, %ld minor page faults\n", wall, CpuSeconds(&end) - CpuSeconds(&start),
           end.ru_minflt - start.ru_minflt);
    printf("load peak: %.2f bytes per pixel above the start\n", pixels > 0 ? peak / pixels : 0.0);
    return 0;
}

int main(int argc, char** argv) {
    if (argc > 2 && strcmp(argv[1], "--once") == 0) {
        int arg = 2;
        if (strcmp(argv[arg], "--small-pages") == 0) {
            prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0);
            ++arg;
        }
        if (arg + 1 == argc) return Once(argv[arg]);
    }
    int repeat = 1, arg = 1;
    if (argc > 2 && strcmp(argv[1], "--repeat") == 0) {
        repeat = atoi(argv[2]);
        arg = 3;
    }
    if (argc != arg + 2 || repeat < 1 || repeat > 1000) {
        fprintf(stderr, "usage: giflib-slurp [--repeat N] INPUT OUTPUT.pam\n       giflib-slurp --once [--small-pages] INPUT\n");
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
