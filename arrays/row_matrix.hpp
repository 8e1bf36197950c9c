#pragma once
// A matrix of row vectors, numbered from 0. Rows are kept one after another
// in a single block, so an aligned matrix is an ordinary row-major array
// (what the distance kernels want).

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <span>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "diagnostics/errors.hpp"

namespace Karvel::Generic {

// Leaves new elements of a vector uninitialised, as `new T` does, so that
// growing a block by rows that are filled at once costs no extra pass.
template <class T>
struct Uninitialised_Allocator : std::allocator<T> {
  using std::allocator<T>::allocator;
  template <class U>
  struct rebind {
    using other = Uninitialised_Allocator<U>;
  };
  template <class U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

//
// A matrix may instead borrow a block its caller keeps alive (a Python
// array): nothing is copied until something would change it. The first
// change, and every copy of the matrix, copies the block first, so that the
// caller's values are never written.
template <class T>
class Row_Matrix {
public:
  using Element = T;

  Row_Matrix() = default;
  Row_Matrix(const Row_Matrix& other) : rows_(other.rows_) { block_.assign(other.Data(), other.Data() + other.Values()); }
  Row_Matrix& operator=(const Row_Matrix& other) {
    if (this != &other) *this = Row_Matrix(other);
    return *this;
  }
  Row_Matrix(Row_Matrix&&) noexcept = default;
  Row_Matrix& operator=(Row_Matrix&&) noexcept = default;
  ~Row_Matrix() = default;

  // `rows` rows of `length` values each at `values`, which must outlive the
  // matrix or its first change.
  void Borrow(const T* values, std::size_t rows, int length) {
    block_.clear();
    rows_.clear();
    rows_.reserve(rows);
    for (std::size_t r = 0; r < rows; ++r) rows_.push_back({r * static_cast<std::size_t>(length), length});
    borrowed_ = values;
    borrowed_size_ = rows * static_cast<std::size_t>(length);
  }
  bool Borrowed() const { return borrowed_ != nullptr; }
  // Copies a borrowed block into the matrix's own. Not safe to race with
  // itself: a part that changes rows on several threads calls it first.
  void Own() {
    if (!borrowed_) return;
    block_.assign(borrowed_, borrowed_ + borrowed_size_);
    borrowed_ = nullptr;
    borrowed_size_ = 0;
  }

  int Rows() const { return static_cast<int>(rows_.size()); }
  // The values in the block, in all rows and the one still open.
  std::size_t Values() const { return borrowed_ ? borrowed_size_ : block_.size(); }

  // Building. Values are appended to the block and then closed into a row;
  // memory grows with what is actually appended.
  void Push(const T& value) {
    Own();
    block_.push_back(value);
  }
  void Reserve_Values(std::size_t count) {
    Own();
    block_.reserve(count);
  }
  // The memory reserved for values, filled or not.
  void* Reserved_Memory() {
    Own();
    return block_.data();
  }
  std::size_t Reserved_Bytes() const { return block_.capacity() * sizeof(T); }
  void Reserve_Rows(std::size_t count) { rows_.reserve(count); }
  // Closes the values pushed since the last row into a row.
  void Close_Row() {
    Own();
    const std::size_t start = rows_.empty() ? 0 : end_of(rows_.size());
    rows_.push_back({start, static_cast<int>(block_.size() - start)});
  }
  void Append_Row(std::span<const T> values) {
    Own();
    block_.insert(block_.end(), values.begin(), values.end());
    Close_Row();
  }
  // Appends `count` rows of `length` values, not yet set (the caller fills
  // them), and returns where the first begins. Their memory is not touched
  // here: rows that are then dropped unfilled cost address space only.
  T* Add_Rows(std::size_t count, int length) {
    Own();
    const std::size_t start = block_.size();
    block_.resize(start + count * static_cast<std::size_t>(length));
    for (std::size_t r = 0; r < count; ++r)
      rows_.push_back({start + r * static_cast<std::size_t>(length), length});
    return block_.data() + start;
  }
  // Keeps the first `count` rows (and their values) and drops the others.
  void Keep_Rows(int count) {
    if (count >= Rows()) return;
    Own();
    block_.resize(count > 0 ? end_of(static_cast<std::size_t>(count)) : 0);
    rows_.resize(static_cast<std::size_t>(count));
  }

  int Row_Length(int row) const { return info(row).length; }

  std::span<const T> Row(int row) const {
    const Row_Info& r = info(row);
    return {Data() + r.offset, static_cast<std::size_t>(r.length)};
  }
  std::span<T> Row(int row) {
    const Row_Info& r = info(row);
    Own();
    return {block_.data() + r.offset, static_cast<std::size_t>(r.length)};
  }

