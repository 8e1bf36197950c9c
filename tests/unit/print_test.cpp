#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "threads/parallel.hpp"
#include "write/print.hpp"
#include "write/print_number.hpp"
#include "tests/unit/test_support.hpp"

using namespace Karvel;

namespace {

using namespace Phylo;
using Print::Dist_Output_Format;
using Print::Output_Format;

// Lines joined with line feeds, each one terminated: keeps the expected
// layouts readable one line per source line.
std::string Lines(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) {
    text += line;
    text += '\n';
  }
  return text;
}

const std::string Distance_Paup = Lines({
    "\t;",
    "end;",
    "",
    "begin paup;",
    "\tset torder=left tcompress taxlabels=full outroot=monophyl",
    "\t\tautoclose maxtrees=1000 increase=auto autoinc=1000",
    "\t\tstoretreewts storebrlens rootmethod=outgroup",
    "\t\twarnroot=no;",
    "\tdefaults nj bionj breakties=random;",
    "\tdefaults upgma bionj breakties=random;",
    "\tdefaults contree grpfreq=no;",
    "\tdefaults hsearch addseq=random;",
    "\tdefaults savedist triangle=both;",
    "\tdefaults describetrees labelnode=no;",
    "end;",
});

const std::string Data_Paup = Lines({
    "\t;",
    "end;",
    "",
    "begin paup;",
    "\tset torder=left tcompress taxlabels=full outroot=monophyl",
    "\t\tautoclose maxtrees=1000 increase=auto autoinc=1000",
    "\t\tstoretreewts storebrlens rootmethod=outgroup",
    "\t\twarnroot=no;",
    "\tpset opt=deltran collapse=minbrlen;",
    "\tdset dcollapse distance=hky85 missdist=ignore rates=equal",
    "\t\tpinvar=0;",
    "\tdefaults nj bionj breakties=random;",
    "\tdefaults upgma bionj breakties=random;",
    "\tdefaults bootstrap grpfreq=no;",
    "\tdefaults contree grpfreq=no;",
    "\tdefaults hsearch addseq=random;",
    "\tdefaults savedist triangle=both;",
    "\tdefaults describetrees labelnode=no;",
    "end;",
});

// A distance matrix from its labels and its rows.
Squared Make_Squared(Taxon_Labels labels, const std::vector<std::vector<double>>& rows) {
  const int taxa = static_cast<int>(labels.size());
  Squared matrix(std::move(labels));
  matrix.Matrix = Generic::Square_Block(0, taxa - 1);
  for (int i = 0; i < taxa; ++i)
    for (int j = 0; j < taxa; ++j)
      matrix.Matrix(i, j) = rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
  return matrix;
}

Squared Apes() {
  return Make_Squared({"Homo sap", "Pan", "Gorilla"},
      {{0.0, 0.5, 1.25}, {0.5, 0.0, 0.75}, {1.25, 0.75, 0.0}});
}

std::string Written(const Squared& matrix, Dist_Output_Format format, int aft = Print::Default_Aft) {
  std::string text;
  {
    Text_IO::Text_Output out(&text);
    Print::Put(out, matrix, format, Print::Default_Fore, aft, Print::Default_Exp);
  }
  return text;
}

std::string Number(double value, int fore = 2, int aft = 8, int exp = 0) {
  std::string text;
  {
    Text_IO::Text_Output out(&text);
    Print::Detail::Put_Number(out, value, fore, aft, exp);
  }
  return text;
}

