#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "base/random.h"
#include "catalogue/hidden_list.h"
#include "catalogue/piclist.h"
#include "catalogue/scan_win32.h"
#include "catalogue/sequence.h"
#include "imaging/bitmap_text_win32.h"
#include "imaging/plugins_win32.h"
#include "imaging/prepare_win32.h"
#include "session/settings.h"

// The program's state for one process: the settings, the catalogue, the
// show sequence, the plug-in host, the random generator and the font of the
// show's messages. The mode
// dispatch makes it, for every mode, and hands it to the dialog or the run;
// they hand on the parts, or the values, that lower layers need.
class TSession {
public:
    TSession() = default;
    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;

    // The application data's start: seeds the random generator, sets the
    // message font, applies the defaults the settings load may overwrite,
    // empties the lists, then loads the settings, the plug-ins, the
    // catalogue and the hidden list, in that order.
    void Start();
    // Releases what Start made (catalogue, fonts, plug-ins with fastmm.dll
    // last) and ends the process with exit code 0.
    [[noreturn]] void EndAndExit();

    // The values lower layers take from the settings.
    TFitOptions FitOptions() const;
    TScanOptions ScanOptions() const;
    TSequenceOptions OrderOptions() const;
    // The hidden list's file, beside the catalogue file; empty when that is unknown.
    std::string HiddenFile() const;
    // Hides a picture during a show: adds it to Hidden and to the file at
    // once, keeping what the file holds (the dialog saves its own edits of
    // the list only with "OK"). A failed save is ignored: the picture stays
    // hidden for this session. Runs under the catalogue's claim.
    void HidePicture(const std::string& path);

    TSettings Settings;
    std::vector<std::string> LegacyFolders;  // the old "Folders" subkey's paths, in CatalogueCompare order
    TPicList PicList;                        // the catalogue
    THiddenList Hidden;                      // pictures the show passes over; goes with the catalogue's claim
    TShowSequence Sequence;
    TPluginHost Plugins;
    TRandom Random;
    TMessageFont MessageFont;
};
