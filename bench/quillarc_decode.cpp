// Decode driver: loads one picture file through the picture registry, as the
// open dialog's preview does, turns it into a bitmap and writes that bitmap,
// so that every reader can be timed and compared with other decoders from
// outside. Prints the picture's size and pixel format, the median wall time
// of load plus bitmap assignment (a hand-over where the loaded graphic is a
// bitmap), and the peak resident memory.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Codecs.h"
#include "bench/bench_support.h"
#include "gif/GIFPainter.h"
#include "gif/GIFPicture.h"
#include "platform/core/Dialogs.h"
#include "platform/core/Graphics.h"
#include "platform/core/SysUtils.h"
#include "rasterformats/Targa.h"

namespace {

using namespace bench;

const char kUsage[] =
    "usage:\n"
    "  quillarc-decode [--repeat N] [--uncompressed] INPUT OUTPUT\n"
    "  quillarc-decode --frames DIR INPUT\n"
    "  quillarc-decode [--repeat N] [--encoding lzw|rle] [--reduction N] [--dither N]\n"
    "                  [--bits N] [--streamline OPTIONS] INPUT OUTPUT.gif\n"
    "\n"
    "INPUT is loaded by the class the picture registry gives its extension (case\n"
    "ignored), then assigned to a bitmap, which is written by OUTPUT's extension:\n"
    "  .pam  PAM, TUPLTYPE RGB_ALPHA, rows top first; palettes expanded, alpha 255,\n"
    "        except that a 32-bit bitmap's fourth byte is written as its alpha\n"
    "  .bmp  the platform's BMP, in the bitmap's own pixel format\n"
    "  .tga  Truevision, by the raster library's writer: run-length encoded, or\n"
    "        raw with --uncompressed\n"
    "  .gif  the loaded picture (not the bitmap) as a GIF: a GIF is copied as it\n"
    "        is, any other picture imported as one frame, its colours reduced by\n"
    "        --reduction (0..9: none, system 20, halftone 256, 4 greys, black and\n"
    "        white, 256 greys, cube 216, octree, octree with system colours, -;\n"
    "        default 6), --dither (0..6: nearest, Floyd-Steinberg, Stucki,\n"
    "        Sierra, Jarvis-Judice-Ninke, Stevenson-Arce, Burkes; default 0) and\n"
    "        --bits (octree colour bits, 1..8, default 8), then written by the\n"
    "        --encoding encoder (default lzw); the median times of the copy or\n"
    "        import and of the writing are reported apart. --streamline runs\n"
    "        Streamline on the copy before it is written, with OPTIONS a comma\n"
    "        list of crop, merge, cleanup, colormap, reduce, or all\n"
    "--repeat N loads N times (1..1000, default 1) and reports the median.\n"
    "--frames plays the GIF animation INPUT once, at its own speed, onto a white\n"
    "bitmap of its logical screen's size (frames painted by the animation painter\n"
    "running on this thread, transparent colours left out) and writes the bitmap\n"
    "as DIR/000.pam, DIR/001.pam, ... after each frame, and DIR/timing.tsv: per\n"
    "frame, its index and the wait before it in milliseconds (speed 100).\n"
    "A file that cannot be read ends with status 1 and the exception's class and\n"
    "message on one line; one that gives an empty picture ends with status 1\n"
    "and nothing written. Warnings of a load (damaged data read around) go to\n"
    "standard error, each text once, as \"Warning: <text>\".\n";

struct Options {
    int repeat = 1;
    bool uncompressed = false;
    int encoding = -1, reduction = -1, dither = -1, bits = -1;  // -1: the picture's default
    int streamline = -1;                                         // Streamline's options; -1: not run
    std::string input, output;
    std::string framesDir;  // --frames: the folder for the painted frames
};

// ------------------------------------------------------------ output files

// PAM with alpha: 32-bit bitmaps keep their fourth byte as alpha, every
// other format is expanded to colours through the platform's own
// conversion and written opaque.
void WritePam(const TBitmap& bitmap, const std::string& fileName, const Options&) {
    const TBitmap* source = &bitmap;
    TBitmap expanded;
    const bool withAlpha = bitmap.PixelFormat() == TPixelFormat::pf32bit;
    if (!withAlpha) {
        expanded.Assign(&bitmap);
        expanded.SetPixelFormat(TPixelFormat::pf24bit);
        source = &expanded;
    }
    const int32_t w = source->Width(), h = source->Height();
    const std::string header = Format("P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n", w, h);
    TMemoryStream out;
    out.SetSize(static_cast<int64_t>(header.size()) + int64_t(w) * h * 4);
    out.WriteBuffer(header.data(), static_cast<int64_t>(header.size()));
    std::vector<uint8_t> row(size_t(w) * 4);
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* s = source->ScanLine(y);
        uint8_t* d = row.data();
        for (int32_t x = 0; x < w; ++x, d += 4) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
            d[3] = withAlpha ? s[3] : 255;
            s += withAlpha ? 4 : 3;
        }
        out.WriteBuffer(row.data(), static_cast<int64_t>(row.size()));
    }
    out.SaveToFile(fileName);
}

