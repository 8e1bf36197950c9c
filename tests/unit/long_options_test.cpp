#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "driver/karvel.hpp"
#include "driver/options_table.hpp"

namespace {

using Generic::Progress::Mode;
using Karvel::Parse_Arguments;
using Karvel::Run_Action;
using Karvel::Run_Settings;
using Phylo::Print::Dist_Output_Format;

struct Parsed {
  Run_Settings settings;
  std::vector<std::string> operands;
};

Parsed Parse(std::vector<std::string> arguments) {
  Run_Settings s = Parse_Arguments(arguments);
  return {s, arguments};
}

// The message of the Usage_Error the arguments raise, or "" without one.
std::string Refusal(std::vector<std::string> arguments) {
  try {
    Parse_Arguments(arguments);
  } catch (const Karvel::Errors::Usage_Error& e) {
    return e.what();
  }
  return "";
}

TEST(LongOptions, ValuesInBothFormsAndTheDoubleDash) {
  Parsed p = Parse({"a", "--threads=3", "--progress", "b"});
  EXPECT_EQ(p.settings.Threads, 3);
  EXPECT_EQ(p.settings.Progress, Mode::ON);
  EXPECT_EQ(p.operands, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Parse({"--threads", "4", "f"}).settings.Threads, 4);
  EXPECT_EQ(Parse({"--no-progress"}).settings.Progress, Mode::OFF);
  EXPECT_EQ(Parse({"f"}).settings.Progress, Mode::AUTO);
  EXPECT_FALSE(Parse({"f"}).settings.Threads);
  // After "--" everything is an operand, a second "--" and unknown long
  // options included.
  Parsed ended = Parse({"-P", "--", "-W", "--help", "--", "--bogus", "-"});
  EXPECT_EQ(ended.operands, (std::vector<std::string>{"-W", "--help", "--", "--bogus", "-"}));
  EXPECT_EQ(ended.settings.Output, Dist_Output_Format::PHYLIP);
  EXPECT_FALSE(ended.settings.Print_Data);
  EXPECT_EQ(ended.settings.Action, Run_Action::RUN);
}

TEST(LongOptions, LeftmostWinsBetweenLongOptionsAndLetters) {
  EXPECT_EQ(Parse({"--progress", "--no-progress"}).settings.Progress, Mode::ON);
  EXPECT_EQ(Parse({"--no-progress", "--progress"}).settings.Progress, Mode::OFF);
  EXPECT_EQ(Parse({"--threads=2", "--threads=5"}).settings.Threads, 2);
  EXPECT_EQ(Parse({"--version", "--help"}).settings.Action, Run_Action::VERSION);
  EXPECT_EQ(Parse({"-W", "--help", "--version"}).settings.Action, Run_Action::HELP);
}

TEST(LongOptions, RefusalsNameTheOption) {
  EXPECT_EQ(Refusal({"f", "--xyz"}), "unknown option '--xyz' (karvel --help lists them)");
  EXPECT_EQ(Refusal({"--xyz=1"}), "unknown option '--xyz' (karvel --help lists them)");
  // No abbreviations, and no other case.
  EXPECT_NE(Refusal({"--he"}), "");
  EXPECT_NE(Refusal({"--HELP"}), "");
  EXPECT_NE(Refusal({"---help"}), "");
  EXPECT_EQ(Refusal({"--help=yes"}), "option '--help' takes no value");
  EXPECT_EQ(Refusal({"f", "--threads"}), "option '--threads' needs a value (--threads=N)");
  EXPECT_EQ(Refusal({"--threads=x"}), "invalid value 'x' for '--threads' (a whole number from 1 to 1024)");
  for (const char* bad : {"--threads=0", "--threads=1025", "--threads=", "--threads=2x", "--threads=-1"})
    EXPECT_NE(Refusal({bad, "f"}), "") << bad;
  // A bad value is refused even where an option to its left wins.
  EXPECT_NE(Refusal({"--threads=2", "--threads=x"}), "");
  EXPECT_EQ(Refusal({"--threads=1024", "--threads", "1"}), "");
}

// What the parser, the help, the man page and the completion rely on.
TEST(OptionsTable, NamesAreUniqueAndEveryRowIsComplete) {
  std::set<char> letters;
  std::set<std::string_view> names;
  for (const Karvel::Options::Option& o : Karvel::Options::All()) {
    EXPECT_TRUE(o.Letter || !o.Long.empty());
    if (o.Letter) {
      EXPECT_TRUE(letters.insert(o.Letter).second) << o.Letter;
    }
    if (!o.Long.empty()) {
      EXPECT_TRUE(names.insert(o.Long).second) << o.Long;
      EXPECT_EQ(o.Long.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-"), std::string_view::npos);
    }
    // Letters take no value: "-x VALUE" would be ambiguous with operands.
    if (o.Letter) {
      EXPECT_TRUE(o.Argument.empty()) << o.Letter;
    }
    if (o.Argument.empty()) {
      EXPECT_TRUE(o.Values.empty()) << o.Long;
    }
    EXPECT_FALSE(o.Help.empty());
    EXPECT_EQ(o.Help.find('\n'), std::string::npos);
    EXPECT_TRUE(o.Apply);
  }
  EXPECT_TRUE(names.count("help") && names.count("version") && names.count("threads"));
}

TEST(Help, IsTheUsageWithTheLongOptionsAndTheEnvironmentBeforeTheCredits) {
  std::string usage, help;
  {
    Text_IO::Text_Output u(&usage);
    Karvel::Put_Usage(u, "karvel");
    Text_IO::Text_Output h(&help);
    Karvel::Put_Help(h, "karvel");
  }
  const std::size_t credits = usage.rfind("karvel ");
  ASSERT_EQ(help.rfind(usage.substr(0, credits), 0), 0u);
  EXPECT_EQ(help.substr(help.size() - (usage.size() - credits)), usage.substr(credits));
  const std::string added = help.substr(credits, help.size() - usage.size());
  for (const char* line : {"\n  --help ", "\n  --version ", "\n  --threads=N ", "\n  --no-progress ",
                           "\n  KARVEL_THREADS=N ", "\n  KARVEL_SIMD=NAME "})
    EXPECT_NE(added.find(line), std::string::npos) << line;
  for (char c : help) EXPECT_TRUE(c == '\n' || (c >= 32 && c < 127));
}

} // namespace
