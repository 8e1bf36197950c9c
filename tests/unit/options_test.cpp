#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver/karvel.hpp"

namespace {

using Karvel::Input_Datatype;
using Karvel::Parse_Arguments;
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
  Parsed p = Parse({"-ab", "-", "-j", "x", "--", "-W", "-7", "-x"});
  EXPECT_EQ(p.operands, (std::vector<std::string>{"-ab", "-", "-j", "x", "--", "-7", "-x"}));
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

TEST(ParseArguments, EveryDistanceLetter) {
  struct Row {
    const char* option;
    Binary_Formula binary;
    Real_Formula real;
  };
  const Row rows[] = {
      {"-a", Binary_Formula::ROGERS_TANIMOTO_ASYMMETRIC, Real_Formula::CLARK},
      {"-b", Binary_Formula::SOKAL_SNEATH_1, Real_Formula::BRAY_CURTIS},
      {"-c", Binary_Formula::SOKAL_SNEATH_2, Real_Formula::CANBERRA},
      {"-d", Binary_Formula::SOKAL_SNEATH_3, Real_Formula::EDGAR},
      {"-e", Binary_Formula::SOKAL_SNEATH_4, Real_Formula::EUCLIDEAN},
      {"-f", Binary_Formula::FAITH, Real_Formula::EXCLUSIVE_EUCLIDEAN},
      {"-g", Binary_Formula::FAGER, Real_Formula::GEODESIC},
      {"-h", Binary_Formula::HAMANN, Real_Formula::HELLINGER},
      {"-i", Binary_Formula::JACCARD, Real_Formula::EUCLIDEAN},
      {"-k", Binary_Formula::KULCZYNSKI, Real_Formula::KULCZYNSKI},
      {"-m", Binary_Formula::MATCHING, Real_Formula::MANHATTAN},
      {"-n", Binary_Formula::YULE, Real_Formula::EXCLUSIVE_MANHATTAN},
      {"-o", Binary_Formula::OCHIAI, Real_Formula::CHORD},
      {"-p", Binary_Formula::PHI, Real_Formula::PEARSON},
      {"-q", Binary_Formula::KULCZYNSKI_2, Real_Formula::DRAVIK},
      {"-s", Binary_Formula::SOERENSEN, Real_Formula::PEARSON},
      {"-t", Binary_Formula::TRIPLE_WEIGHT, Real_Formula::GOWER_D9},
      {"-u", Binary_Formula::RUSSELL_RAO, Real_Formula::GOWER_D10},
  };
  for (const Row& row : rows) {
    Parsed p = Parse({row.option, "f"});
    EXPECT_EQ(p.settings.Binary_Formula, row.binary) << row.option;
    EXPECT_EQ(p.settings.Real_Formula, row.real) << row.option;
    EXPECT_EQ(p.operands.size(), 1u) << row.option;
  }
  EXPECT_EQ(Parse({"-h", "f"}).settings.Discrete_Formula, Discrete_Formula::HAMANN);
  EXPECT_EQ(Parse({"-c", "f"}).settings.Discrete_Formula, Discrete_Formula::SOKAL_SNEATH_2);
  EXPECT_EQ(Parse({"-m", "-b", "f"}).settings.Discrete_Formula, Discrete_Formula::MATCHING);
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
  // 57 lines: the credits line and an empty line close the text.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 57);
  EXPECT_EQ(text.substr(text.size() - 2), "\n\n");
  for (char c : text) EXPECT_TRUE(c == '\n' || (c >= 32 && c < 127));
}

} // namespace
