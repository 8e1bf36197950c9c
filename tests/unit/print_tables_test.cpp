// The clean tables (lsmat, csv), the lower triangle, the data tables and
// FASTA, the NEXUS data type of symbol matrices, and the chosen number of
// decimals or the shortest text in every layout.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "io/print.hpp"
#include "io/print_number.hpp"

namespace {

using namespace Phylo;
using Print::Dist_Output_Format;
using Print::Output_Format;

std::string Number(double value, int fore, int aft) {
  std::string text;
  {
    Text_IO::Text_Output out(&text);
    Print::Detail::Put_Number(out, value, fore, aft, 0);
  }
  return text;
}

std::string To_Chars(double value, int decimals) {
  char buffer[400];
  const auto end = decimals < 0 ? std::to_chars(buffer, buffer + sizeof buffer, value).ptr
                                : std::to_chars(buffer, buffer + sizeof buffer, value,
                                                std::chars_format::fixed, decimals).ptr;
  return std::string(buffer, end);
}

Squared Make_Squared(Taxon_Labels labels, const std::vector<std::vector<double>>& rows) {
  const int taxa = static_cast<int>(labels.size());
  Squared matrix(std::move(labels));
  matrix.Matrix = Generic::Square_Block(0, taxa - 1);
  for (int i = 0; i < taxa; ++i)
    for (int j = 0; j < taxa; ++j)
      matrix.Matrix(i, j) = rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
  return matrix;
}

Squared Apes(Taxon_Labels labels = {"Homo sap", "Pan", "Gorilla"}) {
  return Make_Squared(std::move(labels), {{0.0, 0.5, 1.25}, {0.5, 0.0, 0.75}, {1.25, 0.75, 0.0}});
}

std::string Written(const Squared& matrix, Dist_Output_Format format, int aft = Print::Default_Aft) {
  std::string text;
  {
    Text_IO::Text_Output out(&text);
    Print::Put(out, matrix, format, Print::Default_Fore, aft, Print::Default_Exp);
  }
  return text;
}

template <class Data, class... Number_Layout>
std::string Written_Data(const Data& data, Output_Format format, Number_Layout... layout) {
  std::string text;
  {
    Text_IO::Text_Output out(&text);
    Print::Put(out, data, format, layout...);
  }
  return text;
}

Disc_Data Make_Disc(Taxon_Labels labels, const std::vector<std::string>& rows) {
  Disc_Matrix matrix;
  for (const std::string& row : rows) matrix.Append_Row(std::span<const char>(row.data(), row.size()));
  return Disc_Data(std::move(labels), std::move(matrix));
}

Real_Data Make_Real(Taxon_Labels labels, const std::vector<std::vector<double>>& rows) {
  Real_Matrix matrix;
  for (const auto& row : rows) matrix.Append_Row(row);
  return Real_Data(std::move(labels), std::move(matrix));
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// ---------------------------------------------------------------- numbers

// Every decimal count and the shortest text write what the standard library
// writes (zero without its sign), over values of every magnitude, ties at
// every count and the numbers just beside them.
TEST(ChosenDecimals, EqualTheStandardLibraryText) {
  std::mt19937_64 random(20261209);
  std::vector<double> values = {0.0, -0.0, 0.5, 1.5, 2.5, -0.5, 1e-7, 7e-8, 0.125, 0.375, 1e15, 123456789.0,
                                std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min(),
                                std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()};
  std::uniform_int_distribution<int> exponent(-30, 25);
  for (int n = 0; n < 20000; ++n) {
    const double mantissa = std::uniform_real_distribution<double>(-1.0, 1.0)(random);
    values.push_back(std::ldexp(mantissa, exponent(random)));
    // A tie at some decimal count, and its neighbours.
    const double tie = std::ldexp(static_cast<double>(random() % 100000), -static_cast<int>(random() % 20));
    values.push_back(tie);
    values.push_back(std::nextafter(tie, 0.0));
    values.push_back(std::nextafter(tie, 1e300));
  }
  for (int decimals = 0; decimals <= Print::Max_Decimals; ++decimals) {
    const int aft = Print::Aft_Of_Decimals(decimals);
    for (const double v : values)
      ASSERT_EQ(Number(v, 0, aft), To_Chars(v == 0.0 ? 0.0 : v, decimals)) << v << " with " << decimals;
  }
  for (const double v : values) {
    const std::string text = Number(v, 0, Print::Shortest_Aft);
    ASSERT_EQ(text, To_Chars(v == 0.0 ? 0.0 : v, -1)) << v;
    if (!std::isfinite(v)) continue;
    double back = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), back);
    ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(v == 0.0 ? 0.0 : v)) << text;
  }
}

