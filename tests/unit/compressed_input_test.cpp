// Compressed input: each compression this build reads gives the text it
// holds, in one stream or several, on one thread or three; a damaged or cut
// stream is a format error naming the compression and the place; what is not
// text (zip, UTF-16) is refused by name.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <unistd.h>
#include <zlib.h>
#ifdef KARVEL_HAVE_BZIP2
#include <bzlib.h>
#endif
#ifdef KARVEL_HAVE_LZMA
#include <lzma.h>
#endif
#ifdef KARVEL_HAVE_ZSTD
#include <zstd.h>
#endif

#include "diagnostics/errors.hpp"
#include "text/text_io.hpp"
#include "read/read.hpp"
#include "tests/unit/test_support.hpp"

using namespace Karvel;

namespace {

using Phylo::Read::Input_Format;
using Text_IO::Text_Input;

std::string Gzip(const std::string& text) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, text.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

#ifdef KARVEL_HAVE_BZIP2
std::string Bzip2(const std::string& text) {
  std::string out(text.size() + text.size() / 100 + 600, '\0');
  auto size = static_cast<unsigned int>(out.size());
  BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(text.data()), static_cast<unsigned int>(text.size()),
                           1, 0, 0);
  out.resize(size);
  return out;
}
#endif

#ifdef KARVEL_HAVE_LZMA
std::string Xz(const std::string& text) {
  std::string out(lzma_stream_buffer_bound(text.size()), '\0');
  std::size_t size = 0;
  lzma_easy_buffer_encode(1, LZMA_CHECK_CRC64, nullptr, reinterpret_cast<const std::uint8_t*>(text.data()),
                          text.size(), reinterpret_cast<std::uint8_t*>(out.data()), &size, out.size());
  out.resize(size);
  return out;
}
#endif

#ifdef KARVEL_HAVE_ZSTD
std::string Zstd(const std::string& text) {
  std::string out(ZSTD_compressBound(text.size()), '\0');
  out.resize(ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3));
  return out;
}
#endif

struct Compression {
  const char* name;
  std::function<std::string(const std::string&)> compress; // empty: not in this build
};

const Compression Compressions[] = {
    {"gzip", Gzip},
#ifdef KARVEL_HAVE_BZIP2
    {"bzip2", Bzip2},
#else
    {"bzip2", {}},
#endif
#ifdef KARVEL_HAVE_LZMA
    {"xz", Xz},
#else
    {"xz", {}},
#endif
#ifdef KARVEL_HAVE_ZSTD
    {"zstd", Zstd},
#else
    {"zstd", {}},
#endif
};

// Input through a descriptor, as files and pipes come: an unlinked file.
std::unique_ptr<Text_Input> Input_Of(const std::string& bytes) {
  char path[] = "/tmp/karvel_compressed_XXXXXX";
  const int fd = ::mkstemp(path);
  ::unlink(path);
  EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::lseek(fd, 0, SEEK_SET);
  return std::make_unique<Text_Input>(fd, true);
}

// The labels and values of the one matrix, or the error.
std::string Read(const std::string& bytes) {
  try {
    auto in = Input_Of(bytes);
    const auto data = Phylo::Read::Get(*in, Input_Format::EXTENDED_PHYLIP);
    std::string out;
    for (int t = 0; t < data->Taxa(); ++t) {
      out += data->Labels[static_cast<std::size_t>(t)];
      for (double v : data->Matrix.Row(t)) out += " " + std::to_string(v);
      out += "\n";
    }
    return out;
  } catch (const Errors::Error& e) {
    return std::string(e.Name()) + ": " + e.what();
  }
}

// A matrix of `taxa` rows of 60 values, one row a line: several windows of
// the parallel reader when big.
std::string Matrix(int taxa) {
  std::string text = std::to_string(taxa) + " 60\n";
  for (int t = 0; t < taxa; ++t) {
    text += "t" + std::to_string(t);
    for (int c = 0; c < 60; ++c) text += " " + std::to_string((t * 7 + c * 13) % 101) + ".25";
    text += "\n";
  }
  return text;
}

} // namespace