std::string Label(const std::string& label, Output_Format style, int width) {
  std::string text;
  {
    Text_IO::Text_Output out(&text);
    Print::Print_Label(out, label, style, width);
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

template <class Data, class... Number_Layout>
std::string Written(const Data& data, Output_Format format, Number_Layout... layout) {
  std::string text;
  {
    Text_IO::Text_Output out(&text);
    Print::Put(out, data, format, layout...);
  }
  return text;
}

std::string Written_Real(const Real_Data& data, Output_Format format) {
  return Written(data, format, Print::Default_Fore, Print::Default_Aft, Print::Default_Exp);
}

const std::string Ape_Rows = Lines({
    "Homo_sap\t 0.00000000\t 0.50000000\t 1.25000000",
    "Pan     \t 0.50000000\t 0.00000000\t 0.75000000",
    "Gorilla \t 1.25000000\t 0.75000000\t 0.00000000",
});

const std::string Distance_Nexus_Header = Lines({
    "#NEXUS",
    "",
    "begin distances;",
    "\tdimensions newtaxa ntax= 3;",
    "\tformat triangle=both labels;",
    "\tmatrix",
});

// ---------------------------------------------------------------- numbers

TEST(PrintNumber, FixedPointWithTwoBeforeAndEightAfter) {
  EXPECT_EQ(Number(0.0), " 0.00000000");
  EXPECT_EQ(Number(0.5), " 0.50000000");
  EXPECT_EQ(Number(1.0 / 3.0), " 0.33333333");
  EXPECT_EQ(Number(2.0 / 3.0), " 0.66666667");
  EXPECT_EQ(Number(12.345), "12.34500000");
  EXPECT_EQ(Number(123.4), "123.40000000");
  EXPECT_EQ(Number(-0.25), "-0.25000000");
  EXPECT_EQ(Number(-12.5), "-12.50000000");
}

TEST(PrintNumber, RoundingDecidesTheWidth) {
  // Rounds up into a second integer digit: the field widens.
  EXPECT_EQ(Number(9.999999999), "10.00000000");
  EXPECT_EQ(Number(9.99999999), " 9.99999999");
  // Rounded from the binary value, not from the shortest decimal text: the
  // double nearest 1.5e-8 lies below the half, the one nearest 3.5e-8 above.
  EXPECT_EQ(Number(1.0e-9), " 0.00000000");
  EXPECT_EQ(Number(1.5e-8), " 0.00000001");
  EXPECT_EQ(Number(3.5e-8), " 0.00000004");
  EXPECT_EQ(Number(1.000000005), " 1.00000000");
  // A tiny negative value stays negative; a negative zero is just zero.
  EXPECT_EQ(Number(-1.0e-9), "-0.00000000");
  EXPECT_EQ(Number(-0.0), " 0.00000000");
}

TEST(PrintNumber, ExtremeMagnitudesAreWrittenInFull) {
  const std::string huge = Number(1.0e300);
  ASSERT_EQ(huge.size(), 301u + 1 + 8);
  EXPECT_EQ(huge.substr(0, 2), "10");
  EXPECT_EQ(huge.substr(huge.size() - 9), ".00000000");
  const std::string largest = Number(-std::numeric_limits<double>::max());
  EXPECT_EQ(largest.size(), 1u + 309 + 1 + 8);
  EXPECT_EQ(largest.substr(0, 6), "-17976");
  EXPECT_EQ(Number(std::numeric_limits<double>::denorm_min()), " 0.00000000");
}

TEST(PrintNumber, OtherLayouts) {
  EXPECT_EQ(Number(1.5, 5, 2), "    1.50");
  EXPECT_EQ(Number(-1.5, 0, 3), "-1.500");
  EXPECT_EQ(Number(2.0, 2, 0), " 2.0");
  EXPECT_EQ(Number(1234.5, 3, 2, 3), "  1.23e+03");
  EXPECT_EQ(Number(std::numeric_limits<double>::infinity()), "inf");
  // A pair without a distance (--undefined=nan), whatever its sign bit.
  EXPECT_EQ(Number(-std::numeric_limits<double>::quiet_NaN(), 5), "           NaN");
}

// ---------------------------------------------------------------- labels

TEST(PrintLabel, StylesOfALabelWithSpaces) {
  EXPECT_EQ(Label("Homo sap", Output_Format::EXTENDED_PHYLIP, 10), "Homo_sap  ");
  EXPECT_EQ(Label("Homo sap", Output_Format::PHYLIP, 3), "Homo sap  ");
  EXPECT_EQ(Label("Homo sap", Output_Format::LABELS, 3), "Homo sap\n");
  EXPECT_EQ(Label("Homo sap", Output_Format::NEXUS, 10), "Homo_sap  ");
  EXPECT_EQ(Label("Homo sap", Output_Format::NEXUS_ENCLOSED, 12), "'Homo sap'  ");
  EXPECT_EQ(Label("Homo sap", Output_Format::RAW, 10), "");
  // A tab would start a column of its own: it becomes '_' like the space.
  EXPECT_EQ(Label("a\tb c", Output_Format::EXTENDED_PHYLIP, 5), "a_b_c");
}

TEST(PrintLabel, ControlsBecomeUnderscoresWhereLabelsStandBare) {
  const std::string label("a\nb\r\x01\x7f");
  EXPECT_EQ(Label(label, Output_Format::EXTENDED_PHYLIP, 6), "a_b___");
  EXPECT_EQ(Label(label, Output_Format::PHYLIP, 10), "a_b___    ");
  EXPECT_EQ(Label(label, Output_Format::LABELS, 1), "a_b___\n");
  EXPECT_EQ(Label(label, Output_Format::FASTA, 1), ">a_b___");
  // The tables quote them; NEXUS cleans them; in quotes they may stand.
  EXPECT_EQ(Label("a\nb", Output_Format::CSV, 1), "\"a\nb\"");
  EXPECT_EQ(Label("a\tb", Output_Format::TSV, 1), "\"a\tb\"");
  EXPECT_EQ(Label("a\nb", Output_Format::NEXUS, 3), "a_b");
  EXPECT_TRUE(Print::Writes_Controls_As_Underscores(Output_Format::PHYLIP));
  EXPECT_FALSE(Print::Writes_Controls_As_Underscores(Output_Format::CSV));
}

TEST(PrintLabel, PhylipCutKeepsUtf8LettersWhole) {
  // Alpha-lambda-phi-alpha and '_' fill nine bytes; the tenth would be the
  // first of a two-byte beta: cut before it, a space in its place.
  EXPECT_EQ(Label("\xce\x91\xce\xbb\xcf\x86\xce\xb1_\xce\xb2", Output_Format::PHYLIP, 10),
            "\xce\x91\xce\xbb\xcf\x86\xce\xb1_ ");
  // Three three-byte letters, then one that would need bytes 10 to 12.
  EXPECT_EQ(Label("\xe6\xbc\xa2\xe5\xad\x97\xe3\x83\x86\xe3\x83\x86", Output_Format::PHYLIP, 10),
            "\xe6\xbc\xa2\xe5\xad\x97\xe3\x83\x86 ");
  // Bytes that are no UTF-8 are cut where they fall, as before.
  EXPECT_EQ(Label("abcdefghi\xce", Output_Format::PHYLIP, 10), "abcdefghi\xce");
  EXPECT_EQ(Label("abcdefghi\xe4xyz", Output_Format::PHYLIP, 10), "abcdefghi\xe4");
}

TEST(PrintLabel, CutToTheWidth) {
  EXPECT_EQ(Label("Homo sapiens", Output_Format::PHYLIP, 20), "Homo sapie");
  EXPECT_EQ(Label("Homo sapiens", Output_Format::EXTENDED_PHYLIP, 4), "Homo");
  EXPECT_EQ(Label("abc", Output_Format::NEXUS_ENCLOSED, 3), "'ab");
  EXPECT_THROW(Label("abc", Output_Format::EXTENDED_PHYLIP, 0), Errors::Constraint_Error);
}

TEST(PrintLabel, SingleQuotes) {
  EXPECT_EQ(Label("O'Hara", Output_Format::NEXUS_ENCLOSED, 8), "'O`Hara'");
  EXPECT_EQ(Label("'x'", Output_Format::NEXUS_ENCLOSED, 6), "'`x`' ");
  EXPECT_EQ(Label("O'Hara", Output_Format::NEXUS, 6), "O_Hara");
  EXPECT_EQ(Label("'x-1'", Output_Format::NEXUS, 5), "x_1  ");
}

TEST(PrintLabel, NexusCleaning) {
  EXPECT_EQ(Print::To_Nexus_Label("Homo sapiens"), "Homo_sapiens");
  EXPECT_EQ(Print::To_Nexus_Label("(A,B)"), "A_B");
  EXPECT_EQ(Print::To_Nexus_Label("'x-1'"), "x_1");
  EXPECT_EQ(Print::To_Nexus_Label(" ()[]{}/\\,;:=*'\"`+-<>"), "");
  EXPECT_EQ(Print::To_Nexus_Label("\x01" "a\x7f" "b\x1f"), "a_b");
  // Codes from 128 up stay, so that UTF-8 letters (Ł is C5 81) come out
  // whole; the other punctuation stays too.
  EXPECT_EQ(Print::To_Nexus_Label("\xc5\x81\xa0\xe9.!?_#"), "\xc5\x81\xa0\xe9.!?_#");
  EXPECT_EQ(Print::To_Nexus_Label("a  b"), "a__b");
  // Written cleaned and padded; nothing left is all padding.
  EXPECT_EQ(Label("[+]", Output_Format::NEXUS, 3), "   ");
  EXPECT_EQ(Label("a (b)", Output_Format::NEXUS, 6), "a__b  ");
}

// ---------------------------------------------------------------- distances

TEST(PrintDistances, EveryLayoutOfThreeTaxa) {
  const Squared apes = Apes();
  EXPECT_EQ(Written(apes, Dist_Output_Format::EXTENDED_PHYLIP), " 3\n" + Ape_Rows);
  EXPECT_EQ(Written(apes, Dist_Output_Format::PHYLIP), Lines({
      " 3",
      "Homo sap  \t 0.00000000\t 0.50000000\t 1.25000000",
      "Pan       \t 0.50000000\t 0.00000000\t 0.75000000",
      "Gorilla   \t 1.25000000\t 0.75000000\t 0.00000000",
  }));
  EXPECT_EQ(Written(apes, Dist_Output_Format::NEXUS), Distance_Nexus_Header + Ape_Rows + Distance_Paup);
  EXPECT_EQ(Written(apes, Dist_Output_Format::NEXUS_ENCLOSED),
            Distance_Nexus_Header + Lines({
      "'Homo sap'\t 0.00000000\t 0.50000000\t 1.25000000",
      "'Pan'     \t 0.50000000\t 0.00000000\t 0.75000000",
      "'Gorilla' \t 1.25000000\t 0.75000000\t 0.00000000",
  }) + Distance_Paup);
  EXPECT_EQ(Written(apes, Dist_Output_Format::TAB_SEPARATED), "\tHomo_sap\tPan\tGorilla\n" + Ape_Rows);
  EXPECT_EQ(Written(apes, Dist_Output_Format::ONE_COLUMN), Lines({
      "Pan     \tHomo_sap\t 0.50000000",
      "Gorilla \tHomo_sap\t 1.25000000",
      "Gorilla \tPan     \t 0.75000000",
      "",
  }));
  EXPECT_EQ(Written(apes, Dist_Output_Format::LABELS), "Homo sap\nPan\nGorilla\n\n");
  EXPECT_EQ(Written(apes, Dist_Output_Format::RAW), Lines({
      "\t 0.00000000\t 0.50000000\t 1.25000000",
      "\t 0.50000000\t 0.00000000\t 0.75000000",
      "\t 1.25000000\t 0.75000000\t 0.00000000",
      "",
  }));
}

TEST(PrintDistances, OneColumnReadsTheLowerTriangleOnly) {
  // An asymmetric block shows which cell each pair line comes from.
  const Squared m =
      Make_Squared({"a", "b", "c", "d"}, {{0, 91, 92, 93}, {1, 0, 94, 95}, {2, 3, 0, 96}, {4, 5, 6, 0}});
  EXPECT_EQ(Written(m, Dist_Output_Format::ONE_COLUMN), Lines({
      "b\ta\t 1.00000000",
      "c\ta\t 2.00000000",
      "c\tb\t 3.00000000",
      "d\ta\t 4.00000000",
      "d\tb\t 5.00000000",
      "d\tc\t 6.00000000",
      "",
  }));
}

TEST(PrintDistances, OneTaxon) {
  const Squared one = Make_Squared({"only one"}, {{0.0}});
  EXPECT_EQ(Written(one, Dist_Output_Format::EXTENDED_PHYLIP), " 1\nonly_one\t 0.00000000\n");
  EXPECT_EQ(Written(one, Dist_Output_Format::ONE_COLUMN), "\n");
  EXPECT_EQ(Written(one, Dist_Output_Format::TAB_SEPARATED), "\tonly_one\nonly_one\t 0.00000000\n");
}

TEST(PrintDistances, LabelsOfDifferentLengths) {
  const Squared m = Make_Squared({"Homo sapiens", "P"}, {{0, 12.345}, {12.345, 0}});
  // PHYLIP cuts to ten; the other styles pad to the longest and cut nothing.
  EXPECT_EQ(Written(m, Dist_Output_Format::PHYLIP), Lines({
      " 2",
      "Homo sapie\t 0.00000000\t12.34500000",
      "P         \t12.34500000\t 0.00000000",
  }));
  EXPECT_EQ(Written(m, Dist_Output_Format::EXTENDED_PHYLIP), Lines({
      " 2",
      "Homo_sapiens\t 0.00000000\t12.34500000",
      "P           \t12.34500000\t 0.00000000",
  }));
  EXPECT_EQ(Written(m, Dist_Output_Format::TAB_SEPARATED).substr(0, 16), "\tHomo_sapiens\tP\n");
}

TEST(PrintDistances, NexusLabelsAreCleanedButPaddedToTheRawLongest) {
  const Squared m = Make_Squared({"'x-1'", "[?]", "O'Hara"}, {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}});
  const std::string zeros = "\t 0.00000000\t 0.00000000\t 0.00000000";
  EXPECT_EQ(Written(m, Dist_Output_Format::NEXUS),
            Distance_Nexus_Header + Lines({"x_1   " + zeros, "?     " + zeros, "O_Hara" + zeros}) +
                Distance_Paup);
  EXPECT_EQ(Written(m, Dist_Output_Format::NEXUS_ENCLOSED),
            Distance_Nexus_Header + Lines({"'`x-1`' " + zeros, "'[?]'   " + zeros, "'O`Hara'" + zeros}) +
                Distance_Paup);
}

TEST(PrintDistances, EmptyLabelsTakeOneColumn) {
  const Squared m = Make_Squared({"", ""}, {{0, 0.5}, {0.5, 0}});
  EXPECT_EQ(Written(m, Dist_Output_Format::EXTENDED_PHYLIP),
            Lines({" 2", " \t 0.00000000\t 0.50000000", " \t 0.50000000\t 0.00000000"}));
  EXPECT_EQ(Written(m, Dist_Output_Format::ONE_COLUMN), " \t \t 0.50000000\n\n");
  EXPECT_EQ(Written(m, Dist_Output_Format::TAB_SEPARATED),
            Lines({"\t\t", " \t 0.00000000\t 0.50000000", " \t 0.50000000\t 0.00000000"}));
  EXPECT_EQ(Written(m, Dist_Output_Format::PHYLIP),
            Lines({" 2", "          \t 0.00000000\t 0.50000000", "          \t 0.50000000\t 0.00000000"}));
  const std::string enclosed = Written(m, Dist_Output_Format::NEXUS_ENCLOSED);
  EXPECT_NE(enclosed.find("\tmatrix\n''\t 0.00000000\t 0.50000000\n''\t"), std::string::npos);
  const std::string nexus = Written(m, Dist_Output_Format::NEXUS);
  EXPECT_NE(nexus.find("\tmatrix\n \t 0.00000000\t 0.50000000\n \t"), std::string::npos);
}

TEST(PrintDistances, RowsWrittenSeparatelyMatchTheWholeMatrix) {
  const Squared apes = Apes();
  for (Dist_Output_Format format :
       {Dist_Output_Format::EXTENDED_PHYLIP, Dist_Output_Format::ONE_COLUMN, Dist_Output_Format::NEXUS}) {
    const Print::Row_Layout layout = Print::Layout_Of(apes, format, 2, 8, 0);
    std::string head, rows[3], foot;
    {
      Text_IO::Text_Output out(&head);
      Print::Print_Header(out, apes.Labels, format);
    }
    for (int i = 0; i < 3; ++i) {
      Text_IO::Text_Output out(&rows[i]);
      Print::Put_Row(out, apes, i, layout);
    }
    {
      Text_IO::Text_Output out(&foot);
      Print::Print_Footer(out, format);
    }
    EXPECT_EQ(head + rows[0] + rows[1] + rows[2] + foot, Written(apes, format));
  }
}

// A big matrix is formatted on several threads and its pieces written to
// the descriptor directly: the file must hold what one thread writes.
TEST(PrintDistances, BigMatrixToAFileOnSeveralThreads) {
  constexpr int Taxa = 700;
  Squared big{Taxon_Labels(Taxa)};
  for (int t = 0; t < Taxa; ++t) big.Labels[static_cast<std::size_t>(t)] = "t" + std::to_string(t);
  big.Matrix = Generic::Square_Block(0, Taxa - 1);
  for (int i = 0; i < Taxa; ++i)
    for (int j = 0; j < Taxa; ++j) big.Matrix(i, j) = i == j ? 0.0 : 1.0 / (1 + i + j) + (i * j % 7) * 100.0;
  Test_Support::Settings_Scope settings;
  settings.Threads(1);
  const std::string expected = Written(big, Dist_Output_Format::EXTENDED_PHYLIP);
  settings.Threads(3);
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  {
    Text_IO::Text_Output out(fileno(file));
    out.Put("before\n");
    Print::Put(out, big, Dist_Output_Format::EXTENDED_PHYLIP, Print::Default_Fore, Print::Default_Aft,
               Print::Default_Exp);
    out.Put("after\n");
    out.Flush();
  }
  std::string got;
  std::rewind(file);
  char buffer[1 << 16];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) got.append(buffer, n);
  std::fclose(file);
  EXPECT_GT(expected.size(), std::size_t{4} << 20);
  EXPECT_TRUE(got == "before\n" + expected + "after\n");
}

