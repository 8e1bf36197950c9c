#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "driver/karvel.hpp"
#include "driver/options_docs.hpp"
#include "driver/options_table.hpp"

using namespace Karvel;

namespace {

using Generic::Progress::Mode;
using Karvel::Input_Datatype;
using Karvel::Parse_Arguments;
using Karvel::Run_Action;
using Karvel::Run_Settings;
using Phylo::Distfunc::Binary_Formula;
using Phylo::Distfunc::Discrete_Formula;
using Phylo::Distfunc::Real_Formula;
using Phylo::Print::Dist_Output_Format;
using Phylo::Real_Chars::Transformation;

struct Parsed {
  Run_Settings settings;
  std::vector<std::string> operands;
};

Parsed Parse(std::vector<std::string> arguments) {
  Run_Settings s = Parse_Arguments(arguments);
  return {s, arguments};
}

TEST(ParseArguments, DefaultsWithOnlyAFile) {
  Parsed p = Parse({"data.phy"});
  EXPECT_EQ(p.settings.Format, Phylo::Read::Input_Format::EXTENDED_PHYLIP);
  EXPECT_EQ(p.settings.Datatype, Input_Datatype::CONTINUOUS);
  EXPECT_EQ(p.settings.Binary_Formula, Binary_Formula::SOERENSEN);
  EXPECT_EQ(p.settings.Discrete_Formula, Discrete_Formula::MATCHING);
  EXPECT_EQ(p.settings.Real_Formula, Real_Formula::EUCLIDEAN);
  EXPECT_FALSE(p.settings.Transformation);
  EXPECT_FALSE(p.settings.Implied_Transformation);
  EXPECT_EQ(p.settings.Output, Dist_Output_Format::EXTENDED_PHYLIP);
  EXPECT_FALSE(p.settings.Print_Data);
  EXPECT_EQ(p.operands, std::vector<std::string>{"data.phy"});
}

TEST(ParseArguments, LeftmostOfConflictingOptionsWins) {
  EXPECT_EQ(Parse({"-P", "-X", "f"}).settings.Output, Dist_Output_Format::PHYLIP);
  EXPECT_EQ(Parse({"-X", "-P", "f"}).settings.Output, Dist_Output_Format::EXTENDED_PHYLIP);
  EXPECT_EQ(Parse({"-D", "f", "-B"}).settings.Datatype, Input_Datatype::DISCRETE);
  EXPECT_EQ(Parse({"-3", "-1"}).settings.Format, Phylo::Read::Input_Format::COMMENTED_PHYLIP);
  EXPECT_EQ(*Parse({"-Z", "-A"}).settings.Transformation, Transformation::FULL_Z_SCORES);
}

TEST(ParseArguments, OnlyTwoCharacterArgumentsWithADashAreOptions) {
  Parsed p = Parse({"-ab", "-", "-j", "x", "-W", "-7", "-x"});
  EXPECT_EQ(p.operands, (std::vector<std::string>{"-ab", "-", "-j", "x", "-7", "-x"}));
  EXPECT_TRUE(p.settings.Print_Data);
  EXPECT_EQ(p.settings.Real_Formula, Real_Formula::EUCLIDEAN);
  EXPECT_EQ(p.settings.Binary_Formula, Binary_Formula::SOERENSEN);
}

TEST(ParseArguments, OptionsAnywhereLeaveOperandsInOrder) {
  Parsed p = Parse({"a", "-D", "b", "-m", "c", "-W"});
  EXPECT_EQ(p.operands, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_TRUE(Parse({"-D", "-W"}).operands.empty());
}

TEST(ParseArguments, DistanceLettersSetOnlyTheirOwnFields) {
  // -r has no real formula, -d no discrete one.
  Parsed r = Parse({"-r", "f"});
  EXPECT_EQ(r.settings.Real_Formula, Real_Formula::EUCLIDEAN);
  EXPECT_EQ(r.settings.Binary_Formula, Binary_Formula::ROGERS_TANIMOTO);
  EXPECT_EQ(r.settings.Discrete_Formula, Discrete_Formula::ROGERS_TANIMOTO);
  Parsed d = Parse({"-d", "f"});
  EXPECT_EQ(d.settings.Discrete_Formula, Discrete_Formula::MATCHING);
  EXPECT_EQ(d.settings.Real_Formula, Real_Formula::EDGAR);
  EXPECT_EQ(d.settings.Binary_Formula, Binary_Formula::SOKAL_SNEATH_3);
  // Letters to the left fill the fields the right ones did not touch.
  Parsed mixed = Parse({"-b", "-r", "f"});
  EXPECT_EQ(mixed.settings.Real_Formula, Real_Formula::BRAY_CURTIS);
  EXPECT_EQ(mixed.settings.Discrete_Formula, Discrete_Formula::SOKAL_SNEATH_1);
}

// The formula tables drive the parser, the usage text and the names; what
// they must hold to do so is checked here once for every row.
TEST(FormulaTables, LettersAreUniqueAndEveryFormulaIsReachable) {
  namespace F = Phylo::Distfunc::Formulas;
  // Lower case only: the other letters are taken, and the usage lists a to z.
  const auto unique_letters = [](const auto& table) {
    std::string letters;
    for (const auto& row : table) {
      EXPECT_TRUE(row.Letter >= 'a' && row.Letter <= 'z') << row.Name;
      letters += row.Letter;
    }
    std::sort(letters.begin(), letters.end());
    return std::adjacent_find(letters.begin(), letters.end()) == letters.end();
  };
  EXPECT_TRUE(unique_letters(F::Binary));
  EXPECT_TRUE(unique_letters(F::Discrete));
  EXPECT_TRUE(unique_letters(F::Real));
  // Each letter selects its row's formula in every family that has it.
  const auto selects = [](const auto& table, auto field) {
    for (const auto& row : table) {
      const Run_Settings s = Parse({std::string("-") + row.Letter, "f"}).settings;
      EXPECT_EQ(s.*field, row.Value) << row.Name;
      EXPECT_STREQ(Phylo::Distfunc::Name(row.Value), row.Name) << row.Letter;
    }
  };
  selects(F::Binary, &Run_Settings::Binary_Formula);
  selects(F::Discrete, &Run_Settings::Discrete_Formula);
  for (const F::Real_Row& row : F::Real) {
    const Run_Settings s = Parse({std::string("-") + row.Letter, "f"}).settings;
    EXPECT_EQ(s.Real_Formula, row.Value) << row.Name;
    EXPECT_EQ(s.Implied_Transformation, row.Implied) << row.Name;
  }
  // Every real formula has a row of its own, without an implied
  // transformation, whose name is the one messages use.
  for (int k = 0; k <= static_cast<int>(Real_Formula::PEARSON); ++k) {
    const auto f = static_cast<Real_Formula>(k);
    const F::Real_Row& row = F::Row_Of(f);
    EXPECT_EQ(row.Value, f) << k;
    EXPECT_FALSE(row.Implied) << row.Name;
  }
  EXPECT_EQ(F::Row_Of(Binary_Formula::FAGER).Letter, 'g');
  EXPECT_STREQ(F::Row_Of(Discrete_Formula::SOKAL_SNEATH_2).Name, "SOKAL_SNEATH_2");
}

TEST(ParseArguments, ImpliedTransformationSurvivesPlainDistanceLetters) {
  // -e then -s: EUCLIDEAN after RANKS; -s then -e: PEARSON after RANKS.
  Parsed es = Parse({"-e", "-s", "f"});
  EXPECT_EQ(es.settings.Real_Formula, Real_Formula::EUCLIDEAN);
  EXPECT_EQ(*es.settings.Implied_Transformation, Transformation::RANKS);
  Parsed se = Parse({"-s", "-e", "f"});
  EXPECT_EQ(se.settings.Real_Formula, Real_Formula::PEARSON);
  EXPECT_EQ(*se.settings.Implied_Transformation, Transformation::RANKS);
  Parsed is = Parse({"-i", "-s", "f"});
  EXPECT_EQ(*is.settings.Implied_Transformation, Transformation::FOR_CHI);
  EXPECT_EQ(is.settings.Real_Formula, Real_Formula::EUCLIDEAN);
  EXPECT_EQ(is.settings.Binary_Formula, Binary_Formula::JACCARD);
  Parsed ks = Parse({"-K", "-s", "f"});
  EXPECT_EQ(*ks.settings.Transformation, Transformation::RANKS);
  EXPECT_EQ(*ks.settings.Implied_Transformation, Transformation::RANKS);
}

// --ties is kept apart from the letters, so that it may stand on either
// side of them, and reaches the ranks of -K and of -s and nothing else.
TEST(ParseArguments, TiesRankAsAverageOnlyTheRanksOfKAndS) {
  using Phylo::Real_Chars::Ties;
  EXPECT_EQ(Parse({"f"}).settings.Ties, Ties::HEAP);
  EXPECT_EQ(Parse({"--ties=heap", "f"}).settings.Ties, Ties::HEAP);
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--ties=average", "-K", "-s", "f"}, {"-K", "-s", "--ties", "average", "f"},
        {"-s", "f", "--ties=average", "-K"}}) {
    const Run_Settings s = Parse(arguments).settings;
    EXPECT_EQ(s.Ties, Ties::AVERAGE);
    EXPECT_EQ(*s.Transformation, Transformation::RANKS);
    EXPECT_EQ(Run_Transformation(s), Transformation::AVERAGE_RANKS);
    EXPECT_EQ(Run_Formula(s).Implied, Transformation::AVERAGE_RANKS);
    EXPECT_EQ(Run_Formula(s).Real, Real_Formula::PEARSON);
  }
  // Without --ties the ranks are as they always were.
  const Run_Settings heap = Parse({"-K", "-s", "f"}).settings;
  EXPECT_EQ(Run_Transformation(heap), Transformation::RANKS);
  EXPECT_EQ(Run_Formula(heap).Implied, Transformation::RANKS);
  // Other transformations, and the conversion of -i, are not ranks.
  const Run_Settings other = Parse({"--ties=average", "-Z", "-i", "f"}).settings;
  EXPECT_EQ(Run_Transformation(other), Transformation::FULL_Z_SCORES);
  EXPECT_EQ(Run_Formula(other).Implied, Transformation::FOR_CHI);
  // The rest of the formula is the settings', --undefined included.
  EXPECT_TRUE(Run_Formula(Parse({"--undefined=nan", "-s", "f"}).settings).Undefined_As_NaN);
}