// The field before the point (or the exponent) keeps its width.
TEST(ChosenDecimals, IntegerPartRightAlignedAsBefore) {
  EXPECT_EQ(Number(0.5, 2, Print::No_Point_Aft), " 0");
  EXPECT_EQ(Number(12.5, 2, Print::No_Point_Aft), "12");
  EXPECT_EQ(Number(-3.0, 2, Print::No_Point_Aft), "-3");
  EXPECT_EQ(Number(0.1, 2, 3), " 0.100");
  EXPECT_EQ(Number(0.1, 2, Print::Shortest_Aft), " 0.1");
  EXPECT_EQ(Number(1e-7, 2, Print::Shortest_Aft), " 1e-07");
  EXPECT_EQ(Number(-1e-7, 2, Print::Shortest_Aft), "-1e-07");
  EXPECT_EQ(Number(0.0, 2, Print::Shortest_Aft), " 0");
  EXPECT_EQ(Number(-0.0, 0, Print::Shortest_Aft), "0");
}

// Each layout carries the number text through unchanged: the output is the
// default one with every eight-decimal value replaced by its other text.
TEST(ChosenDecimals, EveryDistanceAndDataLayout) {
  const Squared apes = Apes();
  const Real_Data real = Make_Real({"a", "b"}, {{0.5, 1.25}, {0.75, 0.0}});
  const double values[] = {0.0, 0.5, 0.75, 1.25};
  for (const int aft : {Print::No_Point_Aft, 3, 17, Print::Shortest_Aft}) {
    const auto expected = [&](std::string text) {
      for (const double v : values) text = Replaced(text, Number(v, 0, 8), Number(v, 0, aft));
      return text;
    };
    for (const Dist_Output_Format format :
         {Dist_Output_Format::EXTENDED_PHYLIP, Dist_Output_Format::LABELS, Dist_Output_Format::NEXUS,
          Dist_Output_Format::NEXUS_ENCLOSED, Dist_Output_Format::ONE_COLUMN, Dist_Output_Format::PHYLIP,
          Dist_Output_Format::RAW, Dist_Output_Format::TAB_SEPARATED, Dist_Output_Format::LSMAT,
          Dist_Output_Format::CSV, Dist_Output_Format::PHYLIP_LOWER})
      EXPECT_EQ(Written(apes, format, aft), expected(Written(apes, format)))
          << static_cast<int>(format) << " aft " << aft;
    for (const Output_Format format :
         {Output_Format::EXTENDED_PHYLIP, Output_Format::NEXUS, Output_Format::NEXUS_ENCLOSED,
          Output_Format::PHYLIP, Output_Format::RAW, Output_Format::CSV, Output_Format::TSV})
      EXPECT_EQ(Written_Data(real, format, 2, aft, 0), expected(Written_Data(real, format, 2, 8, 0)))
          << static_cast<int>(format) << " aft " << aft;
  }
}

// ---------------------------------------------------------------- distance tables

TEST(DistanceTables, LsmatCsvAndLowerTriangle) {
  const Squared apes = Apes();
  EXPECT_EQ(Written(apes, Dist_Output_Format::LSMAT),
            "\tHomo sap\tPan\tGorilla\n"
            "Homo sap\t0.00000000\t0.50000000\t1.25000000\n"
            "Pan\t0.50000000\t0.00000000\t0.75000000\n"
            "Gorilla\t1.25000000\t0.75000000\t0.00000000\n");
  EXPECT_EQ(Written(apes, Dist_Output_Format::CSV),
            ",Homo sap,Pan,Gorilla\n"
            "Homo sap,0.00000000,0.50000000,1.25000000\n"
            "Pan,0.50000000,0.00000000,0.75000000\n"
            "Gorilla,1.25000000,0.75000000,0.00000000\n");
  EXPECT_EQ(Written(apes, Dist_Output_Format::PHYLIP_LOWER),
            " 3\n"
            "Homo sap  \n"
            "Pan       \t 0.50000000\n"
            "Gorilla   \t 1.25000000\t 0.75000000\n");
}

// Labels are quoted only where the separator, a quote or a line break would
// split or end the cell.
TEST(DistanceTables, QuotingWhereTheCellNeedsIt) {
  const Squared odd = Apes({"a,b", "say \"hi\"", "t\tab"});
  EXPECT_EQ(Written(odd, Dist_Output_Format::CSV),
            ",\"a,b\",\"say \"\"hi\"\"\",t\tab\n"
            "\"a,b\",0.00000000,0.50000000,1.25000000\n"
            "\"say \"\"hi\"\"\",0.50000000,0.00000000,0.75000000\n"
            "t\tab,1.25000000,0.75000000,0.00000000\n");
  EXPECT_EQ(Written(odd, Dist_Output_Format::LSMAT),
            "\ta,b\t\"say \"\"hi\"\"\"\t\"t\tab\"\n"
            "a,b\t0.00000000\t0.50000000\t1.25000000\n"
            "\"say \"\"hi\"\"\"\t0.50000000\t0.00000000\t0.75000000\n"
            "\"t\tab\"\t1.25000000\t0.75000000\t0.00000000\n");
}

