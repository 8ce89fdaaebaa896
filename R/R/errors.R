# The package's conditions and the statuses of the entry points in words.
#
# Every error is a condition of class "quorvex_error" and either
# "quorvex_input_error" (input refused before it reached the library) or
# "quorvex_fit_error" (the library could not complete the call), with fields
# `routine` (the entry point) and `code` (its status, NA for refused input).

quorvex_condition <- function(message, class, routine = NA_character_, code = NA_integer_,
                              call = NULL) {
  structure(class = c(class, "quorvex_error", "error", "condition"),
            list(message = message, call = call, routine = routine, code = code))
}

input_error <- function(..., routine = NA_character_) {
  stop(quorvex_condition(paste0(...), "quorvex_input_error", routine = routine))
}

# The engine's entry points, as the laboratory library numbers them for the
# texts of their statuses (QVXL_TEXT kinds 10 to 15).
ROUTINES <- c("OLSPFIT", "GLSPFIT", "POLYEVAL", "IPVAL", "LINEAR_CONV", "IPVAL_DEGREE1")

# The status `code` of `routine` in words: the laboratory library's text, its
# "{field}"s filled from `fields`.
status_message <- function(routine, code, fields = list()) {
  kind <- match(routine, ROUTINES)
  text <- if (is.na(kind)) NULL else .Call(qvx_text, 9L + kind, as.integer(code))
  if (is.null(text)) {
    return(sprintf("%s returned status %d", routine, as.integer(code)))
  }
  for (name in names(fields)) {
    text <- gsub(paste0("{", name, "}"), format(fields[[name]], digits = 6), text,
                 fixed = TRUE)
  }
  sprintf("%s (%s status %d)", text, routine, as.integer(code))
}

status_error <- function(routine, code, fields = list()) {
  stop(quorvex_condition(status_message(routine, code, fields), "quorvex_fit_error",
                         routine = routine, code = as.integer(code)))
}