TEST(PrintDistances, BlockThatDoesNotCoverTheLabels) {
  Squared m(Taxon_Labels{"a", "b"});
  EXPECT_THROW(Written(m, Dist_Output_Format::RAW), Errors::Constraint_Error);
}

// ---------------------------------------------------------------- data

Disc_Data Ape_Data() { return Make_Disc({"Homo sap", "Pan", "Gorilla"}, {"ACGT", "AC-T", "AGGT"}); }

const std::string Data_Nexus_Header = Lines({
    "#NEXUS",
    "",
    "begin data;",
    "\tdimensions ntax= 3 nchar= 4;",
    "\tformat datatype=nucleotide gap=- missing=?;",
    "\tmatrix",
});

TEST(PrintData, EveryLayoutOfDiscreteData) {
  const Disc_Data apes = Ape_Data();
  EXPECT_EQ(Written(apes, Output_Format::EXTENDED_PHYLIP),
            Lines({" 3\t 4", "Homo_sap\tACGT", "Pan     \tAC-T", "Gorilla \tAGGT"}));
  EXPECT_EQ(Written(apes, Output_Format::PHYLIP),
            Lines({" 3\t 4", "Homo sap  \tACGT", "Pan       \tAC-T", "Gorilla   \tAGGT"}));
  EXPECT_EQ(Written(apes, Output_Format::NEXUS),
            Data_Nexus_Header + Lines({
      "[       \t        10]",
      "[       \t         .]",
      "Homo_sap\tACGT",
      "Pan     \tAC-T",
      "Gorilla \tAGGT",
  }) + Data_Paup);
  EXPECT_EQ(Written(apes, Output_Format::NEXUS_ENCLOSED),
            Data_Nexus_Header + Lines({
      "[         \t        10]",
      "[         \t         .]",
      "'Homo sap'\tACGT",
      "'Pan'     \tAC-T",
      "'Gorilla' \tAGGT",
  }) + Data_Paup);
  EXPECT_EQ(Written(apes, Output_Format::LABELS), "Homo sap\nPan\nGorilla\n");
  EXPECT_EQ(Written(apes, Output_Format::RAW), "\tACGT\n\tAC-T\n\tAGGT\n");
}

