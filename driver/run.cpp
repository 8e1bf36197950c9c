#include <charconv>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "driver/karvel.hpp"
#include "generic/parallel.hpp"
#include "transform/disc_to_binary.hpp"

namespace Karvel {

namespace {

using Phylo::Print::Default_Aft;
using Phylo::Print::Default_Exp;
using Phylo::Print::Default_Fore;

// '1' is presence, '0' absence, every other character unknown.
const Phylo::Disc_To_Binary::Binary_Translator& Zero_One_Translator() {
  static const Phylo::Disc_To_Binary::Binary_Translator table = [] {
    Phylo::Disc_To_Binary::Binary_Translator t;
    t.fill(Phylo::Binary::UNKNOWN);
    t[static_cast<unsigned char>('1')] = Phylo::Binary::PRESENCE;
    t[static_cast<unsigned char>('0')] = Phylo::Binary::ABSENCE;
    return t;
  }();
  return table;
}

// Runs a distance routine; a failing pair is reported with its labels, so
// the user sees which taxa to look at.
template <class Compute>
Generic::Square_Block With_Pair_Labels(const Phylo::Taxon_Labels& labels, int first, Compute compute) {
  try {
    return compute();
  } catch (const Phylo::Distfunc::Pair_Taxa& pair) {
    const auto& error = dynamic_cast<const Errors::Error&>(pair);
    auto taxon = [&](int t) {
      return "taxon " + std::to_string(t - first + 1) + " '" + labels[static_cast<std::size_t>(t - first)] + "'";
    };
    throw Errors::Error(error.Name(), std::string(error.what()) + " between " + taxon(pair.I) + " and " +
                                          taxon(pair.J));
  }
}

// Runs a transformation; a row that fails its range check is reported with
// its label.
void Transform_With_Row_Labels(Phylo::Real_Data& data, Phylo::Real_Chars::Transformation transformation) {
  try {
    Phylo::Real_Chars::Transform_Matrix(data.Matrix, transformation);
  } catch (const Phylo::Real_Chars::Row_Range_Error& e) {
    throw Errors::Constraint_Error(e.Labelled(data.Labels[e.Row]));
  }
}

template <class Data>
Phylo::Squared_Access Make_Squared(const Data& data) {
  auto squared = std::make_unique<Phylo::Squared>(data.First, data.Last);
  squared->Labels = data.Labels;
  return squared;
}

void Print_Distances(Phylo::Squared_Access& squared, const Run_Settings& s, Text_IO::Text_Output& out) {
  Phylo::Print::Put(out, *squared, s.Output, Default_Fore, Default_Aft, Default_Exp);
  squared.reset();
}

void Discrete_Matrix(Text_IO::Text_Input& in, const Run_Settings& s, Text_IO::Text_Output& out) {
  Phylo::Disc_Data_Access data = Phylo::Read::Get(in, s.Format, Phylo::Read::Whitespace());
  if (s.Print_Data) {
    Phylo::Print::Put(out, *data, Data_Format_Of(s.Output));
    Phylo::Free_Data(data);
    return;
  }
  Phylo::Squared_Access squared = Make_Squared(*data);
  squared->Matrix = With_Pair_Labels(data->Labels, data->First, [&] {
    return Phylo::Distfunc::Distances(data->Matrix, s.Discrete_Formula);
  });
  Phylo::Free_Data(data);
  Print_Distances(squared, s, out);
}

void Binary_Matrix(Text_IO::Text_Input& in, const Run_Settings& s, Text_IO::Text_Output& out) {
  Phylo::Disc_Data_Access data = Phylo::Read::Get(in, s.Format, Phylo::Read::Whitespace());
  if (s.Print_Data) {
    // Binary data are printed as read, before any translation.
    Phylo::Print::Put(out, *data, Data_Format_Of(s.Output));
    Phylo::Free_Data(data);
    return;
  }
  auto binary = std::make_unique<Phylo::Binary_Data>(data->First, data->Last);
  binary->Labels = data->Labels;
  binary->Matrix = Phylo::Disc_To_Binary::Translate(data->Matrix, Zero_One_Translator());
  Phylo::Free_Data(data);
  Phylo::Squared_Access squared = Make_Squared(*binary);
  squared->Matrix = With_Pair_Labels(binary->Labels, binary->First, [&] {
    return Phylo::Distfunc::Distances(binary->Matrix, s.Binary_Formula);
  });
  Phylo::Free_Data(binary);
  Print_Distances(squared, s, out);
}

void Continuous_Matrix(Text_IO::Text_Input& in, const Run_Settings& s, Text_IO::Text_Output& out) {
  Phylo::Real_Data_Access data = Phylo::Read::Get(in, s.Format);
  if (s.Transformation) Transform_With_Row_Labels(*data, *s.Transformation);
  if (s.Print_Data) {
    // The implied transformation belongs to the distance and is not printed.
    Phylo::Print::Put(out, *data, Data_Format_Of(s.Output), Default_Fore, Default_Aft, Default_Exp);
    Phylo::Free_Data(data);
    return;
  }
  if (s.Implied_Transformation) Transform_With_Row_Labels(*data, *s.Implied_Transformation);
  Phylo::Squared_Access squared = Make_Squared(*data);
  squared->Matrix = With_Pair_Labels(data->Labels, data->First, [&] {
    return Phylo::Distfunc::Distances(data->Matrix, s.Real_Formula, 0.0);
  });
  Phylo::Free_Data(data);
  Print_Distances(squared, s, out);
}

void Put_Line(int fd, const std::string& line) {
  Text_IO::Text_Output err(fd);
  err.Put(line);
  err.New_Line();
  try {
    err.Flush();
  } catch (const Errors::Device_Error&) {
  }
}

// What was printed for earlier matrices goes out before the error line.
void Flush_Quietly(Text_IO::Text_Output& out) {
  try {
    out.Flush();
  } catch (const Errors::Device_Error&) {
  }
}

// KARVEL_THREADS, where set, says how many threads the heavy stages use.
void Take_Thread_Setting() {
  const char* text = std::getenv("KARVEL_THREADS");
  if (!text) return;
  const std::string_view value(text);
  int count = 0;
  const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), count);
  if (ec != std::errc() || end != value.data() + value.size() || count < 1 || count > 1024)
    throw Errors::Constraint_Error("KARVEL_THREADS must be a whole number from 1 to 1024, not \"" +
                                   std::string(value) + "\"");
  Generic::Parallel::Set_Threads(count);
}

} // namespace

