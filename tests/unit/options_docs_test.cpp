#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "driver/karvel.hpp"
#include "driver/options_docs.hpp"

using namespace Karvel;

namespace {

using Karvel::Options::Option;
using Karvel::Options::Section;

// A table of the kinds of rows the real one has or will have.
std::vector<Option> Sample() {
  const auto none = [](Karvel::Run_Settings&, std::string_view) {};
  return {
      {'P', "", "", {}, "ordinary PHYLIP format", Section::OUTPUT_FORMAT, none},
      {0, "output", "FORMAT", {"phylip", "nexus", "csv"}, "write .FORMAT", Section::OUTPUT_FORMAT, none},
      {0, "to", "FILE", {}, "write to FILE, not standard output", Section::RUN, none},
      {'W', "print-data", "", {}, "print the data\\values, not distances", Section::RUN, none},
  };
}

TEST(ManPage, OptionsReplaceTheirLineAndTheVersionEveryMention) {
  const std::string page = Karvel::Options::Man_Page(
      ".TH K 1 \"\" \"karvel @KARVEL_VERSION@\"\n.SH OPTIONS\n@KARVEL_OPTIONS@\nsee @KARVEL_OPTIONS@ @KARVEL_VERSION@\n",
      Sample(), "9.8.7");
  EXPECT_EQ(page, ".TH K 1 \"\" \"karvel 9.8.7\"\n.SH OPTIONS\n"
                  ".SS Output format\n"
                  ".TP\n.B \"\\-P\"\nordinary PHYLIP format\n"
                  ".TP\n.BI \"\\-\\-output=\" FORMAT\n"
                  "write .FORMAT; \\fIFORMAT\\fR is one of phylip, nexus, csv\n"
                  ".SS Running\n"
                  ".TP\n.BI \"\\-\\-to=\" FILE\nwrite to FILE, not standard output\n"
                  ".TP\n.B \"\\-W, \\-\\-print\\-data\"\nprint the data\\evalues, not distances\n"
                  "see @KARVEL_OPTIONS@ 9.8.7\n");
}

// Runs the completion for a sample table in bash, as bash hands over the
// words of the command line, and returns the candidates.
std::string Complete(const std::string& script_path, const std::string& words, int cword) {
  const std::string command = "bash -c 'source " + script_path + " && cd /tmp && COMP_WORDS=(" + words +
                              ") && COMP_CWORD=" + std::to_string(cword) +
                              " && _karvel && printf \"%s \" \"${COMPREPLY[@]}\"' 2>&1";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  std::string out;
  char buffer[256];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

TEST(BashCompletion, ValuesFollowTheirOptionHoweverBashSplitsTheWords) {
  char path[] = "/tmp/karvel_completion_XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string script = Karvel::Options::Bash_Completion(Sample());
  ASSERT_EQ(::write(fd, script.data(), script.size()), static_cast<ssize_t>(script.size()));
  ::close(fd);
  // "=" among the word breaks (bash's default): the value is a word.
  EXPECT_EQ(Complete(path, "karvel --output = n", 3), "nexus ");
  EXPECT_EQ(Complete(path, "karvel --output =", 2), "phylip nexus csv ");
  // Without it, the whole word.
  EXPECT_EQ(Complete(path, "karvel --output=p", 1), "--output=phylip ");
  EXPECT_EQ(Complete(path, "karvel --output c", 2), "csv ");
  EXPECT_EQ(Complete(path, "karvel --o", 1), "--output= ");
  EXPECT_EQ(Complete(path, "karvel --print", 1), "--print-data ");
  EXPECT_EQ(Complete(path, "karvel -", 1), "-P --output= --to= -W --print-data ");
  std::remove(path);
}

} // namespace
