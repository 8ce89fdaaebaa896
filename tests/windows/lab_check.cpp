// Host-side test of QUORVEXlab1.dll, the laboratory library, run under Wine:
// built for 32-bit Windows against the 32-bit DLL and for x64 against the
// 64-bit one.
//
//   quorvex_lab_check CASES
//
// CASES is the file the Linux generator (lab_generate.cpp) wrote from
// libQUORVEXlab1.so.  Checks:
//  - each function the table calls is exported under its plain name, and on
//    32-bit Windows under its decorated name at the same address (on x64
//    the decorated name is absent); the import library binds the header's
//    declarations to those addresses.  The export table as a whole is
//    checked against the header by tests/windows/check_lab_exports.py;
//  - every call of the table goes through the calling-convention probe of
//    the Wine check of the engine (stdcall: the callee removes exactly
//    4 x its argument count, so a wrong count in the header shows here;
//    x64: the preserved registers) and leaves the x87 control word and
//    MXCSR as it found them;
//  - the table runs through the plain names, through the decorated names
//    (32-bit; bit for bit the first run), and with the x87 unit at 53-bit
//    precision as many hosts leave it (bit for bit the first run);
//  - every output is compared with the Linux library's: integers (statuses,
//    root counts, sources, flags) must be equal; reals are listed wherever
//    their bits differ, with the difference in ulps.  The C libraries differ
//    in the last bits of exp, log, pow, log1p and expm1, which Boost.Math
//    calls, and its root finders carry such differences on; a real passes
//    within 1e-12 relative.  Beyond that only the non-central t where Boost
//    computes it to an absolute, not a relative, accuracy: its tails pass
//    within 1e-15 absolute (the lower tail far left of a positive
//    non-centrality is off by some 1e-16 on every platform, negative at
//    times), its quantiles at p <= 1e-6 or >= 1 - 1e-6 without a bound;
//  - guard elements after each output are untouched; every status is the
//    one the case is built for, and a refused call leaves every other output
//    as it was.
// Prints each real that differs, a summary by function, and 'N passed, N
// failed'.
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
#include <map>
#include <string>
#include <vector>

#include "lab_cases.h"
#if defined(_WIN64)
#include "win64_probe.h"
#else
#include "stdcall_probe.h"
#endif