TEST(LabelFormat, DataAfterOneColumnAndTabSeparatedPrintExtendedPhylip) {
  using O = Phylo::Print::Output_Format;
  EXPECT_EQ(Phylo::Print::Label_Format(Dist_Output_Format::ONE_COLUMN), O::EXTENDED_PHYLIP);
  EXPECT_EQ(Phylo::Print::Label_Format(Dist_Output_Format::TAB_SEPARATED), O::EXTENDED_PHYLIP);
  EXPECT_EQ(Phylo::Print::Label_Format(Dist_Output_Format::EXTENDED_PHYLIP), O::EXTENDED_PHYLIP);
  EXPECT_EQ(Phylo::Print::Label_Format(Dist_Output_Format::LABELS), O::LABELS);
  EXPECT_EQ(Phylo::Print::Label_Format(Dist_Output_Format::NEXUS), O::NEXUS);
  EXPECT_EQ(Phylo::Print::Label_Format(Dist_Output_Format::NEXUS_ENCLOSED), O::NEXUS_ENCLOSED);
  EXPECT_EQ(Phylo::Print::Label_Format(Dist_Output_Format::PHYLIP), O::PHYLIP);
  EXPECT_EQ(Phylo::Print::Label_Format(Dist_Output_Format::RAW), O::RAW);
}

