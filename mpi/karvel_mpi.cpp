// karvel on the ranks of an MPI job:
//
//   mpirun -n R karvel_mpi --output=FILE [karvel's options] FILE...
//
// Every rank reads every input (standard input, "-", is read by rank 0 and
// sent to the others). The blocks of rows of a distance matrix are dealt
// out in turn (block k to rank k mod R), so each round of R blocks covers
// consecutive rows; each rank computes and formats its block, and an
// exclusive prefix sum of the rounds' byte counts tells it where its text
// goes in the file. The npy layouts need no sum: a row's place follows from
// the number of taxa. The file is the bytes one karvel process writes.
// It is written under a temporary name beside FILE, which rank 0 creates
// (mpi/job_files.hpp) and the others open, and renamed when all is
// written; on an error it is removed, rank 0 reports the error as karvel
// does, and every rank exits with status 1. A signal that ends a rank
// removes it too: mpirun sends SIGTERM to the other ranks when one dies.
//
// A rank may fail alone (memory, its disk, its copy of an input), and the
// others would then wait for it in the next collective call for ever. So
// every stretch of work a rank does by itself ends in an agreement (one
// MPI_Allreduce of "did it go well"), and when any rank failed, all of them
// leave together: the lowest failing rank's report is the one printed.
// What slips past an agreement ends the job with MPI_Abort.

#include <mpi.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/karvel.hpp"
#include "driver/options_table.hpp"
#include "driver/report.hpp"
#include "threads/parallel.hpp"
#include "threads/progress.hpp"
#include "write/temporaries.hpp"
#include "text/text_io.hpp"
#include "diagnostics/warnings.hpp"
#include "read/label_checks.hpp"
#include "write/write_binary.hpp"
#include "mpi/job_files.hpp"

using namespace Karvel;

