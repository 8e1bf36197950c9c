#include "mpi/job_files.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <random>

#include "diagnostics/errors.hpp"
#include "write/temporaries.hpp"
#include "text/text_io.hpp"

namespace Karvel::Mpi {

namespace {

[[noreturn]] void Fail(const std::string& path, const char* what, int error) {
  throw Errors::Device_Error("cannot " + std::string(what) + " '" + path + "': " + Text_IO::Write_Failure(error));
}

void Write_All(int fd, const char* data, std::size_t size, const std::string& shown) {
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(shown, "write", errno);
    }
    done += static_cast<std::size_t>(n);
  }
}

// The old labels under a second name until the new matrix is in place: a
// second link to the file where the file system has them, else a copy.
std::string Keep(const std::string& target, mode_t mode, const std::string& shown) {
  std::string name;
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = Generic::Temporaries::Name_Beside(target);
    if (link(target.c_str(), name.c_str()) == 0) return name;
    if (errno != EEXIST) break;
  }
  const int from = open(target.c_str(), O_RDONLY | O_CLOEXEC);
  if (from < 0) Fail(shown, "keep the old", errno);
  int to = -1;
  try {
    to = Generic::Temporaries::Create_Beside(target, shown, name);
    // The only copy of the old labels, should the rename fail: no signal
    // may take it.
    Generic::Temporaries::Forget(name);
    char buffer[1 << 16];
    for (;;) {
      const ssize_t n = read(from, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) Fail(shown, "keep the old", errno);
      if (n == 0) break;
      Write_All(to, buffer, static_cast<std::size_t>(n), shown);
    }
    if (fchmod(to, mode) != 0) Fail(shown, "keep the old", errno);
    const int fd = to;
    to = -1;
    if (close(fd) != 0) Fail(shown, "keep the old", errno);
  } catch (...) {
    close(from);
    if (to >= 0) close(to);
    if (!name.empty()) unlink(name.c_str());
    throw;
  }
  close(from);
  return name;
}

} // namespace

bool Is_File(const std::string& name, const File_Identity& identity, bool same_device) {
  struct stat st {};
  return lstat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_ino == identity.Inode &&
         (!same_device || st.st_dev == identity.Device);
}

Replaced_File::Replaced_File(std::string path, mode_t mask) : path_(std::move(path)) {
  if (path_.empty()) throw Errors::Device_Error("cannot write a file without a name");
  replacement_ = Generic::Temporaries::Look_At(path_, mask);
  if (replacement_.Exists && !replacement_.Regular)
    throw Errors::Device_Error("cannot write '" + path_ +
                               "': not a regular file, and the ranks of karvel_mpi write theirs at offsets; "
                               "karvel writes to a device, FIFO or socket");
  target_ = replacement_.Target;
  fd_ = Generic::Temporaries::Create_Beside(target_, path_, temporary_);
  if (struct stat created; fstat(fd_, &created) == 0) identity_ = {created.st_dev, created.st_ino};
}

Replaced_File::~Replaced_File() {
  if (fd_ >= 0) close(fd_);
  if (renamed_) return;
  unlink(temporary_.c_str());
  Generic::Temporaries::Forget(temporary_);
}

void Replaced_File::Write(const std::string& bytes) { Write_All(fd_, bytes.data(), bytes.size(), path_); }

void Replaced_File::Finish() {
  Generic::Temporaries::Take_Owner_And_Mode(fd_, replacement_, path_);
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0 && errno != EINTR) Fail(path_, "write", errno);
}

void Replaced_File::Rename() {
  // The name is only taken to the file if it still leads to the one made:
  // someone who swapped it for a link must not get that link put in place.
  if (!Is_File(temporary_, identity_, true))
    throw Errors::Device_Error("cannot replace '" + path_ + "': its temporary '" + temporary_ +
                               "' is no longer the file written");
  if (rename(temporary_.c_str(), target_.c_str()) != 0) Fail(path_, "replace", errno);
  renamed_ = true;
  Generic::Temporaries::Forget(temporary_);
}

void Replaced_File::Commit(Replaced_File& matrix, Replaced_File* labels) {
  matrix.Finish();
  if (labels) labels->Finish();
  const Generic::Temporaries::Names_Settling settling;
  if (!labels) {
    matrix.Rename();
    return;
  }
  struct stat st {};
  const bool old_labels = lstat(labels->target_.c_str(), &st) == 0;
  const std::string kept = old_labels ? Keep(labels->target_, st.st_mode & 07777, labels->path_) : std::string();
  try {
    labels->Rename();
  } catch (...) {
    if (old_labels) unlink(kept.c_str());
    throw;
  }
  try {
    matrix.Rename();
  } catch (const Errors::Device_Error& error) {
    const bool restored = old_labels ? rename(kept.c_str(), labels->target_.c_str()) == 0
                                     : unlink(labels->target_.c_str()) == 0;
    if (restored) throw;
    throw Errors::Device_Error(std::string(error.what()) + "; the new labels are in '" + labels->path_ +
                               (old_labels ? "', the old ones in '" + kept + "'" : "'"));
  }
  if (old_labels) unlink(kept.c_str());
}

std::string Write_Failure(std::uint64_t end, const std::string& fallback) {
  struct rlimit limit {};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && end > limit.rlim_cur)
    return Text_IO::Write_Failure(EFBIG);
  return fallback;
}

} // namespace Karvel::Mpi