void WriteBmp(const TBitmap& bitmap, const std::string& fileName, const Options&) {
    const_cast<TBitmap&>(bitmap).SaveToFile(fileName);
}

void WriteTarga(const TBitmap& bitmap, const std::string& fileName, const Options& o) {
    TTargaGraphic targa;
    targa.Assign(&bitmap);
    TMemoryStream out;
    targa.SaveToStreamCompressed(out, !o.uncompressed);
    out.SaveToFile(fileName);
}

struct OutputKind {
    const char* extension;  // upper case, with the dot
    std::function<void(const TBitmap&, const std::string&, const Options&)> write;
};

const std::vector<OutputKind>& OutputKinds() {
    static const std::vector<OutputKind> kinds = {
        {".PAM", WritePam},
        {".BMP", WriteBmp},
        {".TGA", WriteTarga},
        {".GIF", nullptr},  // from the loaded picture: WriteGif
    };
    return kinds;
}

const OutputKind* OutputFor(const std::string& fileName) {
    const std::string ext = UpperCase(ExtractFileExt(fileName));
    for (const OutputKind& k : OutputKinds())
        if (ext == k.extension) return &k;
    return nullptr;
}

// ------------------------------------------------------------ the run

int ParseStreamlineOptions(const std::string& text) {
    static const std::vector<std::pair<std::string, int>> names = {
        {"crop", goCrop},           {"merge", goMerge},
        {"cleanup", goCleanup},     {"colormap", goColorMap},
        {"reduce", goReduceColors}, {"all", goCrop | goMerge | goCleanup | goColorMap | goReduceColors}};
    int options = 0;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string name = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const auto it = std::find_if(names.begin(), names.end(), [&](const auto& n) { return n.first == name; });
        if (it == names.end())
            Fail("--streamline takes crop, merge, cleanup, colormap, reduce or all, not \"" + name + "\"");
        options |= it->second;
        if (comma == std::string::npos) return options;
        start = comma + 1;
    }
}

