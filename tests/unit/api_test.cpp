#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <cmath>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <utility>
#include <tuple>
#include <vector>

#include "api/destination.hpp"
#include "write/write_hdf5.hpp"
#include "distance/formulas.hpp"
#include "driver/karvel.hpp"
#include "karvel/karvel.hpp"

using namespace Karvel;

namespace {

namespace K = Karvel::Lib;

const std::string Primates = "6 5\n"
                             "Homo_sapiens      1350 0.72 12.5 62 1.75\n"
                             "Pan_troglodytes    390 0.80  9.8 45 1.50\n"
                             "Pan_paniscus       350 0.84  9.5 39 1.45\n"
                             "Gorilla_gorilla    500 0.95 10.2 160 1.70\n"
                             "Pongo_pygmaeus     400 1.00  9.9 75 1.40\n"
                             "Hylobates_lar      100 1.10  6.5 6 0.90\n";
const std::string Presence = "4 8\nx 11001010\ny 10100110\nz 01110001\nw 0001110?\n";
const std::string Dna = "3 6\nHomo AAGCTT\nPan  AAGTTC\nGor  GAGCTT\n";

// What the program writes for `text` with `options`.
std::string Program(const std::string& text, std::vector<std::string> options) {
  const Karvel::Run_Settings settings = Karvel::Parse_Arguments(options);
  std::string written;
  Text_IO::Text_Input input(text);
  Text_IO::Text_Output output(&written);
  Karvel::Read_Matrices(input, settings, output);
  output.Flush();
  return written;
}

K::Matrix Only(const std::string& text, K::Datatype type = K::Datatype::CONTINUOUS) {
  K::Reader reader = K::Reader::From_Text(text, K::Input_Layout::EXTENDED_PHYLIP, type);
  std::optional<K::Matrix> data = reader.Next();
  EXPECT_TRUE(data);
  EXPECT_FALSE(reader.Next());
  return std::move(*data);
}

template <class Write>
std::string Written(Write write) {
  std::string text;
  K::Output out(text);
  write(out);
  out.Flush();
  return text;
}

TEST(Api, ReadsEveryMatrixOfTheTextInTurn) {
  std::istringstream stream("\n2 3\na 1 2 3\nb 4 5 6e1\n\n" + Dna + "\n\n");
  K::Reader reader = K::Reader::From_Stream(stream, K::Input_Layout::EXTENDED_PHYLIP, K::Datatype::CONTINUOUS);
  std::optional<K::Matrix> first = reader.Next();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Taxa(), 2);
  EXPECT_EQ(first->Characters(), 3);
  EXPECT_EQ(first->Label(1), "b");
  EXPECT_EQ(std::vector<double>(first->Values(1).begin(), first->Values(1).end()),
            (std::vector<double>{4, 5, 60}));
  EXPECT_THROW(first->Symbols(0), Karvel::Errors::Constraint_Error);
  EXPECT_THROW(first->Label(2), Karvel::Errors::Constraint_Error);
  // The next matrix is not numbers: the error comes, the first stays good.
  EXPECT_THROW(reader.Next(), Karvel::Errors::Data_Error);

  K::Reader discrete = K::Reader::From_Text("3 6\nHomo sap  AAGCTT\nPan       AAG TTC\nGor       GAGCTT\n",
                                            K::Input_Layout::PHYLIP, K::Datatype::DISCRETE);
  const K::Matrix dna = *discrete.Next();
  EXPECT_EQ(dna.Type(), K::Datatype::DISCRETE);
  EXPECT_EQ(dna.Label(0), "Homo sap");
  EXPECT_EQ(dna.Symbols(1), "AAGTTC");
  EXPECT_FALSE(discrete.Next());

  K::Reader table = K::Reader::From_Text("\"\",\"x\",\"y\"\r\n\"Homo sap\",1,2\r\n", K::Input_Layout::CSV,
                                         K::Datatype::CONTINUOUS);
  EXPECT_EQ(table.Next()->Label(0), "Homo sap");
  EXPECT_FALSE(table.Next());
}

