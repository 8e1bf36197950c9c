#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "distance/distfunc_mixed.hpp"
#include "read/read_mixed.hpp"
#include "tests/unit/run_program.hpp"
#include "tests/unit/test_support.hpp"

using namespace Karvel;
using Phylo::Read::Mixed_Type;

namespace {

Phylo::Read::Mixed_Data Read_Csv(const std::string& text) {
  Text_IO::Text_Input input(text);
  return *Phylo::Read::Get_Mixed(input, Phylo::Read::Input_Format::CSV, {});
}

// The coefficient written out from its definition, on the cells as texts:
// no codes, no scaling ahead, one pair at a time.
struct Table {
  std::vector<std::vector<std::string>> cells; // taxa x characters, "" missing
  std::string types;
  std::vector<double> weights;

  double Distance(std::size_t i, std::size_t j) const {
    double num = 0.0, den = 0.0;
    for (std::size_t k = 0; k < types.size(); ++k) {
      const std::string &x = cells[i][k], &y = cells[j][k];
      if (x.empty() || y.empty()) continue;
      double d = 0.0;
      if (types[k] == 'c' || types[k] == 'o') {
        // Continuous: (x - min) / range; ordinal: the same on dense ranks.
        std::vector<double> column;
        for (const auto& row : cells)
          if (!row[k].empty()) column.push_back(types[k] == 'c' ? std::stod(row[k]) : 0.0);
        std::vector<std::string> levels;
        for (const auto& row : cells)
          if (!row[k].empty()) levels.push_back(row[k]);
        std::sort(levels.begin(), levels.end());
        levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
        auto value = [&](const std::string& s) {
          return types[k] == 'c' ? std::stod(s)
                                 : static_cast<double>(std::lower_bound(levels.begin(), levels.end(), s) - levels.begin() + 1);
        };
        double lo = 1.0, hi = static_cast<double>(levels.size());
        if (types[k] == 'c') {
          lo = *std::min_element(column.begin(), column.end());
          hi = *std::max_element(column.begin(), column.end());
        }
        const double range = hi - lo == 0.0 ? 1.0 : hi - lo;
        d = std::abs((value(x) - lo) / range - (value(y) - lo) / range);
      } else {
        if (types[k] == 'a' && x == "0" && y == "0") continue;
        d = x == y ? 0.0 : 1.0;
      }
      num += weights[k] * d;
      den += weights[k];
    }
    return num / den;
  }

