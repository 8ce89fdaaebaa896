// Host-side test of QUORVEXv1.dll, a Windows program run under Wine, built
// for 32-bit Windows against the 32-bit DLL and for x64 against the 64-bit one.
//
//   quorvex_wine_check CASES
//
// CASES is the file the Linux generator wrote from libQUORVEXv1.so.  Checks:
//  - the export directory: twelve names, ordinals 1 to 12, each entry point's
//    plain and decorated name at one address, nothing else; the DLL imports
//    only Windows system DLLs;
//  - on x64 instead: six plain names, ordinals 1 to 6, no decorated names;
//  - the import library: the header's declarations bind to the same functions;
//  - every call of the shared case table, made through a thunk that checks the
//    standard call convention (arguments removed by the callee, ebx, esi, edi
//    and ebp preserved) with the stack at each 16-byte misalignment, and that
//    the call leaves the x87 control word and MXCSR as it found them;
//  - on x64 instead through a thunk that checks the x64 convention: the
//    stack pointer back where it was, rbx, rbp, rdi, rsi, r12 to r15 and
//    xmm6 to xmm15 preserved (the thunk is first shown a callee that breaks
//    it); the x87 control word and MXCSR as above;
//  - the case table run three times: through the plain names, through the
//    decorated names (bit-identical to the first run), and through the plain
//    names with the x87 unit set to 53-bit precision as many hosts run it;
//    on x64 the second run goes through the ordinals instead;
//    every output agrees with the Linux library to a few ulps, guard
//    elements after each output are untouched, and every status is the one
//    the case is built for;
//  - LAPACK's parameter-error handler linked into the DLL returns to its
//    caller instead of ending the process;
//  - thread churn: 2000 threads, started and ended one after another, each
//    calling GLSPFIT and OLSPFIT once on 300 points, leave the process's
//    private memory where it was (the fit workspaces each thread keeps are
//    released at thread exit) and each get the main thread's results bit for
//    bit.
// Prints one line per failure, the largest difference from the Linux
// library, and the closing line 'N passed, N failed'.  Exits 1 on failure.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <xmmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "cases.h"
#include "numeric/lapack.h"
#if defined(_WIN64)
#include "win64_probe.h"
#else
#include "stdcall_probe.h"
#endif

namespace {

using quorvex_cases::Entry;
using quorvex_cases::EntryInfo;
using quorvex_cases::kEntries;
using quorvex_cases::Output;
using quorvex_cases::Result;

const char kDllName[] = "QUORVEXv1.dll";
#if defined(_WIN64)
// x64 has no name decoration: the k-th entry point is exported once, under
// its plain name, with ordinal k + 1.
constexpr int kNamesPerEntry = 1;
const char kSecondRun[] = "ordinal";
#else
// The k-th entry point is exported under its plain name with ordinal 2k + 1
// and under its decorated name with ordinal 2k + 2.
constexpr int kNamesPerEntry = 2;
const char kSecondRun[] = "decorated";
#endif
constexpr unsigned kExports = 6 * kNamesPerEntry;
constexpr unsigned plain_ordinal(int k) { return kNamesPerEntry * k + 1; }
// A difference within this many ulps of the value, or of the largest
// magnitude in the same output, counts as agreement.
constexpr double kMaxUlps = 4.0;

int g_passed = 0, g_failed = 0, g_skipped = 0;

void report(bool ok, const std::string& what) {
  if (ok) {
    ++g_passed;
  } else {
    ++g_failed;
    std::printf("FAILED: %s\n", what.c_str());
  }
}

// ------------------------------------------------------------ export table
const BYTE* image_base(HMODULE m) { return reinterpret_cast<const BYTE*>(m); }

// The headers of this program's own bitness (IMAGE_NT_HEADERS64 on x64).
const IMAGE_NT_HEADERS* nt_headers(HMODULE m) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(m);
  return reinterpret_cast<const IMAGE_NT_HEADERS*>(image_base(m) + dos->e_lfanew);
}

