// The reader on several threads against the reader on one: for any text,
// the same matrices (labels, values bit for bit, where the next matrix
// starts) or the same error.
//
// Input: an option line, then the text. Option letters: 1 PHYLIP, 3
// commented PHYLIP, i and I interleaved PHYLIP (ten-column and one-word
// labels), a comma CSV, a tab TSV, ; the CSV2 of decimal commas (else
// extended PHYLIP); D or B reads discrete characters (else real numbers);
// u reads a table without labels, as --labels=none, and c a TSV's decimal
// commas, as --decimal=comma; L takes the labels as Latin-1, as
// --encoding=latin-1 does. z hands the text, as it is, to the reader through a
// descriptor, as files come: compressed text (gzip, bzip2, xz, zstd) is
// decompressed there, and a zip archive or UTF-16 is refused. Every message
// must be safe to print as it is. Threads only read text of a quarter megabyte and
// more, so the record lines of the text (all after its first line) are
// repeated until it is that long, with the number of taxa in
// the header multiplied to match. A NUL byte in the text ends it; two bytes
// after the NUL say where, as a fraction of the long text, the bytes after
// them are put: damage in one place rather than in every copy.

#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>

#include "fuzz/fuzz_support.hpp"
#include "threads/parallel.hpp"
#include "read/read.hpp"
#include "karvel/utf8.hpp"

using namespace Karvel;

namespace {

using Phylo::Read::Input_Format;
using Text_IO::Text_Input;

// Comfortably above the size from which the reader uses threads.
constexpr std::size_t Long_Text = std::size_t{300} << 10;

// The text with its record lines repeated up to Long_Text bytes and the
// header's number of taxa multiplied by the number of copies.
std::string Lengthen(std::string_view text) {
  const std::size_t header_end = text.find('\n');
  if (header_end == std::string_view::npos || header_end + 1 == text.size()) return std::string(text);
  const std::string_view header = text.substr(0, header_end + 1);
  const std::string_view records = text.substr(header_end + 1);
  const std::size_t copies = (Long_Text + records.size() - 1) / records.size();

  std::string result;
  result.reserve(header.size() + 12 + copies * records.size());
  std::size_t digits = 0;
  while (digits < header.size() && (header[digits] == ' ' || header[digits] == '\t')) ++digits;
  const std::size_t first_digit = digits;
  long long taxa = 0;
  const auto [end, ec] = std::from_chars(header.data() + first_digit, header.data() + header.size(), taxa);
  if (ec == std::errc() && taxa > 0 && taxa <= INT32_MAX / static_cast<long long>(copies) &&
      header[first_digit] != '-') {
    result.append(header.substr(0, first_digit));
    result += std::to_string(taxa * static_cast<long long>(copies));
    result.append(end, header.data() + header.size());
  } else {
    result.append(header);
  }
  for (std::size_t k = 0; k < copies; ++k) result.append(records);
  return result;
}

std::string Label_Of(const std::string& label, bool latin1) {
  return latin1 ? Karvel::Utf8::From_Latin1(label) : label;
}

// All the reader makes of a text, matrix after matrix, or the error it ends
// with: labels, values by their bits, and after each matrix the line and
// the byte where the reader stands.

std::string Read_All(std::string_view text, Input_Format format, Phylo::Read::Table_Options table, bool discrete,
                     bool descriptor, bool latin1) {
  std::unique_ptr<Text_Input> input;
  if (descriptor) {
    const int fd = ::memfd_create("karvel-fuzz", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
        ::lseek(fd, 0, SEEK_SET) != 0)
      __builtin_trap();
    input = std::make_unique<Text_Input>(fd, true);
  } else {
    input = std::make_unique<Text_Input>(text, Text_Input::Borrowed{});
  }
  Text_Input& in = *input;
  std::string out;
  char buf[32];
  try {
    while (!in.At_End_Of_Input()) {
      if (discrete) {
        const auto data = Phylo::Read::Get(in, format, Phylo::Read::Whitespace(), table);
        for (int t = 0; t < data->Taxa(); ++t) {
          const auto row = data->Matrix.Row(t);
          out += Label_Of(data->Labels[static_cast<std::size_t>(t)], latin1) + "|";
          out.append(row.begin(), row.end());
          out += '\n';
        }
      } else {
        const auto data = Phylo::Read::Get(in, format, table);
        for (int t = 0; t < data->Taxa(); ++t) {
          out += Label_Of(data->Labels[static_cast<std::size_t>(t)], latin1) + "|";
          for (double v : data->Matrix.Row(t)) {
            out.append(buf, std::to_chars(buf, buf + sizeof buf, std::bit_cast<std::uint64_t>(v), 16).ptr);
            out += ' ';
          }
          out += '\n';
        }
      }
      // Where the next matrix starts: by the bytes consumed, which compressed
      // text knows however far it has been decompressed ahead.
      out += "-- line " + std::to_string(in.Line()) + ", byte " + std::to_string(in.Offset()) + "\n";
    }
  } catch (const Errors::Error& e) {
    if (const std::string shown = Karvel::Utf8::Shown(e.what()); shown != e.what())
      Fuzz::Differ("a message safe to print", shown, e.what());
    out += Fuzz::Describe(e) + "\n";
  }
  return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto [options, input] = Fuzz::Split(data, size);
  Input_Format format = Input_Format::EXTENDED_PHYLIP;
  bool discrete = false;
  Phylo::Read::Table_Options table;
  bool descriptor = false;
  bool latin1 = false;
  for (char c : options) {
    if (c == 'z') descriptor = true;
    if (c == 'L') latin1 = true;
    if (c == '1') format = Input_Format::PHYLIP;
    if (c == '3') format = Input_Format::COMMENTED_PHYLIP;
    if (c == 'i') format = Input_Format::PHYLIP_INTERLEAVED;
    if (c == 'I') format = Input_Format::EXTENDED_INTERLEAVED;
    if (c == 'n') format = Input_Format::NEXUS;
    if (c == 'f') format = Input_Format::FASTA;
    if (c == ',') format = Input_Format::CSV;
    if (c == '\t') format = Input_Format::TSV;
    if (c == ';') format = Input_Format::CSV2;
    if (c == 'u') table.labels = false;
    if (c == 'c') table.decimal_comma = true;
    if (c == 'D' || c == 'B') discrete = true;
  }

  const std::size_t nul = descriptor ? std::string_view::npos : input.find('\0');
  std::string text = descriptor ? std::string(input) : Lengthen(input.substr(0, nul));
  if (nul != std::string_view::npos && input.size() - nul >= 3) {
    const auto where = static_cast<std::size_t>(static_cast<unsigned char>(input[nul + 1]) << 8 |
                                                static_cast<unsigned char>(input[nul + 2]));
    text.insert(text.size() * where >> 16, input.substr(nul + 3));
  }
  const Fuzz::Exact_Copy copy(text);

  const int threads = 2 + static_cast<int>(size % 6);
  Generic::Parallel::Set_Threads(1);
  const std::string want = Read_All(copy.View(), format, table, discrete, descriptor, latin1);
  Generic::Parallel::Set_Threads(threads);
  const std::string got = Read_All(copy.View(), format, table, discrete, descriptor, latin1);
  if (got != want) Fuzz::Differ(("one thread against " + std::to_string(threads)).c_str(), want, got);
  return 0;
}
