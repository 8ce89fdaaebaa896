// A table of calls of the laboratory library's functions (quorvex_lab.h),
// shared by the two sides of the Windows cross-check of QUORVEXlab1.dll.
// The Linux generator runs it against libQUORVEXlab1.so and writes every
// output of every call; the Wine check runs it against the DLL and compares
// bit for bit.  Every input is a literal or built with + - * / from
// literals, so both sides pass the same bits; no input comes from a fit
// (the engine's DLL may differ from the Linux library in the last bits).
//
// Every output buffer starts filled with a sentinel and carries guard
// elements after its end, so outputs a call leaves alone and writes past the
// end show in the results.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <type_traits>
#include <vector>

#include "quorvex_lab.h"

namespace quorvex_lab_cases {

enum class Fn { QVXL_DISTRIBUTION, QVXL_READBACK };

struct FnInfo {
  Fn fn;
  const char* name;       // plain exported name
  const char* decorated;  // decorated standard-call name of the 32-bit DLL
  int nargs;              // number of arguments (all addresses)
};

// The functions the table calls.  The export table as a whole is checked
// against the header by tests/windows/check_lab_exports.py.
extern const FnInfo kFunctions[2];

class Caller {
 public:
  virtual ~Caller() = default;
  virtual void call(Fn f, void* const* args, int nargs) = 0;

  // Checks the arguments against the header's declaration Decl, then calls.
  template <class Decl, class... A>
  void typed(Fn f, A... a) {
    static_assert(std::is_invocable_v<Decl*, A...>, "arguments do not match the declaration");
    void* args[] = {const_cast<void*>(static_cast<const void*>(a))...};
    call(f, args, static_cast<int>(sizeof...(A)));
  }
};

#define QVXL_CASE_CALL(caller, NAME, ...) \
  (caller).typed<decltype(::NAME)>(::quorvex_lab_cases::Fn::NAME, __VA_ARGS__)

// Sentinels every output starts from, and the guard after each array.
constexpr double kRealSentinel = -1234.5;
constexpr std::int32_t kIntSentinel = -77;
constexpr int kGuard = 2;

struct Output {
  std::string name;
  bool integer = false;
  std::vector<double> reals;
  std::vector<std::int32_t> ints;
};

struct Result {
  std::string name;      // one per case, unique
  std::string function;  // QVXL_DISTRIBUTION, QVXL_READBACK
  std::vector<int> want;  // the status each call is built for (not in the file)
  std::vector<Output> outputs;  // ISTAT holds one status per call
};

std::vector<Result> run_cases(Caller& caller);

// The probabilities of every quantile case, in the order of its outputs.
extern const std::vector<double> kQuantileProbs;

// The statuses a result reports, one per call (the output ISTAT without its
// guard elements); empty without one.
std::vector<int> statuses_of(const Result& r);

// Text form, one case after the other, reals as hexadecimal bit patterns.
void write_results(std::ostream& os, const std::vector<Result>& results);
bool read_results(std::istream& is, std::vector<Result>& results, std::string& error);

}  // namespace quorvex_lab_cases
