// A table of calls of the six entry points, shared by the two sides of the
// Windows cross-check.  The Linux generator runs it against libQUORVEXv1.so
// and writes every output of every call to a file; the Wine test runs it
// against QUORVEXv1.dll and compares.  The inputs are built with + - * /
// only, so both sides pass bit-identical arguments.
//
// Every output buffer is filled with a sentinel before the call and carries
// guard elements after its end, so outputs a call leaves alone and writes
// past the end are recorded too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <type_traits>
#include <vector>

#include "quorvex.h"

namespace quorvex_cases {

enum class Entry { GLSPFIT, IPVAL, IPVAL_DEGREE1, LINEAR_CONV, OLSPFIT, POLYEVAL };

struct EntryInfo {
  Entry entry;
  const char* name;       // plain exported name
  const char* decorated;  // decorated standard-call name
  int nargs;              // number of arguments (all addresses)
};

// The six entry points in export order: ordinals 2k+1 (plain name) and 2k+2
// (decorated name) for the k-th.
extern const EntryInfo kEntries[6];
const EntryInfo& entry_info(Entry e);

// Calls an entry point with the addresses of its arguments.
class Caller {
 public:
  virtual ~Caller() = default;
  virtual void call(Entry e, void* const* args, int nargs) = 0;

  // Checks the arguments against the header's declaration Decl, then calls.
  template <class Decl, class... A>
  void typed(Entry e, A... a) {
    static_assert(std::is_invocable_v<Decl*, A...>, "arguments do not match the declaration");
    void* args[] = {const_cast<void*>(static_cast<const void*>(a))...};
    call(e, args, static_cast<int>(sizeof...(A)));
  }
};

#define QVX_CASE_CALL(caller, NAME, ...) \
  (caller).typed<decltype(::NAME)>(::quorvex_cases::Entry::NAME, __VA_ARGS__)

// Sentinels every output starts from, and the guard after each array.
constexpr double kRealSentinel = -1234.5;
constexpr std::int32_t kIntSentinel = -77;
constexpr std::size_t kGuard = 2;

// One output argument of one call, guard elements included.
struct Output {
  std::string name;
  bool integer = false;
  std::size_t guard = 0;         // trailing guard elements
  std::vector<double> reals;     // when !integer
  std::vector<std::int32_t> ints;  // when integer
};

// A status the case is built to produce: element `index` of integer output
// `output` must lie in [lo, hi].
struct StatusCheck {
  std::string output;
  std::size_t index;
  int lo, hi;
};

struct Result {
  std::string name;
  Entry entry = Entry::POLYEVAL;
  std::vector<Output> outputs;
  std::vector<StatusCheck> checks;  // not written to the file: both sides build them
};

// Runs every case of the table in order.
std::vector<Result> run_cases(Caller& caller);

// Status value `check` reads from `r`, or nothing (false) when absent.
bool status_of(const Result& r, const StatusCheck& check, int& value);

// Text form, one case after the other; reals as the hexadecimal bit patterns
// of their binary64 values.
void write_results(std::ostream& os, const std::vector<Result>& results);
bool read_results(std::istream& is, std::vector<Result>& results, std::string& error);

}  // namespace quorvex_cases
