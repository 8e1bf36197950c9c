// Times the matrix reader alone: opens a file and reads its matrices, best
// of a few runs, so that layouts can be compared without the distances.
//
//   karvel_read_bench extended|csv|tsv FILE [REPEAT] [discrete]
//
// Prints the best wall time in seconds. KARVEL_THREADS sets the threads, as
// for the program.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "threads/parallel.hpp"
#include "read/read.hpp"

using namespace Karvel;

int main(int argc, char** argv) {
  if (argc < 3 || argc > 5) {
    std::fputs("usage: karvel_read_bench extended|csv|tsv FILE [REPEAT] [discrete]\n", stderr);
    return 2;
  }
  using Phylo::Read::Input_Format;
  const std::string name = argv[1];
  const Input_Format format = name == "csv" ? Input_Format::CSV
                              : name == "tsv" ? Input_Format::TSV
                                              : Input_Format::EXTENDED_PHYLIP;
  const int repeat = argc >= 4 ? std::max(1, std::atoi(argv[3])) : 3;
  const bool discrete = argc == 5 && std::string(argv[4]) == "discrete";
  if (const char* threads = std::getenv("KARVEL_THREADS")) Generic::Parallel::Set_Threads(std::atoi(threads));
  double best = 1e300;
  long values = 0;
  try {
    for (int k = 0; k < repeat; ++k) {
      const auto start = std::chrono::steady_clock::now();
      auto in = Text_IO::Text_Input::Open(argv[2]);
      values = 0;
      while (!in->At_End_Of_Input()) {
        if (discrete)
          values += static_cast<long>(Phylo::Read::Get(*in, format, Phylo::Read::Whitespace())->Matrix.Values());
        else
          values += static_cast<long>(Phylo::Read::Get(*in, format)->Matrix.Values());
      }
      best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
  } catch (const Errors::Error& e) {
    std::fprintf(stderr, "karvel_read_bench: %s: %s\n", e.Name(), e.what());
    return 1;
  }
  std::printf("%.4f %ld\n", best, values);
  return 0;
}
