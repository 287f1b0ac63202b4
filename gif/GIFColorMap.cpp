// GIF colour tables and the stream helpers every part of the codec shares.
#include <algorithm>
#include <cstring>

#include "gif/GIFPicture.h"

// ------------------------------------------------------------ shared helpers

void RaiseGIFError(const std::string& message) { throw GIFException(message); }

void ReadExact(TStream& stream, void* buffer, int64_t count) {
    if (stream.Read(buffer, count) != count) RaiseGIFError("Premature end of data");
}

int ReadOneByte(TStream& stream) {
    uint8_t b = 0;
    return stream.Read(&b, 1) == 1 ? b : -1;
}

void WriteOneByte(TStream& stream, uint8_t value) { stream.WriteBuffer(&value, 1); }

void WriteSubBlockStrings(TStream& stream, const TStringList& lines) {
    for (int i = 0; i < lines.Count(); ++i) {
        const std::string& line = lines[i];
        size_t at = 0;
        while (at < line.size()) {
            const size_t n = std::min<size_t>(255, line.size() - at);
            WriteOneByte(stream, static_cast<uint8_t>(n));
            stream.WriteBuffer(line.data() + at, static_cast<int64_t>(n));
            at += n;
        }
    }
    WriteOneByte(stream, 0);
}

void ReadSubBlockStrings(TStream& stream, TStringList& lines) {
    lines.Clear();
    char block[255];
    for (int n = ReadOneByte(stream); n > 0; n = ReadOneByte(stream)) {
        ReadExact(stream, block, n);
        lines.Add(std::string(block, static_cast<size_t>(n)));
    }
}

// ------------------------------------------------------------ colour maps

int BitsForColorCount(int count) {
    if (count <= 0) return 0;
    int bits = 1;
    while ((1 << bits) < count) ++bits;
    return bits;
}

void TGIFColorMap::ColorToTriplet(TColor color, uint8_t* triplet) {
    triplet[0] = GetRValue(color);
    triplet[1] = GetGValue(color);
    triplet[2] = GetBValue(color);
}

TColor TGIFColorMap::TripletToColor(const uint8_t* triplet) { return RGB(triplet[0], triplet[1], triplet[2]); }

void TGIFColorMap::RemoveAll() {
    buffer_.reset();
    capacity_ = 0;
    count_ = 0;
    sorted_ = false;
}

void TGIFColorMap::EnsureCapacity(int count) {
    if (count < capacity_) return;
    int capacity = count <= 16 ? 16 : (count + 31) / 32 * 32;
    capacity = std::min(capacity, 256);
    auto buffer = std::make_unique<uint8_t[]>(static_cast<size_t>(capacity) * 3);
    if (buffer_) std::memcpy(buffer.get(), buffer_.get(), static_cast<size_t>(std::min(capacity, capacity_)) * 3);
    buffer_ = std::move(buffer);
    capacity_ = capacity;
}

void TGIFColorMap::ReadTable(TStream& stream, int count) {
    RemoveAll();
    EnsureCapacity(count);
    ReadExact(stream, buffer_.get(), int64_t(count) * 3);
    count_ = count;
}

void TGIFColorMap::WriteTable(TStream& stream) const {
    if (count_ == 0) return;
    stream.WriteBuffer(buffer_.get(), int64_t(count_) * 3);
    const int padding = (1 << TableBits()) - count_;
    if (padding > 0) {
        const std::vector<uint8_t> black(static_cast<size_t>(padding) * 3, 0);
        stream.WriteBuffer(black.data(), static_cast<int64_t>(black.size()));
    }
}

int TGIFColorMap::FindColor(TColor color) const {
    uint8_t t[3];
    ColorToTriplet(color, t);
    auto matches = [&](int i) { return std::memcmp(buffer_.get() + 3 * i, t, 3) == 0; };
    if (sorted_) {
        for (int i = 0; i < count_; ++i)
            if (matches(i)) return i;
    } else {
        for (int i = count_ - 1; i >= 0; --i)
            if (matches(i)) return i;
    }
    return -1;
}

int TGIFColorMap::Append(TColor color) {
    if (count_ >= 256) RaiseGIFError("Color table overflow");
    if (count_ >= capacity_) EnsureCapacity(count_ + 1);
    ColorToTriplet(color, buffer_.get() + 3 * count_);
    const int index = count_++;
    sorted_ = false;
    ColorsChanged();
    return index;
}

int TGIFColorMap::AppendUnique(TColor color) {
    const int index = FindColor(color);
    return index >= 0 ? index : Append(color);
}

