#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "catalogue/sequence.h"

class THiddenList;
class TPicList;
class TRandom;

// The show's picture sequence on Windows: the session's catalogue, its
// sequence and random generator, and the "Prev" registry value. It names
// pictures; preparing them is the caller's.

// What a show chooses from and advances; borrowed from the session. The
// picture-loading thread holds the catalogue's and the sequence's claims.
struct TShowPictures {
    const TPicList& Catalogue;
    TShowSequence& Sequence;
    TRandom& Random;
    // The pictures the user has hidden; null or empty: none. Read, like the
    // catalogue, under the catalogue's claim.
    const THiddenList* Hidden = nullptr;
};

// Chooses the next picture by `options`' order and hands its path to
// `prepare`, then the next one's while `prepare` says a picture could not
// be read (as ChooseNextPicture does). A path the catalogue no longer has
// is given as "". `stopped` is asked during the search for the resume
// position and around each picture: once it says true, the choice ends as
// Stopped and neither the sequence nor the catalogue is read again (the
// dialog may be editing it by then). Hidden pictures are passed over as if
// the catalogue did not hold them. Runs on the picture-loading thread.
TSequenceResult ChooseShowPicture(const TShowPictures& show, const TSequenceOptions& options,
                                  const std::function<bool(const std::string& path)>& prepare,
                                  const std::function<bool()>& stopped);

// The global index of `catalogue` that "Prev" names, or -1; also -1 once
// `stopped` (may be empty) says true during the search.
std::int32_t ReadResumePosition(const TPicList& catalogue, const std::function<bool()>& stopped = nullptr);
// Writes "Prev" for `index` (empty with `resumeLast` off or an index
// outside the catalogue). A failed write is ignored.
void SaveResumePosition(const TPicList& catalogue, std::int32_t index, bool resumeLast);

// True when `index` names a picture of the show that is not hidden.
bool ShowablePicture(const TShowPictures& show, std::int32_t index);
