#include "write/output_file.hpp"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "diagnostics/errors.hpp"
#include "text/text_io.hpp"

namespace Karvel::Phylo::Output {

namespace {

[[noreturn]] void Fail(const std::string& path, const char* what, int error) {
  throw Errors::Device_Error("cannot " + std::string(what) + " '" + path + "': " + Text_IO::Write_Failure(error));
}

// The temporaries a signal must remove: a few slots, since a run has at
// most a file and its labels file. The handler may only read them and call
// unlink, so the names are copies that live as long as their slot is set.
constexpr int Slots = 8;
std::atomic<char*> Temporaries[Slots];

void Register(const std::string& name) {
  char* copy = strdup(name.c_str());
  if (!copy) return;
  for (std::atomic<char*>& slot : Temporaries) {
    char* empty = nullptr;
    if (slot.compare_exchange_strong(empty, copy)) return;
  }
  std::free(copy); // more files than slots: a signal leaves this one behind
}

void Unregister(const std::string& name) {
  for (std::atomic<char*>& slot : Temporaries) {
    char* held = slot.load();
    if (held && name == held && slot.compare_exchange_strong(held, nullptr)) {
      std::free(held);
      return;
    }
  }
}

extern "C" void Remove_Temporaries(int signal_number) {
  for (std::atomic<char*>& slot : Temporaries)
    if (const char* name = slot.load()) unlink(name);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
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

// Holds SIGINT, SIGTERM and SIGHUP back while files change names, so that
// the handler never removes a temporary that holds the old labels.
class Signals_Held {
public:
  Signals_Held() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, signal_number);
    pthread_sigmask(SIG_BLOCK, &held, &before_);
  }
  ~Signals_Held() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
  Signals_Held(const Signals_Held&) = delete;
  Signals_Held& operator=(const Signals_Held&) = delete;

private:
  sigset_t before_;
};

} // namespace

void Output_File::Remove_On_Signals() {
  static std::atomic<bool> done{false};
  if (done.exchange(true)) return;
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    // nohup and shells ignore signals for their children; that choice
    // outlives the temporary's clean-up.
    struct sigaction before {};
    if (sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = Remove_Temporaries;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, nullptr);
}

Output_File::Output_File(std::string path) : path_(std::move(path)), target_(path_) {
  if (path_.empty()) throw Errors::Device_Error("cannot write a file without a name");
  mode_t mode = 0;
  struct stat st {};
  const bool exists = stat(path_.c_str(), &st) == 0;
  // Refused now rather than after the whole run, when the rename would fail.
  if (exists && S_ISDIR(st.st_mode)) Fail(path_, "write", EISDIR);
  if (exists && !S_ISREG(st.st_mode)) {
    direct_ = true;
    fd_ = S_ISSOCK(st.st_mode) ? Connect(path_) : open(path_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) Fail(path_, "write", errno);
    return;
  }
  if (exists) {
    if (struct stat link; lstat(path_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      char resolved[PATH_MAX];
      if (!realpath(path_.c_str(), resolved)) Fail(path_, "write", errno);
      target_ = resolved;
    }
  }
  const std::size_t slash = target_.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : target_.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  temporary_ = folder + "." + name + ".karvel-XXXXXX";
  std::vector<char> pattern(temporary_.begin(), temporary_.end());
  pattern.push_back('\0');
  fd_ = mkstemp(pattern.data());
  if (fd_ < 0) Fail(path_, "write", errno);
  temporary_.assign(pattern.data());
  Register(temporary_);
  if (exists) {
    // Owner first: changing it clears the set-user-ID bits the mode may
    // then restore. Only root may give a file away; a group the user is
    // in is the next best thing, and failing both is no error.
    if (fchown(fd_, st.st_uid, st.st_gid) != 0) {
      [[maybe_unused]] const int group_only = fchown(fd_, static_cast<uid_t>(-1), st.st_gid);
    }
    mode = st.st_mode & 07777;
  } else {
    // mkstemp makes the file private; a new file gets the permissions any
    // new file of this user gets. The mask can only be read by setting
    // it, which is harmless here: no other thread is creating files yet.
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  if (fchmod(fd_, mode) != 0) {
    const int error = errno;
    Close();
    Forget();
    Fail(path_, "write", error);
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
  Unregister(temporary_);
}

void Output_File::Commit() {
  Close();
  if (!direct_ && rename(temporary_.c_str(), target_.c_str()) != 0) Fail(path_, "replace", errno);
  committed_ = true;
  if (!direct_) Unregister(temporary_);
}

void Output_File::Commit_Together(Output_File& labels, Output_File& matrix) {
  if (labels.direct_ || matrix.direct_) {
    labels.Commit();
    matrix.Commit();
    return;
  }
  labels.Close();
  matrix.Close();
  const Signals_Held held;
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
        Unregister(labels.temporary_);
        labels.committed_ = true;
      }
    } else if (fresh) {
      unlink(labels.target_.c_str());
    }
    Fail(matrix.path_, "replace", error);
  }
  if (exchanged) unlink(labels.temporary_.c_str());
  labels.committed_ = matrix.committed_ = true;
  Unregister(labels.temporary_);
  Unregister(matrix.temporary_);
}

} // namespace Karvel::Phylo::Output
