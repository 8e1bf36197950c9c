#pragma once
// Files written under a temporary name and renamed at the end: a signal
// that ends the process removes them, so that an interrupted run leaves
// neither a half-written file nor its temporary behind.

#include <sys/types.h>

#include <string>

namespace Karvel::Generic::Temporaries {

// A name beside `target` that nobody can guess: ".NAME.karvel-" and 12
// letters. Only for files created exclusively (O_EXCL, link()).
std::string Name_Beside(const std::string& target);

// A new file beside `target`, under a name nobody can guess
// (".NAME.karvel-" and 12 letters), created with O_EXCL and never through a
// link: a name made in advance by someone else is passed over. Private
// (0600) until its owner sets the mode; removed by a signal until Forget.
// Returns the descriptor and sets `name`; fails with a Device_Error naming
// `shown`.
int Create_Beside(const std::string& target, const std::string& shown, std::string& name);

// A file for a run's own scratch values in `folder`, open for reading and
// writing and already without a name, so that nothing is left behind by a
// crash or a signal: O_TMPFILE where the file system has it, else a file
// created as Create_Beside creates one and unlinked at once. Fails with a
// Device_Error naming the folder.
int Create_Scratch(const std::string& folder);

// What replacing the file at `path` by a new one means. A link stays a
// link: the file it leads to (Target) is replaced. A replaced file keeps its
// mode, and its owner and group where the process may set them; a new file
// gets the mode any new file of this user gets (0666 & ~mask).
struct Replacement {
  bool Exists = false;
  bool Regular = false; // else a device, FIFO or socket: nothing to rename over
  std::string Target;
  mode_t Mode = 0;
  uid_t Owner = 0;
  gid_t Group = 0;
};
// A folder is refused at once (Device_Error naming `path`), rather than
// after the whole run, when the rename would fail.
Replacement Look_At(const std::string& path, mode_t mask);

// Gives the file `fd` (a temporary made by Create_Beside) the owner, group
// and mode of `replacement`: owner first, since changing it clears the
// set-user-ID bits the mode may then restore. Only root may give a file
// away; a group the user is in is the next best thing, and failing both is
// no error. A failing chmod is a Device_Error naming `shown`.
void Take_Owner_And_Mode(int fd, const Replacement& replacement, const std::string& shown);

// From now on SIGINT, SIGTERM and SIGHUP remove the registered files and
// then end the process as the signal would. A signal the process was
// started with ignored (nohup, a shell's background job) stays ignored.
// SIGXFSZ is ignored too (Ignore_File_Size_Signal).
void Remove_On_Signals();

// SIGXFSZ ignored, so that writing past ulimit -f fails with EFBIG and is
// reported, instead of killing the process mid-file.
void Ignore_File_Size_Signal();

// Names a signal removes; Forget before the name is taken by the file's
// final name or the file is removed otherwise.
void Remove_On_Signal(const std::string& name);
void Forget(const std::string& name);

// Removes every registered file now: for an end that does not unwind.
void Remove_Registered();

// While files change names: a signal meanwhile waits until they have (any
// thread may take it, so a signal mask would not do).
class Names_Settling {
public:
  Names_Settling();
  ~Names_Settling();
  Names_Settling(const Names_Settling&) = delete;
  Names_Settling& operator=(const Names_Settling&) = delete;
};

} // namespace Karvel::Generic::Temporaries