void check_exports(HMODULE dll) {
  const IMAGE_DATA_DIRECTORY& d =
      nt_headers(dll)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (d.VirtualAddress == 0) {
    report(false, "the DLL has no export directory");
    return;
  }
  const BYTE* base = image_base(dll);
  const auto* ed = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + d.VirtualAddress);
  const auto* functions = reinterpret_cast<const DWORD*>(base + ed->AddressOfFunctions);
  const auto* names = reinterpret_cast<const DWORD*>(base + ed->AddressOfNames);
  const auto* ordinals = reinterpret_cast<const WORD*>(base + ed->AddressOfNameOrdinals);
  const char* dllname = reinterpret_cast<const char*>(base + ed->Name);

  report(std::strcmp(dllname, kDllName) == 0,
         std::string("export directory names the DLL ") + dllname);
  report(ed->Base == 1, "ordinal base is " + std::to_string(ed->Base) + ", not 1");
  report(ed->NumberOfFunctions == kExports && ed->NumberOfNames == kExports,
         "exports " + std::to_string(ed->NumberOfFunctions) + " functions under " +
             std::to_string(ed->NumberOfNames) + " names, not " + std::to_string(kExports) +
             " and " + std::to_string(kExports));

  // Every name, with its ordinal: exactly the ones expected.
  std::vector<std::string> seen;
  bool sorted = true;
  for (DWORD i = 0; i < ed->NumberOfNames; ++i) {
    const char* name = reinterpret_cast<const char*>(base + names[i]);
    const unsigned ordinal = ed->Base + ordinals[i];
    if (i > 0 && std::strcmp(reinterpret_cast<const char*>(base + names[i - 1]), name) >= 0)
      sorted = false;
    bool expected = false;
    for (int k = 0; k < 6; ++k) {
      if (std::strcmp(name, kEntries[k].name) == 0 && ordinal == plain_ordinal(k)) expected = true;
      if (kNamesPerEntry == 2 && std::strcmp(name, kEntries[k].decorated) == 0 &&
          ordinal == 2u * k + 2)
        expected = true;
    }
    report(expected, std::string("unexpected export ") + name + " @" + std::to_string(ordinal));
    seen.push_back(name);
  }
  report(sorted, "the export name table is not sorted");

  for (int k = 0; k < 6 && kNamesPerEntry == 1; ++k) {
    const EntryInfo& e = kEntries[k];
    report(std::count(seen.begin(), seen.end(), e.name) == 1,
           std::string(e.name) + " is not exported once");
    const FARPROC plain = GetProcAddress(dll, e.name);
    report(plain != nullptr && plain == GetProcAddress(dll, MAKEINTRESOURCEA(k + 1)),
           std::string(e.name) + ": name and ordinal " + std::to_string(k + 1) +
               " do not give one address");
    report(GetProcAddress(dll, e.decorated) == nullptr,
           std::string(e.name) + ": the 32-bit decorated name " + e.decorated + " is exported");
    report(static_cast<DWORD>(k) < ed->NumberOfFunctions &&
               plain == reinterpret_cast<FARPROC>(base + functions[k]),
           std::string(e.name) + ": export address table entry differs");
  }
  for (int k = 0; k < 6 && kNamesPerEntry == 2; ++k) {
    const EntryInfo& e = kEntries[k];
    const bool both = std::count(seen.begin(), seen.end(), e.name) == 1 &&
                      std::count(seen.begin(), seen.end(), e.decorated) == 1;
    report(both, std::string(e.name) + " and " + e.decorated + " are not both exported once");
    const FARPROC plain = GetProcAddress(dll, e.name);
    const FARPROC decorated = GetProcAddress(dll, e.decorated);
    const FARPROC by_plain_ordinal = GetProcAddress(dll, MAKEINTRESOURCEA(2 * k + 1));
    const FARPROC by_decorated_ordinal = GetProcAddress(dll, MAKEINTRESOURCEA(2 * k + 2));
    const bool one_address = plain != nullptr && plain == decorated &&
                             plain == by_plain_ordinal && plain == by_decorated_ordinal;
    report(one_address, std::string(e.name) + ": names and ordinals " + std::to_string(2 * k + 1) +
                            ", " + std::to_string(2 * k + 2) + " do not share one address");
    const bool in_table = 2 * k + 1 < static_cast<int>(ed->NumberOfFunctions) &&
                          functions[2 * k] == functions[2 * k + 1] &&
                          plain == reinterpret_cast<FARPROC>(base + functions[2 * k]);
    report(in_table, std::string(e.name) + ": export address table entries differ");
  }
}

