#pragma once
// The files a karvel_mpi job replaces: its output and, for the npy layouts,
// the labels beside it. The rank that creates a temporary does so under an
// unpredictable name, exclusively and without following a link; the other
// ranks open that very file by name and check that it is the one created.
// Nothing here uses MPI: the job passes names and identities around.
//
// A signal that ends a rank (SIGINT, SIGTERM, SIGHUP: what mpirun sends to
// the other ranks when one fails or is killed, and what a batch scheduler
// sends at a time limit) removes every temporary the rank knows of first.

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "write/temporaries.hpp"

namespace Karvel::Mpi {

// Which file a name leads to, to check that a name still leads to it.
struct File_Identity {
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
};

// Whether `name` is, without following a link, a regular file with the
// inode of `identity` (and its device, when `same_device`: a file system
// mounted on other machines may have another device number there).
bool Is_File(const std::string& name, const File_Identity& identity, bool same_device);

class Replaced_File {
public:
  // Creates the temporary, empty and private, beside the file `path` leads
  // to (".NAME.karvel-" and twelve random characters). Device_Error when
  // `path` is a directory, a device, a FIFO or a socket (the ranks write at
  // offsets, which such a file cannot take), or when the folder cannot
  // take the temporary. `mask` is the process's umask: a new file gets
  // 0666 & ~mask, a replaced file keeps its permission bits (and owner and
  // group where the process may set them).
  Replaced_File(std::string path, mode_t mask);
  // Removes the temporary unless it was renamed.
  ~Replaced_File();
  Replaced_File(const Replaced_File&) = delete;
  Replaced_File& operator=(const Replaced_File&) = delete;

  const std::string& Path() const { return path_; }
  const std::string& Temporary() const { return temporary_; }
  File_Identity Identity() const { return identity_; }
  // From this process, through its own descriptor: Device_Error naming Path().
  void Write(const std::string& bytes);

  // Renames the temporaries over their files, the labels first: both take
  // their names or, after a failure (Device_Error), both files are as they
  // were (an old labels file is kept under another name until the matrix
  // is in place, and put back when it cannot be). SIGINT, SIGTERM and SIGHUP
  // wait until the names are settled.
  static void Commit(Replaced_File& matrix, Replaced_File* labels);

private:
  // Gives the temporary its final mode and owner and closes it.
  void Finish();
  void Rename();

  std::string path_;
  // What the rename replaces: `path_` with a final link resolved.
  std::string target_;
  std::string temporary_;
  int fd_ = -1;
  File_Identity identity_;
  Generic::Temporaries::Replacement replacement_;
  bool renamed_ = false;
};

// Why a write to `name` that ended at `end` failed, for a report: the
// limit on a file's size when `end` passes it, else `fallback`.
std::string Write_Failure(std::uint64_t end, const std::string& fallback);

} // namespace Karvel::Mpi