  // The whole block. For a matrix whose rows all have one length n, row i
  // starts at Data() + i * n.
  const T* Data() const { return borrowed_ ? borrowed_ : block_.data(); }
  T* Data() {
    Own();
    return block_.data();
  }

private:
  struct Row_Info {
    std::size_t offset;
    int length;
  };

  // Where the values after the first `count` rows begin.
  std::size_t end_of(std::size_t count) const {
    const Row_Info& r = rows_[count - 1];
    return r.offset + static_cast<std::size_t>(r.length);
  }
  const Row_Info& info(int row) const {
    if (row < 0 || row >= Rows())
      throw Errors::Constraint_Error("row " + std::to_string(row) + " is outside the matrix (0 .. " +
                                     std::to_string(Rows() - 1) + ")");
    return rows_[static_cast<std::size_t>(row)];
  }

  std::vector<T, Uninitialised_Allocator<T>> block_;
  std::vector<Row_Info> rows_;
  const T* borrowed_ = nullptr;
  std::size_t borrowed_size_ = 0;
};

// Memory for a large block, released with std::free; null when there is
// none. Blocks of megabytes are asked for in huge pages where the system
// offers them on request: filling a distance matrix of thousands of taxa
// otherwise spends much of its time on page faults.
void* Allocate_Large(std::size_t bytes);

// Has the system back [memory, memory + bytes) with pages on a thread of its
// own, leaving the content alone, so that the thread that fills the memory
// meanwhile does not stop at every new page. Pages are backed only up to
// Lead bytes beyond what the filler says it has reached: the range is often
// sized by a promise (a header's counts) that the data may not keep, and
// memory should grow with what is actually written, not with the promise.
// Waits for that thread when destroyed; the memory must stay allocated until
// then.
class Populating {
public:
  static constexpr std::size_t Lead = std::size_t{32} << 20;

  Populating(void* memory, std::size_t bytes);
  ~Populating();
  Populating(const Populating&) = delete;
  Populating& operator=(const Populating&) = delete;

  // The filler has written, or is about to write, the first `bytes` bytes of
  // the range. Cheap enough to call for every value: the thread is only told
  // after every quarter of Lead.
  void Reached(std::size_t bytes) {
    if (bytes >= next_report_) Report(bytes);
  }

private:
  void Report(std::size_t bytes);
  void Back(std::uintptr_t first, std::uintptr_t base, std::uintptr_t stop);

  std::size_t next_report_ = std::numeric_limits<std::size_t>::max(); // never without a thread
  std::mutex mutex_;
  std::condition_variable moved_;
  std::size_t reached_ = 0; // guarded by mutex_, as is stopping_
  bool stopping_ = false;
  std::thread worker_;
};

// A square block of distances over one taxon range, stored row after row.
// It is not initialised when made: the distance routines fill every cell.
class Square_Block {
public:
  Square_Block() = default;
  Square_Block(int first, int last) : first_(first), n_(last < first ? 0 : last - first + 1) {
    if (first < 0 && n_ > 0)
      throw Errors::Constraint_Error("a taxon range may not start below 0");
    const std::size_t cells = static_cast<std::size_t>(n_) * static_cast<std::size_t>(n_);
    values_.reset(static_cast<double*>(Allocate_Large(cells * sizeof(double))));
    if (!values_)
      throw Errors::Storage_Error("cannot allocate the " + std::to_string(n_) + " x " +
                                  std::to_string(n_) + " distance matrix (" +
                                  std::to_string(cells * sizeof(double)) + " bytes)");
  }

  int First() const { return first_; }
  int Last() const { return first_ + n_ - 1; }
  int Size() const { return n_; }

  double& operator()(int i, int j) { return values_.get()[index(i, j)]; }
  double operator()(int i, int j) const { return values_.get()[index(i, j)]; }
  double* Row(int i) { return values_.get() + index(i, first_); }
  const double* Row(int i) const { return values_.get() + index(i, first_); }
  double* Data() { return values_.get(); }
  const double* Data() const { return values_.get(); }

private:
  std::size_t index(int i, int j) const {
    return static_cast<std::size_t>(i - first_) * static_cast<std::size_t>(n_) +
           static_cast<std::size_t>(j - first_);
  }

  struct Free_Large {
    void operator()(double* p) const { std::free(p); }
  };

  int first_ = 0;
  int n_ = 0;
  std::unique_ptr<double, Free_Large> values_;
};

} // namespace Karvel::Generic
