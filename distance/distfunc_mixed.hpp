#pragma once
// Gower's general coefficient of mixed characters (Gower 1971): each pair of
// taxa is compared over the characters present in both, each character by
// a term of its kind in [0, 1], weighted, and the weighted terms are
// averaged.

#include <array>
#include <memory>
#include <vector>

#include "distance/distfunc.hpp"

namespace Karvel::Phylo::Distfunc {

// The characters, encoded for the kernel. A cell is a quiet NaN where
// missing; else a continuous or ordinal cell is its value scaled to [0, 1]
// over the column, compared by the absolute difference, and a nominal or
// binary cell a small integer code, compared for equality (the kernel takes
// min(|x - y|, 1) for both, which needs exactly these ranges). An
// asymmetric binary column holds 0 for absence and leaves out pairs absent
// in both.
struct Gower_Matrix {
  Real_Matrix Values; // taxa x characters, every row Characters() long
  std::vector<double> Weights;
  std::vector<long long> Equality;   // -1: compared for equality, 0: by difference
  std::vector<long long> Asymmetric; // -1: an asymmetric binary column
  int Characters() const { return static_cast<int>(Weights.size()); }
};

// The formulae of mixed characters, one row each as for the other
// families (formulas.hpp): the name in messages and in the library, and the
// label of the usage text.
struct Mixed_Row {
  const char* Name;
  const char* Label;
};
inline constexpr std::array<Mixed_Row, 1> Mixed_Formulas{{
    {"GOWER", "Gower's general coefficient (Gower 1971), as R's cluster::daisy(metric = \"gower\")"},
}};
inline constexpr const char* Gower_Name = Mixed_Formulas[0].Name;

// d(i, j) = sum_k w_k delta_k d_k / sum_k w_k delta_k, both sums in
// ascending k. A pair that shares no character of positive weight has no
// distance (Pair_Range_Error, or NaN under `undefined`).
Generic::Square_Block Distances(const Gower_Matrix& matrix, Undefined_Pairs* undefined = nullptr);
// Keeps a reference to the matrix, which must stay.
std::unique_ptr<Row_Distances> Row_Distances_Of(const Gower_Matrix& matrix);

} // namespace Karvel::Phylo::Distfunc
