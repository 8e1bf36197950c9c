#include "api/stream.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "threads/parallel.hpp"
#include "threads/progress.hpp"
#include "write/temporaries.hpp"

namespace Karvel::Phylo::Pipeline {

namespace {

using Distfunc::Row_Part;

// The bytes of one block go out on a thread of its own while the next block
// is computed: computing and writing take about as long each, so
// overlapping them nearly halves the time to a file. Only this thread
// touches the output between a hand-over and Finish. Where no thread can
// start, the block is written on the spot.
class Background_Writer {
public:
  // With `start` false everything handed over runs on the spot.
  explicit Background_Writer(bool start = true) {
    if (!start) return;
    try {
      thread_ = Generic::Parallel::Start([this] { Loop(); });
    } catch (const Errors::Storage_Error&) {
    }
  }
  ~Background_Writer() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> guard(lock_);
      quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  Background_Writer(const Background_Writer&) = delete;
  Background_Writer& operator=(const Background_Writer&) = delete;

  // Hands over the pieces of a block's text, to be written to `output` in
  // order once the block before has gone out; `pieces` gets back the strings
  // of an earlier block to fill again. A write that failed is raised here.
  void Write(Text_IO::Text_Output& output, std::vector<std::string>& pieces) {
    Hand_Over([&] { std::swap(text_, pieces); }, [this, &output] {
      for (const std::string& piece : text_) output.Put(piece);
    });
  }
  // Hands over a write that reads what the caller keeps unchanged until the
  // next hand-over or Finish returns. A write that failed is raised here.
  void Write(std::function<void()> write) {
    Hand_Over([] {}, std::move(write));
  }
  // Waits until everything handed over is written.
  void Finish() {
    if (!thread_.joinable()) return;
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [&] { return !full_; });
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
  }

private:
  // Once the writer is idle: `take` (under the lock), then `write` on the
  // writer's thread.
  template <class Take>
  void Hand_Over(Take&& take, std::function<void()> write) {
    if (!thread_.joinable()) {
      take();
      write();
      return;
    }
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [&] { return !full_; });
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
    take();
    pending_ = std::move(write);
    full_ = true;
    changed_.notify_all();
  }

  void Loop() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
      changed_.wait(guard, [&] { return full_ || quit_; });
      if (!full_) return;
      guard.unlock();
      std::exception_ptr error;
      try {
        pending_();
      } catch (...) {
        error = std::current_exception();
      }
      guard.lock();
      if (error && !error_) error_ = error;
      full_ = false;
      changed_.notify_all();
    }
  }

  std::thread thread_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::string> text_;
  std::function<void()> pending_;
  bool full_ = false;
  bool quit_ = false;
  std::exception_ptr error_;
};

} // namespace

void Format_Rows(std::vector<std::string>& pieces, const Taxon_Labels& labels, const double* values, int base,
                 int first, int past, const Print::Row_Layout& layout) {
  const int rows = past - first;
  const int threads = std::max(1, std::min(Generic::Parallel::Threads(), rows));
  const int count = std::max(0, std::min(rows, 4 * threads));
  pieces.resize(static_cast<std::size_t>(count));
  const std::size_t taxa = labels.size();
  std::atomic<int> next{0};
  Generic::Parallel::Run(std::min(threads, std::max(count, 1)), [&](int) {
    for (int piece; (piece = next.fetch_add(1, std::memory_order_relaxed)) < count;) {
      std::string& text = pieces[static_cast<std::size_t>(piece)];
      text.clear();
      Text_IO::Text_Output out(&text);
      const int from = first + static_cast<int>(static_cast<long>(rows) * piece / count);
      const int to = first + static_cast<int>(static_cast<long>(rows) * (piece + 1) / count);
      for (int row = from; row < to; ++row)
        Print::Put_Row(out, labels, static_cast<std::size_t>(row),
                       {values + static_cast<std::size_t>(row - base) * taxa, taxa}, layout);
      out.Flush();
    }
  });
}

