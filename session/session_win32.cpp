#include "session/session_win32.h"

#include <exception>

#include "base/run_state.h"
#include "catalogue/catalogue_win32.h"
#include "catalogue/hidden_list_win32.h"
#include "base/system_win32.h"
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
    Hidden = LoadHiddenList(HiddenFile());

    RunState.LaunchedFromDialog = false;
}

void TSession::EndAndExit() {
    PicList.Clear();
    Hidden.Clear();
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

std::string TSession::HiddenFile() const {
    return HiddenListFileFor(Settings.CatalogueFile, AnsiLeadByte);
}

void TSession::HidePicture(const std::string& path) {
    PicList.Owner.Check("The catalogue");
    Hidden.Add(path);
    const std::string file = HiddenFile();
    if (file.empty()) return;
    try {
        THiddenList saved = LoadHiddenList(file);
        if (saved.Add(path)) SaveHiddenList(saved, file);
    } catch (const std::exception& e) {
        ::OutputDebugStringA((std::string("Quorvane: cannot save the hidden list: ") + e.what() + "\n").c_str());
    }
}
