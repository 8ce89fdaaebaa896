// Linux side of the Windows cross-check: runs the shared case table against
// libQUORVEXv1.so and writes every output to the file named on the command
// line, for the Wine test to compare the DLL's outputs with.
#include <cstdio>
#include <fstream>
#include <utility>

#include "cases.h"

namespace {

template <class... A, std::size_t... I>
void invoke(void (*fn)(A...), void* const* args, std::index_sequence<I...>) {
  fn(static_cast<A>(args[I])...);
}

template <class... A>
void invoke(void (*fn)(A...), void* const* args) {
  invoke(fn, args, std::index_sequence_for<A...>{});
}

class LibraryCaller : public quorvex_cases::Caller {
 public:
  void call(quorvex_cases::Entry e, void* const* args, int /*nargs*/) override {
    using quorvex_cases::Entry;
    switch (e) {
      case Entry::GLSPFIT: return invoke(&::GLSPFIT, args);
      case Entry::IPVAL: return invoke(&::IPVAL, args);
      case Entry::IPVAL_DEGREE1: return invoke(&::IPVAL_DEGREE1, args);
      case Entry::LINEAR_CONV: return invoke(&::LINEAR_CONV, args);
      case Entry::OLSPFIT: return invoke(&::OLSPFIT, args);
      case Entry::POLYEVAL: return invoke(&::POLYEVAL, args);
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
    return 2;
  }
  LibraryCaller caller;
  const std::vector<quorvex_cases::Result> results = quorvex_cases::run_cases(caller);
  std::ofstream out(argv[1], std::ios::binary);
  quorvex_cases::write_results(out, results);
  out.close();
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  std::printf("Linux library: %zu cases written to %s\n", results.size(), argv[1]);
  return 0;
}
