// Distances written a block of rows at a time are the bytes of the whole
// matrix, on every thread count and block size; a failing pair stops the
// rows where its own row would be, with the error of the whole run.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "api/stream.hpp"
#include "driver/karvel.hpp"
#include "diagnostics/warnings.hpp"
#include "karvel/karvel.hpp"
#include "tests/unit/test_support.hpp"

using namespace Karvel;

namespace {

namespace Formulas = Phylo::Distfunc::Formulas;

struct Outcome {
  std::string Out;
  std::string Error; // empty when the run succeeded
};

Outcome Karvel_Run(const std::string& text, const Karvel::Run_Settings& settings) {
  Outcome outcome;
  Text_IO::Text_Input input(text);
  Text_IO::Text_Output output(&outcome.Out);
  try {
    Karvel::Read_Matrices(input, settings, output);
  } catch (const Errors::Error& e) {
    outcome.Error = std::string(e.Name()) + ": " + e.what();
  }
  output.Flush();
  return outcome;
}

// Labels of several lengths, so that padded layouts pad.
std::string Label(int t) { return "t" + std::string(static_cast<std::size_t>(t % 4), 'x') + std::to_string(t); }

// A continuous matrix with zeros, repeated values and rows that are all
// zero (`empty`), which make Bray-Curtis and others fail between them.
std::string Continuous(int taxa, int characters, const std::vector<int>& empty) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> kind(0, 9);
  std::uniform_real_distribution<double> u(0.0, 50.0);
  std::string text = std::to_string(taxa) + " " + std::to_string(characters) + "\n";
  for (int t = 0; t < taxa; ++t) {
    text += Label(t);
    const bool zero = std::find(empty.begin(), empty.end(), t) != empty.end();
    for (int c = 0; c < characters; ++c) {
      const int k = kind(rng);
      char value[32];
      std::snprintf(value, sizeof value, " %.6g", zero || k < 3 ? 0.0 : k < 5 ? static_cast<int>(u(rng)) : u(rng));
      text += value;
    }
    text += "\n";
  }
  return text;
}

// Symbols drawn from `symbols`; a row in `constant` holds its one symbol
// throughout (symbols[k] for the kth of them).
std::string Symbols(int taxa, int characters, const std::string& symbols, const std::vector<int>& constant) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<std::size_t> pick(0, symbols.size() - 1);
  std::string text = std::to_string(taxa) + " " + std::to_string(characters) + "\n";
  for (int t = 0; t < taxa; ++t) {
    text += Label(t) + " ";
    const auto at = std::find(constant.begin(), constant.end(), t);
    for (int c = 0; c < characters; ++c)
      text += at != constant.end() ? symbols[static_cast<std::size_t>(at - constant.begin()) % symbols.size()]
                                   : symbols[pick(rng)];
    text += "\n";
  }
  return text;
}

// The later taxon (from 0) of the pair a message names, or -1.
int Later_Taxon(const std::string& error) {
  const std::size_t at = error.rfind(" and taxon ");
  return at == std::string::npos ? -1 : std::stoi(error.substr(at + 11)) - 1;
}
int Earlier_Taxon(const std::string& error) {
  const std::size_t at = error.rfind(" between taxon ");
  return at == std::string::npos ? -1 : std::stoi(error.substr(at + 15)) - 1;
}

// The header of the distances of `text` as the settings write them.
std::string Header_Of(const std::string& text, const Karvel::Run_Settings& s) {
  Text_IO::Text_Input input(text);
  const Phylo::Pipeline::Data data = Phylo::Pipeline::Read(input, s.Format, s.Datatype);
  std::string header;
  Text_IO::Text_Output out(&header);
  Phylo::Print::Print_Header(out, data.Labels(), s.Output);
  out.Flush();
  return header;
}

// Every text layout of distances, by its --to name.
std::vector<const Phylo::Print::Layout*> Text_Layouts() {
  std::vector<const Phylo::Print::Layout*> rows;
  for (const Phylo::Print::Layout& row : Phylo::Print::Layouts())
    if (row.Distances && !row.Binary) rows.push_back(&row);
  return rows;
}

