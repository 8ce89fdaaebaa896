library(testthat)
library(quorvex)

test_check("quorvex")
