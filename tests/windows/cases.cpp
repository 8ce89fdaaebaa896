#include "cases.h"

#include <cstring>
#include <deque>
#include <istream>
#include <ostream>
#include <sstream>
#include <utility>

namespace quorvex_cases {

const EntryInfo kEntries[6] = {
    {Entry::GLSPFIT, "GLSPFIT", "_GLSPFIT@96", 24},
    {Entry::IPVAL, "IPVAL", "_IPVAL@56", 14},
    {Entry::IPVAL_DEGREE1, "IPVAL_DEGREE1", "_IPVAL_DEGREE1@40", 10},
    {Entry::LINEAR_CONV, "LINEAR_CONV", "_LINEAR_CONV@28", 7},
    {Entry::OLSPFIT, "OLSPFIT", "_OLSPFIT@60", 15},
    {Entry::POLYEVAL, "POLYEVAL", "_POLYEVAL@32", 8},
};

const EntryInfo& entry_info(Entry e) {
  for (const EntryInfo& i : kEntries)
    if (i.entry == e) return i;
  return kEntries[0];
}

namespace {

// The output buffers of one call, each pre-filled with the sentinel and
// followed by kGuard guard elements.
class Call {
 public:
  Call(const char* name, Entry entry) { result_.name = name, result_.entry = entry; }

  double* reals(const char* name, long long n) {
    Buf& b = bufs_.emplace_back();
    b.name = name;
    b.r.assign(length(n), kRealSentinel);
    return b.r.data();
  }
  int* ints(const char* name, long long n) {
    Buf& b = bufs_.emplace_back();
    b.name = name;
    b.integer = true;
    b.i.assign(length(n), kIntSentinel);
    return b.i.data();
  }
  void expect(const char* output, std::size_t index, int lo, int hi) {
    result_.checks.push_back({output, index, lo, hi});
  }
  Result finish() {
    for (const Buf& b : bufs_) {
      Output o;
      o.name = b.name;
      o.integer = b.integer;
      o.guard = kGuard;
      o.reals = b.r;
      o.ints.assign(b.i.begin(), b.i.end());
      result_.outputs.push_back(std::move(o));
    }
    return std::move(result_);
  }

 private:
  struct Buf {
    std::string name;
    bool integer = false;
    std::vector<double> r;
    std::vector<int> i;
  };
  static std::size_t length(long long n) { return static_cast<std::size_t>(n > 0 ? n : 0) + kGuard; }

