// The table of output layouts: every row is reachable by its names and
// letter, and what the program, its docs and the writers do with a layout
// follows from its row.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

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

} // namespace
