#pragma once
// Where a run's output goes: standard output, or the file --output names,
// which appears under its name only when the whole run succeeded. Binary
// layouts (npy, npy-condensed, hdf5) are written here as well.

#include <memory>
#include <optional>

#include "api/stream.hpp"
#include "api/run.hpp"
#include "write/output_file.hpp"
#include "write/write_binary.hpp"

namespace Karvel {

class Destination {
public:
  // Checks the settings against where the output goes before anything is
  // read: a binary layout is refused on a terminal, hdf5 needs a file, -W
  // has no binary layout. Creates the temporary file.
  Destination(const Run_Settings& settings, Text_IO::Text_Output& standard_output);
  ~Destination();
  Destination(const Destination&) = delete;
  Destination& operator=(const Destination&) = delete;

  // Where text layouts write.
  Text_IO::Text_Output& Text() { return *text_; }
  // One matrix's distances in the binary layout; a binary file holds one
  // matrix, so a second is a Constraint_Error.
  void Put_Binary(const Phylo::Squared& distances);
  // The same from blocks of rows, never holding more than a few blocks of
  // `memory`: what is written before a failing pair goes with the
  // temporary.
  void Put_Binary(const Phylo::Pipeline::Row_Blocks& blocks, std::size_t memory);
  // The run went well: everything written goes out, and the file (with its
  // labels file) takes its name.
  void Commit();

private:
  // The writer of the run's one matrix, its labels file written.
  std::unique_ptr<Phylo::Binary_Output::Matrix_Writer> Open_Writer(const Phylo::Taxon_Labels& labels);

  const Run_Settings& settings_;
  std::optional<Phylo::Output::Output_File> file_;
  std::unique_ptr<Text_IO::Text_Output> file_text_;
  Text_IO::Text_Output* text_;
  std::optional<Phylo::Output::Output_File> labels_file_;
  int matrices_ = 0;
};

} // namespace Karvel