namespace {

using quorvex_lab_cases::Fn;
using quorvex_lab_cases::kFunctions;
using quorvex_lab_cases::Output;
using quorvex_lab_cases::Result;

const char kDllName[] = "QUORVEXlab1.dll";
constexpr int kFunctionCount = sizeof(kFunctions) / sizeof(kFunctions[0]);

int g_passed = 0, g_failed = 0;

void report(bool ok, const std::string& what) {
  if (ok) {
    ++g_passed;
  } else {
    ++g_failed;
    std::printf("FAILED: %s\n", what.c_str());
  }
}

template <class F>
const void* address_of(F* f) {
  return reinterpret_cast<const void*>(f);
}

void check_names(HMODULE dll) {
  for (const auto& f : kFunctions) {
    const FARPROC plain = GetProcAddress(dll, f.name);
    const FARPROC decorated = GetProcAddress(dll, f.decorated);
    report(plain != nullptr, std::string(f.name) + " is not exported");
#if defined(_WIN64)
    report(decorated == nullptr, std::string(f.name) + ": the 32-bit name " + f.decorated +
                                     " is exported by the 64-bit DLL");
#else
    report(plain != nullptr && decorated == plain,
           std::string(f.name) + " and " + f.decorated + " are not one address");
#endif
  }
  report(address_of(&::QVXL_DISTRIBUTION) ==
             address_of(GetProcAddress(dll, "QVXL_DISTRIBUTION")),
         "the import library binds QVXL_DISTRIBUTION elsewhere");
  report(address_of(&::QVXL_READBACK) == address_of(GetProcAddress(dll, "QVXL_READBACK")),
         "the import library binds QVXL_READBACK elsewhere");
}

unsigned short x87_control() {
  unsigned short cw;
  asm volatile("fnstcw %0" : "=m"(cw));
  return cw;
}

void set_x87_control(unsigned short cw) { asm volatile("fldcw %0" : : "m"(cw)); }

// Calls `fn` through the probe; returns what the callee failed to keep.
std::string probed_call(void* fn, void* const* args, int nargs, int index) {
#if defined(_WIN64)
  (void)index;
  quorvex_probe::Frame64 f{};
  f.fn = fn;
  f.nargs = static_cast<std::uint64_t>(nargs);
  f.args = args;
  quorvex_probe::call(f);
  std::string problem;
  if (f.rsp_after != f.rsp_before) problem += " stack pointer moved;";
  for (int g = 0; g < 8; ++g)
    if (f.gpr[g] != quorvex_probe::gpr_marker(g))
      problem += std::string(" ") + quorvex_probe::kGprNames[g] + " changed;";
  for (int x = 0; x < 10; ++x)
    if (f.xmm[x][0] != quorvex_probe::xmm_marker(x, 0) ||
        f.xmm[x][1] != quorvex_probe::xmm_marker(x, 1))
      problem += " xmm" + std::to_string(6 + x) + " changed;";
  return problem;
#else
  quorvex_probe::Frame f{};
  f.fn = fn;
  f.nargs = static_cast<std::uint32_t>(nargs);
  f.args = args;
  f.misalign = 4u * static_cast<std::uint32_t>(index % 4);
  quorvex_probe::call(f);
  std::string problem;
  if (f.esp_after != f.esp_before + 4u * f.nargs)
    problem += " the callee removed " +
               std::to_string(static_cast<long long>(f.esp_after) - f.esp_before) +
               " bytes of arguments, not " + std::to_string(4 * nargs) + ";";
  if (f.ebx != quorvex_probe::kEbx) problem += " ebx changed;";
  if (f.esi != quorvex_probe::kEsi) problem += " esi changed;";
  if (f.edi != quorvex_probe::kEdi) problem += " edi changed;";
  if (f.ebp != quorvex_probe::kEbp) problem += " ebp changed;";
  return problem;
#endif
}

class DllCaller : public quorvex_lab_cases::Caller {
 public:
  DllCaller(HMODULE dll, bool decorated) {
    for (int k = 0; k < kFunctionCount; ++k)
      fn_[k] = reinterpret_cast<void*>(
          GetProcAddress(dll, decorated ? kFunctions[k].decorated : kFunctions[k].name));
  }
  void call(Fn f, void* const* args, int nargs) override {
    const int k = static_cast<int>(f);
    ++calls_;
    if (nargs != kFunctions[k].nargs)
      problems_.push_back(std::string(kFunctions[k].name) + ": argument count " +
                          std::to_string(nargs));
    if (fn_[k] == nullptr) {
      problems_.push_back(std::string(kFunctions[k].name) + ": not found");
      return;
    }
    const unsigned short cw = x87_control();
    const unsigned csr = _mm_getcsr() & ~0x3Fu;
    std::string p = probed_call(fn_[k], args, nargs, calls_);
    if (x87_control() != cw) p += " x87 control word changed;";
    if ((_mm_getcsr() & ~0x3Fu) != csr) p += " MXCSR control bits changed;";
    if (!p.empty()) problems_.push_back(std::string(kFunctions[k].name) + ":" + p);
  }
  const std::vector<std::string>& problems() const { return problems_; }

