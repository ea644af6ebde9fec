#include "session/session_win32.h"

#include "session/message_font.h"
#include "base/random.h"
#include "session/settings.h"
#include "session/settings_store_win32.h"
#include "base/run_state.h"
#include "catalogue/catalogue_win32.h"
#include "catalogue/piclist.h"
#include "diag/crash_report_win32.h"
#include "imaging/bitmap_text_win32.h"
#include "imaging/plugins_win32.h"

void MakeSession() {
    SeedRandom(::GetTickCount());

    SetMessageFont(MessageFontHeight(::GetSystemMetrics(SM_CXSCREEN)));

    Settings.MouseMove = true;
    Settings.ShrinkToFit = true;

    ExtensionList.clear();
    LegacyFolders.clear();
    PicList.Clear();

    LoadSettings();
    SetReportInstallFolder(Settings.InstallPath);

    LoadPlugins();
    BuildExtensionList();
    TCatalogueSource source;
    source.File = Settings.CatalogueFile;
    source.InstallPath = Settings.InstallPath;
    source.LegacyFolders = LegacyFolders;
    source.Scan = {Settings.ScanSubfolders, ExtensionList};
    LoadCatalogue(PicList, source);

    LaunchedFromDialog = false;
}

void EndSessionAndExit() {
    PicList.Clear();
    LegacyFolders.clear();
    FreeMessageFont();
    UnloadPlugins();  // also unloads fastmm.dll
    ::ExitProcess(0);
}