// Every DLL the library imports must be a Windows system DLL.
void check_imports(HMODULE dll) {
  static const char* const kSystem[] = {"kernel32.dll", "msvcrt.dll", "user32.dll",
                                        "advapi32.dll", "ntdll.dll"};
  const IMAGE_DATA_DIRECTORY& d =
      nt_headers(dll)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  const BYTE* base = image_base(dll);
  std::string list;
  bool ok = true;
  if (d.VirtualAddress != 0) {
    for (const auto* id = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + d.VirtualAddress);
         id->Name != 0; ++id) {
      const char* name = reinterpret_cast<const char*>(base + id->Name);
      bool system = false;
      for (const char* s : kSystem) system = system || lstrcmpiA(name, s) == 0;
      ok = ok && system;
      list += std::string(list.empty() ? "" : ", ") + name;
    }
  }
  std::printf("DLL imports: %s\n", list.c_str());
  report(ok, "the DLL imports a library that is not a Windows system DLL: " + list);
}

// The import library binds the header's declarations to the exported functions.
template <class F>
const void* address_of(F* f) {
  return reinterpret_cast<const void*>(f);
}

void check_import_library(HMODULE dll) {
  const void* bound[6] = {address_of(&::GLSPFIT),       address_of(&::IPVAL),
                          address_of(&::IPVAL_DEGREE1), address_of(&::LINEAR_CONV),
                          address_of(&::OLSPFIT),       address_of(&::POLYEVAL)};
  for (int k = 0; k < 6; ++k)
    report(bound[k] == address_of(GetProcAddress(dll, kEntries[k].name)),
           std::string("the import library binds ") + kEntries[k].name + " elsewhere");
}

// --------------------------------------------------------- checked calls
unsigned short x87_control() {
  unsigned short cw;
  asm volatile("fnstcw %0" : "=m"(cw));
  return cw;
}

void set_x87_control(unsigned short cw) { asm volatile("fldcw %0" : : "m"(cw)); }

#if defined(_WIN64)
// Calls `fn` through the x64 probe; returns what the callee failed to keep.
std::string probed_call(void* fn, void* const* args, int nargs) {
  quorvex_probe::Frame64 f{};
  f.fn = fn;
  f.nargs = static_cast<std::uint64_t>(nargs);
  f.args = args;
  quorvex_probe::call(f);
  std::string problem;
  if (f.rsp_after != f.rsp_before)
    problem += " stack pointer off by " +
               std::to_string(static_cast<long long>(f.rsp_after - f.rsp_before)) + " bytes;";
  for (int g = 0; g < 8; ++g)
    if (f.gpr[g] != quorvex_probe::gpr_marker(g))
      problem += std::string(" ") + quorvex_probe::kGprNames[g] + " changed;";
  for (int x = 0; x < 10; ++x)
    if (f.xmm[x][0] != quorvex_probe::xmm_marker(x, 0) ||
        f.xmm[x][1] != quorvex_probe::xmm_marker(x, 1))
      problem += " xmm" + std::to_string(6 + x) + " changed;";
  return problem;
}

