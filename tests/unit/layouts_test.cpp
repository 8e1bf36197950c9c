// The tables of output layouts and of label styles: every row is reachable
// by its names and letter, and what the program, its docs and the writers
// do with a layout follows from its row.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <utility>
#include <string>
#include <vector>

#include "api/pipeline.hpp"
#include "driver/karvel.hpp"
#include "driver/options_table.hpp"
#include "write/print.hpp"

using namespace Karvel;

namespace {

namespace Print = Phylo::Print;

TEST(Layouts, EveryNameAndLetterPicksItsRow) {
  std::set<std::string> names;
  std::set<char> letters;
  for (const Print::Layout& row : Print::Layouts()) {
    SCOPED_TRACE(std::string(row.Name));
    EXPECT_EQ(&Print::Layout_Row(row.Id), &row);
    if (row.Binary) {
      EXPECT_EQ(&Print::Layout_Row(*row.Binary), &row);
    }
    // A binary row names its writer; a text row has none to name.
    EXPECT_EQ(row.Open != nullptr, row.Binary.has_value());
    EXPECT_TRUE(row.Refusal == nullptr || row.Binary.has_value());
    EXPECT_EQ(Karvel::Lib::Output_Layout_Name(row.Id), row.Name);
    for (const std::string_view name : {row.Name, row.Alias}) {
      if (name.empty()) continue;
      EXPECT_TRUE(names.insert(std::string(name)).second) << "twice: " << name;
      EXPECT_EQ(Print::Layout_Named(name), &row);
      std::vector<std::string> arguments{"--to=" + std::string(name), "f"};
      const Karvel::Run_Settings s = Karvel::Parse_Arguments(arguments);
      if (row.Binary) {
        EXPECT_EQ(s.Binary_Output, row.Binary);
      } else {
        EXPECT_TRUE(s.Output == row.Id && !s.Binary_Output);
      }
    }
    if (row.Letter == 0) continue;
    EXPECT_TRUE(letters.insert(row.Letter).second) << "twice: " << row.Letter;
    EXPECT_FALSE(row.Binary) << "a letter picks a text layout";
    // The letter and the name choose the same: no contradiction.
    std::vector<std::string> arguments{std::string("-") + row.Letter, "--to=" + std::string(row.Name), "f"};
    EXPECT_EQ(Karvel::Parse_Arguments(arguments).Output, row.Id);
  }
  EXPECT_EQ(Print::Layout_Named("no-such-layout"), nullptr);
  EXPECT_EQ(Print::Layout_Named(""), nullptr);
}

// --help, the man page and the completion are made from the option rows:
// every name is among --to's values and in its help, every letter has its
// row with the layout's help.
TEST(Layouts, OptionsAndDocsListEveryLayout) {
  const Karvel::Options::Option* to = nullptr;
  for (const Karvel::Options::Option& option : Karvel::Options::All())
    if (option.Long == "to") to = &option;
  ASSERT_NE(to, nullptr);
  for (const Print::Layout& row : Print::Layouts()) {
    for (const std::string_view name : {row.Name, row.Alias}) {
      if (name.empty()) continue;
      EXPECT_NE(std::find(to->Values.begin(), to->Values.end(), name), to->Values.end()) << name;
      EXPECT_NE(to->Help.find(std::string(name)), std::string::npos) << name;
    }
    if (row.Letter == 0) {
      EXPECT_NE(to->Help.find(std::string(row.Help)), std::string::npos) << row.Name;
      continue;
    }
    int rows = 0;
    for (const Karvel::Options::Option& option : Karvel::Options::All())
      if (option.Letter == row.Letter) {
        ++rows;
        EXPECT_EQ(option.Help, row.Help);
      }
    EXPECT_EQ(rows, 1) << row.Letter;
  }
  EXPECT_EQ(to->Values.size(), std::set<std::string_view>(to->Values.begin(), to->Values.end()).size());
}

// A binary layout has no text rows, and a layout of data refuses distances,
// whichever step is asked.
TEST(Layouts, RowsWithoutTextRefuseTheTextSteps) {
  const Phylo::Taxon_Labels labels{"a", "b"};
  for (const Print::Layout& row : Print::Layouts()) {
    if (row.Distances && !row.Binary) continue;
    std::string text;
    Text_IO::Text_Output out(&text);
    EXPECT_THROW(Print::Print_Header(out, labels, row.Id), Errors::Constraint_Error) << row.Name;
    EXPECT_THROW(Print::Layout_Of(labels, row.Id, 2, 8, 0), Errors::Constraint_Error) << row.Name;
    EXPECT_THROW(Print::Print_Footer(out, row.Id), Errors::Constraint_Error) << row.Name;
  }
}

// The label styles, which are also the layouts of -W.

// Every style names its writers and is the style of the layout its name
// picks, so that a message naming it names what the user chose.
TEST(Styles, EveryRowIsCompleteAndNamedAfterItsLayout) {
  for (const Print::Style& style : Print::Styles()) {
    SCOPED_TRACE(std::string(style.Name));
    EXPECT_EQ(&Print::Style_Row(style.Id), &style);
    EXPECT_TRUE(style.Label && style.Header && style.Symbols && style.Footer);
    EXPECT_NE(style.Separator, '\0');
    const Print::Layout* layout = Print::Layout_Named(style.Name);
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->Style, style.Id);
  }
}

