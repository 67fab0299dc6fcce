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
    size_t consumed = 0;  // input bytes taken; the rest is for the next call
    size_t length = 0;    // decoded bytes written to the output
    uint32_t errors = 0;  // CE_ flags seen
    uint32_t events = 0;  // EV_ events seen (EV_ERR, EV_BREAK)
  };

  // Decodes input[0..inputLength) into output[0..outputCapacity), which
  // must not overlap, and stops when the output is full. The output can be
  // one byte longer than the input taken: an FF held from the previous call
  // followed by a byte that is no mark gives both bytes. Input left over
  // must be offered again, so that nothing is lost.
  Result Decode(const uint8_t* input, size_t inputLength, uint8_t* output, size_t outputCapacity,
                const Options& options);
  void Reset() { state_ = State::Plain; }

 private:
  enum class State { Plain, AfterFF, AfterFF00 };
  State state_ = State::Plain;
};

}  // namespace platform