  std::string Csv() const {
    std::string text = "taxon";
    for (std::size_t k = 0; k < types.size(); ++k) text += ",c" + std::to_string(k);
    for (std::size_t t = 0; t < cells.size(); ++t) {
      text += "\nt" + std::to_string(t);
      for (const std::string& cell : cells[t]) text += "," + (cell.empty() ? std::string("NA") : cell);
    }
    return text + "\n";
  }
};

// Every type, a tenth of the cells missing, weights from 0 to 3.
Table Random_Table(int taxa, const std::string& types, unsigned seed) {
  std::mt19937 rng(seed);
  Table t;
  t.types = types;
  for (std::size_t k = 0; k < types.size(); ++k) t.weights.push_back(static_cast<double>(rng() % 7) * 0.5);
  const char* nominal[] = {"red", "green", "blue", "cyan"};
  const char* ordinal[] = {"high", "low", "mid", "top", "very high"};
  for (int i = 0; i < taxa; ++i) {
    std::vector<std::string> row;
    for (char type : types) {
      if (rng() % 10 == 0) {
        row.emplace_back();
        continue;
      }
      switch (type) {
      case 'c': row.push_back(std::to_string(static_cast<int>(rng() % 2001) - 1000) + "." + std::to_string(rng() % 100)); break;
      case 'o': row.emplace_back(ordinal[rng() % 5]); break;
      case 'n': row.emplace_back(nominal[rng() % 4]); break;
      case 's': row.emplace_back(rng() % 2 ? "m" : "f"); break;
      default: row.emplace_back(rng() % 3 ? "0" : "1"); break;
      }
    }
    t.cells.push_back(std::move(row));
  }
  return t;
}

TEST(Gower, EveryTypeWithWeightsAndMissingCellsAgreesWithTheDefinition) {
  const Table t = Random_Table(40, "consacnoaa", 1);
  const Phylo::Read::Mixed_Data data = Read_Csv(t.Csv());
  const Phylo::Distfunc::Gower_Matrix m = Phylo::Read::Encode(data, t.types, t.weights);
  Phylo::Distfunc::Undefined_Pairs undefined;
  const Generic::Square_Block d = Phylo::Distfunc::Distances(m, &undefined);
  for (std::size_t i = 0; i < t.cells.size(); ++i)
    for (std::size_t j = 0; j < t.cells.size(); ++j) {
      const double want = i == j ? 0.0 : t.Distance(i, j);
      if (std::isnan(want))
        EXPECT_TRUE(std::isnan(d(static_cast<int>(i), static_cast<int>(j)))) << i << " " << j;
      else
        EXPECT_NEAR(d(static_cast<int>(i), static_cast<int>(j)), want, 1e-14) << i << " " << j;
    }
}

TEST(Gower, SameBitsOnEveryPathThreadCountAndRowBlock) {
  // Weighted with missing cells and asymmetric columns, then complete with
  // unit weights: the kernel's two kinds of tile.
  for (const auto& [types, weights] : {std::pair<std::string, bool>{"cnosaocna", true}, {"cnoscn", false}}) {
    Table t = Random_Table(150, types, 2);
    if (!weights)
      for (auto& row : t.cells)
        for (std::size_t k = 0; k < row.size(); ++k)
          if (row[k].empty()) row[k] = types[k] == 'c' ? "1.5" : types[k] == 'o' ? "low" : types[k] == 's' ? "m" : "red";
    const Phylo::Read::Mixed_Data data = Read_Csv(t.Csv());
    const Phylo::Distfunc::Gower_Matrix m =
        Phylo::Read::Encode(data, t.types, weights ? t.weights : std::vector<double>{});
    Test_Support::Settings_Scope scope(Generic::Simd::Path::SCALAR, 1);
    const Generic::Square_Block reference = Phylo::Distfunc::Distances(m);
    const int n = reference.Size();
    for (Generic::Simd::Path path : Generic::Simd::All_Paths) {
      if (!Generic::Simd::Available(path)) continue;
      for (int threads : {1, 2, 3}) {
        scope.Path(path);
        scope.Threads(threads);
        const Generic::Square_Block whole = Phylo::Distfunc::Distances(m);
        EXPECT_EQ(std::memcmp(whole.Data(), reference.Data(), sizeof(double) * n * n), 0)
            << Generic::Simd::Name(path) << " " << threads;
        const auto rows = Phylo::Distfunc::Row_Distances_Of(m);
        for (Phylo::Row_Part part : {Phylo::Row_Part::ALL, Phylo::Row_Part::BEFORE, Phylo::Row_Part::AFTER})
          for (int first = 0; first < n; first += 37) {
            const int past = std::min(n, first + 37);
            std::vector<double> block(static_cast<std::size_t>(past - first) * n, -1.0);
            rows->Compute(first, past, part, Phylo::Distfunc::Pair_Order::TAXA, block.data());
            for (int r = first; r < past; ++r)
              for (int j = 0; j < n; ++j) {
                const bool shown = part == Phylo::Row_Part::ALL || j == r || (part == Phylo::Row_Part::BEFORE) == (j < r);
                const double got = block[static_cast<std::size_t>(r - first) * n + j];
                if (shown) {
                  const double want = reference(r, j);
                  EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << r << " " << j;
                } else {
                  EXPECT_EQ(got, -1.0);
                }
              }
          }
      }
    }
  }
}

// The sums of each pair column by column in ascending k, as the kernel's
// every form must give them bit for bit: the term min(|x - y|, 1), a
// missing cell or an asymmetric pair of zeros leaving the column out.
double Plain_Loop(const Phylo::Distfunc::Gower_Matrix& m, int i, int j) {
  double num = 0.0, den = 0.0;
  const auto x = m.Values.Row(i), y = m.Values.Row(j);
  for (std::size_t k = 0; k < m.Weights.size(); ++k) {
    if (std::isnan(x[k]) || std::isnan(y[k]) || (m.Asymmetric[k] && x[k] == 0.0 && y[k] == 0.0)) continue;
    num += m.Weights[k] * std::min(std::abs(x[k] - y[k]), 1.0);
    den += m.Weights[k];
  }
  return num / den;
}

TEST(Gower, EveryKindOfColumnGivesTheBitsOfAPlainLoopWhicheverPathBuiltAndRuns) {
  // Runs of columns within 1 of each other, spanning more than 1, integer
  // codes and asymmetric 0s and 1s, one weight 0; then an asymmetric column
  // holding a 2, which the kernel cannot take by presence alone.
  std::mt19937 rng(7);
  for (const bool odd_asymmetric : {false, true}) {
    Phylo::Distfunc::Gower_Matrix m;
    const std::string kinds = "ppcceeaapceapa";
    for (std::size_t k = 0; k < kinds.size(); ++k) {
      m.Weights.push_back(k == 3 ? 0.0 : 0.25 * static_cast<double>(1 + rng() % 9));
      m.Equality.push_back(kinds[k] == 'e' || kinds[k] == 'a' ? -1 : 0);
      m.Asymmetric.push_back(kinds[k] == 'a' ? -1 : 0);
    }
    for (int t = 0; t < 70; ++t) {
      for (const char kind : kinds) {
        const double u = static_cast<double>(rng() % 1000) / 999.0;
        double v = kind == 'p' ? u : kind == 'c' ? 3.5 * u - 1.0 : kind == 'e' ? static_cast<double>(rng() % 4) : static_cast<double>(rng() % 2);
        if (rng() % 8 == 0) v = std::numeric_limits<double>::quiet_NaN();
        m.Values.Push(v);
      }
      m.Values.Close_Row();
    }
    if (odd_asymmetric) m.Values.Row(5)[6] = 2.0;
    const int n = m.Values.Rows();
    for (Generic::Simd::Path built : Generic::Simd::All_Paths) {
      if (!Generic::Simd::Available(built)) continue;
      Test_Support::Settings_Scope scope(built, 1);
      const auto rows = Phylo::Distfunc::Row_Distances_Of(m);
      for (Generic::Simd::Path path : Generic::Simd::All_Paths) {
        if (!Generic::Simd::Available(path)) continue;
        scope.Path(path);
        for (int threads : {1, 2}) {
          scope.Threads(threads);
          std::vector<double> block(static_cast<std::size_t>(n) * n);
          Phylo::Distfunc::Undefined_Pairs undefined;
          rows->Compute(0, n, Phylo::Row_Part::ALL, Phylo::Distfunc::Pair_Order::TAXA, block.data(), &undefined);
          for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j) {
              const double want = Plain_Loop(m, i, j), got = block[static_cast<std::size_t>(i) * n + j];
              EXPECT_TRUE(std::memcmp(&got, &want, sizeof got) == 0 || (std::isnan(want) && std::isnan(got)))
                  << Generic::Simd::Name(built) << " " << Generic::Simd::Name(path) << " " << i << " " << j;
            }
        }
      }
    }
  }
}

