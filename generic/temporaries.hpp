#pragma once
// Files written under a temporary name and renamed at the end: a signal
// that ends the process removes them, so that an interrupted run leaves
// neither a half-written file nor its temporary behind.

#include <string>

namespace Generic::Temporaries {

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

} // namespace Generic::Temporaries
