#include "session/session_win32.h"

#include "session/message_font.h"
#include "base/random.h"
#include "session/settings.h"
#include "session/settings_store_win32.h"
#include "base/run_state.h"
#include "catalogue/catalogue_win32.h"
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
