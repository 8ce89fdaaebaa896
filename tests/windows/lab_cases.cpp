#include "lab_cases.h"

#include <cstring>
#include <deque>
#include <istream>
#include <limits>
#include <ostream>
#include <sstream>
#include <utility>

namespace quorvex_lab_cases {

const FnInfo kFunctions[2] = {
    {Fn::QVXL_DISTRIBUTION, "QVXL_DISTRIBUTION", "_QVXL_DISTRIBUTION@28", 7},
    {Fn::QVXL_READBACK, "QVXL_READBACK", "_QVXL_READBACK@148", 37},
};

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Output buffers of a case, each pre-filled with the sentinel and followed
// by kGuard guard elements.
class Buffers {
 public:
  double* reals(const char* name, int n) {
    Buf& b = bufs_.emplace_back();
    b.o.name = std::string(name);
    b.o.reals.assign(static_cast<std::size_t>(n > 0 ? n : 0) + kGuard, kRealSentinel);
    return b.o.reals.data();
  }
  int* ints(const char* name, int n) {
    Buf& b = bufs_.emplace_back();
    b.o.name = std::string(name);
    b.o.integer = true;
    b.i.assign(static_cast<std::size_t>(n > 0 ? n : 0) + kGuard, kIntSentinel);
    return b.i.data();
  }
  std::vector<Output> finish() {
    std::vector<Output> out;
    for (Buf& b : bufs_) {
      if (b.o.integer) b.o.ints.assign(b.i.begin(), b.i.end());
      out.push_back(std::move(b.o));
    }
    return out;
  }

