#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/TrafficRow.h"

// The last rows of the traffic, oldest first, in a ring: appending a row to a
// full store drops the oldest. The slots are reused, so once the store is
// full an append allocates nothing (a message row's detail aside). Not
// thread-safe: one thread appends and reads.
namespace protocol {

class TrafficStore {
 public:
  static constexpr std::size_t kDefaultCapacity = 10000;

  // A capacity of 0 is taken as 1.
  explicit TrafficStore(std::size_t capacity = kDefaultCapacity);

  void Append(const TrafficRow& row);
  // Empties the store; Appended() keeps counting.
  void Clear();

  std::size_t Size() const { return size_; }
  std::size_t Capacity() const { return capacity_; }
  // Row `index` counted from the oldest held, 0 <= index < Size().
  const TrafficRow& At(std::size_t index) const;

  // Rows appended since construction, the dropped and cleared ones
  // included: the row At(i) is the (Appended() - Size() + i)-th appended, so a
  // view can tell how many rows left at the front and came at the back
  // since it last looked.
  std::uint64_t Appended() const { return appended_; }

 private:
  std::vector<TrafficRow> slots_;
  std::size_t capacity_;
  std::size_t first_ = 0;  // slot of the oldest row
  std::size_t size_ = 0;
  std::uint64_t appended_ = 0;
};

}  // namespace protocol
