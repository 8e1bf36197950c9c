// Labels in other encodings, and bytes that must not reach a terminal.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnostics/errors.hpp"
#include "diagnostics/warnings.hpp"
#include "read/label_checks.hpp"
#include "karvel/utf8.hpp"

using namespace Karvel;

namespace {

namespace Utf8 = Karvel::Utf8;

TEST(Utf8, LengthRefusesWhatStrictDecodersRefuse) {
  EXPECT_EQ(Utf8::Length("a", 0), 1U);
  EXPECT_EQ(Utf8::Length("\xc3\xa4", 0), 2U);
  EXPECT_EQ(Utf8::Length("\xe6\xbc\xa2", 0), 3U);
  EXPECT_EQ(Utf8::Length("\xf0\x9f\x90\x9f", 0), 4U);
  EXPECT_EQ(Utf8::Length("\xe4" "ck", 0), 0U);         // Latin-1
  EXPECT_EQ(Utf8::Length("\xe6\xbc", 0), 0U);          // cut short
  EXPECT_EQ(Utf8::Length("\xc0\xaf", 0), 0U);          // overlong
  EXPECT_EQ(Utf8::Length("\xe0\x80\xaf", 0), 0U);      // overlong
  EXPECT_EQ(Utf8::Length("\xed\xa0\x80", 0), 0U);      // surrogate
  EXPECT_EQ(Utf8::Length("\xf4\x90\x80\x80", 0), 0U);  // past U+10FFFF
  EXPECT_EQ(Utf8::First_Invalid("B\xc3\xa4" "ck"), std::string::npos);
  EXPECT_EQ(Utf8::First_Invalid("B\xe4" "ck"), 1U);
}

TEST(Utf8, CutKeepsWholeLetters) {
  EXPECT_EQ(Utf8::Cut("abc", 10), 3U);
  EXPECT_EQ(Utf8::Cut("ab\xc3\xa4", 3), 2U);
  EXPECT_EQ(Utf8::Cut("ab\xc3\xa4", 4), 4U);
  EXPECT_EQ(Utf8::Cut("\xe6\xbc\xa2\xe5\xad\x97", 5), 3U);
  // A stray byte is a character of its own.
  EXPECT_EQ(Utf8::Cut("ab\xe4" "cd", 3), 3U);
}

TEST(Utf8, ShownEscapesControlsAndStrayBytesOnce) {
  EXPECT_EQ(Utf8::Shown("plain B\xc3\xa4" "ck \xe6\xbc\xa2"), "plain B\xc3\xa4" "ck \xe6\xbc\xa2");
  EXPECT_EQ(Utf8::Shown("\x1b[2J"), "\\x1B[2J");
  EXPECT_EQ(Utf8::Shown(std::string("a\0b", 3)), "a\\x00b");
  EXPECT_EQ(Utf8::Shown("a\tb\nc\x7f"), "a\\x09b\\x0Ac\\x7F");
  EXPECT_EQ(Utf8::Shown("B\xe4" "ck"), "B\\xE4ck");
  // C1 controls, which some terminals obey as escapes (U+009B is CSI).
  EXPECT_EQ(Utf8::Shown("\xc2\x9b" "2J \xc2\xa0"), "\\xC2\\x9B2J \xc2\xa0");
  EXPECT_EQ(Utf8::Shown(Utf8::Shown("\x1b\xff")), "\\x1B\\xFF");
}

TEST(Utf8, Latin1BecomesUtf8) {
  EXPECT_EQ(Utf8::From_Latin1("B\xe4" "ck"), "B\xc3\xa4" "ck");
  EXPECT_EQ(Utf8::From_Latin1("\xff\x80 x"), "\xc3\xbf\xc2\x80 x");
}

TEST(Messages, ErrorsAreShownSafelyAndWhole) {
  const Errors::Data_Error error(std::string("found 'x\0y\x1b[2J' here", 20));
  EXPECT_EQ(std::string(error.what()), "found 'x\\x00y\\x1B[2J' here");
}

// Collects the warnings of one check.
class Warnings_Seen : public ::testing::Test {
protected:
  void SetUp() override {
    Generic::Warnings::Set_Sink([this](const std::string& message) { seen.push_back(message); });
  }
  void TearDown() override { Generic::Warnings::Set_Sink(nullptr); }
  std::vector<std::string> seen;
};

TEST_F(Warnings_Seen, LabelsThatAreNotUtf8NameTaxonAndByte) {
  Phylo::Label_Checks::Warn_Of_Non_Utf8({"ok", "B\xe4" "ck", "\xe6\xbc\xa2"}, "m");
  ASSERT_EQ(seen.size(), 1U);
  EXPECT_EQ(seen[0], "label 'B\\xE4ck' of taxon 2 of m is not UTF-8 (byte \\xE4 at 2); --encoding=latin-1 reads "
                     "ISO 8859-1 labels");
  Phylo::Taxon_Labels labels{"B\xe4" "ck"};
  Phylo::Label_Checks::Convert_From_Latin1(labels);
  EXPECT_EQ(labels[0], "B\xc3\xa4" "ck");
}

TEST_F(Warnings_Seen, ControlsAreWarnedOncePerTaxonTenThenCounted) {
  Phylo::Taxon_Labels labels{"a\nb\tc", "plain"};
  for (int t = 0; t < 12; ++t) labels.push_back("x\r" + std::to_string(t));
  Phylo::Label_Checks::Warn_Of_Controls(labels);
  ASSERT_EQ(seen.size(), 11U);
  EXPECT_EQ(seen[0], "label 'a\\x0Ab\\x09c' of taxon 1 holds \\x0A, which the output layout cannot: its controls are "
                     "written as '_'");
  EXPECT_EQ(seen[10], "3 more labels hold controls written as '_'");
}

TEST_F(Warnings_Seen, WarningsQuoteSafely) {
  Phylo::Label_Checks::Warn_Of_Duplicates({std::string("x\0\x1b[2J", 6), std::string("x\0\x1b[2J", 6)}, "m");
  ASSERT_EQ(seen.size(), 1U);
  EXPECT_EQ(seen[0], "duplicate label 'x\\x00\\x1B[2J': taxa 1 and 2 of m");
}

TEST_F(Warnings_Seen, PhylipCutCollisionsCountWholeLetters) {
  // Both are the nine bytes of their first letters once cut.
  Phylo::Label_Checks::Warn_Of_Phylip_Cut_Collisions(
      {"\xce\x91\xce\xbb\xcf\x86\xce\xb1_\xce\xb2", "\xce\x91\xce\xbb\xcf\x86\xce\xb1_\xce\xb3"});
  ASSERT_EQ(seen.size(), 1U);
  EXPECT_NE(seen[0].find("are both '\xce\x91\xce\xbb\xcf\x86\xce\xb1_'"), std::string::npos);
}

} // namespace