namespace {

namespace Pipeline = Phylo::Pipeline;
namespace Mpi = Karvel::Mpi;
namespace Report = Karvel::Report;
namespace Binary = Phylo::Binary_Output;
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

// Thrown on every rank at once when the ranks have agreed that one of them
// failed; `own` is this rank's error, if it had one.
struct Stopped {
  std::exception_ptr own;
};

// Runs this rank's `work`, then learns whether every rank's went well.
// Never nested: the agreements of all ranks must pair up one to one.
void Agreed(auto work) {
  std::exception_ptr error;
  try {
    work();
  } catch (...) {
    error = std::current_exception();
  }
  int failed = error ? 1 : 0, any = 0;
  MPI_Allreduce(&failed, &any, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  if (any) throw Stopped{error};
}

// The text of rank 0 (standard input) on every rank: its size, then its
// bytes in pieces an int can count.
void Broadcast(std::string& text, int rank) {
  std::uint64_t size = text.size();
  MPI_Bcast(&size, 1, MPI_UINT64_T, 0, MPI_COMM_WORLD);
  Agreed([&] {
    if (rank != 0) text.resize(size);
  });
  for (std::uint64_t done = 0; done < size;) {
    const int count = static_cast<int>(std::min<std::uint64_t>(size - done, std::uint64_t{1} << 30));
    MPI_Bcast(text.data() + done, count, MPI_CHAR, 0, MPI_COMM_WORLD);
    done += static_cast<std::uint64_t>(count);
  }
}

// The one file of the job, written at offsets every rank works out alike.
class Shared_File {
public:
  // Collective; Check_Open() tells whether it worked, to be agreed on. The
  // temporary `name` exists already (rank 0 made it): it is neither created
  // nor truncated here, so a name that leads elsewhere spoils nothing
  // before the check.
  Shared_File(const std::string& name, const std::string& shown) : name_(name), shown_(shown) {
    if (MPI_File_open(MPI_COMM_WORLD, name.c_str(), MPI_MODE_WRONLY, MPI_INFO_NULL, &file_) != MPI_SUCCESS)
      file_ = MPI_FILE_NULL;
  }
  ~Shared_File() {
    if (file_ != MPI_FILE_NULL) MPI_File_close(&file_);
  }
  Shared_File(const Shared_File&) = delete;
  Shared_File& operator=(const Shared_File&) = delete;

  // Whether this rank has the file rank 0 created: the name is no link and
  // leads to its inode (on rank 0 also its device; another machine may
  // number the device of a shared file system otherwise).
  void Check_Open(const Mpi::File_Identity& identity, int rank) const {
    const std::string which = "rank " + std::to_string(rank) + " cannot open '" + name_ + "', ";
    if (file_ == MPI_FILE_NULL)
      throw Errors::Device_Error("cannot write '" + shown_ + "': " + which +
                                 "which rank 0 created (every rank must see the output's folder)");
    if (!Mpi::Is_File(name_, identity, rank == 0))
      throw Errors::Device_Error("cannot write '" + shown_ + "': " + which + "no longer the file rank 0 created");
  }

  // Collective: where this rank's `bytes` go after what the job has
  // written so far, the ranks' bytes following one another in rank order.
  std::int64_t Place(std::int64_t bytes, int rank) {
    std::int64_t before = 0, total = 0;
    MPI_Exscan(&bytes, &before, 1, MPI_INT64_T, MPI_SUM, MPI_COMM_WORLD);
    if (rank == 0) before = 0; // MPI leaves rank 0's undefined
    MPI_Allreduce(&bytes, &total, 1, MPI_INT64_T, MPI_SUM, MPI_COMM_WORLD);
    const std::int64_t at = base_ + before;
    base_ += total;
    return at;
  }

  // This rank alone. Open MPI's MPI-IO reports a failed write(2) (a full
  // disk, the limit on a file's size) only in the count of bytes written,
  // returning MPI_SUCCESS, so the count is what tells.
  void Write_At(std::int64_t offset, const char* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
      const int count = static_cast<int>(std::min<std::size_t>(size - done, std::size_t{1} << 30));
      MPI_Status status;
      errno = 0;
      const int error =
          MPI_File_write_at(file_, static_cast<MPI_Offset>(offset), data + done, count, MPI_CHAR, &status);
      int written = 0;
      if (error == MPI_SUCCESS && MPI_Get_count(&status, MPI_CHAR, &written) != MPI_SUCCESS) written = 0;
      if (error != MPI_SUCCESS || written <= 0)
        throw Errors::Device_Error("cannot write '" + shown_ + "': " +
                                   Mpi::Write_Failure(static_cast<std::uint64_t>(offset + count),
                                                      error != MPI_SUCCESS ? Why(error) : Why_Short(errno)));
      done += static_cast<std::size_t>(written);
      offset += written;
    }
  }

private:
  // The errno of the write(2) that failed inside MPI-IO, when it survived.
  static std::string Why_Short(int error) {
    return error != 0 ? std::string(std::strerror(error)) : std::string("the file system took no more bytes");
  }
  static std::string Why(int error) {
    char text[MPI_MAX_ERROR_STRING];
    int length = 0;
    if (MPI_Error_string(error, text, &length) != MPI_SUCCESS) return "MPI-IO failed";
    return std::string(text, static_cast<std::size_t>(length));
  }

  std::string name_;
  std::string shown_;
  MPI_File file_ = MPI_FILE_NULL;
  std::int64_t base_ = 0;
};

// One round of text: each rank's pieces (made by `make`), one rank's after
// the other's.
void Write_Round(Shared_File& file, int rank, auto make) {
  std::vector<std::string> pieces;
  Agreed([&] { make(pieces); });
  std::int64_t bytes = 0;
  for (const std::string& piece : pieces) bytes += static_cast<std::int64_t>(piece.size());
  std::int64_t at = file.Place(bytes, rank);
  Agreed([&] {
    for (const std::string& piece : pieces) {
      file.Write_At(at, piece.data(), piece.size());
      at += static_cast<std::int64_t>(piece.size());
    }
  });
}

std::string Text_Of(auto write) {
  std::string text;
  Text_IO::Text_Output out(&text);
  write(out);
  out.Flush();
  return text;
}

// Text that rank 0 alone makes (a header, data).
void Write_From_First(Shared_File& file, int rank, auto write) {
  Write_Round(file, rank, [&](std::vector<std::string>& pieces) {
    if (rank == 0) pieces.push_back(Text_Of(write));
  });
}

struct Job {
  int rank = 0;
  int ranks = 1;
  // Rows per block: some four rounds at least, so that every rank has
  // blocks and the rounds' ends, where ranks wait for one another, are
  // balanced.
  int Rows_Per_Block(int taxa, std::size_t memory) const {
    return std::max(1, std::min(Pipeline::Block_Rows(taxa, memory), (taxa + 4 * ranks - 1) / (4 * ranks)));
  }
};

// Pairs as one number in a given order; none is the largest.
constexpr std::int64_t No_Pair = std::numeric_limits<std::int64_t>::max();

// The least of the ranks' keys of a failing pair.
std::int64_t Least(std::int64_t key) {
  std::int64_t least = 0;
  MPI_Allreduce(&key, &least, 1, MPI_INT64_T, MPI_MIN, MPI_COMM_WORLD);
  return least;
}

// The distances of one matrix, round after round of blocks: in round r,
// rank k computes block r * ranks + k (its rows of `part` of each row) and
// `write_block(first, past, values)` writes them, collectively, in the
// layout's way. A failing pair is agreed on by all ranks (the first in the
// order of the taxa, as one process reports it) and raised by every rank
// alike; the file is then removed, so no rank writes rows after it.
void Put_Rounds(const Pipeline::Row_Blocks& blocks, Row_Part part, const Karvel::Run_Settings& s, const Job& job,
                auto write_block) {
  const int taxa = blocks.Taxa();
  const int rows = job.Rows_Per_Block(taxa, s.Memory);
  const int block_count = (taxa + rows - 1) / rows;
  std::vector<double> values;
  Agreed([&] { values.resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(taxa)); });
  std::int64_t first_failure = No_Pair;
  // Rank 0 shows the rows of the whole job: each round's are written when
  // it ends.
  Generic::Progress::Stage progress("distances", static_cast<std::uint64_t>(taxa), Generic::Progress::Unit::TAXA);
  for (int round = 0; round * job.ranks < block_count; ++round) {
    const int block = round * job.ranks + job.rank;
    const int first = std::min(taxa, block * rows), past = std::min(taxa, first + rows);
    Phylo::Distfunc::Failed_Pair failed;
    Agreed([&] {
      if (first < past) failed = blocks.Compute(first, past, part, Phylo::Distfunc::Pair_Order::TAXA, values.data());
    });
    first_failure = std::min(first_failure, Least(failed.Found() ? std::int64_t{failed.I} * taxa + failed.J : No_Pair));
    // Every pair (i, j), i < j, that could come first is computed with row
    // i, so a failure ends the rounds, except in a lower triangle: a later
    // row may still hold a pair of an earlier taxon, and the rounds go on
    // writing nothing.
    if (first_failure != No_Pair) {
      if (part != Row_Part::BEFORE) break;
      continue;
    }
    write_block(first, past, values.data());
    const std::int64_t round_first = std::int64_t{round} * job.ranks * rows;
    progress.Advance(static_cast<std::uint64_t>(
        std::min<std::int64_t>(taxa, round_first + std::int64_t{job.ranks} * rows) -
        std::min<std::int64_t>(taxa, round_first)));
  }
  if (first_failure != No_Pair)
    Agreed([&] {
      blocks.Raise(Phylo::Distfunc::Failed_Pair{static_cast<int>(first_failure / taxa),
                                                static_cast<int>(first_failure % taxa)});
    });
}

