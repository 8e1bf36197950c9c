#include <gtest/gtest.h>

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "api/pipeline.hpp"
#include "diagnostics/warnings.hpp"
#include "transform/disc_to_binary.hpp"

using namespace Karvel;

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

namespace {

// The symbols binary data count as unknown without being written for it:
// every byte value at places inside and after the eight-byte words the
// check looks at, against the plain definition.
TEST(UnknownBinarySymbols, EveryByteAtEveryPlaceOfAWord) {
  std::vector<std::string> warnings;
  Generic::Warnings::Set_Sink([&](const std::string& message) { warnings.push_back(message); });
  for (const std::size_t at : {0u, 3u, 7u, 8u, 12u, 15u, 16u}) {
    for (int b = 0; b < 256; ++b) {
      const char c = static_cast<char>(b);
      std::vector<char> row(17);
      for (std::size_t k = 0; k < row.size(); ++k) row[k] = "01?-"[k % 4];
      row[at] = c;
      Disc_Matrix matrix;
      matrix.Append_Row(std::span<const char>(row.data(), row.size()));
      matrix.Append_Row(std::span<const char>(row.data(), row.size()));
      Phylo::Pipeline::Data data;
      data.Type = Phylo::Pipeline::Datatype::BINARY;
      data.Symbols = std::make_unique<Phylo::Disc_Data>(Phylo::Taxon_Labels{"a", "b"}, std::move(matrix));
      warnings.clear();
      Phylo::Pipeline::Warn_Of_Unknown_Binary_Symbols(data, "m");
      const bool other = c != '0' && c != '1' && c != '?' && c != '-';
      ASSERT_EQ(warnings.size(), other ? 1u : 0u) << "byte " << b << " at " << at;
      if (other) {
        EXPECT_NE(warnings[0].find("holds 2 symbols other than 0, 1, ? and -"), std::string::npos) << warnings[0];
        EXPECT_NE(warnings[0].find("character " + std::to_string(at + 1) + " of taxon 1 'a'"), std::string::npos)
            << warnings[0];
      }
    }
  }
  Generic::Warnings::Set_Sink({});
}

} // namespace