// The probe itself: a callee that keeps everything passes, one that changes
// r12 and xmm9 is caught with exactly those two.
void check_probe() {
  const std::string clean = probed_call(reinterpret_cast<void*>(&GetCurrentThreadId), nullptr, 0);
  report(clean.empty(), "the x64 probe finds fault with GetCurrentThreadId:" + clean);
  const std::string caught = probed_call(quorvex_probe::clobbering_callee(), nullptr, 0);
  report(caught == " r12 changed; xmm9 changed;",
         "the x64 probe reports '" + caught + "' for a callee that changes r12 and xmm9");
}
#else
// Calls `fn` through the stdcall probe with the stack `misalign` bytes below
// a 16-byte boundary; returns what the callee failed to keep.
std::string probed_call(void* fn, void* const* args, int nargs, std::uint32_t misalign) {
  quorvex_probe::Frame f{};
  f.fn = fn;
  f.nargs = static_cast<std::uint32_t>(nargs);
  f.args = args;
  f.misalign = misalign;
  quorvex_probe::call(f);
  std::string problem;
  if (f.esp_after != f.esp_before + 4u * f.nargs)
    problem += " stack pointer off by " +
               std::to_string(static_cast<long long>(f.esp_after) - f.esp_before - 4 * nargs) +
               " bytes;";
  if (f.ebx != quorvex_probe::kEbx) problem += " ebx changed;";
  if (f.esi != quorvex_probe::kEsi) problem += " esi changed;";
  if (f.edi != quorvex_probe::kEdi) problem += " edi changed;";
  if (f.ebp != quorvex_probe::kEbp) problem += " ebp changed;";
  return problem;
}
#endif

// Calls through GetProcAddress pointers and the calling-convention probe;
// notes every breach of the convention against the call's index.  The
// second lookup is by the decorated names on 32-bit Windows and by the
// ordinals on x64.
class DllCaller : public quorvex_cases::Caller {
 public:
  DllCaller(HMODULE dll, bool second_lookup) {
    for (int k = 0; k < 6; ++k) {
#if defined(_WIN64)
      const char* name = second_lookup ? MAKEINTRESOURCEA(plain_ordinal(k)) : kEntries[k].name;
#else
      const char* name = second_lookup ? kEntries[k].decorated : kEntries[k].name;
#endif
      fn_[k] = reinterpret_cast<void*>(GetProcAddress(dll, name));
    }
  }

  void call(Entry e, void* const* args, int nargs) override {
    const int k = static_cast<int>(e);
    std::string problem;
    if (nargs != kEntries[k].nargs) problem += " argument count " + std::to_string(nargs) + ";";
    if (fn_[k] == nullptr) {
      problems_.push_back(" entry point not found;");
      return;
    }
    const unsigned short cw = x87_control();
    // MXCSR without its sticky exception flags: rounding, masks, FTZ, DAZ.
    const unsigned csr = _mm_getcsr() & ~0x3Fu;
#if defined(_WIN64)
    problem += probed_call(fn_[k], args, nargs);
#else
    problem += probed_call(fn_[k], args, nargs, 4u * (problems_.size() % 4));
#endif
    if (x87_control() != cw) problem += " x87 control word changed;";
    if ((_mm_getcsr() & ~0x3Fu) != csr) problem += " MXCSR control bits changed;";
    problems_.push_back(problem);
  }

  const std::vector<std::string>& problems() const { return problems_; }

 private:
  void* fn_[6];
  std::vector<std::string> problems_;  // one per call, empty when clean
};

// --------------------------------------------------------- comparison
std::uint64_t ordered(double v) {
  std::uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return (u >> 63) != 0 ? ~u : u | (std::uint64_t{1} << 63);
}

