#pragma once
#include "catalogue/sequence_win32.h"
#include "imaging/prepare_win32.h"
#include "session/session_win32.h"

// The session the in-process tests share, as the program has one per
// process. It is never ended: its plug-ins stay loaded until the process
// ends, as the program's do.
inline TSession& TestSession() {
    static TSession* const session = new TSession;
    return *session;
}

// What the session's run hands a preparation: its plug-ins and fitting.
inline TPrepareOptions SessionPrepare(const TPictureColours& colours = {}) {
    TSession& session = TestSession();
    return {&session.Plugins, session.FitOptions(), colours};
}

// What the session's run chooses pictures from.
inline TShowPictures SessionShow() {
    TSession& session = TestSession();
    return {session.PicList, session.Sequence, session.Random};
}

// Loads the session's plug-ins from its installation folder, as its start
// does.
inline void LoadSessionPlugins() {
    TSession& session = TestSession();
    session.Plugins.Load(session.Settings.InstallPath, session.Settings.rtresize);
}
