#include "api/destination.hpp"

#include <span>
#include <string>
#include <unistd.h>


namespace Karvel {

namespace {

std::string Layout_Name(const Run_Settings& s) { return Phylo::Binary_Output::Name(*s.Binary_Output); }

} // namespace

Destination::Destination(const Run_Settings& settings, Text_IO::Text_Output& standard_output)
    : settings_(settings), text_(&standard_output) {
  if (settings.Binary_Output) {
    const auto layout = *settings.Binary_Output;
    const Phylo::Print::Layout& row = Phylo::Print::Layout_Row(layout);
    if (row.Refusal)
      if (const std::string why = row.Refusal(); !why.empty()) throw Errors::Usage_Error(why);
    if (settings.Print_Data)
      throw Errors::Usage_Error("-W writes character data in text layouts, not in " + Layout_Name(settings));
    if (!settings.Output_File) {
      if (!Phylo::Print::Layout_Row(layout).To_Pipe)
        throw Errors::Usage_Error("an " + Layout_Name(settings) +
                                  " file cannot be written to standard output: name it with --output=FILE");
      if (isatty(STDOUT_FILENO))
        throw Errors::Usage_Error("the " + Layout_Name(settings) +
                                  " layout is binary and standard output is a terminal: name a file with "
                                  "--output=FILE, or send standard output to a file or a pipe");
    }
  }
  if (settings.Output_File) {
    file_.emplace(*settings.Output_File);
    file_text_ = std::make_unique<Text_IO::Text_Output>(file_->Descriptor(), file_->Path());
    text_ = file_text_.get();
  }
}

// The buffered text goes before the temporary is removed, never after.
Destination::~Destination() { file_text_.reset(); }

std::unique_ptr<Phylo::Binary_Output::Matrix_Writer> Destination::Open_Writer(const Phylo::Taxon_Labels& labels) {
  namespace Out = Phylo::Binary_Output;
  const Out::Layout layout = *settings_.Binary_Output;
  if (++matrices_ > 1)
    throw Errors::Constraint_Error("an " + Layout_Name(settings_) +
                                   " file holds one distance matrix, and the input holds more");
  const Phylo::Print::Layout& row = Phylo::Print::Layout_Row(layout);
  std::unique_ptr<Out::Matrix_Writer> writer =
      row.Open(Out::Target{text_, file_ ? file_->Temporary_Path() : "", file_ ? file_->Path() : ""}, labels, layout);
  // Only a named regular file has a place beside it for the labels: a
  // device's folder (/dev) is no place for them.
  if (file_ && !file_->Direct() && row.Labels_Beside) {
    labels_file_.emplace(file_->Path() + ".labels.txt");
    Text_IO::Text_Output text(labels_file_->Descriptor(), labels_file_->Path());
    Out::Put_Labels(text, labels);
    text.Flush();
  }
  return writer;
}

void Destination::Put_Binary(const Phylo::Squared& distances) {
  const std::unique_ptr<Phylo::Binary_Output::Matrix_Writer> writer = Open_Writer(distances.Labels);
  const auto taxa = distances.Labels.size();
  if (taxa > 0) writer->Put_Rows(0, taxa, std::span<const double>(distances.Matrix.Row(0), taxa * taxa));
  writer->Finish();
}

void Destination::Put_Binary(const Phylo::Pipeline::Row_Blocks& blocks, std::size_t memory) {
  const std::unique_ptr<Phylo::Binary_Output::Matrix_Writer> writer = Open_Writer(blocks.Labels());
  // The condensed layout shows only the pairs after each row's taxon.
  // A square beyond the budget keeps values for later rows beside the file.
  const std::string scratch = file_ && !file_->Direct() ? Phylo::Pipeline::Folder_Of(file_->Path()) : std::string();
  Phylo::Pipeline::Put_Binary_Rows(*writer, blocks, Phylo::Print::Layout_Row(*settings_.Binary_Output).Part, memory,
                                   scratch);
  writer->Finish();
}

void Destination::Commit() {
  if (settings_.Binary_Output && matrices_ == 0)
    throw Errors::Constraint_Error("the input holds no matrix, so there is nothing to write as " +
                                   Layout_Name(settings_));
  if (!file_) return;
  file_text_->Flush();
  if (labels_file_)
    Phylo::Output::Output_File::Commit_Together(*labels_file_, *file_);
  else
    file_->Commit();
}

} // namespace Karvel