 private:
  void* fn_[kFunctionCount];
  int calls_ = 0;
  std::vector<std::string> problems_;
};

// ------------------------------------------------------------ comparison
std::uint64_t bits(double v) {
  std::uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return u;
}

double ulps_between(double a, double b) {
  auto ordered = [](double v) {
    const std::uint64_t u = bits(v);
    return (u >> 63) != 0 ? ~u : u | (std::uint64_t{1} << 63);
  };
  const std::uint64_t x = ordered(a), y = ordered(b);
  return static_cast<double>(x > y ? x - y : y - x);
}

struct Tally {
  int values = 0, differing = 0, beyond = 0;
  double largest_ulps = 0.0;
  std::string where;
};
std::map<std::string, Tally> g_tally;  // by function
int g_listed = 0;
constexpr int kListLimit = 1000;
constexpr double kRelative = 1e-12;

// A real of a non-central t case where its computation is ill-conditioned.
bool ill_conditioned(const Result& r, const Output& o, std::size_t i, double a, double b) {
  if (r.name.rfind("nct_", 0) != 0) return false;
  const bool quantile = r.name.size() > 9 && r.name.compare(r.name.size() - 9, 9, "_quantile") == 0;
  if (quantile) {
    const std::vector<double>& p = quorvex_lab_cases::kQuantileProbs;
    return i < p.size() && (p[i] <= 1e-6 || p[i] >= 1.0 - 1e-6);
  }
  return o.name == "P" && std::fabs(a - b) <= 1e-15;
}

// Compares a run's results with the Linux results, bit for bit.
void compare_with_linux(const char* label, const std::vector<Result>& got,
                        const std::vector<Result>& lin, bool tally) {
  if (got.size() != lin.size()) {
    report(false, std::string(label) + ": " + std::to_string(got.size()) + " cases here, " +
                      std::to_string(lin.size()) + " in the Linux file");
    return;
  }
  for (std::size_t c = 0; c < got.size(); ++c) {
    const Result& r = got[c];
    const Result& l = lin[c];
    std::string problem;
    if (r.name != l.name || r.outputs.size() != l.outputs.size()) {
      report(false, std::string(label) + " " + r.name + ": no matching case in the Linux file");
      continue;
    }
    int differing = 0;
    for (std::size_t k = 0; k < r.outputs.size(); ++k) {
      const Output& a = r.outputs[k];
      const Output& b = l.outputs[k];
      if (a.integer != b.integer || a.ints.size() != b.ints.size() ||
          a.reals.size() != b.reals.size()) {
        problem += " " + a.name + " differs in shape;";
        continue;
      }
      if (a.integer) {
        if (a.ints != b.ints) problem += " " + a.name + " differs;";
        continue;
      }
      for (std::size_t i = 0; i < a.reals.size(); ++i) {
        const bool nan_both = std::isnan(a.reals[i]) && std::isnan(b.reals[i]);
        Tally& t = g_tally[r.function];
        if (tally) ++t.values;
        if (bits(a.reals[i]) == bits(b.reals[i]) || nan_both) continue;
        const double u = ulps_between(a.reals[i], b.reals[i]);
        const double rel = std::fabs(a.reals[i] - b.reals[i]) /
                           std::max(std::fabs(a.reals[i]), std::fabs(b.reals[i]));
        const bool ill = ill_conditioned(r, a, i, a.reals[i], b.reals[i]);
        if (!(rel <= kRelative) && !ill) ++differing;
        const std::string at = r.name + " " + a.name + "[" + std::to_string(i) + "]";
        if (tally) {
          ++t.differing;
          if (!(rel <= kRelative)) ++t.beyond;
          if (u > t.largest_ulps) t.largest_ulps = u, t.where = at;
        }
        if (tally && g_listed < kListLimit) {
          ++g_listed;
          std::printf("  differs: %s = %.17g, Linux %.17g (%.0f ulps, %.2g relative%s)\n",
                      at.c_str(), a.reals[i], b.reals[i], u, rel,
                      rel <= kRelative ? "" : ill ? ", ill-conditioned" : ", TOO LARGE");
        }
      }
    }
    if (differing > 0)
      problem.append(" ").append(std::to_string(differing)).append(
          " values differ from Linux by more than allowed;");
    report(problem.empty(), std::string(label) + " " + r.name + ":" + problem);
  }
}

bool same_results(const std::vector<Result>& a, const std::vector<Result>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t c = 0; c < a.size(); ++c) {
    if (a[c].outputs.size() != b[c].outputs.size()) return false;
    for (std::size_t k = 0; k < a[c].outputs.size(); ++k) {
      const Output& x = a[c].outputs[k];
      const Output& y = b[c].outputs[k];
      if (x.ints != y.ints || x.reals.size() != y.reals.size()) return false;
      for (std::size_t i = 0; i < x.reals.size(); ++i)
        if (bits(x.reals[i]) != bits(y.reals[i])) return false;
    }
  }
  return true;
}