Phylo::Print::Output_Format Data_Format_Of(Phylo::Print::Dist_Output_Format format) {
  using D = Phylo::Print::Dist_Output_Format;
  using O = Phylo::Print::Output_Format;
  switch (format) {
  case D::LABELS: return O::LABELS;
  case D::NEXUS: return O::NEXUS;
  case D::NEXUS_ENCLOSED: return O::NEXUS_ENCLOSED;
  case D::PHYLIP: return O::PHYLIP;
  case D::RAW: return O::RAW;
  case D::EXTENDED_PHYLIP:
  case D::ONE_COLUMN:
  case D::TAB_SEPARATED: break;
  }
  return O::EXTENDED_PHYLIP;
}

void Read_Matrices(Text_IO::Text_Input& input, const Run_Settings& s, Text_IO::Text_Output& output) {
  while (!input.At_End_Of_Input()) {
    switch (s.Datatype) {
    case Input_Datatype::DISCRETE: Discrete_Matrix(input, s, output); break;
    case Input_Datatype::BINARY: Binary_Matrix(input, s, output); break;
    case Input_Datatype::CONTINUOUS: Continuous_Matrix(input, s, output); break;
    }
  }
}

void Traverse_Files(const std::vector<std::string>& operands, const Run_Settings& settings,
                    Text_IO::Text_Output& output) {
  for (const std::string& operand : operands) {
    std::unique_ptr<Text_IO::Text_Input> input =
        operand == "-" ? Text_IO::Text_Input::Standard_Input() : Text_IO::Text_Input::Open(operand);
    Read_Matrices(*input, settings, output);
  }
}

int Main(int argc, char** argv) {
  Text_IO::Text_Output out(STDOUT_FILENO);
  const std::string invocation = argc > 0 ? argv[0] : "karvel";
  try {
    Take_Thread_Setting();
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const Run_Settings settings = Parse_Arguments(arguments);
    if (arguments.empty()) {
      Text_IO::Text_Output err(STDERR_FILENO);
      Put_Usage(err, invocation);
      Flush_Quietly(err);
      return 1;
    }
    Traverse_Files(arguments, settings, out);
    out.Flush();
    return 0;
  } catch (const Errors::Name_Error&) {
    Flush_Quietly(out);
    Put_Line(STDERR_FILENO, "Invalid filename.");
  } catch (const Errors::Use_Error&) {
    Flush_Quietly(out);
    Put_Line(STDERR_FILENO, "Invalid filename.");
  } catch (const Errors::Data_Error&) {
    Flush_Quietly(out);
    Put_Line(STDERR_FILENO, "Wrong file format.");
  } catch (const Errors::Error& e) {
    Flush_Quietly(out);
    Put_Line(STDERR_FILENO, std::string("karvel: ") + e.Name() + ": " + e.what());
  } catch (const std::bad_alloc&) {
    Flush_Quietly(out);
    Put_Line(STDERR_FILENO, "karvel: STORAGE_ERROR: out of memory");
  } catch (const std::exception& e) {
    // Anything else the system refuses still ends the run with a report,
    // not an abort.
    Flush_Quietly(out);
    Put_Line(STDERR_FILENO, std::string("karvel: PROGRAM_ERROR: ") + e.what());
  }
  return 1;
}

} // namespace Karvel