TEST(PrintData, ContinuousData) {
  const Real_Data data = Make_Real({"a", "bb"}, {{0.5, 12.0}, {-1.0, 0.0}});
  EXPECT_EQ(Written_Real(data, Output_Format::EXTENDED_PHYLIP),
            Lines({" 2\t 2", "a \t 0.50000000\t12.00000000", "bb\t-1.00000000\t 0.00000000"}));
  EXPECT_EQ(Written_Real(data, Output_Format::NEXUS), Lines({
      "#NEXUS",
      "",
      "begin data;",
      "\tdimensions ntax= 2 nchar= 2;",
      "\tformat datatype=continuous missing=?;",
      "\tmatrix",
      "[ \t        10]",
      "[ \t         .]",
      "a \t 0.50000000\t12.00000000",
      "bb\t-1.00000000\t 0.00000000",
  }) + Data_Paup);
  EXPECT_EQ(Written_Real(data, Output_Format::RAW), "\t 0.50000000\t12.00000000\n\t-1.00000000\t 0.00000000\n");
  EXPECT_EQ(Written_Real(data, Output_Format::LABELS), "a\nbb\n");
}

TEST(PrintData, NoCharacters) {
  const Disc_Data disc = Make_Disc({"a", "bb"}, {"", ""});
  EXPECT_EQ(Written(disc, Output_Format::EXTENDED_PHYLIP), Lines({" 2\t 0", "a \t", "bb\t"}));
  const std::string nexus = Written(disc, Output_Format::NEXUS);
  EXPECT_NE(nexus.find("ntax= 2 nchar= 0;\n"), std::string::npos);
  EXPECT_NE(nexus.find("\tmatrix\n[ \t        10]\n[ \t         .]\na \t\nbb\t\n\t;\n"), std::string::npos);
  const Real_Data real = Make_Real({"a", "bb"}, {{}, {}});
  EXPECT_EQ(Written_Real(real, Output_Format::PHYLIP), Lines({" 2\t 0", "a         ", "bb        "}));
}