 private:
  struct Buf {
    Output o;
    std::vector<int> i;
  };
  std::deque<Buf> bufs_;  // stable addresses while buffers are added
};

// ------------------------------------------------------- distributions
// The probabilities and values the laboratory rules ask for: two-sided
// coverage 0.9 to 0.9999 and one-sided alpha down to 1e-6 (k, detection
// limits, tests of the verdicts), the far tails for p-values.
const double kProbs[] = {1e-12, 1e-8,  1e-6,  1e-4,  0.0005, 0.001, 0.0025, 0.005, 0.01,
                         0.025, 0.05,  0.1,   0.25,  0.5,    0.75,  0.9,    0.95,  0.975,
                         0.99,  0.995, 0.9975, 0.999, 0.9995, 0.99995, 1.0 - 1e-6};

struct DistCase {
  const char* name;
  int dist;
  double par1, par2;
  std::vector<double> xs;  // values of the tails
};

const std::vector<double> kTX = {-40.0, -12.7, -6.0, -3.0, -2.0, -1.0, -0.1, 0.0,
                                 0.3,   1.0,   1.645, 1.96, 2.5, 4.3, 9.9, 63.7};
const std::vector<double> kPosX = {1e-6, 0.001, 0.05, 0.3, 0.9, 1.0, 2.2, 3.84,
                                   7.0,  12.5, 30.0, 80.0, 150.0, 400.0};

const DistCase kDistCases[] = {
    {"normal", 1, 0.0, 0.0, {-38.0, -8.5, -5.0, -3.0, -1.96, -1.0, 0.0, 0.5, 1.645, 2.576, 6.0}},
    {"t_1", 2, 1.0, 0.0, kTX},
    {"t_2", 2, 2.0, 0.0, kTX},
    {"t_3", 2, 3.0, 0.0, kTX},
    {"t_4", 2, 4.0, 0.0, kTX},
    {"t_5", 2, 5.0, 0.0, kTX},
    {"t_7", 2, 7.0, 0.0, kTX},
    {"t_10", 2, 10.0, 0.0, kTX},
    {"t_13", 2, 13.0, 0.0, kTX},
    {"t_20", 2, 20.0, 0.0, kTX},
    {"t_30", 2, 30.0, 0.0, kTX},
    {"t_60", 2, 60.0, 0.0, kTX},
    {"t_120", 2, 120.0, 0.0, kTX},
    {"t_1000", 2, 1000.0, 0.0, kTX},
    {"t_1e6", 2, 1e6, 0.0, kTX},
    {"t_ws_2.37", 2, 2.37, 0.0, kTX},   // Welch-Satterthwaite dof are not whole
    {"t_ws_8.813", 2, 8.813, 0.0, kTX},
    {"t_ws_41.06", 2, 41.06, 0.0, kTX},
    {"t_inf", 2, kInf, 0.0, kTX},
    {"chi2_1", 3, 1.0, 0.0, kPosX},
    {"chi2_2", 3, 2.0, 0.0, kPosX},
    {"chi2_3", 3, 3.0, 0.0, kPosX},
    {"chi2_5", 3, 5.0, 0.0, kPosX},
    {"chi2_8", 3, 8.0, 0.0, kPosX},
    {"chi2_13", 3, 13.0, 0.0, kPosX},
    {"chi2_30", 3, 30.0, 0.0, kPosX},
    {"chi2_100", 3, 100.0, 0.0, kPosX},
    {"chi2_7.5", 3, 7.5, 0.0, kPosX},
    {"f_1_1", 4, 1.0, 1.0, kPosX},
    {"f_1_8", 4, 1.0, 8.0, kPosX},
    {"f_2_5", 4, 2.0, 5.0, kPosX},
    {"f_3_12", 4, 3.0, 12.0, kPosX},
    {"f_4_20", 4, 4.0, 20.0, kPosX},
    {"f_6_3", 4, 6.0, 3.0, kPosX},
    {"f_10_100", 4, 10.0, 100.0, kPosX},
    {"f_30_30", 4, 30.0, 30.0, kPosX},
    {"nct_2_0.5", 5, 2.0, 0.5, kTX},
    {"nct_5_1.645", 5, 5.0, 1.645, kTX},
    {"nct_8_3.29", 5, 8.0, 3.29, kTX},
    {"nct_13_4.65", 5, 13.0, 4.65, kTX},
    {"nct_20_-1.0", 5, 20.0, -1.0, kTX},
    {"nct_50_6.0", 5, 50.0, 6.0, kTX},
    {"nct_120_2.0", 5, 120.0, 2.0, kTX},
};

// Calls QVXL_DISTRIBUTION once per probability (WHAT 1) or value (WHAT 2, 3).
Result run_dist(Caller& caller, const char* name, int dist, double par1, double par2, int what,
                const std::vector<double>& ins, const std::vector<int>& want) {
  Buffers b;
  const int n = static_cast<int>(ins.size());
  double* outs = b.reals(what == 1 ? "X" : "P", n);
  int* istat = b.ints("ISTAT", n);
  for (int k = 0; k < n; ++k) {
    double p = what == 1 ? ins[k] : kRealSentinel, x = what == 1 ? kRealSentinel : ins[k];
    QVXL_CASE_CALL(caller, QVXL_DISTRIBUTION, &dist, &what, &par1, &par2, &p, &x, &istat[k]);
    outs[k] = what == 1 ? x : p;
  }
  Result r;
  r.name = name;
  r.function = "QVXL_DISTRIBUTION";
  r.want = want;
  r.outputs = b.finish();
  return r;
}

void add_distributions(Caller& caller, std::vector<Result>& out) {
  const std::vector<double> probs(std::begin(kProbs), std::end(kProbs));
  for (const DistCase& c : kDistCases) {
    const std::string base = c.name;
    out.push_back(run_dist(caller, (base + "_quantile").c_str(), c.dist, c.par1, c.par2, 1, probs,
                           std::vector<int>(probs.size(), QVXL_OK)));
    out.push_back(run_dist(caller, (base + "_upper").c_str(), c.dist, c.par1, c.par2, 2, c.xs,
                           std::vector<int>(c.xs.size(), QVXL_OK)));
    out.push_back(run_dist(caller, (base + "_lower").c_str(), c.dist, c.par1, c.par2, 3, c.xs,
                           std::vector<int>(c.xs.size(), QVXL_OK)));
  }
  // Refused arguments: a status, and the output left as it was.
  struct Bad {
    const char* name;
    int dist, what;
    double par1, par2, in;
    int want;
  };
  const Bad bad[] = {
      {"bad_dist_0", 0, 1, 5.0, 0.0, 0.5, QVXL_BAD_CODE},
      {"bad_dist_6", 6, 1, 5.0, 0.0, 0.5, QVXL_BAD_CODE},
      {"bad_what_4", 2, 4, 5.0, 0.0, 0.5, QVXL_BAD_CODE},
      {"bad_p_0", 2, 1, 5.0, 0.0, 0.0, QVXL_BAD_VALUE},
      {"bad_p_1", 1, 1, 0.0, 0.0, 1.0, QVXL_BAD_VALUE},
      {"bad_p_nan", 3, 1, 2.0, 0.0, kNaN, QVXL_BAD_VALUE},
      {"bad_dof_0", 2, 1, 0.0, 0.0, 0.5, QVXL_BAD_VALUE},
      {"bad_dof_negative", 3, 2, -1.0, 0.0, 1.0, QVXL_BAD_VALUE},
      {"bad_f_dof2", 4, 3, 2.0, 0.0, 1.0, QVXL_BAD_VALUE},
      {"bad_nct_inf", 5, 1, 5.0, kInf, 0.5, QVXL_BAD_VALUE},
      {"bad_x_nan", 2, 2, 5.0, 0.0, kNaN, QVXL_BAD_VALUE},
  };
  for (const Bad& c : bad)
    out.push_back(run_dist(caller, c.name, c.dist, c.par1, c.par2, c.what, {c.in}, {c.want}));
}

// ------------------------------------------------------------ read-back
// Curves on [0, 10] as the scaled polynomial of quorvex.h, with a
// covariance c2 * 0.5^|i-j| (positive definite), and responses across them:
// below and above the curve, at its ends, near the blank, between and
// beyond the standards.
struct Curve {
  const char* name;
  std::vector<double> coef;
  double c2;
  std::vector<double> y;
};

const Curve kCurves[] = {
    {"line", {1.4, 0.7}, 1e-5, {-0.2, 0.0, 0.004, 0.02, 0.05, 0.35, 0.7, 1.2, 1.39, 1.4, 1.6}},
    {"falling", {1.4, -0.6}, 2e-5, {-0.1, 0.1, 0.3, 0.69, 0.7, 0.71, 1.1, 1.29, 1.31, 1.5}},
    {"turning", {2.0, 0.0, 0.8}, 4e-6, {0.1, 0.2, 0.2001, 0.5, 1.0, 1.7, 1.8, 1.9}},
    {"quadratic", {1.6, 0.8, -0.1}, 1e-5, {0.0, 0.05, 0.3, 0.7, 1.0, 1.4, 1.55, 2.0}},
    {"cubic", {1.2, 0.9, -0.05, 0.02}, 3e-6, {-0.5, -0.3, -0.1, 0.2, 0.6, 1.0, 1.45, 1.6}},
};

struct ReadCase {
  const char* name;
  int curve;      // index into kCurves
  int covkind, ndof;
  double sres;
  int weighting, stated, haslim, uymode;
  double uy;      // stated u(y) of every response (mode 0)
  double level;
  int extrap;
  int want;
  int ncoef = 0;  // when nonzero, instead of the curve's own
  double xmax = 10.0;
  int npts = -1;  // when >= 0, instead of the curve's number of responses
};

const ReadCase kReadCases[] = {
    {"line_scatter", 0, 1, 11, 0.012, 0, 0, 3, 1, 0.0, 0.95, 0, QVXL_OK},
    {"line_scatter_1x", 0, 1, 11, 0.004, 1, 0, 3, 1, 0.0, 0.95, 0, QVXL_OK},
    {"line_scatter_1x2", 0, 1, 11, 0.003, 2, 0, 0, 1, 0.0, 0.95, 0, QVXL_OK},
    {"line_stated", 0, 0, 11, 1.3, 0, 1, 1, 0, 0.004, 0.95, 0, QVXL_OK},
    {"line_stated_zero_uy", 0, 0, 11, 1.3, 0, 1, 0, 0, 0.0, 0.95, 0, QVXL_OK},
    {"line_curve_only", 0, 1, 11, 0.012, 0, 0, 2, 2, 0.0, 0.99, 0, QVXL_OK},
    {"line_extended", 0, 1, 11, 0.012, 0, 0, 3, 1, 0.0, 0.95, 1, QVXL_OK},
    {"line_one_dof", 0, 1, 1, 0.012, 0, 0, 0, 1, 0.0, 0.95, 0, QVXL_OK},
    {"line_scaled_meets_stated", 0, 1, 4, 0.012, 0, 0, 0, 0, 0.009, 0.95, 0, QVXL_OK},
    {"falling_scatter", 1, 1, 8, 0.01, 0, 0, 3, 1, 0.0, 0.95, 0, QVXL_OK},
    {"falling_extended_stated", 1, 0, 8, 1.0, 2, 1, 0, 0, 0.006, 0.9, 1, QVXL_OK},
    {"turning_scatter", 2, 1, 9, 0.01, 0, 0, 0, 1, 0.0, 0.95, 0, QVXL_OK},
    {"turning_stated", 2, 0, 9, 1.1, 0, 1, 3, 0, 0.003, 0.99, 0, QVXL_OK},
    {"quadratic_1x2", 3, 1, 10, 0.02, 2, 0, 3, 1, 0.0, 0.95, 0, QVXL_OK},
    {"quadratic_curve_only", 3, 0, 10, 0.9, 1, 1, 0, 2, 0.0, 0.95, 0, QVXL_OK},
    {"cubic_1x", 4, 1, 7, 0.006, 1, 0, 3, 1, 0.0, 0.9, 0, QVXL_OK},
    {"cubic_scaled_meets_stated", 4, 1, 3, 0.006, 0, 0, 1, 0, 0.004, 0.95, 0, QVXL_OK},
    {"cubic_stated", 4, 0, 7, 0.8, 0, 1, 2, 0, 0.002, 0.9999, 0, QVXL_OK},
    // Refused: a status, and every output left as it was.
    {"refuse_scatter_of_stated", 0, 0, 11, 1.3, 0, 1, 0, 1, 0.0, 0.95, 0, QVXL_UY_STATED_STANDARDS},
    {"refuse_scatter_no_dof", 0, 1, 0, 0.012, 0, 0, 0, 1, 0.0, 0.95, 0, QVXL_UY_NO_DOF},
    {"refuse_one_coefficient", 0, 1, 11, 0.012, 0, 0, 0, 1, 0.0, 0.95, 0, QVXL_BAD_NCOEF, 1},
    {"refuse_extended_quadratic", 3, 1, 10, 0.02, 0, 0, 0, 1, 0.0, 0.95, 1, QVXL_BAD_NCOEF},
    {"refuse_empty_interval", 0, 1, 11, 0.012, 0, 0, 0, 1, 0.0, 0.95, 0, QVXL_BAD_INTERVAL, 0,
     0.0},
    {"refuse_no_responses", 0, 1, 11, 0.012, 0, 0, 0, 1, 0.0, 0.95, 0, QVXL_BAD_COUNT, 0, 10.0, 0},
    {"refuse_weighting_3", 0, 1, 11, 0.012, 3, 0, 0, 1, 0.0, 0.95, 0, QVXL_BAD_CODE},
    {"refuse_uymode_3", 0, 1, 11, 0.012, 0, 0, 0, 3, 0.0, 0.95, 0, QVXL_BAD_CODE},
    {"refuse_level_1", 0, 1, 11, 0.012, 0, 0, 0, 1, 0.0, 1.0, 0, QVXL_BAD_VALUE},
    {"refuse_negative_uy", 0, 0, 11, 1.3, 0, 1, 0, 0, -0.001, 0.95, 0, QVXL_BAD_VALUE},
};

Result run_read(Caller& caller, const ReadCase& c) {
  const Curve& cv = kCurves[c.curve];
  int ncoef = c.ncoef > 0 ? c.ncoef : static_cast<int>(cv.coef.size());
  const int nc = static_cast<int>(cv.coef.size());
  std::vector<double> coef = cv.coef, cov(static_cast<std::size_t>(nc * nc));
  for (int j = 0; j < nc; ++j)
    for (int i = 0; i < nc; ++i) {
      double r = 1.0;
      for (int k = 0; k < (i > j ? i - j : j - i); ++k) r = r * 0.5;
      cov[static_cast<std::size_t>(j * nc + i)] = cv.c2 * r;
    }
  double xmin = 0.0, xmax = c.xmax, sres = c.sres, level = c.level, tol = 0.0;
  int covkind = c.covkind, ndof = c.ndof, weighting = c.weighting, stated = c.stated;
  int haslim = c.haslim, uymode = c.uymode, ngrid = 100, extrap = c.extrap;
  int npts = c.npts >= 0 ? c.npts : static_cast<int>(cv.y.size());
  const double xstd[2] = {0.5, 9.5}, limits[2] = {0.6, 1.8};
  std::vector<double> y = cv.y, uy(cv.y.size()), repl(cv.y.size());
  for (std::size_t i = 0; i < y.size(); ++i) {
    uy[i] = c.uy * (1.0 + 0.25 * static_cast<double>(i % 3));
    repl[i] = static_cast<double>(1 + i % 4);
  }
  if (c.uymode == 0 && c.uy == 0.0) uy.assign(uy.size(), 0.0);  // stated zeros
  const int nr = npts > 0 ? npts : 0, rows = ncoef > 1 ? ncoef - 1 : 1;
  Buffers b;
  int* nroot = b.ints("NROOT", nr);
  double* roots = b.reals("ROOTS", rows * nr);
  double* uroots = b.reals("UROOTS", rows * nr);
  double* uyused = b.reals("UYUSED", nr);
  int* uysrc = b.ints("UYSRC", nr);
  double* ucurve = b.reals("UCURVE", nr);
  double* dof = b.reals("DOF", nr);
  double* k = b.reals("K", nr);
  double* u = b.reals("U", nr);
  double* low = b.reals("LOW", nr);
  double* high = b.reals("HIGH", nr);
  double* xext = b.reals("XEXT", nr);
  double* uxext = b.reals("UXEXT", nr);
  int* flags = b.ints("FLAGS", nr);
  int* istat = b.ints("ISTAT", 1);
  QVXL_CASE_CALL(caller, QVXL_READBACK, &ncoef, coef.data(), cov.data(), &xmin, &xmax, &covkind,
                 &ndof, &sres, &weighting, &stated, xstd, &haslim, limits, &npts, y.data(),
                 &uymode, uy.data(), repl.data(), &level, &ngrid, &tol, &extrap, nroot, roots,
                 uroots, uyused, uysrc, ucurve, dof, k, u, low, high, xext, uxext, flags, istat);
  Result r;
  r.name = c.name;
  r.function = "QVXL_READBACK";
  r.want = {c.want};
  r.outputs = b.finish();
  return r;
}

// ------------------------------------------------------------ text form
std::string hex64(double v) {
  std::uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  static const char digits[] = "0123456789abcdef";
  std::string s(16, '0');
  for (int k = 15; k >= 0; --k, u >>= 4) s[static_cast<std::size_t>(k)] = digits[u & 0xF];
  return s;
}

bool parse_hex64(const std::string& s, double& v) {
  if (s.size() != 16) return false;
  std::uint64_t u = 0;
  for (char ch : s) {
    int d;
    if (ch >= '0' && ch <= '9') d = ch - '0';
    else if (ch >= 'a' && ch <= 'f') d = ch - 'a' + 10;
    else return false;
    u = (u << 4) | static_cast<std::uint64_t>(d);
  }
  std::memcpy(&v, &u, sizeof v);
  return true;
}

}  // namespace