// The row steps a streaming writer uses give the same text as the whole
// matrix; a row holds only what its own values and the labels say.
TEST(DistanceTables, RowStepsMatchTheWholeMatrix) {
  const Squared apes = Apes();
  for (const Dist_Output_Format format :
       {Dist_Output_Format::LSMAT, Dist_Output_Format::CSV, Dist_Output_Format::PHYLIP_LOWER}) {
    std::string text;
    {
      Text_IO::Text_Output out(&text);
      const Print::Row_Layout layout =
          Print::Layout_Of(apes.Labels, format, Print::Default_Fore, Print::Shortest_Aft, Print::Default_Exp);
      Print::Print_Header(out, apes.Labels, format);
      for (std::size_t row = 0; row < 3; ++row)
        Print::Put_Row(out, apes.Labels, row, std::span<const double>(apes.Matrix.Row(static_cast<int>(row)), 3),
                       layout);
      Print::Print_Footer(out, format);
    }
    EXPECT_EQ(text, Written(apes, format, Print::Shortest_Aft)) << static_cast<int>(format);
  }
}

TEST(DistanceTables, FastaHoldsNoDistances) {
  EXPECT_THROW(Written(Apes(), Dist_Output_Format::FASTA), Errors::Constraint_Error);
  EXPECT_EQ(Print::Label_Format(Dist_Output_Format::LSMAT), Output_Format::TSV);
  EXPECT_EQ(Print::Label_Format(Dist_Output_Format::PHYLIP_LOWER), Output_Format::PHYLIP);
}

// ---------------------------------------------------------------- data

TEST(DataTables, SymbolsAndNumbersOneACell) {
  const Disc_Data disc = Make_Disc({"Homo sap", "x,y"}, {"AC,", "G\"T"});
  EXPECT_EQ(Written_Data(disc, Output_Format::CSV),
            ",c1,c2,c3\n"
            "Homo sap,A,C,\",\"\n"
            "\"x,y\",G,\"\"\"\",T\n");
  EXPECT_EQ(Written_Data(disc, Output_Format::TSV),
            "\tc1\tc2\tc3\n"
            "Homo sap\tA\tC\t,\n"
            "x,y\tG\t\"\"\"\"\tT\n");
  EXPECT_EQ(Written_Data(disc, Output_Format::FASTA), ">Homo_sap\nAC,\n>x,y\nG\"T\n");
  const Real_Data real = Make_Real({"a", "b"}, {{0.5, -12.25}, {1e-9, 3.0}});
  EXPECT_EQ(Written_Data(real, Output_Format::CSV, 2, 8, 0),
            ",c1,c2\n"
            "a,0.50000000,-12.25000000\n"
            "b,0.00000000,3.00000000\n");
  EXPECT_EQ(Written_Data(real, Output_Format::TSV, 2, Print::Shortest_Aft, 0),
            "\tc1\tc2\n"
            "a\t0.5\t-12.25\n"
            "b\t1e-09\t3\n");
  EXPECT_THROW(Written_Data(real, Output_Format::FASTA, 2, 8, 0), Errors::Constraint_Error);
}

std::string Format_Line(const Disc_Data& data, bool binary) {
  const std::string text = Written_Data(data, Output_Format::NEXUS, binary);
  const std::size_t at = text.find("\tformat ");
  return text.substr(at + 1, text.find('\n', at) - at - 1);
}

TEST(NexusDatatype, NucleotidesKeepTheirTypeOtherSymbolsAreListed) {
  EXPECT_EQ(Format_Line(Make_Disc({"a", "b"}, {"ACGT-", "nRyU?"}), false),
            "format datatype=nucleotide gap=- missing=?;");
  EXPECT_EQ(Format_Line(Make_Disc({"a", "b"}, {"0120", "?-21"}), false),
            "format datatype=standard symbols=\"012\" gap=- missing=?;");
  // One symbol outside the nucleotide codes is enough.
  EXPECT_EQ(Format_Line(Make_Disc({"a", "b"}, {"ACGT", "ACGX"}), false),
            "format datatype=standard symbols=\"ACGTX\" gap=- missing=?;");
  // Letters in both cases are different states.
  EXPECT_EQ(Format_Line(Make_Disc({"a", "b"}, {"xyXz", "0000"}), false),
            "format datatype=standard respectcase symbols=\"0Xxyz\" gap=- missing=?;");
  // Binary data are 0/1 whatever they hold; their other symbols are listed
  // too, so a reader takes them as states and not as errors.
  EXPECT_EQ(Format_Line(Make_Disc({"a", "b"}, {"0000", "00?0"}), true),
            "format datatype=standard symbols=\"01\" gap=- missing=?;");
  EXPECT_EQ(Format_Line(Make_Disc({"a", "b"}, {"10?1-", "01A?1"}), true),
            "format datatype=standard symbols=\"01A\" gap=- missing=?;");
  std::string symbols;
  EXPECT_EQ(Print::Nexus_Datatype_Of(Make_Disc({"a"}, {"ACGT"}), true, symbols), Print::Nexus_Datatype::STANDARD);
}

} // namespace