TEST(PrintData, RowsOfDifferentLengthsKeepTheirOwn) {
  const Disc_Data data = Make_Disc({"a", "b", "c"}, {"01", "0110", ""});
  EXPECT_EQ(Written(data, Output_Format::EXTENDED_PHYLIP), Lines({" 3\t 2", "a\t01", "b\t0110", "c\t"}));
}

TEST(PrintData, EmptyLabels) {
  const Disc_Data data = Make_Disc({"", ""}, {"AC", "GT"});
  EXPECT_EQ(Written(data, Output_Format::EXTENDED_PHYLIP), Lines({" 2\t 2", " \tAC", " \tGT"}));
  EXPECT_EQ(Written(data, Output_Format::NEXUS).substr(Data_Nexus_Header.size() - 8),
            Lines({"\tmatrix", "[\t        10]", "[\t         .]", " \tAC", " \tGT"}) + Data_Paup);
  EXPECT_EQ(Written(data, Output_Format::PHYLIP), Lines({" 2\t 2", "          \tAC", "          \tGT"}));
}

TEST(PrintData, NoTaxa) {
  const Disc_Data none = Make_Disc({}, {});
  std::string text;
  Text_IO::Text_Output out(&text);
  EXPECT_THROW(Print::Put(out, none, Output_Format::EXTENDED_PHYLIP), Errors::Constraint_Error);
}

