#include "messages/texts.h"

#include <cstddef>

#include "quorvex_lab.h"

namespace quorvex::lab {

namespace {

struct Entry {
  int code;
  const char* text;
};

constexpr Entry kStatus[] = {
    {QVXL_OK, "success"},
    {QVXL_BAD_NCOEF, "the curve's number of coefficients is out of range"},
    {QVXL_BAD_INTERVAL, "the curve's interval is empty or not finite"},
    {QVXL_BAD_COUNT, "a count is below its least value"},
    {QVXL_BAD_CODE, "an unknown code"},
    {QVXL_BAD_VALUE, "a value is NaN, infinite or out of range"},
    {QVXL_UY_STATED_STANDARDS,
     "the standards carry stated uncertainties, so a sample's response uncertainty is not "
     "known from their scatter"},
    {QVXL_UY_NO_DOF,
     "the fit has no degrees of freedom, so the scatter of a reading is not known"},
    {QVXL_VERDICT_DOF_MISMATCH,
     "the fit's degrees of freedom differ from the number of standards less the number of "
     "coefficients"},
    {QVXL_VERDICT_BAD_WEIGHT, "a weight is not positive and finite"},
    {QVXL_VERDICT_BAD_CRITERIA, "an acceptance criterion is out of range"},
    {QVXL_LIM_BLANK_FAR,
     "the blank lies more than a quarter of the interval's width outside the standards"},
    {QVXL_LIM_BLANK_UNKNOWN,
     "the standards' u_y differ, so the blank's response uncertainty is not known"},
    {QVXL_LIM_NO_DOF, "the scaled covariance needs degrees of freedom: this fit has none"},
    {QVXL_SEL_NONE_FITTED, "no candidate degree could be fitted"},
    {QVXL_MC_COV_NOT_FINITE,
     "the coefficient covariance is not finite (a scaled covariance without degrees of "
     "freedom?)"},
    {QVXL_MC_COV_INDEFINITE, "the coefficient covariance is not positive semidefinite"},
    {QVXL_NO_STORAGE, "working storage could not be obtained"},
};

constexpr Entry kFlag[] = {
    {QVXL_FLAG_NO_ROOT, "no root in the interval"},
    {QVXL_FLAG_SEVERAL_ROOTS, "{n} roots"},
    {QVXL_FLAG_AT_END, "root at an end of the interval"},
    {QVXL_FLAG_INTERVAL_OPEN, ""},
    {QVXL_FLAG_BELOW_LOWEST, "below the lowest standard{ext}"},
    {QVXL_FLAG_ABOVE_HIGHEST, "above the highest standard: dilute and repeat{ext}"},
    {QVXL_FLAG_BELOW_BLANK, "response below the blank's"},
    {QVXL_FLAG_BELOW_LOD, "below LOD ({lod})"},
    {QVXL_FLAG_BELOW_LOQ, "below LOQ ({loq})"},
    {QVXL_FLAG_FLAT, "flat curve: u(x) infinite"},
    {QVXL_FLAG_NO_SCALE, "u(x) unknown: the fit has no degrees of freedom"},
};

constexpr Entry kSource[] = {
    {QVXL_UYSRC_STATED, "stated"},
    {QVXL_UYSRC_SCATTER, "from the scatter, {m} reading{s}"},
    {QVXL_UYSRC_CURVE_ONLY, "curve only"},
};

template <std::size_t N>
const char* find(const Entry (&table)[N], int code) {
  for (const Entry& e : table)
    if (e.code == code) return e.text;
  return nullptr;
}

}  // namespace

const char* text_of(TextKind kind, int code) {
  switch (kind) {
    case TextKind::Status:
      return find(kStatus, code);
    case TextKind::Flag:
      return find(kFlag, code);
    case TextKind::Source:
      return find(kSource, code);
  }
  return nullptr;
}

}  // namespace quorvex::lab
