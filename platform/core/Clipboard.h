// An in-process clipboard: formats registered by name, data held as
// handles the clipboard owns once they are set (a bitmap for CF_BITMAP, a
// palette for CF_PALETTE, a movable global memory block for every
// registered format), and the graphic classes' clipboard forms.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "Graphics.h"

constexpr uint32_t CF_BITMAP = 2;
constexpr uint32_t CF_PALETTE = 9;

// The same name always gives the same number, from 0xC000 up.
uint32_t RegisterClipboardFormat(const std::string& name);

// Movable global memory, the form clipboard data of registered formats takes.
struct TGlobalMemory;
using HGLOBAL = TGlobalMemory*;
constexpr uint32_t GMEM_MOVEABLE = 0x0002;
// nullptr when the block cannot be had.
HGLOBAL GlobalAlloc(uint32_t flags, size_t bytes);
uint8_t* GlobalLock(HGLOBAL memory);
bool GlobalUnlock(HGLOBAL memory);
size_t GlobalSize(HGLOBAL memory);
// Returns nullptr once freed.
HGLOBAL GlobalFree(HGLOBAL memory);

// Data set while the clipboard is open replaces what it held in that
// format; the clipboard then owns the handle.
class TClipboard : public TObject {
public:
    ~TClipboard() override;
    const char* ClassName() const override { return "TClipboard"; }
    void Open();
    void Close();
    // Empties it (opening it for the call when it is closed).
    void Clear();
    // Null when the clipboard is not open or the handle is null; the caller
    // then keeps the handle.
    THandle SetClipboardData(uint32_t format, THandle data);
    // The clipboard keeps the handle.
    THandle GetClipboardData(uint32_t format) const;
    bool HasFormat(uint32_t format) const;
    // Empties the clipboard and puts the graphic on it in its clipboard
    // form (and its palette, when it has one).
    void Assign(TGraphic& graphic);

private:
    void Release(uint32_t format, THandle data);

    mutable std::recursive_mutex mutex_;
    std::map<uint32_t, THandle> data_;
    int openCount_ = 0;
};

// The one clipboard of the process.
TClipboard& Clipboard();