std::string Numbering(int characters, int width) {
  std::string text;
  {
    Text_IO::Text_Output out(&text);
    Print::Print_Numbers(out, characters, width);
  }
  return text;
}

TEST(PrintData, NumberingStopsAfterTheFirstBlockBeyondTheCharacters) {
  EXPECT_EQ(Numbering(4, 3), "[  \t        10]\n[  \t         .]\n");
  EXPECT_EQ(Numbering(9, 1), "[\t        10]\n[\t         .]\n");
  EXPECT_EQ(Numbering(10, 1), "[\t        10        20]\n[\t         .         .]\n");
  EXPECT_EQ(Numbering(20, 2), "[ \t        10        20        30]\n[ \t         .         .         .]\n");
  EXPECT_EQ(Numbering(25, 2), Numbering(20, 2));
}

// ---------------------------------------------------------------- chosen decimals, tables

std::string To_Chars(double value, int decimals) {
  char buffer[400];
  const auto end = decimals < 0 ? std::to_chars(buffer, buffer + sizeof buffer, value).ptr
                                : std::to_chars(buffer, buffer + sizeof buffer, value,
                                                std::chars_format::fixed, decimals).ptr;
  return std::string(buffer, end);
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Every decimal count and the shortest text write what the standard library
// writes (zero without its sign), over values of every magnitude, ties at
// every count and the numbers just beside them.
TEST(ChosenDecimals, EqualTheStandardLibraryText) {
  std::mt19937_64 random(20261209);
  std::vector<double> values = {-0.0, 1e15, std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min(),
                                std::numeric_limits<double>::infinity()};
  for (int n = 0; n < 20000; ++n) {
    values.push_back(std::ldexp(std::uniform_real_distribution<double>(-1.0, 1.0)(random), n % 56 - 30));
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
  // A pair without a distance is NaN in every number layout, in the field
  // of the integer part where there is no fixed count of decimals.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(Number(nan, 0, Print::Aft_Of_Decimals(0)), "NaN");
  EXPECT_EQ(Number(nan, 0, Print::Shortest_Aft), "NaN");
  EXPECT_EQ(Number(nan, 2, Print::Aft_Of_Decimals(3)), "   NaN");
  for (const double v : values) {
    const std::string text = Number(v, 0, Print::Shortest_Aft);
    ASSERT_EQ(text, To_Chars(v == 0.0 ? 0.0 : v, -1)) << v;
    if (!std::isfinite(v)) continue;
    double back = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), back);
    ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(v == 0.0 ? 0.0 : v)) << text;
  }
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
    // Every layout but FASTA, which holds no numbers.
    for (int f = 0; f < static_cast<int>(Dist_Output_Format::FASTA); ++f)
      EXPECT_EQ(Written(apes, Dist_Output_Format(f), aft), expected(Written(apes, Dist_Output_Format(f))))
          << f << " aft " << aft;
    for (int f = 0; f < static_cast<int>(Output_Format::FASTA); ++f)
      EXPECT_EQ(Written(real, Output_Format(f), 2, aft, 0), expected(Written(real, Output_Format(f), 2, 8, 0)))
          << f << " aft " << aft;
  }
}

