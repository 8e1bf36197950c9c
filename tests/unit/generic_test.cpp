#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/errors.hpp"
#include "arrays/array_functions.hpp"
#include "threads/parallel.hpp"
#include "arrays/row_matrix.hpp"
#include "text/text_io.hpp"
#include "model/model.hpp"
#include "tests/unit/test_support.hpp"

using namespace Karvel;

namespace {

using Phylo::Real_Matrix;
using Real = Phylo::Real_Chars::Functions;
using Real_Basic = Phylo::Real_Chars::Basic;

Real_Matrix Rows(std::initializer_list<std::vector<double>> rows) {
  Real_Matrix m;
  for (const std::vector<double>& row : rows) m.Append_Row(row);
  return m;
}

TEST(RowMatrix, RowsShareOneBlock) {
  Real_Matrix m;
  m.Push(1);
  m.Push(2);
  m.Close_Row();
  m.Append_Row(std::vector<double>{3, 4});
  EXPECT_EQ(m.Rows(), 2);
  // An aligned matrix is a plain row-major array.
  EXPECT_EQ(m.Row(1).data(), m.Data() + 2);
  EXPECT_EQ(m.Row(1)[0], 3.0);
  EXPECT_EQ(m.Row(1)[1], 4.0);
  EXPECT_THROW(m.Row(2), Errors::Constraint_Error);
  EXPECT_THROW(m.Row(-1), Errors::Constraint_Error);

  // Rows made ahead and then only partly kept.
  double* const ahead = m.Add_Rows(3, 2);
  ahead[0] = 5;
  ahead[1] = 6;
  m.Keep_Rows(3);
  EXPECT_EQ(m.Rows(), 3);
  EXPECT_EQ(m.Values(), 6u);
  EXPECT_EQ(m.Row(2)[1], 6.0);
}

// Reading a matrix fills its memory while another thread has the pages
// made: what was written before, during and after must all stay, also where
// the thread follows the filler beyond its first stretch.
TEST(Populating, LeavesWhatIsWrittenAlone) {
  Real_Matrix m;
  constexpr std::size_t Count = std::size_t{6} << 20; // 48 MB of values, beyond the lead
  m.Reserve_Values(Count);
  for (std::size_t k = 0; k < 1000; ++k) m.Push(static_cast<double>(k));
  {
    Generic::Populating populating(m.Reserved_Memory(), m.Reserved_Bytes());
    for (std::size_t k = 1000; k < Count; ++k) {
      m.Push(static_cast<double>(k));
      populating.Reached(m.Values() * sizeof(double));
    }
  }
  m.Close_Row();
  const auto row = m.Row(0);
  ASSERT_EQ(row.size(), Count);
  for (std::size_t k = 0; k < Count; ++k) ASSERT_EQ(row[k], static_cast<double>(k)) << k;
  EXPECT_EQ(m.Reserved_Memory(), static_cast<void*>(m.Data())); // no reallocation happened
}

// A range sized by a promise the data do not keep: the pages made stay
// within the lead of what the filler has reached, however big the range.
TEST(Populating, StaysWithinItsLeadOfTheFiller) {
  constexpr std::size_t Page = 4096, Bytes = std::size_t{256} << 20, Reached = std::size_t{100} << 20;
  constexpr std::size_t Lead = Generic::Populating::Lead;
  constexpr std::size_t Slack = std::size_t{4} << 20; // a huge page at either end
  // Fresh pages of its own, none resident yet, whatever the allocator keeps.
  auto fresh = [](std::size_t bytes) {
    return ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  };
#if defined(MADV_POPULATE_WRITE)
  void* const probe = fresh(Page);
  const bool supported = probe != MAP_FAILED && ::madvise(probe, Page, MADV_POPULATE_WRITE) == 0;
  if (probe != MAP_FAILED) ::munmap(probe, Page);
  if (!supported) GTEST_SKIP() << "the system does not make pages on request";
#else
  GTEST_SKIP() << "the system does not make pages on request";
#endif
  void* const memory = fresh(Bytes);
  ASSERT_NE(memory, MAP_FAILED);
  std::vector<unsigned char> pages(Bytes / Page);
  auto resident = [&] {
    EXPECT_EQ(::mincore(memory, Bytes, pages.data()), 0);
    std::size_t count = 0;
    for (unsigned char p : pages) count += p & 1;
    return count * Page;
  };
  // The thread works on its own time: wait (a long while at most) until it
  // has made `bytes`, then a little more, in which a thread that ran on
  // would make about a hundred megabytes.
  auto settled = [&](std::size_t bytes) {
    for (int tries = 0; tries < 20000 && resident() < bytes; ++tries)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_GE(resident(), bytes);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return resident();
  };

  Test_Support::Settings_Scope settings;
  settings.Threads(2);
  {
    Generic::Populating populating(memory, Bytes);
    EXPECT_LE(settled(Lead - Slack), Lead + Slack);
    populating.Reached(Reached);
    EXPECT_LE(settled(Reached + Lead - Slack), Reached + Lead + Slack);
  } // waits for the thread
  EXPECT_LE(resident(), Reached + Lead + Slack);
  ::munmap(memory, Bytes);
}

// Line and column stay right, and the first bytes stay known, when the
// buffer drops what was read to make room (a file of a few megabytes).
TEST(TextInput, ColumnAndHeadAcrossRefills) {
  std::string text = "\xef\xbb\xbf" "ab\n";
  for (int k = 0; k < 300000; ++k) text += "123456789\n";
  text += "tail\xef\xbb\xbf";
  char path[] = "/tmp/karvel_text_input_XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::unlink(path);
  ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ::lseek(fd, 0, SEEK_SET);
  Text_IO::Text_Input in(fd, true);
  in.Skip_Byte_Order_Mark();
  EXPECT_EQ(in.Column(), 1);
  EXPECT_EQ(in.Get(), 'a');
  EXPECT_EQ(in.Column(), 2);
  in.Skip_Line();
  for (int k = 0; k < 300000; ++k) {
    ASSERT_EQ(in.Column(), 1) << k;
    switch (k % 3) {
    case 0:
      in.Window(10);
      in.Advance(4);
      ASSERT_EQ(in.Column(), 5);
      in.Advance(6);
      break;
    case 1:
      while (in.Get() != '\n') {
      }
      break;
    default:
      in.Skip_Line();
    }
    ASSERT_EQ(in.Line(), k + 3);
  }
  in.Get();
  in.Skip_Byte_Order_Mark(); // only at the very start
  EXPECT_EQ(in.Column(), 2);
  EXPECT_EQ(in.Head(), std::string_view(text).substr(0, Text_IO::Text_Input::Head_Size));
}

// The reports of the program quote these messages after the operand.
TEST(TextInput, OpenSaysWhyNot) {
  try {
    Text_IO::Text_Input::Open("/nonexistent/karvel.phy");
    ADD_FAILURE() << "opened";
  } catch (const Errors::Name_Error& e) {
    EXPECT_STREQ(e.what(), "'/nonexistent/karvel.phy': No such file or directory");
  }
  if (::geteuid() == 0) GTEST_SKIP() << "root reads a file without read permission";
  char path[] = "/tmp/karvel_locked_XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  ::chmod(path, 0);
  try {
    Text_IO::Text_Input::Open(path);
    ADD_FAILURE() << "opened";
  } catch (const Errors::Name_Error& e) {
    EXPECT_EQ(std::string(e.what()), "'" + std::string(path) + "': Permission denied");
  }
  ::unlink(path);
}

TEST(SquareBlock, IndexedByTheTaxonRange) {
  Generic::Square_Block b(3, 5);
  EXPECT_EQ(b.Size(), 3);
  EXPECT_EQ(b.Last(), 5);
  b(4, 5) = 7.0;
  EXPECT_EQ(b.Row(4)[2], 7.0);
  EXPECT_EQ(b.Data()[1 * 3 + 2], 7.0);
  EXPECT_EQ(Generic::Square_Block(0, -1).Size(), 0);
  EXPECT_THROW(Generic::Square_Block(-1, 1), Errors::Constraint_Error);
}

TEST(IsAligned, ComparesLengthsOnly) {
  EXPECT_TRUE(Real_Basic::Is_Aligned(Rows({{1, 2, 3}})));
  EXPECT_TRUE(Real_Basic::Is_Aligned(Rows({{}})));
  EXPECT_FALSE(Real_Basic::Is_Aligned(Rows({{1, 2, 3}, {4, 5, 6}, {}})));
  EXPECT_THROW(Real_Basic::Is_Aligned(Real_Matrix()), Errors::Constraint_Error);
}

TEST(Sum, OnePerRowFromTheFirstValueOn) {
  EXPECT_EQ(Real::Sum(Rows({{1, 2, 3}, {0.5}})), (std::vector<double>{6, 0.5}));
  // Left to right: each 1 is lost against 1e16 on its own (pairing the ones
  // first would give 1e16 + 2).
  EXPECT_EQ(Real::Sum(Rows({{1e16, 1, 1}}))[0], 1e16);
  // Summed from the first value, not from 0.0: the sign of a zero survives.
  EXPECT_TRUE(std::signbit(Real::Sum(Rows({{-0.0}}))[0]));

  // Rows summed four at a time keep their own order and their own sums,
  // also next to rows of other lengths.
  EXPECT_EQ(Real::Sum(Rows({{1e16, 1, 1}, {1, 1, 1e16}, {-0.0, -0.0, -0.0}, {2, 3, 4}, {5}, {1, 2}, {7, 8}})),
            (std::vector<double>{1e16, 1e16 + 2, -0.0, 9, 5, 3, 15}));
  EXPECT_TRUE(std::signbit(Real::Sum(Rows({{1}, {2}, {-0.0}, {3}}))[2]));

  EXPECT_THROW(Real::Sum(Rows({{1}, {}})), Errors::Constraint_Error);
  try {
    Real::Sum(Rows({{1, 2}, {1, 2}, {}, {1, 2}, {}}));
    ADD_FAILURE() << "an empty row was summed";
  } catch (const Errors::Constraint_Error& e) {
    EXPECT_STREQ(e.what(), "index check failed: row 3 has no values to sum");
  }
}

TEST(ElementaryFunctions, SquareRoot) {
  EXPECT_EQ(Real::Sqrt(0.0), 0.0);
  EXPECT_FALSE(std::signbit(Real::Sqrt(-0.0)));
  EXPECT_EQ(Real::Sqrt(2.25), 1.5);
  EXPECT_THROW(Real::Sqrt(-1.0), Errors::Argument_Error);
  try {
    Real::Sqrt(-1e-17);
    ADD_FAILURE() << "no Argument_Error";
  } catch (const Errors::Argument_Error& e) {
    EXPECT_STREQ(e.what(), "square root of a negative number (-1e-17)");
  }
}

TEST(ElementaryFunctions, ArcCosine) {
  EXPECT_EQ(Real::Arccos(1.0), 0.0);
  EXPECT_EQ(Real::Arccos(-1.0), 3.141592653589793);
  EXPECT_EQ(Real::Arccos(0.0), 1.5707963267948966);
  EXPECT_EQ(Real::Arccos(1e-9), 1.5707963267948966 - 1e-9);
  EXPECT_NEAR(Real::Arccos(0.5), 1.0471975511965979, 1e-15);
  EXPECT_THROW(Real::Arccos(1.0000000001), Errors::Argument_Error);
  EXPECT_THROW(Real::Arccos(-1.0000000001), Errors::Argument_Error);
}

} // namespace