TEST(Gower, TypesAreToldFromTheCellsAndChecked) {
  const Phylo::Read::Mixed_Data data = Read_Csv("t,a,b,c,d\nx,1,red,NA,1e3\ny,2.5,3,,?\n");
  EXPECT_EQ(Phylo::Read::Types_Of(data, ""),
            (std::vector<Mixed_Type>{Mixed_Type::CONTINUOUS, Mixed_Type::NOMINAL, Mixed_Type::CONTINUOUS,
                                     Mixed_Type::CONTINUOUS}));
  EXPECT_THROW(Phylo::Read::Types_Of(data, "ccc"), Errors::Usage_Error);
  EXPECT_THROW(Phylo::Read::Encode(data, "", {1, 2}), Errors::Usage_Error);
  EXPECT_THROW(Phylo::Read::Encode(data, "cccc", {}), Errors::Data_Error); // "red" is no number
  const Phylo::Read::Mixed_Data three = Read_Csv("t,a\nx,p\ny,q\nz,r\n");
  EXPECT_THROW(Phylo::Read::Encode(three, "s", {}), Errors::Data_Error);
  EXPECT_THROW(Phylo::Read::Encode(three, "a", {}), Errors::Data_Error);
  EXPECT_NO_THROW(Phylo::Read::Encode(three, "o", {}));
}

