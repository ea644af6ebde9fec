#include "config/hooks_win32.h"

TConfigHooks& ConfigHooks() {
    static TConfigHooks hooks;
    return hooks;
}
