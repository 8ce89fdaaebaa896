// The texts hosts show for the laboratory layer's statuses, sample flags and
// sources of u(y): one table, so that Python, R, the spreadsheet module and
// C++ programs say the same thing.
#pragma once

namespace quorvex::lab {

enum class TextKind {
  Status = 1,
  Flag = 2,
  Source = 3,
  Criterion = 4,    // a row of QVXL_VERDICT, 1..4
  Result = 5,       // RESULT of QVXL_VERDICT, 0..4
  Overall = 6,      // OVERALL of QVXL_VERDICT, 0..2
  Limit = 7,        // LIM(k) of QVXL_LIMITS, 1..12: each named by its definition
  BlankSource = 8,  // SOURCE of QVXL_LIMITS, 0..7
  ShapeTest = 9,    // the shape test a verdict ran (its DETAIL, QVXL_SHAPE_*)
  LimitDefinition = 20,  // the definition an LOD or LOQ is taken by (QVXL_LIMIT_CHOICE)
};

// The engine's entry points, whose statuses have texts too (kind 10 + this).
enum class Routine { OLSPFIT = 0, GLSPFIT, POLYEVAL, IPVAL, LINEAR_CONV, IPVAL_DEGREE1 };
inline constexpr int kRoutineKinds = 10;

// The text of a code, or null for a code without one.  Kinds 10 to 15 are
// the statuses of the engine's six entry points (Routine); their texts may
// hold {npts}, {ncoef}, {xmin} and {xmax}, the call's values.  Flag texts may hold
// placeholders a host fills in: {n} the number of roots, {lod} and {loq} the
// limits, {ext} the reading on the straight line extended, {rep} the
// replicates' check, {range} the reportable range.  A flag with an
// empty text is shown elsewhere (the inversion interval's column), not among
// the flags.
const char* text_of(int kind, int code);

}  // namespace quorvex::lab
