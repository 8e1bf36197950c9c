// karvel on the ranks of an MPI job:
//
//   mpirun -n R karvel_mpi --output=FILE [karvel's options] FILE...
//
// Every rank reads every input. The blocks of rows of a distance matrix
// are dealt out in turn (block k to rank k mod R), so each round of R
// blocks covers consecutive rows; each rank computes and formats its block,
// and an exclusive prefix sum of the rounds' byte counts tells it where its
// text goes in the file. The file is the bytes one karvel process writes.
// It is written under a temporary name beside FILE and renamed when all is
// written; on an error it is removed, rank 0 reports the error as karvel
// does, and every rank exits with status 1.

#include <mpi.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/karvel.hpp"
#include "driver/options_table.hpp"
#include "generic/parallel.hpp"
#include "generic/progress.hpp"
#include "generic/text_io.hpp"

namespace {

namespace Pipeline = Phylo::Pipeline;
using Phylo::Distfunc::Row_Part;

void Put_Line(const std::string& line) {
  Text_IO::Text_Output err(STDERR_FILENO);
  err.Put(line);
  err.New_Line();
  try {
    err.Flush();
  } catch (const Errors::Device_Error&) {
  }
}

// The one file of the job, written at offsets every rank works out alike.
class Shared_File {
public:
  Shared_File(const std::string& name) {
    if (MPI_File_open(MPI_COMM_WORLD, name.c_str(), MPI_MODE_CREATE | MPI_MODE_WRONLY, MPI_INFO_NULL, &file_) !=
        MPI_SUCCESS)
      throw Errors::Use_Error("cannot open " + name);
    MPI_File_set_size(file_, 0);
  }
  ~Shared_File() { MPI_File_close(&file_); }
  Shared_File(const Shared_File&) = delete;
  Shared_File& operator=(const Shared_File&) = delete;

