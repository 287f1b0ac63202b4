#include "platform/core/Dialogs.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <utility>

namespace {
std::mutex handlerMutex;
TMessageBoxHandler& Handler() {
    static TMessageBoxHandler handler;
    return handler;
}
}  // namespace

TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler) {
    std::lock_guard lock(handlerMutex);
    TMessageBoxHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

int MessageBoxA(const std::string& text, const std::string& caption, unsigned flags) {
    TMessageBoxHandler handler;
    {
        std::lock_guard lock(handlerMutex);
        handler = Handler();
    }
    if (handler) return handler(text, caption, flags);
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return IDOK;
}

namespace {
TPictureWarningHandler& WarningHandler() {
    static TPictureWarningHandler handler;
    return handler;
}
std::atomic<uint64_t> lastLoad{0};
thread_local TPictureWarningCapture* capture = nullptr;
}  // namespace

TPictureWarningHandler SetPictureWarningHandler(TPictureWarningHandler handler) {
    std::lock_guard lock(handlerMutex);
    TPictureWarningHandler previous = std::move(WarningHandler());
    WarningHandler() = std::move(handler);
    return previous;
}

uint64_t NewPictureLoad() { return ++lastLoad; }

void PictureWarning(uint64_t load, const std::string& text) {
    if (capture != nullptr) {
        capture->warnings_.push_back({load, text});
        return;
    }
    TPictureWarningHandler handler;
    {
        std::lock_guard lock(handlerMutex);
        handler = WarningHandler();
    }
    if (handler) handler(load, text);
    else MessageBoxA(text, "Warning", MB_OK | MB_ICONWARNING);
}

TPictureWarningCapture::TPictureWarningCapture() : outer_(capture) { capture = this; }

TPictureWarningCapture::~TPictureWarningCapture() { capture = outer_; }

std::vector<TPictureWarningCapture::TWarning> TPictureWarningCapture::Take() { return std::exchange(warnings_, {}); }
