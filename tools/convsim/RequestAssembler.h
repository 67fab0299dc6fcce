#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "protocol/Frame.h"

namespace convsim {

// What the assembler made of the bytes fed to it.
struct AssemblerEvent {
  enum class Kind {
    kFrame,      // a complete request: start, end and checksum all right
    kDiscarded,  // bytes skipped while looking for a start byte
    kBadCrc,     // a delimited frame whose checksum did not match (its start byte is skipped)
  };
  Kind kind;
  protocol::Frame frame{};          // kFrame, kBadCrc
  std::vector<std::uint8_t> bytes;  // kDiscarded
};

// Cuts the byte stream from the tool into request frames. Garbage is skipped
// byte by byte until a start byte opens 29 bytes that end in the end byte and
// carry a matching checksum, so the stream resynchronises after noise or a
// torn frame. Holds at most 28 bytes between calls.
class RequestAssembler {
 public:
  void Feed(std::span<const std::uint8_t> bytes, std::vector<AssemblerEvent>& out);

  std::size_t Pending() const { return pending_.size(); }

 private:
  void Discard(std::size_t n, std::vector<AssemblerEvent>& out);

  std::vector<std::uint8_t> pending_;
};

}  // namespace convsim