TEST(Api, DistancesInACallersBufferWriteAsTheProgramDoes) {
  const K::Matrix data = Only(Primates);
  std::vector<double> square(data.Cells());
  K::Distances(data, "EUCLIDEAN", square);
  EXPECT_EQ(square[0], 0.0);
  EXPECT_EQ(square[1], square[6]);
  // Every layout the program has, by its name; the binary ones as the npy
  // writer makes them from the same square.
  for (const Phylo::Print::Layout& row : Phylo::Print::Layouts()) {
    const K::Output_Layout layout = row.Id;
    const std::string to = "--to=" + K::Output_Layout_Name(layout);
    EXPECT_EQ(K::Output_Layout_Name(layout), row.Name);
    if (row.Binary) {
      EXPECT_THROW(Written([&](K::Output& out) { K::Write_Data(out, data, layout); }), Karvel::Errors::Constraint_Error);
      if (!row.To_Pipe) {
        EXPECT_THROW(Written([&](K::Output& out) { K::Write_Distances(out, data, square, layout); }),
                     Karvel::Errors::Constraint_Error);
        continue;
      }
      std::string expected;
      Text_IO::Text_Output npy(&expected);
      const auto writer = Phylo::Binary_Output::Npy_Writer(npy, 6, *row.Binary);
      writer->Put_Rows(0, 6, square);
      writer->Finish();
      npy.Flush();
      EXPECT_EQ(Written([&](K::Output& out) { K::Write_Distances(out, data, square, layout); }), expected) << to;
      EXPECT_EQ(Written([&](K::Output& out) { K::Write_Distances(out, data, "EUCLIDEAN", layout); }), expected);
      continue;
    }
    const auto either = [](auto write) {
      try {
        return write();
      } catch (const Karvel::Errors::Error& e) {
        return std::string("error: ") + e.what();
      }
    };
    const std::string expected = either([&] { return Program(Primates, {to}); });
    EXPECT_EQ(either([&] { return Written([&](K::Output& out) { K::Write_Distances(out, data, square, layout); }); }),
              expected)
        << to;
    EXPECT_EQ(
        either([&] { return Written([&](K::Output& out) { K::Write_Distances(out, data, "EUCLIDEAN", layout); }); }),
        expected);
    EXPECT_EQ(either([&] { return Written([&](K::Output& out) { K::Write_Data(out, data, layout); }); }),
              either([&] { return Program(Primates, {to, "-W"}); }))
        << to;
  }
  std::vector<double> wrong(data.Cells() - 1);
  EXPECT_THROW(K::Distances(data, "EUCLIDEAN", wrong), Karvel::Errors::Constraint_Error);
}

TEST(Api, RowBlocksMakeTheWholeMatrixAndItsText) {
  const K::Matrix data = Only(Primates);
  std::vector<double> square(data.Cells());
  K::Distances(data, "CANBERRA", square);
  const std::string whole = Program(Primates, {"-c", "-N"});
  for (int rows : {1, 4, 6, 100}) {
    std::vector<double> joined;
    const std::string text = Written([&](K::Output& out) {
      K::Distance_Writer writer(out, data, K::Output_Layout::NEXUS);
      K::Distances(data, "CANBERRA", rows, [&](const K::Distance_Rows& block) {
        EXPECT_EQ(block.First, static_cast<int>(joined.size()) / data.Taxa());
        EXPECT_LE(block.Past - block.First, rows);
        joined.insert(joined.end(), block.Values.begin(), block.Values.end());
        writer.Put(block);
      });
      writer.Finish();
    });
    EXPECT_EQ(joined, square) << rows;
    EXPECT_EQ(text, whole) << rows;
  }
  EXPECT_THROW(K::Distances(data, "CANBERRA", 0, [](const K::Distance_Rows&) {}), Karvel::Errors::Constraint_Error);

  std::string text;
  K::Output out(text);
  K::Distance_Writer writer(out, data, K::Output_Layout::PHYLIP);
  EXPECT_THROW(writer.Put(K::Distance_Rows{1, 2, 6, std::span<const double>(square).subspan(6, 6)}),
               Karvel::Errors::Constraint_Error);
  writer.Put(K::Distance_Rows{0, 1, 6, std::span<const double>(square).first(6)});
  EXPECT_THROW(writer.Finish(), Karvel::Errors::Constraint_Error);
}