// A text layout: rank 0 writes the header and the footer, and every round
// the ranks' rows follow one another.
void Put_Distances(Shared_File& file, const Pipeline::Row_Blocks& blocks, const Karvel::Run_Settings& s,
                   const Job& job) {
  std::optional<Phylo::Print::Row_Layout> layout;
  Agreed([&] {
    layout.emplace(Phylo::Print::Layout_Of(blocks.Labels(), s.Output, Phylo::Print::Default_Fore, s.Aft,
                                           Phylo::Print::Default_Exp));
  });
  Write_From_First(file, job.rank,
                   [&](Text_IO::Text_Output& out) { Phylo::Print::Print_Header(out, blocks.Labels(), s.Output); });
  Put_Rounds(blocks, Pipeline::Part_Of(s.Output), s, job, [&](int first, int past, const double* values) {
    Write_Round(file, job.rank, [&](std::vector<std::string>& pieces) {
      if (first < past) Pipeline::Format_Rows(pieces, blocks.Labels(), values, first, first, past, *layout);
    });
  });
  Write_From_First(file, job.rank, [&](Text_IO::Text_Output& out) { Phylo::Print::Print_Footer(out, s.Output); });
}

// The one matrix of an npy file: rank 0 writes the header (and the labels
// beside the file), each rank its blocks where Npy_Rows puts them.
void Put_Binary(Shared_File& file, const Pipeline::Row_Blocks& blocks, Binary::Layout layout,
                Mpi::Replaced_File* labels_file, const Karvel::Run_Settings& s, const Job& job) {
  const auto width = static_cast<std::size_t>(blocks.Taxa());
  const Row_Part part = Phylo::Print::Layout_Row(layout).Part;
  Agreed([&] {
    if (job.rank != 0) return;
    const std::string header = Binary::Npy_Header(width, layout);
    file.Write_At(0, header.data(), header.size());
    labels_file->Write(Text_Of([&](Text_IO::Text_Output& out) { Binary::Put_Labels(out, blocks.Labels()); }));
  });
  Put_Rounds(blocks, part, s, job, [&](int first, int past, double* values) {
    Agreed([&] {
      if (first >= past) return;
      const Binary::Byte_Range range = Binary::Npy_Rows(width, layout, static_cast<std::size_t>(first),
                                                        static_cast<std::size_t>(past));
      if (part == Row_Part::AFTER) {
        // Each row's values after the diagonal, packed where the row began.
        std::size_t to = 0;
        for (std::size_t row = static_cast<std::size_t>(first); row < static_cast<std::size_t>(past); ++row) {
          const double* from = values + (row - static_cast<std::size_t>(first)) * width;
          std::copy(from + row + 1, from + width, values + to);
          to += width - row - 1;
        }
      }
      file.Write_At(static_cast<std::int64_t>(range.Offset), reinterpret_cast<const char*>(values),
                    static_cast<std::size_t>(range.Size));
    });
  });
}

