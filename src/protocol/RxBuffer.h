#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace protocol {

// The receive buffer of the device operations: 256 bytes and the count of
// bytes held. Chunks are appended as the serial transport delivers them; the
// buffer is examined once per operation and emptied before the next one.
class ReceiveBuffer {
 public:
  static constexpr std::size_t kCapacity = 256;
  // A chunk that would bring the count above this empties the buffer first.
  static constexpr std::size_t kClearThreshold = 255;

  // Stores a received chunk: when the count would exceed 255 everything held
  // is dropped first, and of a chunk of 256 bytes or more only its first 256
  // are kept. Returns the bytes actually stored (empty for n == 0), for the
  // caller's trace; the view is valid until the next change of the buffer.
  std::span<const std::uint8_t> AppendReceived(const std::uint8_t* chunk, std::size_t n);

  // Zero-fills the buffer and sets the count to 0.
  void ClearRxBuffer();

  std::uint16_t RxCount() const { return count_; }
  // The bytes held, in order of arrival.
  std::span<const std::uint8_t> Bytes() const { return std::span(bytes_).first(count_); }
  // All 256 bytes, the ones beyond RxCount() included.
  const std::array<std::uint8_t, kCapacity>& RxBuffer() const { return bytes_; }

 private:
  std::array<std::uint8_t, kCapacity> bytes_{};
  std::uint16_t count_ = 0;
};

}  // namespace protocol