  // This rank's pieces at `offset` after what the job has written so far.
  void Write(const std::vector<std::string>& pieces, std::int64_t offset) {
    for (const std::string& piece : pieces) {
      for (std::size_t done = 0; done < piece.size();) {
        const int count = static_cast<int>(std::min<std::size_t>(piece.size() - done, std::size_t{1} << 30));
        MPI_Status status;
        if (MPI_File_write_at(file_, static_cast<MPI_Offset>(base_ + offset), piece.data() + done, count, MPI_CHAR,
                              &status) != MPI_SUCCESS)
          throw Errors::Device_Error("the output file cannot be written");
        done += static_cast<std::size_t>(count);
        offset += count;
      }
    }
  }
  // Every rank's pieces of one round, one after the other in rank order.
  void Write_Round(const std::vector<std::string>& pieces) {
    std::int64_t bytes = 0;
    for (const std::string& piece : pieces) bytes += static_cast<std::int64_t>(piece.size());
    std::int64_t before = 0, total = 0;
    MPI_Exscan(&bytes, &before, 1, MPI_INT64_T, MPI_SUM, MPI_COMM_WORLD);
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    if (rank == 0) before = 0; // MPI leaves rank 0's undefined
    MPI_Allreduce(&bytes, &total, 1, MPI_INT64_T, MPI_SUM, MPI_COMM_WORLD);
    Write(pieces, before);
    base_ += total;
  }
  // Text that rank 0 alone has made (a header, data), of a length all learn.
  void Write_From_First(const std::string& text) {
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    std::vector<std::string> pieces;
    if (rank == 0) pieces.push_back(text);
    Write_Round(pieces);
  }

private:
  MPI_File file_;
  std::int64_t base_ = 0;
};

std::string Text_Of(auto write) {
  std::string text;
  Text_IO::Text_Output out(&text);
  write(out);
  out.Flush();
  return text;
}

// The distances of one matrix, round after round of blocks. A failing pair
// is agreed on by all ranks (the first in the order of the rows, or of the
// taxa when the whole matrix fits the budget, as one process reports it)
// and raised by every rank alike.
void Put_Distances(Shared_File& file, Pipeline::Data data, const Karvel::Run_Settings& s,
                   const Pipeline::Formula& formula, int rank, int ranks) {
  const int taxa = data.Taxa();
  const bool whole = Pipeline::Fits(taxa, s.Memory);
  const Pipeline::Row_Blocks blocks(std::move(data), formula);
  const Row_Part part = Pipeline::Part_Of(s.Output);
  const Phylo::Distfunc::Pair_Order order =
      whole ? Phylo::Distfunc::Pair_Order::TAXA : Phylo::Distfunc::Pair_Order::ROWS;
  const Phylo::Print::Row_Layout layout = Phylo::Print::Layout_Of(
      blocks.Labels(), s.Output, Phylo::Print::Default_Fore, s.Aft, Phylo::Print::Default_Exp);
  file.Write_From_First(
      rank == 0 ? Text_Of([&](Text_IO::Text_Output& out) { Phylo::Print::Print_Header(out, blocks.Labels(), s.Output); })
                : std::string());

  // Some four rounds at least, so that every rank has blocks and the
  // rounds' ends, where ranks wait for one another, are balanced.
  const int rows = std::max(1, std::min(Pipeline::Block_Rows(taxa, s.Memory), (taxa + 4 * ranks - 1) / (4 * ranks)));
  const int block_count = (taxa + rows - 1) / rows;
  const auto width = static_cast<std::size_t>(taxa);
  std::vector<double> values(static_cast<std::size_t>(rows) * width);
  std::vector<std::string> pieces;
  // Pairs as one number in the order asked for; none is the largest.
  const auto key_of = [&](Phylo::Distfunc::Failed_Pair f) -> std::int64_t {
    if (!f.Found()) return std::numeric_limits<std::int64_t>::max();
    const bool by_later = part == Row_Part::BEFORE && order == Phylo::Distfunc::Pair_Order::ROWS;
    return by_later ? std::int64_t{f.J} * taxa + f.I : std::int64_t{f.I} * taxa + f.J;
  };
  std::int64_t first_failure = std::numeric_limits<std::int64_t>::max();
  // Rank 0 shows the rows of the whole job: each round's are written when
  // it ends.
  Generic::Progress::Stage progress("distances", static_cast<std::uint64_t>(taxa), Generic::Progress::Unit::TAXA);
  for (int round = 0; round * ranks < block_count; ++round) {
    const int block = round * ranks + rank;
    const int first = std::min(taxa, block * rows), past = std::min(taxa, first + rows);
    Phylo::Distfunc::Failed_Pair failed;
    if (first < past) failed = blocks.Compute(first, past, part, order, values.data());
    std::int64_t key = key_of(failed), least = 0;
    MPI_Allreduce(&key, &least, 1, MPI_INT64_T, MPI_MIN, MPI_COMM_WORLD);
    first_failure = std::min(first_failure, least);
    // Under the order of the taxa a later row of a lower triangle may still
    // hold an earlier pair: then the rounds go on, writing nothing.
    if (first_failure != std::numeric_limits<std::int64_t>::max()) {
      if (order == Phylo::Distfunc::Pair_Order::ROWS || part != Row_Part::BEFORE) break;
      continue;
    }
    pieces.clear();
    if (first < past) Pipeline::Format_Rows(pieces, blocks.Labels(), values.data(), first, first, past, layout);
    file.Write_Round(pieces);
    const std::int64_t round_first = std::int64_t{round} * ranks * rows;
    progress.Advance(static_cast<std::uint64_t>(std::min<std::int64_t>(taxa, round_first + std::int64_t{ranks} * rows) -
                                                std::min<std::int64_t>(taxa, round_first)));
  }
  if (first_failure != std::numeric_limits<std::int64_t>::max()) {
    const int a = static_cast<int>(first_failure / taxa), b = static_cast<int>(first_failure % taxa);
    const bool by_later = part == Row_Part::BEFORE && order == Phylo::Distfunc::Pair_Order::ROWS;
    blocks.Raise(by_later ? Phylo::Distfunc::Failed_Pair{b, a} : Phylo::Distfunc::Failed_Pair{a, b});
  }
  file.Write_From_First(
      rank == 0 ? Text_Of([&](Text_IO::Text_Output& out) { Phylo::Print::Print_Footer(out, s.Output); })
                : std::string());
}

// What the job was doing when an error came, for the second line of the
// report, as karvel gives it.
struct Whereabouts {
  std::string input;
  bool reading = false;
  long matrix_line = 0;
};
Whereabouts where;

void Run(Shared_File& file, const std::vector<std::string>& operands, const Karvel::Run_Settings& s, int rank,
         int ranks) {
  const Pipeline::Formula formula{s.Binary_Formula, s.Discrete_Formula, s.Real_Formula, s.Implied_Transformation};
  for (const std::string& operand : operands) {
    if (operand == "-")
      throw Errors::Constraint_Error("every rank reads the inputs itself, so standard input cannot be one");
    where = {operand, false, 0};
    const std::unique_ptr<Text_IO::Text_Input> input = Text_IO::Text_Input::Open(operand);
    input->Skip_Byte_Order_Mark();
    const bool phylip_like = s.Format == Phylo::Read::Input_Format::PHYLIP ||
                             s.Format == Phylo::Read::Input_Format::EXTENDED_PHYLIP ||
                             s.Format == Phylo::Read::Input_Format::COMMENTED_PHYLIP;
    while (!input->At_End_Of_Input()) {
      // Blanks before a header are passed over first, so that the matrix's
      // line is its header's.
      for (int c = input->Peek(); phylip_like && (c == ' ' || c == '\t' || c == '\r' || c == '\n'); c = input->Peek())
        input->Get();
      where.matrix_line = input->Line();
      where.reading = true;
      Pipeline::Data data = Pipeline::Read(*input, s.Format, s.Datatype);
      where.reading = false;
      if (s.Transformation && s.Datatype == Karvel::Input_Datatype::CONTINUOUS)
        Pipeline::Transform(data, *s.Transformation);
      if (s.Print_Data) {
        file.Write_From_First(rank == 0 ? Text_Of([&](Text_IO::Text_Output& out) {
          Pipeline::Put_Data(out, data, s.Output, s.Aft);
        })
                                        : std::string());
        continue;
      }
      Put_Distances(file, std::move(data), s, formula, rank, ranks);
    }
  }
  where = {};
}

// The second line of a report, or nothing.
std::string Detail_Of(const Errors::Error& error) {
  if (dynamic_cast<const Errors::Name_Error*>(&error) || dynamic_cast<const Errors::Use_Error*>(&error))
    return error.what();
  if (where.input.empty()) return "";
  if (dynamic_cast<const Errors::Data_Error*>(&error)) return where.input + ":" + error.what();
  if (dynamic_cast<const Errors::Device_Error*>(&error) && !where.reading) return "";
  if (where.reading) return "while reading " + where.input;
  return "in the matrix that starts on line " + std::to_string(where.matrix_line) + " of " + where.input;
}

// The report karvel gives for an error: its first line, then the detail.
std::string Report(const std::exception_ptr& error) {
  const auto with = [](std::string first, const std::string& detail) {
    return detail.empty() ? first : first + "\nkarvel: " + detail;
  };
  try {
    std::rethrow_exception(error);
  } catch (const Karvel::Errors::Usage_Error& e) {
    return std::string("karvel: ") + e.what();
  } catch (const Errors::Name_Error& e) {
    return with("Invalid filename.", Detail_Of(e));
  } catch (const Errors::Use_Error& e) {
    return with("Invalid filename.", Detail_Of(e));
  } catch (const Errors::Data_Error& e) {
    return with("Wrong file format.", Detail_Of(e));
  } catch (const Errors::Error& e) {
    return with(std::string("karvel: ") + e.Name() + ": " + e.what(), Detail_Of(e));
  } catch (const std::bad_alloc&) {
    return "karvel: STORAGE_ERROR: out of memory";
  } catch (const std::exception& e) {
    return std::string("karvel: PROGRAM_ERROR: ") + e.what();
  }
}

int Main(int argc, char** argv, int rank, int ranks) {
  std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  // --output=FILE is this program's own; the leftmost one counts.
  std::string output;
  for (std::size_t k = arguments.size(); k-- > 0;)
    if (arguments[k].starts_with("--output=")) {
      output = arguments[k].substr(9);
      arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(k));
    }
  if (output.empty()) {
    if (rank == 0) Put_Line("karvel: CONSTRAINT_ERROR: with MPI the distances go to --output=FILE");
    return 1;
  }
  // Rank 0 names the temporary file; the others learn its name.
  std::string temporary = output + ".part-" + std::to_string(getpid());
  int length = static_cast<int>(temporary.size());
  MPI_Bcast(&length, 1, MPI_INT, 0, MPI_COMM_WORLD);
  temporary.resize(static_cast<std::size_t>(length));
  MPI_Bcast(temporary.data(), length, MPI_CHAR, 0, MPI_COMM_WORLD);