  Result result_;
  std::deque<Buf> bufs_;  // stable addresses while buffers are added
};

// Deterministic scatter in [-0.5, 0.5].
double scatter(int k) { return static_cast<double>((k * 7919 + 13) % 97 - 48) / 96.0; }

// A smooth response: 1 + 0.8 x - 0.05 x^2 + 0.002 x^3 (Horner).
double response(double x) { return 1.0 + x * (0.8 + x * (-0.05 + x * 0.002)); }

// Calibration data inside [xmin, xmax], kept away from both ends.
struct Problem {
  int npts, ncoef;
  double xmin, xmax;
  std::vector<double> x, y, wx, wy;
};

Problem make_problem(int npts, int ncoef, double xmin, double xmax) {
  Problem p{npts, ncoef, xmin, xmax, {}, {}, {}, {}};
  const double h = (xmax - xmin) / (npts + 1);
  for (int i = 0; i < npts; ++i) {
    const double xt = xmin + h * (i + 1);
    p.x.push_back(xt + 0.02 * h * scatter(i + 5));
    p.y.push_back(response(xt) + 0.01 * scatter(i));
    p.wx.push_back(50.0 / h * (1.0 + 0.25 * (i % 3)));
    p.wy.push_back(1.0 / (0.01 * (1.0 + 0.1 * (i % 4))));
  }
  return p;
}

// ---------------------------------------------------------------- OLSPFIT
struct OlsCase {
  const char* name;
  int npts, ncoef;
  double xmin, xmax;
  void (*edit)(Problem&);
  int lo, hi;
};

const OlsCase kOlsCases[] = {
    {"ols_line", 8, 2, 0.0, 10.0, nullptr, 0, 0},
    {"ols_quadratic", 12, 3, 0.0, 10.0, nullptr, 0, 0},
    {"ols_quintic", 25, 6, -2.0, 3.0, nullptr, 0, 0},
    {"ols_ten_coefficients", 30, 10, 1.0, 31.0, nullptr, 0, 0},
    {"ols_interpolation", 4, 4, 0.0, 5.0, nullptr, 0, 0},
    {"ols_ncoef_below_one", 5, 0, 0.0, 10.0, nullptr, 1, 1},
    {"ols_npts_below_ncoef", 3, 4, 0.0, 10.0, nullptr, 2, 2},
    {"ols_ncoef_above_ten", 15, 11, 0.0, 10.0, nullptr, 3, 3},
    {"ols_zero_weight", 8, 3, 0.0, 10.0, [](Problem& p) { p.wy[2] = 0.0; }, 4, 4},
    {"ols_bad_interval", 8, 3, 0.0, 10.0, [](Problem& p) { p.xmax = p.xmin; }, 5, 5},
    {"ols_point_below", 8, 3, 0.0, 10.0, [](Problem& p) { p.x[0] = p.xmin - 0.5; }, 6, 6},
    {"ols_point_above", 8, 3, 0.0, 10.0, [](Problem& p) { p.x[7] = p.xmax + 0.5; }, 7, 7},
    {"ols_singular_design", 3, 2, 0.0, 2.0,
     [](Problem& p) { p.x.assign(3, 1.0); }, 24, 24},
};

Result run_ols(Caller& caller, const OlsCase& c) {
  Problem p = make_problem(c.npts, c.ncoef, c.xmin, c.xmax);
  if (c.edit != nullptr) c.edit(p);
  const long long n = p.npts, m = p.ncoef;
  Call call(c.name, Entry::OLSPFIT);
  double* coef = call.reals("COEF", m);
  double* cov = call.reals("COV", m * m);
  double* sres = call.reals("SRES", 1);
  double* yfit = call.reals("YFIT", n);
  double* res = call.reals("RES", n);
  double* wres = call.reals("WRES", n);
  double* wresmax = call.reals("WRESMAX", 1);
  int* istat = call.ints("ISTAT", 1);
  call.expect("ISTAT", 0, c.lo, c.hi);
  QVX_CASE_CALL(caller, OLSPFIT, &p.npts, p.x.data(), p.y.data(), p.wy.data(), &p.ncoef, &p.xmin,
                &p.xmax, coef, cov, sres, yfit, res, wres, wresmax, istat);
  return call.finish();
}

// ---------------------------------------------------------------- GLSPFIT
struct GlsCase {
  const char* name;
  int npts, ncoef;
  double xmin, xmax;
  void (*edit)(Problem&, double* tol, int& maxit);
  int olstat, lo, hi;
};

const GlsCase kGlsCases[] = {
    {"gls_line", 8, 2, 0.0, 10.0, nullptr, 0, 0, 3},
    {"gls_quadratic", 12, 3, 0.0, 10.0, nullptr, 0, 0, 3},
    {"gls_cubic", 15, 4, -1.0, 14.0, nullptr, 0, 0, 3},
    {"gls_zero_x_weight", 8, 3, 0.0, 10.0,
     [](Problem& p, double*, int&) { p.wx[3] = 0.0; }, 0, 44, 44},
    {"gls_bad_interval", 8, 3, 0.0, 10.0,
     [](Problem& p, double*, int&) { p.xmax = p.xmin; }, 5, 0, 0},
    {"gls_bad_tolerance", 8, 3, 0.0, 10.0,
     [](Problem&, double* tol, int&) { tol[1] = 0.0; }, 0, 35, 35},
    {"gls_bad_maxit", 8, 3, 0.0, 10.0, [](Problem&, double*, int& maxit) { maxit = 0; }, 0, 36,
     36},
};

Result run_gls(Caller& caller, const GlsCase& c) {
  Problem p = make_problem(c.npts, c.ncoef, c.xmin, c.xmax);
  double tol[2] = {1e-8, 1e-8};
  int maxit = 50;
  const double sigma = 0.1;
  if (c.edit != nullptr) c.edit(p, tol, maxit);
  const long long n = p.npts, m = p.ncoef;
  Call call(c.name, Entry::GLSPFIT);
  double* param = call.reals("PARAM", n + m);
  double* cov = call.reals("COV", m * m);
  double* sres = call.reals("SRES", 1);
  double* yfit = call.reals("YFIT", n);
  double* res = call.reals("RES", 2 * n);
  double* wres = call.reals("WRES", 2 * n);
  double* wresmax = call.reals("WRESMAX", 1);
  double* r11 = call.reals("R11", n);
  double* r12 = call.reals("R12", n * m);
  double* r22 = call.reals("R22", m * (m + 1) / 2);
  double* rinfo = call.reals("RINFO", 4);
  int* olstat = call.ints("OLSTAT", 1);
  int* istat = call.ints("ISTAT", 3);
  call.expect("OLSTAT", 0, c.olstat, c.olstat);
  call.expect("ISTAT", 0, c.lo, c.hi);
  QVX_CASE_CALL(caller, GLSPFIT, &p.npts, p.x.data(), p.y.data(), p.wx.data(), p.wy.data(),
                &p.ncoef, &p.xmin, &p.xmax, tol, &maxit, &sigma, param, cov, sres, yfit, res, wres,
                wresmax, r11, r12, r22, rinfo, olstat, istat);
  return call.finish();
}

// --------------------------------------------------------------- POLYEVAL
struct EvalCase {
  const char* name;
  std::vector<double> coef;
  double xmin, xmax;
  std::vector<double> x;
  int status;
};

const EvalCase kEvalCases[] = {
    {"polyeval_cubic", {2.4, 1.1, 0.05, -0.02}, 0.0, 10.0,
     {0.0, 0.5, 1.25, 2.0, 3.75, 5.0, 6.1, 8.9, 10.0}, 0},
    {"polyeval_ten_coefficients", {1.5, -0.75, 0.5, 0.25, -0.125, 0.0625, 0.03, -0.02, 0.01, 0.005},
     -3.0, 7.0, {-3.0, -2.9, -1.0, 0.3, 2.0, 4.4, 6.99, 7.0}, 0},
    {"polyeval_constant", {3.0}, 1.0, 2.0, {1.0, 1.5, 2.0}, 0},
    {"polyeval_no_points", {2.4, 1.1}, 0.0, 10.0, {}, 0},
    {"polyeval_bad_interval", {2.4, 1.1, 0.05}, 4.0, 4.0, {4.0}, 1},
    {"polyeval_point_below", {2.4, 1.1, 0.05}, 0.0, 10.0, {-1.0, 11.0}, 2},
    {"polyeval_point_above", {2.4, 1.1, 0.05}, 0.0, 10.0, {3.0, 10.5}, 3},
};

Result run_eval(Caller& caller, const EvalCase& c) {
  const int ncoef = static_cast<int>(c.coef.size());
  const int npts = static_cast<int>(c.x.size());
  Call call(c.name, Entry::POLYEVAL);
  double* y = call.reals("Y", npts);
  int* istat = call.ints("ISTAT", 1);
  call.expect("ISTAT", 0, c.status, c.status);
  QVX_CASE_CALL(caller, POLYEVAL, &ncoef, c.coef.data(), &npts, c.x.data(), &c.xmin, &c.xmax, y,
                istat);
  return call.finish();
}

// ------------------------------------------------------------ LINEAR_CONV
struct LineCase {
  const char* name;
  double coef[2];
  double cov[4];
  double xmin, xmax;
  int status;
};

const LineCase kLineCases[] = {
    {"linear_conv", {10.0, 4.0}, {4e-4, 1e-5, 1e-5, 1e-4}, 0.0, 10.0, 0},
    {"linear_conv_offset", {3.7, -1.3}, {2.5e-3, -4e-4, -4e-4, 9e-4}, 2.5, 7.75, 0},
    {"linear_conv_bad_interval", {10.0, 4.0}, {4e-4, 1e-5, 1e-5, 1e-4}, 5.0, 1.0, 1},
};

Result run_line(Caller& caller, const LineCase& c) {
  Call call(c.name, Entry::LINEAR_CONV);
  double* lcoef = call.reals("LCOEF", 2);
  double* lcov = call.reals("LCOV", 4);
  int* istat = call.ints("ISTAT", 1);
  call.expect("ISTAT", 0, c.status, c.status);
  QVX_CASE_CALL(caller, LINEAR_CONV, c.coef, c.cov, &c.xmin, &c.xmax, lcoef, lcov, istat);
  return call.finish();
}

// ------------------------------------------------------------------ IPVAL
struct InverseCase {
  const char* name;
  std::vector<double> coef;
  double xmin, xmax;
  std::vector<double> y;
  int ngrid;
  double tol;
  int status;
};

const InverseCase kInverseCases[] = {
    // 4 t^2 - 1.5 on [0, 10]: two roots for y in (-1.5, 2.5], one touching
    // point at y = -1.5, none above 2.5.
    {"ipval_quadratic", {1.0, 0.0, 2.0}, 0.0, 10.0, {0.0, 2.0, -1.5, 3.0, 2.5}, 20, 1e-13, 0},
    {"ipval_cubic", {2.4, 1.1, 0.05, -0.02}, 0.0, 10.0, {0.3, 1.0, 1.7, 2.2, 5.0}, 50, 1e-12, 0},
    {"ipval_line", {10.0, 4.0}, 0.0, 10.0, {1.0, 5.0, 8.75, 9.5}, 10, 1e-14, 0},
    {"ipval_bad_interval", {1.0, 0.0, 2.0}, 3.0, 3.0, {0.0}, 20, 1e-13, 1},
    {"ipval_ncoef_below_two", {1.0}, 0.0, 10.0, {0.0, 1.0}, 20, 1e-13, 2},
    {"ipval_ngrid_below_one", {1.0, 0.0, 2.0}, 0.0, 10.0, {0.0}, 0, 1e-13, 3},
};

// A symmetric positive definite covariance of n coefficients.
std::vector<double> coefficient_covariance(int n) {
  std::vector<double> cov(static_cast<std::size_t>(n) * n);
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i)
      cov[static_cast<std::size_t>(j) * n + i] = (i == j ? 4e-4 : 0.0) + 1e-5 / (1 + i + j);
  return cov;
}

// Response covariance with variances on the diagonal and a marker value off
// it (only the diagonal may be read).
std::vector<double> response_covariance(int n) {
  std::vector<double> covy(static_cast<std::size_t>(n) * n, 7.0);
  for (int i = 0; i < n; ++i) covy[static_cast<std::size_t>(i) * n + i] = 1e-4 * (1 + i);
  return covy;
}

Result run_inverse(Caller& caller, const InverseCase& c) {
  const int ncoef = static_cast<int>(c.coef.size());
  const int npts = static_cast<int>(c.y.size());
  const std::vector<double> cov = coefficient_covariance(ncoef);
  const std::vector<double> covy = response_covariance(npts);
  const long long rows = ncoef - 1;
  Call call(c.name, Entry::IPVAL);
  int* nroot = call.ints("NROOT", npts);
  double* xroot = call.reals("XROOT", rows * npts);
  double* uxroot = call.reals("UXROOT", rows * npts);
  int* istat = call.ints("ISTAT", 1);
  call.expect("ISTAT", 0, c.status, c.status);
  QVX_CASE_CALL(caller, IPVAL, &ncoef, c.coef.data(), cov.data(), &npts, c.y.data(), covy.data(),
                &c.xmin, &c.xmax, &c.ngrid, &c.tol, nroot, xroot, uxroot, istat);
  return call.finish();
}

// ---------------------------------------------------------- IPVAL_DEGREE1
struct LineInverseCase {
  const char* name;
  double coef[2];
  double xmin, xmax;
  std::vector<double> y;
  int status;
};

const LineInverseCase kLineInverseCases[] = {
    {"ipval_degree1", {10.0, 4.0}, 0.0, 10.0, {1.0, 5.0, 8.75, 12.5, -3.0}, 0},
    {"ipval_degree1_offset", {3.7, -1.3}, 2.5, 7.75, {0.1, 1.85, 3.2}, 0},
    {"ipval_degree1_bad_interval", {10.0, 4.0}, 2.0, 1.0, {1.0, 5.0}, 1},
};

Result run_line_inverse(Caller& caller, const LineInverseCase& c) {
  const int npts = static_cast<int>(c.y.size());
  const std::vector<double> cov = coefficient_covariance(2);
  const std::vector<double> covy = response_covariance(npts);
  Call call(c.name, Entry::IPVAL_DEGREE1);
  double* xpred = call.reals("XPRED", npts);
  double* uxpred = call.reals("UXPRED", npts);
  int* istat = call.ints("ISTAT", 1);
  call.expect("ISTAT", 0, c.status, c.status);
  QVX_CASE_CALL(caller, IPVAL_DEGREE1, c.coef, cov.data(), &npts, c.y.data(), covy.data(), &c.xmin,
                &c.xmax, xpred, uxpred, istat);
  return call.finish();
}

// ------------------------------------------------------------ text form
std::string hex64(double v) {
  std::uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  static const char digits[] = "0123456789abcdef";
  std::string s(16, '0');
  for (int k = 15; k >= 0; --k, u >>= 4) s[k] = digits[u & 0xF];
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

bool entry_of(const std::string& name, Entry& e) {
  for (const EntryInfo& i : kEntries)
    if (name == i.name) {
      e = i.entry;
      return true;
    }
  return false;
}

}  // namespace

std::vector<Result> run_cases(Caller& caller) {
  std::vector<Result> out;
  for (const EvalCase& c : kEvalCases) out.push_back(run_eval(caller, c));
  for (const LineCase& c : kLineCases) out.push_back(run_line(caller, c));
  for (const OlsCase& c : kOlsCases) out.push_back(run_ols(caller, c));
  for (const GlsCase& c : kGlsCases) out.push_back(run_gls(caller, c));
  for (const InverseCase& c : kInverseCases) out.push_back(run_inverse(caller, c));
  for (const LineInverseCase& c : kLineInverseCases) out.push_back(run_line_inverse(caller, c));
  return out;
}

bool status_of(const Result& r, const StatusCheck& check, int& value) {
  for (const Output& o : r.outputs)
    if (o.name == check.output && o.integer && check.index < o.ints.size()) {
      value = o.ints[check.index];
      return true;
    }
  return false;
}

void write_results(std::ostream& os, const std::vector<Result>& results) {
  for (const Result& r : results) {
    os << "case " << r.name << ' ' << entry_info(r.entry).name << '\n';
    for (const Output& o : r.outputs) {
      const std::size_t n = o.integer ? o.ints.size() : o.reals.size();
      os << "out " << o.name << ' ' << (o.integer ? 'i' : 'r') << ' ' << o.guard << ' ' << n;
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
      std::string name, entry;
      if (cur != nullptr || !(in >> name >> entry)) return fail("bad case line");
      Result r;
      r.name = name;
      if (!entry_of(entry, r.entry)) return fail("unknown entry point " + entry);
      results.push_back(std::move(r));
      cur = &results.back();
    } else if (word == "out") {
      Output o;
      char kind = 0;
      std::size_t n = 0;
      if (cur == nullptr || !(in >> o.name >> kind >> o.guard >> n) || (kind != 'i' && kind != 'r'))
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
      return fail("unknown record " + word);
    }
  }
  if (cur != nullptr) return fail("unterminated case " + cur->name);
  return true;
}

}  // namespace quorvex_cases
