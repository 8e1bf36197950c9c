#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "driver/karvel.hpp"
#include "driver/options_table.hpp"
#include "generic/simd.hpp"

namespace Karvel {

namespace {

using Options::Option;
using Options::Section;

const Option* With_Letter(char letter) {
  // Long options have no letter (0): "-" and a zero byte is no way to name them.
  for (const Option& o : Options::All())
    if (o.Letter != 0 && o.Letter == letter) return &o;
  return nullptr;
}

const Option* With_Long_Name(std::string_view name) {
  for (const Option& o : Options::All())
    if (!o.Long.empty() && o.Long == name) return &o;
  return nullptr;
}

struct Given {
  const Option* option;
  std::string value;
};

} // namespace

Run_Settings Parse_Arguments(std::vector<std::string>& arguments) {
  std::vector<Given> given;
  std::vector<std::string> operands;
  bool options_ended = false;
  for (std::size_t k = 0; k < arguments.size(); ++k) {
    const std::string& a = arguments[k];
    if (options_ended) {
      operands.push_back(a);
    } else if (a == "--") {
      options_ended = true;
    } else if (a.starts_with("--")) {
      const std::size_t equals = a.find('=');
      const std::string name = a.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
      const Option* option = With_Long_Name(name);
      if (!option) throw Errors::Usage_Error("unknown option '--" + name + "' (karvel --help lists them)");
      if (option->Argument.empty()) {
        if (equals != std::string::npos) throw Errors::Usage_Error("option '--" + name + "' takes no value");
        given.push_back({option, ""});
      } else if (equals != std::string::npos) {
        given.push_back({option, a.substr(equals + 1)});
      } else if (k + 1 < arguments.size()) {
        given.push_back({option, arguments[++k]});
      } else {
        throw Errors::Usage_Error("option '--" + name + "' needs a value (--" + name + "=" +
                                  std::string(option->Argument) + ")");
      }
    } else if (const Option* option = a.size() == 2 && a[0] == '-' ? With_Letter(a[1]) : nullptr) {
      // An argument of two characters that is no option, such as -j, stays
      // an operand: it has always been read as a file name.
      given.push_back({option, ""});
    } else {
      operands.push_back(a);
    }
  }
  // Every value is checked from the left first, so that a bad one is
  // reported even where an option to its left overrides it; then applying
  // from the right makes the leftmost of conflicting options win.
  Run_Settings checked;
  for (const Given& g : given) g.option->Apply(checked, g.value);
  Run_Settings settings;
  for (std::size_t k = given.size(); k-- > 0;) given[k].option->Apply(settings, given[k].value);
  arguments = std::move(operands);
  return settings;
}

namespace {

void Put_Letter_Sections(Text_IO::Text_Output& file) {
  for (Section section : {Section::INPUT_FORMAT, Section::INPUT_DATATYPE, Section::DISTANCE,
                          Section::TRANSFORMATION, Section::OUTPUT_FORMAT}) {
    file.Put(std::string(Options::Title(section)) + ":\n");
    for (const Option& o : Options::All()) {
      if (o.Where != section || !o.Letter) continue;
      file.Put("  -");
      file.Put(o.Letter);
      file.Put("  " + o.Help + "\n");
    }
    file.Put("\n");
  }
}

void Put_Head(Text_IO::Text_Output& file, const std::string& name) {
  file.Put(name + " computes Euclidean and other distances.\n\nUsage: " + name + " [options] inputfile(s)\n\n");
}

void Put_Credits(Text_IO::Text_Output& file) {
  file.Put("karvel " KARVEL_VERSION " - distance matrices and matrix conversion for numerical taxonomy\n\n");
}

std::string Long_Form(const Option& o) {
  std::string form = o.Letter ? std::string("-") + o.Letter + ", " : "";
  form += "--" + std::string(o.Long);
  if (!o.Argument.empty()) form += "=" + std::string(o.Argument);
  return form;
}

// Two columns, the second starting two spaces after the widest first.
void Put_Columns(Text_IO::Text_Output& file, const std::vector<std::pair<std::string, std::string>>& lines) {
  std::size_t width = 0;
  for (const auto& line : lines) width = std::max(width, line.first.size());
  for (const auto& [left, right] : lines)
    file.Put("  " + left + std::string(width + 2 - left.size(), ' ') + right + "\n");
}

} // namespace

void Put_Usage(Text_IO::Text_Output& file, const std::string& name) {
  Put_Head(file, name);
  Put_Letter_Sections(file);
  Put_Credits(file);
}

void Put_Help(Text_IO::Text_Output& file, const std::string& name) {
  Put_Head(file, name);
  Put_Letter_Sections(file);
  file.Put("Long options (--name=VALUE or --name VALUE; -- ends the options):\n");
  std::vector<std::pair<std::string, std::string>> lines;
  for (const Option& o : Options::All())
    if (!o.Long.empty()) lines.emplace_back(Long_Form(o), o.Help);
  Put_Columns(file, lines);
  file.Put("\nEnvironment:\n");
  Put_Columns(file, {{"KARVEL_THREADS=N", "use N threads (default: one per processor)"},
                     {"KARVEL_SIMD=NAME", "instruction set of the kernels: " + Generic::Simd::Names(false)}});
  file.Put("\n");
  Put_Credits(file);
}

} // namespace Karvel
