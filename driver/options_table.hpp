#pragma once
// The options of karvel, one row each. The parser, the usage and --help
// text, the man page and the bash completion are all made from this table,
// so an option exists everywhere as soon as it has its row.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/errors.hpp"

namespace Karvel {

struct Run_Settings;

namespace Options {

// The groups of the usage text, in its order. RUN holds the options of the
// run itself, which the plain usage does not list.
enum class Section { INPUT_FORMAT, INPUT_DATATYPE, DISTANCE, TRANSFORMATION, OUTPUT_FORMAT, RUN };

// The heading of the section in the usage text and the man page.
std::string_view Title(Section section);

struct Option {
  char Letter = 0;                       // 0: no single-letter form
  std::string_view Long;                 // empty: no long form
  std::string_view Argument;             // the value's name (N, FILE...); empty: a flag
  std::vector<std::string_view> Values;  // the values there are, where they are a fixed list
  std::string Help;                      // one line, for --help and the man page
  Section Where = Section::RUN;
  // Sets what the option chooses; the value text is empty for flags. A
  // value that does not do throws Errors::Usage_Error.
  std::function<void(Run_Settings& settings, std::string_view value)> Apply;
  // The plain usage text's line where its fixed wording differs from Help
  // (scripts and users compare that text); empty: Help.
  std::string_view Usage_Line = {};
};

// Every option: the table's rows, then one row per distance letter made
// from the formula tables.
const std::vector<Option>& All();

// Value parsers for the actions: they throw Errors::Usage_Error naming the
// option (its long form, "--name").
long Whole_Number(std::string_view option, std::string_view value, long least, long most);
std::string_view One_Of(std::string_view option, std::string_view value,
                        const std::vector<std::string_view>& values);

} // namespace Options

} // namespace Karvel