Options ParseArguments(const std::vector<std::string>& args) {
    Options o;
    size_t i = 0;
    while (i < args.size() && args[i].rfind("--", 0) == 0) {
        const std::string opt = args[i];
        if (opt == "--uncompressed") {
            o.uncompressed = true;
            ++i;
            continue;
        }
        if (opt == "--frames") {
            if (i + 1 >= args.size()) Fail("--frames needs a folder");
            o.framesDir = args[i + 1];
            i += 2;
            continue;
        }
        if (i + 1 >= args.size()) Fail(opt + " needs a value");
        const std::string value = args[i + 1];
        if (opt == "--repeat")
            o.repeat = ParseInt(value, opt, 1, 1000);
        else if (opt == "--encoding" && (value == "lzw" || value == "rle"))
            o.encoding = value == "lzw" ? 0 : 1;
        else if (opt == "--encoding")
            Fail("--encoding must be lzw or rle, not \"" + value + "\"");
        else if (opt == "--reduction")
            o.reduction = ParseInt(value, opt, 0, 9);
        else if (opt == "--dither")
            o.dither = ParseInt(value, opt, 0, 6);
        else if (opt == "--bits")
            o.bits = ParseInt(value, opt, 1, 8);
        else if (opt == "--streamline")
            o.streamline = ParseStreamlineOptions(value);
        else
            Fail("unknown option " + opt);
        i += 2;
    }
    if (!o.framesDir.empty()) {
        if (i + 1 != args.size()) Fail("expected --frames DIR INPUT");
        if (o.repeat != 1 || o.uncompressed || o.encoding >= 0 || o.reduction >= 0 || o.dither >= 0 || o.bits >= 0 ||
            o.streamline >= 0)
            Fail("--frames takes no other option");
        o.input = args[i];
        return o;
    }
    if (i + 2 != args.size()) Fail("expected INPUT OUTPUT");
    o.input = args[i];
    o.output = args[i + 1];
    if (OutputFor(o.output) == nullptr)
        Fail("OUTPUT must end in .pam, .bmp, .tga or .gif, not \"" + o.output + "\"");
    const bool gifOptions = o.encoding >= 0 || o.reduction >= 0 || o.dither >= 0 || o.bits >= 0 || o.streamline >= 0;
    if (gifOptions && UpperCase(ExtractFileExt(o.output)) != ".GIF")
        Fail("--encoding, --reduction, --dither, --bits and --streamline need an OUTPUT ending in .gif");
    return o;
}

const char* PixelFormatName(TPixelFormat format) {
    switch (format) {
        case TPixelFormat::pf1bit: return "pf1bit";
        case TPixelFormat::pf4bit: return "pf4bit";
        case TPixelFormat::pf8bit: return "pf8bit";
        case TPixelFormat::pf15bit: return "pf15bit";
        case TPixelFormat::pf16bit: return "pf16bit";
        case TPixelFormat::pf24bit: return "pf24bit";
        case TPixelFormat::pf32bit: return "pf32bit";
        case TPixelFormat::pfCustom: return "pfCustom";
        case TPixelFormat::pfDevice: break;
    }
    return "pfDevice";
}

// What the preview does with a file: the registry's class loads it and a
// bitmap takes the loaded graphic. A graphic that is a bitmap itself (every
// raster reader's) hands its pixels over, unless the picture is kept for
// writing: a copy would count a second picture in the load's peak memory.
std::unique_ptr<TBitmap> Decode(const std::string& fileName, TPicture& picture, bool keepPicture) {
    picture.LoadFromFile(fileName);
    auto bitmap = std::make_unique<TBitmap>();
    auto* loaded = dynamic_cast<TBitmap*>(picture.Graphic());
    if (loaded != nullptr && !keepPicture)
        bitmap->TakeOver(*loaded);
    else
        bitmap->Assign(picture.Graphic());
    return bitmap;
}

// Plays the animation once with a synchronous painter at 1:1 and writes
// what each OnFramePainted sees.
int PlayFrames(const Options& o) {
    TGIFPicture gif;
    gif.LoadFromFile(o.input);
    if (!ForceDirectories(o.framesDir)) throw EInOutError("Cannot create the folder " + o.framesDir);
    TBitmap target;  // 24 bits: the frames are written opaque
    target.SetPixelFormat(TPixelFormat::pf24bit);
    target.SetSize(gif.Width(), gif.Height());
    target.Canvas().Brush.Color = clWhite;
    target.Canvas().FillRect(Rect(0, 0, target.Width(), target.Height()));
    gif.BackdropColor = clWhite;
    gif.PlaybackSpeed = 100;
    gif.PaintFlags = static_cast<TGIFPaintFlags>((gif.PaintFlags & ~(gpThreaded | gpLoop)) | gpAnimate | gpDirectCanvas);
    std::string timing;
    int count = 0;
    gif.OnFramePainted = [&](TObject* sender) {
        const auto* painter = static_cast<const TGIFPainter*>(sender);
        WritePam(target, o.framesDir + Format("/%.3d.pam", count), o);
        timing += Format("%d\t%d\n", painter->ActiveFrame.load(), painter->FrameWait());
        ++count;
    };
    // Straight to a painter: a picture of one frame is played too, where a
    // draw would only paint it.
    gif.StartPainter(nullptr, target.Canvas(), gif.PaintFlags, Rect(0, 0, target.Width(), target.Height()));
    TMemoryStream tsv;
    tsv.WriteBuffer(timing.data(), static_cast<int64_t>(timing.size()));
    tsv.SaveToFile(o.framesDir + "/timing.tsv");
    std::printf("frames: %d of %d x %d\n", count, target.Width(), target.Height());
    return 0;
}

