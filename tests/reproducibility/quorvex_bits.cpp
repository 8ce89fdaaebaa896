// Writes every output of a broad set of calls of the six entry points, as
// the bit patterns of the values, so that two runs can be compared bit for
// bit (tests/reproducibility/check_blas_independence.sh):
//
//   quorvex_bits LIBRARY OUTPUT [THREADS [SET]]
//
// LIBRARY is loaded with dlopen, as a host program loads it.  The calls are
// the shared case table of the Windows cross-check (tests/windows/cases.cpp)
// and a fixed set of seeded random problems: ordinary fits of 6 to 100 000
// points and 1 to 10 coefficients, generalized fits of 5 to 2 000 points,
// each fit's curve evaluated and inverted with its covariance (IPVAL; for
// straight lines LINEAR_CONV and IPVAL_DEGREE1 too), and random calls with
// bad arguments.  THREADS > 1 runs the random problems on that many threads
// at once; the file is the same whatever the number.  SET line-search
// replaces the random problems by 420 generalized fits of 8 to 300 points
// with larger x uncertainties, which reach the minimizer's curved line
// search (and so the C library's acos, sin and cos) more often.
//
// Arrays longer than 64 values are written as their length, first and last
// values and a 64-bit FNV-1a digest of all their bytes.
//
// Also prints which loaded object provides the LAPACK routine dgeqrf_ to
// the process as a whole (the global scope), so that a test can check that
// another LAPACK really was in the process.
#include <dlfcn.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "../windows/cases.h"
#include "quorvex.h"

namespace {

// ------------------------------------------------------------ the library
struct Library {
  decltype(&::OLSPFIT) olspfit = nullptr;
  decltype(&::GLSPFIT) glspfit = nullptr;
  decltype(&::POLYEVAL) polyeval = nullptr;
  decltype(&::IPVAL) ipval = nullptr;
  decltype(&::IPVAL_DEGREE1) ipval_degree1 = nullptr;
  decltype(&::LINEAR_CONV) linear_conv = nullptr;

  bool load(const char* path) {
    void* h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) {
      std::fprintf(stderr, "quorvex_bits: %s\n", dlerror());
      return false;
    }
    bool ok = true;
    auto get = [&](auto& fn, const char* name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(h, name));
      if (fn == nullptr) {
        std::fprintf(stderr, "quorvex_bits: %s does not export %s\n", path, name);
        ok = false;
      }
    };
    get(olspfit, "OLSPFIT");
    get(glspfit, "GLSPFIT");
    get(polyeval, "POLYEVAL");
    get(ipval, "IPVAL");
    get(ipval_degree1, "IPVAL_DEGREE1");
    get(linear_conv, "LINEAR_CONV");
    return ok;
  }
};

template <class... A, std::size_t... I>
void invoke(void (*fn)(A...), void* const* args, std::index_sequence<I...>) {
  fn(static_cast<A>(args[I])...);
}

template <class... A>
void invoke(void (*fn)(A...), void* const* args) {
  invoke(fn, args, std::index_sequence_for<A...>{});
}

class TableCaller : public quorvex_cases::Caller {
 public:
  explicit TableCaller(const Library& lib) : lib_(lib) {}
  void call(quorvex_cases::Entry e, void* const* args, int /*nargs*/) override {
    using quorvex_cases::Entry;
    switch (e) {
      case Entry::GLSPFIT: return invoke(lib_.glspfit, args);
      case Entry::IPVAL: return invoke(lib_.ipval, args);
      case Entry::IPVAL_DEGREE1: return invoke(lib_.ipval_degree1, args);
      case Entry::LINEAR_CONV: return invoke(lib_.linear_conv, args);
      case Entry::OLSPFIT: return invoke(lib_.olspfit, args);
      case Entry::POLYEVAL: return invoke(lib_.polyeval, args);
    }
  }

 private:
  const Library& lib_;
};

// ------------------------------------------------------------ recording
// One call's outputs: name, then (output name, values) in call order.
struct Record {
  std::string name;
  std::vector<std::pair<std::string, std::vector<double>>> reals;
  std::vector<std::pair<std::string, std::vector<int>>> ints;
};

std::string hex64(double v) {
  std::uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(u));
  return buf;
}

std::uint64_t fnv1a(const void* data, std::size_t bytes) {
  std::uint64_t h = 14695981039346656037ull;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  for (std::size_t k = 0; k < bytes; ++k) h = (h ^ p[k]) * 1099511628211ull;
  return h;
}

constexpr std::size_t kWhole = 64;