namespace {

// The rows of one block cut into pieces that any thread may take. The
// formatting thread starts on them while the pool computes the next block,
// and the computing thread joins in once its block is done, so both cores
// stay busy whichever stage is the longer. A piece is made whole by one
// thread, so the bytes never depend on who took it.
class Format_Job {
public:
  // Rows first .. past - 1, the row `first` being first in `values`.
  void Prepare(std::vector<std::string>& pieces, const Taxon_Labels& labels, const double* values, int first,
               int past, const Print::Row_Layout& layout) {
    const int rows = past - first;
    // More pieces than threads, so that the thread that joins late still
    // finds some left.
    count_ = std::max(0, std::min(rows, 16));
    pieces.resize(static_cast<std::size_t>(count_));
    pieces_ = pieces.data();
    labels_ = &labels;
    values_ = values;
    first_ = first;
    rows_ = rows;
    layout_ = &layout;
    next_.store(0, std::memory_order_relaxed);
  }
  // Makes pieces until none is left to take.
  void Work() {
    const std::size_t taxa = labels_->size();
    for (int piece; (piece = next_.fetch_add(1, std::memory_order_relaxed)) < count_;) {
      std::string& text = pieces_[piece];
      text.clear();
      Text_IO::Text_Output out(&text);
      const int from = static_cast<int>(static_cast<long>(rows_) * piece / count_);
      const int to = static_cast<int>(static_cast<long>(rows_) * (piece + 1) / count_);
      for (int row = from; row < to; ++row)
        Print::Put_Row(out, *labels_, static_cast<std::size_t>(first_ + row),
                       {values_ + static_cast<std::size_t>(row) * taxa, taxa}, *layout_);
      out.Flush();
    }
  }

private:
  std::string* pieces_ = nullptr;
  const Taxon_Labels* labels_ = nullptr;
  const double* values_ = nullptr;
  const Print::Row_Layout* layout_ = nullptr;
  int first_ = 0, rows_ = 0, count_ = 0;
  std::atomic<int> next_{0};
};

} // namespace

// A block's distances take at most a quarter of the budget, so that its
// text, which the writer holds for a block while the next one is made, stays
// within the budget too.
int Block_Rows(int taxa, std::size_t memory) {
  const std::size_t row = std::max<std::size_t>(1, static_cast<std::size_t>(taxa) * sizeof(double));
  // 32 MiB, but 64 rows where the budget allows: a narrower block would
  // leave most lanes of the kernel's panels empty.
  const std::size_t bytes = std::min(memory / 4, std::max(std::size_t{32} << 20, 64 * row));
  return static_cast<int>(std::clamp<std::size_t>(bytes / row, 1, static_cast<std::size_t>(std::max(taxa, 1))));
}

