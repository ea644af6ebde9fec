#pragma once
#include <windows.h>

#include <functional>
#include <string>

// The one seam for message boxes. The product shows the real box; an
// in-process test installs a responder that answers instead.
using TMessageBoxResponder =
    std::function<int(const std::string& text, const std::string& caption, UINT type)>;

int ShowMessage(const std::string& text, UINT type = MB_OK);  // captioned "Quorvane", no owner
int ShowMessageBoxA(HWND owner, const std::string& text, const std::string& caption, UINT type);
void SetMessageBoxResponder(TMessageBoxResponder responder);  // empty: real boxes again
