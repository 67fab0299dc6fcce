#include "platform/CommParmrk.h"

#include <algorithm>
#include <cstring>

#include "platform/CommTypes.h"

namespace platform {

ParmrkDecoder::Result ParmrkDecoder::Decode(const uint8_t* input, size_t inputLength,
                                            uint8_t* output, size_t outputCapacity,
                                            const Options& options) {
  Result result;
  if (!options.marking && !options.discardNull) {
    state_ = State::Plain;
    const size_t n = std::min(inputLength, outputCapacity);
    if (n > 0) std::memcpy(output, input, n);
    result.consumed = result.length = n;
    return result;
  }
  if (!options.marking) state_ = State::Plain;
  size_t in = 0, out = 0;
  // Every step below writes at most one byte, so the loop condition keeps
  // the output within its capacity.
  auto emit = [&](uint8_t byte) {
    if (options.discardNull && byte == 0) return;
    output[out++] = byte;
  };
  while (in < inputLength && out < outputCapacity) {
    if (state_ == State::Plain && options.marking && !options.discardNull) {
      // Copy the run up to the next mark in one go.
      const size_t span = std::min(inputLength - in, outputCapacity - out);
      const void* mark = std::memchr(input + in, 0xFF, span);
      const size_t run = mark ? static_cast<const uint8_t*>(mark) - (input + in) : span;
      if (run > 0) {
        std::memcpy(output + out, input + in, run);
        out += run;
        in += run;
        continue;
      }
    }
    const uint8_t byte = input[in];
    switch (state_) {
      case State::Plain:
        ++in;
        if (options.marking && byte == 0xFF)
          state_ = State::AfterFF;
        else
          emit(byte);
        break;
      case State::AfterFF:
        if (byte == 0xFF) {
          ++in;
          emit(0xFF);
          state_ = State::Plain;
        } else if (byte == 0x00) {
          ++in;
          state_ = State::AfterFF00;
        } else {
          // Not a mark the driver makes; keep both bytes rather than lose
          // one. The byte itself is left for the plain state, which writes
          // it now or, when the output is full, in the next call.
          emit(0xFF);
          state_ = State::Plain;
        }
        break;
      case State::AfterFF00:
        ++in;
        state_ = State::Plain;
        if (byte == 0x00) {
          result.errors |= kCeBreak;
          result.events |= kEvBreak;
        } else {
          result.errors |= options.markedErrorFlag;
          result.events |= kEvErr;
          emit(options.replaceErrors ? options.errorChar : byte);
        }
        break;
    }
  }
  result.consumed = in;
  result.length = out;
  return result;
}

}  // namespace platform
