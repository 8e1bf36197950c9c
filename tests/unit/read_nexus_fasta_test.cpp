#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnostics/errors.hpp"
#include "diagnostics/warnings.hpp"
#include "read/read.hpp"

using namespace Karvel;

namespace {

using Phylo::Read::Input_Format;
using Text_IO::Text_Input;
using Strings = std::vector<std::string>;

struct Symbols {
  Strings labels;
  Strings rows;
};

Symbols Read_Symbols(const std::string& text, Input_Format format) {
  Text_Input in(text);
  const Phylo::Disc_Data_Access data = Phylo::Read::Get(in, format, Phylo::Read::Whitespace());
  Symbols result{data->Labels, {}};
  for (int t = 0; t < data->Taxa(); ++t) {
    const auto row = data->Matrix.Row(t);
    result.rows.emplace_back(row.begin(), row.end());
  }
  EXPECT_TRUE(in.At_End_Of_Input()); // one matrix per file: nothing is left for another
  return result;
}

// The message of the Data_Error that reading `text` raises.
std::string Error_Of(const std::string& text, Input_Format format, bool numbers) {
  Text_Input in(text);
  try {
    if (numbers)
      Phylo::Read::Get(in, format);
    else
      Phylo::Read::Get(in, format, Phylo::Read::Whitespace());
  } catch (const Errors::Data_Error& e) {
    return e.what();
  }
  return "no error";
}

} // namespace

// What a morphologist's file holds: a TAXA block naming the taxa, quoted and
// bare labels, comments (nested, inside rows and labels' lines), polymorphic
// and uncertain cells, a match character, lower-case states folded to the
// case of the symbols list, two interleaved blocks whose second lists the
// taxa in another order, and blocks before and after that are passed over.
TEST(Read_Nexus, MorphologicalMatrixInterleavedUnderTaxaBlock) {
  const std::string text =
      "#nexus\n[written by hand [twice]]\n"
      "begin trees; tree t = ((a,b),c); [;] end;\n"
      "BEGIN TAXA; DIMENSIONS NTAX=3; TAXLABELS 'O''Brien''s frog' Homo_sapiens [a comment] 'Pan;troglodytes';\nEND;\n"
      "begin characters;\n dimensions nchar=6;\n"
      " format datatype=standard symbols=\"0 1 2 a\" missing=? gap=- matchchar=. interleave=yes;\n"
      " charstatelabels 1 size / small large;\n"
      " matrix\n"
      "  'O''Brien''s frog' 0{01}[x]1\n"
      "  Homo_sapiens .(12)A\n"
      "  'Pan;troglodytes' 1-?\n\n"
      "  'Pan;troglodytes' 2a 1\n"
      "  'O''Brien''s frog' 2A ?\n"
      "  Homo_sapiens . . .\n"
      " ;\nend;\nbegin assumptions; options deftype=unord; end;\nrubbish that is never read\n";
  const Symbols r = Read_Symbols(text, Input_Format::NEXUS);
  EXPECT_EQ(r.labels, (Strings{"O'Brien's frog", "Homo sapiens", "Pan;troglodytes"}));
  EXPECT_EQ(r.rows, (Strings{"0?12a?", "0?a2a?", "1-?2a1"}));
}

// A DATA block defines its own taxa; rows may run over several lines, and
// letters keep their case under respectcase. A byte-order mark is no text.
TEST(Read_Nexus, SequentialDnaRowsOverLines) {
  const Symbols r = Read_Symbols("\xEF\xBB\xBF#NEXUS\nbegin data; dimensions ntax=2 nchar=8; format datatype=DNA respectcase;\n"
                                 "matrix\nhuman ACGT\n  acgt\nchimp AC-T ACNN\n;end;",
                                 Input_Format::NEXUS);
  EXPECT_EQ(r.labels, (Strings{"human", "chimp"}));
  EXPECT_EQ(r.rows, (Strings{"ACGTacgt", "AC-TACNN"}));
}

TEST(Read_Nexus, ContinuousNumbersReadAsInPhylip) {
  Text_Input in("#NEXUS begin data; dimensions ntax=2 nchar=3; format datatype=continuous;\n"
                "matrix a 1.5 -2e3 [note] 0.1\nb +7 .25 1e-400; end;");
  const Phylo::Real_Data_Access data = Phylo::Read::Get(in, Input_Format::NEXUS);
  const auto a = data->Matrix.Row(0), b = data->Matrix.Row(1);
  EXPECT_EQ(std::vector<double>(a.begin(), a.end()), (std::vector<double>{1.5, -2000.0, 0.1}));
  EXPECT_EQ(std::vector<double>(b.begin(), b.end()), (std::vector<double>{7.0, 0.25, 0.0}));
}