double ulps_between(double a, double b) {
  const std::uint64_t x = ordered(a), y = ordered(b);
  return static_cast<double>(x > y ? x - y : y - x);
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct Largest {
  double ulps = 0.0, scaled = 0.0;
  std::string where_ulps, where_scaled;
};
Largest g_largest;

// Compares one output of the DLL with the Linux one; appends what disagrees.
void compare_output(const std::string& where, const Output& dll, const Output& lin,
                    std::string& problem) {
  if (dll.integer != lin.integer || dll.ints.size() != lin.ints.size() ||
      dll.reals.size() != lin.reals.size()) {
    problem += " " + dll.name + " differs in shape;";
    return;
  }
  if (dll.integer) {
    for (std::size_t i = 0; i < dll.ints.size(); ++i)
      if (dll.ints[i] != lin.ints[i]) {
        problem += " " + dll.name + "[" + std::to_string(i) + "] = " + std::to_string(dll.ints[i]) +
                   ", Linux " + std::to_string(lin.ints[i]) + ";";
        return;
      }
    return;
  }
  // The largest finite magnitude of the output proper (guard elements aside).
  double scale = 0.0;
  for (std::size_t i = 0; i + lin.guard < lin.reals.size(); ++i)
    if (std::isfinite(lin.reals[i])) scale = std::max(scale, std::fabs(lin.reals[i]));
  const double ulp_of_scale =
      scale > 0.0 ? std::nextafter(scale, std::numeric_limits<double>::infinity()) - scale
                  : std::numeric_limits<double>::denorm_min();
  for (std::size_t i = 0; i < dll.reals.size(); ++i) {
    const double a = dll.reals[i], b = lin.reals[i];
    if (same_bits(a, b) || (std::isnan(a) && std::isnan(b))) continue;
    const double ulps = ulps_between(a, b);
    const double scaled = std::isfinite(a) && std::isfinite(b) ? std::fabs(a - b) / ulp_of_scale
                                                               : std::numeric_limits<double>::infinity();
    const std::string at = where + " " + dll.name + "[" + std::to_string(i) + "]";
    if (ulps > g_largest.ulps) g_largest.ulps = ulps, g_largest.where_ulps = at;
    if (scaled > g_largest.scaled) g_largest.scaled = scaled, g_largest.where_scaled = at;
    if (ulps > kMaxUlps && scaled > kMaxUlps) {
      char buf[160];
      std::snprintf(buf, sizeof buf, " %s[%zu] = %.17g, Linux %.17g (%.3g ulps);",
                    dll.name.c_str(), i, a, b, ulps);
      problem += buf;
    }
  }
}

// The guard elements after every output still hold the sentinel.
void check_guards(const Result& r, const char* side, std::string& problem) {
  for (const Output& o : r.outputs) {
    const std::size_t n = o.integer ? o.ints.size() : o.reals.size();
    for (std::size_t i = n - std::min(n, o.guard); i < n; ++i) {
      const bool intact = o.integer ? o.ints[i] == quorvex_cases::kIntSentinel
                                    : same_bits(o.reals[i], quorvex_cases::kRealSentinel);
      if (!intact) {
        problem += std::string(" ") + side + " wrote past the end of " + o.name + ";";
        break;
      }
    }
  }
}

// Runs the table through `caller` and checks every case.  `previous`, when
// given, must be matched bit for bit.
std::vector<Result> run_and_check(const char* label, DllCaller& caller,
                                  const std::vector<Result>& linux_results,
                                  const std::vector<Result>* previous) {
  const std::vector<Result> results = quorvex_cases::run_cases(caller);
  if (results.size() != linux_results.size() || caller.problems().size() != results.size()) {
    report(false, std::string(label) + ": the case table differs from the Linux file (" +
                      std::to_string(results.size()) + " cases here, " +
                      std::to_string(linux_results.size()) + " there)");
    return results;
  }
  for (std::size_t c = 0; c < results.size(); ++c) {
    const Result& r = results[c];
    const Result& lin = linux_results[c];
    const std::string where = std::string(label) + " " + r.name;
    std::string problem = caller.problems()[c];
    if (lin.name != r.name || lin.outputs.size() != r.outputs.size()) {
      report(false, where + ": no matching case in the Linux file");
      continue;
    }
    for (std::size_t k = 0; k < r.outputs.size(); ++k)
      compare_output(where, r.outputs[k], lin.outputs[k], problem);
    check_guards(r, "the DLL", problem);
    check_guards(lin, "the Linux library", problem);
    if (previous != nullptr) {
      const Result& p = (*previous)[c];
      for (std::size_t k = 0; k < r.outputs.size() && k < p.outputs.size(); ++k) {
        const Output& a = r.outputs[k];
        const Output& b = p.outputs[k];
        bool same = a.ints == b.ints && a.reals.size() == b.reals.size();
        for (std::size_t i = 0; same && i < a.reals.size(); ++i) same = same_bits(a.reals[i], b.reals[i]);
        if (!same) problem += " " + a.name + " differs from the plain-name call;";
      }
    }
    // Statuses: the ones the case is built for.  An entry point that is
    // still a placeholder answers 999 on both sides; such a case is skipped.
    bool placeholder = false;
    for (const quorvex_cases::StatusCheck& s : r.checks) {
      int got = 0, linux_got = 0;
      if (!quorvex_cases::status_of(r, s, got)) {
        problem += " no status " + s.output + ";";
        continue;
      }
      if (got >= s.lo && got <= s.hi) continue;
      if (got == QVX_NO_STORAGE && quorvex_cases::status_of(lin, s, linux_got) &&
          linux_got == QVX_NO_STORAGE) {
        placeholder = true;
        continue;
      }
      problem += " " + s.output + " = " + std::to_string(got) + ", expected " +
                 (s.lo == s.hi ? std::to_string(s.lo)
                               : std::to_string(s.lo) + ".." + std::to_string(s.hi)) +
                 ";";
    }
    if (problem.empty() && placeholder) {
      ++g_skipped;
      continue;
    }
    report(problem.empty(), where + ":" + problem);
  }
  return results;
}

// LAPACK's parameter-error handler in the DLL (the same object is linked into
// this program) returns, and the routine reports the bad argument in INFO.
void check_parameter_error_returns() {
  const int m = -1, n = 2, lda = 1, lwork = 4;
  double a[2] = {1.0, 2.0}, tau[2], work[4];
  int info = 0;
  dgeqrf_(&m, &n, a, &lda, tau, work, &lwork, &info);
  report(info == -1, "dgeqrf with M = -1 gave INFO = " + std::to_string(info) + ", not -1");
  const int k = 1, ldc = 2;
  double c[4] = {0.0, 0.0, 0.0, 0.0};
  info = 0;
  dormqr_("X", "N", &n, &n, &k, a, &ldc, tau, c, &ldc, work, &lwork, &info, 1, 1);
  report(info == -1, "dormqr with SIDE = 'X' gave INFO = " + std::to_string(info) + ", not -1");
}

// ------------------------------------------------------------ thread churn
// One GLSPFIT and one OLSPFIT call on 300 points of a quadratic with a
// deterministic wobble.
struct ChurnFit {
  static constexpr int kPoints = 300, kCoef = 3;
  decltype(&::GLSPFIT) fn = nullptr;
  decltype(&::OLSPFIT) ols = nullptr;
  std::vector<double> x, y, wx, wy;
  std::vector<double> param, cov, yfit, res, wres, r11, r12, r22;
  double sres = 0.0, wresmax = 0.0, rinfo[4] = {0.0, 0.0, 0.0, 0.0};
  int olstat = -7, istat[3] = {-7, -7, -7};
  std::vector<double> ocoef, ocov, oyfit, ores, owres;
  double osres = 0.0, owresmax = 0.0;
  int ostat = -7;

  ChurnFit(decltype(&::GLSPFIT) f, decltype(&::OLSPFIT) o)
      : fn(f), ols(o), x(kPoints), y(kPoints), wx(kPoints, 4.0), wy(kPoints, 2.0),
        param(kPoints + kCoef), cov(kCoef * kCoef), yfit(kPoints), res(2 * kPoints),
        wres(2 * kPoints), r11(kPoints), r12(kPoints * kCoef), r22(kCoef * (kCoef + 1) / 2),
        ocoef(kCoef), ocov(kCoef * kCoef), oyfit(kPoints), ores(kPoints), owres(kPoints) {
    for (int i = 0; i < kPoints; ++i) {
      x[i] = 10.0 * i / (kPoints - 1);
      y[i] = 1.0 + 2.0 * x[i] + 0.5 * x[i] * x[i] + 0.01 * std::sin(7.0 * i);
    }
  }
  void run() {
    const int n = kPoints, m = kCoef, maxit = 50;
    const double xmin = -1.0, xmax = 11.0, tol[2] = {1e-10, 1e-10}, sigma = 0.1;
    fn(&n, x.data(), y.data(), wx.data(), wy.data(), &m, &xmin, &xmax, tol, &maxit, &sigma,
       param.data(), cov.data(), &sres, yfit.data(), res.data(), wres.data(), &wresmax,
       r11.data(), r12.data(), r22.data(), rinfo, &olstat, istat);
    ols(&n, x.data(), y.data(), wy.data(), &m, &xmin, &xmax, ocoef.data(), ocov.data(), &osres,
        oyfit.data(), ores.data(), owres.data(), &owresmax, &ostat);
  }
  bool same(const ChurnFit& o) const {
    return istat[0] == o.istat[0] && istat[1] == o.istat[1] && istat[2] == o.istat[2] &&
           olstat == o.olstat && std::memcmp(param.data(), o.param.data(),
                                             param.size() * sizeof(double)) == 0 &&
           std::memcmp(cov.data(), o.cov.data(), cov.size() * sizeof(double)) == 0 &&
           std::memcmp(yfit.data(), o.yfit.data(), yfit.size() * sizeof(double)) == 0 &&
           ostat == o.ostat &&
           std::memcmp(ocoef.data(), o.ocoef.data(), ocoef.size() * sizeof(double)) == 0 &&
           std::memcmp(ocov.data(), o.ocov.data(), ocov.size() * sizeof(double)) == 0 &&
           std::memcmp(owres.data(), o.owres.data(), owres.size() * sizeof(double)) == 0;
  }
};

struct ChurnThread {
  const ChurnFit* reference;
  bool ok;
};

DWORD WINAPI churn_thread(LPVOID arg) {
  ChurnThread& t = *static_cast<ChurnThread*>(arg);
  ChurnFit fit(t.reference->fn, t.reference->ols);
  fit.run();
  t.ok = fit.same(*t.reference);
  return 0;
}

// Committed private memory of the process: the sum over the address space's
// committed private regions (heaps, thread stacks, thread-local blocks).  Wine
// leaves the process counters' PrivateUsage at zero, so the regions are added
// up here.
SIZE_T private_bytes() {
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION mbi;
  const BYTE* p = nullptr;
  while (VirtualQuery(p, &mbi, sizeof(mbi)) == sizeof(mbi)) {
    if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE) total += mbi.RegionSize;
    const BYTE* next = static_cast<const BYTE*>(mbi.BaseAddress) + mbi.RegionSize;
    if (next <= p) break;
    p = next;
  }
  return total;
}