// The loaded picture as a GIF, copied or imported with the options, then
// saved; both steps timed on their own.
void WriteGif(const TGraphic& graphic, const Options& o) {
    std::vector<double> assignSeconds, saveSeconds;
    TMemoryStream out;
    for (int r = 0; r < o.repeat; ++r) {
        TGIFPicture gif;
        if (o.reduction >= 0) gif.ReductionMethod = static_cast<TPaletteReduction>(o.reduction);
        if (o.dither >= 0) gif.DitherKind = static_cast<TDitherKind>(o.dither);
        if (o.bits >= 0) gif.ReductionBits = o.bits;
        auto start = std::chrono::steady_clock::now();
        gif.Assign(&graphic);
        if (o.streamline >= 0)
            gif.Streamline(static_cast<uint8_t>(o.streamline), gif.ReductionMethod, gif.ReductionBits, gif.DitherKind);
        assignSeconds.push_back(Since(start));
        if (o.encoding >= 0) gif.Encoding = static_cast<TGIFEncoding>(o.encoding);
        out.Clear();
        start = std::chrono::steady_clock::now();
        gif.SaveToStream(out);
        saveSeconds.push_back(Since(start));
    }
    out.SaveToFile(o.output);
    std::printf("written: %lld bytes\n", static_cast<long long>(out.Size()));
    const bool copied = graphic.InheritsFrom(TGIFPicture::StaticClass());
    std::printf("median %s%s time: %.3f s\n", copied ? "copy" : "import", o.streamline >= 0 ? " and streamline" : "",
                Median(assignSeconds));
    std::printf("median save time: %.3f s\n", Median(saveSeconds));
}

int Run(const Options& o) {
    if (!o.framesDir.empty()) return PlayFrames(o);
    std::unique_ptr<TBitmap> bitmap;
    std::unique_ptr<TPicture> picture;
    std::vector<double> seconds;
    const OutputKind* kind = OutputFor(o.output);
    for (int r = 0; r < o.repeat; ++r) {
        bitmap.reset();
        picture = std::make_unique<TPicture>();
        const auto start = std::chrono::steady_clock::now();
        bitmap = Decode(o.input, *picture, kind->write == nullptr);
        seconds.push_back(Since(start));
    }
    const double peak = PeakResidentBytes();  // before the output is written
    // No format here stores an empty picture that anything reads back.
    if (bitmap->Empty()) {
        std::fprintf(stderr, "quillarc-decode: %s gives an empty picture: nothing written\n", o.input.c_str());
        return 1;
    }
    if (kind->write)
        kind->write(*bitmap, o.output, o);
    else
        WriteGif(*picture->Graphic(), o);

    std::printf("picture: %d x %d, %s\n", bitmap->Width(), bitmap->Height(), PixelFormatName(bitmap->PixelFormat()));
    PrintTimeAndPeak(seconds, peak, double(bitmap->Width()) * double(bitmap->Height()));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    Options options;
    try {
        options = ParseArguments(args);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "quillarc-decode: %s\n\n%s", e.message.c_str(), kUsage);
        return kBadArguments;
    }
    RegisterPictureCodecs();
    // The texts, not a box each: a repeated load would only repeat them.
    std::vector<std::string> warnings;
    SetPictureWarningHandler([&warnings](uint64_t, const std::string& text) {
        if (std::find(warnings.begin(), warnings.end(), text) == warnings.end()) warnings.push_back(text);
    });
    int status = 1;
    try {
        status = Run(options);
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s: %s\n", e.ClassName(), e.Message().c_str());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "EOutOfMemory: out of memory\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Exception: %s\n", e.what());
    }
    for (const std::string& w : warnings) std::fprintf(stderr, "Warning: %s\n", w.c_str());
    SetPictureWarningHandler(nullptr);
    UnregisterPictureCodecs();
    return status;
}
