#include "text/text_io.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>
#include <zlib.h>
#ifdef KARVEL_HAVE_BZIP2
#include <bzlib.h>
#endif
#ifdef KARVEL_HAVE_LZMA
#include <lzma.h>
#endif
#ifdef KARVEL_HAVE_ZSTD
#include <zstd.h>
#include <zstd_errors.h>
#endif

#include "diagnostics/errors.hpp"

namespace Karvel::Text_IO {

namespace {
constexpr std::size_t Input_Block = 1 << 20;
constexpr std::size_t Output_Block = 1 << 20;
// Compressed bytes read from the descriptor at a time.
constexpr std::size_t Compressed_Block = std::size_t{1} << 18;
// Text decoded at a time.
constexpr std::size_t Text_Piece = std::size_t{1} << 18;

// What a compressed stream's decoder found wrong; the input adds the place.
struct Damage {
  std::string why;
};
constexpr const char* Too_Early = "the compressed data end too early";

// The compressions and the containers that are not text, by their first
// bytes.
enum class Format { GZIP, BZIP2, XZ, ZSTD };
struct Magic {
  std::string_view bytes;
  Format format;
};
constexpr Magic Magics[] = {
    {"\x1f\x8b", Format::GZIP},
    {"BZh", Format::BZIP2},
    {"\xfd" "7zXZ\0", Format::XZ},
    {"\x28\xb5\x2f\xfd", Format::ZSTD},
};
constexpr std::string_view Refused_Starts[] = {"PK\x03\x04", "PK\x05\x06", "PK\x07\x08", "\xff\xfe", "\xfe\xff"};

const char* Name_Of(Format format) {
  switch (format) {
  case Format::GZIP:
    return "gzip";
  case Format::BZIP2:
    return "bzip2";
  case Format::XZ:
    return "xz";
  case Format::ZSTD:
    return "zstd";
  }
  return "";
}

enum class Kind { UNDECIDED, TEXT, COMPRESSED, REFUSED };

// Whether `start`, the first bytes of an input (all of it when `ended`),
// begins with one of the magics; UNDECIDED while it is a shorter part of one.
// bzip2's magic ends in the block size, a digit from 1 to 9.
Kind Kind_Of(std::string_view start, bool ended) {
  bool partial = false;
  auto match = [&](std::string_view magic) {
    if (start.size() < magic.size()) {
      partial = partial || magic.substr(0, start.size()) == start;
      return false;
    }
    return start.substr(0, magic.size()) == magic;
  };
  for (const Magic& m : Magics)
    if (match(m.bytes)) {
      if (m.format != Format::BZIP2) return Kind::COMPRESSED;
      if (start.size() < 4) {
        partial = true;
        continue;
      }
      if (start[3] >= '1' && start[3] <= '9') return Kind::COMPRESSED;
    }
  for (std::string_view s : Refused_Starts)
    if (match(s)) return Kind::REFUSED;
  return partial && !ended ? Kind::UNDECIDED : Kind::TEXT;
}

// Why an input that is not text is refused, and what to do about it.
std::string Refusal(std::string_view start) {
  if (start.substr(0, 2) == "PK")
    return "a zip archive, not text: unpack it first (unzip FILE) and read the file inside";
  const bool little = start.substr(0, 2) == "\xff\xfe";
  return std::string("UTF-16 text (") + (little ? "little" : "big") + "-endian, byte-order mark " +
         (little ? "FF FE" : "FE FF") +
         "), which karvel does not read: save it as UTF-8 (a spreadsheet's \"CSV UTF-8\" or \"Text\", not "
         "\"Unicode text\"), or convert it with iconv -f UTF-16 -t UTF-8";
}

} // namespace

// Turns the compressed bytes of a descriptor into text, a piece at a time.
// A damaged stream is a Damage; running out of memory a Storage_Error.
class Decoder {
public:
  Decoder(int fd, std::string_view start, Format format)
      : fd_(fd), format_(format), in_(std::max(Compressed_Block, start.size())) {
    std::memcpy(in_.data(), start.data(), start.size());
    end_ = start.size();
  }
  virtual ~Decoder() = default;
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // Writes up to `room` (at least 1) bytes of text at `out` and returns how
  // many: 0 only at the end of the text. Damage found after some text came
  // out in the same call is raised at the next one: the text before it is
  // then the same however much room each call had.
  // The decoder always works on pieces of one size, whatever `room` is:
  // some libraries find damage sooner or later by the room they are given.
  std::size_t Read(char* out, std::size_t room) {
    if (text_used_ == text_end_) {
      if (damage_) throw *damage_;
      if (text_.empty()) text_.resize(Text_Piece);
      produced_ = 0;
      text_used_ = 0;
      try {
        text_end_ = Decode(text_.data(), text_.size());
      } catch (Damage& damage) {
        if (produced_ == 0) throw;
        damage_ = std::move(damage);
        text_end_ = produced_;
      }
    }
    const std::size_t count = std::min(room, text_end_ - text_used_);
    std::memcpy(out, text_.data() + text_used_, count);
    text_used_ += count;
    return count;
  }
  // The size of the whole text, where the container records it.
  virtual std::optional<std::uint64_t> Expected_Text() { return std::nullopt; }