std::string To(const Phylo::Print::Layout& layout) { return "--to=" + std::string(layout.Name); }

// Every formula of the family (its letters after `type`) in every layout:
// streamed in blocks of one row and of a few, on 1, 2 and 7 threads, the
// run writes the whole run's bytes, or fails with its error after the rows
// before the failing pair's row, which are what a run of those rows alone
// writes.
template <class Table>
void Expect_Streamed_As_Whole(const std::string& text, const char* type, const Table& table) {
  Test_Support::Settings_Scope scope;
  for (const auto& row : table)
    for (const Phylo::Print::Layout* layout : Text_Layouts()) {
      std::vector<std::string> options{type, std::string("-") + row.Letter, To(*layout)};
      const Karvel::Run_Settings whole_settings = Karvel::Parse_Arguments(options);
      scope.Threads(2);
      const Outcome whole = Karvel_Run(text, whole_settings);
      SCOPED_TRACE(std::string(row.Name) + " " + To(*layout));
      Outcome expected = whole;
      if (!whole.Error.empty()) {
        EXPECT_EQ(whole.Out, "");
        Karvel::Run_Settings part = whole_settings;
        part.Rows = Phylo::Pipeline::Row_Range{0, Earlier_Taxon(whole.Error)};
        if (layout->Part == Phylo::Row_Part::BEFORE) {
          // A lower triangle's rows stop before the earliest row that holds
          // a failing pair, which need not hold the whole run's first pair;
          // the error is still the whole run's.
          int row = 0;
          for (; row < Later_Taxon(whole.Error); ++row) {
            part.Rows = Phylo::Pipeline::Row_Range{row, row + 1};
            if (!Karvel_Run(text, part).Error.empty()) break;
          }
          part.Rows = Phylo::Pipeline::Row_Range{0, row};
        }
        ASSERT_GE(part.Rows->Past, 0) << whole.Error;
        const Outcome before = Karvel_Run(text, part);
        EXPECT_EQ(before.Error, "");
        // No rows before the failing one: the header alone was written.
        expected.Out = part.Rows->Past > 0 ? before.Out : Header_Of(text, whole_settings);
      }
      for (std::size_t memory : {std::size_t{1}, std::size_t{5000}})
        for (int threads : {1, 2, 7}) {
          scope.Threads(threads);
          Karvel::Run_Settings streamed = whole_settings;
          streamed.Memory = memory;
          const Outcome got = Karvel_Run(text, streamed);
          EXPECT_EQ(got.Error, expected.Error) << memory << " bytes, " << threads << " threads";
          EXPECT_EQ(got.Out, expected.Out) << memory << " bytes, " << threads << " threads";
        }
    }
}

TEST(Streamed, ContinuousEveryFormulaAndLayout) {
  Expect_Streamed_As_Whole(Continuous(37, 9, {}), "-C", Formulas::Real);
  Expect_Streamed_As_Whole(Continuous(37, 9, {6, 13, 30}), "-C", Formulas::Real);
}

TEST(Streamed, BinaryEveryFormulaAndLayout) {
  Expect_Streamed_As_Whole(Symbols(33, 70, "01?", {}), "-B", Formulas::Binary);
  // Rows of absences only: the pairs among them have no presence at all.
  Expect_Streamed_As_Whole(Symbols(33, 70, "01", {4, 17, 25}), "-B", Formulas::Binary);
}

TEST(Streamed, DiscreteEveryFormulaAndLayout) {
  Expect_Streamed_As_Whole(Symbols(35, 60, "ACGT", {}), "-D", Formulas::Discrete);
  // Rows of one symbol each, all different: those taxa differ everywhere.
  Expect_Streamed_As_Whole(Symbols(35, 60, "ACGT", {3, 20, 31}), "-D", Formulas::Discrete);
}

