// Object model and streams standing in for the platform's class library.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "SysUtils.h"

class TObject {
public:
    virtual ~TObject() = default;
    virtual const char* ClassName() const { return "TObject"; }
};

// Assign(source) asks the source to copy itself into this object through
// AssignTo; the default AssignTo raises EConvertError
// "Cannot assign a <source class> to a <target class>" ("nil" for no source).
class TPersistent : public TObject {
public:
    virtual void Assign(const TPersistent* source);
    const char* ClassName() const override { return "TPersistent"; }

protected:
    virtual void AssignTo(TPersistent* dest) const;
    [[noreturn]] void AssignError(const TPersistent* source) const;
};

using TNotifyEvent = std::function<void(TObject* sender)>;

// name=value lines, as the mail message uses them.
class TStringList : public TObject {
public:
    void Add(const std::string& line) { lines_.push_back(line); }
    void Clear() { lines_.clear(); }
    int Count() const { return static_cast<int>(lines_.size()); }
    const std::string& operator[](int i) const { return lines_.at(i); }
    std::string& operator[](int i) { return lines_.at(i); }
    // Value of the first "name=..." line (name compared ignoring case), or "".
    std::string Value(const std::string& name) const;
    void SetValue(const std::string& name, const std::string& value);
    // Lines joined with CR LF.
    std::string Text() const;
    void SetText(const std::string& text);  // splits on CR LF, LF or CR
    const char* ClassName() const override { return "TStringList"; }

private:
    std::vector<std::string> lines_;
};

// A list of untyped pointers; owning lists are built on it.
class TList : public TObject {
public:
    int Add(void* item) {
        items_.push_back(item);
        return static_cast<int>(items_.size()) - 1;
    }
    void Insert(int index, void* item);  // raises EListError outside 0..Count
    void Delete(int index);              // raises EListError outside the list
    int Remove(void* item);              // the index it had, or -1
    int IndexOf(void* item) const;
    void* Extract(void* item);           // removes it; returns it, or nullptr
    void Clear() { items_.clear(); }
    int Count() const { return static_cast<int>(items_.size()); }
    void* Items(int index) const;        // raises EListError outside the list
    void* operator[](int index) const { return Items(index); }
    void* First() const { return Items(0); }
    void* Last() const { return Items(Count() - 1); }
    const char* ClassName() const override { return "TList"; }

private:
    std::vector<void*> items_;
};

// A TList behind a recursive lock: the thread holding it may lock it again,
// as a painter's Draw does while Detach runs on the same thread. Add ignores
// an item already in the list.
class TThreadList : public TObject {
public:
    TList& LockList();
    void UnlockList();
    void Add(void* item);
    void Remove(void* item);
    void Clear();
    const char* ClassName() const override { return "TThreadList"; }

private:
    std::recursive_mutex mutex_;
    TList list_;
};

// ---------------------------------------------------------------- streams

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream : public TObject {
public:
    // Returns the number of bytes actually read (0 at or past the end).
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Seeking past the end is allowed; the next Read then returns 0.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual int64_t Size();
    virtual void SetSize(int64_t newSize);

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
    // Bytes from the position to the end (0 when positioned past the end).
    int64_t Remaining();

    // Raise EReadError "Stream read error" / EWriteError "Stream write error"
    // when fewer than count bytes move.
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies count bytes (0: the whole source from its start); returns count.
    int64_t CopyFrom(TStream& source, int64_t count);
    const char* ClassName() const override { return "TStream"; }
};

class TMemoryStream : public TStream {
public:
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }
    void SetSize(int64_t newSize) override;
    void Clear();
    uint8_t* Memory() { return data_.data(); }
    const uint8_t* Memory() const { return data_.data(); }
    void LoadFromFile(const std::string& fileName);
    // Written through a temporary file and renamed into place, so a failed
    // save never leaves a half-written file where a good one was.
    void SaveToFile(const std::string& fileName);
    const char* ClassName() const override { return "TMemoryStream"; }

private:
    std::vector<uint8_t> data_;
    int64_t pos_ = 0;
};

// Open modes; the share modes are accepted and ignored on this platform.
enum : uint32_t {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,
    fmShareDenyRead = 0x0030,
    fmShareDenyNone = 0x0040,
    fmCreate = 0xFF00,
};

// Raises EFOpenError "Cannot open file \"<name>\". <reason>" or EFCreateError
// "Cannot create file \"<name>\". <reason>".
class TFileStream : public TStream {
public:
    TFileStream(const std::string& fileName, uint32_t mode);
    ~TFileStream() override;
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override;
    void SetSize(int64_t newSize) override;
    const std::string& FileName() const { return fileName_; }
    const char* ClassName() const override { return "TFileStream"; }

private:
    std::string fileName_;
    int fd_ = -1;
    int64_t pos_ = 0;  // kept here so positions past the end behave as in memory
};
