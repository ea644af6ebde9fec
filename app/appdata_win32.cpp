#include "app/appdata_win32.h"

#include <cstring>

#include "app/appdata.h"
#include "app/random.h"
#include "app/settings.h"
#include "app/settings_win32.h"
#include "app/state.h"
#include "catalogue/piclist.h"
#include "catalogue/scan.h"
#include "imaging/plugins_win32.h"

LOGFONTA MessageFont;
TGdiObject MessageFontHandles[2];

namespace {

LOGFONTA MessageFontTemplate() {
    LOGFONTA f;
    std::memset(&f, 0, sizeof f);
    f.lfWeight = 400;
    f.lfCharSet = DEFAULT_CHARSET;
    std::strcpy(f.lfFaceName, "Courier New");
    return f;
}

}  // namespace

void InitApplicationData() {
    SeedRandom(::GetTickCount());

    MessageFont = MessageFontTemplate();
    MessageFont.lfHeight = MessageFontHeight(::GetSystemMetrics(SM_CXSCREEN));

    Settings.MouseMove = true;
    Settings.ShrinkToFit = true;

    ExtensionList.clear();
    LegacyFolders.clear();
    FoundList.clear();
    PicList.Clear();

    LoadSettings();
    ScanRoot.clear();

    LoadPlugins();
    BuildExtensionList();
    LoadCatalogue();

    LaunchedFromDialog = false;
}

void FreeApplicationData() {
    FreeCatalogue();  // FoundList and the catalogue
    LegacyFolders.clear();
    for (TGdiObject& font : MessageFontHandles) font.Reset();
    UnloadPlugins();  // also unloads fastmm.dll
    ::ExitProcess(0);
}
