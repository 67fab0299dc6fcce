#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace convsim {

// How the simulated converter misbehaves for one command.
struct Fault {
  enum class Kind {
    kNone,          // answer normally
    kSilence,       // drop the request: nothing is done, nothing is sent
    kRefuse,        // do nothing, answer with a refusal status
    kNoise,         // send `count` noise bytes (never 0x7F) before the reply
    kStray,         // like kNoise, with one stray 0x7F among the noise
    kSplit,         // send the reply in chunks of `count` bytes, `pauseMs` apart
    kWrongAddress,  // reply with address 0x02
    kWrongLength,   // reply with a data length one less than right
    kBadCrc,        // reply with a corrupted checksum field
    kDelay,         // wait `pauseMs` before replying
  };

  Kind kind = Kind::kNone;
  unsigned count = 0;       // noise bytes, or split chunk size
  unsigned pauseMs = 0;     // split pause, or delay
  std::uint8_t status = 0;  // refusal status

  bool operator==(const Fault&) const = default;
};

// Parses the mode and its arguments, e.g. {"split", "5", "40"}. Returns false
// and sets `error` for an unknown mode or a bad argument.
bool ParseFault(const std::vector<std::string>& words, Fault& fault, std::string& error);

// The mode in the syntax ParseFault reads ("split 5 40").
std::string DescribeFault(const Fault& fault);

// The syntax of the fault modes, for help texts.
const char* FaultSyntax();

}  // namespace convsim
