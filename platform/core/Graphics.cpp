// Geometry, colours, palettes, the graphic base class and the picture
// registry. Bitmaps, canvases and the BMP codec live in their own files.
#include "platform/core/Graphics.h"

#include <algorithm>
#include <mutex>
#include <unordered_set>

#include "platform/core/PixelRows.h"

// ------------------------------------------------------------ geometry

bool IntersectRect(TRect& dst, const TRect& a, const TRect& b) {
    TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
    if (r.IsEmpty()) r = TRect{};
    dst = r;
    return !r.IsEmpty();
}

// ------------------------------------------------------------ colours

TColor ColorToRGB(TColor color) {
    if (color >= 0) return color;
    // The platform's standard scheme (as R, G, B); unknown indices are black.
    static constexpr uint32_t kSystem[] = {
        0xC8C8C8,  // scroll bar
        0x000000,  // background
        0x99B4D1,  // active caption
        0xBFCDDB,  // inactive caption
        0xF0F0F0,  // menu
        0xFFFFFF,  // window
        0x646464,  // window frame
        0x000000,  // menu text
        0x000000,  // window text
        0x000000,  // caption text
        0xB4B4B4,  // active border
        0xF4F7FC,  // inactive border
        0xABABAB,  // application work space
        0x3399FF,  // highlight
        0xFFFFFF,  // highlight text
        0xF0F0F0,  // button face
        0xA0A0A0,  // button shadow
        0x6D6D6D,  // grey text
        0x000000,  // button text
        0x434E54,  // inactive caption text
        0xFFFFFF,  // button highlight
        0x696969,  // 3D dark shadow
        0xE3E3E3,  // 3D light
        0x000000,  // info text
        0xFFFFE1,  // info background
        0x000000,  // (unused)
        0x0066CC,  // hot light
        0xB9D1EA,  // gradient active caption
        0xD7E4F2,  // gradient inactive caption
        0x3399FF,  // menu highlight
        0xF0F0F0,  // menu bar
    };
    const uint32_t index = static_cast<uint32_t>(color) & 0xFF;
    if (index >= sizeof kSystem / sizeof kSystem[0]) return clBlack;
    const uint32_t rgb = kSystem[index];
    return RGB(static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb));
}

// ------------------------------------------------------------ palettes

struct TPaletteObject {
    std::vector<TPaletteEntry> entries;
    bool stock = false;
};

namespace {

// Every palette handle alive, so that a stale or foreign handle is refused
// instead of being read or freed twice.
struct PaletteTable {
    std::mutex mutex;
    std::unordered_set<const TPaletteObject*> live;
};

PaletteTable& Palettes() {
    static PaletteTable table;
    return table;
}

constexpr TPaletteEntry E(uint8_t r, uint8_t g, uint8_t b) { return TPaletteEntry{r, g, b, 0}; }

}  // namespace

const std::array<TPaletteEntry, 20>& SystemPalette20() {
    static const std::array<TPaletteEntry, 20> table{
        E(0x00, 0x00, 0x00), E(0x80, 0x00, 0x00), E(0x00, 0x80, 0x00), E(0x80, 0x80, 0x00),
        E(0x00, 0x00, 0x80), E(0x80, 0x00, 0x80), E(0x00, 0x80, 0x80), E(0xC0, 0xC0, 0xC0),
        E(0xC0, 0xDC, 0xC0), E(0xA6, 0xCA, 0xF0), E(0xFF, 0xFB, 0xF0), E(0xA0, 0xA0, 0xA4),
        E(0x80, 0x80, 0x80), E(0xFF, 0x00, 0x00), E(0x00, 0xFF, 0x00), E(0xFF, 0xFF, 0x00),
        E(0x00, 0x00, 0xFF), E(0xFF, 0x00, 0xFF), E(0x00, 0xFF, 0xFF), E(0xFF, 0xFF, 0xFF),
    };
    return table;
}

// The first eight and the last eight static colours, as 4-bit bitmaps use them.
const std::array<TPaletteEntry, 16>& SystemPalette16() {
    static const std::array<TPaletteEntry, 16> table = [] {
        std::array<TPaletteEntry, 16> t{};
        const auto& s = SystemPalette20();
        for (int i = 0; i < 8; ++i) t[static_cast<size_t>(i)] = s[static_cast<size_t>(i)];
        for (int i = 0; i < 8; ++i) t[static_cast<size_t>(8 + i)] = s[static_cast<size_t>(12 + i)];
        return t;
    }();
    return table;
}

// A fixed stand-in for the screen's halftone palette: the first ten static
// colours, a 6 x 6 x 6 colour cube (red slowest), twenty greys between the
// cube's grey levels, the last ten static colours.
const std::array<TPaletteEntry, 256>& HalftonePalette256() {
    static const std::array<TPaletteEntry, 256> table = [] {
        std::array<TPaletteEntry, 256> t{};
        const auto& s = SystemPalette20();
        size_t n = 0;
        for (int i = 0; i < 10; ++i) t[n++] = s[static_cast<size_t>(i)];
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    t[n++] = E(static_cast<uint8_t>(r * 51), static_cast<uint8_t>(g * 51), static_cast<uint8_t>(b * 51));
        for (int i = 1; i <= 20; ++i) {
            const auto v = static_cast<uint8_t>((255 * i + 10) / 21);
            t[n++] = E(v, v, v);
        }
        for (int i = 10; i < 20; ++i) t[n++] = s[static_cast<size_t>(i)];
        return t;
    }();
    return table;
}