  std::exception_ptr error;
  try {
    const Karvel::Run_Settings settings = Karvel::Parse_Arguments(arguments);
    if (settings.Threads) Generic::Parallel::Set_Threads(*settings.Threads);
    std::optional<Generic::Progress::Display> display;
    if (rank == 0) display.emplace(settings.Progress);
    if (settings.Rows || settings.Part)
      throw Errors::Constraint_Error("the ranks share out the rows themselves: --rows and --part are for karvel");
    if (settings.Binary_Output || settings.Undefined_As_NaN)
      throw Errors::Constraint_Error("karvel_mpi writes the text layouts, with --undefined=error");
    if (arguments.empty()) {
      if (rank == 0) {
        Text_IO::Text_Output err(STDERR_FILENO);
        Karvel::Put_Usage(err, argc > 0 ? argv[0] : "karvel_mpi");
        err.Flush();
      }
      return 1;
    }
    Shared_File file(temporary);
    Run(file, arguments, settings, rank, ranks);
  } catch (...) {
    error = std::current_exception();
  }
  // Every rank meets here whether it failed or not: the failures karvel
  // reports come from the input and the options, which every rank reads
  // alike, or from a pair all ranks have agreed on.
  int failed = error ? 1 : 0, any = 0;
  MPI_Allreduce(&failed, &any, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  if (rank == 0) {
    if (any) {
      std::remove(temporary.c_str());
    } else if (std::rename(temporary.c_str(), output.c_str()) != 0) {
      std::remove(temporary.c_str());
      error = std::make_exception_ptr(Errors::Device_Error("cannot rename the output file to " + output));
      any = 1;
    }
    if (error) Put_Line(Report(error));
  }
  MPI_Bcast(&any, 1, MPI_INT, 0, MPI_COMM_WORLD);
  return any ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  int rank = 0, ranks = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &ranks);
  const int status = Main(argc, argv, rank, ranks);
  MPI_Finalize();
  return status;
}