// The square layouts computed a pair at a time and handed on to later rows:
// a budget that keeps every tile on disk, one that keeps some of them in
// memory, and one that keeps them all there, on 1, 2 and 7 threads, give
// the held run's bytes, its failure after the same rows, and, with
// undefined pairs as NaN, its one warning; the values kept on disk go to
// $TMPDIR and leave nothing there.
TEST(Streamed, SquareRowsFromKeptTiles) {
  Test_Support::Settings_Scope scope;
  char folder[] = "/tmp/karvel-tiles-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const char* before = std::getenv("TMPDIR");
  const std::string saved = before ? before : "";
  setenv("TMPDIR", folder, 1);
  std::vector<std::string> warnings;
  Generic::Warnings::Set_Sink([&](const std::string& message) { warnings.push_back(message); });
  const std::string failing = Continuous(61, 5, {9, 40, 52});
  for (const Phylo::Print::Layout* layout : Text_Layouts()) {
    if (layout->Part != Phylo::Row_Part::ALL) continue;
    for (const char* undefined : {"--undefined=error", "--undefined=nan"}) {
      std::vector<std::string> options{"-C", "-b", To(*layout), undefined};
      const Karvel::Run_Settings settings = Karvel::Parse_Arguments(options);
      SCOPED_TRACE(To(*layout) + " " + undefined);
      scope.Threads(2);
      warnings.clear();
      const Outcome held = Karvel_Run(failing, settings);
      const std::vector<std::string> held_warnings = warnings;
      ASSERT_EQ(held.Error.empty(), std::string(undefined) == "--undefined=nan") << held.Error;
      Outcome expected = held;
      if (!held.Error.empty()) {
        Karvel::Run_Settings part = settings;
        part.Rows = Phylo::Pipeline::Row_Range{0, Earlier_Taxon(held.Error)};
        expected.Out = Karvel_Run(failing, part).Out;
      }
      // 61 rows of 488 bytes (held from 29768 bytes on): blocks of 1, 3
      // and 7 rows, whose tiles are all on disk, partly, and not at all.
      for (std::size_t memory : {std::size_t{1}, std::size_t{12000}, std::size_t{29000}})
        for (int threads : {1, 2, 7}) {
          scope.Threads(threads);
          Karvel::Run_Settings streamed = settings;
          streamed.Memory = memory;
          warnings.clear();
          const Outcome got = Karvel_Run(failing, streamed);
          EXPECT_EQ(got.Error, expected.Error) << memory << " bytes, " << threads << " threads";
          EXPECT_EQ(got.Out, expected.Out) << memory << " bytes, " << threads << " threads";
          EXPECT_EQ(warnings, held_warnings) << memory << " bytes, " << threads << " threads";
        }
    }
  }
  // A folder the values cannot go to ends the run with a device error.
  const std::string missing = std::string(folder) + "/missing";
  setenv("TMPDIR", missing.c_str(), 1);
  std::vector<std::string> euclidean{"-C", "-e"};
  Karvel::Run_Settings settings = Karvel::Parse_Arguments(euclidean);
  settings.Memory = 1;
  const Outcome got = Karvel_Run(Continuous(20, 3, {}), settings);
  EXPECT_EQ(got.Error.rfind("DEVICE_ERROR: cannot write a temporary file in '" + missing + "': ", 0), 0u) << got.Error;
  Generic::Warnings::Set_Sink({});
  if (before) setenv("TMPDIR", saved.c_str(), 1);
  else unsetenv("TMPDIR");
  EXPECT_EQ(rmdir(folder), 0) << "left in " << folder;
}

