#include "platform/CommParmrk.h"

#include "platform/CommPort.h"

namespace platform {

ParmrkDecoder::Result ParmrkDecoder::Decode(uint8_t* data, size_t length, const Options& options) {
  Result result;
  size_t out = 0;
  auto emit = [&](uint8_t byte) {
    if (options.discardNull && byte == 0) return;
    data[out++] = byte;
  };
  if (!options.marking) state_ = State::Plain;
  for (size_t in = 0; in < length; ++in) {
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
