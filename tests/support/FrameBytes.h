#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "protocol/Frame.h"

namespace testing_support {

// Bytes as they travel on the line: frames, parts of frames and their runs.
using Bytes = std::vector<std::uint8_t>;

inline Bytes ToBytes(const protocol::Frame& frame) {
  return Bytes(frame.begin(), frame.end());
}

// The parts one after the other, as the converter would send them in a row.
inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

}  // namespace testing_support