  const char* Format_Name() const { return Name_Of(format_); }
  // Compressed bytes consumed so far.
  std::uint64_t Consumed() const { return before_ + used_; }
  // Compressed bytes read from the descriptor since the last call.
  std::uint64_t Take_Read_Count() { return std::exchange(read_count_, 0); }

protected:
  // Read without the deferral of damage; sets produced_ as text comes out.
  virtual std::size_t Decode(char* out, std::size_t room) = 0;
  std::size_t produced_ = 0;

  // The compressed bytes not consumed yet, reading more when there are
  // none: empty only at the end of the input.
  std::string_view Pending() {
    if (used_ == end_ && !ended_) Refill();
    return {in_.data() + used_, end_ - used_};
  }
  void Consume(std::size_t count) { used_ += count; }
  [[noreturn]] static void Damaged(std::string why) { throw Damage{std::move(why)}; }
  static unsigned int Clamp(std::size_t count) {
    return static_cast<unsigned int>(std::min<std::size_t>(count, std::numeric_limits<unsigned int>::max()));
  }
  int fd_;

private:
  void Refill() {
    before_ += end_;
    used_ = end_ = 0;
    if (in_.size() > Compressed_Block) in_.resize(Compressed_Block);
    ssize_t got;
    do got = ::read(fd_, in_.data(), in_.size());
    while (got < 0 && errno == EINTR);
    if (got < 0) throw Errors::Device_Error(std::string("cannot read the input: ") + std::strerror(errno));
    ended_ = got == 0;
    end_ = static_cast<std::size_t>(got);
    read_count_ += end_;
  }

  Format format_;
  std::vector<char> in_;
  std::size_t used_ = 0, end_ = 0;
  std::uint64_t before_ = 0;     // bytes consumed before in_[0]
  std::uint64_t read_count_ = 0; // for the progress display
  bool ended_ = false;
  std::vector<char> text_; // decoded text not handed out yet
  std::size_t text_used_ = 0, text_end_ = 0;
  std::optional<Damage> damage_;
};

namespace {

// gzip (zlib): one member after another, as `cat a.gz b.gz` makes.
class Gzip_Decoder final : public Decoder {
public:
  Gzip_Decoder(int fd, std::string_view start) : Decoder(fd, start, Format::GZIP) {
    // 15 + 16: the largest window, gzip framing only
    if (inflateInit2(&z_, 15 + 16) != Z_OK) throw Errors::Storage_Error("cannot start decompressing the input");
  }
  ~Gzip_Decoder() override { inflateEnd(&z_); }