// The files beside the shared one that rank 0 writes: the labels of an npy
// matrix.
struct Beside {
  Mpi::Replaced_File* labels = nullptr;
  int matrices = 0;
};

void Run(Shared_File& file, const std::vector<std::string>& operands, const Karvel::Run_Settings& s, const Job& job,
         Beside& beside) {
  const Pipeline::Formula formula = Karvel::Run_Formula(s);
  const std::optional<Phylo::Real_Chars::Transformation> transformation = Karvel::Run_Transformation(s);
  for (const std::string& operand : operands) {
    Karvel::Position::Enter_Input(operand);
    std::unique_ptr<Text_IO::Text_Input> input;
    // Standard input reaches rank 0 only: it reads it whole and sends it on.
    std::string standard_text;
    Agreed([&] {
      if (operand != "-") {
        input = Text_IO::Text_Input::Open(operand);
      } else if (job.rank == 0) {
        Karvel::Position::Where().reading = true;
        const std::unique_ptr<Text_IO::Text_Input> in = Text_IO::Text_Input::Standard_Input();
        for (std::string_view piece = in->Window(1 << 20); !piece.empty(); piece = in->Window(1 << 20)) {
          standard_text.append(piece);
          in->Advance(piece.size());
        }
        Karvel::Position::Where().reading = false;
      }
    });
    if (operand == "-") {
      Broadcast(standard_text, job.rank);
      Agreed([&] { input = std::make_unique<Text_IO::Text_Input>(standard_text, Text_IO::Text_Input::Borrowed{}); });
    }
    for (bool first_matrix = true;; first_matrix = false) {
      std::optional<Pipeline::Row_Blocks> blocks;
      std::string data_text;
      bool more = false;
      Agreed([&] {
        if (first_matrix) input->Skip_Byte_Order_Mark();
        if (input->At_End_Of_Input()) return;
        more = true;
        Pipeline::Data data;
        try {
          data = Karvel::Read_Next_Matrix(*input, s);
        } catch (const Errors::Error& e) {
          Karvel::Position::Note_Hint(e, s.Format, input->Head());
          throw;
        }
        // Every rank finds them; only rank 0 has a sink.
        Karvel::Check_Labels_For_Output(data, s);
        if (transformation && s.Datatype == Karvel::Input_Datatype::CONTINUOUS)
          Pipeline::Transform(data, *transformation);
        if (s.Print_Data) {
          if (job.rank == 0)
            data_text = Text_Of([&](Text_IO::Text_Output& out) { Pipeline::Put_Data(out, data, s.Output, s.Aft); });
          return;
        }
        if (s.Binary_Output && ++beside.matrices > 1)
          throw Errors::Constraint_Error(std::string("an ") + Binary::Name(*s.Binary_Output) +
                                         " file holds one distance matrix, and the input holds more");
        blocks.emplace(std::move(data), formula);
      });
      if (!more) break;
      if (s.Print_Data) {
        Write_From_First(file, job.rank, [&](Text_IO::Text_Output& out) { out.Put(data_text); });
        continue;
      }
      if (s.Binary_Output)
        Put_Binary(file, *blocks, *s.Binary_Output, beside.labels, s, job);
      else
        Put_Distances(file, *blocks, s, job);
    }
  }
  Karvel::Position::Leave_Input();
}
// The report karvel gives for an error, its lines joined.
std::string Report_Text(const std::exception_ptr& error) {
  std::string text;
  for (const std::string& line : Report::Lines(error)) text += (text.empty() ? "" : "\n") + line;
  return text;
}