void write_record(std::FILE* f, const Record& r) {
  std::fprintf(f, "case %s\n", r.name.c_str());
  for (const auto& [name, v] : r.reals) {
    std::fprintf(f, "out %s r %zu", name.c_str(), v.size());
    if (v.size() <= kWhole) {
      for (double x : v) std::fprintf(f, " %s", hex64(x).c_str());
    } else {
      std::fprintf(f, " first %s %s last %s %s digest %016llx", hex64(v[0]).c_str(),
                   hex64(v[1]).c_str(), hex64(v[v.size() - 2]).c_str(), hex64(v.back()).c_str(),
                   static_cast<unsigned long long>(fnv1a(v.data(), v.size() * sizeof(double))));
    }
    std::fprintf(f, "\n");
  }
  for (const auto& [name, v] : r.ints) {
    std::fprintf(f, "out %s i %zu", name.c_str(), v.size());
    if (v.size() <= kWhole) {
      for (int x : v) std::fprintf(f, " %d", x);
    } else {
      std::fprintf(f, " digest %016llx",
                   static_cast<unsigned long long>(fnv1a(v.data(), v.size() * sizeof(int))));
    }
    std::fprintf(f, "\n");
  }
  std::fprintf(f, "end\n");
}

Record from_table(const quorvex_cases::Result& res) {
  Record r;
  r.name = std::string("table_") + res.name + " " + quorvex_cases::entry_info(res.entry).name;
  for (const quorvex_cases::Output& o : res.outputs) {
    if (o.integer)
      r.ints.emplace_back(o.name, std::vector<int>(o.ints.begin(), o.ints.end()));
    else
      r.reals.emplace_back(o.name, o.reals);
  }
  return r;
}

// ------------------------------------------------------------ random data
// SplitMix64: the same numbers from a seed on every compiler and library.
class Random {
 public:
  explicit Random(std::uint64_t seed) : s_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (s_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  double uniform() { return static_cast<double>(next() >> 11) * 0x1p-53; }  // [0, 1)
  double uniform(double a, double b) { return a + (b - a) * uniform(); }
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }

 private:
  std::uint64_t s_;
};

// Sentinel-filled output buffer of n values, recorded after the call.
std::vector<double> reals(std::size_t n) { return std::vector<double>(n, -1234.5); }
std::vector<int> ints(std::size_t n) { return std::vector<int>(n, -77); }

// A calibration problem on [xmin, xmax]: a smooth curve with noise.
struct Problem {
  int npts = 0, ncoef = 0;
  double xmin = 0, xmax = 1;
  std::vector<double> x, y, wx, wy;
};

// xnoise_lo, xnoise_hi: range of log10(u(x) / interval width).
Problem make_problem(Random& rng, int npts, int ncoef, double xnoise_lo = -4.0,
                     double xnoise_hi = -2.0) {
  Problem p;
  p.npts = npts;
  p.ncoef = ncoef;
  p.xmin = rng.uniform(-50.0, 50.0);
  p.xmax = p.xmin + std::pow(10.0, rng.uniform(-1.0, 3.0));
  const double span = p.xmax - p.xmin;
  // A curve in t in [-1, 1]: a few terms of decreasing size.
  double c[5];
  for (double& v : c) v = rng.uniform(-1.0, 1.0);
  const double level = std::pow(10.0, rng.uniform(-2.0, 3.0));
  const double noise = level * std::pow(10.0, rng.uniform(-6.0, -2.0));
  const bool clustered = rng.below(4) == 0;
  const double xnoise = span * std::pow(10.0, rng.uniform(xnoise_lo, xnoise_hi));
  for (int i = 0; i < npts; ++i) {
    double u = rng.uniform(0.02, 0.98);
    if (clustered) u = u < 0.5 ? 0.02 + 0.2 * u : 0.78 + 0.2 * u;  // bunched near both ends
    const double x = p.xmin + span * u;
    const double t = 2.0 * u - 1.0;
    const double curve = level * (c[0] + t * (1.0 + c[1] + t * (0.3 * c[2] + t * (0.1 * c[3] +
                                                                                 t * 0.03 * c[4]))));
    const double uy = noise * rng.uniform(0.5, 2.0);
    const double ux = xnoise * rng.uniform(0.5, 2.0);
    p.x.push_back(x);
    p.y.push_back(curve + uy * rng.uniform(-1.7, 1.7));
    p.wy.push_back(1.0 / uy);
    p.wx.push_back(1.0 / ux);
  }
  return p;
}

