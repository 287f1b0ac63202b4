// Benchmark driver: runs one conversion or one filter on a picture file,
// writes the result as a 32-bit BMP and prints the median wall time of the
// work and the peak resident memory of the process.
//
// The random generator starts from seed 0 as at program start, and each
// repeat draws on from where the previous one stopped, as pressing "Done"
// again would; OUTPUT holds the first repeat's result, so it does not
// depend on --repeat.
//
// With --reference the straightforward versions of the same conversion run
// afterwards on one thread, from seed 0 again, so that the speed-up is
// measured in one process; their first result must have the same bytes.
// The peak memory reported is that of loading and the fast runs (writing
// OUTPUT and the reference runs are left out; with --reference the first
// result is kept for the comparison, which adds to it).

#include <algorithm>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "app/BatchFiles.h"
#include "app/Image32.h"
#include "app/PictureFiles.h"
#include "app/Random.h"
#include "app/SketchFilters.h"
#include "app/SketchState.h"
#include "bench/bench_support.h"
#include "platform/core/Parallel.h"
#include "platform/core/SysUtils.h"
#include "professional/ProfessionalFilters.h"
#include "professional/ProfessionalPipeline.h"
#include "professional/ProfessionalPipelineRef.h"
#include "standard/StandardFilters.h"
#include "standard/StandardPipeline.h"
#include "standard/StandardPipelineRef.h"

