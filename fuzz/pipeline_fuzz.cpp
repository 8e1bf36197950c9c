// The whole program in-process: options, reading, transformation, distances
// and printing. An error of the program's own kinds is an ordinary outcome;
// a crash, a sanitizer report or any other exception is a finding, and so
// is output that differs between one thread and three.
//
// Input: an option line, then the text read as one input file. Every byte
// of the option line becomes the argument "-<byte>" (those that are no
// option are operands, which are not opened here), but for 'l', which
// stands for --encoding=latin-1.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <typeinfo>
#include <vector>

#include "driver/karvel.hpp"
#include "fuzz/fuzz_support.hpp"
#include "threads/parallel.hpp"

using namespace Karvel;

namespace {

// What the program writes for the text, or its output up to the error and
// then the error.
std::string Run(std::string_view text, const Karvel::Run_Settings& settings) {
  std::string sink;
  Text_IO::Text_Output out(&sink);
  try {
    Text_IO::Text_Input in(text, Text_IO::Text_Input::Borrowed{});
    Karvel::Read_Matrices(in, settings, out);
    out.Flush();
  } catch (const Errors::Error& e) {
    out.Flush();
    sink += "\n" + Fuzz::Describe(e);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "an exception of a kind the program does not name: %s: %s\n", typeid(e).name(), e.what());
    std::abort();
  }
  return sink;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto [options, text] = Fuzz::Split(data, size);
  std::vector<std::string> arguments;
  for (char c : options) arguments.push_back(c == 'l' ? std::string("--encoding=latin-1") : std::string("-") + c);
  const Karvel::Run_Settings settings = Karvel::Parse_Arguments(arguments);
  const Fuzz::Exact_Copy copy(text);

  Generic::Parallel::Set_Threads(1);
  const std::string want = Run(copy.View(), settings);
  Generic::Parallel::Set_Threads(3);
  const std::string got = Run(copy.View(), settings);
  if (got != want) Fuzz::Differ("one thread against three", want, got);
  return 0;
}
