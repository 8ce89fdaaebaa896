// Entry routine of the Windows DLL: nothing to set up or tear down; reports
// success for every notification.
//
// The library keeps per-thread storage: the working storage of the
// generalized fit a thread keeps for its next fit (thread_local, up to 8 MB),
// and the C++ and threads run-times' own per-thread blocks.  The statically
// linked run-time releases it at thread exit from its TLS callback, which the
// loader calls because the DLL has a thread storage directory.  The thread
// notifications are therefore not turned off here: DisableThreadLibraryCalls
// fails for a DLL with static thread storage, and the call would only
// suggest otherwise.  The Wine test checks the release (2000 threads each
// fitting once leave the process's memory where it was).
#if defined(_WIN32)
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
  return TRUE;
}
#endif
