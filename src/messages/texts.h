// The texts hosts show for the laboratory layer's statuses, sample flags and
// sources of u(y): one table, so that Python, R, the spreadsheet module and
// C++ programs say the same thing.
#pragma once

namespace quorvex::lab {

enum class TextKind { Status = 1, Flag = 2, Source = 3 };

// The text of a code, or null for a code without one.  Flag texts may hold
// placeholders a host fills in: {n} the number of roots, {lod} and {loq} the
// limits, {ext} the reading on the straight line extended.  A flag with an
// empty text is shown elsewhere (the inversion interval's column), not among
// the flags.
const char* text_of(TextKind kind, int code);

}  // namespace quorvex::lab
