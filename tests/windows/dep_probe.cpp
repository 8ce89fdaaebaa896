// Two small DLLs for the loading check (load_check.cpp): quorvex_dep_probe.dll
// imports quorvex_missing_dep.dll, which the build puts in a folder off the
// DLL search path, so loading the probe fails for a missing dependency.
#if defined(QUORVEX_MISSING_DEP)
extern "C" __declspec(dllexport) int quorvex_missing_dep_value() { return 7; }
#else
extern "C" __declspec(dllimport) int quorvex_missing_dep_value();
extern "C" __declspec(dllexport) int quorvex_dep_probe_value() {
  return quorvex_missing_dep_value() + 1;
}
#endif
