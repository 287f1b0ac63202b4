// GIF loading benchmark: the main window's road for a GIF file (the picture
// loads, frame 0 goes into a bitmap), timed once in this process, so that
// every page the load touches is a fresh one whose fault it pays for, as
// the first load of a session does. Reports the wall and processor time,
// the minor page faults and the peak memory of the load above what the
// process held before it, beside the size of the bitmap it made; the
// lines match bench/giflib_slurp.c's, for bench/compare-gif.sh.
// usage: quillarc-gifload [--small-pages] INPUT.gif
//   --small-pages  no transparent huge pages for this process: every page
//                  is an ordinary 4 KiB one

#include <sys/prctl.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "bench/bench_support.h"
#include "gif/GIFPicture.h"

namespace {

double CpuSeconds(const rusage& u) {
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The process's resident memory now, from /proc.
double ResidentBytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) * 1024.0;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int arg = 1;
    if (arg < argc && std::strcmp(argv[arg], "--small-pages") == 0) {
        prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0);
        ++arg;
    }
    if (arg + 1 != argc) {
        std::fprintf(stderr, "usage: quillarc-gifload [--small-pages] INPUT.gif\n");
        return bench::kBadArguments;
    }
    try {
        bench::ResetPeak();
        const double before = ResidentBytes();
        rusage start{}, end{};
        getrusage(RUSAGE_SELF, &start);
        const auto clock = std::chrono::steady_clock::now();
        TBitmap bitmap;
        {
            TGIFPicture gif;
            gif.LoadFromFile(argv[arg]);
            bitmap.Assign(&gif);
        }
        const double wall = bench::Since(clock);
        getrusage(RUSAGE_SELF, &end);
        const double peak = bench::PeakResidentBytes() - before;
        const double pixels = double(bitmap.Width()) * bitmap.Height();
        std::printf("picture: %d x %d, %d-bit bitmap\n", bitmap.Width(), bitmap.Height(),
                    BitsPerPixel(bitmap.PixelFormat()));
        std::printf("load: %.4f s wall, %.4f s processor, %ld minor page faults\n", wall,
                    CpuSeconds(end) - CpuSeconds(start), end.ru_minflt - start.ru_minflt);
        std::printf("load peak: %.2f bytes per pixel above the start; the bitmap %.2f bytes per pixel\n",
                    pixels > 0 ? peak / pixels : 0.0,
                    pixels > 0 ? double(bitmap.RowBytes()) * bitmap.Height() / pixels : 0.0);
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s: %s\n", e.ClassName(), e.Message().c_str());
        return 1;
    }
    return 0;
}