namespace {

// The pairs of rows 0 .. rows - 1 of a part.
std::uint64_t Pairs_Before(int taxa, Row_Part part, int rows) {
  const auto n = static_cast<std::uint64_t>(taxa), r = static_cast<std::uint64_t>(rows);
  switch (part) {
  case Row_Part::BEFORE: return r * (r - (r > 0 ? 1 : 0)) / 2;
  case Row_Part::AFTER: return n * (n - 1) / 2 - (n - r) * (n - r - (n > r ? 1 : 0)) / 2;
  case Row_Part::ALL: break;
  }
  return r;
}

// A lower triangle written as computed finds first the failing pair of the
// earliest row, `failed`, (i, j) in row j; the one reported is, as when
// the rows are held, the first in the order of the taxa, which may lie in a
// later row with an earlier taxon i. `values` takes blocks of `block_rows`.
Distfunc::Failed_Pair First_In_Taxa_Order(const Row_Blocks& blocks, Row_Range rows, Distfunc::Failed_Pair failed,
                                          std::vector<double>& values, int block_rows) {
  const auto earlier = [](const Distfunc::Failed_Pair& a, const Distfunc::Failed_Pair& b) {
    return a.I < b.I || (a.I == b.I && a.J < b.J);
  };
  if (rows.First == 0 && rows.Past == blocks.Taxa()) {
    // Every pair is then a pair of the upper triangle too: its rows up to
    // failed.I, in the order of the taxa, hold the first, which is no
    // more work than the rows already written when the failure comes early.
    for (int first = 0; first <= failed.I; first += block_rows) {
      const int past = std::min(failed.I + 1, first + block_rows);
      const Distfunc::Failed_Pair found =
          blocks.Compute(first, past, Row_Part::AFTER, Distfunc::Pair_Order::TAXA, values.data());
      if (found.Found()) return found;
    }
    return failed;
  }
  // A part holds only the pairs of its rows: those after the failing row.
  Distfunc::Failed_Pair best = failed;
  for (int first = failed.J + 1; first < rows.Past; first += block_rows) {
    const int past = std::min(rows.Past, first + block_rows);
    const Distfunc::Failed_Pair found =
        blocks.Compute(first, past, Row_Part::BEFORE, Distfunc::Pair_Order::TAXA, values.data());
    if (found.Found() && earlier(found, best)) best = found;
  }
  return best;
}

// A square's rows computed a block at a time, each pair once: block k
// computes of its rows only the columns from its own first row on, and
// hands every later block m the tile of its rows against m's, transposed,
// which are the columns before m's first row that m does not compute. The
// tiles stay in memory while they fit the budget and go beyond it to a
// scratch file without a name, where the tiles of one block lie one after
// the other in the order they are read.
class Kept_Tiles {
public:
  // Blocks of `block_rows` rows (the last one shorter) over rows 0 ..
  // past - 1 of a square of `taxa` columns.
  Kept_Tiles(int past, int block_rows, int taxa, std::size_t budget, std::string folder)
      : rows_(block_rows), past_(past), width_(static_cast<std::size_t>(taxa)), budget_(budget),
        folder_(folder.empty() ? Default_Folder() : std::move(folder)) {
    const int blocks = (past + block_rows - 1) / block_rows;
    base_.resize(static_cast<std::size_t>(blocks) + 1, 0);
    std::uint64_t offset = 0;
    for (int m = 0; m < blocks; ++m) {
      base_[static_cast<std::size_t>(m)] = offset;
      offset += static_cast<std::uint64_t>(Size(m)) * static_cast<std::uint64_t>(First(m)) * sizeof(double);
    }
    base_.back() = offset;
  }
  ~Kept_Tiles() {
    if (fd_ >= 0) close(fd_);
  }
  Kept_Tiles(const Kept_Tiles&) = delete;
  Kept_Tiles& operator=(const Kept_Tiles&) = delete;

  // Keeps of block k, the row First(k) first in `values`, its tiles for
  // every later block.
  void Keep(int k, const double* values) {
    const int blocks = static_cast<int>(base_.size()) - 1;
    for (int m = k + 1; m < blocks; ++m) {
      const std::size_t count = static_cast<std::size_t>(Size(k)) * static_cast<std::size_t>(Size(m));
      const std::size_t bytes = count * sizeof(double);
      // Whichever tiles stay in memory, as many bytes go to the file.
      const bool held = held_ + bytes <= budget_;
      std::vector<double>& tile = held ? memory_[Key(k, m)] : buffer_;
      tile.resize(count);
      Transpose(values, k, m, tile.data());
      if (held) {
        held_ += bytes;
        continue;
      }
      Put(tile.data(), bytes, Offset(k, m));
    }
  }