// Labels are quoted only where the separator, a quote or a line break would
// split or end the cell.
TEST(DistanceTables, QuotingWhereTheCellNeedsIt) {
  const Squared odd = Make_Squared({"a,b", "say \"hi\"", "t\tab"}, {{0.0, 0.5, 1.25}, {0.5, 0.0, 0.75}, {1.25, 0.75, 0.0}});
  EXPECT_EQ(Written(odd, Dist_Output_Format::CSV),
            ",\"a,b\",\"say \"\"hi\"\"\",t\tab\n"
            "\"a,b\",0.00000000,0.50000000,1.25000000\n"
            "\"say \"\"hi\"\"\",0.50000000,0.00000000,0.75000000\n"
            "t\tab,1.25000000,0.75000000,0.00000000\n");
  const std::string lsmat = Written(odd, Dist_Output_Format::LSMAT);
  EXPECT_EQ(lsmat.substr(0, lsmat.find('\n') + 1), "\ta,b\t\"say \"\"hi\"\"\"\t\"t\tab\"\n");
  // Symbols of data are cells of their own, quoted the same way.
  EXPECT_EQ(Written(Make_Disc({"x,y"}, {"A,\""}), Output_Format::CSV), ",c1,c2,c3\n\"x,y\",A,\",\",\"\"\"\"\n");
}

// The row steps a streaming writer uses give the same text as the whole
// matrix; a row holds only what its own values and the labels say.
TEST(DistanceTables, RowStepsMatchTheWholeMatrix) {
  const Squared apes = Apes();
  for (const Print::Layout& row : Print::Layouts()) {
    if (!row.Distances || row.Binary) continue;
    const Dist_Output_Format format = row.Id;
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

std::string Format_Line(const Disc_Data& data, bool binary) {
  const std::string text = Written(data, Output_Format::NEXUS, binary);
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
}

} // namespace
