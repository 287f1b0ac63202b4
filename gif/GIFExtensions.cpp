// Extension blocks: graphic control, plain text, comment and application
// data (among them the loop count), and the registries that map a label
// and an application identifier to the class that reads the block.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "gif/GIFPicture.h"

namespace {

template <class T>
TGIFExtension* Make(TGIFSubImage* frame) {
    return new T(frame);
}

TGIFApplicationExtension::Identifier MakeIdentifier(const char* text) {
    TGIFApplicationExtension::Identifier id{};
    std::memcpy(id.data(), text, id.size());
    return id;
}

// Passes over count bytes; false when the stream ends first.
bool Skip(TStream& stream, int64_t count) {
    if (count <= 0) return true;
    const int64_t left = stream.Remaining();
    stream.Seek(std::min(count, left), TSeekOrigin::soCurrent);
    return left >= count;
}

// A block whose size byte says more or less than its kind holds: what is
// there of its fields was taken; the rest of it and any further sub-blocks
// are passed over through the terminator, so the blocks after it are read
// where they stand.
void SkipToTerminator(TStream& stream, int length) {
    while (length > 0) {
        if (!Skip(stream, length)) return;
        length = ReadOneByte(stream);
    }
}

}  // namespace

// ------------------------------------------------------------ base

TGIFExtension::TGIFExtension(TGIFSubImage* frame) : TGIFItem(frame ? frame->Image() : nullptr), frame_(frame) {}

TGIFExtension::~TGIFExtension() {
    if (frame_ != nullptr) frame_->Extensions().Remove(this);
}

void TGIFExtension::MoveToFrame(TGIFSubImage& frame, int index) {
    if (frame_ != nullptr) frame_->Extensions().Remove(this);
    frame_ = &frame;
    frame.Extensions().Insert(index, this);
}

void TGIFExtension::SaveToStream(TStream& stream) {
    const uint8_t head[2] = {'!', ExtensionLabel()};
    stream.WriteBuffer(head, 2);
}

void TGIFExtension::LoadFromStream(TStream& stream) {
    uint8_t head[2];
    ReadExact(stream, head, 2);
    if (head[0] != '!') RaiseGIFError("Invalid extension introducer");
    if (head[1] != ExtensionLabel()) RaiseGIFError("Internal error: Extension Instance does not match Extension Label");
}

const TGIFExtensionClass* TGIFExtension::FindExtensionClass(TStream& stream) {
    const int64_t start = stream.Position();
    const TGIFExtensionClass* cls = nullptr;
    const int label = ReadOneByte(stream);
    if (label >= 0) {
        cls = ExtensionRegistry().FindLabel(static_cast<uint8_t>(label));
        while (cls != nullptr && cls->refine != nullptr) {
            const TGIFExtensionClass* refined = cls->refine(stream);
            if (refined == cls) break;
            cls = refined;
        }
    }
    stream.SetPosition(start);
    return cls;
}

// ------------------------------------------------------------ graphic control

const TGIFExtensionClass& TGIFGraphicControlExtension::StaticClass() {
    static const TGIFExtensionClass cls{"TGIFGraphicControlExtension", 0xF9, Make<TGIFGraphicControlExtension>,
                                        nullptr};
    return cls;
}

TGIFGraphicControlExtension::TGIFGraphicControlExtension(TGIFSubImage* frame) : TGIFExtension(frame) {
    if (frame != nullptr && frame->GraphicControlExtension() == nullptr) frame->SetGraphicControlExtension(this);
}

TGIFGraphicControlExtension::~TGIFGraphicControlExtension() {
    if (frame_ == nullptr) return;
    if (Transparent()) frame_->SetTransparentFlag(false);
    if (frame_->GraphicControlExtension() == this) frame_->SetGraphicControlExtension(nullptr);
}

void TGIFGraphicControlExtension::SaveToStream(TStream& stream) {
    TGIFExtension::SaveToStream(stream);
    // The fields in a block of the format's own size: a size read otherwise
    // (and tolerated) would make a file whose next block is read amiss.
    std::array<uint8_t, 6> block = stored_;
    block[0] = 4;
    block[5] = 0;
    stream.WriteBuffer(block.data(), 6);
}

