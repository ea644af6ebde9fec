// A dependency of the tp_needsdep test plug-in. It is built into a folder of
// its own, away from every place the loader searches, so that the plug-in
// cannot be loaded unless a test puts this library beside it.
extern "C" __declspec(dllexport) int QvtDepAnswer() {
    return 42;
}
