#pragma once
// The whole program run in the test's process, its standard output and error
// caught in files (so neither is a terminal).

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "driver/karvel.hpp"

namespace Karvel::Test_Support {

struct Run_Result {
  int status;
  std::string out, err;
};

inline std::string Contents(std::FILE* file) {
  std::string text;
  std::rewind(file);
  char buffer[1 << 16];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
  std::fclose(file);
  return text;
}

inline Run_Result Run_Karvel(std::vector<std::string> arguments) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const int saved_out = ::dup(STDOUT_FILENO), saved_err = ::dup(STDERR_FILENO);
  ::dup2(fileno(out), STDOUT_FILENO);
  ::dup2(fileno(err), STDERR_FILENO);
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  const int status = Karvel::Main(static_cast<int>(argv.size()), argv.data());
  ::dup2(saved_out, STDOUT_FILENO);
  ::dup2(saved_err, STDERR_FILENO);
  ::close(saved_out);
  ::close(saved_err);
  return {status, Contents(out), Contents(err)};
}

} // namespace Karvel::Test_Support