  std::size_t Decode(char* out, std::size_t room) override {
    while (produced_ == 0) {
      const std::string_view in = Pending();
      if (in.empty()) {
        if (inside_) Damaged(Too_Early);
        return 0;
      }
      z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
      z_.avail_in = Clamp(in.size());
      z_.next_out = reinterpret_cast<Bytef*>(out);
      z_.avail_out = Clamp(room);
      const uInt given_in = z_.avail_in, given_out = z_.avail_out;
      const int status = inflate(&z_, Z_NO_FLUSH);
      Consume(given_in - z_.avail_in);
      produced_ = given_out - z_.avail_out;
      inside_ = true;
      if (status == Z_STREAM_END) {
        // Another member may follow; nothing else may.
        if (inflateReset(&z_) != Z_OK) Damaged("cannot restart");
        inside_ = false;
      } else if (status == Z_MEM_ERROR) {
        throw Errors::Storage_Error("out of memory while decompressing the input");
      } else if (status != Z_OK && status != Z_BUF_ERROR) {
        Damaged(z_.msg ? z_.msg : "damaged data");
      }
    }
    return produced_;
  }

  // The last four bytes of a regular file give the size of its last
  // member's text (modulo 2^32), which is the whole text of the usual
  // one-member file. A damaged file's is believed only as far as deflate
  // can expand (1032 to 1).
  std::optional<std::uint64_t> Expected_Text() override {
    struct stat st;
    unsigned char trailer[4];
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 18 ||
        ::pread(fd_, trailer, 4, st.st_size - 4) != 4)
      return std::nullopt;
    const std::uint64_t size = trailer[0] | trailer[1] << 8 | trailer[2] << 16 | std::uint64_t{trailer[3]} << 24;
    return std::min<std::uint64_t>(size, 1032 * static_cast<std::uint64_t>(st.st_size));
  }

private:
  z_stream z_{};
  bool inside_ = false; // within a member
};

#ifdef KARVEL_HAVE_BZIP2
class Bzip2_Decoder final : public Decoder {
public:
  Bzip2_Decoder(int fd, std::string_view start) : Decoder(fd, start, Format::BZIP2) { Start(); }
  ~Bzip2_Decoder() override { BZ2_bzDecompressEnd(&s_); }

  std::size_t Decode(char* out, std::size_t room) override {
    while (produced_ == 0) {
      const std::string_view in = Pending();
      if (in.empty() && !inside_) return 0;
      s_.next_in = const_cast<char*>(in.data());
      s_.avail_in = Clamp(in.size());
      s_.next_out = out;
      s_.avail_out = Clamp(room);
      const unsigned int given_in = s_.avail_in, given_out = s_.avail_out;
      const int status = BZ2_bzDecompress(&s_);
      Consume(given_in - s_.avail_in);
      produced_ = given_out - s_.avail_out;
      if (status == BZ_STREAM_END) {
        // Streams may follow one another, as `cat a.bz2 b.bz2` makes.
        BZ2_bzDecompressEnd(&s_);
        Start();
        inside_ = false;
        continue;
      }
      if (status == BZ_MEM_ERROR) throw Errors::Storage_Error("out of memory while decompressing the input");
      if (status != BZ_OK) Damaged(status == BZ_DATA_ERROR_MAGIC ? "not bzip2 data" : "damaged data");
      inside_ = true;
      if (in.empty() && produced_ == 0) Damaged(Too_Early);
    }
    return produced_;
  }

private:
  void Start() {
    s_ = bz_stream{};
    if (BZ2_bzDecompressInit(&s_, 0, 0) != BZ_OK) throw Errors::Storage_Error("cannot start decompressing the input");
  }
  bz_stream s_{};
  bool inside_ = false;
};
#endif

#ifdef KARVEL_HAVE_LZMA
class Xz_Decoder final : public Decoder {
public:
  Xz_Decoder(int fd, std::string_view start) : Decoder(fd, start, Format::XZ) {
    // Concatenated streams, as `cat a.xz b.xz` makes, and their padding.
    if (lzma_stream_decoder(&s_, UINT64_MAX, LZMA_CONCATENATED) != LZMA_OK)
      throw Errors::Storage_Error("cannot start decompressing the input");
  }
  ~Xz_Decoder() override { lzma_end(&s_); }

