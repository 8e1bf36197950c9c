#include "io/output_file.hpp"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
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

} // namespace

void Output_File::Remove_On_Signals() {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action {};
    action.sa_handler = Remove_Temporaries;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
  }
}

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
  Register(temporary_);
  // mkstemp makes the file private; the finished file gets the permissions
  // any new file of this user gets. The mask can only be read by setting
  // it, which is harmless here: no other thread is creating files yet.
  const mode_t mask = umask(0);
  umask(mask);
  if (fchmod(fd_, 0666 & ~mask) != 0) {
    const int error = errno;
    close(fd_);
    unlink(temporary_.c_str());
    Unregister(temporary_);
    Fail(path_, "write", error);
  }
}

Output_File::~Output_File() {
  if (committed_) return;
  if (fd_ >= 0) close(fd_);
  unlink(temporary_.c_str());
  Unregister(temporary_);
}

void Output_File::Commit() {
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) Fail(path_, "write", errno);
  if (rename(temporary_.c_str(), path_.c_str()) != 0) Fail(path_, "replace", errno);
  committed_ = true;
  Unregister(temporary_);
}

} // namespace Phylo::Output