// Evaluation, inversion and (for a line) the closed forms on a fitted curve.
void use_curve(const Library& lib, Random& rng, const std::string& base, const Problem& p,
               const double* coef, const double* cov, std::vector<Record>& out) {
  const int ncoef = p.ncoef;
  // POLYEVAL at random points inside the interval.
  {
    const int n = 1 + rng.below(300);
    std::vector<double> xs(n);
    for (double& v : xs) v = rng.uniform(p.xmin, p.xmax);
    auto y = reals(n);
    auto istat = ints(1);
    lib.polyeval(&ncoef, coef, &n, xs.data(), &p.xmin, &p.xmax, y.data(), istat.data());
    out.push_back({base + " POLYEVAL", {{"Y", y}}, {{"ISTAT", istat}}});
    if (ncoef < 2) return;
    // IPVAL at curve values of random points, nudged.
    const int m = 1 + rng.below(12);
    std::vector<double> ys(m), covy(static_cast<std::size_t>(m) * m, 5.0);
    for (int i = 0; i < m; ++i) {
      ys[i] = y[rng.below(n)] * (1.0 + rng.uniform(-1e-3, 1e-3));
      covy[static_cast<std::size_t>(i) * m + i] = std::pow(ys[i] * 1e-3, 2) + 1e-12;
    }
    const int ngrid = 5 + rng.below(100);
    const double tol = (p.xmax - p.xmin) * 1e-13;
    auto nroot = ints(m);
    auto xroot = reals(static_cast<std::size_t>(ncoef - 1) * m);
    auto uxroot = reals(static_cast<std::size_t>(ncoef - 1) * m);
    auto ist = ints(1);
    lib.ipval(&ncoef, coef, cov, &m, ys.data(), covy.data(), &p.xmin, &p.xmax, &ngrid, &tol,
              nroot.data(), xroot.data(), uxroot.data(), ist.data());
    out.push_back({base + " IPVAL", {{"XROOT", xroot}, {"UXROOT", uxroot}},
                   {{"NROOT", nroot}, {"ISTAT", ist}}});
    if (ncoef != 2) return;
    auto lcoef = reals(2), lcov = reals(4);
    auto ls = ints(1);
    lib.linear_conv(coef, cov, &p.xmin, &p.xmax, lcoef.data(), lcov.data(), ls.data());
    out.push_back({base + " LINEAR_CONV", {{"LCOEF", lcoef}, {"LCOV", lcov}}, {{"ISTAT", ls}}});
    auto xpred = reals(m), uxpred = reals(m);
    auto ps = ints(1);
    lib.ipval_degree1(coef, cov, &m, ys.data(), covy.data(), &p.xmin, &p.xmax, xpred.data(),
                      uxpred.data(), ps.data());
    out.push_back(
        {base + " IPVAL_DEGREE1", {{"XPRED", xpred}, {"UXPRED", uxpred}}, {{"ISTAT", ps}}});
  }
}

void ols_job(const Library& lib, std::uint64_t seed, int npts, int ncoef, std::vector<Record>& out) {
  Random rng(seed);
  Problem p = make_problem(rng, npts, ncoef);
  const std::size_t n = npts, m = ncoef;
  auto coef = reals(m), cov = reals(m * m), sres = reals(1), yfit = reals(n), res = reals(n),
       wres = reals(n), wresmax = reals(1);
  auto istat = ints(1);
  lib.olspfit(&p.npts, p.x.data(), p.y.data(), p.wy.data(), &p.ncoef, &p.xmin, &p.xmax,
              coef.data(), cov.data(), sres.data(), yfit.data(), res.data(), wres.data(),
              wresmax.data(), istat.data());
  const std::string base = "ols_" + std::to_string(npts) + "x" + std::to_string(ncoef) + "_" +
                           std::to_string(seed);
  out.push_back({base + " OLSPFIT",
                 {{"COEF", coef}, {"COV", cov}, {"SRES", sres}, {"YFIT", yfit}, {"RES", res},
                  {"WRES", wres}, {"WRESMAX", wresmax}},
                 {{"ISTAT", istat}}});
  if (istat[0] == 0) use_curve(lib, rng, base, p, coef.data(), cov.data(), out);
}