// Statuses as built for; guards intact; a refused call changes nothing else.
void check_statuses(const std::vector<Result>& results) {
  using namespace quorvex_lab_cases;
  for (const Result& r : results) {
    const std::vector<int> st = statuses_of(r);
    std::string problem;
    if (st != r.want) {
      problem += " statuses";
      for (int s : st) problem.append(" ").append(std::to_string(s));
      problem += ", expected";
      for (int s : r.want) problem.append(" ").append(std::to_string(s));
      problem += ";";
    }
    const bool refused = !r.want.empty() && r.want[0] != QVXL_OK && r.function == "QVXL_READBACK";
    for (const Output& o : r.outputs) {
      const std::size_t n = o.integer ? o.ints.size() : o.reals.size();
      const std::size_t from = refused && o.name != "ISTAT" ? 0 : n - kGuard;
      for (std::size_t i = from; i < n; ++i) {
        const bool intact =
            o.integer ? o.ints[i] == kIntSentinel : bits(o.reals[i]) == bits(kRealSentinel);
        if (!intact) {
          problem += " " + o.name + (i >= n - kGuard ? ": written past its end;" : ": changed;");
          break;
        }
      }
    }
    report(problem.empty(), r.name + ":" + problem);
  }
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc != 2) {
    std::printf("usage: %s CASES\n", argv[0]);
    return 2;
  }
  std::vector<Result> linux_results;
  {
    std::ifstream in(argv[1], std::ios::binary);
    std::string error;
    if (!in || !quorvex_lab_cases::read_results(in, linux_results, error)) {
      std::printf("cannot read the Linux results %s: %s\n0 passed, 1 failed\n", argv[1],
                  error.c_str());
      return 1;
    }
  }
  HMODULE dll = LoadLibraryA(kDllName);
  if (dll == nullptr) {
    std::printf("cannot load %s (error %lu)\n0 passed, 1 failed\n", kDllName, GetLastError());
    return 1;
  }
  check_names(dll);

  DllCaller plain(dll, false);
  const std::vector<Result> first = quorvex_lab_cases::run_cases(plain);
  for (const std::string& p : plain.problems()) report(false, "plain names: " + p);
  check_statuses(first);
  compare_with_linux("plain", first, linux_results, true);

#if !defined(_WIN64)
  DllCaller decorated(dll, true);
  const std::vector<Result> second = quorvex_lab_cases::run_cases(decorated);
  for (const std::string& p : decorated.problems()) report(false, "decorated names: " + p);
  report(same_results(first, second), "the decorated names give other results than the plain");
#endif
  DllCaller precision53(dll, false);
  const unsigned short cw = x87_control();
  set_x87_control(static_cast<unsigned short>((cw & ~0x0300u) | 0x0200u));
  const std::vector<Result> third = quorvex_lab_cases::run_cases(precision53);
  set_x87_control(cw);
  for (const std::string& p : precision53.problems()) report(false, "53-bit x87: " + p);
  report(same_results(first, third), "with the x87 unit at 53-bit precision the results change");

  std::printf("laboratory cases: %zu\n", first.size());
  for (const auto& [fn, t] : g_tally) {
    std::printf("%s: %d of %d reals have the Linux library's bits", fn.c_str(),
                t.values - t.differing, t.values);
    if (t.differing > 0)
      std::printf("; %d differ, %d of them by more than %.0e relative (largest %.0f ulps at %s)",
                  t.differing, t.beyond, kRelative, t.largest_ulps, t.where.c_str());
    std::printf("\n");
  }
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
