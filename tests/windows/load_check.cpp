// How the spreadsheet module loads QUORVEXv1.dll (QuorvexLoad in
// examples/quorvex.bas), step for step, under Wine.  This program does not
// import the DLL, as a spreadsheet host does not.
//
//   quorvex_load_check [OTHER_BITNESS_DLL]
//
// In the current folder (the build folder, which holds QUORVEXv1.dll and
// quorvex_dep_probe.dll, a DLL that imports one that is not on the search
// path) it lays out a few folders and searches them as the module does: in
// each, QUORVEXv1.dll, then <bits>-bit\QUORVEXv1.dll.  Checks the reason the
// module gives for each failed candidate (not found; wrong bitness, when the
// DLL of the other bitness is given; not a Windows DLL; a DLL it depends on
// is missing), that the zip's layout loads, and that afterwards the name
// alone, as a Declare statement binds it, finds the loaded DLL with its entry
// points.  Prints one line per failure and 'N passed, N failed'.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

int g_passed = 0, g_failed = 0;

void report(bool ok, const std::string& what) {
  if (ok) {
    ++g_passed;
  } else {
    ++g_failed;
    std::printf("FAILED: %s\n", what.c_str());
  }
}

#if defined(_WIN64)
const char kHostBits[] = "64";
const char kOtherBits[] = "32";
constexpr unsigned kHostMachine = 0x8664, kOtherMachine = 0x14C;
#else
const char kHostBits[] = "32";
const char kOtherBits[] = "64";
constexpr unsigned kHostMachine = 0x14C, kOtherMachine = 0x8664;
#endif

std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// PeMachine.
unsigned pe_machine(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char buf[4096] = {};
  in.read(reinterpret_cast<char*>(buf), sizeof buf);
  std::size_t n = static_cast<std::size_t>(in.gcount());
  if (n < 0x40 || buf[0] != 'M' || buf[1] != 'Z') return 0;
  unsigned pe = buf[0x3C] | buf[0x3D] << 8 | buf[0x3E] << 16 | static_cast<unsigned>(buf[0x3F]) << 24;
  if (pe == 0 || pe + 6 > n || std::memcmp(buf + pe, "PE\0\0", 4) != 0) return 0;
  return buf[pe + 4] | buf[pe + 5] << 8;
}

// TryLoad: the module's reason for a candidate that does not load, or "" and
// the handle.
std::string try_load(const std::string& path, HMODULE& h) {
  h = nullptr;
  if (GetFileAttributesW(wide(path).c_str()) == INVALID_FILE_ATTRIBUTES) return "not found";
  h = LoadLibraryW(wide(path).c_str());
  if (h != nullptr) return "";
  DWORD code = GetLastError();
  switch (code) {
    case 193:
    case 216: {
      unsigned m = pe_machine(path);
      if (m == kOtherMachine)
        return std::string("wrong bitness (a DLL for ") + kOtherBits + "-bit Excel; this one is " +
               kHostBits + "-bit)";
      if (m == kHostMachine) return "Windows cannot load it (error " + std::to_string(code) + ")";
      return "not a Windows DLL (error " + std::to_string(code) + ")";
    }
    case 126:
      return "a DLL it depends on is missing";
    case 5:
      return "access denied";
    default:
      return "Windows error " + std::to_string(code);
  }
}