void TGIFGraphicControlExtension::LoadFromStream(TStream& stream) {
    TGIFExtension::LoadFromStream(stream);
    // Block size, four field bytes, terminator. A size other than 4 is
    // tolerated: the fields it holds are taken and the rest passed over.
    const int size = ReadOneByte(stream);
    if (size < 0) {
        ReportWarning(1, "Premature end of data");
        return;
    }
    stored_[0] = static_cast<uint8_t>(size);
    const int fields = std::min(size, 4);
    if (stream.Read(stored_.data() + 1, fields) != fields || !Skip(stream, size - 4)) {
        ReportWarning(1, "Premature end of data");
        return;
    }
    const int terminator = ReadOneByte(stream);
    if (terminator < 0) {
        ReportWarning(1, "Premature end of data");
        return;
    }
    stored_[5] = static_cast<uint8_t>(terminator);
    if (size != 4 || terminator != 0) {
        ReportWarning(1, "Invalid extension block size");
        SkipToTerminator(stream, terminator);
    }
    if (stored_[1] & 1) frame_->SetTransparentFlag(true);
}

void TGIFGraphicControlExtension::SetTransparent(bool value) {
    if (frame_ != nullptr) frame_->SetTransparentFlag(value);
    stored_[1] = static_cast<uint8_t>(value ? (stored_[1] | 1) : (stored_[1] & ~1));
}

void TGIFGraphicControlExtension::SetTransparentIndex(int value) {
    if (frame_ != nullptr) {
        const TGIFColorMap& map = frame_->EffectiveColorMap();
        if (map.Count() > 0 && value >= map.Count()) {
            ReportWarning(1, "Invalid color index");
            value = 0;
        }
    }
    stored_[4] = static_cast<uint8_t>(value);
}

void TGIFGraphicControlExtension::SetDelay(uint16_t value) {
    stored_[2] = static_cast<uint8_t>(value);
    stored_[3] = static_cast<uint8_t>(value >> 8);
}

void TGIFGraphicControlExtension::SetDisposal(uint8_t value) {
    stored_[1] = static_cast<uint8_t>((stored_[1] & ~0x1C) | ((value & 7) << 2));
}

// ------------------------------------------------------------ plain text

const TGIFExtensionClass& TGIFTextExtension::StaticClass() {
    static const TGIFExtensionClass cls{"TGIFTextExtension", 0x01, Make<TGIFTextExtension>, nullptr};
    return cls;
}

TGIFTextExtension::TGIFTextExtension(TGIFSubImage* frame) : TGIFExtension(frame) {}

void TGIFTextExtension::SaveToStream(TStream& stream) {
    TGIFExtension::SaveToStream(stream);
    // As the graphic control block: the fields in a block of size 12.
    std::array<uint8_t, 13> block = stored_;
    block[0] = 12;
    stream.WriteBuffer(block.data(), 13);
    WriteSubBlockStrings(stream, text_);
}

void TGIFTextExtension::LoadFromStream(TStream& stream) {
    TGIFExtension::LoadFromStream(stream);
    // Block size and twelve field bytes; another size keeps the parser in
    // step as for the graphic control block, the lines follow either way.
    const int size = ReadOneByte(stream);
    if (size < 0) RaiseGIFError("Premature end of data");
    stored_[0] = static_cast<uint8_t>(size);
    ReadExact(stream, stored_.data() + 1, std::min(size, 12));
    if (!Skip(stream, size - 12)) RaiseGIFError("Premature end of data");
    if (size != 12) ReportWarning(1, "Invalid extension block size");
    ReadSubBlockStrings(stream, text_);
}

// ------------------------------------------------------------ comment

const TGIFExtensionClass& TGIFCommentExtension::StaticClass() {
    static const TGIFExtensionClass cls{"TGIFCommentExtension", 0xFE, Make<TGIFCommentExtension>, nullptr};
    return cls;
}

void TGIFCommentExtension::SaveToStream(TStream& stream) {
    TGIFExtension::SaveToStream(stream);
    WriteSubBlockStrings(stream, text_);
}

void TGIFCommentExtension::LoadFromStream(TStream& stream) {
    TGIFExtension::LoadFromStream(stream);
    ReadSubBlockStrings(stream, text_);
}

// ------------------------------------------------------------ application