const std::vector<double> kQuantileProbs(std::begin(kProbs), std::end(kProbs));

std::vector<Result> run_cases(Caller& caller) {
  std::vector<Result> out;
  add_distributions(caller, out);
  for (const ReadCase& c : kReadCases) out.push_back(run_read(caller, c));
  return out;
}

std::vector<int> statuses_of(const Result& r) {
  for (const Output& o : r.outputs)
    if (o.name == "ISTAT" && o.integer && o.ints.size() >= static_cast<std::size_t>(kGuard))
      return std::vector<int>(o.ints.begin(), o.ints.end() - kGuard);
  return {};
}

void write_results(std::ostream& os, const std::vector<Result>& results) {
  for (const Result& r : results) {
    os << "case " << r.name << ' ' << r.function << '\n';
    for (const Output& o : r.outputs) {
      const std::size_t n = o.integer ? o.ints.size() : o.reals.size();
      os << "out " << o.name << ' ' << (o.integer ? 'i' : 'r') << ' ' << n;
      if (o.integer)
        for (std::int32_t v : o.ints) os << ' ' << v;
      else
        for (double v : o.reals) os << ' ' << hex64(v);
      os << '\n';
    }
    os << "end\n";
  }
}

bool read_results(std::istream& is, std::vector<Result>& results, std::string& error) {
  results.clear();
  std::string line;
  Result* cur = nullptr;
  int lineno = 0;
  auto fail = [&](const std::string& what) {
    error = "line " + std::to_string(lineno) + ": " + what;
    return false;
  };
  while (std::getline(is, line)) {
    ++lineno;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream in(line);
    std::string word;
    if (!(in >> word)) continue;
    if (word == "case") {
      Result r;
      if (cur != nullptr || !(in >> r.name >> r.function)) return fail("bad case line");
      results.push_back(std::move(r));
      cur = &results.back();
    } else if (word == "out") {
      Output o;
      char kind = 0;
      std::size_t n = 0;
      if (cur == nullptr || !(in >> o.name >> kind >> n) || (kind != 'i' && kind != 'r'))
        return fail("bad output line");
      o.integer = kind == 'i';
      for (std::size_t k = 0; k < n; ++k) {
        if (o.integer) {
          std::int32_t v;
          if (!(in >> v)) return fail("short output " + o.name);
          o.ints.push_back(v);
        } else {
          std::string h;
          double v;
          if (!(in >> h) || !parse_hex64(h, v)) return fail("bad real in " + o.name);
          o.reals.push_back(v);
        }
      }
      cur->outputs.push_back(std::move(o));
    } else if (word == "end") {
      if (cur == nullptr) return fail("end without case");
      cur = nullptr;
    } else {
      return fail("unknown line " + word);
    }
  }
  if (cur != nullptr) return fail("the last case has no end");
  return true;
}

}  // namespace quorvex_lab_cases