// Every name stands for the formula of the program's option letter.
TEST(Api, FormulaeAndTransformationsByName) {
  // Read from the program's tables, so that a formula added as a row is
  // compared here too.
  const auto letters = [](const auto& table) {
    std::map<std::string, std::string> by_name;
    for (const auto& row : table) by_name[row.Name] = std::string("-") + row.Letter;
    return by_name;
  };
  const std::map<std::string, std::string> binary = letters(Phylo::Distfunc::Formulas::Binary);
  const std::map<std::string, std::string> discrete = letters(Phylo::Distfunc::Formulas::Discrete);
  const std::map<std::string, std::string> real = letters(Phylo::Distfunc::Formulas::Real);
  const struct {
    K::Datatype type;
    const std::string& text;
    const std::map<std::string, std::string>& letters;
    const char* option;
  } families[] = {{K::Datatype::BINARY, Presence, binary, "-B"},
                  {K::Datatype::DISCRETE, Dna, discrete, "-D"},
                  {K::Datatype::CONTINUOUS, Primates, real, "-C"}};
  for (const auto& family : families) {
    const K::Matrix data = Only(family.text, family.type);
    const std::vector<std::string> names = K::Formula_Names(family.type);
    ASSERT_EQ(names.size(), family.letters.size());
    for (const std::string& name : names) {
      ASSERT_TRUE(family.letters.count(name)) << name;
      // By name and as the value its lookup makes: one result.
      const K::Formula formula = K::Formula_Named(family.type, name);
      const std::string expected = Program(family.text, {family.option, family.letters.at(name), "-R"});
      EXPECT_EQ(Written([&](K::Output& out) { K::Write_Distances(out, data, name, K::Output_Layout::RAW); }),
                expected)
          << name;
      EXPECT_EQ(Written([&](K::Output& out) { K::Write_Distances(out, data, formula, K::Output_Layout::RAW); }),
                expected)
          << name;
    }
    // A name the lookup does not know is refused there, with the names it
    // knows; a formula of another datatype at the call.
    try {
      K::Formula_Named(family.type, "NO_SUCH");
      ADD_FAILURE();
    } catch (const Karvel::Errors::Constraint_Error& e) {
      EXPECT_NE(std::string(e.what()).find(names.front() + ", "), std::string::npos) << e.what();
    }
    const K::Datatype other = family.type == K::Datatype::BINARY ? K::Datatype::DISCRETE : K::Datatype::BINARY;
    std::vector<double> square(data.Cells());
    EXPECT_THROW(K::Distances(data, K::Formula_Named(other, K::Formula_Names(other).front()), square),
                 Karvel::Errors::Constraint_Error);
  }

  const std::map<std::string, std::vector<std::string>> transformations{
      {"RANGING", {"-A"}}, {"ROW_FRACTIONS", {"-F"}}, {"COLUMN_FRACTIONS", {"-G"}}, {"FULL_RANGING", {"-I"}},
      {"RANKS", {"-K"}}, {"AVERAGE_RANKS", {"-K", "--ties=average"}}, {"Z_SCORES", {"-S"}},
      {"FULL_Z_SCORES", {"-Z"}}};
  ASSERT_EQ(K::Transformation_Names().size(), transformations.size());
  for (const std::string& name : K::Transformation_Names()) {
    K::Matrix data = Only(Primates);
    K::Transform(data, K::Transformation_Named(name));
    std::vector<std::string> options = transformations.at(name);
    options.insert(options.end(), {"-W", "-R"});
    EXPECT_EQ(Written([&](K::Output& out) { K::Write_Data(out, data, K::Output_Layout::RAW); }),
              Program(Primates, options))
        << name;
  }
  EXPECT_THROW(K::Transformation_Named("SQUARE_ROOT"), Karvel::Errors::Constraint_Error);
}