void gls_job(const Library& lib, std::uint64_t seed, int npts, int ncoef, std::vector<Record>& out,
             bool rough = false) {
  Random rng(seed);
  Problem p = rough ? make_problem(rng, npts, ncoef, -2.5, -1.0) : make_problem(rng, npts, ncoef);
  const std::size_t n = npts, m = ncoef;
  const double tol[2] = {std::pow(10.0, -rng.uniform(6.0, 12.0)), std::pow(10.0, -rng.uniform(6.0, 12.0))};
  const int maxit = 5 + rng.below(100);
  const double sigma = rng.uniform(0.01, 0.5);
  auto param = reals(n + m), cov = reals(m * m), sres = reals(1), yfit = reals(n),
       res = reals(2 * n), wres = reals(2 * n), wresmax = reals(1), r11 = reals(n),
       r12 = reals(n * m), r22 = reals(m * (m + 1) / 2), rinfo = reals(4);
  auto olstat = ints(1), istat = ints(3);
  lib.glspfit(&p.npts, p.x.data(), p.y.data(), p.wx.data(), p.wy.data(), &p.ncoef, &p.xmin,
              &p.xmax, tol, &maxit, &sigma, param.data(), cov.data(), sres.data(), yfit.data(),
              res.data(), wres.data(), wresmax.data(), r11.data(), r12.data(), r22.data(),
              rinfo.data(), olstat.data(), istat.data());
  const std::string base = "gls_" + std::to_string(npts) + "x" + std::to_string(ncoef) + "_" +
                           std::to_string(seed);
  out.push_back({base + " GLSPFIT",
                 {{"PARAM", param}, {"COV", cov}, {"SRES", sres}, {"YFIT", yfit}, {"RES", res},
                  {"WRES", wres}, {"WRESMAX", wresmax}, {"R11", r11}, {"R12", r12}, {"R22", r22},
                  {"RINFO", rinfo}},
                 {{"OLSTAT", olstat}, {"ISTAT", istat}}});
  if (olstat[0] == 0 && istat[0] >= 0 && istat[0] <= 3)
    use_curve(lib, rng, base, p, param.data() + n, cov.data(), out);
}

// Random arguments, good and bad, of the entry points that take no data set.
void odd_job(const Library& lib, std::uint64_t seed, std::vector<Record>& out) {
  Random rng(seed);
  const std::string base = "odd_" + std::to_string(seed);
  const double xmin = rng.uniform(-10.0, 10.0);
  const double xmax = rng.below(5) == 0 ? xmin - rng.uniform(0.0, 1.0) : xmin + rng.uniform(0.1, 20.0);
  const int ncoef = rng.below(12);
  std::vector<double> coef(ncoef > 0 ? ncoef : 1);
  for (double& c : coef) c = rng.uniform(-5.0, 5.0);
  std::vector<double> cov(coef.size() * coef.size());
  for (std::size_t j = 0; j < coef.size(); ++j)
    for (std::size_t i = 0; i < coef.size(); ++i)
      cov[j * coef.size() + i] = (i == j ? 1e-3 : 0.0) + 1e-5 / (1.0 + i + j);
  const int n = rng.below(20);
  std::vector<double> xs(n > 0 ? n : 1), covy(xs.size() * xs.size(), 3.0);
  for (std::size_t i = 0; i < xs.size(); ++i) {
    xs[i] = rng.uniform(xmin - 1.0, xmax + 1.0);
    covy[i * xs.size() + i] = rng.uniform(1e-6, 1e-2);
  }
  auto y = reals(xs.size());
  auto st = ints(1);
  lib.polyeval(&ncoef, coef.data(), &n, xs.data(), &xmin, &xmax, y.data(), st.data());
  out.push_back({base + " POLYEVAL", {{"Y", y}}, {{"ISTAT", st}}});
  if (ncoef >= 1) {
    const int ngrid = rng.below(40);
    const double tol = rng.uniform(1e-14, 1e-8);
    const std::size_t rows = ncoef > 1 ? ncoef - 1 : 1;
    auto nroot = ints(xs.size());
    auto xroot = reals(rows * xs.size()), uxroot = reals(rows * xs.size());
    auto ist = ints(1);
    lib.ipval(&ncoef, coef.data(), cov.data(), &n, xs.data(), covy.data(), &xmin, &xmax, &ngrid,
              &tol, nroot.data(), xroot.data(), uxroot.data(), ist.data());
    out.push_back({base + " IPVAL", {{"XROOT", xroot}, {"UXROOT", uxroot}},
                   {{"NROOT", nroot}, {"ISTAT", ist}}});
  }
  if (coef.size() >= 2) {
    auto lcoef = reals(2), lcov = reals(4);
    auto ls = ints(1);
    lib.linear_conv(coef.data(), cov.data(), &xmin, &xmax, lcoef.data(), lcov.data(), ls.data());
    out.push_back({base + " LINEAR_CONV", {{"LCOEF", lcoef}, {"LCOV", lcov}}, {{"ISTAT", ls}}});
    auto xpred = reals(xs.size()), uxpred = reals(xs.size());
    auto ps = ints(1);
    lib.ipval_degree1(coef.data(), cov.data(), &n, xs.data(), covy.data(), &xmin, &xmax,
                      xpred.data(), uxpred.data(), ps.data());
    out.push_back(
        {base + " IPVAL_DEGREE1", {{"XPRED", xpred}, {"UXPRED", uxpred}}, {{"ISTAT", ps}}});
  }
}