HPALETTE CreatePalette(const TPaletteEntry* entries, int count) {
    if (entries == nullptr || count < 1 || count > 256) return nullptr;
    auto* palette = new TPaletteObject{std::vector<TPaletteEntry>(entries, entries + count), false};
    PaletteTable& table = Palettes();
    std::lock_guard lock(table.mutex);
    table.live.insert(palette);
    return palette;
}

HPALETTE DefaultPalette() {
    static TPaletteObject* const stock = [] {
        const auto& s = SystemPalette20();
        auto* p = new TPaletteObject{std::vector<TPaletteEntry>(s.begin(), s.end()), true};
        PaletteTable& table = Palettes();
        std::lock_guard lock(table.mutex);
        table.live.insert(p);
        return p;
    }();
    return stock;
}

HPALETTE CopyPalette(HPALETTE palette) {
    std::vector<TPaletteEntry> entries;
    {
        PaletteTable& table = Palettes();
        std::lock_guard lock(table.mutex);
        if (palette == nullptr || table.live.count(palette) == 0) return nullptr;
        entries = palette->entries;
    }
    return CreatePalette(entries.data(), static_cast<int>(entries.size()));
}

int GetPaletteEntries(HPALETTE palette, int start, int count, TPaletteEntry* out) {
    PaletteTable& table = Palettes();
    std::lock_guard lock(table.mutex);
    if (palette == nullptr || table.live.count(palette) == 0) return 0;
    const int size = static_cast<int>(palette->entries.size());
    if (out == nullptr) return size;
    if (start < 0 || start >= size || count <= 0) return 0;
    const int n = std::min(count, size - start);
    std::copy_n(palette->entries.begin() + start, n, out);
    return n;
}

int PaletteEntryCount(HPALETTE palette) { return GetPaletteEntries(palette, 0, 0, nullptr); }

bool DeleteObject(HPALETTE palette) {
    if (palette == nullptr) return false;
    PaletteTable& table = Palettes();
    {
        std::lock_guard lock(table.mutex);
        if (table.live.count(palette) == 0) return false;
        if (palette->stock) return true;
        table.live.erase(palette);
    }
    delete palette;
    return true;
}

// ------------------------------------------------------------ graphic base

bool TGraphicClass::InheritsFrom(const TGraphicClass& other) const {
    for (const TGraphicClass* c = this; c != nullptr; c = c->parent)
        if (c == &other) return true;
    return false;
}

const TGraphicClass& TGraphic::StaticClass() {
    static const TGraphicClass cls{"TGraphic", nullptr, nullptr, nullptr, nullptr};
    return cls;
}

void TGraphic::SetPalette(HPALETTE palette) { DeleteObject(palette); }

void TGraphic::SetTransparent(bool value) {
    if (value == transparent_) return;
    transparent_ = value;
    Changed(this);
}

bool TGraphic::Equals(const TGraphic& other) const {
    if (&other == this) return true;
    if (&other.ClassType() != &ClassType()) return false;
    if (Empty() || other.Empty()) return Empty() == other.Empty();
    TMemoryStream a, b;
    const_cast<TGraphic*>(this)->SaveToStream(a);
    const_cast<TGraphic&>(other).SaveToStream(b);
    return a.Size() == b.Size() && std::equal(a.Memory(), a.Memory() + a.Size(), b.Memory());
}

void TGraphic::LoadFromFile(const std::string& fileName) {
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& fileName) {
    TMemoryStream stream;
    SaveToStream(stream);
    stream.SaveToFile(fileName);
}

void TGraphic::Changed(TObject*) {
    Modified = true;
    if (OnChange) OnChange(this);
}

void TGraphic::Progress(TObject* sender, TProgressStage stage, uint8_t percent, bool redrawNow, const TRect& rect,
                        const std::string& msg) {
    if (OnProgress) OnProgress(sender, stage, percent, redrawNow, rect, msg);
}

// ------------------------------------------------------------ picture registry

namespace {

struct Registry {
    std::recursive_mutex mutex;
    std::vector<TFileFormat> formats;
    std::vector<std::pair<uint32_t, const TGraphicClass*>> clipboard;
};

// Built on first use, so that units registering their formats from static
// initialisers find it ready whatever the initialisation order.
Registry& TheRegistry() {
    static Registry* registry = [] {
        auto* r = new Registry;
        r->formats.push_back(TFileFormat{"bmp", "Bitmaps", &TBitmap::StaticClass()});
        return r;
    }();
    return *registry;
}

std::string NormalExtension(const std::string& extension) {
    std::string e = LowerCase(extension);
    if (!e.empty() && e[0] == '.') e.erase(0, 1);
    return e;
}

}  // namespace

