#include "read/label_checks.hpp"

#include <algorithm>
#include <functional>
#include <string_view>
#include <vector>
#include <unordered_map>

#include "diagnostics/warnings.hpp"
#include "karvel/utf8.hpp"

namespace Karvel::Phylo::Label_Checks {

namespace {

// A matrix of thousands of clashing labels says so in a few lines, then
// counts the rest.
constexpr int Most_Warnings = 10;

// Calls `report(first, later)` (taxa from 0) for every taxon whose key an
// earlier taxon has, pairing it with the first of them; `key` may decline a
// taxon by giving nothing. Returns how many were reported beyond
// Most_Warnings, whose report was not called.
template <class Key, class Report>
int Each_Clash(const Taxon_Labels& labels, Key key, Report report) {
  std::unordered_map<std::string_view, std::size_t> first_of;
  first_of.reserve(labels.size());
  int clashes = 0;
  for (std::size_t t = 0; t < labels.size(); ++t) {
    const auto [at, fresh] = first_of.try_emplace(key(labels[t]), t);
    if (fresh) continue;
    if (++clashes <= Most_Warnings) report(at->second, t);
  }
  return clashes > Most_Warnings ? clashes - Most_Warnings : 0;
}

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// Calls `report(t, at)` for the first Most_Warnings taxa t whose label has a
// finding (`find` gives its byte, npos for none), then warns of how many
// more there are, `more_of` naming them ("labels are ...").
template <class Find>
void Each_Finding(const Taxon_Labels& labels, Find find,
                  const std::function<void(std::size_t, std::size_t)>& report, const std::string& more_of) {
  int found = 0;
  for (std::size_t t = 0; t < labels.size(); ++t) {
    const std::size_t at = find(labels[t]);
    if (at == std::string::npos) continue;
    if (++found <= Most_Warnings) report(t, at);
  }
  if (found > Most_Warnings) Generic::Warnings::Issue(std::to_string(found - Most_Warnings) + " more " + more_of);
}

constexpr std::size_t Phylip_Label_Width = 10;

} // namespace

void Warn_Of_Duplicates(const Taxon_Labels& labels, const std::string& matrix) {
  const int more = Each_Clash(
      labels, [](const std::string& label) { return std::string_view(label); },
      [&](std::size_t first, std::size_t later) {
        Generic::Warnings::Issue("duplicate label " + Quoted(labels[later]) + ": taxa " + std::to_string(first + 1) +
                                 " and " + std::to_string(later + 1) + " of " + matrix);
      });
  if (more > 0) Generic::Warnings::Issue(std::to_string(more) + " more duplicate labels in " + matrix);
}

void Warn_Of_Phylip_Cut_Collisions(const Taxon_Labels& labels) {
  auto cut = [](const std::string& label) {
    return std::string_view(label).substr(0, Karvel::Utf8::Cut(label, Phylip_Label_Width));
  };
  // Equal labels clash already as they stand; each distinct label is judged
  // once, by its first taxon.
  std::unordered_map<std::string_view, std::size_t> seen;
  Taxon_Labels distinct;
  std::vector<std::size_t> taxon;
  for (std::size_t t = 0; t < labels.size(); ++t)
    if (seen.try_emplace(labels[t], t).second) {
      distinct.push_back(labels[t]);
      taxon.push_back(t);
    }
  const int more = Each_Clash(distinct, cut, [&](std::size_t first, std::size_t later) {
    Generic::Warnings::Issue("taxa " + std::to_string(taxon[first] + 1) + " " + Quoted(distinct[first]) + " and " +
                             std::to_string(taxon[later] + 1) + " " + Quoted(distinct[later]) + " are both " +
                             Quoted(cut(distinct[first])) + " when cut to ten characters");
  });
  if (more > 0)
    Generic::Warnings::Issue(std::to_string(more) + " more labels are equal to others when cut to ten characters");
}

void Warn_Of_Non_Utf8(const Taxon_Labels& labels, const std::string& matrix) {
  Each_Finding(
      labels, [](const std::string& label) { return Karvel::Utf8::First_Invalid(label); },
      [&](std::size_t t, std::size_t at) {
        Generic::Warnings::Issue("label " + Quoted(labels[t]) + " of taxon " + std::to_string(t + 1) + " of " +
                                 matrix + " is not UTF-8 (byte " +
                                 Karvel::Utf8::Code_Of(static_cast<unsigned char>(labels[t][at])) + " at " +
                                 std::to_string(at + 1) + "); --encoding=latin-1 reads ISO 8859-1 labels");
      },
      "labels of " + matrix + " are not UTF-8");
}

void Warn_Of_Controls(const Taxon_Labels& labels) {
  const auto control = [](const std::string& label) -> std::size_t {
    const auto at = std::find_if(label.begin(), label.end(),
                                 [](char c) { return Karvel::Utf8::Is_Control(static_cast<unsigned char>(c)); });
    return at == label.end() ? std::string::npos : static_cast<std::size_t>(at - label.begin());
  };
  Each_Finding(
      labels, control,
      [&](std::size_t t, std::size_t at) {
        Generic::Warnings::Issue("label " + Quoted(labels[t]) + " of taxon " + std::to_string(t + 1) + " holds " +
                                 Karvel::Utf8::Code_Of(static_cast<unsigned char>(labels[t][at])) +
                                 ", which the output layout cannot: its controls are written as '_'");
      },
      "labels hold controls written as '_'");
}

void Convert_From_Latin1(Taxon_Labels& labels) {
  for (std::string& label : labels) label = Karvel::Utf8::From_Latin1(label);
}

} // namespace Karvel::Phylo::Label_Checks
