// Writes the files made from the options table at build time:
//   karvel_docs man TEMPLATE OUTPUT   the man page from doc/karvel.1.in
//   karvel_docs completion OUTPUT     the bash completion script
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "karvel/version.hpp"
#include "driver/options_docs.hpp"

using namespace Karvel;

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  std::string text;
  if (what == "man" && argc == 4) {
    std::ifstream in(argv[2], std::ios::binary);
    if (!in) {
      std::cerr << "karvel_docs: cannot read " << argv[2] << "\n";
      return 1;
    }
    std::ostringstream page;
    page << in.rdbuf();
    text = Karvel::Options::Man_Page(page.str(), Karvel::Options::All(), KARVEL_VERSION);
  } else if (what == "completion" && argc == 3) {
    text = Karvel::Options::Bash_Completion(Karvel::Options::All());
  } else {
    std::cerr << "usage: karvel_docs man TEMPLATE OUTPUT | completion OUTPUT\n";
    return 2;
  }
  std::ofstream out(argv[argc - 1], std::ios::binary);
  out << text;
  out.close();
  if (!out) {
    std::cerr << "karvel_docs: cannot write " << argv[argc - 1] << "\n";
    return 1;
  }
  return 0;
}
