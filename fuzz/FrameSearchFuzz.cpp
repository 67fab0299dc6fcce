// Feeds arbitrary chunks through the receive buffer and runs every frame
// search over what it holds after each chunk, as the reply dispatcher would.
//
// Input layout: a sequence of [length byte][chunk]. A length byte of 0xFF
// stands for a 300-byte chunk, to reach the oversized-chunk rule; a chunk
// shorter than announced takes what is left.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "protocol/FrameSearch.h"
#include "protocol/Records.h"
#include "protocol/RxBuffer.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

void DecodeAccepted(const protocol::Frame& frame) {
  switch (protocol::FrameCode(frame)) {
    case protocol::CMD_CONVT_GET:
      (void)protocol::ConvtParams::FromReply(frame);
      break;
    case protocol::CMD_COM_GET:
      (void)protocol::ComParams::FromReply(frame);
      break;
    case protocol::CMD_CAN_GET:
      (void)protocol::CanParams::FromReply(frame);
      break;
    default:
      break;
  }
}

void RunStream(std::span<const std::uint8_t> held, std::span<const std::uint16_t> codes) {
  protocol::FrameStream stream(held, codes);
  std::size_t found = 0;
  while (auto frame = stream.Next()) {
    Require(protocol::IsAcceptedStreamReply(*frame, codes));
    Require((*frame)[0] == protocol::FRAME_START && (*frame)[28] == protocol::FRAME_END);
    DecodeAccepted(*frame);
    Require(++found <= held.size() / protocol::FRAME_LENGTH);
  }
  Require(stream.Position() <= held.size());
}

void SearchAll(const protocol::ReceiveBuffer& buffer) {
  const auto held = buffer.Bytes();
  Require(held.size() <= protocol::ReceiveBuffer::kCapacity);
  if (auto frame = protocol::FindRestoreDefaultReply(held)) {
    Require(protocol::FrameCode(*frame) == protocol::CMD_RESTORE_DEFAULT);
  }
  if (auto frame = protocol::FindVersionReply(held)) {
    const auto version = protocol::VersionRecord::FromReply(*frame);
    Require(version.BuildDateText().size() >= 7);
  }
  RunStream(held, protocol::kReadReplyCodes);
  RunStream(held, protocol::kWriteReplyCodes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  protocol::ReceiveBuffer buffer;
  std::size_t pos = 0;
  while (pos < size) {
    const std::size_t announced = data[pos] == 0xFF ? 300 : data[pos];
    ++pos;
    const std::size_t n = announced < size - pos ? announced : size - pos;
    const std::size_t before = buffer.RxCount();
    const auto stored = buffer.AppendReceived(data + pos, n);
    Require(stored.size() == (n > 256 ? 256 : n));
    // An empty chunk changes nothing; otherwise the chunk either fits below
    // the threshold or replaces everything held.
    if (n == 0)
      Require(buffer.RxCount() == before);
    else if (before + n <= protocol::ReceiveBuffer::kClearThreshold)
      Require(buffer.RxCount() == before + n);
    else
      Require(buffer.RxCount() == stored.size());
    pos += n;
    SearchAll(buffer);
  }
  return 0;
}