// The random problems, each a job of its own with its own seed.
std::vector<std::function<void(const Library&, std::vector<Record>&)>> jobs(bool line_search) {
  std::vector<std::function<void(const Library&, std::vector<Record>&)>> js;
  Random plan(20261208);
  if (line_search) {
    const int sizes[] = {8, 12, 20, 35, 60, 120, 300};
    std::uint64_t seed = 101;
    for (int npts : sizes)
      for (int k = 0; k < 60; ++k, ++seed) {
        const int ncoef = 1 + plan.below(npts < 10 ? npts : 10);
        js.push_back(
            [=](const Library& l, std::vector<Record>& o) { gls_job(l, seed, npts, ncoef, o, true); });
      }
    return js;
  }
  const int ols_sizes[] = {6, 11, 20, 37, 64, 150, 400, 1000, 3000, 10000, 30000, 100000};
  std::uint64_t seed = 1;
  for (int npts : ols_sizes)
    for (int k = 0; k < 4; ++k) {
      const int ncoef = 1 + plan.below(npts < 10 ? npts : 10);
      js.push_back([=](const Library& l, std::vector<Record>& o) { ols_job(l, seed, npts, ncoef, o); });
      ++seed;
    }
  const int gls_sizes[] = {5, 8, 12, 20, 35, 60, 120, 300, 800, 2000};
  for (int npts : gls_sizes)
    for (int k = 0; k < 3; ++k) {
      const int ncoef = 1 + plan.below(npts < 10 ? npts : 10);
      js.push_back([=](const Library& l, std::vector<Record>& o) { gls_job(l, seed, npts, ncoef, o); });
      ++seed;
    }
  for (int k = 0; k < 40; ++k, ++seed)
    js.push_back([=](const Library& l, std::vector<Record>& o) { odd_job(l, seed, o); });
  return js;
}

// The object that gives dgeqrf_ to the process as a whole, or "none".
std::string global_lapack() {
  void* sym = dlsym(RTLD_DEFAULT, "dgeqrf_");
  Dl_info info;
  if (sym == nullptr || dladdr(sym, &info) == 0 || info.dli_fname == nullptr) return "none";
  return info.dli_fname;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 5) {
    std::fprintf(stderr, "usage: %s LIBRARY OUTPUT [THREADS [standard|line-search]]\n", argv[0]);
    return 2;
  }
  const int threads = argc >= 4 ? std::atoi(argv[3]) : 1;
  const std::string set = argc == 5 ? argv[4] : "standard";
  if (set != "standard" && set != "line-search") {
    std::fprintf(stderr, "quorvex_bits: SET is standard or line-search, not %s\n", set.c_str());
    return 2;
  }
  if (threads < 1) {
    std::fprintf(stderr, "quorvex_bits: THREADS must be at least 1\n");
    return 2;
  }
  Library lib;
  if (!lib.load(argv[1])) return 1;

  std::vector<Record> records;
  TableCaller caller(lib);
  if (set == "standard")
    for (const quorvex_cases::Result& r : quorvex_cases::run_cases(caller))
      records.push_back(from_table(r));

  const auto js = jobs(set == "line-search");
  std::vector<std::vector<Record>> results(js.size());
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t k; (k = next.fetch_add(1)) < js.size();) js[k](lib, results[k]);
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();

  std::FILE* f = std::fopen(argv[2], "w");
  if (f == nullptr) {
    std::fprintf(stderr, "quorvex_bits: cannot write %s\n", argv[2]);
    return 1;
  }
  std::size_t calls = records.size();
  for (const Record& r : records) write_record(f, r);
  for (const auto& rs : results)
    for (const Record& r : rs) write_record(f, r), ++calls;
  if (std::fclose(f) != 0) {
    std::fprintf(stderr, "quorvex_bits: cannot write %s\n", argv[2]);
    return 1;
  }
  std::printf("quorvex_bits: %zu calls, %d thread(s), written to %s; dgeqrf_ in the process: %s\n",
              calls, threads, argv[2], global_lapack().c_str());
  return 0;
}
