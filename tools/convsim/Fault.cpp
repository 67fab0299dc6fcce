#include "Fault.h"

#include <charconv>
#include <cstdio>

namespace convsim {
namespace {

constexpr unsigned kDefaultNoiseBytes = 8;
constexpr unsigned kDefaultChunkSize = 10;
constexpr unsigned kDefaultSplitPauseMs = 50;
constexpr std::uint8_t kDefaultRefusal = 0x21;
// Keeps a mistyped argument from stalling the simulator for hours or
// allocating a huge burst of noise.
constexpr unsigned kMaxNoiseBytes = 4096;
constexpr unsigned kMaxMs = 600000;

bool ParseNumber(const std::string& text, unsigned min, unsigned max, unsigned& value) {
  int base = 10;
  std::size_t skip = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    skip = 2;
  }
  unsigned parsed = 0;
  const char* first = text.data() + skip;
  const char* last = text.data() + text.size();
  const auto [end, ec] = std::from_chars(first, last, parsed, base);
  if (ec != std::errc() || end != last || first == last || parsed < min || parsed > max)
    return false;
  value = parsed;
  return true;
}

// Reads optional argument `index` of `words` into `value`, keeping the default
// when absent.
bool OptionalArg(const std::vector<std::string>& words, std::size_t index, unsigned min,
                 unsigned max, unsigned& value, std::string& error) {
  if (words.size() <= index) return true;
  if (ParseNumber(words[index], min, max, value)) return true;
  error = "bad argument '" + words[index] + "' for " + words[0] + " (expected " +
          std::to_string(min) + ".." + std::to_string(max) + ")";
  return false;
}

bool TooMany(const std::vector<std::string>& words, std::size_t allowed, std::string& error) {
  if (words.size() <= allowed + 1) return false;
  error = "too many arguments for " + words[0];
  return true;
}

}  // namespace

bool ParseFault(const std::vector<std::string>& words, Fault& fault, std::string& error) {
  if (words.empty()) {
    error = "missing fault mode";
    return false;
  }
  Fault f;
  const std::string& mode = words[0];
  std::size_t allowed = 0;
  bool ok = true;
  if (mode == "none") {
  } else if (mode == "silence") {
    f.kind = Fault::Kind::kSilence;
  } else if (mode == "refuse") {
    f.kind = Fault::Kind::kRefuse;
    unsigned status = kDefaultRefusal;
    allowed = 1;
    ok = OptionalArg(words, 1, 0, 255, status, error);
    if (ok && status == 0x20) {
      error = "refuse needs a status other than 0x20";
      ok = false;
    }
    f.status = static_cast<std::uint8_t>(status);
  } else if (mode == "noise" || mode == "stray") {
    f.kind = mode == "noise" ? Fault::Kind::kNoise : Fault::Kind::kStray;
    f.count = kDefaultNoiseBytes;
    allowed = 1;
    ok = OptionalArg(words, 1, f.kind == Fault::Kind::kStray ? 4 : 1, kMaxNoiseBytes, f.count,
                     error);
  } else if (mode == "split") {
    f.kind = Fault::Kind::kSplit;
    f.count = kDefaultChunkSize;
    f.pauseMs = kDefaultSplitPauseMs;
    allowed = 2;
    ok = OptionalArg(words, 1, 1, 28, f.count, error) &&
         OptionalArg(words, 2, 0, kMaxMs, f.pauseMs, error);
  } else if (mode == "wrongaddr") {
    f.kind = Fault::Kind::kWrongAddress;
  } else if (mode == "wronglen") {
    f.kind = Fault::Kind::kWrongLength;
  } else if (mode == "badcrc") {
    f.kind = Fault::Kind::kBadCrc;
  } else if (mode == "delay") {
    f.kind = Fault::Kind::kDelay;
    allowed = 1;
    if (words.size() < 2) {
      error = "delay needs a time in milliseconds";
      ok = false;
    } else {
      ok = OptionalArg(words, 1, 0, kMaxMs, f.pauseMs, error);
    }
  } else {
    error = "unknown fault mode '" + mode + "'";
    return false;
  }
  if (!ok || TooMany(words, allowed, error)) return false;
  fault = f;
  return true;
}

std::string DescribeFault(const Fault& fault) {
  switch (fault.kind) {
    case Fault::Kind::kNone:
      return "none";
    case Fault::Kind::kSilence:
      return "silence";
    case Fault::Kind::kRefuse: {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", fault.status);
      return std::string("refuse ") + hex;
    }
    case Fault::Kind::kNoise:
      return "noise " + std::to_string(fault.count);
    case Fault::Kind::kStray:
      return "stray " + std::to_string(fault.count);
    case Fault::Kind::kSplit:
      return "split " + std::to_string(fault.count) + " " + std::to_string(fault.pauseMs);
    case Fault::Kind::kWrongAddress:
      return "wrongaddr";
    case Fault::Kind::kWrongLength:
      return "wronglen";
    case Fault::Kind::kBadCrc:
      return "badcrc";
    case Fault::Kind::kDelay:
      return "delay " + std::to_string(fault.pauseMs);
  }
  return "none";
}

const char* FaultSyntax() {
  return "  none                  answer normally\n"
         "  silence               drop the request: nothing is done, nothing is sent\n"
         "  refuse [STATUS]       do nothing, answer with STATUS (default 0x21)\n"
         "  noise [N]             N noise bytes without 0x7F before the reply (default 8)\n"
         "  stray [N]             N noise bytes with one stray 0x7F among them (default 8)\n"
         "  split [SIZE [MS]]     reply in chunks of SIZE bytes, MS apart (default 10, 50)\n"
         "  wrongaddr             reply with address 0x02\n"
         "  wronglen              reply with a data length one less than right\n"
         "  badcrc                reply with a corrupted checksum\n"
         "  delay MS              wait MS milliseconds before replying\n";
}

}  // namespace convsim
