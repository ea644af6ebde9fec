#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/thread_owner.h"

// Which catalogue picture a show takes next, and where a show resumes. The
// choice is pure: the catalogue, the random source, the resume position and
// the picture preparation come in as callbacks, so the Windows layer
// (sequence_win32.cpp) only wires them to the real catalogue, registry and
// decoder.

// Values of the "Order" setting; anything else plays forward.
constexpr std::int32_t kOrderForward = 1;
constexpr std::int32_t kOrderRandom = 2;
constexpr std::int32_t kOrderBackward = 4;

// Random order keeps the last pictures of one cycle out of the first picks
// of the next: the first kShuffleGuard + 1 picks of a cycle leave out up to
// kShuffleGuard entries at the end of the table.
constexpr std::int32_t kShuffleGuard = 20;

// The sequencer's state, one per session. It lives on a run's
// picture-loading thread, which claims it for its life; the run resets
// CurrentIndex before that thread starts and reads it after the thread has
// ended or been left behind, holding it then on the main thread.
struct TShowSequence {
    std::int32_t CurrentIndex = -1;       // global index of the picture last chosen; -1 before the first
    std::vector<std::int32_t> PicShowed;  // random order's table: a permutation of global indices
    std::int32_t PicShowedSize = 0;       // entries of PicShowed; 0 until the first random pick
    std::int32_t ShowedPos = -1;          // position in PicShowed of the last random pick
    TThreadOwner Owner;                   // checked by every choice
};

// A uniform real in [0, 1).
using TRandomUnit = std::function<double()>;

// The picture after the last one in forward order; a valid index for any
// cur. Requires n > 0.
std::int32_t NextForward(std::int32_t cur, std::int32_t n);
// The picture before the last one in backward order; a valid index for any cur.
std::int32_t NextBackward(std::int32_t cur, std::int32_t n);
// The random starting position: 0 to n - 1.
std::int32_t RandomStartIndex(std::int32_t n, const TRandomUnit& random);

// One step of random order over a catalogue of n pictures. Builds the table
// at the first call; a catalogue that has grown since extends it with the
// new indices, which join the current cycle as not yet shown. A smaller
// catalogue drops the indices of n or more from it; the cycle goes on over
// the pictures left that it has not shown.
// Raises Exception("error alloc memory for PicShowed, Size=<n>") when the
// table cannot be allocated; the state is left as it was.
std::int32_t ShuffleStep(TShowSequence& seq, std::int32_t n, const TRandomUnit& random);

struct TSequenceOptions {
    std::int32_t Order = kOrderForward;
    bool RandomStart = false;
    bool ResumeLast = false;
};

enum class TSequenceResult {
    Prepared,    // the picture at seq.CurrentIndex is prepared
    NoPictures,  // the catalogue is empty
    Unreadable,  // n + 2 preparations in a row failed
    Stopped,     // the show stopped meanwhile; nothing is prepared
};

// Pictures a show passes over as if the catalogue did not hold them.
struct TPassedOver {
    std::int32_t Present = 0;                   // pictures of the catalogue not passed over
    std::function<bool(std::int32_t)> Contains;  // true for a global index passed over
};

// Chooses the next picture and has it prepared. `resumePosition` is asked
// only at the start of a show with ResumeLast on; `prepare` is given a
// global index and says whether that picture could be prepared. `stopped`
// (may be empty) is asked after the resume position and around each
// preparation: once it says true, the sequence is not touched again (the
// run may have taken it back), and a stop during a preparation leaves
// CurrentIndex on the picture it cut short.
// With `passedOver`, the order steps over the pictures it names without
// preparing them: they count neither as shown nor as unreadable. No picture
// present gives NoPictures; Unreadable comes after Present + 2 failed
// preparations in a row.
TSequenceResult ChooseNextPicture(TShowSequence& seq, const TSequenceOptions& options, std::int32_t n,
                                  const TRandomUnit& random,
                                  const std::function<std::int32_t()>& resumePosition,
                                  const std::function<bool(std::int32_t)>& prepare,
                                  const std::function<bool()>& stopped = nullptr,
                                  const TPassedOver* passedOver = nullptr);

// The global index a "Prev" value names, or -1. `prev` is nullopt when the
// value is missing or not text. `pictureAt` gives the path of a global
// index in 0 to n - 1. The search through the catalogue gives up with -1
// once `stopped` (may be empty) says true.
std::int32_t ResolveResumePosition(const std::optional<std::string>& prev, std::int32_t n,
                                   const std::function<std::string(std::int32_t)>& pictureAt,
                                   const std::function<bool()>& stopped = nullptr);

// The "Prev" text recorded at the end of a full-screen show.
std::string ResumeText(bool resumeLast, std::int32_t index, std::int32_t n,
                       const std::function<std::string(std::int32_t)>& pictureAt);

// Message texts drawn into the picture bitmap.
constexpr const char* kNoPicturesMessage = "No pictures selected";
constexpr const char* kUnreadableMessage = "Can't read pictures";