  // Fills of block m's rows, the row First(m) first in `values`, the
  // columns before First(m).
  void Fill(int m, double* values) {
    const std::size_t size = static_cast<std::size_t>(Size(m));
    bool read = false;
    for (int k = 0; k < m; ++k) {
      const std::size_t columns = static_cast<std::size_t>(Size(k));
      const auto kept = memory_.find(Key(k, m));
      const double* tile = nullptr;
      if (kept != memory_.end()) {
        tile = kept->second.data();
      } else {
        buffer_.resize(size * columns);
        Get(buffer_.data(), size * columns * sizeof(double), Offset(k, m));
        tile = buffer_.data();
        read = true;
      }
      const std::size_t at = static_cast<std::size_t>(First(k));
      for (std::size_t r = 0; r < size; ++r)
        std::memcpy(values + r * width_ + at, tile + r * columns, columns * sizeof(double));
      if (kept != memory_.end()) {
        held_ -= kept->second.size() * sizeof(double);
        memory_.erase(kept);
      }
    }
    // The file gives back the space of what it will not be asked for
    // again, so that it holds only what later blocks still need, and pages
    // not yet on the disk need not go there.
    // Where holes cannot be made, the file just keeps them.
    const auto from = base_[static_cast<std::size_t>(m)], to = base_[static_cast<std::size_t>(m) + 1];
    if (read)
      static_cast<void>(fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(from),
                                  static_cast<off_t>(to - from)));
  }

private:
  static std::string Default_Folder() {
    const char* folder = std::getenv("TMPDIR");
    return folder && *folder ? folder : "/tmp";
  }
  int First(int k) const { return k * rows_; }
  int Size(int k) const { return std::min(past_, First(k) + rows_) - First(k); }
  static std::uint64_t Key(int k, int m) {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(k)) << 32 | static_cast<std::uint32_t>(m);
  }
  // Block m's tiles in the order of k, each Size(m) rows of Size(k).
  std::uint64_t Offset(int k, int m) const {
    return base_[static_cast<std::size_t>(m)] +
           static_cast<std::uint64_t>(Size(m)) * static_cast<std::uint64_t>(First(k)) * sizeof(double);
  }

  // Rows of block m against the columns of block k, from block k's rows,
  // in squares that stay in the cache on both sides.
  void Transpose(const double* values, int k, int m, double* tile) const {
    constexpr int Side = 32;
    const int rows = Size(m), columns = Size(k), at = First(m);
    for (int r0 = 0; r0 < rows; r0 += Side)
      for (int c0 = 0; c0 < columns; c0 += Side) {
        const int r1 = std::min(rows, r0 + Side), c1 = std::min(columns, c0 + Side);
        for (int c = c0; c < c1; ++c) {
          const double* from = values + static_cast<std::size_t>(c) * width_ + static_cast<std::size_t>(at);
          for (int r = r0; r < r1; ++r)
            tile[static_cast<std::size_t>(r) * static_cast<std::size_t>(columns) + static_cast<std::size_t>(c)] =
                from[r];
        }
      }
  }

  void Put(const double* data, std::size_t bytes, std::uint64_t offset) {
    if (fd_ < 0) fd_ = Generic::Temporaries::Create_Scratch(folder_);
    const char* from = reinterpret_cast<const char*>(data);
    while (bytes > 0) {
      const ssize_t done = pwrite(fd_, from, bytes, static_cast<off_t>(offset));
      if (done < 0 && errno == EINTR) continue;
      if (done <= 0) Fail("write", done < 0 ? errno : ENOSPC);
      from += done;
      bytes -= static_cast<std::size_t>(done);
      offset += static_cast<std::uint64_t>(done);
    }
  }
  void Get(double* data, std::size_t bytes, std::uint64_t offset) const {
    char* to = reinterpret_cast<char*>(data);
    while (bytes > 0) {
      const ssize_t done = pread(fd_, to, bytes, static_cast<off_t>(offset));
      if (done < 0 && errno == EINTR) continue;
      if (done <= 0) Fail("read", done < 0 ? errno : EIO);
      to += done;
      bytes -= static_cast<std::size_t>(done);
      offset += static_cast<std::uint64_t>(done);
    }
  }
  [[noreturn]] void Fail(const char* what, int error) const {
    throw Errors::Device_Error(std::string("cannot ") + what + " a temporary file in '" + folder_ +
                               "': " + Text_IO::Write_Failure(error));
  }

  int rows_, past_;
  std::size_t width_, budget_, held_ = 0;
  std::string folder_;
  int fd_ = -1;
  // The tiles in memory, by Key: a few, however many blocks there are.
  std::unordered_map<std::uint64_t, std::vector<double>> memory_;
  std::vector<std::uint64_t> base_; // where block m's tiles start in the file, and where they end
  std::vector<double> buffer_;
};

