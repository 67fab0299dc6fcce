#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "protocol/RxBuffer.h"

namespace protocol {
namespace {

std::vector<std::uint8_t> Counting(std::size_t n, std::uint8_t first = 0) {
  std::vector<std::uint8_t> bytes(n);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

std::vector<std::uint8_t> Held(const ReceiveBuffer& buffer) {
  return {buffer.Bytes().begin(), buffer.Bytes().end()};
}

TEST(ReceiveBuffer, AppendsChunksInOrderAndReturnsWhatItStored) {
  ReceiveBuffer buffer;
  const std::vector<std::uint8_t> a = {0x7F, 0x01};
  const std::vector<std::uint8_t> b = {0x20, 0x10, 0x00};
  const auto storedA = buffer.AppendReceived(a.data(), a.size());
  EXPECT_EQ(std::vector<std::uint8_t>(storedA.begin(), storedA.end()), a);
  const auto storedB = buffer.AppendReceived(b.data(), b.size());
  EXPECT_EQ(std::vector<std::uint8_t>(storedB.begin(), storedB.end()), b);
  EXPECT_EQ(Held(buffer), (std::vector<std::uint8_t>{0x7F, 0x01, 0x20, 0x10, 0x00}));
  EXPECT_TRUE(buffer.AppendReceived(a.data(), 0).empty());
  EXPECT_EQ(buffer.RxCount(), 5);
}

struct OverflowCase {
  std::size_t first;
  std::size_t second;
  std::size_t expectedCount;
  bool firstKept;
};

class OverflowTest : public testing::TestWithParam<OverflowCase> {};

TEST_P(OverflowTest, ClearsAboveTwoHundredFiftyFive) {
  const OverflowCase c = GetParam();
  ReceiveBuffer buffer;
  const auto first = Counting(c.first, 0);
  const auto second = Counting(c.second, 100);
  buffer.AppendReceived(first.data(), first.size());
  const auto stored = buffer.AppendReceived(second.data(), second.size());
  EXPECT_EQ(buffer.RxCount(), c.expectedCount);
  EXPECT_EQ(stored.size(), std::min<std::size_t>(c.second, 256));
  std::vector<std::uint8_t> expected;
  if (c.firstKept) expected = first;
  expected.insert(expected.end(), second.begin(), second.begin() + stored.size());
  EXPECT_EQ(Held(buffer), expected);
}

INSTANTIATE_TEST_SUITE_P(Threshold, OverflowTest,
                         testing::Values(OverflowCase{200, 55, 255, true},    // exactly 255 fits
                                         OverflowCase{200, 56, 56, false},    // 256 would not
                                         OverflowCase{0, 255, 255, true},     // one chunk of 255
                                         OverflowCase{10, 256, 256, false},   // fills all 256
                                         OverflowCase{10, 300, 256, false}),  // first 256 kept
                         [](const auto& info) {
                           return "held" + std::to_string(info.param.first) + "_chunk" +
                                  std::to_string(info.param.second);
                         });

TEST(ReceiveBuffer, AfterAFullChunkTheNextChunkStartsOver) {
  ReceiveBuffer buffer;
  const auto big = Counting(300);
  buffer.AppendReceived(big.data(), big.size());
  const std::vector<std::uint8_t> next = {0xAA};
  buffer.AppendReceived(next.data(), next.size());
  EXPECT_EQ(Held(buffer), next);
}

TEST(ReceiveBuffer, ClearZeroFillsTheWholeBuffer) {
  ReceiveBuffer buffer;
  const auto bytes = Counting(40, 1);
  buffer.AppendReceived(bytes.data(), bytes.size());
  buffer.ClearRxBuffer();
  EXPECT_EQ(buffer.RxCount(), 0);
  for (auto b : buffer.RxBuffer()) ASSERT_EQ(b, 0);
}

}  // namespace
}  // namespace protocol
