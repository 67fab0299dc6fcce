#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Undoes the terminal driver's PARMRK marking of the input stream:
//   FF FF     -> one FF byte
//   FF 00 X   -> X received with a parity or framing error
//   FF 00 00  -> a break
// and applies the byte rules of the line settings (replace bytes received
// with errors, drop NUL bytes). A mark cut by a read boundary is finished by
// the next call.
class ParmrkDecoder {
 public:
  struct Options {
    bool marking = false;        // PARMRK is on
    bool replaceErrors = false;  // replace bytes received with errors by errorChar
    uint8_t errorChar = 0;
    bool discardNull = false;
    uint32_t markedErrorFlag = 0;  // CE_ flag for a marked byte (parity or frame)
  };
  struct Result {
    size_t length = 0;    // decoded bytes at the start of the buffer
    uint32_t errors = 0;  // CE_ flags seen
    uint32_t events = 0;  // EV_ events seen (EV_ERR, EV_BREAK)
  };

  // Decodes data[0..length) in place (the result is never longer).
  Result Decode(uint8_t* data, size_t length, const Options& options);
  void Reset() { state_ = State::Plain; }

 private:
  enum class State { Plain, AfterFF, AfterFF00 };
  State state_ = State::Plain;
};

}  // namespace platform
