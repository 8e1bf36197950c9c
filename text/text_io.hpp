#pragma once
// Byte-stream text input and output over large buffers. Input is a sequence
// of 8-bit characters with the line feed as the only line terminator; a
// carriage return is an ordinary character here (the reader decides where it
// counts as a blank). Input read from a descriptor that starts with the magic
// bytes of gzip, bzip2, xz or zstd is decompressed a window at a time as it is
// read: readers only ever see the text, and memory follows the windows they
// ask for, not the size of the text.

#include <cstddef>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "threads/progress.hpp"

namespace Karvel::Text_IO {

class Decoder;

class Text_Input {
public:
  // Reads from an open descriptor; closes it at the end when owned. At the
  // first look its first bytes say whether it is compressed: gzip, bzip2,
  // xz and zstd are decompressed as the text is read (also concatenated
  // members, as `cat a.gz b.gz` makes); a damaged stream is a Data_Error
  // naming the format and the place. A zip archive, UTF-16 text and a
  // compression this build has no library for are Data_Errors that say so.
  Text_Input(int fd, bool owned);
  // Reads from a copy of text held in memory.
  explicit Text_Input(std::string_view text);
  // Reads the text where it is, which must stay there while it is read.
  struct Borrowed {};
  Text_Input(std::string_view text, Borrowed);
  ~Text_Input();
  Text_Input(const Text_Input&) = delete;
  Text_Input& operator=(const Text_Input&) = delete;

  // Opens a file by name: Name_Error when it cannot be opened, Use_Error
  // when it is a directory; their messages are "'NAME': " and the system's
  // words for the cause.
  static std::unique_ptr<Text_Input> Open(const std::string& name);
  // Standard input, left open at the end.
  static std::unique_ptr<Text_Input> Standard_Input();

  // What warnings call the input: the name it was opened by, "standard
  // input", or nothing for text in memory.
  const std::string& Name() const { return name_; }

  // The byte `ahead` positions after the cursor (0..255), or -1 past the end.
  int Peek(std::size_t ahead = 0) {
    if (pos_ + ahead < end_) return static_cast<unsigned char>(data_[pos_ + ahead]);
    return Peek_Slow(ahead);
  }
  // Consumes one byte and returns it, or -1 at the end of input.
  int Get() {
    int c = Peek();
    if (c >= 0) {
      ++pos_;
      if (c == '\n') New_Line_Before(pos_);
    }
    return c;
  }
  // Consumes `count` bytes that are known to be there (seen through Peek or
  // Window).
  void Advance(std::size_t count);

  // Makes at least min(want, bytes left) bytes visible and returns them.
  std::string_view Window(std::size_t want);

  // Skips line feeds, then consumes one character: End_Error at the end.
  char Next_Character();
  // True when the next byte is a line feed or the input is exhausted.
  bool At_End_Of_Line() {
    int c = Peek();
    return c < 0 || c == '\n';
  }
  // Consumes up to and including the next line feed, or to the end.
  void Skip_Line();
  // True when nothing but spaces, tabs, carriage returns, line feeds and form
  // feeds remains; consumes nothing.
  bool At_End_Of_Input();

  // How many bytes are still to come, when that is known without reading
  // them (text in memory, a regular file); nothing for pipes and terminals.
  // Readers use it to size their storage before the data arrive.
  std::optional<std::size_t> Known_Bytes_Left();
  // Known_Bytes_Left where known; for compressed input the size of the text
  // still to come as far as its container tells (gzip's trailer, zstd's
  // frame header), which may be wrong: storage is sized by it, never the
  // end of the text decided.
  std::optional<std::size_t> Expected_Bytes_Left();
  // True when reading ahead never waits for input that may be slow to come:
  // text in memory, a regular file, compressed or not.
  bool Reads_Ahead();
  // Bytes of text consumed so far.
  std::size_t Offset() const { return base_ + pos_; }

  // A damaged compressed stream ends its text where the damage starts, and
  // the damage is raised where it matters: at the end of the input, and for
  // a reader that stops (failing, or at the end of a matrix whose last value
  // may have been cut) within 64 kB of it. What comes before it reads the
  // same however far ahead the text was decompressed, so every thread count
  // gives the same matrices before the same error.
  void Raise_Damage_Near_End();