// Starts and ends `count` threads one after another; false if one could
// not be started or its result differed from the reference.
bool churn(const ChurnFit& reference, int count) {
  bool ok = true;
  for (int k = 0; k < count; ++k) {
    ChurnThread t{&reference, false};
    HANDLE h = CreateThread(nullptr, 0, churn_thread, &t, 0, nullptr);
    if (h == nullptr) return false;
    WaitForSingleObject(h, INFINITE);
    CloseHandle(h);
    ok = ok && t.ok;
  }
  return ok;
}

// A thread keeps its fit workspaces (some 100 kB for GLSPFIT and 10 kB for
// OLSPFIT here) until it ends; workspaces not released at thread exit would
// add up to some 200 MB over the 2000 threads (20 MB for OLSPFIT's alone).
// The first 100 threads let the heap settle before measuring.
void check_thread_churn(HMODULE dll) {
  const auto fn = reinterpret_cast<decltype(&::GLSPFIT)>(
      reinterpret_cast<void*>(GetProcAddress(dll, "GLSPFIT")));
  const auto ols = reinterpret_cast<decltype(&::OLSPFIT)>(
      reinterpret_cast<void*>(GetProcAddress(dll, "OLSPFIT")));
  if (fn == nullptr || ols == nullptr) {
    report(false, "thread churn: GLSPFIT or OLSPFIT not found");
    return;
  }
  ChurnFit reference(fn, ols);
  reference.run();
  report(reference.istat[0] == QVX_GLS_CONVERGED && reference.olstat == QVX_OK,
         "thread churn: the reference fit ends in status " + std::to_string(reference.istat[0]));
  report(reference.ostat == QVX_OK,
         "thread churn: the reference ordinary fit ends in status " +
             std::to_string(reference.ostat));
  constexpr int kWarmup = 100, kThreads = 2000;
  constexpr SIZE_T kAllowed = SIZE_T{8} << 20;
  const bool warm = churn(reference, kWarmup);
  const SIZE_T before = private_bytes();
  const bool all = churn(reference, kThreads);
  const SIZE_T after = private_bytes();
  report(warm && all, "thread churn: a thread could not be started or its fit differed");
  report(before > 0 && after > 0, "thread churn: no process memory counters");
  const double grown = (static_cast<double>(after) - static_cast<double>(before)) / 1048576.0;
  std::printf("thread churn: %d threads, private memory %.1f MB before, %+.1f MB after\n",
              kThreads, static_cast<double>(before) / 1048576.0, grown);
  report(after <= before + kAllowed,
         "thread churn: private memory grew by " + std::to_string(grown) + " MB");
}

}  // namespace

