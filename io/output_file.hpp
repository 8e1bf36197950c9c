#pragma once
// A file that appears under its name only complete: everything is written
// to a temporary name in the same folder, which replaces the file in one
// rename when the run succeeds. A run that fails (any exception, any early
// return) leaves the file as it was, or absent, and no temporary behind.

#include <string>

namespace Phylo::Output {

class Output_File {
public:
  // Creates the temporary beside `path` (".NAME.karvel-XXXXXX"):
  // Device_Error when the folder cannot take it or `path` is a directory.
  explicit Output_File(std::string path);
  // Removes the temporary unless Commit succeeded.
  ~Output_File();
  Output_File(const Output_File&) = delete;
  Output_File& operator=(const Output_File&) = delete;

  // Open for writing until Commit.
  int Descriptor() const { return fd_; }
  // For writers that open the file by name themselves (HDF5).
  const std::string& Temporary_Path() const { return temporary_; }
  const std::string& Path() const { return path_; }

  // Closes the temporary and renames it over the path: Device_Error when
  // either fails (the temporary is then removed).
  void Commit();

  // From now on, SIGINT, SIGTERM and SIGHUP remove the temporaries of
  // every Output_File before the process ends as the signal says. For the
  // program (which owns its signals), not the library.
  static void Remove_On_Signals();

private:
  std::string path_;
  std::string temporary_;
  int fd_ = -1;
  bool committed_ = false;
};

} // namespace Phylo::Output