// Of block rows first .. past - 1, the columns of the pairs within the
// block that each row's earlier taxon holds: the kernels gave them to the
// earlier row only.
void Mirror_Block(double* values, int first, int past, std::size_t width) {
  const int rows = past - first;
  const int threads = std::max(1, std::min(Generic::Parallel::Threads(), rows / 64));
  // Row r copies r values: taking every threads-th row evens the work out.
  Generic::Parallel::Run(threads, [&](int worker) {
    for (int r = worker; r < rows; r += threads) {
      double* row = values + static_cast<std::size_t>(r) * width;
      for (int c = 0; c < r; ++c)
        row[first + c] = values[static_cast<std::size_t>(c) * width + static_cast<std::size_t>(first + r)];
    }
  });
}

// Rows too many to hold go out block after block in three overlapped
// stages: while the pool computes block k + 1, block k is formatted (by a
// thread of its own, joined by the computing thread once it is done) and
// block k - 1 is written. Two blocks of values and the text of two blocks
// are held at once. The rows written before a failure, and the failure
// reported, are those of a run that did one stage at a time.
// A square from row 0 computes each pair once (see Kept_Tiles): a block's
// first failing pair is then still the square's, since every pair of its
// rows with an earlier taxon before the block was computed, without
// failing, by an earlier block. Its tiles are kept, and the next block's
// read, on a thread of their own while the next block is computed, into
// the columns it does not compute.
void Put_Streamed(Text_IO::Text_Output& output, const Row_Blocks& blocks, Row_Range rows, Row_Part part,
                  const Print::Row_Layout& layout, int block_rows, std::size_t memory, const std::string& scratch,
                  Distfunc::Undefined_Pairs* undefined, Generic::Progress::Stage& progress) {
  const auto width = static_cast<std::size_t>(blocks.Taxa());
  // A part that starts later would need its columns before its first row
  // from blocks it does not have.
  const bool once = part == Row_Part::ALL && rows.First == 0 && rows.Past > block_rows;
  const Row_Part computed = once ? Row_Part::AFTER : part;
  std::vector<double> values[2];
  std::vector<std::string> pieces;
  Format_Job job;
  std::unique_ptr<Kept_Tiles> kept;
  if (once) {
    // Both blocks are in place before any thread writes to them.
    for (std::vector<double>& block : values) block.resize(static_cast<std::size_t>(block_rows) * width);
    // What the blocks and their text leave of the budget.
    kept = std::make_unique<Kept_Tiles>(rows.Past, block_rows, blocks.Taxa(), memory / 2, scratch);
  }
  struct Block {
    int First = 0, Past = 0, Stop = 0;
    Distfunc::Failed_Pair Failed;
    std::exception_ptr Error; // raised once the blocks before are written
  };
  const auto compute = [&](int first, int turn) {
    Block block{first, std::min(rows.Past, first + block_rows), 0, {}, nullptr};
    try {
      values[turn].resize(static_cast<std::size_t>(block_rows) * width);
      block.Failed = blocks.Compute(block.First, block.Past, computed, Distfunc::Pair_Order::ROWS,
                                    values[turn].data(), undefined);
      if (once) Mirror_Block(values[turn].data(), block.First, block.Past, width);
    } catch (...) {
      block.Error = std::current_exception();
    }
    block.Stop = !block.Failed.Found() ? block.Past : part == Row_Part::BEFORE ? block.Failed.J : block.Failed.I;
    return block;
  };
  // Declared after what they read, so that they finish before it goes.
  Background_Writer writer;
  // One thread asked for is one thread used.
  Background_Writer formatter(Generic::Parallel::Threads() > 1);
  Background_Writer tiles(Generic::Parallel::Threads() > 1);
  int turn = 0;
  for (Block current = compute(rows.First, turn);; turn ^= 1) {
    if (current.Error) {
      writer.Finish();
      std::rethrow_exception(current.Error);
    }
    job.Prepare(pieces, blocks.Labels(), values[turn].data(), current.First, current.Stop, layout);
    formatter.Write([&job] { job.Work(); });
    const bool more = !current.Failed.Found() && current.Past < rows.Past;
    if (once && more) {
      // The next block's columns before its first row are not the ones it
      // computes, so both go on at once.
      const int k = current.First / block_rows;
      tiles.Write([&kept, &values, turn, k] {
        kept->Keep(k, values[turn].data());
        kept->Fill(k + 1, values[turn ^ 1].data());
      });
    }
    Block next;
    if (more) next = compute(current.Past, turn ^ 1);
    job.Work();
    formatter.Finish();
    tiles.Finish();
    writer.Write(output, pieces);
    progress.Advance(static_cast<std::uint64_t>(current.Stop - current.First));
    if (current.Failed.Found()) {
      writer.Finish();
      Distfunc::Failed_Pair failed = current.Failed;
      if (part == Row_Part::BEFORE) failed = First_In_Taxa_Order(blocks, rows, failed, values[0], block_rows);
      blocks.Raise(failed);
    }
    if (!more) break;
    current = std::move(next);
  }
  writer.Finish();
}

} // namespace