namespace {

// With the stream just after the 0xFF label: which class reads the block.
const TGIFExtensionClass* RefineApplication(TStream& stream) {
    const int64_t start = stream.Position();
    const int size = ReadOneByte(stream);
    if (size < 0) return nullptr;
    uint8_t bytes[11];
    if (size == 10) return stream.Read(bytes, 10) == 10 ? &TGIFUnknownAppExtension::StaticClass() : nullptr;
    if (size >= 11 && stream.Read(bytes, 11) == 11) {
        if (size > 11) return &TGIFUnknownAppExtension::StaticClass();
        TGIFApplicationExtension::Identifier id;
        std::memcpy(id.data(), bytes, 11);
        const TGIFExtensionClass* cls = AppExtensionRegistry().FindIdentifier(id);
        return cls != nullptr ? cls : &TGIFUnknownAppExtension::StaticClass();
    }
    // Sizes 0 to 9 or an identifier cut short: the block is read by the
    // base class, whose load refuses it.
    stream.SetPosition(start);
    return &TGIFApplicationExtension::StaticClass();
}

}  // namespace

const TGIFExtensionClass& TGIFApplicationExtension::StaticClass() {
    static const TGIFExtensionClass cls{"TGIFApplicationExtension", 0xFF, Make<TGIFApplicationExtension>,
                                        RefineApplication};
    return cls;
}

void TGIFApplicationExtension::SaveToStream(TStream& stream) {
    TGIFExtension::SaveToStream(stream);
    const bool asRead = identifierSize_ != 11 && AppExtensionRegistry().FindIdentifier(identifier_) != nullptr;
    if (!asRead) {
        WriteOneByte(stream, 11);
        stream.WriteBuffer(identifier_.data(), 11);
    } else {
        // A block of 10 bytes: its data's first size byte is the
        // identifier's last.
        WriteOneByte(stream, identifierSize_);
        stream.WriteBuffer(identifier_.data(), identifierSize_ == 10 ? 10 : 11);
        if (!identifierExtra_.empty())
            stream.WriteBuffer(identifierExtra_.data(), static_cast<int64_t>(identifierExtra_.size()));
    }
    SaveAppData(stream);
}

void TGIFApplicationExtension::LoadFromStream(TStream& stream) {
    TGIFExtension::LoadFromStream(stream);
    const int size = ReadOneByte(stream);
    if (size < 0) RaiseGIFError("Premature end of data");
    if (size < 10) RaiseGIFError("Unsupported Application Extension block size");
    ReadExact(stream, identifier_.data(), 11);
    // A block of 10 bytes lends its first data sub-block's size byte to the
    // identifier and is read again from that byte; a longer one has its
    // extra identifier bytes passed over (kept only to be written back).
    identifierSize_ = static_cast<uint8_t>(size);
    identifierExtra_.assign(size > 11 ? size_t(size - 11) : 0, 0);
    if (size == 10) stream.Seek(-1, TSeekOrigin::soCurrent);
    if (!identifierExtra_.empty()) ReadExact(stream, identifierExtra_.data(), int64_t(identifierExtra_.size()));
    LoadAppData(stream);
}

void TGIFApplicationExtension::SaveAppData(TStream&) { throw EAbstractError("Abstract Error"); }
void TGIFApplicationExtension::LoadAppData(TStream&) { throw EAbstractError("Abstract Error"); }

void TGIFBlock::SaveToStream(TStream& stream) const {
    WriteOneByte(stream, Size());
    if (!data_.empty()) stream.WriteBuffer(data_.data(), static_cast<int64_t>(data_.size()));
}

void TGIFBlock::LoadFromStream(TStream& stream) { ReadExact(stream, data_.data(), static_cast<int64_t>(data_.size())); }

const TGIFExtensionClass& TGIFUnknownAppExtension::StaticClass() {
    static const TGIFExtensionClass cls{"TGIFUnknownAppExtension", 0xFF, Make<TGIFUnknownAppExtension>, nullptr};
    return cls;
}

void TGIFUnknownAppExtension::SaveAppData(TStream& stream) {
    for (const auto& block : blocks_) block->SaveToStream(stream);
    WriteOneByte(stream, 0);
}

void TGIFUnknownAppExtension::LoadAppData(TStream& stream) {
    blocks_.clear();
    for (int size = ReadOneByte(stream); size > 0; size = ReadOneByte(stream)) {
        auto block = std::make_unique<TGIFBlock>(static_cast<uint8_t>(size));
        block->LoadFromStream(stream);
        blocks_.push_back(std::move(block));
    }
}