// The library's way to the Spearman distance with average ties: PEARSON
// distances of the midranks, as the program's -s --ties=average computes
// them; with ties in the rows they differ from SPEARMAN's.
TEST(Api, SpearmanWithAverageTiesIsPearsonOfAverageRanks) {
  const std::string tied = "4 6\na 1 2 2 3 3 3\nb 6 5 5 1 2 2\nc 4 4 4 4 1 9\nd 1 2 3 4 5 6\n";
  K::Matrix data = Only(tied);
  const std::string heap = Written([&](K::Output& out) {
    K::Write_Distances(out, data, "SPEARMAN", K::Output_Layout::RAW);
  });
  EXPECT_EQ(heap, Program(tied, {"-s", "-R"}));
  K::Transform(data, "AVERAGE_RANKS");
  const std::string average = Written([&](K::Output& out) {
    K::Write_Distances(out, data, "PEARSON", K::Output_Layout::RAW);
  });
  EXPECT_EQ(average, Program(tied, {"-s", "--ties=average", "-R"}));
  EXPECT_NE(average, heap);
}

TEST(Api, ImpliedTransformationsLeaveTheMatrixAlone) {
  const K::Matrix data = Only(Primates);
  const K::Matrix copy = data.Copy();
  std::vector<double> square(data.Cells());
  K::Distances(data, "SPEARMAN", square);
  K::Distances(data, "CHI_SQUARE", square);
  for (int t = 0; t < data.Taxa(); ++t)
    EXPECT_TRUE(std::equal(data.Values(t).begin(), data.Values(t).end(), copy.Values(t).begin()));
}

// The labels and values of a continuous matrix, as a caller holds them.
std::pair<std::vector<std::string>, std::vector<double>> Held(const K::Matrix& read) {
  std::vector<std::string> labels;
  std::vector<double> values;
  for (int t = 0; t < read.Taxa(); ++t) {
    labels.push_back(read.Label(t));
    for (double v : read.Values(t)) values.push_back(v);
  }
  return {labels, values};
}

// A matrix handed over from memory is the matrix read from text: the same
// distances, bit for bit, and the same data written.
TEST(Api, MatricesFromMemoryAreTheMatricesRead) {
  const K::Matrix read = Only(Primates);
  std::vector<std::string> labels;
  std::vector<double> values;
  std::tie(labels, values) = Held(read);
  const K::Matrix held = K::Matrix::From_Values(labels, values, read.Characters());
  for (const char* formula : {"EUCLIDEAN", "BRAY_CURTIS", "SPEARMAN"}) {
    std::vector<double> a(read.Cells()), b(held.Cells());
    K::Distances(read, formula, a);
    K::Distances(held, formula, b);
    EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * sizeof(double))) << formula;
  }
  EXPECT_EQ(Written([&](K::Output& out) { K::Write_Data(out, held, K::Output_Layout::NEXUS); }),
            Written([&](K::Output& out) { K::Write_Data(out, read, K::Output_Layout::NEXUS); }));

  const K::Matrix dna = Only(Dna, K::Datatype::DISCRETE);
  const std::vector<std::string> rows{"AAGCTT", "AAGTTC", "GAGCTT"};
  const K::Matrix symbols = K::Matrix::From_Symbols({"Homo", "Pan", "Gor"}, rows);
  EXPECT_EQ(Written([&](K::Output& out) { K::Write_Distances(out, symbols, "HAMANN", K::Output_Layout::PHYLIP); }),
            Written([&](K::Output& out) { K::Write_Distances(out, dna, "HAMANN", K::Output_Layout::PHYLIP); }));

  // Shapes a reader would refuse.
  using Karvel::Errors::Constraint_Error;
  EXPECT_THROW(K::Matrix::From_Values({"a", "b"}, std::span(values).first(9), 5), Constraint_Error);
  EXPECT_THROW(K::Matrix::From_Values({}, {}, 5), Constraint_Error);
  EXPECT_THROW(K::Matrix::From_Values({"a", ""}, std::span(values).first(10), 5), Constraint_Error);
  const std::vector<std::string> ragged{"0101", "011"};
  EXPECT_THROW(K::Matrix::From_Symbols({"a", "b"}, ragged, K::Datatype::BINARY), Constraint_Error);
  EXPECT_THROW(K::Matrix::From_Symbols({"a"}, ragged, K::Datatype::BINARY), Constraint_Error);
  EXPECT_THROW(K::Matrix::From_Symbols({"a", "b"}, rows, K::Datatype::CONTINUOUS), Constraint_Error);
}

