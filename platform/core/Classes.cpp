#include "platform/core/Classes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

// ---------------------------------------------------------------- persistent

void TPersistent::Assign(const TPersistent* source) {
    if (source != nullptr) {
        source->AssignTo(this);
    } else {
        AssignError(nullptr);
    }
}

void TPersistent::AssignTo(TPersistent* dest) const { dest->AssignError(this); }

void TPersistent::AssignError(const TPersistent* source) const {
    throw EConvertError(Format("Cannot assign a %s to a %s", source ? source->ClassName() : "nil", ClassName()));
}

// ---------------------------------------------------------------- string list

namespace {
bool IsNameOf(const std::string& line, const std::string& name) {
    const size_t eq = line.find('=');
    return eq != std::string::npos && CompareText(line.substr(0, eq), name) == 0;
}
}  // namespace

std::string TStringList::Value(const std::string& name) const {
    for (const std::string& line : lines_)
        if (IsNameOf(line, name)) return line.substr(line.find('=') + 1);
    return {};
}

void TStringList::SetValue(const std::string& name, const std::string& value) {
    for (std::string& line : lines_) {
        if (IsNameOf(line, name)) {
            line = name + "=" + value;
            return;
        }
    }
    lines_.push_back(name + "=" + value);
}

std::string TStringList::Text() const {
    std::string text;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (i > 0) text += "\r\n";
        text += lines_[i];
    }
    return text;
}

void TStringList::SetText(const std::string& text) {
    lines_.clear();
    if (text.empty()) return;
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines_.push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            line += c;
        }
    }
    // A final line break ends the last line rather than starting an empty one.
    const char last = text.back();
    if (last != '\r' && last != '\n') lines_.push_back(line);
}

// ---------------------------------------------------------------- streams

int64_t TStream::Size() {
    const int64_t pos = Seek(0, TSeekOrigin::soCurrent);
    const int64_t size = Seek(0, TSeekOrigin::soEnd);
    Seek(pos, TSeekOrigin::soBeginning);
    return size;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream does not support changing its size"); }

int64_t TStream::Remaining() {
    const int64_t pos = Position();
    const int64_t size = Size();
    return pos < 0 ? size : (pos < size ? size - pos : 0);
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count < 0 || (count != 0 && Read(buffer, count) != count)) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count < 0 || (count != 0 && Write(buffer, count) != count)) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    if (count < 0) throw EReadError("Stream read error");
    constexpr int64_t kChunk = 1 << 16;
    std::vector<uint8_t> buffer(static_cast<size_t>(count < kChunk ? count : kChunk));
    int64_t left = count;
    while (left > 0) {
        const int64_t n = left < kChunk ? left : kChunk;
        source.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        left -= n;
    }
    return count;
}

// ---------------------------------------------------------------- memory stream

// The position a seek asks for, from the current position or the size.
// A position before the start is kept; reads and writes there move nothing.
static int64_t SeekTarget(int64_t position, int64_t size, int64_t offset, TSeekOrigin origin) {
    int64_t base = 0;
    if (origin == TSeekOrigin::soCurrent) base = position;
    if (origin == TSeekOrigin::soEnd) base = size;
    if ((offset > 0 && base > std::numeric_limits<int64_t>::max() - offset) ||
        (offset < 0 && base < std::numeric_limits<int64_t>::min() - offset))
        throw EStreamError("Invalid stream operation");
    return base + offset;
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    const int64_t size = Size();
    if (count <= 0 || pos_ < 0 || pos_ >= size) return 0;
    const int64_t n = count < size - pos_ ? count : size - pos_;
    std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0 || pos_ < 0) return 0;
    if (count > std::numeric_limits<int64_t>::max() - pos_) return 0;
    const int64_t end = pos_ + count;
    if (end > Size()) {
        try {
            data_.resize(static_cast<size_t>(end));
        } catch (const std::bad_alloc&) {
            throw EOutOfMemory("Out of memory while expanding memory stream");
        } catch (const std::length_error&) {
            throw EOutOfMemory("Out of memory while expanding memory stream");
        }
    }
    std::memcpy(data_.data() + pos_, buffer, static_cast<size_t>(count));
    pos_ = end;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    pos_ = SeekTarget(pos_, Size(), offset, origin);
    return pos_;
}

void TMemoryStream::SetSize(int64_t newSize) {
    if (newSize < 0) throw EStreamError("Invalid stream operation");
    try {
        data_.resize(static_cast<size_t>(newSize));
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory("Out of memory while expanding memory stream");
    } catch (const std::length_error&) {
        throw EOutOfMemory("Out of memory while expanding memory stream");
    }
    if (pos_ > newSize) pos_ = newSize;
}

void TMemoryStream::Clear() {
    data_.clear();
    data_.shrink_to_fit();
    pos_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    const int64_t size = file.Size();
    std::vector<uint8_t> data;
    try {
        data.resize(static_cast<size_t>(size));
    } catch (const std::exception&) {
        throw EOutOfMemory("Out of memory while expanding memory stream");
    }
    file.ReadBuffer(data.data(), size);
    data_ = std::move(data);
    pos_ = 0;
}

