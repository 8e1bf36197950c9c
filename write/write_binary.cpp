#include "write/write_binary.hpp"

#include <bit>
#include <string_view>

#include "diagnostics/errors.hpp"
#include "write/print.hpp"
#include "karvel/utf8.hpp"

namespace Karvel::Phylo::Binary_Output {

// The values go out as they lie in memory.
static_assert(std::endian::native == std::endian::little, "npy files are written little-endian from memory");
static_assert(sizeof(double) == 8);

void Check_Row(std::size_t row, std::size_t values, std::size_t due, std::size_t taxa) {
  if (row != due || values != taxa)
    throw Errors::Constraint_Error("index check failed: row " + std::to_string(row) + " of " + std::to_string(values) +
                                   " distances where row " + std::to_string(due) + " of " + std::to_string(taxa) +
                                   " was due");
}

namespace {

// What npy readers check first; 1.0 holds headers up to 65535 bytes, far
// beyond what two dimensions need.
constexpr std::string_view Npy_Magic("\x93NUMPY\x01\x00", 8);
constexpr std::size_t Npy_Alignment = 64;

std::uint64_t Values_Before(std::size_t taxa, Layout layout, std::size_t row) {
  const std::uint64_t n = taxa, i = row;
  if (layout == Layout::NPY_CONDENSED) return i * (n - 1) - i * (i - 1) / 2; // rows r < i hold n - 1 - r each
  return i * n;
}

void Check_Npy(Layout layout) {
  if (layout == Layout::HDF5) throw Errors::Constraint_Error("the hdf5 layout is not an npy layout");
}

class Npy : public Matrix_Writer {
public:
  Npy(Text_IO::Text_Output& out, std::size_t taxa, Layout layout) : out_(out), taxa_(taxa), layout_(layout) {
    out_.Put(Npy_Header(taxa, layout));
  }

  void Put_Row(std::size_t row, std::span<const double> values) override {
    Check_Row(row, values.size(), next_, taxa_);
    ++next_;
    if (layout_ == Layout::NPY_CONDENSED) values = values.subspan(row + 1);
    out_.Put(std::string_view(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(double)));
  }

  // The square layout is the rows as they lie in memory: a block goes out
  // in one piece, which the output writes straight to its descriptor when
  // it is big.
  void Put_Rows(std::size_t first, std::size_t count, std::span<const double> values) override {
    if (layout_ != Layout::NPY || first != next_ || values.size() != count * taxa_ || next_ + count > taxa_) {
      Matrix_Writer::Put_Rows(first, count, values);
      return;
    }
    next_ += count;
    out_.Put(std::string_view(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(double)));
  }

  void Finish() override {
    if (next_ != taxa_)
      throw Errors::Constraint_Error("index check failed: " + std::to_string(next_) + " rows of " +
                                     std::to_string(taxa_) + " written");
  }

private:
  Text_IO::Text_Output& out_;
  std::size_t taxa_;
  Layout layout_;
  std::size_t next_ = 0;
};

} // namespace

void Matrix_Writer::Put_Rows(std::size_t first, std::size_t count, std::span<const double> values) {
  if (count == 0) return;
  const std::size_t length = values.size() / count;
  if (length * count != values.size())
    throw Errors::Constraint_Error("index check failed: " + std::to_string(values.size()) +
                                   " distances are not " + std::to_string(count) + " rows");
  for (std::size_t k = 0; k < count; ++k) Put_Row(first + k, values.subspan(k * length, length));
}

std::string Npy_Header(std::size_t taxa, Layout layout) {
  Check_Npy(layout);
  const std::string n = std::to_string(taxa);
  const std::string shape = layout == Layout::NPY_CONDENSED
                                ? "(" + std::to_string(Values_Before(taxa, layout, taxa)) + ",)"
                                : "(" + n + ", " + n + ")";
  std::string dict = "{'descr': '<f8', 'fortran_order': False, 'shape': " + shape + ", }";
  // Spaces, then a line feed, up to the alignment; the length field counts
  // everything after itself.
  const std::size_t unpadded = Npy_Magic.size() + 2 + dict.size() + 1;
  dict.append((Npy_Alignment - unpadded % Npy_Alignment) % Npy_Alignment, ' ');
  dict.push_back('\n');
  const std::size_t length = dict.size();
  std::string header(Npy_Magic);
  header.push_back(static_cast<char>(length & 0xFF));
  header.push_back(static_cast<char>(length >> 8));
  return header + dict;
}

Byte_Range Npy_Rows(std::size_t taxa, Layout layout, std::size_t first, std::size_t past) {
  Check_Npy(layout);
  if (first > past || past > taxa)
    throw Errors::Constraint_Error("index check failed: rows " + std::to_string(first) + " .. " +
                                   std::to_string(past) + " (past the last) of " + std::to_string(taxa));
  const std::uint64_t header = Npy_Header(taxa, layout).size();
  const std::uint64_t start = Values_Before(taxa, layout, first), end = Values_Before(taxa, layout, past);
  return {header + start * sizeof(double), (end - start) * sizeof(double)};
}

std::unique_ptr<Matrix_Writer> Npy_Writer(Text_IO::Text_Output& out, std::size_t taxa, Layout layout) {
  Check_Npy(layout);
  return std::make_unique<Npy>(out, taxa, layout);
}

void Put_Labels(Text_IO::Text_Output& out, const Taxon_Labels& labels) {
  // One label a line: a line feed or other control in a label is '_'.
  for (const std::string& label : labels) {
    for (const char c : label) out.Put(Karvel::Utf8::Is_Control(static_cast<unsigned char>(c)) ? '_' : c);
    out.New_Line();
  }
}

// The names are the table's, which are null-terminated literals.
const char* Name(Layout layout) { return Print::Layout_Row(layout).Name.data(); }

std::unique_ptr<Matrix_Writer> Npy_Open(const Target& target, const Taxon_Labels& labels, Layout layout) {
  return Npy_Writer(*target.Text, labels.size(), layout);
}

} // namespace Karvel::Phylo::Binary_Output
