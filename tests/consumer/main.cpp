// Euclidean distances of every matrix of a file, computed into a buffer of
// our own and written in extended PHYLIP: what `karvel FILE` prints.

#include <karvel/karvel.hpp>

#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

static_assert(KARVEL_VERSION_MAJOR >= 0 && KARVEL_VERSION_MINOR >= 0 && KARVEL_VERSION_PATCH >= 0);

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  namespace K = Karvel::Lib;
  // The installed headers and library come from one build.
  if (std::strcmp(K::Version(), KARVEL_VERSION) != 0) {
    std::fprintf(stderr, "headers of karvel %s, library of karvel %s\n", KARVEL_VERSION, K::Version());
    return 1;
  }
  try {
    K::Reader reader = K::Reader::From_File(argv[1]);
    K::Output out(1);
    std::vector<double> distances;
    while (std::optional<K::Matrix> data = reader.Next()) {
      distances.resize(data->Cells());
      K::Distances(*data, "EUCLIDEAN", distances);
      K::Write_Distances(out, *data, distances, K::Output_Layout::EXTENDED_PHYLIP);
    }
    out.Flush();
    return 0;
  } catch (const Karvel::Errors::Error& e) {
    std::fprintf(stderr, "%s: %s\n", e.Name(), e.what());
    return 1;
  }
}
