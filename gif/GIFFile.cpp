// The file model's base classes, the header and trailer, and the two loops
// that walk a file's block sequence: frames, and the extensions before each
// frame's image.
#include <algorithm>
#include <cstring>
#include <limits>

#include "gif/GIFInternal.h"
#include "gif/GIFPicture.h"

namespace gifcodec {

uint8_t Percent(int64_t part, int64_t whole) {
    if (whole == 0) return static_cast<uint8_t>(-1);
    if (part >= 0 && part <= std::numeric_limits<int64_t>::max() / 100 && whole > 0) {
        const int64_t product = part * 100;
        int64_t q = product / whole;
        if (2 * (product % whole) >= whole) ++q;
        return q > std::numeric_limits<int32_t>::max() ? static_cast<uint8_t>(-1) : static_cast<uint8_t>(q);
    }
    return static_cast<uint8_t>(-1);
}

}  // namespace gifcodec

using namespace gifcodec;

// ------------------------------------------------------------ items and lists

void TGIFItem::ReportWarning(int severity, const std::string& message) {
    owner_->ReportWarning(this, severity, message);
}

void TGIFItem::SaveToFile(const std::string& fileName) {
    TFileStream stream(fileName, fmCreate);
    SaveToStream(stream);
}

void TGIFItem::LoadFromFile(const std::string& fileName) {
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

TGIFList::~TGIFList() { Clear(); }

void TGIFList::Delete(int index) {
    TGIFItem* item = Items(index);
    list_.Delete(index);
    delete item;
}

void TGIFList::Remove(TGIFItem* item) { list_.Remove(item); }

void TGIFList::Clear() {
    // The list is emptied first, so items leaving it as they are destroyed
    // find nothing to remove; they are still freed first to last.
    std::vector<TGIFItem*> items;
    items.reserve(static_cast<size_t>(list_.Count()));
    for (int i = 0; i < list_.Count(); ++i) items.push_back(Items(i));
    list_.Clear();
    for (TGIFItem* item : items) delete item;
}

void TGIFList::ReportWarning(int severity, const std::string& message) {
    owner_->ReportWarning(this, severity, message);
}

void TGIFList::SaveToStream(TStream& stream) {
    for (int i = 0; i < Count(); ++i) Items(i)->SaveToStream(stream);
}

TGIFSubImage* TGIFImageList::Items(int index) const { return static_cast<TGIFSubImage*>(TGIFList::Items(index)); }

TGIFExtension* TGIFExtensionList::Items(int index) const {
    return static_cast<TGIFExtension*>(TGIFList::Items(index));
}

namespace {

// The next byte that is not 0, or -1 at the end of the stream.
int NextNonZeroByte(TStream& stream) {
    int b;
    do {
        b = ReadOneByte(stream);
    } while (b == 0);
    return b;
}

}  // namespace

void TGIFImageList::SaveToStream(TStream& stream) {
    const int count = Count();
    for (int i = 0; i < count; ++i) {
        Items(i)->SaveToStream(stream);
        owner_->Progress(this, TProgressStage::psRunning, Percent(i + 1, count), false, TRect{}, kSaving);
    }
}

void TGIFImageList::LoadFromStream(TStream& stream, TObject* parent) {
    auto* image = static_cast<TGIFPicture*>(parent);
    int b = NextNonZeroByte(stream);
    while (b >= 0 && b != ';') {
        stream.Seek(-1, TSeekOrigin::soCurrent);
        if (b != '!' && b != ',') {
            ReportWarning(1, "Unknown GIF block type");
            return;
        }
        auto frame = std::make_unique<TGIFSubImage>(image);
        frame->LoadFromStream(stream);
        Add(frame.release());
        owner_->Progress(this, TProgressStage::psRunning, Percent(stream.Position(), stream.Size()), RenderFramesOnLoad,
                         TRect{}, kLoading);
        b = NextNonZeroByte(stream);
    }
    if (b == ';') stream.Seek(-1, TSeekOrigin::soCurrent);
}

void TGIFExtensionList::LoadFromStream(TStream& stream, TObject* parent) {
    auto* frame = static_cast<TGIFSubImage*>(parent);
    int b = ReadOneByte(stream);
    if (b < 0) return;
    while (b != ',' && b != ';') {
        if (b != '!') {
            ReportWarning(1, "Invalid extension introducer");
            break;
        }
        if (const TGIFExtensionClass* cls = TGIFExtension::FindExtensionClass(stream)) {
            stream.Seek(-1, TSeekOrigin::soCurrent);
            std::unique_ptr<TGIFExtension> extension(cls->create(frame));
            extension->LoadFromStream(stream);
            Add(extension.release());
        } else {
            // A label no registered class takes (a private or future
            // extension): its sub-blocks are passed over, so the rest of a
            // valid file still opens.
            ReportWarning(1, "Unknown extension type");
            ReadOneByte(stream);
            for (int n = ReadOneByte(stream); n > 0; n = ReadOneByte(stream))
                stream.Seek(std::min<int64_t>(n, stream.Remaining()), TSeekOrigin::soCurrent);
        }
        b = ReadOneByte(stream);
        if (b < 0) return;
    }
    stream.Seek(-1, TSeekOrigin::soCurrent);
}

// ------------------------------------------------------------ header

TGIFHeader::TGIFHeader(TGIFPicture* owner) : TGIFItem(owner), colorMap_(std::make_unique<TGIFGlobalColorMap>(this)) {
    Clear();
}

TGIFHeader::~TGIFHeader() { colorMap_.reset(); }

void TGIFHeader::Clear() {
    colorMap_->RemoveAll();
    descriptor_.fill(0);
}

void TGIFHeader::SetWidth(uint16_t value) {
    descriptor_[0] = static_cast<uint8_t>(value);
    descriptor_[1] = static_cast<uint8_t>(value >> 8);
}

void TGIFHeader::SetHeight(uint16_t value) {
    descriptor_[2] = static_cast<uint8_t>(value);
    descriptor_[3] = static_cast<uint8_t>(value >> 8);
}

void TGIFHeader::Assign(const TPersistent* source) {
    if (source == this) return;
    if (const auto* header = dynamic_cast<const TGIFHeader*>(source)) {
        colorMap_->Assign(header->colorMap_.get());
        descriptor_ = header->descriptor_;
    } else if (const auto* map = dynamic_cast<const TGIFColorMap*>(source)) {
        Clear();
        colorMap_->Assign(map);
    } else {
        TGIFItem::Assign(source);
    }
}

TGIFVersion TGIFHeader::RequiredVersion() const {
    return ((colorMap_->Count() > 0 && colorMap_->Sorted()) || AspectRatio() != 0) ? gv89a : gv87a;
}

void TGIFHeader::BuildPackedByte() {
    uint8_t packed = 0;
    const bool table = colorMap_->Count() > 0;
    if (table) {
        packed |= 0x80;
        if (colorMap_->Sorted()) packed |= 0x08;
    }
    packed |= static_cast<uint8_t>((owner_->ColorResolution() << 4) & 0x70);
    packed |= static_cast<uint8_t>(((table ? colorMap_->TableBits() : owner_->BitsPerPixel()) - 1) & 7);
    descriptor_[4] = packed;
}

void TGIFHeader::LoadFromStream(TStream& stream) {
    const int64_t start = stream.Position();
    auto isSignature = [](const uint8_t* s) { return UpperCase(std::string(reinterpret_cast<const char*>(s), 3)) == "GIF"; };
    uint8_t signature[6];
    ReadExact(stream, signature, 6);
    if (!isSignature(signature)) {
        stream.SetPosition(start);
        stream.Seek(4, TSeekOrigin::soCurrent);
        ReadExact(stream, signature, 6);
        if (!isSignature(signature)) RaiseGIFError("Invalid GIF signature");
    }
    ReadExact(stream, descriptor_.data(), 7);
    if (int64_t(Width()) * Height() > kGIFMaxFramePixels) RaiseGIFError("Invalid image dimensions");
    if (PackedByte() & 0x80)
        colorMap_->ReadTable(stream, 2 << (PackedByte() & 7));
    else
        colorMap_->RemoveAll();
}

void TGIFHeader::SaveToStream(TStream& stream) {
    TGIFVersion version = owner_->RequiredVersion();
    if (version == gvUnknown) RaiseGIFError("Unsupported GIF version");
    // A sorted global table or an aspect ratio is "89a" whatever the frames hold.
    version = std::max(version, RequiredVersion());
    stream.WriteBuffer(version == gv87a ? "GIF87a" : "GIF89a", 6);
    BuildPackedByte();
    stream.WriteBuffer(descriptor_.data(), 7);
    if (PackedByte() & 0x80) colorMap_->WriteTable(stream);
}

// ------------------------------------------------------------ trailer

void TGIFTrailer::SaveToStream(TStream& stream) { WriteOneByte(stream, ';'); }

void TGIFTrailer::LoadFromStream(TStream& stream) {
    const int b = ReadOneByte(stream);
    if (b >= 0 && b != ';') ReportWarning(1, "Invalid Image trailer");
}
