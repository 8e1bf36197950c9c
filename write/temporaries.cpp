#include "write/temporaries.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <random>

#include "diagnostics/errors.hpp"
#include "text/text_io.hpp"

namespace Karvel::Generic::Temporaries {

namespace {

// The handler may only read the slots and call unlink, so the names are
// copies that live as long as their slot is set. A run has a few files at
// most: the matrix and its labels.
constexpr int Slots = 8;
std::atomic<char*> Names[Slots];

// Running, or settling names (a signal waits), or ending by a signal.
enum : int { Running, Settling, Ending };
std::atomic<int> State{Running};
std::atomic<int> Deferred{0};

void Remove_All() {
  for (std::atomic<char*>& slot : Names)
    if (const char* name = slot.load()) unlink(name);
}

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

} // namespace

std::string Name_Beside(const std::string& target) {
  static constexpr char Letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device source;
  std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof Letters) - 2);
  const std::size_t slash = target.rfind('/');
  std::string name = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  name += "." + (slash == std::string::npos ? target : target.substr(slash + 1)) + ".karvel-";
  for (int k = 0; k < 12; ++k) name += Letters[pick(source)];
  return name;
}

int Create_Beside(const std::string& target, const std::string& shown, std::string& name) {
  for (int attempt = 0;; ++attempt) {
    name = Name_Beside(target);
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      Remove_On_Signal(name);
      return fd;
    }
    if (errno != EEXIST || attempt == 100)
      throw Errors::Device_Error("cannot write '" + shown + "': " + Text_IO::Write_Failure(errno));
  }
}

int Create_Scratch(const std::string& folder) {
  const std::string where = folder.empty() ? std::string(".") : folder;
  const auto fail = [&](int error) -> int {
    throw Errors::Device_Error("cannot write a temporary file in '" + where + "': " + Text_IO::Write_Failure(error));
  };
#ifdef O_TMPFILE
  int fd;
  do fd = open(where.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
  while (fd < 0 && errno == EINTR);
  if (fd >= 0) return fd;
  // Older kernels and some file systems (network ones, overlays) refuse it
  // with one of these; anything else is a real failure of the folder.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) fail(errno);
#endif
  for (int attempt = 0;; ++attempt) {
    const std::string name = Name_Beside(where + "/scratch");
    const int named = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (named >= 0) {
      // Until the name goes, a signal removes it.
      Remove_On_Signal(name);
      const int error = unlink(name.c_str()) == 0 ? 0 : errno;
      Forget(name);
      if (error != 0) {
        close(named);
        fail(error);
      }
      return named;
    }
    if (errno != EEXIST || attempt == 100) fail(errno);
  }
}

Replacement Look_At(const std::string& path, mode_t mask) {
  Replacement r;
  r.Target = path;
  struct stat st {};
  r.Exists = stat(path.c_str(), &st) == 0;
  if (!r.Exists) {
    r.Mode = 0666 & ~mask;
    return r;
  }
  if (S_ISDIR(st.st_mode))
    throw Errors::Device_Error("cannot write '" + path + "': " + Text_IO::Write_Failure(EISDIR));
  r.Regular = S_ISREG(st.st_mode);
  if (struct stat link; r.Regular && lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved))
      throw Errors::Device_Error("cannot write '" + path + "': " + Text_IO::Write_Failure(errno));
    r.Target = resolved;
  }
  r.Mode = st.st_mode & 07777;
  r.Owner = st.st_uid;
  r.Group = st.st_gid;
  return r;
}

void Take_Owner_And_Mode(int fd, const Replacement& replacement, const std::string& shown) {
  if (replacement.Exists && fchown(fd, replacement.Owner, replacement.Group) != 0) {
    [[maybe_unused]] const int group_only = fchown(fd, static_cast<uid_t>(-1), replacement.Group);
  }
  if (fchmod(fd, replacement.Mode) != 0)
    throw Errors::Device_Error("cannot write '" + shown + "': " + Text_IO::Write_Failure(errno));
}

void Remove_On_Signals() {
  static std::atomic<bool> done{false};
  if (done.exchange(true)) return;
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction before {};
    if (sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = On_Signal;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
  }
  Ignore_File_Size_Signal();
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
  for (std::atomic<char*>& slot : Names) {
    char* empty = nullptr;
    if (slot.compare_exchange_strong(empty, copy)) return;
  }
  std::free(copy); // more files than slots: a signal leaves this one behind
}

void Forget(const std::string& name) {
  for (std::atomic<char*>& slot : Names) {
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

Names_Settling::Names_Settling() {
  for (int state = Running; !State.compare_exchange_weak(state, Settling); state = Running)
    if (state == Ending)
      for (;;) pause(); // another thread is removing the files and ending the process
}

Names_Settling::~Names_Settling() {
  State.store(Running);
  if (const int signal_number = Deferred.exchange(0)) On_Signal(signal_number);
}

} // namespace Karvel::Generic::Temporaries