namespace {

using namespace bench;

const char kUsage[] =
    "usage:\n"
    "  quillarc-bench [--repeat N] [--threads N] [--reference] INPUT OUTPUT.bmp pro [Control=Value ...]\n"
    "  quillarc-bench [--repeat N] [--threads N] [--reference] INPUT OUTPUT.bmp std [--revision earlier] "
    "RadioButtonN [Control=Value ...]\n"
    "  quillarc-bench [--repeat N] [--threads N] INPUT OUTPUT.bmp filter NAME [ARG ...]\n"
    "  quillarc-bench [--repeat N] [--threads N] INPUT OUTPUT.bmp load\n"
    "  quillarc-bench [--threads N] INPUT_FOLDER OUTPUT_FOLDER batch [Control=Value ...]\n"
    "\n"
    "pro controls: CheckBox1..CheckBox8 (0 or 1), RadioButton1..RadioButton5 (1 selects),\n"
    "  TrackBar1..TrackBar9; std controls: RadioButton1..RadioButton7 (1..6 in the earlier\n"
    "  revision), TrackBar1..TrackBar9 (no TrackBar4..6 in the earlier revision). Slider\n"
    "  positions outside a slider's range are taken at its nearest end.\n"
    "filters: picsobel, convertimg1 ANGLE, twovaluetopen T, sharpen A, soften A, dosoften A,\n"
    "  Blur A, Exposure T, hsladjust H S L, colorzone OFFSET, Brume N, fringe1, fringe2,\n"
    "  fringe3, pinghua, crayonpic CELLSIZE, PenInkBmp TB4 TB5 TB6\n"
    "--repeat N runs the work N times (1..1000, default 1); --threads N uses N threads\n"
    "  (1..256, default: one per core). The random generator starts from seed 0 and each\n"
    "  repeat draws on where the last stopped; OUTPUT holds the first repeat's result.\n"
    "load times the main window's picture loader alone (peak memory: of the loads).\n"
    "batch converts every picture of INPUT_FOLDER with pro's settings as the batch does\n"
    "  (load, both panes, conversion, JPEG file), after timing load, conversion and save\n"
    "  of its first picture on their own (--repeat times each).\n"
    "--reference then runs the straightforward versions of pro or std N times on one thread\n"
    "  and prints their median, the speed-up and whether their bytes are the same.\n";

// Splits "Control=Value".
void ParseControl(const std::string& arg, std::string& name, int32_t& value) {
    const size_t eq = arg.find('=');
    if (eq == std::string::npos || eq == 0) Fail("expected Control=Value, not \"" + arg + "\"");
    name = arg.substr(0, eq);
    value = ParseInt(arg.substr(eq + 1), name, INT32_MIN, INT32_MAX);
}

// The work of one repeat: turns the input into the result.
using Work = std::function<void(const TBitmap32& input, TBitmap32& result)>;

struct Works {
    Work fast, reference;  // reference is empty for single filters
};

TProfessionalSettings ProfessionalSettings(const std::vector<std::string>& args, size_t i) {
    TProfessionalSettings s;
    for (; i < args.size(); ++i) {
        std::string name;
        int32_t value;
        ParseControl(args[i], name, value);
        if (!s.Set(name, value)) Fail("pro has no control \"" + name + "\"");
    }
    return s;
}

Works ProfessionalWork(const std::vector<std::string>& args, size_t i) {
    const TProfessionalSettings s = ProfessionalSettings(args, i);
    return {[s](const TBitmap32& input, TBitmap32& result) { RunProfessional(s, input, result); },
            [s](const TBitmap32& input, TBitmap32& result) { RunProfessionalReference(s, input, result); }};
}

Works StandardWork(const std::vector<std::string>& args, size_t i) {
    TRevision revision = TRevision::Current;
    if (i < args.size() && args[i] == "--revision") {
        if (i + 1 >= args.size() || args[i + 1] != "earlier") Fail("--revision takes the value \"earlier\"");
        revision = TRevision::Earlier;
        i += 2;
    }
    TStandardSettings s = TStandardSettings::Defaults(revision);
    if (i >= args.size() || args[i].find('=') != std::string::npos || !s.Set(args[i], 1) ||
        args[i].rfind("RadioButton", 0) != 0)
        Fail(std::string("std needs a style: RadioButton1..RadioButton") +
             (revision == TRevision::Earlier ? "6" : "7") + (i < args.size() ? ", not \"" + args[i] + "\"" : ""));
    for (++i; i < args.size(); ++i) {
        std::string name;
        int32_t value;
        ParseControl(args[i], name, value);
        if (!s.Set(name, value)) Fail("std has no control \"" + name + "\" in this revision");
    }
    return {[s](const TBitmap32& input, TBitmap32& result) { RunStandard(s, input, result); },
            [s](const TBitmap32& input, TBitmap32& result) { RunStandardReference(s, input, result); }};
}

// Filters that change one bitmap in place. The result starts as a copy of
// the input, timed with the filter as the pipelines' copies are with them.
Work InPlace(std::function<void(TBitmap32&)> filter) {
    return [filter](const TBitmap32& input, TBitmap32& result) {
        result.Assign(&input);
        filter(result);
    };
}

Work FilterWork(const std::vector<std::string>& args, size_t i) {
    if (i >= args.size()) Fail("filter needs a NAME");
    const std::string name = args[i++];
    std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    auto want = [&](size_t n) {
        if (rest.size() != n)
            Fail(name + " takes " + std::to_string(n) + " argument" + (n == 1 ? "" : "s") + ", not " +
                 std::to_string(rest.size()));
    };
    auto arg = [&](size_t k, const char* what, int64_t min, int64_t max) {
        return ParseInt(rest[k], name + " " + what, min, max);
    };
    // The filters' own bar: the Standard dialog's, as MakeMode is 0.
    auto bar = []() -> IProgressBar& { return SharedProgressBar(); };

    if (name == "picsobel") {
        want(0);
        return InPlace([bar](TBitmap32& b) { sketch::picsobel(b, bar()); });
    }
    if (name == "convertimg1") {
        want(1);
        const int32_t angle = arg(0, "ANGLE", 1, 89);
        return [angle, bar](const TBitmap32& input, TBitmap32& result) {
            TBitmap32 src;
            src.Assign(&input);
            sketch::convertimg1(angle, src, result, bar());
        };
    }
    if (name == "twovaluetopen") {
        want(1);
        const int32_t t = arg(0, "T", 0, 255);
        return [t](const TBitmap32& input, TBitmap32& result) {
            TBitmap32 src;
            src.Assign(&input);
            sketch::twovaluetopen(t, src, result);
        };
    }
    struct OneInt {
        const char* name;
        const char* what;
        int64_t min, max;
        void (*run)(int32_t, TBitmap32&, IProgressBar&);
    };
    static const OneInt oneInt[] = {
        {"sharpen", "A", 0, 100000, sketch::sharpen},
        {"soften", "A", 0, 100000, sketch::soften},
        {"dosoften", "A", 1, 100000, sketch::dosoften},
        {"Blur", "A", 1, 100000, sketch::Blur},
        {"colorzone", "OFFSET", -12, 13, pro::colorzone},
        {"Brume", "N", 1, 10, pro::Brume},
    };
    for (const OneInt& f : oneInt) {
        if (name != f.name) continue;
        want(1);
        const int32_t a = arg(0, f.what, f.min, f.max);
        auto run = f.run;
        return InPlace([run, a, bar](TBitmap32& b) { run(a, b, bar()); });
    }
    if (name == "Exposure") {
        want(1);
        const int32_t t = arg(0, "T", 0, 255);
        return InPlace([t, bar](TBitmap32& b) { sketch::Exposure(b, t, bar()); });
    }
    if (name == "hsladjust") {
        want(3);
        const int32_t h = arg(0, "H", 0, 360), s = arg(1, "S", 0, 200), l = arg(2, "L", 0, 200);
        return InPlace([h, s, l, bar](TBitmap32& b) { pro::hsladjust(h, s, l, b, bar()); });
    }
    struct NoInt {
        const char* name;
        void (*run)(TBitmap32&, IProgressBar&);
    };
    static const NoInt noInt[] = {
        {"fringe1", pro::fringe1}, {"fringe2", pro::fringe2}, {"fringe3", pro::fringe3}, {"pinghua", pro::pinghua}};
    for (const NoInt& f : noInt) {
        if (name != f.name) continue;
        want(0);
        auto run = f.run;
        return InPlace([run, bar](TBitmap32& b) { run(b, bar()); });
    }
    if (name == "crayonpic") {
        want(1);
        const int32_t cell = arg(0, "CELLSIZE", 1, 256);
        return InPlace([cell](TBitmap32& b) {
            stdf::CrayonCellSize = cell;
            stdf::crayonpic(b, StandardProgressBar());
        });
    }
    if (name == "PenInkBmp") {
        want(3);
        const stdf::TPenInkParams p{arg(0, "TB4", 1, 101), arg(1, "TB5", 0, 20), arg(2, "TB6", 0, 40)};
        return InPlace([p](TBitmap32& b) { stdf::PenInkBmp(b, p, StandardProgressBar()); });
    }
    Fail("no filter named \"" + name + "\"");
}

struct Options {
    int repeat = 1;
    int threads = 0;  // 0: the pool's default
    bool reference = false;
    bool loadOnly = false;
    std::optional<TProfessionalSettings> batch;
    std::string input, output;
    Works work;
};

Options ParseArguments(const std::vector<std::string>& args) {
    Options o;
    size_t i = 0;
    while (i < args.size() && args[i].rfind("--", 0) == 0) {
        const std::string opt = args[i];
        if (opt == "--reference") {
            o.reference = true;
            ++i;
            continue;
        }
        if (opt != "--repeat" && opt != "--threads") Fail("unknown option " + opt);
        if (i + 1 >= args.size()) Fail(opt + " needs a number");
        if (opt == "--repeat")
            o.repeat = ParseInt(args[i + 1], "--repeat", 1, 1000);
        else
            o.threads = ParseInt(args[i + 1], "--threads", 1, 256);
        i += 2;
    }
    if (i + 3 > args.size()) Fail("expected INPUT OUTPUT.bmp and pro, std or filter");
    o.input = args[i];
    o.output = args[i + 1];
    const std::string mode = args[i + 2];
    i += 3;
    if (mode == "pro")
        o.work = ProfessionalWork(args, i);
    else if (mode == "std")
        o.work = StandardWork(args, i);
    else if (mode == "filter")
        o.work = {FilterWork(args, i), {}};
    else if (mode == "load" && i == args.size())
        o.loadOnly = true;
    else if (mode == "batch")
        o.batch = ProfessionalSettings(args, i);
    else
        Fail("expected pro, std, filter or load, not \"" + mode + "\"");
    if (o.reference && !o.work.reference) Fail("--reference works with pro and std only");
    return o;
}

// Runs work `repeat` times from seed 0; atFirst receives the first result.
std::vector<double> TimeRuns(const Work& work, const TBitmap32& input, int repeat,
                             const std::function<void(TBitmap32&)>& atFirst) {
    rnd::SetSeed(0);
    std::vector<double> seconds;
    for (int r = 0; r < repeat; ++r) {
        TBitmap32 result;
        const auto start = std::chrono::steady_clock::now();
        work(input, result);
        seconds.push_back(Since(start));
        if (r == 0) {
            // Exposure leaves 24 bits; the file is always 32 (alpha 0 then).
            result.SetPixelFormat(TPixelFormat::pf32bit);
            atFirst(result);
        }
    }
    return seconds;
}

void PrintFigures(int32_t width, int32_t height, const std::vector<double>& seconds, double peak) {
    const int threads = par::ThreadCount();
    std::printf("picture: %d x %d, %d thread%s\n", width, height, threads, threads == 1 ? "" : "s");
    PrintTimeAndPeak(seconds, peak, double(width) * double(height));
}

// The loader alone: LoadPictureFile `repeat` times, each picture freed
// before the next load.
int RunLoads(const Options& o) {
    std::vector<double> seconds;
    std::unique_ptr<TBitmap> picture;
    for (int r = 0; r < o.repeat; ++r) {
        picture.reset();
        const auto start = std::chrono::steady_clock::now();
        picture = LoadPictureFile(o.input);
        seconds.push_back(Since(start));
        if (!picture || picture->Empty()) {
            std::fprintf(stderr, "quillarc-bench: \"%s\" is not a picture this program reads\n", o.input.c_str());
            return 1;
        }
    }
    const double peak = PeakResidentBytes();
    picture->SaveToFile(o.output);
    PrintFigures(picture->Width(), picture->Height(), seconds, peak);
    return 0;
}

template <class Step>
double Seconds(const Step& step) {
    const auto start = std::chrono::steady_clock::now();
    step();
    return Since(start);
}

// The batch of a folder as the dialogs run it, without the windows: each
// item loaded (LoadBatchPicture), put into both panes, converted and saved.
int RunBatchFolder(const Options& o) {
    const std::vector<std::string> names = ListBatchFolder(o.input);
    if (names.empty()) {
        std::fprintf(stderr, "quillarc-bench: no picture to convert in \"%s\"\n", o.input.c_str());
        return 1;
    }
    ForceDirectories(o.output);
    const TProfessionalSettings& s = *o.batch;
    rnd::SetSeed(0);

    // The parts on their own, on the first picture.
    std::vector<double> load, convert, save;
    const std::string first = JoinPath(o.input, names[0]);
    const std::string scratchFile = JoinPath(o.output, "parts-quillarc_out.jpg");
    for (int r = 0; r < o.repeat; ++r) {
        std::unique_ptr<TBitmap> picture;
        load.push_back(Seconds([&] { picture = LoadPictureFile(first); }));
        TBitmap32 source, result;
        source.TakePicture(*picture);
        picture.reset();
        convert.push_back(Seconds([&] { RunProfessional(s, source, result); }));
        save.push_back(Seconds([&] { SaveBatchPicture(result, scratchFile); }));
    }
    std::remove(scratchFile.c_str());
    const double parts = Median(load) + Median(convert) + Median(save);

    std::vector<double> items;
    std::vector<double> resident;
    TBitmap paneSource, paneResult;  // the main window's two panes
    int32_t width = 0, height = 0;
    for (const std::string& name : names) {
        items.push_back(Seconds([&] {
            std::unique_ptr<TBitmap32> picture = LoadBatchPicture(JoinPath(o.input, name));
            if (!picture) return;
            paneSource.Assign(picture.get());
            picture.reset();
            paneResult.Assign(&paneSource);
            RunProfessional(s, paneSource, paneResult);
            SaveBatchPicture(paneResult, BatchOutputName(o.output, name, kBatchSuffix));
        }));
        resident.push_back(ResidentBytes());
        width = paneSource.Width(), height = paneSource.Height();
    }
    const double pixels = double(width) * height;
    std::printf("pictures: %zu, %d x %d the last, %d threads\n", names.size(), width, height, par::ThreadCount());
    std::printf("parts on their own (median of %d): load %.3f s, conversion %.3f s, save %.3f s, sum %.3f s\n",
                o.repeat, Median(load), Median(convert), Median(save), parts);
    std::printf("batch per picture: median %.3f s, slowest %.3f s (%.2f times the sum of the parts)\n",
                Median(items), *std::max_element(items.begin(), items.end()), Median(items) / parts);
    std::printf("resident memory after each picture: first %.1f, last %.1f, highest %.1f bytes per pixel\n",
                resident.front() / pixels, resident.back() / pixels,
                *std::max_element(resident.begin(), resident.end()) / pixels);
    std::printf("peak resident memory: %.1f bytes per pixel\n", PeakResidentBytes() / pixels);
    return 0;
}

int Run(const Options& o) {
    if (o.threads > 0) par::SetThreadCount(o.threads);
    if (o.loadOnly) return RunLoads(o);
    if (o.batch) return RunBatchFolder(o);

    TBitmap32 input;
    {
        std::unique_ptr<TBitmap> picture = LoadPictureFile(o.input);
        if (!picture) {
            std::fprintf(stderr, "quillarc-bench: cannot find \"%s\"\n", o.input.c_str());
            return 1;
        }
        if (picture->Empty()) {
            std::fprintf(stderr, "quillarc-bench: \"%s\" is not a picture this program reads\n", o.input.c_str());
            return 1;
        }
        input.Assign(picture.get());
    }
    TBitmap32::SetAlphaChannel(input, 255);

    TBitmap32 first;  // kept only for the comparison with the reference
    double peakFirst = 0;
    const std::vector<double> seconds = TimeRuns(o.work.fast, input, o.repeat, [&](TBitmap32& result) {
        peakFirst = PeakResidentBytes();
        result.SaveToFile(o.output);
        if (o.reference) first.SwapPixels(result);
        ResetPeak();
    });
    const double peak = std::max(peakFirst, PeakResidentBytes());

    PrintFigures(input.Width(), input.Height(), seconds, peak);
    const double median = Median(seconds);
    const int threads = par::ThreadCount();
    if (!o.reference) return 0;

    par::SetThreadCount(1);
    TBitmap32 referenceFirst;
    const double refMedian = Median(
        TimeRuns(o.work.reference, input, o.repeat, [&](TBitmap32& result) { referenceFirst.SwapPixels(result); }));
    par::SetThreadCount(threads);
    bool same = referenceFirst.Width() == first.Width() && referenceFirst.Height() == first.Height();
    for (int32_t y = 0; same && y < first.Height(); ++y)
        same = std::memcmp(first.ScanLine(y), referenceFirst.ScanLine(y), size_t(first.Width()) * 4) == 0;
    std::printf("reference median time: %.3f s over %d run%s on 1 thread\n", refMedian, o.repeat,
                o.repeat == 1 ? "" : "s");
    std::printf("speed-up over the reference: %.1fx\n", median > 0 ? refMedian / median : 0.0);
    std::printf("same bytes as the reference: %s\n", same ? "yes" : "NO");
    return same ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    Options options;
    try {
        options = ParseArguments(args);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "quillarc-bench: %s\n\n%s", e.message.c_str(), kUsage);
        return kBadArguments;
    }
    try {
        return Run(options);
    } catch (const Exception& e) {
        std::fprintf(stderr, "quillarc-bench: %s\n", e.Message().c_str());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "quillarc-bench: out of memory\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quillarc-bench: %s\n", e.what());
    }
    return 1;
}
