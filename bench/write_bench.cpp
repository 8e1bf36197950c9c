// Times the writers alone on one distance matrix held in memory: the
// extended PHYLIP text (-X) against the binary layouts, each into a new file
// of a scratch folder, from the first byte to the closed file.
//
//   karvel_write_bench [TAXA [REPEAT [FOLDER]]]     defaults 2000, 7, $TMPDIR

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <string>
#include <unistd.h>

#include "write/print.hpp"
#include "write/write_binary.hpp"
#include "write/write_hdf5.hpp"

using namespace Karvel;

namespace {

using namespace Phylo;

// Best wall time in seconds of `repeat` runs of `write` into a new file.
double Best_Of(int repeat, const std::string& path, const std::function<void(int fd)>& write) {
  double best = 1e30;
  for (int r = 0; r < repeat; ++r) {
    std::remove(path.c_str());
    const auto start = std::chrono::steady_clock::now();
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    write(fd);
    close(fd);
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::remove(path.c_str());
  return best;
}

} // namespace

int main(int argc, char** argv) {
  const int taxa = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int repeat = argc > 2 ? std::atoi(argv[2]) : 7;
  const char* tmp = std::getenv("TMPDIR");
  const std::string folder = argc > 3 ? argv[3] : tmp ? tmp : "/tmp";
  Taxon_Labels labels;
  for (int t = 0; t < taxa; ++t) labels.push_back("taxon_" + std::to_string(t));
  Squared matrix(labels);
  matrix.Matrix = Generic::Square_Block(0, taxa - 1);
  // Distances of the usual spread, all with eight significant decimals.
  unsigned state = 12345;
  for (int i = 0; i < taxa; ++i)
    for (int j = i; j < taxa; ++j) {
      state = state * 1103515245u + 12345u;
      const double d = i == j ? 0.0 : (state >> 8) * (1.0 / 16777216.0) * 40.0;
      matrix.Matrix(i, j) = d;
      matrix.Matrix(j, i) = d;
    }
  const std::string path = folder + "/karvel-write-bench-" + std::to_string(getpid());

  const double text = Best_Of(repeat, path, [&](int fd) {
    Text_IO::Text_Output out(fd);
    Print::Put(out, matrix, Print::Dist_Output_Format::EXTENDED_PHYLIP, Print::Default_Fore, Print::Default_Aft,
               Print::Default_Exp);
    out.Flush();
  });
  std::printf("%-16s %8.1f ms\n", "-X", text * 1e3);
  for (Binary_Output::Layout layout : {Binary_Output::Layout::NPY, Binary_Output::Layout::NPY_CONDENSED}) {
    const double t = Best_Of(repeat, path, [&](int fd) {
      Text_IO::Text_Output out(fd);
      // As the program hands them over: the whole matrix in one block.
      const auto n = static_cast<std::size_t>(taxa);
      auto writer = Binary_Output::Npy_Writer(out, n, layout);
      writer->Put_Rows(0, n, {matrix.Matrix.Row(0), n * n});
      writer->Finish();
      out.Flush();
    });
    std::printf("%-16s %8.1f ms  %5.1fx faster than -X\n", Binary_Output::Name(layout), t * 1e3, text / t);
  }
  if (Binary_Output::Hdf5_Built()) {
    const double t = Best_Of(repeat, path, [&](int) {
      const auto n = static_cast<std::size_t>(taxa);
      auto writer = Binary_Output::Hdf5_Writer(path, path, labels);
      writer->Put_Rows(0, n, {matrix.Matrix.Row(0), n * n});
      writer->Finish();
    });
    std::printf("%-16s %8.1f ms  %5.1fx faster than -X\n", "hdf5", t * 1e3, text / t);
  }
  return 0;
}
