// Entry routine of the Windows DLL: on process attach it asks the loader to
// stop sending thread attach and detach notifications, and it reports success
// for every notification.  Nothing else is set up or torn down.
//
// The library keeps per-thread storage: the working storage of each fit a
// thread keeps for its next one (thread_local, up to 64 MiB in a 32-bit
// process and 384 MiB in a 64-bit one),
// and the C++ and threads run-times' own per-thread blocks.  The statically
// linked run-time releases it at thread exit from its TLS callback, which the
// loader calls because the DLL has a thread storage directory; the request
// below does not stop that (for a DLL with static thread storage Windows
// declines it, so the notifications keep coming and are ignored here).  The
// Wine test checks the release: 2000 threads each fitting once leave the
// process's memory where it was.
#if defined(_WIN32)
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
#endif
