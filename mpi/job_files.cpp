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

namespace Karvel::Mpi {

namespace {

std::string Reason(int error) {
  std::string why = std::strerror(error);
  if (error != EFBIG) return why;
  struct rlimit limit {};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    return why + " (the limit on the size of a file is " + std::to_string(limit.rlim_cur) + " bytes, ulimit -f)";
  return why + " (the limit on the size of a file, ulimit -f)";
}

[[noreturn]] void Fail(const std::string& path, const char* what, int error) {
  throw Errors::Device_Error("cannot " + std::string(what) + " '" + path + "': " + Reason(error));
}

// The temporaries a signal must remove. The handler may only read them and
// call unlink, so the names are copies that live as long as their slot is
// set.
constexpr int Slots = 8;
std::atomic<char*> Temporaries[Slots];

// Running, or settling names (a signal waits), or ending by a signal.
enum : int { Running, Settling, Ending };
std::atomic<int> State{Running};
std::atomic<int> Deferred{0};

void Remove_All() {
  for (std::atomic<char*>& slot : Temporaries)
    if (const char* name = slot.load()) unlink(name);
}

// Any thread of the process may take the signal (MPI has threads of its
// own), so the state, not a signal mask, makes it wait for the renames.
extern "C" void On_Signal(int signal_number) {
  int state = Running;
  if (!State.compare_exchange_strong(state, Ending)) {
    if (state == Settling) Deferred.store(signal_number);
    return; // or another thread is ending the process already
  }
  Remove_All();
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

// While files change names; a signal meanwhile is acted on afterwards.
class Names_Settling {
public:
  Names_Settling() {
    for (int state = Running; !State.compare_exchange_weak(state, Settling); state = Running)
      if (state == Ending)
        for (;;) pause(); // another thread is removing the temporaries and ending the process
  }
  ~Names_Settling() {
    State.store(Running);
    if (const int signal_number = Deferred.exchange(0)) On_Signal(signal_number);
  }
  Names_Settling(const Names_Settling&) = delete;
  Names_Settling& operator=(const Names_Settling&) = delete;
};

// A name beside `target` that nobody can guess, for a file created with
// O_EXCL: a name made in advance by someone else is passed over, never used.
std::string Temporary_Name(const std::string& target) {
  static constexpr char Letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device source;
  std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof Letters) - 2);
  const std::size_t slash = target.rfind('/');
  std::string name = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  name += "." + (slash == std::string::npos ? target : target.substr(slash + 1)) + ".karvel-";
  for (int k = 0; k < 12; ++k) name += Letters[pick(source)];
  return name;
}

// A new private file beside `target`, never a link followed nor a file
// that was there.
int Create_Beside(const std::string& target, const std::string& shown, std::string& name) {
  for (int attempt = 0;; ++attempt) {
    name = Temporary_Name(target);
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    if (errno != EEXIST || attempt == 100) Fail(shown, "write", errno);
  }
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
    name = Temporary_Name(target);
    if (link(target.c_str(), name.c_str()) == 0) return name;
    if (errno != EEXIST) break;
  }
  const int from = open(target.c_str(), O_RDONLY | O_CLOEXEC);
  if (from < 0) Fail(shown, "keep the old", errno);
  int to = -1;
  try {
    to = Create_Beside(target, shown, name);
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

Replaced_File::Replaced_File(std::string path, mode_t mask) : path_(std::move(path)), target_(path_) {
  if (path_.empty()) throw Errors::Device_Error("cannot write a file without a name");
  struct stat st {};
  existed_ = stat(path_.c_str(), &st) == 0;
  // Refused now rather than after the whole run, when the rename would fail.
  if (existed_ && S_ISDIR(st.st_mode)) Fail(path_, "write", EISDIR);
  if (existed_ && !S_ISREG(st.st_mode))
    throw Errors::Device_Error("cannot write '" + path_ +
                               "': not a regular file, and the ranks of karvel_mpi write theirs at offsets; "
                               "karvel writes to a device, FIFO or socket");
  if (existed_) {
    // A link stays a link: the file it leads to is replaced.
    if (struct stat link; lstat(path_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      char resolved[PATH_MAX];
      if (!realpath(path_.c_str(), resolved)) Fail(path_, "write", errno);
      target_ = resolved;
    }
    mode_ = st.st_mode & 07777;
    owner_ = st.st_uid;
    group_ = st.st_gid;
  } else {
    mode_ = 0666 & ~mask;
  }
  fd_ = Create_Beside(target_, path_, temporary_);
  Remove_On_Signal(temporary_);
  if (struct stat created; fstat(fd_, &created) == 0) identity_ = {created.st_dev, created.st_ino};
}

Replaced_File::~Replaced_File() {
  if (fd_ >= 0) close(fd_);
  if (renamed_) return;
  unlink(temporary_.c_str());
  Forget(temporary_);
}

void Replaced_File::Write(const std::string& bytes) { Write_All(fd_, bytes.data(), bytes.size(), path_); }

void Replaced_File::Finish() {
  if (existed_) {
    // Owner first: changing it clears the set-user-ID bits the mode may
    // then restore. Only root may give a file away; a group the user is
    // in is the next best thing, and failing both is no error.
    if (fchown(fd_, owner_, group_) != 0) {
      [[maybe_unused]] const int group_only = fchown(fd_, static_cast<uid_t>(-1), group_);
    }
  }
  if (fchmod(fd_, mode_) != 0) Fail(path_, "write", errno);
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
  Forget(temporary_);
}

void Replaced_File::Commit(Replaced_File& matrix, Replaced_File* labels) {
  matrix.Finish();
  if (labels) labels->Finish();
  const Names_Settling settling;
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

void Remove_On_Signals() {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    // nohup and shells ignore signals for their children; that choice
    // outlives the temporaries' clean-up.
    struct sigaction before {};
    if (sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = On_Signal;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
  }
}

void Ignore_File_Size_Signal() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, nullptr);
}

void Remove_On_Signal(const std::string& name) {
  char* copy = strdup(name.c_str());
  if (!copy) return;
  for (std::atomic<char*>& slot : Temporaries) {
    char* empty = nullptr;
    if (slot.compare_exchange_strong(empty, copy)) return;
  }
  std::free(copy); // more files than slots: a signal leaves this one behind
}

void Forget(const std::string& name) {
  for (std::atomic<char*>& slot : Temporaries) {
    char* held = slot.load();
    if (held && name == held && slot.compare_exchange_strong(held, nullptr)) {
      // A handler that read the slot before it was emptied has set the
      // state first, and may still be using the name.
      if (State.load() != Ending) std::free(held);
      return;
    }
  }
}

void Remove_Registered() { Remove_All(); }

std::string Write_Failure(std::uint64_t end, const std::string& fallback) {
  struct rlimit limit {};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && end > limit.rlim_cur)
    return Reason(EFBIG);
  return fallback;
}

} // namespace Karvel::Mpi
