#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "protocol/Frame.h"

namespace protocol {
namespace {

TEST(CalcCrc16, GivesTheCatalogueCheckValue) {
  const char* text = "123456789";
  EXPECT_EQ(CalcCrc16(reinterpret_cast<const std::uint8_t*>(text), std::strlen(text)), 0xFEE8);
}

TEST(CalcCrc16, TableMatchesThePolynomialAndEmptyInputIsZero) {
  EXPECT_EQ(CrcTable()[0], 0x0000);
  EXPECT_EQ(CrcTable()[1], 0x8005);
  EXPECT_EQ(CrcTable()[255], 0x0202);
  EXPECT_EQ(CalcCrc16(nullptr, 0), 0);
}

struct QueryCase {
  std::uint16_t code;
  std::uint8_t crcHigh;
  std::uint8_t crcLow;
};

class QueryFrameTest : public testing::TestWithParam<QueryCase> {};

TEST_P(QueryFrameTest, HasTheExactTwentyNineBytes) {
  const QueryCase c = GetParam();
  std::array<std::uint8_t, FRAME_LENGTH> expected{};
  expected[0] = 0x7F;
  expected[1] = 0x01;
  expected[2] = static_cast<std::uint8_t>(c.code >> 8);
  expected[3] = static_cast<std::uint8_t>(c.code & 0xFF);
  expected[4] = 0x00;
  expected[5] = 0x01;
  expected[6] = 0xFF;  // offsets 7..25 stay zero
  expected[26] = c.crcHigh;
  expected[27] = c.crcLow;
  expected[28] = 0x0D;
  EXPECT_EQ(BuildQueryFrame(c.code), expected);
}

INSTANTIATE_TEST_SUITE_P(AllQueries, QueryFrameTest,
                         testing::Values(QueryCase{CMD_RESTORE_DEFAULT, 0x0D, 0xAE},
                                         QueryCase{CMD_GET_VERSION, 0xA7, 0x04},
                                         QueryCase{CMD_COM_GET, 0xA4, 0x52},
                                         QueryCase{CMD_CAN_GET, 0x43, 0x05},
                                         QueryCase{CMD_CONVT_GET, 0x77, 0xAF}));

TEST(BuildSetFrame, PutsTheRecordAtSixAndZeroesTheRestOfTheDataArea) {
  const std::vector<std::uint8_t> record(15, 0xAB);
  const Frame frame = BuildSetFrame(CMD_CONVT_SET, 15, record);
  EXPECT_EQ(FrameCode(frame), CMD_CONVT_SET);
  EXPECT_EQ(FrameDataLength(frame), 15);
  for (std::size_t i = 6; i < 21; ++i) EXPECT_EQ(frame[i], 0xAB) << i;
  for (std::size_t i = 21; i < 26; ++i) EXPECT_EQ(frame[i], 0x00) << i;
  EXPECT_TRUE(FrameCrcMatches(frame));
  EXPECT_EQ(frame[28], FRAME_END);
}

TEST(BuildSetFrame, RefusesARecordLargerThanTheDataArea) {
  const std::vector<std::uint8_t> record(21, 0x01);
  EXPECT_THROW(BuildSetFrame(CMD_CAN_SET, 21, record), std::length_error);
}

TEST(BuildReplyFrame, CountsTheStatusInTheDataLength) {
  const std::uint8_t record[] = {1, 2, 3};
  const Frame frame = BuildReplyFrame(CMD_COM_GET, FRAME_ACK, record);
  EXPECT_EQ(FrameDataLength(frame), 4);
  EXPECT_EQ(FrameStatus(frame), FRAME_ACK);
  EXPECT_EQ(frame[7], 1);
  EXPECT_EQ(frame[9], 3);
  EXPECT_EQ(frame[10], 0);
  EXPECT_TRUE(FrameCrcMatches(frame));
}

TEST(FrameCrcMatches, DetectsAnyChangedByteInTheCoveredRange) {
  const Frame good = BuildQueryFrame(CMD_CAN_GET);
  for (std::size_t i = 1; i <= 25; ++i) {
    Frame bad = good;
    bad[i] ^= 0x01;
    EXPECT_FALSE(FrameCrcMatches(bad)) << "offset " << i;
  }
}

}  // namespace
}  // namespace protocol