// The caller's square and condensed buffers hold the distances of the
// whole-matrix call, bit for bit, whatever the threads and instruction set
// of the call.
TEST(Api, OptionsOfOneCallAndTheCallersBuffers) {
  struct Case {
    std::string text;
    K::Datatype type;
    const char* formula;
  };
  const std::vector<Case> cases{{Primates, K::Datatype::CONTINUOUS, "EUCLIDEAN"},
                                {Primates, K::Datatype::CONTINUOUS, "BRAY_CURTIS"},
                                {Presence, K::Datatype::BINARY, "JACCARD"},
                                {Dna, K::Datatype::DISCRETE, "MATCHING"}};
  for (const Case& c : cases) {
    const K::Matrix data = Only(c.text, c.type);
    std::vector<double> whole(data.Cells());
    K::Distances(data, c.formula, whole);
    const std::size_t n = static_cast<std::size_t>(data.Taxa());
    for (const char* simd : {"scalar", ""})
      for (int threads : {1, 3}) {
        K::Options options;
        options.Threads = threads;
        options.Simd = simd;
        std::vector<double> square(data.Cells(), -1.0), condensed(n * (n - 1) / 2, -1.0);
        K::Distances(data, c.formula, square, options);
        K::Condensed_Distances(data, c.formula, condensed, options);
        EXPECT_EQ(0, std::memcmp(square.data(), whole.data(), whole.size() * sizeof(double))) << c.formula << simd;
        std::size_t k = 0;
        for (std::size_t i = 0; i < n; ++i)
          for (std::size_t j = i + 1; j < n; ++j, ++k)
            EXPECT_EQ(0, std::memcmp(&condensed[k], &whole[i * n + j], sizeof(double))) << c.formula << i << j;
      }
  }

  const K::Matrix data = Only("3 2\nfull 1 2\nempty_1 0 0\nempty_2 0 0\n");
  std::vector<double> three(3);
  EXPECT_THROW(K::Condensed_Distances(data, "BRAY_CURTIS", three), Karvel::Errors::Constraint_Error);
  std::vector<std::string> warned;
  K::Set_Warning_Handler([&](const std::string& message) { warned.push_back(message); });
  K::Options nan;
  nan.Undefined_As_NaN = true;
  K::Condensed_Distances(data, "BRAY_CURTIS", three, nan);
  K::Set_Warning_Handler(nullptr);
  EXPECT_EQ(1.0, three[0]);
  EXPECT_TRUE(std::isnan(three[2]));
  EXPECT_EQ(1u, warned.size());

  // Missing values and ties as the program's options take them.
  const std::string gaps = "4 5\na 1 NA 3 3 5\nb 2 2 NA 1 4\nc 5 1 2 2 NA\nd 1 1 1 2 3\n";
  K::Reader reader = K::Reader::From_Text(gaps);
  reader.Set_Missing(K::Missing_Values::PAIRWISE);
  const K::Matrix with_gaps = *reader.Next();
  K::Options pairwise;
  pairwise.Missing = K::Missing_Values::PAIRWISE;
  pairwise.Average_Ties = true;
  for (const char* formula : {"BRAY_CURTIS", "SPEARMAN"}) {
    std::vector<double> square(with_gaps.Cells());
    K::Distances(with_gaps, formula, square, pairwise);
    EXPECT_EQ(Written([&](K::Output& out) {
                K::Write_Distances(out, with_gaps, square, K::Output_Layout::EXTENDED_PHYLIP);
              }),
              Program(gaps, {"--missing=pairwise", "--ties=average", formula == std::string("SPEARMAN") ? "-s" : "-b"}))
        << formula;
  }

  K::Options stop;
  stop.Interrupted = [] { return true; };
  EXPECT_THROW(K::Condensed_Distances(data, "EUCLIDEAN", three, stop), Karvel::Errors::Interrupt_Error);
  K::Options mmx;
  mmx.Simd = "mmx";
  EXPECT_THROW(K::Condensed_Distances(data, "EUCLIDEAN", three, mmx), Karvel::Errors::Constraint_Error);
  std::vector<double> two(2);
  EXPECT_THROW(K::Condensed_Distances(data, "EUCLIDEAN", two), Karvel::Errors::Constraint_Error);
}

