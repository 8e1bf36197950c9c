// peak_rss: runs a command and checks how much memory it held at most.
//
//   peak_rss LIMIT_KB -- COMMAND [ARG...]
//   peak_rss -- COMMAND [ARG...]
//
// COMMAND (looked up on PATH) runs with peak_rss's standard input, output
// and error, so its output passes through untouched. When it has ended,
// peak_rss takes its peak resident set size (the kernel's ru_maxrss, in
// kilobytes; it covers the descendants the command waited for):
//   - with LIMIT_KB, a peak above the limit adds one line to standard error,
//       peak_rss: peak resident size N kB is above the limit of LIMIT_KB kB
//     and the exit status is 124; otherwise nothing is added;
//   - without it, the line "peak_rss: N kB" is added to standard error.
// Otherwise peak_rss exits as the command did: its exit status, or 128 plus
// the number of the signal that ended it, as a shell reports it.
//
// With PEAK_RSS_UNCHECKED set to anything but the empty string, limits are
// not checked: builds with sanitizers, whose shadow memory swells every
// process, set it for the end-to-end cases.
//
// Its own failures: 125 for a wrong use, 126 when the command cannot be
// run, 127 when it is not found.

#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

int Usage() {
  std::fputs("usage: peak_rss [LIMIT_KB] -- COMMAND [ARG...]\n", stderr);
  return 125;
}

} // namespace

int main(int argc, char** argv) {
  int at = 1;
  long limit = -1;
  if (at < argc && std::string_view(argv[at]) != "--") {
    const std::string_view text(argv[at]);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), limit);
    if (error != std::errc() || end != text.data() + text.size() || limit < 0) return Usage();
    ++at;
  }
  if (at >= argc || std::string_view(argv[at]) != "--" || at + 1 >= argc) return Usage();
  char** const command = argv + at + 1;

  // The child tells through this pipe, closed by a successful exec, why it
  // could not run the command.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    std::fprintf(stderr, "peak_rss: cannot make a pipe: %s\n", std::strerror(errno));
    return 126;
  }
  const pid_t child = ::fork();
  if (child < 0) {
    std::fprintf(stderr, "peak_rss: cannot start a process: %s\n", std::strerror(errno));
    return 126;
  }
  if (child == 0) {
    ::close(report[0]);
    ::execvp(command[0], command);
    const int error = errno;
    (void)!::write(report[1], &error, sizeof error);
    ::_exit(127);
  }
  ::close(report[1]);
  int error = 0;
  ssize_t got;
  do got = ::read(report[0], &error, sizeof error);
  while (got < 0 && errno == EINTR);
  ::close(report[0]);

  int status = 0;
  rusage usage{};
  pid_t waited;
  do waited = ::wait4(child, &status, 0, &usage);
  while (waited < 0 && errno == EINTR);
  if (got == static_cast<ssize_t>(sizeof error)) {
    std::fprintf(stderr, "peak_rss: cannot run %s: %s\n", command[0], std::strerror(error));
    return error == ENOENT ? 127 : 126;
  }
  if (waited < 0) {
    std::fprintf(stderr, "peak_rss: cannot wait for %s: %s\n", command[0], std::strerror(errno));
    return 126;
  }
  const int result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);

  const long peak = usage.ru_maxrss;
  if (limit < 0) {
    std::fprintf(stderr, "peak_rss: %ld kB\n", peak);
    return result;
  }
  const char* const unchecked = std::getenv("PEAK_RSS_UNCHECKED");
  if (peak > limit && !(unchecked && *unchecked)) {
    std::fprintf(stderr, "peak_rss: peak resident size %ld kB is above the limit of %ld kB\n", peak, limit);
    return 124;
  }
  return result;
}
