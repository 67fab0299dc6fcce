#include "protocol/RxBuffer.h"

#include <algorithm>

namespace protocol {

std::span<const std::uint8_t> ReceiveBuffer::AppendReceived(const std::uint8_t* chunk,
                                                            std::size_t n) {
  if (n == 0) return {};
  if (count_ + n > kClearThreshold) ClearRxBuffer();
  // Only an oversized single chunk gets here still too large; it may fill
  // all 256 bytes.
  if (count_ + n > kClearThreshold) n = std::min(n, kCapacity);
  std::copy_n(chunk, n, bytes_.begin() + count_);
  const std::size_t start = count_;
  count_ = static_cast<std::uint16_t>(count_ + n);
  return std::span(bytes_).subspan(start, n);
}

void ReceiveBuffer::ClearRxBuffer() {
  bytes_.fill(0);
  count_ = 0;
}

}  // namespace protocol
