#include "driver/options_docs.hpp"

#include <algorithm>
#include <string_view>

namespace Karvel::Options {

namespace {

// Text for roff: a backslash printed as such, every dash a minus sign (as
// options are typed), and no line read as a request.
std::string Roff(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\e";
    else if (c == '-') out += "\\-";
    else out += c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

// The tag of the item: the forms in bold, the value's name in italics.
std::string Man_Tag(const Option& o) {
  std::string forms;
  if (o.Letter) forms = Roff(std::string("-") + o.Letter);
  if (!o.Long.empty()) forms += (forms.empty() ? "" : ", ") + Roff("--" + std::string(o.Long));
  if (o.Argument.empty()) return ".B \"" + forms + "\"\n";
  return ".BI \"" + forms + "=\" " + Roff(o.Argument) + "\n";
}

std::string Words(const std::vector<std::string_view>& words, std::string_view separator) {
  std::string out;
  for (std::string_view w : words) out += (out.empty() ? "" : std::string(separator)) + std::string(w);
  return out;
}

} // namespace

std::string Man_Options(const std::vector<Option>& options) {
  std::string roff;
  for (Section section : {Section::INPUT_FORMAT, Section::INPUT_DATATYPE, Section::DISTANCE,
                          Section::TRANSFORMATION, Section::OUTPUT_FORMAT, Section::RUN}) {
    bool titled = false;
    for (const Option& o : options) {
      if (o.Where != section) continue;
      if (!titled) roff += ".SS " + Roff(Title(section)) + "\n";
      titled = true;
      roff += ".TP\n" + Man_Tag(o) + Roff(o.Help);
      if (!o.Values.empty()) roff += "; \\fI" + Roff(o.Argument) + "\\fR is one of " + Roff(Words(o.Values, ", "));
      roff += "\n";
    }
  }
  return roff;
}

std::string Man_Page(const std::string& page, const std::vector<Option>& options, const std::string& version) {
  std::string out;
  for (std::size_t at = 0; at < page.size();) {
    const std::size_t nl = page.find('\n', at);
    const std::size_t end = nl == std::string::npos ? page.size() : nl;
    std::string line = page.substr(at, end - at);
    at = nl == std::string::npos ? page.size() : nl + 1;
    if (line == "@KARVEL_OPTIONS@") {
      out += Man_Options(options);
      continue;
    }
    for (std::size_t v; (v = line.find("@KARVEL_VERSION@")) != std::string::npos;)
      line.replace(v, 16, version);
    out += line + "\n";
  }
  return out;
}

std::string Help_Columns(const std::vector<std::pair<std::string, std::string>>& lines, std::size_t width) {
  std::size_t widest = 0;
  for (const auto& line : lines) widest = std::max(widest, line.first.size());
  const std::size_t indent = 2 + widest + 2;
  std::string out;
  for (const auto& [left, right] : lines) {
    std::string line = "  " + left + std::string(indent - 2 - left.size(), ' ');
    bool first_word = true;
    for (std::size_t at = 0; at < right.size();) {
      const std::size_t space = right.find(' ', at);
      const std::size_t end = space == std::string::npos ? right.size() : space;
      const std::string_view word(right.data() + at, end - at);
      at = space == std::string::npos ? right.size() : space + 1;
      if (word.empty()) continue;
      // A word too long for any line stands alone rather than being cut.
      if (!first_word && line.size() + 1 + word.size() > width) {
        out += line + "\n";
        line = std::string(indent, ' ');
        first_word = true;
      }
      line += (first_word ? "" : " ") + std::string(word);
      first_word = false;
    }
    out += line + "\n";
  }
  return out;
}

std::string Bash_Completion(const std::vector<Option>& options) {
  // Every option as it is offered: long options that take a value end in
  // "=", which keeps the cursor there.
  std::vector<std::string> offered;
  std::string values_cases, files_names;
  for (const Option& o : options) {
    if (o.Letter) offered.push_back(std::string("-") + o.Letter);
    if (o.Long.empty()) continue;
    const std::string name = "--" + std::string(o.Long);
    offered.push_back(name + (o.Argument.empty() ? "" : "="));
    if (!o.Values.empty())
      values_cases += "    " + name + ") words='" + Words(o.Values, " ") + "' ;;\n";
    else if (o.Argument == "FILE")
      files_names += (files_names.empty() ? "" : "|") + name;
  }
  std::string all;
  for (const std::string& w : offered) all += (all.empty() ? "" : " ") + w;
  if (!files_names.empty()) values_cases += "    " + files_names + ") files=1 ;;\n";

  return "# bash completion for karvel; made from its options table by karvel_docs.\n"
         "\n"
         "# Completes the value of the long option $1 from the text $2.\n"
         "_karvel_value() {\n"
         "  local words='' files=0\n"
         "  case $1 in\n" +
         values_cases +
         "  esac\n"
         "  if [[ $files == 1 ]]; then\n"
         "    _karvel_files \"$2\"\n"
         "  elif [[ -n $words ]]; then\n"
         "    COMPREPLY=($(compgen -W \"$words\" -- \"$2\"))\n"
         "  fi\n"
         "}\n"
         "\n"
         "_karvel_files() {\n"
         "  type compopt &>/dev/null && compopt -o filenames 2>/dev/null\n"
         "  local IFS=$'\\n'\n"
         "  COMPREPLY=($(compgen -f -- \"$1\"))\n"
         "}\n"
         "\n"
         "_karvel() {\n"
         "  COMPREPLY=()\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]:-} i\n"
         "  # After \"--\" every argument is a file.\n"
         "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
         "    [[ ${COMP_WORDS[i]} == -- ]] && { _karvel_files \"$cur\"; return 0; }\n"
         "  done\n"
         "  # --name=value: bash splits the words at '=' where COMP_WORDBREAKS\n"
         "  # holds it, and then completes the value alone.\n"
         "  if [[ $cur == = && $prev == --* ]]; then\n"
         "    _karvel_value \"$prev\" ''\n"
         "    return 0\n"
         "  fi\n"
         "  if [[ $prev == = && $COMP_CWORD -ge 2 && ${COMP_WORDS[COMP_CWORD-2]} == --* ]]; then\n"
         "    _karvel_value \"${COMP_WORDS[COMP_CWORD-2]}\" \"$cur\"\n"
         "    return 0\n"
         "  fi\n"
         "  if [[ $cur == --*=* ]]; then\n"
         "    _karvel_value \"${cur%%=*}\" \"${cur#*=}\"\n"
         "    local k\n"
         "    for k in \"${!COMPREPLY[@]}\"; do COMPREPLY[k]=${cur%%=*}=${COMPREPLY[k]}; done\n"
         "    return 0\n"
         "  fi\n"
         "  # --name value\n"
         "  case \" " + all + " \" in\n"
         "    *\" $prev= \"*) [[ $prev == --* ]] && { _karvel_value \"$prev\" \"$cur\"; return 0; } ;;\n"
         "  esac\n"
         "  if [[ $cur == -* ]]; then\n"
         "    COMPREPLY=($(compgen -W '" + all + "' -- \"$cur\"))\n"
         "    [[ ${COMPREPLY[0]:-} == *= ]] && type compopt &>/dev/null && compopt -o nospace 2>/dev/null\n"
         "    return 0\n"
         "  fi\n"
         "  _karvel_files \"$cur\"\n"
         "}\n"
         "\n"
         "complete -F _karvel karvel\n";
}

} // namespace Karvel::Options