std::string Folder_Of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool Fits(int taxa, std::size_t memory) {
  const auto n = static_cast<std::size_t>(std::max(taxa, 0));
  return n == 0 || n <= memory / sizeof(double) / n;
}

Distfunc::Row_Part Part_Of(Print::Dist_Output_Format format) { return Print::Layout_Row(format).Part; }

Row_Range Part_Rows(int taxa, Row_Part part, int index, int parts) {
  if (parts < 1 || index < 0 || index >= parts)
    throw Errors::Constraint_Error("range check failed: part " + std::to_string(index + 1) + " of " +
                                   std::to_string(parts));
  const std::uint64_t total = Pairs_Before(taxa, part, taxa);
  // The first row of part k is the first row from which the pairs before
  // reach k / parts of the total, rounded down.
  const auto start = [&](int k) {
    if (k == parts) return taxa;
    const auto K = static_cast<std::uint64_t>(parts), kk = static_cast<std::uint64_t>(k);
    const std::uint64_t target = total / K * kk + total % K * kk / K;
    int lo = 0, hi = taxa;
    while (lo < hi) {
      const int mid = lo + (hi - lo) / 2;
      if (Pairs_Before(taxa, part, mid) >= target) hi = mid;
      else lo = mid + 1;
    }
    return lo;
  };
  return {start(index), start(index + 1)};
}

void Put_Distance_Rows(Text_IO::Text_Output& output, const Row_Blocks& blocks, Print::Dist_Output_Format format,
                       Row_Range rows, std::size_t memory, int aft, const std::string& scratch) {
  const int taxa = blocks.Taxa();
  if (rows.First < 0 || rows.First > rows.Past || rows.Past > taxa)
    throw Errors::Constraint_Error("range check failed: rows " + std::to_string(rows.First) + " to " +
                                   std::to_string(rows.Past) + " of a matrix of " + std::to_string(taxa) +
                                   " taxa");
  const Taxon_Labels& labels = blocks.Labels();
  const Print::Row_Layout layout =
      Print::Layout_Of(labels, format, Print::Default_Fore, aft, Print::Default_Exp);
  const Row_Part part = Part_Of(format);
  const auto width = static_cast<std::size_t>(taxa);
  const auto count = static_cast<std::size_t>(rows.Past - rows.First);
  const bool held = width == 0 || count <= memory / sizeof(double) / width;
  // Streamed, two blocks of values are held at once (one computed while the
  // other is formatted).
  const int block_rows = held ? std::max(1, static_cast<int>(count)) : Block_Rows(taxa, memory / 2);

  std::vector<double> values(held ? static_cast<std::size_t>(block_rows) * width : 0);
  std::vector<std::string> pieces;
  Distfunc::Undefined_Pairs undefined_pairs;
  Distfunc::Undefined_Pairs* const undefined = blocks.Undefined_As_NaN() ? &undefined_pairs : nullptr;
  if (held && count > 0) {
    // All pairs are known before the first byte, as when the whole matrix
    // is held.
    const Distfunc::Failed_Pair failed =
        blocks.Compute(rows.First, rows.Past, part, Distfunc::Pair_Order::TAXA, values.data(), undefined);
    if (failed.Found()) blocks.Raise(failed);
    if (undefined) blocks.Warn(undefined_pairs);
  }
  // The header goes with the part that holds row 0 and the footer with the
  // one that holds the last row, so that empty parts add nothing.
  if (rows.First == 0 && rows.Past > 0) Print::Print_Header(output, labels, format);
  {
    // Counts the rows handed to the writer, a block at a time.
    Generic::Progress::Stage progress("distances", count, Generic::Progress::Unit::TAXA);
    if (!held) {
      if (count > 0)
        Put_Streamed(output, blocks, rows, part, layout, block_rows, memory, scratch, undefined, progress);
    } else {
      Background_Writer writer;
      const int step = std::max(1, Block_Rows(taxa, Default_Memory));
      for (int first = rows.First; first < rows.Past; first += step) {
        const int past = std::min(rows.Past, first + step);
        Format_Rows(pieces, labels, values.data(), rows.First, first, past, layout);
        writer.Write(output, pieces);
        progress.Advance(static_cast<std::uint64_t>(past - first));
      }
      writer.Finish();
    }
  }
  // Written as computed, the pairs are all known only now.
  if (undefined && !held) blocks.Warn(undefined_pairs);
  if (rows.Past == taxa && rows.First < taxa) Print::Print_Footer(output, format);
}