TPicture::TPicture() = default;
TPicture::~TPicture() = default;

void TPicture::RegisterFileFormat(const std::string& extension, const std::string& description,
                                  const TGraphicClass& graphicClass) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    const std::string ext = NormalExtension(extension);
    for (TFileFormat& f : r.formats) {
        if (f.extension == ext) {
            f.description = description;
            f.graphicClass = &graphicClass;
            return;
        }
    }
    r.formats.push_back(TFileFormat{ext, description, &graphicClass});
}

void TPicture::RegisterClipboardFormat(uint32_t format, const TGraphicClass& graphicClass) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    for (auto& entry : r.clipboard) {
        if (entry.first == format) {
            entry.second = &graphicClass;
            return;
        }
    }
    r.clipboard.emplace_back(format, &graphicClass);
}

void TPicture::UnregisterGraphicClass(const TGraphicClass& graphicClass) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    std::erase_if(r.formats, [&](const TFileFormat& f) { return f.graphicClass == &graphicClass; });
    std::erase_if(r.clipboard, [&](const auto& e) { return e.second == &graphicClass; });
}

const TGraphicClass* TPicture::ClassForExtension(const std::string& extension) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    const std::string ext = NormalExtension(extension);
    for (const TFileFormat& f : r.formats)
        if (f.extension == ext) return f.graphicClass;
    return nullptr;
}

std::vector<TFileFormat> TPicture::FileFormats() {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    return r.formats;
}

TPicture::TRegistryState TPicture::SaveRegistry() {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    return TRegistryState{r.formats, r.clipboard};
}

void TPicture::RestoreRegistry(const TRegistryState& state) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    r.formats = state.formats;
    r.clipboard = state.clipboard;
}

const TGraphicClass* TPicture::ClassForClipboardFormat(uint32_t format) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    for (const auto& entry : r.clipboard)
        if (entry.first == format) return entry.second;
    return nullptr;
}

std::string TPicture::GraphicFilter(const TGraphicClass& base) {
    std::string all, parts;
    for (const TFileFormat& f : FileFormats()) {
        if (!f.graphicClass->InheritsFrom(base)) continue;
        const std::string mask = "*." + f.extension;
        if (!all.empty()) all += ";";
        all += mask;
        parts += "|" + f.description + " (" + mask + ")|" + mask;
    }
    if (all.empty()) return {};
    return "All (" + all + ")|" + all + parts;
}

void TPicture::SetGraphic(const TGraphic* graphic) {
    std::unique_ptr<TGraphic> copy;
    if (graphic != nullptr) {
        copy = graphic->ClassType().create();
        copy->Assign(graphic);
        copy->OnChange = [this](TObject*) { Changed(); };
        copy->OnProgress = ProgressRelay();
    }
    graphic_ = std::move(copy);
    Changed();
}

TBitmap& TPicture::Bitmap() {
    if (graphic_ == nullptr || !graphic_->InheritsFrom(TBitmap::StaticClass())) {
        graphic_ = std::make_unique<TBitmap>();
        graphic_->OnChange = [this](TObject*) { Changed(); };
        graphic_->OnProgress = ProgressRelay();
        Changed();
    }
    return static_cast<TBitmap&>(*graphic_);
}

int32_t TPicture::Width() const { return graphic_ ? graphic_->Width() : 0; }
int32_t TPicture::Height() const { return graphic_ ? graphic_->Height() : 0; }

void TPicture::LoadFromFile(const std::string& fileName) {
    const std::string ext = ExtractFileExt(fileName);
    const TGraphicClass* cls = ClassForExtension(ext);
    if (cls == nullptr || cls->create == nullptr)
        throw EInvalidGraphic(Format("Unknown picture file extension (%s)", ext.empty() ? "." : ext.c_str()));
    std::unique_ptr<TGraphic> graphic = cls->create();
    graphic->OnProgress = ProgressRelay();
    graphic->LoadFromFile(fileName);
    graphic->OnChange = [this](TObject*) { Changed(); };
    graphic_ = std::move(graphic);
    Changed();
}

void TPicture::SaveToFile(const std::string& fileName) {
    if (graphic_) graphic_->SaveToFile(fileName);
}

void TPicture::Assign(const TPersistent* source) {
    if (source == nullptr) {
        SetGraphic(nullptr);
    } else if (const auto* picture = dynamic_cast<const TPicture*>(source)) {
        if (picture != this) SetGraphic(picture->Graphic());
    } else if (const auto* graphic = dynamic_cast<const TGraphic*>(source)) {
        SetGraphic(graphic);
    } else {
        TPersistent::Assign(source);
    }
}

void TPicture::Changed() {
    if (OnChange) OnChange(this);
}

TProgressEvent TPicture::ProgressRelay() {
    return [this](TObject* sender, TProgressStage stage, uint8_t percent, bool redrawNow, const TRect& rect,
                  const std::string& msg) {
        if (OnProgress) OnProgress(sender, stage, percent, redrawNow, rect, msg);
    };
}