TEST(Read_Nexus, ErrorsNameLineColumnAndWhatWasExpected) {
  const std::string dna = "#NEXUS\nbegin data; dimensions ntax=2 nchar=4;\nformat datatype=dna;\nmatrix\n";
  const struct {
    std::string text;
    bool numbers;
    std::string message;
  } cases[] = {
      {"NEXUS\n", false, "1:1: expected '#NEXUS' at the start of the file, found 'NEXUS'"},
      {"#NEXUS begin taxa; end;", false, "1:24: expected a DATA or CHARACTERS block, found the end of the input"},
      {"#NEXUS\nbegin data; dimensions ntax=0 nchar=4;", false,
       "2:29: expected a positive whole number after ntax=, found '0'"},
      {"#NEXUS\nbegin data; dimensions ntax=2 nchar=4; format missing=?" "?;", false,
       "2:55: expected one symbol after missing=, found '?" "?'"},
      {dna + "a ACGT\nb AC;", false, "6:5: expected 4 characters for 'b' (it has 2), found ';'"},
      {"#NEXUS begin data; dimensions ntax=1000 nchar=1000; matrix a 01;", false,  // more than the text can hold
       "1:64: expected 1000 characters for 'a' (it has 2), found ';'"},
      {dna + "a ACGT\nb ACGT\nc ACGT;", false, "7:1: expected ';' after the 2 rows of the matrix, found 'c'"},
      {"#NEXUS begin taxa; taxlabels a b; end; begin characters; dimensions nchar=1; matrix\nb 1\nb 0;", false,
       "3:1: expected a taxon whose row is still to come, found 'b'"},
      {dna + "a AC}T\n", false, "5:5: expected a symbol, found '}'"},
      {"#NEXUS begin data; dimensions ntax=1 nchar=2; format matchchar=.; matrix a 0.;", false,
       "1:77: expected a symbol of the first taxon: there is none to match here, found '.'"},
      {dna + "a AC{GT\n;", false, "6:1: expected '}' to close the cell at 5:5, found ';'"},
      {dna + "a ACGT [b\n", false, "6:1: expected ']' to close the comment opened at 5:8, found the end of the input"},
      {"#NEXUS begin data; dimensions ntax=2 nchar=2; format interleave;\nmatrix\na A\nb A\nc C\n;", false,
       "5:1: expected one of the 2 taxa of the first block, found 'c'"},
      {"#NEXUS begin data; dimensions ntax=2 nchar=2; format interleave;\nmatrix\na AC\nb A\na G\n;", false,
       "5:3: expected the end of the line: 'a' has its 2 characters, found 'G'"},
      {dna + "a 1 2 x 4\n", true, "3:17: the matrix declares datatype=dna: read it with -D (discrete) or -B (binary)"},
      {"#NEXUS begin data; dimensions ntax=1 nchar=1; matrix a 0;", true,
       "1:47: the matrix declares no datatype (standard, the default): read it with -D (discrete) or -B (binary)"},
      {"#NEXUS begin data; dimensions ntax=1 nchar=2; format datatype=Continuous; matrix a 1 2;", false,
       "1:63: the matrix declares datatype=continuous: read it without -D or -B (continuous characters)"},
      {"#NEXUS begin data; dimensions ntax=1 nchar=2; format datatype=continuous; matrix a 1 ?;", true,
       "1:86: expected a number, found '?'"},
  };
  for (const auto& c : cases) EXPECT_EQ(Error_Of(c.text, Input_Format::NEXUS, c.numbers), c.message) << c.text;
}

// Sequences over several lines with blanks inside; the label is the first
// word of the '>' line; a byte-order mark is no text.
TEST(Read_Fasta, AlignedSequencesOverSeveralLines) {
  const Symbols r = Read_Symbols(
      "\xEF\xBB\xBF\n>seq1 Homo sapiens, mitochondrion\nACGT AC\r\nGT\n\n>seq2\nAC-TNN\nG?\n>\xc3\xa9t\xc3\xa9\nACGTACGT",
      Input_Format::FASTA);
  EXPECT_EQ(r.labels, (Strings{"seq1", "seq2", "\xc3\xa9t\xc3\xa9"}));
  EXPECT_EQ(r.rows, (Strings{"ACGTACGT", "AC-TNNG?", "ACGTACGT"}));
}

