#include "platform/CommParmrk.h"

#include <cstring>

#include "platform/CommPort.h"

namespace platform {

ParmrkDecoder::Result ParmrkDecoder::Decode(uint8_t* data, size_t length, const Options& options) {
  Result result;
  if (!options.marking && !options.discardNull) {
    state_ = State::Plain;
    result.length = length;
    return result;
  }
  size_t out = 0;
  auto emit = [&](uint8_t byte) {
    if (options.discardNull && byte == 0) return;
    data[out++] = byte;
  };
  if (!options.marking) state_ = State::Plain;
  for (size_t in = 0; in < length; ++in) {
    if (state_ == State::Plain && options.marking && !options.discardNull) {
      // Copy the run up to the next mark in one go.
      const void* mark = std::memchr(data + in, 0xFF, length - in);
      const size_t run = mark ? static_cast<const uint8_t*>(mark) - (data + in) : length - in;
      if (run > 0) {
        std::memmove(data + out, data + in, run);
        out += run;
        in += run;
        if (in == length) break;
      }
    }
    const uint8_t byte = data[in];
    switch (state_) {
      case State::Plain:
        if (options.marking && byte == 0xFF)
          state_ = State::AfterFF;
        else
          emit(byte);
        break;
      case State::AfterFF:
        if (byte == 0xFF) {
          emit(0xFF);
          state_ = State::Plain;
        } else if (byte == 0x00) {
          state_ = State::AfterFF00;
        } else {
          // Not a mark the driver makes; keep both bytes rather than lose one.
          emit(0xFF);
          emit(byte);
          state_ = State::Plain;
        }
        break;
      case State::AfterFF00:
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
  result.length = out;
  return result;
}

}  // namespace platform
