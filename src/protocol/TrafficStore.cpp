#include "protocol/TrafficStore.h"

#include <algorithm>
#include <stdexcept>

namespace protocol {

TrafficStore::TrafficStore(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

void TrafficStore::Append(const TrafficRow& row) {
  ++appended_;
  if (size_ < capacity_) {
    const std::size_t slot = (first_ + size_) % capacity_;
    // The slots grow once up to the capacity; after that they are reused.
    if (slot == slots_.size())
      slots_.push_back(row);
    else
      slots_[slot] = row;
    ++size_;
    return;
  }
  slots_[first_] = row;
  first_ = (first_ + 1) % capacity_;
}

void TrafficStore::Clear() {
  first_ = 0;
  size_ = 0;
}

const TrafficRow& TrafficStore::At(std::size_t index) const {
  if (index >= size_) throw std::out_of_range("traffic row beyond the rows held");
  return slots_[(first_ + index) % capacity_];
}

}  // namespace protocol