bool copy(const std::string& from, const std::string& to) {
  return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string other = argc > 1 ? argv[1] : "";
  const std::string host_folder = std::string(kHostBits) + "-bit";
  report(GetModuleHandleW(L"QUORVEXv1.dll") == nullptr, "QUORVEXv1.dll is loaded before the search");

  // The folders, in the order of the search, and what each candidate gives.
  const std::string root = "load-check";
  for (const char* d : {"", "\\empty", "\\other", "\\text", "\\dep", "\\zip", "\\zip\\"})
    CreateDirectoryA((root + d).c_str(), nullptr);
  CreateDirectoryA((root + "\\zip\\" + host_folder).c_str(), nullptr);
  {
    std::ofstream t(root + "\\text\\QUORVEXv1.dll", std::ios::binary);
    t << "quorvex\r\nnot a DLL\r\n";
  }
  report(copy("quorvex_dep_probe.dll", root + "\\dep\\QUORVEXv1.dll"), "cannot copy the probe DLL");
  report(copy("QUORVEXv1.dll", root + "\\zip\\" + host_folder + "\\QUORVEXv1.dll"),
         "cannot copy QUORVEXv1.dll");
  struct Expect {
    std::string folder, reason;  // reason of the folder's first candidate
  };
  std::vector<Expect> folders = {{"empty", "not found"},
                                 {"text", "not a Windows DLL (error 193)"},
                                 {"dep", "a DLL it depends on is missing"}};
  if (!other.empty()) {
    report(copy(other, root + "\\other\\QUORVEXv1.dll"), "cannot copy " + other);
    folders.insert(folders.begin() + 1,
                   {"other", std::string("wrong bitness (a DLL for ") + kOtherBits +
                                 "-bit Excel; this one is " + kHostBits + "-bit)"});
  } else {
    std::printf("no DLL of the other bitness given: its case is skipped\n");
  }
  folders.push_back({"zip", "not found"});

  HMODULE loaded = nullptr;
  std::string tried;
  for (const Expect& e : folders) {
    const std::string dir = root + "\\" + e.folder;
    const std::string candidates[2] = {dir + "\\QUORVEXv1.dll",
                                       dir + "\\" + host_folder + "\\QUORVEXv1.dll"};
    for (int k = 0; k < 2 && loaded == nullptr; ++k) {
      HMODULE h = nullptr;
      std::string reason = try_load(candidates[k], h);
      if (h != nullptr) {
        loaded = h;
        report(e.folder == "zip" && k == 1, "loaded " + candidates[k] + ", expected zip\\" +
                                                host_folder + "\\QUORVEXv1.dll");
        break;
      }
      tried += "  " + candidates[k] + ": " + reason + "\n";
      const std::string want = k == 0 ? e.reason : "not found";
      report(reason == want, candidates[k] + ": '" + reason + "', expected '" + want + "'");
    }
  }
  std::printf("paths tried before the one that loaded:\n%s", tried.c_str());
  report(loaded != nullptr, "the zip's layout did not load");
  if (loaded != nullptr) {
    // A Declare statement binds by the name alone: it must find this module.
    report(GetModuleHandleW(L"QUORVEXv1.dll") == loaded,
           "GetModuleHandle(QUORVEXv1.dll) does not find the loaded DLL");
    HMODULE by_name = LoadLibraryA("QUORVEXv1.dll");
    report(by_name == loaded, "LoadLibrary(QUORVEXv1.dll) by name gives another module");
    for (const char* name :
         {"OLSPFIT", "GLSPFIT", "POLYEVAL", "IPVAL", "LINEAR_CONV", "IPVAL_DEGREE1"})
      report(GetProcAddress(loaded, name) != nullptr, std::string("no entry point ") + name);
    // Evaluate a line through the entry point found by name.
    using Polyeval = void(
#if !defined(_WIN64)
        __stdcall
#endif
        *)(const int*, const double*, const int*, const double*, const double*, const double*,
           double*, int*);
    auto polyeval = reinterpret_cast<Polyeval>(
        reinterpret_cast<void (*)()>(GetProcAddress(by_name, "POLYEVAL")));
    int nc = 2, one = 1, istat = -1;
    double coef[2] = {2.0, 1.0}, x = 0.5, lo = 0.0, hi = 1.0, y = 0.0;
    if (polyeval != nullptr) polyeval(&nc, coef, &one, &x, &lo, &hi, &y, &istat);
    report(istat == 0 && y == 1.0, "POLYEVAL by name gives " + std::to_string(y));
  }
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
