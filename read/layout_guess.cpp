#include "read/layout_guess.hpp"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <vector>

namespace Karvel::Phylo::Read {

namespace {

// The lines of `text` that are not blank, without their line ends; the last
// one may be cut short.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find_first_not_of(" \t") != std::string_view::npos) lines.push_back(line);
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return lines;
}

bool Starts_Without_Case(std::string_view text, std::string_view start) {
  return text.size() >= start.size() && std::equal(start.begin(), start.end(), text.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
         });
}

bool Contains_Without_Case(std::string_view text, std::string_view part) {
  for (std::size_t at = 0; at + part.size() <= text.size(); ++at)
    if (Starts_Without_Case(text.substr(at), part)) return true;
  return false;
}

// A PHYLIP header: two whole numbers and nothing but blanks before them.
bool Is_Header(std::string_view line) {
  std::size_t at = line.find_first_not_of(" \t");
  for (int count = 0; count < 2; ++count) {
    if (at == std::string_view::npos || !std::isdigit(static_cast<unsigned char>(line[at]))) return false;
    at = line.find_first_not_of("0123456789", at);
    if (count == 0) {
      if (at == std::string_view::npos || (line[at] != ' ' && line[at] != '\t')) return false;
      at = line.find_first_not_of(" \t", at);
    }
  }
  return true;
}

} // namespace

std::string Guess_Layout(std::string_view head) {
  if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
  const std::vector<std::string_view> lines = Lines(head);
  if (lines.empty()) return "";
  const std::string_view first = lines[0].substr(std::min(lines[0].find_first_not_of(" \t"), lines[0].size()));
  if (first.starts_with('>')) return "looks like FASTA; try --from=fasta";
  if (Starts_Without_Case(first, "#NEXUS") || Contains_Without_Case(head, "begin data") ||
      Contains_Without_Case(head, "begin characters"))
    return "looks like a NEXUS file; try --from=nexus";
  // A table: a header row, then rows with as many separators, none of them
  // a PHYLIP header (whose counts may be followed by tabs).
  if (lines.size() < 2 || Is_Header(lines[0])) return "";
  const struct {
    char separator;
    const char* hint;
  } tables[] = {{',', "looks like a comma-separated table; try --from=csv"},
                {';', "looks like a semicolon-separated table; try --from=csv2"},
                {'\t', "looks like a tab-separated table; try --from=tsv"}};
  for (const auto& table : tables) {
    const auto separators = std::count(lines[0].begin(), lines[0].end(), table.separator);
    if (separators > 0 && std::count(lines[1].begin(), lines[1].end(), table.separator) == separators)
      return table.hint;
  }
  return "";
}

} // namespace Karvel::Phylo::Read
