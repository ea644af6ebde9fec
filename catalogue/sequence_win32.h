#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "catalogue/sequence.h"

// The show's picture sequence on Windows: the real catalogue, the settings'
// order and the "Prev" registry value. It names pictures; preparing them is
// the caller's.

// Chooses the next picture by the settings' order and hands its path to
// `prepare`, then the next one's while `prepare` says a picture could not
// be read (as ChooseNextPicture does). A path the catalogue no longer has
// is given as "". `stopped` is asked during the search for the resume
// position and around each picture: once it says true, the choice ends as
// Stopped and neither the sequence nor the catalogue is read again (the
// dialog may be editing it by then). Runs on the picture-loading thread.
TSequenceResult ChooseShowPicture(const std::function<bool(const std::string& path)>& prepare,
                                  const std::function<bool()>& stopped);

// The global index that "Prev" names, or -1; also -1 once `stopped` (may be
// empty) says true during the search.
std::int32_t ReadResumePosition(const std::function<bool()>& stopped = nullptr);
// Writes "Prev" for `index` (empty with ResumeLast off or an index outside
// the catalogue). A failed write is ignored.
void SaveResumePosition(std::int32_t index);
