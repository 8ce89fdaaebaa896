// Entry routine of the Windows DLL: on process attach, turn off the thread
// attach/detach notifications (the library keeps no per-thread set-up) and
// report success.  Nothing is initialised.
#if defined(_WIN32)
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
#endif
