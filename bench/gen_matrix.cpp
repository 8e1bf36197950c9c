// Writes a seeded random character matrix in extended PHYLIP layout, or as
// a CSV or TSV table of the same values, for benchmarks and large-input
// tests.
//
//   karvel_gen KIND NTAX NCHAR [SEED [LAYOUT]]
//
// LAYOUT is "phylip" (the default), "csv" or "tsv"; tables have a header row
// of character names c1, c2, ... after an empty cell.
// KIND is "real" (abundance-like: about half zeros, the rest positive with a
// long tail, three decimals), "binary" (0 and 1 with a few '?') or "dna"
// (A, C, G, T with a few '-' and '?'). The same arguments always give the
// same file.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A small, fully specified generator (splitmix64), so the files do not
// depend on the standard library's distributions.
struct Random {
  std::uint64_t state;
  std::uint64_t Next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1).
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  unsigned Below(unsigned n) { return static_cast<unsigned>(Next() % n); }
};

int Usage() {
  std::fputs("usage: karvel_gen real|binary|dna NTAX NCHAR [SEED [phylip|csv|tsv]]\n", stderr);
  return 2;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 6) return Usage();
  const std::string kind = argv[1];
  const long ntax = std::atol(argv[2]);
  const long nchar = std::atol(argv[3]);
  Random rng{argc >= 5 ? std::strtoull(argv[4], nullptr, 10) : 1};
  const std::string layout = argc == 6 ? argv[5] : "phylip";
  if (ntax < 1 || nchar < 0 || (kind != "real" && kind != "binary" && kind != "dna")) return Usage();
  if (layout != "phylip" && layout != "csv" && layout != "tsv") return Usage();
  const bool table = layout != "phylip";
  const char separator = layout == "csv" ? ',' : layout == "tsv" ? '\t' : ' ';

  std::string line;
  if (table) {
    for (long c = 0; c < nchar; ++c) line += separator + ("c" + std::to_string(c + 1));
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
  } else {
    std::printf("%ld %ld\n", ntax, nchar);
  }
  for (long t = 0; t < ntax; ++t) {
    line = "taxon_" + std::to_string(t + 1);
    if (kind == "real") {
      // Each taxon has its own abundance level, so rows differ in scale.
      const double level = 1.0 + 99.0 * rng.Unit();
      for (long c = 0; c < nchar; ++c) {
        double v = 0.0;
        if (rng.Unit() < 0.5) {
          const double u = rng.Unit();
          v = level * u * u * u * 10.0;
        }
        char buf[64];
        buf[0] = separator;
        auto r = std::to_chars(buf + 1, buf + sizeof buf, v, std::chars_format::fixed, 3);
        line.append(buf, r.ptr);
      }
    } else {
      if (!table) line += ' ';
      for (long c = 0; c < nchar; ++c) {
        if (table) line += separator;
        const unsigned r = rng.Below(100);
        if (kind == "binary")
          line += r < 2 ? '?' : (r < 45 ? '1' : '0');
        else
          line += r < 2 ? '-' : (r < 3 ? '?' : "ACGT"[rng.Below(4)]);
      }
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