void Put_Binary_Rows(Binary_Output::Matrix_Writer& writer, const Row_Blocks& blocks, Row_Part part,
                     std::size_t memory, const std::string& scratch) {
  const int taxa = blocks.Taxa();
  const auto width = static_cast<std::size_t>(taxa);
  // A square computes each pair once, as the text layouts do, and keeps
  // what later rows show in half the budget (and beyond it on disk).
  const bool once = part == Row_Part::ALL && !Fits(taxa, memory);
  const int block_rows = Block_Rows(taxa, once ? memory / 2 : memory);
  std::unique_ptr<Kept_Tiles> kept;
  if (once) kept = std::make_unique<Kept_Tiles>(taxa, block_rows, taxa, memory / 2, scratch);
  // Two blocks take turns: one is written while the other is computed.
  std::vector<double> values[2];
  Generic::Progress::Stage progress("distances", static_cast<std::uint64_t>(taxa), Generic::Progress::Unit::TAXA);
  Distfunc::Undefined_Pairs undefined_pairs;
  Distfunc::Undefined_Pairs* const undefined = blocks.Undefined_As_NaN() ? &undefined_pairs : nullptr;
  Background_Writer background;
  int turn = 0;
  for (int first = 0; first < taxa; first += block_rows, turn ^= 1) {
    const int past = std::min(taxa, first + block_rows);
    std::vector<double>& block = values[turn];
    block.resize(static_cast<std::size_t>(past - first) * width);
    // Of the square and of the upper triangle alike, a block's first failing
    // pair in the order of the taxa is the whole matrix's when no earlier
    // block failed: each pair (i, j), i < j, is computed with row i.
    const Distfunc::Failed_Pair failed = blocks.Compute(first, past, once ? Row_Part::AFTER : part,
                                                        Distfunc::Pair_Order::TAXA, block.data(), undefined);
    if (once) {
      // The rows before a failing pair are written, so they too are made
      // whole; only what follows a failure is not kept.
      Mirror_Block(block.data(), first, past, width);
      kept->Fill(first / block_rows, block.data());
      if (!failed.Found()) kept->Keep(first / block_rows, block.data());
    }
    const int stop = failed.Found() ? std::max(first, failed.I) : past;
    if (stop > first)
      background.Write([&writer, &block, first, stop, width] {
        const auto rows = static_cast<std::size_t>(stop - first);
        writer.Put_Rows(static_cast<std::size_t>(first), rows, std::span<const double>(block.data(), rows * width));
      });
    progress.Advance(static_cast<std::uint64_t>(stop - first));
    if (failed.Found()) {
      background.Finish();
      blocks.Raise(failed);
    }
  }
  background.Finish();
  if (undefined) blocks.Warn(undefined_pairs);
}

} // namespace Karvel::Phylo::Pipeline
