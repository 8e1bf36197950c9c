library(testthat)
library(karvel)
test_check("karvel")