  std::size_t Decode(char* out, std::size_t room) override {
    while (produced_ == 0 && !done_) {
      const std::string_view in = Pending();
      s_.next_in = reinterpret_cast<const std::uint8_t*>(in.data());
      s_.avail_in = in.size();
      s_.next_out = reinterpret_cast<std::uint8_t*>(out);
      s_.avail_out = room;
      const lzma_ret status = lzma_code(&s_, in.empty() ? LZMA_FINISH : LZMA_RUN);
      Consume(in.size() - s_.avail_in);
      produced_ = room - s_.avail_out;
      switch (status) {
      case LZMA_OK:
        break;
      case LZMA_STREAM_END:
        done_ = true;
        break;
      case LZMA_MEM_ERROR:
        throw Errors::Storage_Error("out of memory while decompressing the input");
      case LZMA_FORMAT_ERROR:
        Damaged("not xz data");
      case LZMA_OPTIONS_ERROR:
        Damaged("options this decoder does not know");
      case LZMA_BUF_ERROR:
        Damaged(Too_Early);
      default:
        Damaged("damaged data");
      }
    }
    return produced_;
  }

private:
  lzma_stream s_ = LZMA_STREAM_INIT;
  bool done_ = false;
};
#endif

#ifdef KARVEL_HAVE_ZSTD
class Zstd_Decoder final : public Decoder {
public:
  Zstd_Decoder(int fd, std::string_view start) : Decoder(fd, start, Format::ZSTD), d_(ZSTD_createDStream()) {
    if (!d_) throw Errors::Storage_Error("cannot start decompressing the input");
    const unsigned long long size = ZSTD_getFrameContentSize(start.data(), start.size());
    if (size != ZSTD_CONTENTSIZE_UNKNOWN && size != ZSTD_CONTENTSIZE_ERROR) expected_ = size;
  }
  ~Zstd_Decoder() override { ZSTD_freeDStream(d_); }

  std::size_t Decode(char* out, std::size_t room) override {
    while (produced_ == 0) {
      const std::string_view in = Pending();
      if (in.empty() && !inside_) return 0;
      ZSTD_inBuffer source{in.data(), in.size(), 0};
      ZSTD_outBuffer target{out, room, 0};
      // Frames may follow one another, as `cat a.zst b.zst` makes.
      const std::size_t status = ZSTD_decompressStream(d_, &target, &source);
      produced_ = target.pos;
      if (ZSTD_isError(status)) {
        if (ZSTD_getErrorCode(status) == ZSTD_error_memory_allocation)
          throw Errors::Storage_Error("out of memory while decompressing the input");
        Damaged(ZSTD_getErrorName(status));
      }
      Consume(source.pos);
      inside_ = status != 0;
      if (in.empty() && produced_ == 0) Damaged(Too_Early);
    }
    return produced_;
  }

