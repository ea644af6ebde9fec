#include "render/hooks_win32.h"

TRenderHooks& RenderHooks() {
    static TRenderHooks hooks;
    return hooks;
}