TEST(Gower, ANexusMatrixReadsAsTheSameTable) {
  // Tokens, a quoted one among them; NA, the missing and gap symbols and a
  // polymorphic cell are missing. Then one symbol a cell, where named
  // states make digits nominal.
  struct Case {
    const char* nexus;
    const char* csv;
    std::vector<Mixed_Type> types;
  };
  const Case cases[] = {
      {"#NEXUS\nbegin data; dimensions ntax=4 nchar=3; format tokens missing=? gap=-;\n"
       "matrix\nw 1.5 'red fox' {01}\nx NA blue 0\ny 3 - 1\nz 2.25e0 blue 1\n;\nend;\n",
       "t,a,b,c\nw,1.5,red fox,NA\nx,NA,blue,0\ny,3,NA,1\nz,2.25,blue,1\n",
       {Mixed_Type::CONTINUOUS, Mixed_Type::NOMINAL, Mixed_Type::CONTINUOUS}},
      {"#NEXUS\nbegin data; dimensions ntax=3 nchar=3; format symbols=\"012\" matchchar=.;\n"
       "charstatelabels 1 size / small large, 2 teeth, 3 horns;\nmatrix\nw 021\nx 1.0\ny (12)-0\n;\nend;\n",
       "t,size,teeth,horns\nw,0,2,1\nx,1,2,0\ny,NA,NA,0\n",
       {Mixed_Type::NOMINAL, Mixed_Type::CONTINUOUS, Mixed_Type::CONTINUOUS}},
  };
  for (const Case& c : cases) {
    Text_IO::Text_Input input{std::string(c.nexus)};
    const Phylo::Read::Mixed_Data nexus = *Phylo::Read::Get_Mixed(input, Phylo::Read::Input_Format::NEXUS, {});
    const Phylo::Read::Mixed_Data csv = Read_Csv(c.csv);
    EXPECT_EQ(Phylo::Read::Types_Of(nexus, ""), c.types) << c.nexus;
    std::string letters;
    for (Mixed_Type t : c.types) letters += static_cast<char>(t);
    const Generic::Square_Block a = Phylo::Distfunc::Distances(Phylo::Read::Encode(nexus, "", {}));
    const Generic::Square_Block b = Phylo::Distfunc::Distances(Phylo::Read::Encode(csv, letters, {}));
    ASSERT_EQ(a.Size(), b.Size());
    EXPECT_EQ(std::memcmp(a.Data(), b.Data(), sizeof(double) * a.Size() * a.Size()), 0) << c.nexus;
  }
}

TEST(Gower, NumbersAreOrdinalLevelsByValueAndAsymmetricZeroIsAbsence) {
  // 10 sorts after 9 as a number; "1.0" and "1" are one level.
  const Phylo::Read::Mixed_Data data = Read_Csv("t,o,a\nw,9,yes\nx,10,no\ny,1.0,no\nz,1,yes\n");
  const Phylo::Distfunc::Gower_Matrix m = Phylo::Read::Encode(data, "oa", {});
  const Generic::Square_Block d = Phylo::Distfunc::Distances(m);
  EXPECT_EQ(d(2, 3), 0.5);               // o equal; a: no (the lower level, absence) against yes
  EXPECT_EQ(d(1, 2), 1.0);               // o: rank 3 against 1 of 3; a: no against no is left out
  EXPECT_EQ(d(0, 1), (0.5 + 1.0) / 2.0); // o: rank 2 against 3
}

TEST(Gower, PairsWithNothingInCommonHaveNoDistance) {
  const Phylo::Read::Mixed_Data data = Read_Csv("t,a,b\nx,1,NA\ny,NA,q\nz,0,0\n");
  const Phylo::Distfunc::Gower_Matrix m = Phylo::Read::Encode(data, "ca", {});
  EXPECT_THROW(Phylo::Distfunc::Distances(m), Phylo::Distfunc::Pair_Range_Error);
  Phylo::Distfunc::Undefined_Pairs undefined;
  const Generic::Square_Block d = Phylo::Distfunc::Distances(m, &undefined);
  EXPECT_EQ(undefined.Count, 1); // x-y; y-z shares b (q against 0)
  EXPECT_EQ(undefined.I, 0);
  EXPECT_EQ(undefined.J, 1);
  EXPECT_TRUE(std::isnan(d(1, 0)));
}

TEST(Gower, OptionsAreRefusedWithWhatIsWrong) {
  struct Case {
    std::vector<std::string> arguments;
    const char* says;
  };
  for (const Case& c : std::vector<Case>{
           {{"karvel", "--mixed", "--types=cx"}, "letter 2, 'x'"},
           {{"karvel", "--mixed", "--weights=1,-2"}, "weight 2, '-2'"},
           {{"karvel", "--mixed", "--weights=1,inf"}, "weight 2, 'inf'"},
           {{"karvel", "--mixed", "--weights=1,,2"}, "weight 2, ''"},
       }) {
    const Test_Support::Run_Result r = Test_Support::Run_Karvel(c.arguments);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
}

} // namespace