  // The first frame's header records the size of its text, where the
  // compressor knew it (a file, not a pipe).
  std::optional<std::uint64_t> Expected_Text() override { return expected_; }

private:
  ZSTD_DStream* d_;
  std::optional<std::uint64_t> expected_;
  bool inside_ = false; // within a frame
};
#endif

std::unique_ptr<Decoder> Make_Decoder(int fd, std::string_view start) {
  Format format = Format::GZIP;
  for (const Magic& m : Magics)
    if (start.substr(0, m.bytes.size()) == m.bytes) format = m.format;
  switch (format) {
  case Format::GZIP:
    return std::make_unique<Gzip_Decoder>(fd, start);
  case Format::BZIP2:
#ifdef KARVEL_HAVE_BZIP2
    return std::make_unique<Bzip2_Decoder>(fd, start);
#else
    break;
#endif
  case Format::XZ:
#ifdef KARVEL_HAVE_LZMA
    return std::make_unique<Xz_Decoder>(fd, start);
#else
    break;
#endif
  case Format::ZSTD:
#ifdef KARVEL_HAVE_ZSTD
    return std::make_unique<Zstd_Decoder>(fd, start);
#else
    break;
#endif
  }
  const std::string name = Name_Of(format);
  throw Errors::Data_Error(name + "-compressed input, which this karvel was built without: decompress it first (" +
                           (format == Format::BZIP2 ? "bzip2" : name) + " -dc FILE | karvel ... -), or rebuild " +
                           "karvel where the " + name + " library is installed");
}

} // namespace

Text_Input::Text_Input(int fd, bool owned) : fd_(fd), owned_(owned), buf_(Input_Block), data_(buf_.data()) {}

Text_Input::Text_Input(std::string_view text)
    : eof_(true), buf_(text.begin(), text.end()), data_(buf_.data()), end_(text.size()) {}

Text_Input::Text_Input(std::string_view text, Borrowed) : eof_(true), data_(text.data()), end_(text.size()) {}

Text_Input::~Text_Input() {
  decoder_.reset();
  if (owned_ && fd_ >= 0) ::close(fd_);
}

std::unique_ptr<Text_Input> Text_Input::Open(const std::string& name) {
  int fd;
  do {
    fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0)
    throw Errors::Name_Error("'" + name + "': " + std::strerror(errno));
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw Errors::Use_Error("'" + name + "': " + std::strerror(EISDIR));
  }
  auto input = std::make_unique<Text_Input>(fd, true);
  input->name_ = name;
  return input;
}

std::unique_ptr<Text_Input> Text_Input::Standard_Input() {
  auto input = std::make_unique<Text_Input>(0, false);
  input->name_ = "standard input";
  return input;
}

std::size_t Text_Input::Read_Source(char* out, std::size_t room) {
  if (decoder_) {
    std::size_t got;
    try {
      got = decoder_->Read(out, room);
    } catch (const Damage& damage) {
      // The decoders stop reading at or just after the first byte they
      // cannot take.
      const std::uint64_t at = decoder_->Consumed();
      throw Errors::Data_Error("not a valid " + std::string(decoder_->Format_Name()) + " stream: " + damage.why +
                               (damage.why == Too_Early ? " (after byte " : " (at byte ") +
                               std::to_string(std::max<std::uint64_t>(at, 1)) +
                               " of the compressed input, in line " + std::to_string(Line_Of_End()) +
                               " of its text)");
    }
    if (progress_) progress_->Advance(decoder_->Take_Read_Count());
    return got;
  }
  for (;;) {
    const ssize_t got = ::read(fd_, out, room);
    if (got >= 0) {
      if (progress_) progress_->Advance(static_cast<std::uint64_t>(got));
      return static_cast<std::size_t>(got);
    }
    if (errno == EINTR) continue;
    if (errno == EISDIR) throw Errors::Use_Error("the input is a directory");
    throw Errors::Device_Error(std::string("cannot read the input: ") + std::strerror(errno));
  }
}

long Text_Input::Line_Of_End() const {
  long line = line_;
  for (const char *at = data_ + pos_, *const stop = data_ + end_;
       (at = static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(stop - at)))) != nullptr; ++at)
    ++line;
  return line;
}