// What -W writes in a style reads back the same through the reader of its
// layout, symbols and numbers; a style that holds symbols only refuses
// numbers by its name. LABELS and RAW have no reader: no labels or no values.
TEST(Styles, DataReadBackThroughTheReaderOfTheirLayout) {
  using Print::Output_Format;
  using Phylo::Read::Input_Format;
  const auto reader = [](Output_Format style) -> std::optional<Input_Format> {
    constexpr std::pair<Output_Format, Input_Format> readers[] = {
        {Output_Format::EXTENDED_PHYLIP, Input_Format::EXTENDED_PHYLIP},
        {Output_Format::PHYLIP, Input_Format::PHYLIP},
        {Output_Format::NEXUS, Input_Format::NEXUS},
        {Output_Format::NEXUS_ENCLOSED, Input_Format::NEXUS},
        {Output_Format::CSV, Input_Format::CSV},
        {Output_Format::TSV, Input_Format::TSV},
        {Output_Format::FASTA, Input_Format::FASTA},
    };
    for (const auto& [written, read] : readers)
      if (written == style) return read;
    return std::nullopt;
  };
  using Phylo::Pipeline::Data;
  using Phylo::Pipeline::Datatype;
  // A reader's refusal is a failure of this style; the others are still read.
  const auto read = [](const std::string& text, Input_Format format, Datatype type) -> std::optional<Data> {
    try {
      Text_IO::Text_Input input(text);
      return Phylo::Pipeline::Read(input, format, type);
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what() << "\n" << text;
      return std::nullopt;
    }
  };
  const Phylo::Taxon_Labels labels{"Homo", "Pan", "Gorilla"};
  const std::vector<std::string> symbols{"ACGT", "AC-T", "AGG?"};
  const std::vector<std::vector<double>> numbers{{0.5, -12.25, 0.0}, {1.0, 2.0, 3.0}, {-0.125, 7.5, 100.0}};
  Phylo::Disc_Matrix disc;
  for (const std::string& row : symbols) disc.Append_Row(std::span<const char>(row.data(), row.size()));
  Phylo::Real_Matrix real;
  for (const auto& row : numbers) real.Append_Row(row);
  const Phylo::Disc_Data disc_data(labels, std::move(disc));
  const Phylo::Real_Data real_data(labels, std::move(real));

  int read_back = 0;
  for (const Print::Style& style : Print::Styles()) {
    SCOPED_TRACE(std::string(style.Name));
    std::string disc_text, real_text;
    {
      Text_IO::Text_Output out(&disc_text);
      Print::Put(out, disc_data, style.Id);
    }
    {
      Text_IO::Text_Output out(&real_text);
      if (style.Numbers) {
        Print::Put(out, real_data, style.Id, Print::Default_Fore, Print::Default_Aft, Print::Default_Exp);
      } else {
        try {
          Print::Put(out, real_data, style.Id, Print::Default_Fore, Print::Default_Aft, Print::Default_Exp);
          ADD_FAILURE() << "continuous characters written";
        } catch (const Errors::Constraint_Error& e) {
          EXPECT_EQ(std::string(e.what()), "the " + std::string(style.Name) +
                                               " layout holds symbols; continuous characters cannot be written in it");
        }
      }
    }
    const std::optional<Input_Format> format = reader(style.Id);
    if (!format) continue;
    ++read_back;
    const std::optional<Data> disc_read = read(disc_text, *format, Datatype::DISCRETE);
    if (disc_read) {
      EXPECT_EQ(disc_read->Labels(), labels) << disc_text;
      for (int taxon = 0; taxon < 3; ++taxon) {
        const auto row = disc_read->Symbols->Matrix.Row(taxon);
        EXPECT_EQ(std::string(row.begin(), row.end()), symbols[static_cast<std::size_t>(taxon)]) << disc_text;
      }
    }
    if (!style.Numbers) continue;
    const std::optional<Data> real_read = read(real_text, *format, Datatype::CONTINUOUS);
    if (real_read) {
      EXPECT_EQ(real_read->Labels(), labels) << real_text;
      for (int taxon = 0; taxon < 3; ++taxon) {
        const auto row = real_read->Numbers->Matrix.Row(taxon);
        EXPECT_EQ(std::vector<double>(row.begin(), row.end()), numbers[static_cast<std::size_t>(taxon)]) << real_text;
      }
    }
  }
  EXPECT_EQ(read_back, 7);
}

} // namespace
