// Feeds arbitrary bytes from the "tool side" into the simulator's request
// assembler and lets the converter answer every frame it finds, with the
// fault chosen by the first input byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "Converter.h"
#include "RequestAssembler.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

convsim::Fault FaultFrom(std::uint8_t selector) {
  convsim::Fault fault;
  fault.kind = static_cast<convsim::Fault::Kind>(selector % 10);
  fault.count = 4u + selector % 25u;  // valid for noise, stray and split alike
  fault.pauseMs = selector;
  fault.status = 0x21;
  return fault;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  convsim::Converter converter;
  converter.SetFaultForAll(FaultFrom(data[0]));
  converter.SetStrict(data[1] & 1);
  convsim::RequestAssembler assembler;
  std::vector<convsim::AssemblerEvent> events;
  // Chunks of varying size, as a serial line delivers them.
  for (std::size_t pos = 2; pos < size;) {
    const std::size_t n = 1 + data[pos] % 40 < size - pos ? 1 + data[pos] % 40 : size - pos;
    events.clear();
    assembler.Feed({data + pos, n}, events);
    pos += n;
    Require(assembler.Pending() < protocol::FRAME_LENGTH);
    for (const auto& event : events) {
      if (event.kind != convsim::AssemblerEvent::Kind::kFrame) continue;
      Require(protocol::FrameCrcMatches(event.frame));
      const convsim::Outcome outcome = converter.Handle(event.frame);
      std::size_t bytes = 0;
      for (const auto& e : outcome.emissions) bytes += e.bytes.size();
      Require(outcome.emissions.empty() || bytes >= protocol::FRAME_LENGTH);
    }
  }
  return 0;
}
