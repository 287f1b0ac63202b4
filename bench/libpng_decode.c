/* A PNG file decoded by libpng's simplified API into 8-bit RGB or RGBA rows,
 * N times; prints the median wall time and the peak resident memory in the
 * same words as quillarc-decode, so bench/png-vs-libpng.sh can put the two
 * side by side. The picture's buffer is kept from load to load, as
 * Quillarc's pool keeps its pixel blocks.
 * usage: libpng-decode [--repeat N] INPUT.png */
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>

#include "bench_timing.h"

int main(int argc, char** argv) {
    int repeat = 1, i;
    const char* input;
    png_bytep pixels = NULL;
    size_t held = 0;
    double times[1000];
    if (argc == 4 && strcmp(argv[1], "--repeat") == 0) {
        repeat = atoi(argv[2]);
        input = argv[3];
    } else if (argc == 2) {
        input = argv[1];
    } else {
        fprintf(stderr, "usage: libpng-decode [--repeat N] INPUT.png\n");
        return 2;
    }
    if (repeat < 1 || repeat > 1000) return 2;
    for (i = 0; i < repeat; ++i) {
        png_image image;
        const double start = Now();
        memset(&image, 0, sizeof image);
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_file(&image, input)) {
            fprintf(stderr, "libpng: %s\n", image.message);
            return 1;
        }
        /* As the file has it: colour with alpha where it has alpha. */
        image.format = (image.format & PNG_FORMAT_FLAG_ALPHA) ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
        if (held < PNG_IMAGE_SIZE(image)) {
            free(pixels);
            held = PNG_IMAGE_SIZE(image);
            pixels = malloc(held);
        }
        if (pixels == NULL || !png_image_finish_read(&image, NULL, pixels, 0, NULL)) {
            fprintf(stderr, "libpng: %s\n", image.message);
            return 1;
        }
        times[i] = Now() - start;
        if (i == repeat - 1)
            printf("picture: %u x %u, %s\n", image.width, image.height,
                   (image.format & PNG_FORMAT_FLAG_ALPHA) ? "RGBA" : "RGB");
    }
    free(pixels);
    {
        struct rusage usage;
        qsort(times, (size_t)repeat, sizeof times[0], CompareSeconds);
        printf("median time: %.3f s over %d runs (fastest %.3f s, slowest %.3f s)\n", times[repeat / 2], repeat, times[0],
               times[repeat - 1]);
        getrusage(RUSAGE_SELF, &usage);
        printf("peak resident memory: %.1f MiB\n", usage.ru_maxrss / 1024.0);
    }
    return 0;
}
