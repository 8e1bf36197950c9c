#include <gtest/gtest.h>

#include "phylo/phylo.hpp"

TEST(Placeholder, Builds) { SUCCEED(); }
