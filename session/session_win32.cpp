#include "session/session_win32.h"

#include "base/run_state.h"
#include "catalogue/catalogue_win32.h"
#include "diag/crash_report_win32.h"
#include "imaging/bitmap_text_win32.h"
#include "session/message_font.h"
#include "session/settings_store_win32.h"

void TSession::Start() {
    Random.Seed(::GetTickCount());

    MessageFont.SetHeight(MessageFontHeight(::GetSystemMetrics(SM_CXSCREEN)));

    Settings.MouseMove = true;
    Settings.ShrinkToFit = true;

    LegacyFolders.clear();
    PicList.Clear();

    LoadSettings(Settings, LegacyFolders);
    SetReportInstallFolder(Settings.InstallPath);

    Plugins.Load(Settings.InstallPath, Settings.rtresize);
    TCatalogueSource source;
    source.File = Settings.CatalogueFile;
    source.InstallPath = Settings.InstallPath;
    source.LegacyFolders = LegacyFolders;
    source.Scan = ScanOptions();
    LoadCatalogue(PicList, source);

    RunState.LaunchedFromDialog = false;
}

void TSession::EndAndExit() {
    PicList.Clear();
    LegacyFolders.clear();
    MessageFont.Free();
    Plugins.Unload();  // also unloads fastmm.dll
    ::ExitProcess(0);
}

TFitOptions TSession::FitOptions() const {
    return {Settings.FitMode, Settings.rtresize};
}

TScanOptions TSession::ScanOptions() const {
    return {Settings.ScanSubfolders, Plugins.Extensions()};
}

TSequenceOptions TSession::OrderOptions() const {
    return {Settings.Order, Settings.RandomStart, Settings.ResumeLast};
}