int main(int argc, char** argv) {
  // Plain '\n' line ends, whatever the console.
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc != 2) {
    std::printf("usage: %s CASES\n", argv[0]);
    return 2;
  }
  std::vector<Result> linux_results;
  {
    std::ifstream in(argv[1], std::ios::binary);
    std::string error;
    if (!in || !quorvex_cases::read_results(in, linux_results, error)) {
      std::printf("cannot read the Linux results %s: %s\n", argv[1], error.c_str());
      std::printf("0 passed, 1 failed\n");
      return 1;
    }
  }

  HMODULE dll = LoadLibraryA(kDllName);
  if (dll == nullptr) {
    std::printf("cannot load %s (error %lu)\n", kDllName, GetLastError());
    std::printf("0 passed, 1 failed\n");
    return 1;
  }
  check_exports(dll);
  check_imports(dll);
  check_import_library(dll);
#if defined(_WIN64)
  check_probe();
#endif

  DllCaller plain(dll, false), second(dll, true), precision53(dll, false);
  const std::vector<Result> first = run_and_check("plain", plain, linux_results, nullptr);
  run_and_check(kSecondRun, second, linux_results, &first);
  const unsigned short cw = x87_control();
  set_x87_control(static_cast<unsigned short>((cw & ~0x0300u) | 0x0200u));
  run_and_check("x87-53bit", precision53, linux_results, nullptr);
  set_x87_control(cw);

  check_parameter_error_returns();
  check_thread_churn(dll);

  std::printf("cases: %zu, each run three times (plain names, %s, 53-bit x87)\n",
              linux_results.size(), kNamesPerEntry == 2 ? "decorated names" : "ordinals");
  std::printf("largest difference from the Linux library: %.0f ulps%s%s; "
              "%.3g ulps of the output's largest magnitude%s%s\n",
              g_largest.ulps, g_largest.where_ulps.empty() ? "" : " at ",
              g_largest.where_ulps.c_str(), g_largest.scaled,
              g_largest.where_scaled.empty() ? "" : " at ", g_largest.where_scaled.c_str());
  if (g_skipped > 0)
    std::printf("%d cases skipped: their entry point answers %d on Linux too (not built yet)\n",
                g_skipped, QVX_NO_STORAGE);
  if (g_skipped > 0)
    std::printf("%d passed, %d failed, %d skipped\n", g_passed, g_failed, g_skipped);
  else
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