TEST(Read_Fasta, ErrorsNameTheSequence) {
  const struct {
    std::string text;
    bool numbers;
    std::string message;
  } cases[] = {
      {">a\nACGT\n>b\nAC\nG\n>c\nACGT\n", false,
       "6:1: expected 4 characters in the sequence of 'b' like 'a' before it, found 3"},
      {">a\nACGT\n>b\nACGT\n>c\nAC\nGTA\n", false,
       "7:3: expected 4 characters in the sequence of 'c' like 'a' before it, found 5"},
      {">a\nACGT\n>b\nACG", false, "4:4: expected 4 characters in the sequence of 'b' like 'a' before it, found 3"},
      {" \n\n", false, "3:1: expected '>' and the label of a sequence, found the end of the input"},
      {"ACGT\n>a\nACGT\n", false, "1:1: expected '>' and the label of a sequence, found 'ACGT'"},
      {">a\nAC\n> \nAC\n", false, "3:3: expected the label of the sequence after '>', found the end of the line"},
      {">a\nAC\n", true, "1:1: FASTA sequences are symbols, not numbers: read them with -D (discrete) or -B (binary)"},
  };
  for (const auto& c : cases) EXPECT_EQ(Error_Of(c.text, Input_Format::FASTA, c.numbers), c.message) << c.text;
}

// EQUATE macros stand for what they name, the key in either case unless
// respectcase; a macro for a set of states is unknown like {..} and (..),
// and one warning counts all such cells.
TEST(Read_Nexus, EquateMacrosAndCellsOfSeveralStates) {
  std::vector<std::string> warnings;
  Generic::Warnings::Set_Sink([&](const std::string& message) { warnings.push_back(message); });
  const Symbols r = Read_Symbols("#NEXUS begin data; dimensions ntax=2 nchar=5; format symbols=\"01\" "
                                 "equate=\"x=0 Y={01} w = (01)\";\nmatrix\na x1yW0\nb {01}1(01)1X;",
                                 Input_Format::NEXUS);
  Generic::Warnings::Set_Sink({});
  EXPECT_EQ(r.rows, (Strings{"01??0", "?1?10"}));
  EXPECT_EQ(warnings, (Strings{"the NEXUS matrix holds 4 polymorphic or uncertain cells ({..} or (..), the first "
                               "at 3:5), read as the missing symbol '?'"}));
  EXPECT_EQ(Error_Of("#NEXUS begin data; dimensions ntax=1 nchar=1; format equate=\"x=01\"; matrix a 0;",
                     Input_Format::NEXUS, false),
            "1:61: expected one symbol or one set after 'x=' in the equate macros \"x=01\", found '\"'");
}

// The missing and gap symbols a FORMAT declares go with the data, in the
// case the cells are stored in, so that --missing=pairwise leaves them out;
// cells of several states are stored as the missing symbol.
TEST(Read_Nexus, DeclaredMissingAndGapSymbols) {
  auto read = [](const std::string& text) {
    Text_Input in(text);
    return Phylo::Read::Get(in, Input_Format::NEXUS, Phylo::Read::Whitespace());
  };
  const auto declared = read("#NEXUS begin data; dimensions ntax=2 nchar=4; format symbols=\"01\" missing=x gap=*;"
                             " matrix a 0x*1 b {01}1(01)X;");
  EXPECT_EQ(declared->Declared_Missing, "X*");
  EXPECT_EQ(std::string(declared->Matrix.Row(1).begin(), declared->Matrix.Row(1).end()), "X1XX");
  EXPECT_EQ(read("#NEXUS begin data; dimensions ntax=1 nchar=2; matrix a 0?;")->Declared_Missing, "?-");
}

// The header's counts are promises: rows are made as they come, so a small
// file promising a hundred million taxa fails at once, and fewer rows than
// ntax is an error even without characters.
TEST(Read_Nexus, HeaderPromisesAreCheckedNotAllocated) {
  EXPECT_EQ(Error_Of("#NEXUS begin data; dimensions ntax=100000000 nchar=1; matrix a 0;", Input_Format::NEXUS, false),
            "1:65: expected 1 characters for taxon 2 (it has 0), found ';'");
  EXPECT_EQ(Error_Of("#NEXUS begin data; dimensions ntax=100000000 nchar=0; matrix a;", Input_Format::NEXUS, false),
            "1:63: expected the row of taxon 2 of the 100000000 that ntax= gives, found ';'");
  EXPECT_EQ(Error_Of("#NEXUS begin data; dimensions ntax=3 nchar=0; matrix a b c;", Input_Format::NEXUS, false),
            "no error");
}

// A file of another kind is refused from its first window: the rest of a
// long text is never read.
TEST(Read_Nexus, OtherFilesAreRefusedFromTheirStart) {
  const std::string long_word(std::size_t{1} << 20, 'x');
  for (const Input_Format format : {Input_Format::NEXUS, Input_Format::FASTA}) {
    Text_Input in("\n " + long_word);
    EXPECT_THROW(Phylo::Read::Get(in, format, Phylo::Read::Whitespace()), Errors::Data_Error);
    EXPECT_GT(in.Known_Bytes_Left().value_or(0), long_word.size() / 2);
  }
  EXPECT_EQ(Error_Of("\n\n  " + long_word, Input_Format::FASTA, false),
            "3:3: expected '>' and the label of a sequence, found 'xxxxxxxxxxxxxxxx'");
}