TEST(Api, CallersCatchTheNamedConditions) {
  EXPECT_THROW(K::Reader::From_File("/nonexistent/matrix.phy"), Karvel::Errors::Name_Error);
  EXPECT_THROW(K::Reader::From_Text("2 3\na 1 2\n").Next(), Karvel::Errors::End_Error);

  K::Matrix dna = Only(Dna, K::Datatype::DISCRETE);
  EXPECT_THROW(K::Transform(dna, "RANGING"), Karvel::Errors::Constraint_Error);
  std::vector<double> square(dna.Cells());
  EXPECT_THROW(K::Distances(dna, "EUCLIDEAN", square), Karvel::Errors::Constraint_Error);
  K::Matrix real = Only(Primates);
  EXPECT_THROW(K::Transform(real, "FOR_CHI"), Karvel::Errors::Constraint_Error);

  // A failing pair: the program's message, the program's condition.
  const std::string zeros = "3 2\nfull 1 2\nempty_1 0 0\nempty_2 0 0\n";
  const K::Matrix data = Only(zeros);
  std::vector<double> three(data.Cells());
  try {
    K::Distances(data, "BRAY_CURTIS", three);
    FAIL() << "no error";
  } catch (const Karvel::Errors::Constraint_Error& e) {
    EXPECT_STREQ(e.Name(), "CONSTRAINT_ERROR");
    EXPECT_NE(std::string(e.what()).find("between taxon 2 'empty_1' and taxon 3 'empty_2'"), std::string::npos)
        << e.what();
    EXPECT_EQ(std::make_pair(e.Taxon_I(), e.Taxon_J()), std::make_pair(std::optional(1), std::optional(2)));
    EXPECT_EQ(e.Label_I() + " " + e.Label_J(), "empty_1 empty_2");
    EXPECT_FALSE(e.Line());
  }
  // The same pair from the caller's-buffer path, which raises it by block.
  std::vector<double> condensed(3);
  try {
    K::Condensed_Distances(data, "BRAY_CURTIS", condensed);
    FAIL() << "no error";
  } catch (const Karvel::Errors::Error& e) {
    EXPECT_EQ(e.Label_I() + " " + e.Label_J(), "empty_1 empty_2");
  }
  // A reading error has its place and no pair; only a named file gives a file.
  try {
    K::Reader::From_Text("2 2\na 1 2\nb 1 x\n").Next();
    FAIL() << "no error";
  } catch (const Karvel::Errors::Data_Error& e) {
    EXPECT_EQ(std::make_pair(e.Line(), e.Column()), std::make_pair(std::optional(3L), std::optional(5L)));
    EXPECT_TRUE(std::string(e.what()).starts_with("3:5:")) << e.what();
    EXPECT_FALSE(e.Taxon_I());
    EXPECT_EQ(e.File(), "");
  }
}

// A matrix viewing the caller's values computes what a copy computes, and
// nothing it does writes them: a transformation and a copy each take their
// own block first.
TEST(Api, ViewedValuesAreNeverWritten) {
  const K::Matrix read = Only(Primates);
  std::vector<std::string> labels;
  std::vector<double> values;
  std::tie(labels, values) = Held(read);
  const std::vector<double> kept = values;
  K::Matrix view = K::Matrix::View_Values(labels, values, read.Characters());
  EXPECT_EQ(view.Values(1).data(), values.data() + read.Characters());
  std::vector<double> a(read.Cells()), b(read.Cells());
  K::Distances(read, "SPEARMAN", a);
  K::Distances(view, "SPEARMAN", b);
  EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * sizeof(double)));
  K::Matrix copy = view.Copy();
  K::Transform(copy, "RANGING");
  K::Transform(view, "Z_SCORES");
  EXPECT_EQ(values, kept);
  EXPECT_NE(view.Values(0).data(), values.data());
}

