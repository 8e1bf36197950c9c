#include "generic/text_io.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "generic/errors.hpp"

namespace Text_IO {

namespace {
constexpr std::size_t Input_Block = 1 << 20;
constexpr std::size_t Output_Block = 1 << 20;
} // namespace

Text_Input::Text_Input(int fd, bool owned) : fd_(fd), owned_(owned), buf_(Input_Block), data_(buf_.data()) {}

Text_Input::Text_Input(std::string_view text)
    : eof_(true), buf_(text.begin(), text.end()), data_(buf_.data()), end_(text.size()) {}

Text_Input::Text_Input(std::string_view text, Borrowed) : eof_(true), data_(text.data()), end_(text.size()) {}

Text_Input::~Text_Input() {
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
  return std::make_unique<Text_Input>(fd, true);
}

std::unique_ptr<Text_Input> Text_Input::Standard_Input() {
  return std::make_unique<Text_Input>(0, false);
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
    ssize_t got = ::read(fd_, buf_.data() + end_, buf_.size() - end_);
    if (got < 0) {
      if (errno == EINTR) continue;
      if (errno == EISDIR) throw Errors::Use_Error("the input is a directory");
      throw Errors::Device_Error(std::string("cannot read the input: ") + std::strerror(errno));
    }
    if (got == 0)
      eof_ = true;
    else
      end_ += static_cast<std::size_t>(got);
    if (progress_) progress_->Advance(static_cast<std::uint64_t>(std::max<ssize_t>(got, 0)));
  }
  return end_ - pos_;
}

void Text_Input::Sniff() {
  sniffed_ = true;
  if (fd_ < 0) return; // text in memory is taken as it is
  Fill(2);
  if (end_ - pos_ >= 2 && static_cast<unsigned char>(data_[pos_]) == 0x1f &&
      static_cast<unsigned char>(data_[pos_ + 1]) == 0x8b)
    Inflate_All();
}

void Text_Input::Inflate_All() {
  constexpr std::size_t Chunk = std::size_t{1} << 20;
  z_stream z{};
  // 15 + 16: the largest window, gzip framing only
  if (inflateInit2(&z, 15 + 16) != Z_OK) throw Errors::Storage_Error("cannot start decompressing the input");
  struct End {
    z_stream* z;
    ~End() { inflateEnd(z); }
  } end_stream{&z};
  // What was read while looking is the start of the compressed input.
  std::vector<char> in(buf_.begin() + static_cast<std::ptrdiff_t>(pos_), buf_.begin() + static_cast<std::ptrdiff_t>(end_));
  bool in_ended = eof_;
  auto refill = [&] {
    in.resize(Chunk);
    ssize_t got;
    do got = ::read(fd_, in.data(), in.size());
    while (got < 0 && errno == EINTR);
    if (got < 0) throw Errors::Device_Error(std::string("cannot read the input: ") + std::strerror(errno));
    in_ended = got == 0;
    z.next_in = reinterpret_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(got);
  };
  // A regular file's last four bytes give the size of its last member's
  // text (modulo 2^32): for the usual one-member file the text then fits
  // one allocation. A wrong guess only means growing by doubling; a damaged
  // file's is believed only as far as deflate can expand (1032 to 1).
  std::size_t guess = 4 * in.size();
  struct stat st;
  unsigned char trailer[4];
  if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 18 &&
      ::pread(fd_, trailer, 4, st.st_size - 4) == 4) {
    const std::size_t size = trailer[0] | trailer[1] << 8 | trailer[2] << 16 | std::size_t{trailer[3]} << 24;
    guess = std::max(guess, std::min(size, 1032 * static_cast<std::size_t>(st.st_size)));
  }
  std::vector<char> out(std::max(Input_Block, guess));
  std::size_t produced = 0;
  z.next_in = reinterpret_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  auto damaged = [&](const char* why) {
    throw Errors::Data_Error(std::string("not a valid gzip stream: ") + (z.msg ? z.msg : why));
  };
  for (;;) {
    if (z.avail_in == 0 && !in_ended) refill();
    if (produced == out.size()) out.resize(out.size() * 2);
    z.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
    z.avail_out = static_cast<uInt>(std::min<std::size_t>(out.size() - produced, std::numeric_limits<uInt>::max()));
    const uInt room = z.avail_out;
    const int status = inflate(&z, Z_NO_FLUSH);
    produced += room - z.avail_out;
    if (status == Z_STREAM_END) {
      // Another member may follow (concatenated files); nothing else may.
      if (z.avail_in == 0 && !in_ended) refill();
      if (z.avail_in == 0 && in_ended) break;
      if (inflateReset(&z) != Z_OK) damaged("cannot restart");
      continue;
    }
    if (status == Z_MEM_ERROR) throw Errors::Storage_Error("out of memory while decompressing the input");
    if (status == Z_BUF_ERROR && z.avail_in == 0 && in_ended) damaged("the compressed data end too early");
    if (status != Z_OK && status != Z_BUF_ERROR) damaged("damaged data");
  }
  out.resize(produced);
  buf_ = std::move(out);
  data_ = buf_.data();
  pos_ = 0;
  end_ = produced;
  eof_ = true;
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

bool Text_Input::At_End_Of_Input() {
  for (std::size_t k = 0;; ++k) {
    switch (Peek(k)) {
    case -1:
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
  if (!sniffed_) Sniff(); // compressed input counts by its text
  const std::size_t buffered = end_ - pos_;
  if (eof_) return buffered;
  struct stat st;
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  const off_t offset = ::lseek(fd_, 0, SEEK_CUR);
  if (offset < 0) return std::nullopt;
  return buffered + (st.st_size > offset ? static_cast<std::size_t>(st.st_size - offset) : 0);
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
  if (error == EFBIG) why += " (the limit on the size of a file, ulimit -f)";
  return why;
}

} // namespace Text_IO