namespace {
std::string ErrorText(int error) { return std::strerror(error); }

// Writes all of data to fd; false on a short or failed write.
bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}
}  // namespace

void TMemoryStream::SaveToFile(const std::string& fileName) {
    std::string pattern = fileName + ".XXXXXX";
    std::vector<char> tempName(pattern.begin(), pattern.end());
    tempName.push_back('\0');
    const int fd = ::mkstemp(tempName.data());
    if (fd < 0) throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName.c_str(), ErrorText(errno).c_str()));

    // The new file gets the mode of the one it replaces, or the usual one.
    struct stat st {};
    mode_t mode;
    if (::stat(fileName.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode);

    const bool written = WriteAll(fd, data_.data(), data_.size());
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        ::unlink(tempName.data());
        throw EWriteError(Format("Cannot write file \"%s\". %s", fileName.c_str(),
                                 ErrorText(written ? errno : writeError).c_str()));
    }
    if (::rename(tempName.data(), fileName.c_str()) != 0) {
        const int error = errno;
        ::unlink(tempName.data());
        throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName.c_str(), ErrorText(error).c_str()));
    }
}

// ---------------------------------------------------------------- file stream

TFileStream::TFileStream(const std::string& fileName, uint32_t mode) : fileName_(fileName) {
    if ((mode & 0xFF00) == fmCreate) {
        fd_ = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ < 0)
            throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName.c_str(), ErrorText(errno).c_str()));
        return;
    }
    int flags = O_RDONLY;
    if ((mode & 3) == fmOpenWrite) flags = O_WRONLY;
    if ((mode & 3) == fmOpenReadWrite) flags = O_RDWR;
    fd_ = ::open(fileName.c_str(), flags | O_CLOEXEC);
    if (fd_ < 0)
        throw EFOpenError(Format("Cannot open file \"%s\". %s", fileName.c_str(), ErrorText(errno).c_str()));
    // A folder opens for reading on this platform; it is not a file.
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        throw EFOpenError(Format("Cannot open file \"%s\". %s", fileName.c_str(), ErrorText(EISDIR).c_str()));
    }
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    if (count <= 0 || pos_ < 0) return 0;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    int64_t total = 0;
    while (total < count) {
        const ssize_t n = ::pread(fd_, out + total, static_cast<size_t>(count - total), pos_ + total);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        total += n;
    }
    pos_ += total;
    return total;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    if (count <= 0 || pos_ < 0) return 0;
    const uint8_t* in = static_cast<const uint8_t*>(buffer);
    int64_t total = 0;
    while (total < count) {
        const ssize_t n = ::pwrite(fd_, in + total, static_cast<size_t>(count - total), pos_ + total);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        total += n;
    }
    pos_ += total;
    return total;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    pos_ = SeekTarget(pos_, origin == TSeekOrigin::soEnd ? Size() : 0, offset, origin);
    return pos_;
}

int64_t TFileStream::Size() {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return 0;
    return static_cast<int64_t>(st.st_size);
}

void TFileStream::SetSize(int64_t newSize) {
    if (newSize < 0 || ::ftruncate(fd_, newSize) != 0)
        throw EWriteError(Format("Cannot write file \"%s\". %s", fileName_.c_str(), ErrorText(errno).c_str()));
    if (pos_ > newSize) pos_ = newSize;
}

// ---------------------------------------------------------------- lists

namespace {
[[noreturn]] void ListIndexError(int index) { throw EListError(Format("List index out of bounds (%d)", index)); }
}  // namespace

void TList::Insert(int index, void* item) {
    if (index < 0 || index > Count()) ListIndexError(index);
    items_.insert(items_.begin() + index, item);
}

void TList::Delete(int index) {
    if (index < 0 || index >= Count()) ListIndexError(index);
    items_.erase(items_.begin() + index);
}

int TList::IndexOf(void* item) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i] == item) return static_cast<int>(i);
    return -1;
}

int TList::Remove(void* item) {
    const int index = IndexOf(item);
    if (index >= 0) items_.erase(items_.begin() + index);
    return index;
}

void* TList::Extract(void* item) { return Remove(item) >= 0 ? item : nullptr; }

void* TList::Items(int index) const {
    if (index < 0 || index >= Count()) ListIndexError(index);
    return items_[static_cast<size_t>(index)];
}

TList& TThreadList::LockList() {
    mutex_.lock();
    return list_;
}

void TThreadList::UnlockList() { mutex_.unlock(); }

void TThreadList::Add(void* item) {
    std::lock_guard lock(mutex_);
    if (list_.IndexOf(item) < 0) list_.Add(item);
}

void TThreadList::Remove(void* item) {
    std::lock_guard lock(mutex_);
    list_.Remove(item);
}

void TThreadList::Clear() {
    std::lock_guard lock(mutex_);
    list_.Clear();
}