std::size_t Text_Input::Fill(std::size_t want) {
  if (!sniffed_) Sniff();
  while (end_ - pos_ < want && !eof_) {
    if (pos_ > 0) {
      if (base_ == 0) head_.assign(data_, std::min(end_, Head_Size));
      base_ += pos_;
      std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
      end_ -= pos_;
      pos_ = 0;
    }
    if (buf_.size() - end_ < Input_Block / 2 || buf_.size() < want)
      buf_.resize(std::max(buf_.size() * 2, want + Input_Block));
    data_ = buf_.data();
    std::size_t got = 0;
    try {
      got = Read_Source(buf_.data() + end_, buf_.size() - end_);
    } catch (const Errors::Data_Error&) {
      if (!decoder_) throw;
      damage_ = std::current_exception();
    }
    if (got == 0)
      eof_ = true;
    else
      end_ += got;
  }
  return end_ - pos_;
}

void Text_Input::Sniff() {
  sniffed_ = true;
  if (fd_ < 0) return; // text in memory is taken as it is
  // Only as many bytes as it takes to tell: a terminal's first line may be
  // shorter than the longest magic.
  Kind kind;
  while ((kind = Kind_Of({data_ + pos_, end_ - pos_}, eof_)) == Kind::UNDECIDED) Fill(end_ - pos_ + 1);
  if (kind == Kind::COMPRESSED) {
    decoder_ = Make_Decoder(fd_, {data_ + pos_, end_ - pos_});
    end_ = pos_;
    eof_ = false;
    while ((kind = Kind_Of({data_ + pos_, end_ - pos_}, eof_)) == Kind::UNDECIDED) Fill(end_ - pos_ + 1);
    if (kind == Kind::COMPRESSED) return; // compressed text is taken as text: a .tar.gz.gz is not read twice
  }
  if (kind == Kind::REFUSED) throw Errors::Data_Error(Refusal({data_ + pos_, end_ - pos_}));
}

int Text_Input::Peek_Slow(std::size_t ahead) {
  if (Fill(ahead + 1) > ahead) return static_cast<unsigned char>(data_[pos_ + ahead]);
  return -1;
}

void Text_Input::Advance(std::size_t count) {
  const char* p = data_ + pos_;
  const char* stop = p + count;
  while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(stop - p))))) {
    ++p;
    New_Line_Before(static_cast<std::size_t>(p - data_));
  }
  pos_ += count;
}

std::string_view Text_Input::Window(std::size_t want) {
  if (end_ - pos_ < want) Fill(want);
  return {data_ + pos_, end_ - pos_};
}

char Text_Input::Next_Character() {
  for (;;) {
    int c = Get();
    if (c < 0) throw Errors::End_Error("the input ends on line " + std::to_string(line_));
    if (c != '\n') return static_cast<char>(c);
  }
}

void Text_Input::Skip_Line() {
  for (;;) {
    if (pos_ == end_ && Fill(1) == 0) return;
    const char* p = data_ + pos_;
    const void* nl = std::memchr(p, '\n', end_ - pos_);
    if (nl) {
      pos_ += static_cast<std::size_t>(static_cast<const char*>(nl) - p) + 1;
      New_Line_Before(pos_);
      return;
    }
    pos_ = end_;
  }
}

void Text_Input::Skip_Byte_Order_Mark() {
  if (base_ + pos_ != 0 || Peek(0) != 0xEF || Peek(1) != 0xBB || Peek(2) != 0xBF) return;
  pos_ += 3;
  line_start_ = 3;
}

std::string_view Text_Input::Head() const {
  if (base_ > 0) return head_;
  return {data_, std::min(end_, Head_Size)};
}

void Text_Input::Raise_Damage_Near_End() {
  if (!decoder_) return;
  // By where the damage is, never by how far the text was decompressed when
  // the reader stopped; damage ends the input, so once it is known all the
  // text before it is at hand.
  constexpr std::size_t Near = std::size_t{1} << 16;
  Fill(Near);
  if (damage_ && end_ - pos_ <= Near) std::rethrow_exception(damage_);
}