// For an error that escaped an agreement: this rank is out of step with
// the others, which may be waiting for it in a collective call, so nothing
// but MPI_Abort ends the job for sure.
[[noreturn]] void Abort_Out_Of_Step(const std::exception_ptr& error) {
  Put_Line(Report_Text(error));
  Generic::Temporaries::Remove_Registered();
  MPI_Abort(MPI_COMM_WORLD, 1);
  std::_Exit(1);
}

// After the ranks have agreed that the job failed: the lowest failing rank's
// report goes to rank 0, which prints it.
void Report_Once(const std::exception_ptr& error, const Job& job) {
  int mine = error ? job.rank : job.ranks, reporter = 0;
  MPI_Allreduce(&mine, &reporter, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  if (reporter == job.ranks) return;
  std::string report = job.rank == reporter ? Report_Text(error) : std::string();
  if (reporter != 0) {
    if (job.rank == reporter) {
      const int size = static_cast<int>(report.size());
      MPI_Send(&size, 1, MPI_INT, 0, 0, MPI_COMM_WORLD);
      MPI_Send(report.data(), size, MPI_CHAR, 0, 1, MPI_COMM_WORLD);
    } else if (job.rank == 0) {
      int size = 0;
      MPI_Recv(&size, 1, MPI_INT, reporter, 0, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
      report.resize(static_cast<std::size_t>(size));
      MPI_Recv(report.data(), size, MPI_CHAR, reporter, 1, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    }
  }
  if (job.rank == 0) Put_Line(report);
}

// What karvel_mpi writes, or a refusal.
void Check_Settings(const Karvel::Run_Settings& settings) {
  if (settings.Rows || settings.Part)
    throw Errors::Constraint_Error("the ranks share out the rows themselves: --rows and --part are for karvel");
  if (settings.Undefined_As_NaN)
    throw Errors::Constraint_Error("karvel_mpi ends at an undefined pair: --undefined=nan is for karvel");
  if (!settings.Binary_Output) return;
  if (!Phylo::Print::Layout_Row(*settings.Binary_Output).Blocks_Apart)
    throw Errors::Usage_Error("karvel_mpi writes npy and npy-condensed: ranks writing one hdf5 file would need "
                              "parallel HDF5, which it is not built with; write --to=npy, or run karvel");
  if (settings.Print_Data)
    throw Errors::Usage_Error(std::string("-W writes character data in text layouts, not in ") +
                              Binary::Name(*settings.Binary_Output));
}

// A name rank 0 knows, on every rank.
void Broadcast_Name(std::string& name, int rank) {
  int length = static_cast<int>(name.size());
  MPI_Bcast(&length, 1, MPI_INT, 0, MPI_COMM_WORLD);
  if (rank != 0) name.resize(static_cast<std::size_t>(length));
  MPI_Bcast(name.data(), length, MPI_CHAR, 0, MPI_COMM_WORLD);
}

int Main(int argc, char** argv, const Job& job, mode_t mask) {
  std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  Report::Note_Marked_Files(arguments);
  // The ranks write one file, and standard output is nobody's.
  const auto output_given = [](const std::string& argument) {
    return argument == "--output" || argument.starts_with("--output=");
  };
  if (std::none_of(arguments.begin(), std::find(arguments.begin(), arguments.end(), "--"), output_given)) {
    if (job.rank == 0) Put_Line("karvel: CONSTRAINT_ERROR: with MPI the distances go to --output=FILE");
    return 1;
  }
  Generic::Temporaries::Remove_On_Signals();
  try {
    Karvel::Run_Settings settings;
    bool usage = false;
    Agreed([&] {
      settings = Karvel::Parse_Arguments(arguments);
      Karvel::Take_Environment(settings.Threads);
      Check_Settings(settings);
      usage = arguments.empty();
      // Rank 0 replaces the file; what it sees as an input is what counts.
      if (job.rank == 0 && !usage) Karvel::Refuse_Output_Over_Input(settings, arguments);
    });
    const std::string output = *settings.Output_File;
    if (usage) {
      if (job.rank == 0) {
        Text_IO::Text_Output err(STDERR_FILENO);
        Karvel::Put_Usage(err, argc > 0 ? argv[0] : "karvel_mpi");
        err.Flush();
      }
      return 1;
    }
    // Every rank finds the same warnings: rank 0 alone prints them.
    if (job.rank == 0)
      Report::Warn_On_Standard_Error();
    std::optional<Generic::Progress::Display> display;
    if (job.rank == 0) display.emplace(settings.Progress);
    // Rank 0 creates the temporaries; every rank learns their names, to
    // remove them when a signal ends it.
    std::optional<Mpi::Replaced_File> matrix_file, labels_file;
    Agreed([&] {
      if (job.rank != 0) return;
      matrix_file.emplace(output, mask);
      if (settings.Binary_Output && Phylo::Print::Layout_Row(*settings.Binary_Output).Labels_Beside)
        labels_file.emplace(output + ".labels.txt", mask);
    });
    std::string temporary = matrix_file ? matrix_file->Temporary() : std::string();
    std::string labels_temporary = labels_file ? labels_file->Temporary() : std::string();
    Mpi::File_Identity identity = matrix_file ? matrix_file->Identity() : Mpi::File_Identity{};
    Broadcast_Name(temporary, job.rank);
    Broadcast_Name(labels_temporary, job.rank);
    MPI_Bcast(&identity.Device, 1, MPI_UINT64_T, 0, MPI_COMM_WORLD);
    MPI_Bcast(&identity.Inode, 1, MPI_UINT64_T, 0, MPI_COMM_WORLD);
    if (job.rank != 0)
      for (const std::string& name : {temporary, labels_temporary})
        if (!name.empty()) Generic::Temporaries::Remove_On_Signal(name);
    Beside beside;
    beside.labels = labels_file ? &*labels_file : nullptr;
    {
      Shared_File file(temporary, output);
      // Closing the file is collective: a rank out of step must not get
      // there.
      try {
        Agreed([&] { file.Check_Open(identity, job.rank); });
        Run(file, arguments, settings, job, beside);
        Agreed([&] {
          if (settings.Binary_Output && beside.matrices == 0)
            throw Errors::Constraint_Error(std::string("the input holds no matrix, so there is nothing to write as ") +
                                           Binary::Name(*settings.Binary_Output));
        });
      } catch (const Stopped&) {
        throw;
      } catch (...) {
        Abort_Out_Of_Step(std::current_exception());
      }
    }
    Agreed([&] {
      if (job.rank == 0) Mpi::Replaced_File::Commit(*matrix_file, labels_file ? &*labels_file : nullptr);
    });
    if (job.rank != 0)
      for (const std::string& name : {temporary, labels_temporary}) Generic::Temporaries::Forget(name);
    return 0;
  } catch (const Stopped& stop) {
    // Rank 0's temporaries went with its Replaced_Files.
    Report_Once(stop.own, job);
  } catch (...) {
    Abort_Out_Of_Step(std::current_exception());
  }
  return 1;
}

} // namespace

int main(int argc, char** argv) {
  // The mask can only be read by setting it, which is harmless while no
  // other thread (MPI starts some) is creating files.
  const mode_t mask = umask(0);
  umask(mask);
  // Open MPI's own files (shared memory between the ranks) count against
  // a limit on the size of a file too; ignored from the start, the signal
  // cannot end a rank in MPI_Init without a word.
  Generic::Temporaries::Ignore_File_Size_Signal();
  MPI_Init(&argc, &argv);
  int rank = 0, ranks = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &ranks);
  const int status = Main(argc, argv, Job{rank, ranks}, mask);
  MPI_Finalize();
  return status;
}
