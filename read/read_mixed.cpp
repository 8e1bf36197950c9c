#include "read/read_mixed.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "diagnostics/errors.hpp"
#include "read/read_nexus.hpp"
#include "read/read_table.hpp"
#include "read/words.hpp"

namespace Karvel::Phylo::Read {

namespace {

constexpr double Missing = std::numeric_limits<double>::quiet_NaN();

// The number a text reads as, if it is one.
std::optional<double> Number_Of(std::string_view text, bool decimal_comma) {
  std::string copy(text);
  if (decimal_comma) {
    if (copy.find('.') != std::string::npos) return std::nullopt;
    std::replace(copy.begin(), copy.end(), ',', '.');
  }
  const Real_Prefix number = Scan_Real_Prefix(copy);
  if (copy.empty() || number.length != copy.size() || number.too_large) return std::nullopt;
  return number.value;
}

const char* Type_Name(Mixed_Type type) {
  switch (type) {
  case Mixed_Type::CONTINUOUS: return "continuous";
  case Mixed_Type::ORDINAL: return "ordinal";
  case Mixed_Type::NOMINAL: return "nominal";
  case Mixed_Type::SYMMETRIC: return "symmetric binary";
  case Mixed_Type::ASYMMETRIC: return "asymmetric binary";
  }
  return "";
}

// What a column holds: the texts of its present cells, each once, and
// whether every one of them is a number.
struct Column_Texts {
  std::vector<int> ids; // ascending
  bool all_numbers = true;
};

class Encoder {
public:
  explicit Encoder(const Mixed_Data& data) : data_(data), numbers_(data.Texts.size()) {
    for (std::size_t t = 0; t < data.Texts.size(); ++t) numbers_[t] = Number_Of(data.Texts[t], data.Decimal_Comma);
  }

  Column_Texts Texts_Of(int column) const {
    Column_Texts c;
    for (int t = 0; t < data_.Taxa(); ++t) {
      const double cell = Cell(t, column);
      if (cell == cell) c.ids.push_back(static_cast<int>(cell));
    }
    std::sort(c.ids.begin(), c.ids.end());
    c.ids.erase(std::unique(c.ids.begin(), c.ids.end()), c.ids.end());
    for (int id : c.ids) c.all_numbers = c.all_numbers && numbers_[static_cast<std::size_t>(id)].has_value();
    return c;
  }

  // The levels of a column, ascending (by value where all are numbers, else
  // by their bytes), and the level of each text of the column.
  std::vector<int> Levels(const Column_Texts& c, std::unordered_map<int, int>& level_of) const {
    std::vector<int> order = c.ids;
    auto less = [&](int a, int b) {
      if (c.all_numbers) return *numbers_[static_cast<std::size_t>(a)] < *numbers_[static_cast<std::size_t>(b)];
      return data_.Texts[static_cast<std::size_t>(a)] < data_.Texts[static_cast<std::size_t>(b)];
    };
    std::sort(order.begin(), order.end(), less);
    // Texts of equal value ("1" and "1.0") are one level.
    std::vector<int> levels;
    for (int id : order) {
      if (levels.empty() || less(levels.back(), id)) levels.push_back(id);
      level_of[id] = static_cast<int>(levels.size()) - 1;
    }
    return levels;
  }

  double Cell(int taxon, int column) const {
    return data_.Cells.Row(taxon)[static_cast<std::size_t>(column)];
  }
  const std::optional<double>& Number(int id) const { return numbers_[static_cast<std::size_t>(id)]; }

