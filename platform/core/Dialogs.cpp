#include "platform/core/Dialogs.h"

#include <cstdio>
#include <mutex>

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
