// Linux side of the Windows cross-check of the laboratory library: runs the
// shared case table (lab_cases.cpp) against libQUORVEXlab1.so through its
// exported names and writes every output to the file named on the command
// line, for the Wine check to compare QUORVEXlab1.dll's outputs with.
#include <cstdio>
#include <fstream>
#include <utility>

#include "lab_cases.h"

namespace {

template <class... A, std::size_t... I>
void invoke(void (*fn)(A...), void* const* args, std::index_sequence<I...>) {
  fn(static_cast<A>(args[I])...);
}

template <class... A>
void invoke(void (*fn)(A...), void* const* args) {
  invoke(fn, args, std::index_sequence_for<A...>{});
}

class LibraryCaller : public quorvex_lab_cases::Caller {
 public:
  void call(quorvex_lab_cases::Fn f, void* const* args, int /*nargs*/) override {
    using quorvex_lab_cases::Fn;
    switch (f) {
      case Fn::QVXL_DISTRIBUTION: return invoke(&::QVXL_DISTRIBUTION, args);
      case Fn::QVXL_READBACK: return invoke(&::QVXL_READBACK, args);
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
  const std::vector<quorvex_lab_cases::Result> results = quorvex_lab_cases::run_cases(caller);
  std::ofstream out(argv[1], std::ios::binary);
  quorvex_lab_cases::write_results(out, results);
  out.close();
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  std::printf("Linux laboratory library: %zu cases written to %s\n", results.size(), argv[1]);
  return 0;
}
