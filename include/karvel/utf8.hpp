#pragma once
// UTF-8 as karvel's messages and labels need it: where a character starts
// and ends, and text made safe to print on a terminal. Self-contained: this
// is one of the installed headers, and errors.hpp builds on it.

#include <cstddef>
#include <string>
#include <string_view>

namespace Karvel::Utf8 {

// The length of the well-formed UTF-8 character that starts at text[at], or
// 0 when the bytes there are not one: a stray byte of another encoding, a
// character cut short, an overlong form or a surrogate, all of which strict
// decoders (Python's, HDF5 readers') refuse.
inline std::size_t Length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
  const unsigned char c = byte(0);
  if (c < 0x80) return 1;
  const std::size_t length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (length == 0 || length > text.size() - at) return 0;
  // The second byte's range excludes the overlong forms, the surrogates and
  // the code points past U+10FFFF.
  const unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
  const unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k)
    if ((byte(k) & 0xC0) != 0x80) return 0;
  return length;
}

// The ASCII controls, and DEL.
inline bool Is_Control(unsigned char c) { return c < 0x20 || c == 0x7F; }

// Where the first byte that is not part of a well-formed character is, or
// npos when the whole text is UTF-8.
inline std::size_t First_Invalid(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Length(text, at);
    if (length == 0) return at;
    at += length;
  }
  return std::string_view::npos;
}

// The number of bytes, at most `most`, that keep whole characters: a cut
// there never ends inside a well-formed character. Bytes that are not UTF-8
// count as characters of one byte.
inline std::size_t Cut(std::string_view text, std::size_t most) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t length = Length(text, at);
    const std::size_t step = length == 0 ? 1 : length;
    if (at + step > most) break;
    at += step;
  }
  return at;
}

// A byte as \xHH.
inline std::string Code_Of(unsigned char c) {
  constexpr char Hex[] = "0123456789ABCDEF";
  return {'\\', 'x', Hex[c >> 4], Hex[c & 15]};
}

// The text as a terminal may show it: controls (the C0 set, DEL, and the C1
// set U+0080..U+009F, which some terminals also obey) and bytes that are
// not UTF-8 become \xHH, each byte of them; a NUL does so too, so the text
// survives a trip through a C string. Text shown once shows the same again.
inline std::string Shown(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const auto c = static_cast<unsigned char>(text[at]);
    const std::size_t length = Length(text, at);
    const bool c1 = length == 2 && c == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0;
    if (length == 0 || Is_Control(c) || c1) {
      const std::size_t bytes = c1 ? 2 : 1;
      for (std::size_t k = 0; k < bytes; ++k) out += Code_Of(static_cast<unsigned char>(text[at + k]));
      at += bytes;
      continue;
    }
    out.append(text.substr(at, length));
    at += length;
  }
  return out;
}

// The text read as ISO 8859-1 (Latin-1), in UTF-8: every byte is the code
// point of its value.
inline std::string From_Latin1(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

} // namespace Karvel::Utf8
