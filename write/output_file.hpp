#pragma once
// A file that appears under its name only complete: everything is written
// to a temporary name in the same folder, which replaces the file in one
// rename when the run succeeds. A run that fails (any exception, any early
// return) leaves the file as it was, or absent, and no temporary behind.
//
// What is not a regular file (a device, a FIFO, a socket, or a link to
// one) is written through directly: replacing it would destroy the node
// and starve whoever reads it. Such output is not atomic. A link to a
// regular file stays a link; the file it leads to is replaced, and a
// replaced file keeps its permission bits (and owner and group where the
// process may set them).

#include <string>

namespace Karvel::Phylo::Output {

class Output_File {
public:
  // Creates the temporary beside the file `path` leads to
  // (".NAME.karvel-XXXXXX"), or opens `path` for writing when it is not a
  // regular file: Device_Error when the folder cannot take it or `path` is
  // a directory.
  explicit Output_File(std::string path);
  // Removes the temporary unless Commit succeeded.
  ~Output_File();
  Output_File(const Output_File&) = delete;
  Output_File& operator=(const Output_File&) = delete;

  // Open for writing until Commit.
  int Descriptor() const { return fd_; }
  // For writers that open the file by name themselves (HDF5): the
  // temporary, or the path itself when written through.
  const std::string& Temporary_Path() const { return direct_ ? path_ : temporary_; }
  const std::string& Path() const { return path_; }
  // Written through directly: no temporary, no rename, nothing to undo.
  bool Direct() const { return direct_; }

  // Closes the temporary and renames it over the file: Device_Error when
  // either fails (the temporary is then removed).
  void Commit();

  // Commits `labels` and `matrix` together: both take their names, or,
  // after a failure, both are as they were. The labels go first; when the
  // matrix cannot follow, the old labels (kept under the labels'
  // temporary name by an exchange of names) are put back.
  static void Commit_Together(Output_File& labels, Output_File& matrix);


private:
  void Close();
  void Forget();

  std::string path_;
  // What the rename replaces: `path_` with a final link resolved.
  std::string target_;
  std::string temporary_;
  int fd_ = -1;
  bool direct_ = false;
  bool committed_ = false;
};

} // namespace Karvel::Phylo::Output
