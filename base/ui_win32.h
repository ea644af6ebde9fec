#pragma once
#include <windows.h>

#include <functional>
#include <string>

// The one seam for message boxes. The product shows the real box; an
// in-process test installs a responder that answers instead.
using TMessageBoxResponder =
    std::function<int(const std::string& text, const std::string& caption, UINT type)>;

// The program's own module: the owner of its window classes and resources.
HINSTANCE Instance();

int ShowMessage(const std::string& text, UINT type = MB_OK);  // captioned "Quorvane", no owner
int ShowMessageBoxA(HWND owner, const std::string& text, const std::string& caption, UINT type);
void SetMessageBoxResponder(TMessageBoxResponder responder);  // empty: real boxes again