bool Text_Input::At_End_Of_Input() {
  for (std::size_t k = 0;; ++k) {
    switch (Peek(k)) {
    case -1:
      if (damage_) std::rethrow_exception(damage_);
      return true;
    case ' ':
    case '\t':
    case '\r':
    case '\n':
    case '\f':
      continue;
    default:
      return false;
    }
  }
}

std::optional<std::size_t> Text_Input::Known_Bytes_Left() {
  if (!sniffed_) Sniff();
  const std::size_t buffered = end_ - pos_;
  if (eof_) return buffered;
  if (decoder_) return std::nullopt;
  struct stat st;
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  const off_t offset = ::lseek(fd_, 0, SEEK_CUR);
  if (offset < 0) return std::nullopt;
  return buffered + (st.st_size > offset ? static_cast<std::size_t>(st.st_size - offset) : 0);
}

std::optional<std::size_t> Text_Input::Expected_Bytes_Left() {
  if (const std::optional<std::size_t> known = Known_Bytes_Left()) return known;
  if (!decoder_) return std::nullopt;
  const std::optional<std::uint64_t> total = decoder_->Expected_Text();
  if (!total) return std::nullopt;
  return std::max<std::uint64_t>(*total > base_ + pos_ ? *total - (base_ + pos_) : 0, end_ - pos_);
}

bool Text_Input::Reads_Ahead() {
  if (!sniffed_) Sniff();
  if (eof_ || fd_ < 0) return true;
  struct stat st;
  return ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
}

Text_Output::Text_Output(int fd, std::string name) : fd_(fd), name_(std::move(name)), buf_(Output_Block) {}

Text_Output::Text_Output(std::string* sink) : sink_(sink), buf_(1 << 16) {}

Text_Output::~Text_Output() {
  try {
    Flush();
  } catch (...) {
  }
}

void Text_Output::Put(std::string_view text) {
  // A big piece (a thread's share of a matrix) goes straight to the
  // descriptor after what is buffered: copying it first gains nothing.
  if (!sink_ && text.size() >= buf_.size() / 2) {
    Flush();
    Write_All(text.data(), text.size());
    return;
  }
  while (!text.empty()) {
    if (used_ == buf_.size()) Drain();
    std::size_t n = std::min(text.size(), buf_.size() - used_);
    std::memcpy(buf_.data() + used_, text.data(), n);
    used_ += n;
    text.remove_prefix(n);
  }
}

void Text_Output::Put_Spaces(std::size_t count) {
  while (count > 0) {
    if (used_ == buf_.size()) Drain();
    std::size_t n = std::min(count, buf_.size() - used_);
    std::memset(buf_.data() + used_, ' ', n);
    used_ += n;
    count -= n;
  }
}

void Text_Output::Make_Room(std::size_t count) {
  Drain();
  if (buf_.size() < count) buf_.resize(count);
}

void Text_Output::Drain() { Flush(); }

void Text_Output::Flush() {
  if (used_ == 0) return;
  if (sink_) {
    sink_->append(buf_.data(), used_);
    used_ = 0;
    return;
  }
  const std::size_t count = used_;
  used_ = 0; // what cannot be written is lost; do not try again at exit
  Write_All(buf_.data(), count);
}

void Text_Output::Write_All(const char* data, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    ssize_t n = ::write(fd_, data + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      throw Errors::Device_Error("cannot write " + (name_.empty() ? std::string("the output") : "'" + name_ + "'") +
                                 ": " + Write_Failure(error));
    }
    done += static_cast<std::size_t>(n);
  }
}

std::string Write_Failure(int error) {
  std::string why = std::strerror(error);
  if (error != EFBIG) return why;
  struct rlimit limit {};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    return why + " (the limit on the size of a file is " + std::to_string(limit.rlim_cur) + " bytes, ulimit -f)";
  return why + " (the limit on the size of a file, ulimit -f)";
}

} // namespace Karvel::Text_IO