  // Number of the line that holds the next byte, counted from 1.
  long Line() const { return line_; }
  // Its column: bytes from the start of that line, counted from 1 (a
  // multi-byte character takes several columns, as in most editors' byte
  // counts and in the layouts that count label characters).
  long Column() const { return static_cast<long>(base_ + pos_ - line_start_) + 1; }

  // Passes over a UTF-8 byte-order mark (EF BB BF) when the cursor is at the
  // very start of the input; spreadsheets put one before the text. It does
  // not count as columns of the first line.
  void Skip_Byte_Order_Mark();

  // The first bytes of the input (up to Head_Size), as far as they have been
  // read: messages look at them to tell what kind of file this is.
  static constexpr std::size_t Head_Size = 4096;
  std::string_view Head() const;

  // The stage that counts the bytes read from now on (null: none).
  void Count_Bytes_In(Generic::Progress::Stage* stage) { progress_ = stage; }

private:
  int Peek_Slow(std::size_t ahead);
  // Line bookkeeping when a line feed ends just before data_[at].
  void New_Line_Before(std::size_t at) {
    ++line_;
    line_start_ = base_ + at;
  }
  // Reads more so that at least `want` bytes follow the cursor, unless the
  // input ends first. Returns the number of bytes after the cursor.
  std::size_t Fill(std::size_t want);
  // Looks at the first bytes of a descriptor's input: starts a decompressor
  // when they are a compression's magic, refuses what is not text.
  void Sniff();
  // Bytes from the source (the descriptor or the decompressor) at `out`:
  // 0 only at the end.
  std::size_t Read_Source(char* out, std::size_t room);
  // The number of the line that the end of the buffered text is on.
  long Line_Of_End() const;

  int fd_ = -1;
  bool sniffed_ = false;
  bool owned_ = false;
  bool eof_ = false;
  std::vector<char> buf_;
  const char* data_ = nullptr; // the text: buf_'s, or borrowed
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  long line_ = 1;
  // Offsets from the start of the input: of data_[0] (the buffer moves as
  // it is refilled), and of the first byte of the cursor's line.
  std::size_t base_ = 0;
  std::size_t line_start_ = 0;
  // The first bytes, kept when the buffer is about to drop them.
  std::string head_;
  std::string name_;
  Generic::Progress::Stage* progress_ = nullptr;
  std::unique_ptr<Decoder> decoder_; // null: the text is read as it is
  std::exception_ptr damage_;        // what ended a compressed text early
};

class Text_Output {
public:
  // Writes to a descriptor (not closed at the end); a write error names
  // the file when `name` is given, else "the output".
  explicit Text_Output(int fd, std::string name = {});
  // Appends to a string (for tests and for per-thread pieces of output).
  explicit Text_Output(std::string* sink);
  // Writes what is left; errors are lost here, so callers Flush first.
  ~Text_Output();
  Text_Output(const Text_Output&) = delete;
  Text_Output& operator=(const Text_Output&) = delete;

  void Put(char c) {
    if (used_ == buf_.size()) Drain();
    buf_[used_++] = c;
  }
  void Put(std::string_view text);
  void Put_Spaces(std::size_t count);
  void New_Line() { Put('\n'); }

  // Room for `count` bytes written directly into the buffer; Commit says how
  // many of them were used.
  char* Reserve(std::size_t count) {
    if (buf_.size() - used_ < count) Make_Room(count);
    return buf_.data() + used_;
  }
  void Commit(std::size_t count) { used_ += count; }

  // Hands everything to the descriptor or the string: Device_Error when the
  // descriptor cannot be written.
  void Flush();

private:
  void Drain();
  void Make_Room(std::size_t count);
  void Write_All(const char* data, std::size_t count);

  int fd_ = -1;
  std::string name_;
  std::string* sink_ = nullptr;
  std::vector<char> buf_;
  std::size_t used_ = 0;
};

// Why a write failed, for a message: the system's words, and for EFBIG
// which limit was met (under `ulimit -f` the run is not killed but told).
std::string Write_Failure(int error);

} // namespace Karvel::Text_IO
