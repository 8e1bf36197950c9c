#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "transform/disc_to_binary.hpp"

namespace {

using Phylo::Binary;
using Phylo::Disc_Matrix;
using Phylo::Disc_To_Binary::Binary_Translator;
using Phylo::Disc_To_Binary::Translate;

constexpr Binary P = Binary::PRESENCE;
constexpr Binary A = Binary::ABSENCE;
constexpr Binary U = Binary::UNKNOWN;

Binary_Translator Zero_One() {
  Binary_Translator t;
  t.fill(U);
  t[static_cast<unsigned char>('1')] = P;
  t[static_cast<unsigned char>('0')] = A;
  return t;
}

std::vector<Binary> Row_Of(const Phylo::Binary_Matrix& m, int i) {
  const auto row = m.Row(i);
  return {row.begin(), row.end()};
}

TEST(DiscToBinary, EveryValueIsLookedUpOnItsOwn) {
  EXPECT_EQ(Translate(std::string_view("10?1-"), Zero_One()), (std::vector<Binary>{P, A, U, P, U}));
  // Multistate values are not split into several binary characters.
  EXPECT_EQ(Translate(std::string_view("2A9"), Zero_One()), (std::vector<Binary>{U, U, U}));
}

TEST(DiscToBinary, CodesAbove127IndexTheUpperTable) {
  Binary_Translator t;
  t.fill(U);
  t[0x80] = P;
  t[0xFF] = A;
  EXPECT_EQ(Translate(std::string_view("\x80\xff\x7f"), t), (std::vector<Binary>{P, A, U}));
}

TEST(DiscToBinary, MatrixKeepsShapeAndOrder) {
  Disc_Matrix source;
  source.Append_Row(std::string_view("1?0"));
  source.Append_Row(std::string_view("1?1"));
  source.Append_Row(std::string_view("1?-"));

  const Phylo::Binary_Matrix result = Translate(source, Zero_One());
  ASSERT_EQ(result.Rows(), 3);
  EXPECT_EQ(Row_Of(result, 0), (std::vector<Binary>{P, U, A}));
  EXPECT_EQ(Row_Of(result, 1), (std::vector<Binary>{P, U, P}));
  EXPECT_EQ(Row_Of(result, 2), (std::vector<Binary>{P, U, U}));

  // The source is left as it was.
  EXPECT_EQ(std::string_view(source.Row(1).data(), source.Row(1).size()), "1?1");
}

TEST(DiscToBinary, RowsOfDifferentLengthsAndEmptyMatrices) {
  Disc_Matrix source;
  source.Append_Row(std::string_view("10"));
  source.Append_Row(std::string_view(""));
  source.Append_Row(std::string_view("0"));
  const Phylo::Binary_Matrix result = Translate(source, Zero_One());
  EXPECT_EQ(Row_Of(result, 0), (std::vector<Binary>{P, A}));
  EXPECT_TRUE(Row_Of(result, 1).empty());
  EXPECT_EQ(Row_Of(result, 2), (std::vector<Binary>{A}));

  EXPECT_EQ(Translate(Disc_Matrix(), Zero_One()).Rows(), 0);
}

} // namespace