TEST(Api, StreamAndDescriptorOutputsHoldTheSameText) {
  const K::Matrix data = Only(Presence, K::Datatype::BINARY);
  std::ostringstream stream;
  K::Output to_stream(stream);
  K::Write_Data(to_stream, data, K::Output_Layout::NEXUS);
  // A stream has each call's text at once.
  EXPECT_EQ(stream.str(), Program(Presence, {"-B", "-W", "-N"}));

  std::FILE* file = std::tmpfile();
  ASSERT_TRUE(file);
  {
    K::Output to_file(fileno(file));
    K::Write_Data(to_file, data, K::Output_Layout::NEXUS);
  }
  std::rewind(file);
  std::string text(stream.str().size() + 1, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), file));
  std::fclose(file);
  EXPECT_EQ(text, stream.str());

  stream.setstate(std::ios::badbit);
  EXPECT_THROW(K::Write_Data(to_stream, data, K::Output_Layout::RAW), Karvel::Errors::Device_Error);
  EXPECT_THROW(to_stream.Flush(), Karvel::Errors::Device_Error);
}

} // namespace

// Every format --from names is the library's too, read the same way: the
// same matrix, the same warnings, past a byte order mark and blank lines.
TEST(Api, ReadsEveryFormatTheProgramReads) {
  const std::map<std::string, std::pair<std::string, K::Datatype>> samples = {
      {"phylip", {"\xEF\xBB\xBF\n 2 2\nHomo sap  1 2\nPan       3 4\n", K::Datatype::CONTINUOUS}},
      {"extended", {"\n\n2 2\nHomo 1 2\nHomo 3 4\n", K::Datatype::CONTINUOUS}},
      {"commented", {"2 2\nHomo note 1 2\nPan note 3 4\n", K::Datatype::CONTINUOUS}},
      {"phylip-interleaved", {"2 4\nHomo sap  1 2\nPan       3 4\n\n5 6\n7 8\n", K::Datatype::CONTINUOUS}},
      {"extended-interleaved", {"2 4\nHomo 1 2\nPan 3 4\n\n5 6\n7 8\n", K::Datatype::CONTINUOUS}},
      {"csv", {",x,y\nHomo,1,2\nPan,3,4\n", K::Datatype::CONTINUOUS}},
      {"tsv", {"\tx\ty\nHomo\t1\t2\nPan\t3\t4\n", K::Datatype::CONTINUOUS}},
      {"csv2", {";x;y\nHomo;1,5;2\nPan;3;4\n", K::Datatype::CONTINUOUS}},
      {"nexus",
       {"#NEXUS\nbegin data; dimensions ntax=2 nchar=3; format datatype=dna;\nmatrix\nHomo ACG\nPan ACT\n;\nend;\n",
        K::Datatype::DISCRETE}},
      {"fasta", {">Homo\nACG\n>Pan\nACT\n", K::Datatype::DISCRETE}},
  };
  const std::vector<std::string> names = K::Input_Layout_Names();
  ASSERT_FALSE(names.empty());
  std::size_t warned = 0;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const auto sample = samples.find(name);
    ASSERT_NE(sample, samples.end()) << "a format without a sample here";
    const auto& [text, type] = sample->second;
    const std::optional<K::Input_Layout> layout = K::Input_Layout_Named(name);
    ASSERT_TRUE(layout);

    std::vector<std::string> warnings;
    K::Set_Warning_Handler([&](const std::string& message) { warnings.push_back(message); });
    K::Reader reader = K::Reader::From_Text(text, *layout, type);
    std::optional<K::Matrix> data = reader.Next();
    ASSERT_TRUE(data);
    EXPECT_FALSE(reader.Next());
    const std::string library = Written([&](K::Output& out) { K::Write_Data(out, *data, K::Output_Layout::PHYLIP); });
    const std::vector<std::string> library_warnings = std::exchange(warnings, {});

    const std::string letter = type == K::Datatype::DISCRETE ? "-D" : "-C";
    const std::string program = Program(text, {"--from=" + name, letter, "-W", "-P"});
    K::Set_Warning_Handler({});
    EXPECT_EQ(library, program);
    EXPECT_EQ(library_warnings, warnings);
    warned += warnings.size();
  }
  EXPECT_GT(warned, 0u); // the repeated label
  EXPECT_FALSE(K::Input_Layout_Named("genbank"));
}

