// The files a karvel_mpi job replaces, without MPI: what a failed rename
// leaves, and what a temporary swapped for a link is denied.
#include "mpi/job_files.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "diagnostics/errors.hpp"

using namespace Karvel;

namespace {

namespace fs = std::filesystem;
using Karvel::Mpi::Replaced_File;

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Put(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

class Job_Files : public ::testing::Test {
protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "karvel-job-files-XXXXXX").string();
    ASSERT_NE(mkdtemp(name.data()), nullptr);
    folder_ = name;
  }
  void TearDown() override { fs::remove_all(folder_); }
  std::size_t Entries() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder_), {})); }

  fs::path folder_;
};

// The matrix cannot take its name (a folder came in its way): the labels
// are put back as they were, old or absent, and no temporary remains.
TEST_F(Job_Files, FailedMatrixRenameRestoresTheLabels) {
  for (const bool old_labels : {true, false}) {
    SCOPED_TRACE(old_labels);
    const fs::path matrix = folder_ / "m.npy", labels = folder_ / "m.npy.labels.txt";
    if (old_labels) Put(labels, "old labels\n");
    {
      Replaced_File new_matrix(matrix.string(), 022), new_labels(labels.string(), 022);
      new_matrix.Write("matrix");
      new_labels.Write("new labels\n");
      fs::create_directories(matrix / "inside");
      EXPECT_THROW(Replaced_File::Commit(new_matrix, &new_labels), Karvel::Errors::Device_Error);
    }
    if (old_labels)
      EXPECT_EQ(Read(labels), "old labels\n");
    else
      EXPECT_FALSE(fs::exists(labels));
    EXPECT_EQ(Entries(), old_labels ? 2u : 1u); // the folder and the labels, nothing else
    fs::remove_all(matrix);
    fs::remove(labels);
  }
}

// Both take their names together; a replaced file keeps its permission
// bits, a new one gets those the mask leaves.
TEST_F(Job_Files, CommitReplacesThePairAndKeepsModes) {
  const fs::path matrix = folder_ / "m.npy", labels = folder_ / "m.npy.labels.txt";
  Put(matrix, "old matrix");
  ASSERT_EQ(chmod(matrix.c_str(), 0640), 0);
  {
    Replaced_File new_matrix(matrix.string(), 027), new_labels(labels.string(), 027);
    new_matrix.Write("new matrix");
    new_labels.Write("labels\n");
    Replaced_File::Commit(new_matrix, &new_labels);
  }
  EXPECT_EQ(Read(matrix), "new matrix");
  EXPECT_EQ(Read(labels), "labels\n");
  struct stat st {};
  ASSERT_EQ(stat(matrix.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ASSERT_EQ(stat(labels.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Entries(), 2u);
}

// A temporary is new and private; one swapped for a link to another file
// is never renamed into place, and the other file is untouched.
TEST_F(Job_Files, SwappedTemporaryIsNotPutInPlace) {
  const fs::path out = folder_ / "out.txt", victim = folder_ / "victim";
  Put(victim, "victim");
  std::optional<Replaced_File> file(std::in_place, out.string(), 022);
  struct stat st {};
  ASSERT_EQ(lstat(file->Temporary().c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(st.st_size, 0);
  EXPECT_TRUE(Karvel::Mpi::Is_File(file->Temporary(), file->Identity(), true));

  fs::remove(file->Temporary());
  fs::create_symlink(victim, file->Temporary());
  EXPECT_FALSE(Karvel::Mpi::Is_File(file->Temporary(), file->Identity(), true));
  EXPECT_THROW(Replaced_File::Commit(*file, nullptr), Karvel::Errors::Device_Error);
  EXPECT_FALSE(fs::exists(out));
  file.reset();
  EXPECT_EQ(Read(victim), "victim");
  EXPECT_EQ(Entries(), 1u);
}

// The ranks write at offsets: a FIFO is refused before any work, and so is
// a folder.
TEST_F(Job_Files, OnlyRegularFilesAreReplaced) {
  const fs::path fifo = folder_ / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_THROW(Replaced_File(fifo.string(), 022), Karvel::Errors::Device_Error);
  EXPECT_THROW(Replaced_File(folder_.string(), 022), Karvel::Errors::Device_Error);
  EXPECT_EQ(Entries(), 1u);
}

} // namespace
