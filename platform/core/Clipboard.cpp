// The in-process clipboard and the graphic classes' clipboard forms.
#include "platform/core/Clipboard.h"

#include <new>
#include <vector>

struct TGlobalMemory {
    std::vector<uint8_t> bytes;
};

namespace {

std::mutex& FormatMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

uint32_t RegisterClipboardFormat(const std::string& name) {
    static std::map<std::string, uint32_t> formats;
    std::lock_guard lock(FormatMutex());
    auto [it, added] = formats.emplace(name, 0);
    if (added) it->second = 0xC000 + static_cast<uint32_t>(formats.size() - 1);
    return it->second;
}

HGLOBAL GlobalAlloc(uint32_t, size_t bytes) {
    try {
        return new TGlobalMemory{std::vector<uint8_t>(bytes)};
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::length_error&) {
        return nullptr;
    }
}

uint8_t* GlobalLock(HGLOBAL memory) { return memory != nullptr ? memory->bytes.data() : nullptr; }

bool GlobalUnlock(HGLOBAL memory) { return memory != nullptr; }

size_t GlobalSize(HGLOBAL memory) { return memory != nullptr ? memory->bytes.size() : 0; }

HGLOBAL GlobalFree(HGLOBAL memory) {
    delete memory;
    return nullptr;
}

// ------------------------------------------------------------ clipboard

TClipboard::~TClipboard() {
    for (auto& [format, data] : data_) Release(format, data);
}

void TClipboard::Release(uint32_t format, THandle data) {
    if (format == CF_BITMAP)
        delete static_cast<TBitmap*>(data);
    else if (format == CF_PALETTE)
        DeleteObject(static_cast<HPALETTE>(data));
    else
        GlobalFree(static_cast<HGLOBAL>(data));
}

void TClipboard::Open() {
    mutex_.lock();
    ++openCount_;
}

void TClipboard::Close() {
    if (openCount_ == 0) return;
    --openCount_;
    mutex_.unlock();
}

void TClipboard::Clear() {
    std::lock_guard lock(mutex_);
    for (auto& [format, data] : data_) Release(format, data);
    data_.clear();
}

THandle TClipboard::SetClipboardData(uint32_t format, THandle data) {
    std::lock_guard lock(mutex_);
    if (openCount_ == 0 || data == nullptr) return nullptr;
    auto it = data_.find(format);
    if (it != data_.end()) {
        if (it->second != data) Release(format, it->second);
        it->second = data;
    } else {
        data_.emplace(format, data);
    }
    return data;
}

THandle TClipboard::GetClipboardData(uint32_t format) const {
    std::lock_guard lock(mutex_);
    auto it = data_.find(format);
    return it != data_.end() ? it->second : nullptr;
}

bool TClipboard::HasFormat(uint32_t format) const { return GetClipboardData(format) != nullptr; }

void TClipboard::Assign(TGraphic& graphic) {
    Open();
    try {
        Clear();
        uint32_t format = 0;
        THandle data = nullptr;
        HPALETTE palette = nullptr;
        graphic.SaveToClipboardFormat(format, data, palette);
        if (SetClipboardData(format, data) == nullptr) Release(format, data);
        if (palette != nullptr && SetClipboardData(CF_PALETTE, palette) == nullptr) DeleteObject(palette);
    } catch (...) {
        Close();
        throw;
    }
    Close();
}

TClipboard& Clipboard() {
    static TClipboard clipboard;
    return clipboard;
}

// ------------------------------------------------------------ clipboard forms

void TGraphic::SaveToClipboardFormat(uint32_t&, THandle&, HPALETTE&) {
    throw EInvalidGraphic("Unsupported clipboard format");
}

void TGraphic::LoadFromClipboardFormat(uint32_t, THandle, HPALETTE) {
    throw EInvalidGraphic("Unsupported clipboard format");
}

void TBitmap::SaveToClipboardFormat(uint32_t& format, THandle& data, HPALETTE& palette) {
    auto copy = std::make_unique<TBitmap>();
    copy->Assign(this);
    HPALETTE own = Palette();
    palette = own != nullptr ? CopyPalette(own) : nullptr;
    format = CF_BITMAP;
    data = copy.release();
}

void TBitmap::LoadFromClipboardFormat(uint32_t format, THandle data, HPALETTE) {
    if (format != CF_BITMAP || data == nullptr) throw EInvalidGraphic("Unsupported clipboard format");
    // The bitmap carries its own colour table; the palette adds nothing.
    Assign(static_cast<const TBitmap*>(data));
}

void TPicture::LoadFromClipboardFormat(uint32_t format, THandle data, HPALETTE palette) {
    const TGraphicClass* cls = ClassForClipboardFormat(format);
    if (cls == nullptr) throw EInvalidGraphic("Unsupported clipboard format");
    std::unique_ptr<TGraphic> graphic = cls->create();
    graphic->LoadFromClipboardFormat(format, data, palette);
    graphic->OnChange = [this](TObject*) { Changed(); };
    graphic_ = std::move(graphic);
    Changed();
}