  std::string Column_Name(int column) const {
    return "character " + std::to_string(column + 1) + " '" + data_.Character_Names[static_cast<std::size_t>(column)] + "'";
  }

private:
  const Mixed_Data& data_;
  std::vector<std::optional<double>> numbers_;
};

} // namespace

Mixed_Data_Access Get_Mixed(Text_IO::Text_Input& file, Input_Format format, Table_Options options) {
  if (!Is_Table(format) && format != Input_Format::NEXUS)
    throw Errors::Usage_Error("--mixed reads tables and NEXUS matrices: give --from=csv, --from=tsv, --from=csv2 or --from=nexus");
  auto data = std::make_unique<Mixed_Data>();
  std::mutex lock;
  std::unordered_map<std::string, double> codes;
  const std::function<double(std::string_view)> code = [&](std::string_view text) {
    const std::lock_guard<std::mutex> hold(lock);
    const auto [at, added] = codes.try_emplace(std::string(text), static_cast<double>(data->Texts.size()));
    if (added) data->Texts.emplace_back(text);
    return at->second;
  };
  Real_Data_Access cells = format == Input_Format::NEXUS ? Get_Nexus_Cells(file, code, data->States_Named)
                                                        : Get_Table_Cells(file, format, options, code);
  data->Labels = std::move(cells->Labels);
  data->Character_Names = std::move(cells->Character_Names);
  data->Cells = std::move(cells->Matrix);
  data->Decimal_Comma = format != Input_Format::NEXUS && (options.decimal_comma || format == Input_Format::CSV2);
  return data;
}

void Check_Mixed_Types(std::string_view letters) {
  for (std::size_t k = 0; k < letters.size(); ++k)
    if (std::string_view("consa").find(letters[k]) == std::string_view::npos)
      throw Errors::Usage_Error("--types: letter " + std::to_string(k + 1) + ", '" + std::string(1, letters[k]) +
                                "', is no type: c (continuous), o (ordinal), n (nominal), s (symmetric binary) or "
                                "a (asymmetric binary)");
}

std::vector<Mixed_Type> Types_Of(const Mixed_Data& data, std::string_view types) {
  const int p = data.Characters();
  if (!types.empty() && static_cast<int>(types.size()) != p)
    throw Errors::Usage_Error("--types gives " + std::to_string(types.size()) + " letters for " + std::to_string(p) +
                              " characters");
  Check_Mixed_Types(types);
  const Encoder encoder(data);
  std::vector<Mixed_Type> result;
  for (int k = 0; k < p; ++k) {
    if (!types.empty())
      result.push_back(static_cast<Mixed_Type>(types[static_cast<std::size_t>(k)]));
    else if (static_cast<std::size_t>(k) < data.States_Named.size() && data.States_Named[static_cast<std::size_t>(k)])
      result.push_back(Mixed_Type::NOMINAL);
    else
      result.push_back(encoder.Texts_Of(k).all_numbers ? Mixed_Type::CONTINUOUS : Mixed_Type::NOMINAL);
  }
  return result;
}

Distfunc::Gower_Matrix Encode(const Mixed_Data& data, std::string_view types, const std::vector<double>& weights) {
  const int p = data.Characters();
  const int taxa = data.Taxa();
  if (!weights.empty() && static_cast<int>(weights.size()) != p)
    throw Errors::Usage_Error("--weights gives " + std::to_string(weights.size()) + " weights for " +
                              std::to_string(p) + " characters");
  const std::vector<Mixed_Type> type = Types_Of(data, types);
  const Encoder encoder(data);
  Distfunc::Gower_Matrix m;
  m.Weights = weights.empty() ? std::vector<double>(static_cast<std::size_t>(p), 1.0) : weights;
  m.Equality.assign(static_cast<std::size_t>(p), 0);
  m.Asymmetric.assign(static_cast<std::size_t>(p), 0);
  double* const values = m.Values.Add_Rows(static_cast<std::size_t>(taxa), p);
  auto value = [&](int t, int k) -> double& {
    return values[static_cast<std::size_t>(t) * static_cast<std::size_t>(p) + static_cast<std::size_t>(k)];
  };
  for (int k = 0; k < p; ++k) {
    const Column_Texts texts = encoder.Texts_Of(k);
    const Mixed_Type kind = type[static_cast<std::size_t>(k)];
    std::unordered_map<int, int> level_of;
    const std::vector<int> levels = encoder.Levels(texts, level_of);
    switch (kind) {
    case Mixed_Type::CONTINUOUS: {
      if (!texts.all_numbers)
        for (int id : texts.ids)
          if (!encoder.Number(id))
            throw Errors::Data_Error(encoder.Column_Name(k) + " is continuous but holds '" + data.Texts[static_cast<std::size_t>(id)] +
                                     "', which is no number");
      // Scaled as (x - min) / range, in that order; a column of one value
      // keeps its zeros (and still counts in the denominator).
      double lo = std::numeric_limits<double>::infinity(), hi = -lo;
      for (int id : texts.ids) {
        lo = std::min(lo, *encoder.Number(id));
        hi = std::max(hi, *encoder.Number(id));
      }
      double range = hi - lo;
      if (range == 0.0) range = 1.0;
      for (int t = 0; t < taxa; ++t) {
        const double cell = encoder.Cell(t, k);
        value(t, k) = cell == cell ? (*encoder.Number(static_cast<int>(cell)) - lo) / range : Missing;
      }
      break;
    }
    case Mixed_Type::ORDINAL: {
      // Dense ranks 1 .. L, then scaled as a continuous column.
      const double range = levels.size() > 1 ? static_cast<double>(levels.size()) - 1.0 : 1.0;
      for (int t = 0; t < taxa; ++t) {
        const double cell = encoder.Cell(t, k);
        value(t, k) = cell == cell ? (static_cast<double>(level_of[static_cast<int>(cell)] + 1) - 1.0) / range : Missing;
      }
      break;
    }
    case Mixed_Type::NOMINAL:
    case Mixed_Type::SYMMETRIC:
    case Mixed_Type::ASYMMETRIC: {
      if (kind != Mixed_Type::NOMINAL && levels.size() > 2)
        throw Errors::Data_Error(encoder.Column_Name(k) + " is " + Type_Name(kind) + " but holds " +
                                 std::to_string(levels.size()) + " different values ('" +
                                 data.Texts[static_cast<std::size_t>(levels[0])] + "', '" +
                                 data.Texts[static_cast<std::size_t>(levels[1])] + "', '" +
                                 data.Texts[static_cast<std::size_t>(levels[2])] + "' ...)");
      // Asymmetric: absence is the value 0 where the column has it, else
      // the lower of two values; a single value other than 0 is presence.
      int zero_level = -1;
      if (kind == Mixed_Type::ASYMMETRIC) {
        for (std::size_t l = 0; l < levels.size(); ++l) {
          const int id = levels[l];
          const bool is_zero = texts.all_numbers ? *encoder.Number(id) == 0.0 : data.Texts[static_cast<std::size_t>(id)] == "0";
          if (is_zero) zero_level = static_cast<int>(l);
        }
        if (zero_level < 0 && levels.size() == 2) zero_level = 0;
        m.Asymmetric[static_cast<std::size_t>(k)] = -1;
      }
      m.Equality[static_cast<std::size_t>(k)] = -1;
      for (int t = 0; t < taxa; ++t) {
        const double cell = encoder.Cell(t, k);
        if (cell != cell) {
          value(t, k) = Missing;
          continue;
        }
        const int level = level_of[static_cast<int>(cell)];
        value(t, k) = kind == Mixed_Type::ASYMMETRIC ? (level == zero_level ? 0.0 : 1.0) : static_cast<double>(level);
      }
      break;
    }
    }
  }
  return m;
}

} // namespace Karvel::Phylo::Read