// A binary square beyond the budget (npy, hdf5) takes its rows from kept
// tiles as the text layouts do: the rows handed to the writer are the held
// matrix's, up to the row of a failing pair, whose error is the held one's.
TEST(Streamed, BinarySquareRowsFromKeptTiles) {
  Test_Support::Settings_Scope scope;
  struct Capture final : Phylo::Binary_Output::Matrix_Writer {
    std::vector<double> Values;
    void Put_Row(std::size_t, std::span<const double> values) override {
      Values.insert(Values.end(), values.begin(), values.end());
    }
    void Finish() override {}
  };
  char folder[] = "/tmp/karvel-tiles-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  for (const std::vector<int>& empty : {std::vector<int>{}, std::vector<int>{9, 40, 52}}) {
    Text_IO::Text_Input input(Continuous(61, 5, empty));
    const Phylo::Pipeline::Data data = Phylo::Pipeline::Read(input, Phylo::Read::Input_Format::EXTENDED_PHYLIP,
                                                             Phylo::Pipeline::Datatype::CONTINUOUS);
    Phylo::Pipeline::Formula formula;
    formula.Real = Phylo::Distfunc::Real_Formula::BRAY_CURTIS;
    const Phylo::Pipeline::Row_Blocks blocks(data, formula);
    Capture held;
    std::string held_error;
    try {
      Phylo::Pipeline::Put_Binary_Rows(held, blocks, Phylo::Row_Part::ALL, std::size_t{1} << 20);
    } catch (const Errors::Error& e) {
      held_error = e.what();
    }
    EXPECT_EQ(held_error.empty(), empty.empty()) << held_error;
    for (std::size_t memory : {std::size_t{1}, std::size_t{12000}, std::size_t{29000}})
      for (int threads : {1, 2, 7}) {
        scope.Threads(threads);
        Capture got;
        std::string error;
        try {
          Phylo::Pipeline::Put_Binary_Rows(got, blocks, Phylo::Row_Part::ALL, memory, folder);
        } catch (const Errors::Error& e) {
          error = e.what();
        }
        EXPECT_EQ(error, held_error) << memory << " bytes, " << threads << " threads";
        EXPECT_TRUE(got.Values == held.Values) << memory << " bytes, " << threads << " threads";
      }
  }
  EXPECT_EQ(rmdir(folder), 0) << "left in " << folder;
}

// The parts of a run, one after the other, are the whole run: for every
// layout, whether the parts are held or streamed.
TEST(Parts, ConcatenateToTheWholeRun) {
  Test_Support::Settings_Scope scope(Generic::Simd::Current(), 2);
  // With more parts than rows some parts are empty: they add nothing.
  for (const std::string& text : {Continuous(41, 7, {}), Continuous(3, 2, {})}) {
    for (const Phylo::Print::Layout* layout : Text_Layouts()) {
      std::vector<std::string> options{To(*layout)};
      const Karvel::Run_Settings settings = Karvel::Parse_Arguments(options);
      const Outcome whole = Karvel_Run(text, settings);
      ASSERT_EQ(whole.Error, "");
      for (int parts : {1, 2, 3, 7})
        for (std::size_t memory : {std::size_t{1}, Phylo::Pipeline::Default_Memory}) {
          std::string joined;
          for (int part = 1; part <= parts; ++part) {
            Karvel::Run_Settings one = settings;
            one.Part = {part, parts};
            one.Memory = memory;
            const Outcome got = Karvel_Run(text, one);
            EXPECT_EQ(got.Error, "");
            joined += got.Out;
          }
          EXPECT_EQ(joined, whole.Out) << To(*layout) << ", " << parts << " parts, " << memory << " bytes";
        }
    }
  }
}

// The library's blocks are computed one at a time too: a failing pair ends
// them after the rows before its row, with the whole matrix's error.
TEST(Streamed, LibraryBlocksStopBeforeTheFailingRow) {
  namespace K = Karvel::Lib;
  K::Reader reader = K::Reader::From_Text(Continuous(9, 4, {2, 7}));
  const K::Matrix data = std::move(*reader.Next());
  std::vector<double> square(data.Cells());
  std::string whole;
  try {
    K::Distances(data, "BRAY_CURTIS", square);
  } catch (const Karvel::Errors::Constraint_Error& e) {
    whole = e.what();
  }
  ASSERT_NE(whole, "");
  for (int rows : {1, 2, 5}) {
    int handed = 0;
    try {
      K::Distances(data, "BRAY_CURTIS", rows, [&](const K::Distance_Rows& block) { handed = block.Past; });
      ADD_FAILURE() << "no error with blocks of " << rows;
    } catch (const Karvel::Errors::Constraint_Error& e) {
      EXPECT_EQ(e.what(), whole);
    }
    EXPECT_EQ(handed, 2) << rows;
  }
}

} // namespace
