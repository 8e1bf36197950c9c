#include "api/pipeline.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "diagnostics/warnings.hpp"
#include "transform/disc_to_binary.hpp"

namespace Karvel::Phylo::Pipeline {

namespace {

// '1' is presence, '0' absence, every other character unknown.
const Disc_To_Binary::Binary_Translator& Zero_One_Translator() {
  static const Disc_To_Binary::Binary_Translator table = [] {
    Disc_To_Binary::Binary_Translator t;
    t.fill(Binary::UNKNOWN);
    t[static_cast<unsigned char>('1')] = Binary::PRESENCE;
    t[static_cast<unsigned char>('0')] = Binary::ABSENCE;
    return t;
  }();
  return table;
}

// Runs a distance routine; a failing pair is reported with its labels, so
// the user sees which taxa to look at. The condition keeps its type, so
// that callers of the library can still catch it as such.
template <class Compute>
Generic::Square_Block With_Pair_Labels(const Taxon_Labels& labels, Compute compute) {
  try {
    return compute();
  } catch (const Distfunc::Pair_Taxa& pair) {
    const auto& error = dynamic_cast<const Errors::Error&>(pair);
    auto taxon = [&](int t) {
      return "taxon " + std::to_string(t + 1) + " '" + labels[static_cast<std::size_t>(t)] + "'";
    };
    const std::string message = std::string(error.what()) + " between " + taxon(pair.I) + " and " + taxon(pair.J);
    auto with_pair = [&](auto raised) {
      raised.Set_Pair(pair.I, pair.J, labels[static_cast<std::size_t>(pair.I)],
                      labels[static_cast<std::size_t>(pair.J)]);
      return raised;
    };
    if (dynamic_cast<const Errors::Argument_Error*>(&error)) throw with_pair(Errors::Argument_Error(message));
    if (dynamic_cast<const Errors::Constraint_Error*>(&error)) throw with_pair(Errors::Constraint_Error(message));
    throw with_pair(Errors::Error(error.Name(), message));
  }
}

// One warning for the pairs of a matrix written as NaN, naming the first.
void Warn_Undefined(const Taxon_Labels& labels, const Distfunc::Undefined_Pairs& undefined) {
  if (undefined.Count == 0) return;
  auto taxon = [&](int t) { return std::to_string(t + 1) + " '" + labels[static_cast<std::size_t>(t)] + "'"; };
  const std::string pair = "taxa " + taxon(undefined.I) + " and " + taxon(undefined.J) + ": " + undefined.Cause;
  if (undefined.Count == 1)
    Generic::Warnings::Issue("1 pair has no distance and is written as NaN: " + pair);
  else
    Generic::Warnings::Issue(std::to_string(undefined.Count) +
                             " pairs have no distance and are written as NaN; the first is " + pair);
}

// Under PAIRWISE, which symbols of a discrete matrix are missing cells. A
// DNA matrix's ambiguity codes are among them, which a user who counts N as
// a state of its own would not expect: a warning says so.
std::optional<Distfunc::Missing_Symbols> Missing_Of(const Disc_Data& disc, const Formula& formula) {
  if (formula.Missing != Missing_Rule::PAIRWISE) return std::nullopt;
  Distfunc::Missing_Symbols missing =
      Distfunc::Missing_Symbols_Of(disc.Matrix, disc.Declared_Missing + formula.Missing_Symbols);
  if (missing.Ambiguous > 0)
    Generic::Warnings::Issue("the matrix holds nucleotides only, so its ambiguity codes (N, R, Y, ...) are read as "
                             "missing: " +
                             std::to_string(missing.Ambiguous) + (missing.Ambiguous == 1 ? " cell" : " cells"));
  return missing;
}

// The distance block over the taxa of `data`, labelled: the labels are
// taken from `owner` when the data may be used up, copied otherwise.
template <class Record>
Squared_Access Squared_Over(const Record& data, Record* owner) {
  return std::make_unique<Squared>(owner ? std::move(owner->Labels) : data.Labels);
}

// Runs a transformation; a row that fails its range check is reported with
// its label, as a failing pair is.
void Transform_With_Row_Labels(Real_Data& data, Real_Chars::Transformation transformation) {
  try {
    Real_Chars::Transform_Matrix(data.Matrix, transformation);
  } catch (const Real_Chars::Row_Range_Error& e) {
    throw Errors::Constraint_Error(e.Labelled(data.Labels[e.Row]));
  }
}

// Spearman over data with missing values: ranked afresh for each pair over
// the values both rows hold, as R ranks them, rather than once per row
// before the pairs. Which ranking, where that is how the formula is done.
std::optional<Real_Chars::Transformation> Pairwise_Ranking(const Real_Data& data, const Formula& formula) {
  using Real_Chars::Transformation;
  if (formula.Missing != Missing_Rule::PAIRWISE || formula.Real != Distfunc::Real_Formula::PEARSON ||
      (formula.Implied != Transformation::RANKS && formula.Implied != Transformation::AVERAGE_RANKS))
    return std::nullopt;
  const double* const v = data.Matrix.Data();
  if (!std::any_of(v, v + data.Matrix.Values(), [](double x) { return std::isnan(x); })) return std::nullopt;
  return formula.Implied;
}

// Both forms of Distances. `owner` is null, or the data themselves when
// they may be used up.
Squared_Access Compute(const Data& data, const Formula& formula, Data* owner) {
  Distfunc::Undefined_Pairs undefined_pairs;
  Distfunc::Undefined_Pairs* const undefined = formula.Undefined_As_NaN ? &undefined_pairs : nullptr;
  switch (data.Type) {
  case Datatype::DISCRETE: {
    const Disc_Data& disc = *data.Symbols;
    Squared_Access squared = Squared_Over(disc, owner ? owner->Symbols.get() : nullptr);
    const std::optional<Distfunc::Missing_Symbols> missing = Missing_Of(disc, formula);
    squared->Matrix = With_Pair_Labels(squared->Labels, [&] {
      if (missing) return Distfunc::Distances(disc.Matrix, formula.Discrete, *missing, undefined);
      return Distfunc::Distances(disc.Matrix, formula.Discrete, undefined);
    });
    if (owner) owner->Symbols.reset();
    Warn_Undefined(squared->Labels, undefined_pairs);
    return squared;
  }
  case Datatype::BINARY: {
    auto binary = std::make_unique<Binary_Data>(owner ? std::move(owner->Symbols->Labels) : data.Symbols->Labels,
                                                Disc_To_Binary::Translate(data.Symbols->Matrix, Zero_One_Translator()));
    if (owner) owner->Symbols.reset();
    Squared_Access squared = Squared_Over(*binary, binary.get());
    squared->Matrix = With_Pair_Labels(squared->Labels, [&] {
      return Distfunc::Distances(binary->Matrix, formula.Binary, undefined);
    });
    binary.reset();
    Warn_Undefined(squared->Labels, undefined_pairs);
    return squared;
  }
  case Datatype::MIXED: {
    const Distfunc::Gower_Matrix gower = Read::Encode(*data.Mixed, formula.Mixed_Types, formula.Mixed_Weights);
    Squared_Access squared = std::make_unique<Squared>(owner ? std::move(owner->Mixed->Labels) : data.Mixed->Labels);
    if (owner) owner->Mixed.reset();
    squared->Matrix = With_Pair_Labels(squared->Labels, [&] { return Distfunc::Distances(gower, undefined); });
    Warn_Undefined(squared->Labels, undefined_pairs);
    return squared;
  }
  case Datatype::CONTINUOUS: break;
  }
  if (const auto ranking = Pairwise_Ranking(*data.Numbers, formula)) {
    const Real_Data& real = *data.Numbers;
    Squared_Access squared = Squared_Over(real, owner ? owner->Numbers.get() : nullptr);
    squared->Matrix = With_Pair_Labels(squared->Labels, [&] {
      return Distfunc::Pairwise_Ranked_Distances(real.Matrix, *ranking, undefined);
    });
    if (owner) owner->Numbers.reset();
    Warn_Undefined(squared->Labels, undefined_pairs);
    return squared;
  }
  // An implied transformation changes the numbers: in place when they may
  // be used up, else in a copy.
  Real_Data_Access copy;
  if (formula.Implied && !owner) copy = std::make_unique<Real_Data>(*data.Numbers);
  Real_Data* changed = copy ? copy.get() : owner ? owner->Numbers.get() : nullptr;
  if (formula.Implied) Transform_With_Row_Labels(*changed, *formula.Implied);
  const Real_Data& real = changed ? *changed : *data.Numbers;
  Squared_Access squared = Squared_Over(real, changed);
  squared->Matrix = With_Pair_Labels(squared->Labels, [&] {
    return Distfunc::Distances(real.Matrix, formula.Real, 0.0, undefined, formula.Missing);
  });
  if (owner) owner->Numbers.reset();
  Warn_Undefined(squared->Labels, undefined_pairs);
  return squared;
}

} // namespace

const Taxon_Labels& Data::Labels() const {
  return Numbers ? Numbers->Labels : Mixed ? Mixed->Labels : Symbols->Labels;
}
Taxon_Labels& Data::Labels() { return Numbers ? Numbers->Labels : Mixed ? Mixed->Labels : Symbols->Labels; }

int Data::Taxa() const { return static_cast<int>(Labels().size()); }

int Data::Characters() const {
  if (Taxa() == 0) return 0;
  if (Mixed) return Mixed->Characters();
  return Numbers ? Numbers->Matrix.Row_Length(0) : Symbols->Matrix.Row_Length(0);
}

Data Data::Copy() const {
  Data copy;
  copy.Type = Type;
  if (Symbols) copy.Symbols = std::make_unique<Disc_Data>(*Symbols);
  if (Numbers) copy.Numbers = std::make_unique<Real_Data>(*Numbers);
  if (Mixed) copy.Mixed = std::make_unique<Read::Mixed_Data>(*Mixed);
  return copy;
}

Data Read(Text_IO::Text_Input& input, Read::Input_Format format, Datatype type, Read::Table_Options table) {
  Data data;
  data.Type = type;
  if (type == Datatype::MIXED)
    data.Mixed = Read::Get_Mixed(input, format, table);
  else if (type == Datatype::CONTINUOUS)
    data.Numbers = Read::Get(input, format, table);
  else
    data.Symbols = Read::Get(input, format, Read::Whitespace(), table);
  return data;
}

namespace {

// Whether a row holds a symbol other than 0, 1, ? and -. Eight bytes at a
// time: a byte of x is not 0 exactly when the top bit of that byte of
// ((x & 0x7F..) + 0x7F..) | x is set (no carry crosses bytes), and a symbol
// is other when it differs from all of '0' or '1' (its low bit set), '?'
// and '-'.
bool Holds_Other_Binary_Symbols(std::span<const char> row) {
  constexpr std::uint64_t Ones = 0x0101010101010101u;
  const auto nonzero = [](std::uint64_t x) {
    return (((x & (0x7F * Ones)) + 0x7F * Ones) | x) & (0x80 * Ones);
  };
  std::uint64_t found = 0;
  std::size_t k = 0;
  for (; k + 8 <= row.size(); k += 8) {
    std::uint64_t w;
    std::memcpy(&w, row.data() + k, 8);
    found |= nonzero((w | Ones) ^ ('1' * Ones)) & nonzero(w ^ ('?' * Ones)) & nonzero(w ^ ('-' * Ones));
  }
  for (; k < row.size(); ++k) {
    const char c = row[k];
    found |= !((c | 1) == '1' || c == '?' || c == '-');
  }
  return found != 0;
}

} // namespace

void Warn_Of_Unknown_Binary_Symbols(const Data& data, const std::string& matrix) {
  if (data.Type != Datatype::BINARY || !data.Symbols) return;
  // The translation's unknowns (Zero_One_Translator) less the symbols
  // written for them.
  const auto other = [](char c) { return static_cast<unsigned>(!((c | 1) == '1' || c == '?' || c == '-')); };
  const Disc_Matrix& m = data.Symbols->Matrix;
  std::size_t count = 0;
  int first_taxon = -1;
  std::size_t first_character = 0;
  for (int t = 0; t < m.Rows(); ++t) {
    const std::span<const char> row = m.Row(t);
    // The matrix was just read at several bytes a nanosecond: rows are
    // looked at eight symbols at a time, and only one that holds other
    // symbols is counted symbol by symbol.
    if (!Holds_Other_Binary_Symbols(row)) continue;
    std::size_t in_row = 0;
    for (const char c : row) in_row += other(c);
    if (in_row > 0 && first_taxon < 0) {
      first_taxon = t;
      while (!other(row[first_character])) ++first_character;
    }
    count += in_row;
  }
  if (count == 0) return;
  const std::string symbol(1, m.Row(first_taxon)[first_character]);
  Generic::Warnings::Issue(
      matrix + " holds " + std::to_string(count) + (count == 1 ? " symbol" : " symbols") +
      " other than 0, 1, ? and -, which binary data count as unknown; the first is '" + symbol + "', character " +
      std::to_string(first_character + 1) + " of taxon " + std::to_string(first_taxon + 1) + " '" +
      data.Labels()[static_cast<std::size_t>(first_taxon)] + "'");
}

void Transform(Data& data, Real_Chars::Transformation transformation) {
  if (data.Type != Datatype::CONTINUOUS)
    throw Errors::Constraint_Error("only continuous characters can be transformed");
  Transform_With_Row_Labels(*data.Numbers, transformation);
}

Squared_Access Distances(const Data& data, const Formula& formula) { return Compute(data, formula, nullptr); }

Squared_Access Distances(Data&& data, const Formula& formula) { return Compute(data, formula, &data); }

void Put_Data(Text_IO::Text_Output& output, const Data& data, Print::Dist_Output_Format format, int aft) {
  // The implied transformation belongs to the distance and is never printed;
  // binary data are printed as read, before any translation.
  if (const Print::Layout& row = Print::Layout_Row(format); row.Binary)
    throw Errors::Constraint_Error("-W writes character data in text layouts, not in " + std::string(row.Name));
  if (data.Type == Datatype::MIXED)
    throw Errors::Usage_Error("-W does not write mixed characters (--mixed): they are read for their distances only");
  if (data.Numbers)
    Print::Put(output, *data.Numbers, Print::Label_Format(format), Print::Default_Fore, aft, Print::Default_Exp);
  else
    Print::Put(output, *data.Symbols, Print::Label_Format(format), data.Type == Datatype::BINARY);
}

void Put_Distances(Text_IO::Text_Output& output, const Squared& distances, Print::Dist_Output_Format format,
                   int aft) {
  Print::Put(output, distances, format, Print::Default_Fore, aft, Print::Default_Exp);
}

// --- Row blocks

Row_Blocks::Row_Blocks(const Data& data, const Formula& formula) : labels_(data.Labels()) {
  Prepare(data, formula, false);
}

Row_Blocks::Row_Blocks(Data&& data, const Formula& formula) : labels_(data.Labels()) {
  kept_ = std::move(data);
  Prepare(kept_, formula, true);
}

void Row_Blocks::Prepare(const Data& data, const Formula& formula, bool owned) {
  undefined_as_nan_ = formula.Undefined_As_NaN;
  switch (data.Type) {
  case Datatype::DISCRETE:
    if (const auto missing = Missing_Of(*data.Symbols, formula))
      rows_ = Distfunc::Row_Distances_Of(data.Symbols->Matrix, formula.Discrete, *missing);
    else
      rows_ = Distfunc::Row_Distances_Of(data.Symbols->Matrix, formula.Discrete);
    return;
  case Datatype::BINARY: {
    // The packed rows are all the distances need; the translation goes.
    rows_ = Distfunc::Row_Distances_Of(Disc_To_Binary::Translate(data.Symbols->Matrix, Zero_One_Translator()),
                                       formula.Binary);
    if (owned) kept_.Symbols.reset();
    return;
  }
  case Datatype::MIXED:
    gower_ = std::make_unique<Distfunc::Gower_Matrix>(
        Read::Encode(*data.Mixed, formula.Mixed_Types, formula.Mixed_Weights));
    rows_ = Distfunc::Row_Distances_Of(*gower_);
    if (owned) kept_.Mixed.reset();
    return;
  case Datatype::CONTINUOUS: break;
  }
  const Real_Data* real = data.Numbers.get();
  if (const auto ranking = Pairwise_Ranking(*real, formula)) {
    rows_ = Distfunc::Pairwise_Ranked_Row_Distances_Of(real->Matrix, *ranking);
    return;
  }
  if (formula.Implied) {
    if (!owned) {
      kept_.Type = Datatype::CONTINUOUS;
      kept_.Numbers = std::make_unique<Real_Data>(*data.Numbers);
    }
    Transform_With_Row_Labels(*kept_.Numbers, *formula.Implied);
    real = kept_.Numbers.get();
  }
  rows_ = Distfunc::Row_Distances_Of(real->Matrix, formula.Real, 0.0, formula.Missing);
}

Distfunc::Failed_Pair Row_Blocks::Compute(int first, int past, Distfunc::Row_Part part, Distfunc::Pair_Order order,
                                          double* rows, Distfunc::Undefined_Pairs* undefined) const {
  return rows_->Compute(first, past, part, order, rows, undefined);
}

void Row_Blocks::Warn(const Distfunc::Undefined_Pairs& undefined) const { Warn_Undefined(labels_, undefined); }

void Row_Blocks::Raise(const Distfunc::Failed_Pair& pair) const {
  With_Pair_Labels(labels_, [&] {
    rows_->Raise(pair.I, pair.J);
    return Generic::Square_Block();
  });
  throw Errors::Constraint_Error("internal error: a failing pair did not fail again");
}


} // namespace Karvel::Phylo::Pipeline