void TGIFColorMap::Remove(int index) {
    if (index < 0 || index >= count_) RaiseGIFError("Invalid color index");
    std::memmove(buffer_.get() + 3 * index, buffer_.get() + 3 * (index + 1), static_cast<size_t>(count_ - index - 1) * 3);
    --count_;
    sorted_ = false;
    ColorsChanged();
}

TColor TGIFColorMap::ColorAt(int index) {
    if (index < 0 || index >= count_) {
        ReportWarning(1, "Invalid color index");
        if (count_ == 0) RaiseGIFError("Color table is empty");
        index = 0;
    }
    return TripletToColor(buffer_.get() + 3 * index);
}

TColor TGIFColorMap::ColorOrFirst(int index) const {
    if (count_ == 0) return clBlack;
    if (index < 0 || index >= count_) index = 0;
    return TripletToColor(buffer_.get() + 3 * index);
}

HPALETTE TGIFColorMap::MakePalette() const {
    if (count_ == 0) return nullptr;
    std::vector<TPaletteEntry> entries(static_cast<size_t>(count_));
    for (int i = 0; i < count_; ++i) {
        const uint8_t* t = buffer_.get() + 3 * i;
        entries[static_cast<size_t>(i)] = TPaletteEntry{t[0], t[1], t[2], PC_NOCOLLAPSE};
    }
    return CreatePalette(entries.data(), count_);
}

void TGIFColorMap::LoadPalette(HPALETTE palette) {
    RemoveAll();
    TPaletteEntry entries[256];
    const int n = GetPaletteEntries(palette, 0, 256, entries);
    if (n <= 0) return;
    EnsureCapacity(n);
    for (int i = 0; i < n; ++i) {
        uint8_t* t = buffer_.get() + 3 * i;
        t[0] = entries[i].peRed;
        t[1] = entries[i].peGreen;
        t[2] = entries[i].peBlue;
    }
    count_ = n;
    ColorsChanged();
}

void TGIFColorMap::LoadQuads(const uint8_t* quads, int count) {
    RemoveAll();
    if (count <= 0) return;
    count = std::min(count, 256);
    EnsureCapacity(count);
    for (int i = 0; i < count; ++i) {
        uint8_t* t = buffer_.get() + 3 * i;
        const uint8_t* q = quads + 4 * i;
        t[0] = q[2];
        t[1] = q[1];
        t[2] = q[0];
    }
    count_ = count;
    ColorsChanged();
}

void TGIFColorMap::LoadDCColors(HDC dc) {
    RemoveAll();
    uint8_t quads[1024] = {};
    int n = 0;
    if (dc != nullptr && dc->Target() != nullptr) {
        for (const TPaletteEntry& e : dc->Target()->ColorTable()) {
            if (n == 256) break;
            quads[4 * n] = e.peBlue;
            quads[4 * n + 1] = e.peGreen;
            quads[4 * n + 2] = e.peRed;
            ++n;
        }
    }
    LoadQuads(quads, n);
    ColorsChanged();
}

void TGIFColorMap::Assign(const TPersistent* source) {
    const auto* map = dynamic_cast<const TGIFColorMap*>(source);
    if (map == nullptr) {
        TPersistent::Assign(source);
        return;
    }
    if (map == this) return;
    RemoveAll();
    capacity_ = map->capacity_;
    count_ = map->count_;
    sorted_ = map->sorted_;
    if (capacity_ > 0) {
        buffer_ = std::make_unique<uint8_t[]>(static_cast<size_t>(capacity_) * 3);
        std::memcpy(buffer_.get(), map->buffer_.get(), static_cast<size_t>(count_) * 3);
    }
    ColorsChanged();
}

// A table's owner is notified as it goes, so a palette built from it is
// rebuilt on demand.
TGIFGlobalColorMap::~TGIFGlobalColorMap() {
    RemoveAll();
    ColorsChanged();
}

void TGIFGlobalColorMap::ReportWarning(int severity, const std::string& message) {
    if (header_ != nullptr && header_->Image() != nullptr) header_->Image()->ReportWarning(this, severity, message);
}

void TGIFGlobalColorMap::ColorsChanged() {
    if (header_ != nullptr && header_->Image() != nullptr) header_->Image()->SetPalette(nullptr);
}

TGIFLocalColorMap::~TGIFLocalColorMap() {
    RemoveAll();
    ColorsChanged();
}

void TGIFLocalColorMap::ReportWarning(int severity, const std::string& message) {
    if (frame_ != nullptr && frame_->Image() != nullptr) frame_->Image()->ReportWarning(this, severity, message);
}

void TGIFLocalColorMap::ColorsChanged() {
    if (frame_ != nullptr) frame_->SetPalette(nullptr);
}