const TGIFExtensionClass& TGIFAppExtNSLoop::StaticClass() {
    static const TGIFExtensionClass cls{"TGIFAppExtNSLoop", 0xFF, Make<TGIFAppExtNSLoop>, nullptr};
    return cls;
}

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFSubImage* frame) : TGIFApplicationExtension(frame) {
    identifier_ = MakeIdentifier("NETSCAPE2.0");
}

void TGIFAppExtNSLoop::SaveAppData(TStream& stream) {
    const uint8_t loop[5] = {3, 1, static_cast<uint8_t>(LoopCount), static_cast<uint8_t>(LoopCount >> 8), 0};
    stream.WriteBuffer(loop, 4);
    if (BufferSize != 0) {
        const uint8_t buffer[6] = {5,
                                   2,
                                   static_cast<uint8_t>(BufferSize),
                                   static_cast<uint8_t>(BufferSize >> 8),
                                   static_cast<uint8_t>(BufferSize >> 16),
                                   static_cast<uint8_t>(BufferSize >> 24)};
        stream.WriteBuffer(buffer, 6);
    }
    WriteOneByte(stream, 0);
}

void TGIFAppExtNSLoop::LoadAppData(TStream& stream) {
    for (;;) {
        const int size = ReadOneByte(stream);
        if (size <= 0) return;
        const int id = ReadOneByte(stream);
        if (id < 0) return;
        int rest = size - 1;
        uint8_t value[4];
        switch (id & 7) {
            case 1:
                if (size < 3) RaiseGIFError("Invalid GIF data");
                ReadExact(stream, value, 2);
                LoopCount = static_cast<uint16_t>(value[0] | (value[1] << 8));
                rest = size - 3;
                break;
            case 2:
                if (size < 5) RaiseGIFError("Invalid GIF data");
                ReadExact(stream, value, 4);
                BufferSize = uint32_t(value[0]) | (uint32_t(value[1]) << 8) | (uint32_t(value[2]) << 16) |
                             (uint32_t(value[3]) << 24);
                rest = size - 5;
                break;
            default: break;
        }
        if (rest > 0) stream.Seek(rest, TSeekOrigin::soCurrent);
    }
}

// ------------------------------------------------------------ registries

const TGIFExtensionClass* TExtensionList::FindLabel(uint8_t label) const {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
        if (it->label == label) return it->extensionClass;
    return nullptr;
}

const TGIFExtensionClass* TAppExtensionList::FindIdentifier(const TGIFApplicationExtension::Identifier& id) const {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
        if (it->identifier == id) return it->extensionClass;
    return nullptr;
}

namespace {

std::mutex& RegistryMutex() {
    static std::mutex mutex;
    return mutex;
}

std::unique_ptr<TExtensionList>& ExtensionRegistrySlot() {
    static std::unique_ptr<TExtensionList> slot;
    return slot;
}

std::unique_ptr<TAppExtensionList>& AppExtensionRegistrySlot() {
    static std::unique_ptr<TAppExtensionList> slot;
    return slot;
}

}  // namespace

TExtensionList& ExtensionRegistry() {
    std::lock_guard lock(RegistryMutex());
    auto& slot = ExtensionRegistrySlot();
    if (!slot) {
        slot = std::make_unique<TExtensionList>();
        slot->Add(0x01, TGIFTextExtension::StaticClass());
        slot->Add(0xF9, TGIFGraphicControlExtension::StaticClass());
        slot->Add(0xFE, TGIFCommentExtension::StaticClass());
        slot->Add(0xFF, TGIFApplicationExtension::StaticClass());
    }
    return *slot;
}

TAppExtensionList& AppExtensionRegistry() {
    std::lock_guard lock(RegistryMutex());
    auto& slot = AppExtensionRegistrySlot();
    if (!slot) {
        slot = std::make_unique<TAppExtensionList>();
        slot->Add(MakeIdentifier("NETSCAPE2.0"), TGIFAppExtNSLoop::StaticClass());
        slot->Add(MakeIdentifier("ANIMEXTS1.0"), TGIFAppExtNSLoop::StaticClass());
    }
    return *slot;
}

void FreeExtensionRegistries() {
    std::lock_guard lock(RegistryMutex());
    ExtensionRegistrySlot().reset();
    AppExtensionRegistrySlot().reset();
}
