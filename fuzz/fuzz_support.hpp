#pragma once
// What the fuzz targets share: how an input is cut into its option line and
// its text, and how a finding is reported.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "diagnostics/errors.hpp"

namespace Karvel::Fuzz {

// The inputs of the reader and pipeline targets are an option line, a line
// feed, then the text karvel reads: seeds stay readable and a matrix file is
// a good seed after one line of letters. An input without a line feed has
// only options.
struct Options_And_Text {
  std::string_view options;
  std::string_view text;
};

inline Options_And_Text Split(const std::uint8_t* data, std::size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const std::size_t end = all.find('\n');
  if (end == std::string_view::npos) return {all, {}};
  return {all.substr(0, end), all.substr(end + 1)};
}

// A text in a buffer of exactly its size, so that AddressSanitizer sees a
// read past its end.
class Exact_Copy {
public:
  explicit Exact_Copy(std::string_view text) : size_(text.size()), data_(new char[text.size()]) {
    if (size_ > 0) __builtin_memcpy(data_, text.data(), size_);
  }
  ~Exact_Copy() { delete[] data_; }
  Exact_Copy(const Exact_Copy&) = delete;
  Exact_Copy& operator=(const Exact_Copy&) = delete;
  std::string_view View() const { return {data_, size_}; }

private:
  std::size_t size_;
  char* data_;
};

// An error as the driver would print it, for comparing outcomes.
inline std::string Describe(const Errors::Error& e) { return std::string(e.Name()) + ": " + e.what(); }

// Two outcomes that should be the same are not: shows where they part and
// aborts, which the fuzzer records as a finding.
[[noreturn]] inline void Differ(const char* what, const std::string& want, const std::string& got) {
  std::size_t at = 0;
  while (at < want.size() && at < got.size() && want[at] == got[at]) ++at;
  const std::size_t from = at < 200 ? 0 : at - 200;
  std::fprintf(stderr, "%s: the outcomes part at byte %zu (sizes %zu and %zu)\n-- expected from byte %zu:\n%s\n"
                       "-- got:\n%s\n",
               what, at, want.size(), got.size(), from, want.substr(from, 400).c_str(),
               got.substr(from, 400).c_str());
  std::abort();
}

} // namespace Karvel::Fuzz
