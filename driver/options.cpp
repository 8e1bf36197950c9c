#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "karvel/version.hpp"
#include "driver/karvel.hpp"
#include "driver/options_docs.hpp"
#include "driver/options_table.hpp"
#include "simd/simd.hpp"

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
  bool by_letter = false;
};

// Edits, and swaps of neighbours, that turn one name into the other, case
// aside: "form" is one from "from", "HELP" none from "help".
std::size_t Edit_Distance(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  const std::size_t width = b.size() + 1;
  std::vector<std::size_t> d((a.size() + 1) * width);
  for (std::size_t i = 0; i <= a.size(); ++i) d[i * width] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i)
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const bool same = lower(a[i - 1]) == lower(b[j - 1]);
      std::size_t best = std::min({d[(i - 1) * width + j] + 1, d[i * width + j - 1] + 1,
                                   d[(i - 1) * width + j - 1] + (same ? 0 : 1)});
      if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) && lower(a[i - 2]) == lower(b[j - 1]))
        best = std::min(best, d[(i - 2) * width + j - 2] + 1);
      d[i * width + j] = best;
    }
  return d.back();
}

// Names the known option nearest to a mistyped one, where one is near
// enough to be what was meant: one edit in a short name, two in a longer.
std::string Unknown_Option(const std::string& name) {
  const Option* nearest = nullptr;
  std::size_t least = name.size() < 5 ? 1 : 2;
  for (const Option& o : Options::All()) {
    if (o.Long.empty()) continue;
    const std::size_t distance = Edit_Distance(name, o.Long);
    if (distance > least || (nearest && distance == least)) continue;
    nearest = &o;
    least = distance;
  }
  return "unknown option '--" + name + "' (" +
         (nearest ? "did you mean --" + std::string(nearest->Long) + "?" : std::string("karvel --help lists them")) +
         ")";
}

std::string As_Written(const Given& g) {
  if (g.by_letter) return std::string("-") + g.option->Letter;
  return "--" + std::string(g.option->Long) + (g.option->Argument.empty() ? "" : "=" + g.value);
}

// Two options contradict each other where the order they are applied in
// changes what the run does: -P and --to=csv do, -P and --to=phylip do not.
bool Contradict(const Given& a, const Given& b) {
  Run_Settings a_first, b_first;
  a.option->Apply(a_first, a.value);
  b.option->Apply(a_first, b.value);
  b.option->Apply(b_first, b.value);
  a.option->Apply(b_first, a.value);
  return !(a_first == b_first);
}

// Letters among themselves keep their old rule, the leftmost winning, for
// the scripts that rely on it. A long option is newer and spelled out: one
// that says otherwise than itself or a letter is a mistake to report, not
// to resolve by its place on the line.
void Refuse_Contradictions(const std::vector<Given>& given) {
  for (std::size_t j = 1; j < given.size(); ++j)
    for (std::size_t i = 0; i < j; ++i) {
      const Given& a = given[i];
      const Given& b = given[j];
      const bool same_long = !a.by_letter && !b.by_letter && a.option == b.option;
      if (!same_long && a.by_letter == b.by_letter) continue;
      if (!Contradict(a, b)) continue;
      if (same_long)
        throw Errors::Usage_Error("--" + std::string(a.option->Long) + " is given twice (" + a.value + " and " +
                                  b.value + ")");
      throw Errors::Usage_Error(As_Written(a) + " and " + As_Written(b) + " contradict each other");
    }
}

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
      if (!option) throw Errors::Usage_Error(Unknown_Option(name));
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
      given.push_back({option, "", true});
    } else {
      operands.push_back(a);
    }
  }
  // Every value is checked from the left first, so that a bad one is
  // reported before any contradiction; then applying from the right makes
  // the leftmost of conflicting letters win.
  Run_Settings checked;
  for (const Given& g : given) g.option->Apply(checked, g.value);
  Refuse_Contradictions(given);
  Run_Settings settings;
  for (std::size_t k = given.size(); k-- > 0;) given[k].option->Apply(settings, given[k].value);
  arguments = std::move(operands);
  return settings;
}

namespace {

void Put_Letter_Sections(Text_IO::Text_Output& file, bool plain_usage) {
  for (Section section : {Section::INPUT_FORMAT, Section::INPUT_DATATYPE, Section::DISTANCE,
                          Section::TRANSFORMATION, Section::OUTPUT_FORMAT}) {
    file.Put(std::string(Options::Title(section)) + ":\n");
    for (const Option& o : Options::All()) {
      if (o.Where != section || !o.Letter) continue;
      file.Put("  -");
      file.Put(o.Letter);
      file.Put("  " + (plain_usage && !o.Usage_Line.empty() ? std::string(o.Usage_Line) : o.Help) + "\n");
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

void Put_Columns(Text_IO::Text_Output& file, const std::vector<std::pair<std::string, std::string>>& lines) {
  file.Put(Options::Help_Columns(lines));
}

} // namespace

void Put_Usage(Text_IO::Text_Output& file, const std::string& name) {
  Put_Head(file, name);
  Put_Letter_Sections(file, true);
  Put_Credits(file);
}

void Put_Help(Text_IO::Text_Output& file, const std::string& name) {
  Put_Head(file, name);
  Put_Letter_Sections(file, false);
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

// Devices such as /dev/null are written in place, and harm no input.
void Refuse_Output_Over_Input(const Run_Settings& s, const std::vector<std::string>& operands) {
  if (!s.Output_File) return;
  std::vector<std::string> written{*s.Output_File};
  if (s.Binary_Output && Phylo::Print::Layout_Row(*s.Binary_Output).Labels_Beside)
    written.push_back(*s.Output_File + ".labels.txt");
  for (const std::string& file : written) {
    struct stat out {};
    if (stat(file.c_str(), &out) != 0 || !S_ISREG(out.st_mode)) continue;
    for (const std::string& operand : operands) {
      struct stat in {};
      const int got = operand == "-" ? fstat(STDIN_FILENO, &in) : stat(operand.c_str(), &in);
      if (got == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
        throw Errors::Usage_Error("--output=" + *s.Output_File + " would replace the input " +
                                  (operand == "-" ? "on standard input" : operand) +
                                  (file == *s.Output_File ? "" : " with its labels") + "; write to another file");
    }
  }
}


} // namespace Karvel