TEST(Usage, NamesTheInvocationTwiceAndListsTheTransformationsOutOfOrder) {
  std::string text;
  {
    Text_IO::Text_Output out(&text);
    Karvel::Put_Usage(out, "/opt/bin/karvel");
  }
  EXPECT_EQ(text.rfind("/opt/bin/karvel computes Euclidean and other distances.\n\nUsage: /opt/bin/karvel "
                       "[options] inputfile(s)\n\nInput format:\n",
                       0),
            0u);
  EXPECT_NE(text.find("  -K  Row-wise ranks\n  -I  Ranging (as -A, but also subtract minimum)\n"), std::string::npos);
  EXPECT_NE(text.find("  -X  extended PHYLIP format (default)\n\nkarvel "), std::string::npos);
  // The formula lines come from the tables; they must read as they always have.
  EXPECT_NE(text.find("Distance formulae (Binary/Discrete/Real, * = default):\n"
                      "  -a  Rogers-Tanimoto, asymmetric/-/Clark\n"
                      "  -b  Sokal-Sneath 1/Sokal-Sneath 1/Bray-Curtis\n"
                      "  -c  Sokal-Sneath 2/Sokal-Sneath 2/Canberra\n"
                      "  -d  Sokal-Sneath 3/-/Edgar 2004\n"
                      "  -e  Sokal-Sneath 4/-/Euclidean*\n"
                      "  -f  Faith/-/Euclidean, negative values = missing data\n"
                      "  -g  Fager/-/Geodesic\n"
                      "  -h  Hamann/Hamann/Hellinger\n"
                      "  -i  Jaccard/-/Chi square\n"
                      "  -k  Kulczynski/-/Kulczynski\n"
                      "  -m  Matching/Matching*/Manhattan\n"
                      "  -n  Yule/-/Manhattan, negative values = missing data\n"
                      "  -o  Ochiai/-/Chord\n"
                      "  -p  Phi/-/Pearson\n"
                      "  -q  Kulczynski 2/-/Dravik\n"
                      "  -r  Rogers-Tanimoto/Rogers-Tanimoto/-\n"
                      "  -s  Soerensen*/-/Spearman\n"
                      "  -t  Triple weight/-/Gower & Legendre 1986, D9\n"
                      "  -u  Russell-Rao/-/Gower & Legendre 1986, D10\n"
                      "\nTransformation of continuous characters"),
            std::string::npos);
  // 57 lines: the credits line and an empty line close the text.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 57);
  EXPECT_EQ(text.substr(text.size() - 2), "\n\n");
  for (char c : text) EXPECT_TRUE(c == '\n' || (c >= 32 && c < 127));
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

TEST(LongOptions, LeftmostWinsBetweenDifferentLongOptions) {
  EXPECT_EQ(Parse({"--progress", "--no-progress"}).settings.Progress, Mode::ON);
  EXPECT_EQ(Parse({"--no-progress", "--progress"}).settings.Progress, Mode::OFF);
  EXPECT_EQ(Parse({"--version", "--help"}).settings.Action, Run_Action::VERSION);
  EXPECT_EQ(Parse({"-W", "--help", "--version"}).settings.Action, Run_Action::HELP);
  EXPECT_EQ(Parse({"--decimals=3", "--exact"}).settings.Aft, Phylo::Print::Aft_Of_Decimals(3));
}

// --to and the layout letters choose one layout together, binary or text.
TEST(LongOptions, OutputLayoutsAndFiles) {
  using Phylo::Binary_Output::Layout;
  EXPECT_EQ(Parse({"--to=npy", "-W", "f"}).settings.Binary_Output, Layout::NPY);
  const Run_Settings text = Parse({"--to=pairs", "-O", "f"}).settings;
  EXPECT_FALSE(text.Binary_Output);
  EXPECT_EQ(text.Output, Dist_Output_Format::ONE_COLUMN);
  EXPECT_EQ(Parse({"--to", "npy-condensed", "f"}).settings.Binary_Output, Layout::NPY_CONDENSED);
  EXPECT_EQ(Parse({"--output=a.npy", "--output", "a.npy"}).settings.Output_File, "a.npy");
  EXPECT_FALSE(Parse({"f"}).settings.Output_File);
  EXPECT_TRUE(Parse({"--undefined=nan"}).settings.Undefined_As_NaN);
  EXPECT_FALSE(Parse({"f"}).settings.Undefined_As_NaN);
  EXPECT_EQ(Refusal({"--undefined=zero"}), "invalid value 'zero' for '--undefined' (one of error, nan)");
  EXPECT_EQ(Refusal({"--output="}), "'--output' needs a file name");
}

// --missing-symbols reaches the formula; blanks can never be symbols.
TEST(LongOptions, MissingSymbols) {
  const Run_Settings s = Parse({"--missing=pairwise", "--missing-symbols=X*", "-D", "f"}).settings;
  EXPECT_EQ(Run_Formula(s).Missing, Phylo::Missing_Rule::PAIRWISE);
  EXPECT_EQ(Run_Formula(s).Missing_Symbols, "X*");
  EXPECT_EQ(Refusal({"--missing-symbols="}), "'--missing-symbols' needs at least one symbol");
  EXPECT_EQ(Refusal({"--missing-symbols=X Y"}), "'--missing-symbols' takes symbols, not blanks or control characters");
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
  EXPECT_EQ(Refusal({"--from=NEXUS"}), "invalid value 'NEXUS' for '--from' (one of phylip, extended, commented, "
                                       "phylip-interleaved, extended-interleaved, csv, tsv, csv2, nexus, fasta)");
  for (const char* bad : {"--threads=0", "--threads=1025", "--threads=", "--threads=2x", "--threads=-1"})
    EXPECT_NE(Refusal({bad, "f"}), "") << bad;
  // A bad value is refused even where an option to its left wins.
  EXPECT_NE(Refusal({"--threads=2", "--threads=x"}), "");
  EXPECT_EQ(Refusal({"--threads=1024", "--threads", "1024"}), "");
}

// A long option loses to nothing: given twice with different values, or
// against a letter that chooses otherwise, it is refused, naming both. What
// chooses the same, whatever its spelling, is no contradiction.
TEST(LongOptions, ContradictionsAreRefusedNamingBoth) {
  EXPECT_EQ(Refusal({"--decimals=2", "f", "--decimals=6"}), "--decimals is given twice (2 and 6)");
  EXPECT_EQ(Refusal({"--output=a.txt", "--output", "b.txt"}), "--output is given twice (a.txt and b.txt)");
  EXPECT_EQ(Refusal({"--threads=2", "--threads=5"}), "--threads is given twice (2 and 5)");
  EXPECT_EQ(Refusal({"--to=npy", "--to=csv"}), "--to is given twice (npy and csv)");
  EXPECT_EQ(Refusal({"--undefined=nan", "--undefined=error"}), "--undefined is given twice (nan and error)");
  EXPECT_EQ(Refusal({"--ties=average", "-K", "--ties=heap"}), "--ties is given twice (average and heap)");
  EXPECT_EQ(Refusal({"--ties=mean"}), "invalid value 'mean' for '--ties' (one of heap, average)");
  EXPECT_EQ(Refusal({"-P", "--to=csv"}), "-P and --to=csv contradict each other");
  EXPECT_EQ(Refusal({"--to=csv", "-D", "-P"}), "--to=csv and -P contradict each other");
  EXPECT_EQ(Refusal({"-1", "--from=csv"}), "-1 and --from=csv contradict each other");
  EXPECT_EQ(Refusal({"--from", "nexus", "-3"}), "--from=nexus and -3 contradict each other");
  // A binary layout is a choice of layout as the letters are.
  EXPECT_EQ(Refusal({"-X", "--to=npy"}), "-X and --to=npy contradict each other");
  EXPECT_EQ(Refusal({"--to=hdf5", "-T"}), "--to=hdf5 and -T contradict each other");
  // The first contradiction from the left is the one named.
  EXPECT_EQ(Refusal({"-P", "--decimals=1", "--to=raw", "--decimals=2"}), "-P and --to=raw contradict each other");
  for (const std::vector<std::string>& agree :
       {std::vector<std::string>{"--decimals=2", "--decimals=02"}, {"-P", "--to=phylip"}, {"--to=tab", "-T"},
        {"-1", "--from=phylip"}, {"--from=extended", "-2"}, {"--to=npy", "--to", "npy"}, {"--exact", "--exact"},
        {"-W", "--to=fasta"}, {"-D", "--from=csv", "-m"}, {"--progress", "--progress"},
        {"--ties=average", "-K"}, {"-s", "--ties=average"}, {"--ties=heap", "--ties=heap"}})
    EXPECT_EQ(Refusal(agree), "") << agree[0] << " " << agree[1];
  const Run_Settings agreed = Parse({"-P", "--to=phylip", "-1", "--from=phylip", "f"}).settings;
  EXPECT_EQ(agreed.Output, Dist_Output_Format::PHYLIP);
  EXPECT_EQ(agreed.Format, Phylo::Read::Input_Format::PHYLIP);
}

TEST(LongOptions, AnUnknownOneNamesTheNearestKnown) {
  EXPECT_EQ(Refusal({"--form=csv", "f"}), "unknown option '--form' (did you mean --from?)");
  EXPECT_EQ(Refusal({"--decimls=3"}), "unknown option '--decimls' (did you mean --decimals?)");
  EXPECT_EQ(Refusal({"--thraeds", "2"}), "unknown option '--thraeds' (did you mean --threads?)");
  EXPECT_EQ(Refusal({"--no_progres"}), "unknown option '--no_progres' (did you mean --no-progress?)");
  EXPECT_EQ(Refusal({"--HELP"}), "unknown option '--HELP' (did you mean --help?)");
  EXPECT_EQ(Refusal({"---help"}), "unknown option '---help' (did you mean --help?)");
  // Two edits in a short name are too far to guess from.
  EXPECT_EQ(Refusal({"--he"}), "unknown option '--he' (karvel --help lists them)");
  EXPECT_EQ(Refusal({"--bogus"}), "unknown option '--bogus' (karvel --help lists them)");
  EXPECT_EQ(Refusal({"--"}), "");
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

// The plain usage keeps its fixed wording where it differs from what the
// program does; --help says what it does.
TEST(Help, IsTheUsageWithTheLongOptionsAndTheEnvironmentBeforeTheCredits) {
  std::string usage, help;
  {
    Text_IO::Text_Output u(&usage);
    Karvel::Put_Usage(u, "karvel");
    Text_IO::Text_Output h(&help);
    Karvel::Put_Help(h, "karvel");
  }
  EXPECT_NE(usage.find("\n  -S  Standardization (divide through column variances)\n"), std::string::npos);
  EXPECT_NE(help.find("\n  -S  Standardization (divide through column standard deviations)\n"), std::string::npos);
  for (const Karvel::Options::Option& o : Karvel::Options::All()) {
    if (o.Usage_Line.empty()) continue;
    const std::size_t at = usage.find("  " + std::string(o.Usage_Line) + "\n");
    ASSERT_NE(at, std::string::npos) << o.Usage_Line;
    usage.replace(at + 2, o.Usage_Line.size(), o.Help);
  }
  const std::size_t credits = usage.rfind("karvel ");
  ASSERT_EQ(help.rfind(usage.substr(0, credits), 0), 0u);
  EXPECT_EQ(help.substr(help.size() - (usage.size() - credits)), usage.substr(credits));
  const std::string added = help.substr(credits, help.size() - usage.size());
  for (const char* line : {"\n  --help ", "\n  --version ", "\n  --threads=N ", "\n  --no-progress ",
                           "\n  KARVEL_THREADS=N ", "\n  KARVEL_SIMD=NAME "})
    EXPECT_NE(added.find(line), std::string::npos) << line;
  for (char c : help) EXPECT_TRUE(c == '\n' || (c >= 32 && c < 127));
  std::size_t start = 0;
  for (std::size_t end; (end = help.find('\n', start)) != std::string::npos; start = end + 1)
    EXPECT_LE(end - start, 80u) << help.substr(start, end - start);
}

TEST(Help, ColumnsWrapAtSpacesUnderTheirFirstLine) {
  const std::string text = Karvel::Options::Help_Columns(
      {{"--a=N", "one two three four"}, {"--long", "x"}, {"--b", "unbreakable-word-longer-than-the-line tail"}}, 20);
  EXPECT_EQ(text,
            "  --a=N   one two\n"
            "          three four\n"
            "  --long  x\n"
            "  --b     unbreakable-word-longer-than-the-line\n"
            "          tail\n");
}

} // namespace
