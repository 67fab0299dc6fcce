// Decodes a PARMRK-marked stream the way the read path does: the driver's
// bytes arrive in chunks, and reads with buffers of any size decode from the
// chunk, leaving what does not fit for the next read. Whatever the
// chunking, the reads together must give exactly what one decode of the
// whole stream gives, and no read may exceed its buffer.
//
// Input layout (FuzzedDataProvider): option flags and the error character,
// then the stream; the bytes after it choose chunk and buffer sizes (every
// chunk and buffer at least one byte; once they run out, one chunk takes the
// rest and buffers hold one byte).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/CommParmrk.h"
#include "platform/CommTypes.h"

namespace {

using platform::ParmrkDecoder;

void Require(bool condition) {
  if (!condition) std::abort();
}

struct Decoded {
  std::vector<uint8_t> bytes;
  uint32_t errors = 0;
  uint32_t events = 0;
};

Decoded DecodeWhole(const std::vector<uint8_t>& stream, const ParmrkDecoder::Options& options) {
  ParmrkDecoder decoder;
  Decoded whole;
  whole.bytes.resize(stream.size() + 1);
  const ParmrkDecoder::Result r =
      decoder.Decode(stream.data(), stream.size(), whole.bytes.data(), whole.bytes.size(), options);
  Require(r.consumed == stream.size());
  Require(r.length <= stream.size());
  whole.bytes.resize(r.length);
  whole.errors = r.errors;
  whole.events = r.events;
  return whole;
}

Decoded DecodeInReads(const std::vector<uint8_t>& stream, const ParmrkDecoder::Options& options,
                      FuzzedDataProvider& sizes) {
  ParmrkDecoder decoder;
  Decoded reads;
  size_t arrived = 0;                   // stream bytes handed to the stage so far
  size_t stageBegin = 0, stageEnd = 0;  // the current chunk within the stream
  while (arrived < stream.size() || stageBegin < stageEnd) {
    const size_t capacity =
        sizes.remaining_bytes() ? sizes.ConsumeIntegralInRange<size_t>(1, 1100) : 1;
    // A buffer of exactly the read's size, so that a write past it is caught.
    std::vector<uint8_t> buffer(capacity);
    size_t count = 0;
    while (count < capacity) {
      if (stageBegin == stageEnd) {
        if (arrived == stream.size()) break;
        const size_t left = stream.size() - arrived;
        const size_t chunk =
            sizes.remaining_bytes() ? sizes.ConsumeIntegralInRange<size_t>(1, left) : left;
        stageBegin = arrived;
        stageEnd = arrived += chunk;
      }
      const ParmrkDecoder::Result r =
          decoder.Decode(stream.data() + stageBegin, stageEnd - stageBegin, buffer.data() + count,
                         capacity - count, options);
      Require(r.consumed <= stageEnd - stageBegin);
      Require(r.length <= capacity - count);
      Require(r.consumed > 0 || r.length > 0);  // every call makes progress
      stageBegin += r.consumed;
      count += r.length;
      reads.errors |= r.errors;
      reads.events |= r.events;
    }
    reads.bytes.insert(reads.bytes.end(), buffer.begin(), buffer.begin() + count);
  }
  return reads;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const uint8_t flags = provider.ConsumeIntegral<uint8_t>();
  ParmrkDecoder::Options options;
  options.marking = flags & 1;
  options.replaceErrors = flags & 2;
  options.discardNull = flags & 4;
  options.markedErrorFlag = flags & 8 ? platform::kCeFrame : platform::kCeRxParity;
  options.errorChar = provider.ConsumeIntegral<uint8_t>();
  const std::vector<uint8_t> stream =
      provider.ConsumeBytes<uint8_t>(provider.ConsumeIntegralInRange<size_t>(0, 8192));

  const Decoded whole = DecodeWhole(stream, options);
  const Decoded reads = DecodeInReads(stream, options, provider);
  Require(reads.bytes == whole.bytes);
  Require(reads.errors == whole.errors);
  Require(reads.events == whole.events);
  return 0;
}
