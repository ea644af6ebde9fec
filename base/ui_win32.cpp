#include "base/ui_win32.h"

#include <utility>

namespace {
TMessageBoxResponder responder;  // set only by in-process tests
}

int ShowMessageBoxA(HWND owner, const std::string& text, const std::string& caption, UINT type) {
    if (responder) return responder(text, caption, type);
    // An empty caption asks for the system's default one.
    return ::MessageBoxA(owner, text.c_str(), caption.empty() ? nullptr : caption.c_str(), type);
}

int ShowMessage(const std::string& text, UINT type) {
    return ShowMessageBoxA(nullptr, text, "Quorvane", type);
}

void SetMessageBoxResponder(TMessageBoxResponder r) {
    responder = std::move(r);
}

HINSTANCE Instance() {
    return ::GetModuleHandleA(nullptr);
}