TEST(CompressedInput, EachCompressionReadsItsText) {
  Test_Support::Settings_Scope settings;
  const std::string small = Matrix(3);
  const std::string big = Matrix(30000); // about 10 MB of text: two windows of the parallel reader
  settings.Threads(1);
  const std::string want_small = Read(small), want_big = Read(big);
  for (const Compression& c : Compressions) {
    SCOPED_TRACE(c.name);
    if (!c.compress) {
      // The refusal names the format and what the build lacks.
      const std::string magic = std::string(c.name) == "bzip2" ? "BZh9" : std::string(c.name) == "xz" ? "\xfd" "7zXZ" : "\x28\xb5\x2f\xfd";
      EXPECT_EQ(Read(magic + "rest").find("DATA_ERROR: " + std::string(c.name) +
                                          "-compressed input, which this karvel was built without"),
                0u);
      continue;
    }
    // Streams one after another, cut inside a line, read as one text.
    EXPECT_EQ(Read(c.compress(small.substr(0, 30)) + c.compress(small.substr(30))), want_small);
    // (Compressed once: compressing ten megabytes is most of this test's time.)
    const std::string big_compressed = c.compress(big);
    for (int threads : {1, 3}) {
      settings.Threads(threads);
      EXPECT_TRUE(Read(big_compressed) == want_big) << threads << " threads";
    }
    // Damage in the middle, or a cut, is a format error with a place.
    // (Damage the decoder lets through as text would be the parser's to
    // find: a window is decoded before its text is parsed.)
    std::string damaged = c.compress(small);
    for (std::size_t k = damaged.size() / 3; k < damaged.size() * 2 / 3; ++k) damaged[k] = static_cast<char>(~damaged[k]);
    const std::string error = Read(damaged);
    EXPECT_EQ(error.find("DATA_ERROR: not a valid " + std::string(c.name) + " stream: "), 0u) << error;
    EXPECT_NE(error.find(" of the compressed input, in line "), std::string::npos) << error;
    const std::string cut = c.compress(small);
    EXPECT_EQ(Read(cut.substr(0, cut.size() - 5)).rfind(
              "DATA_ERROR: not a valid " + std::string(c.name) +
                  " stream: the compressed data end too early (after byte " + std::to_string(cut.size() - 5) +
                  " of the compressed input, in line ", 0),
              0u)
              << "the line is as far as the text came out";
  }
}

// The text of a compressed input is there a window at a time: its size is
// not known ahead, the reader never waits on a file for it, and the first
// bytes are the text's.
TEST(CompressedInput, WindowsOfTheText) {
  const std::string text = Matrix(20000);
  auto in = Input_Of(Gzip(text));
  EXPECT_EQ(in->Known_Bytes_Left(), std::nullopt);
  EXPECT_EQ(in->Expected_Bytes_Left(), text.size());
  EXPECT_TRUE(in->Reads_Ahead());
  std::size_t lines = 0;
  while (in->Peek() >= 0) {
    in->Skip_Line();
    ++lines;
  }
  EXPECT_EQ(lines, 20001u);
  EXPECT_EQ(in->Offset(), text.size());
  EXPECT_EQ(in->Head(), std::string_view(text).substr(0, Text_Input::Head_Size));
}

// Only the first bytes decide, and a start shorter than any magic is text.
TEST(CompressedInput, WhatIsNotTextIsRefusedByName) {
  EXPECT_EQ(Read("\x1f"), "DATA_ERROR: 1:1: expected the number of taxa, found a byte with code 31");
  EXPECT_EQ(Read("BZ").substr(0, 12), "DATA_ERROR: ");
  EXPECT_EQ(Read("BZ").find("compressed"), std::string::npos);
  const std::string zip("PK\x03\x04\x14\0\0\0", 8);
  EXPECT_EQ(Read(zip), "DATA_ERROR: a zip archive, not text: unpack it first (unzip FILE) and read the file inside");
  const std::string utf16("\xff\xfe" "2\0 \0" "2\0", 8);
  for (const std::string& bytes : {utf16, Gzip(utf16), std::string("\xfe\xff\0" "2", 4)}) {
    const std::string error = Read(bytes);
    EXPECT_EQ(error.find("DATA_ERROR: UTF-16 text ("), 0u) << error;
    EXPECT_NE(error.find("save it as UTF-8"), std::string::npos) << error;
  }
  // Text in memory is taken as it is.
  Text_Input in(zip);
  EXPECT_EQ(in.Get(), 'P');
}