// A file in every layout, hdf5 included, is the file `karvel --output=FILE`
// writes, held whole or in blocks of rows; a failing pair leaves what was
// there.
TEST(Api, FilesInEveryLayoutAreTheProgramsFiles) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / ("karvel-api-files-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const auto bytes = [](const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  constexpr int Signals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};
  struct sigaction before[std::size(Signals)] {};
  for (std::size_t k = 0; k < std::size(Signals); ++k) sigaction(Signals[k], nullptr, &before[k]);
  const K::Matrix data = Only(Primates);
  for (const Phylo::Print::Layout& row : Phylo::Print::Layouts()) {
    if (!row.Distances) continue;
    if (row.Binary == Phylo::Binary_Output::Layout::HDF5 && !Phylo::Binary_Output::Hdf5_Built()) continue;
    for (const std::size_t memory : {std::size_t{1} << 30, std::size_t{200}}) {
      const std::string to = "--to=" + std::string(row.Name), name = std::string(row.Name);
      SCOPED_TRACE(to + " --memory=" + std::to_string(memory));
      const fs::path mine = folder / ("lib." + name), theirs = folder / ("program." + name);
      K::Write_Distances_To_File(mine.string(), data, "EUCLIDEAN", row.Id, memory);

      std::vector<std::string> options{to, "--output=" + theirs.string(), "--memory=" + std::to_string(memory)};
      const Karvel::Run_Settings settings = Karvel::Parse_Arguments(options);
      std::string unused;
      Text_IO::Text_Output out(&unused);
      Karvel::Destination destination(settings, out);
      Text_IO::Text_Input input(Primates);
      Karvel::Read_Matrices(input, settings, destination.Text(), &destination);
      destination.Commit();
      if (row.Binary == Phylo::Binary_Output::Layout::HDF5) {
        // The file names itself inside: compare what is read back instead.
        EXPECT_GT(fs::file_size(mine), 0u);
      } else {
        EXPECT_EQ(bytes(mine), bytes(theirs));
      }
      EXPECT_EQ(fs::exists(mine.string() + ".labels.txt"), row.Labels_Beside);
      if (row.Labels_Beside) {
        EXPECT_EQ(bytes(mine.string() + ".labels.txt"), bytes(theirs.string() + ".labels.txt"));
      }
    }
  }
  // The caller's signals stay the caller's: the library installs no handler.
  for (std::size_t k = 0; k < std::size(Signals); ++k) {
    struct sigaction now {};
    sigaction(Signals[k], nullptr, &now);
    EXPECT_EQ(now.sa_handler, before[k].sa_handler) << Signals[k];
  }
  // All zeros: no Bray-Curtis distance; the file stays as it was.
  const fs::path kept = folder / "kept.txt";
  std::ofstream(kept) << "before\n";
  EXPECT_THROW(K::Write_Distances_To_File(kept.string(), Only("2 2\na 0 0\nb 0 0\n"), "BRAY_CURTIS",
                                          K::Output_Layout::PHYLIP),
               Karvel::Errors::Error);
  EXPECT_EQ(bytes(kept), "before\n");
  for (const fs::directory_entry& entry : fs::directory_iterator(folder))
    EXPECT_EQ(entry.path().filename().string().find(".karvel-"), std::string::npos) << entry.path();
  fs::remove_all(folder);
}
