#include "write/output_file.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <utility>

#include "diagnostics/errors.hpp"
#include "write/temporaries.hpp"
#include "text/text_io.hpp"

namespace Karvel::Phylo::Output {

namespace {

[[noreturn]] void Fail(const std::string& path, const char* what, int error) {
  throw Errors::Device_Error("cannot " + std::string(what) + " '" + path + "': " + Text_IO::Write_Failure(error));
}

// A socket is written by connecting to it; open() refuses it.
int Connect(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

} // namespace

Output_File::Output_File(std::string path) : path_(std::move(path)), target_(path_) {
  if (path_.empty()) throw Errors::Device_Error("cannot write a file without a name");
  // The mask can only be read by setting it, which is harmless here: no
  // other thread is creating files yet.
  const mode_t mask = umask(0);
  umask(mask);
  const Generic::Temporaries::Replacement replacement = Generic::Temporaries::Look_At(path_, mask);
  if (replacement.Exists && !replacement.Regular) {
    direct_ = true;
    struct stat st {};
    const bool socket = stat(path_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
    fd_ = socket ? Connect(path_) : open(path_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) Fail(path_, "write", errno);
    return;
  }
  target_ = replacement.Target;
  fd_ = Generic::Temporaries::Create_Beside(target_, path_, temporary_);
  try {
    Generic::Temporaries::Take_Owner_And_Mode(fd_, replacement, path_);
  } catch (...) {
    close(std::exchange(fd_, -1));
    Forget();
    throw;
  }
}

Output_File::~Output_File() {
  if (committed_) return;
  if (fd_ >= 0) close(fd_);
  if (!direct_) Forget();
}

void Output_File::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0 && errno != EINTR) Fail(path_, "write", errno);
}

void Output_File::Forget() {
  unlink(temporary_.c_str());
  Generic::Temporaries::Forget(temporary_);
}

void Output_File::Commit() {
  Close();
  if (!direct_ && rename(temporary_.c_str(), target_.c_str()) != 0) Fail(path_, "replace", errno);
  committed_ = true;
  if (!direct_) Generic::Temporaries::Forget(temporary_);
}

void Output_File::Commit_Together(Output_File& labels, Output_File& matrix) {
  if (labels.direct_ || matrix.direct_) {
    labels.Commit();
    matrix.Commit();
    return;
  }
  labels.Close();
  matrix.Close();
  const Generic::Temporaries::Names_Settling settling;
  // The exchange leaves the old labels under the temporary name, ready to
  // come back; where there were none, the new ones are simply removed.
  bool exchanged = renameat2(AT_FDCWD, labels.temporary_.c_str(), AT_FDCWD, labels.target_.c_str(),
                             RENAME_EXCHANGE) == 0;
  bool fresh = false;
  if (!exchanged) {
    if (struct stat st; lstat(labels.target_.c_str(), &st) != 0) fresh = true;
    // Without an exchange (absent labels, or a file system without it) a
    // plain rename: the old labels cannot come back then.
    if (rename(labels.temporary_.c_str(), labels.target_.c_str()) != 0) Fail(labels.path_, "replace", errno);
  }
  if (rename(matrix.temporary_.c_str(), matrix.target_.c_str()) != 0) {
    const int error = errno;
    if (exchanged) {
      if (rename(labels.temporary_.c_str(), labels.target_.c_str()) != 0) {
        // The old labels stay under the temporary name rather than be lost.
        Generic::Temporaries::Forget(labels.temporary_);
        labels.committed_ = true;
      }
    } else if (fresh) {
      unlink(labels.target_.c_str());
    }
    Fail(matrix.path_, "replace", error);
  }
  if (exchanged) unlink(labels.temporary_.c_str());
  labels.committed_ = matrix.committed_ = true;
  Generic::Temporaries::Forget(labels.temporary_);
  Generic::Temporaries::Forget(matrix.temporary_);
}

} // namespace Karvel::Phylo::Output
