#include "io/output_file.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "generic/errors.hpp"

namespace Phylo::Output {

namespace {

[[noreturn]] void Fail(const std::string& path, const char* what, int error) {
  throw Errors::Device_Error("cannot " + std::string(what) + " '" + path + "': " + std::strerror(error));
}

} // namespace

Output_File::Output_File(std::string path) : path_(std::move(path)) {
  if (path_.empty()) throw Errors::Device_Error("cannot write a file without a name");
  // Refused now rather than after the whole run, when the rename would fail.
  if (struct stat st; stat(path_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) Fail(path_, "write", EISDIR);
  const std::size_t slash = path_.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path_.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path_ : path_.substr(slash + 1);
  temporary_ = folder + "." + name + ".karvel-XXXXXX";
  std::vector<char> pattern(temporary_.begin(), temporary_.end());
  pattern.push_back('\0');
  fd_ = mkstemp(pattern.data());
  if (fd_ < 0) Fail(path_, "write", errno);
  temporary_.assign(pattern.data());
  // mkstemp makes the file private; the finished file gets the permissions
  // any new file of this user gets. The mask can only be read by setting
  // it, which is harmless here: no other thread is creating files yet.
  const mode_t mask = umask(0);
  umask(mask);
  if (fchmod(fd_, 0666 & ~mask) != 0) {
    const int error = errno;
    close(fd_);
    unlink(temporary_.c_str());
    Fail(path_, "write", error);
  }
}

Output_File::~Output_File() {
  if (committed_) return;
  if (fd_ >= 0) close(fd_);
  unlink(temporary_.c_str());
}

void Output_File::Commit() {
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) Fail(path_, "write", errno);
  if (rename(temporary_.c_str(), path_.c_str()) != 0) Fail(path_, "replace", errno);
  committed_ = true;
}

} // namespace Phylo::Output
