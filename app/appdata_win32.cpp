#include "app/appdata_win32.h"

#include "app/appdata.h"
#include "app/random.h"
#include "app/settings.h"
#include "app/settings_win32.h"
#include "app/state.h"
#include "catalogue/piclist.h"
#include "imaging/bitmap_text_win32.h"
#include "imaging/plugins_win32.h"

void InitApplicationData() {
    SeedRandom(::GetTickCount());

    SetMessageFont(MessageFontHeight(::GetSystemMetrics(SM_CXSCREEN)));

    Settings.MouseMove = true;
    Settings.ShrinkToFit = true;

    ExtensionList.clear();
    LegacyFolders.clear();
    PicList.Clear();

    LoadSettings();

    LoadPlugins();
    BuildExtensionList();
    LoadCatalogue();

    LaunchedFromDialog = false;
}

void FreeApplicationData() {
    FreeCatalogue();
    LegacyFolders.clear();
    FreeMessageFont();
    UnloadPlugins();  // also unloads fastmm.dll
    ::ExitProcess(0);
}
