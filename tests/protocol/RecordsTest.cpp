#include <gtest/gtest.h>

#include <vector>

#include "protocol/Records.h"

namespace protocol {
namespace {

std::vector<std::uint8_t> Bytes(const Frame& frame, std::size_t from, std::size_t count) {
  return {frame.begin() + from, frame.begin() + from + count};
}

ConvtParams SampleConvt() {
  ConvtParams p;
  p.mode = 1;
  p.direction = 2;
  p.transparentFlags = ConvtParams::kCanInfo | ConvtParams::kCanId;
  p.idOffset = 7;
  p.idLength = 4;
  p.frameGapChars = 10;
  p.transparentSendId = 0x12345678;
  p.dataFlags = ConvtParams::kCanInfo;
  p.dataSendId = 0xCAFEBABE;
  return p;
}

TEST(ConvtParams, EncodesEveryFieldBigEndianAtItsOffset) {
  const std::vector<std::uint8_t> expected = {0x01, 0x02, 0x03, 0x07, 0x04, 0x0A, 0x12, 0x34,
                                              0x56, 0x78, 0x01, 0xCA, 0xFE, 0xBA, 0xBE};
  const auto encoded = SampleConvt().Encode();
  EXPECT_EQ(std::vector<std::uint8_t>(encoded.begin(), encoded.end()), expected);
}

TEST(ConvtParams, SetFrameAndReplyRoundTrip) {
  const Frame set = SampleConvt().ToSetFrame();
  EXPECT_EQ(FrameCode(set), CMD_CONVT_SET);
  EXPECT_EQ(FrameDataLength(set), 15);
  EXPECT_EQ(ConvtParams::FromSetFrame(set), SampleConvt());

  const auto record = SampleConvt().Encode();
  const Frame reply = BuildReplyFrame(CMD_CONVT_GET, FRAME_ACK, record);
  EXPECT_EQ(FrameDataLength(reply), 16);
  EXPECT_EQ(ConvtParams::FromReply(reply), SampleConvt());
}

TEST(ConvtParams, FileRecordStopsAfterTheTransparentSendId) {
  const Frame file = SampleConvt().ToFileFrame();
  EXPECT_EQ(FrameCode(file), 0);
  EXPECT_EQ(FrameDataLength(file), 10);
  EXPECT_EQ(Bytes(file, 12, 4), (std::vector<std::uint8_t>{0x12, 0x34, 0x56, 0x78}));
  for (std::size_t i = 16; i <= 25; ++i) EXPECT_EQ(file[i], 0) << i;
  EXPECT_TRUE(FrameCrcMatches(file));

  ConvtParams expected = SampleConvt();
  expected.dataFlags = 0;
  expected.dataSendId = 0;
  EXPECT_EQ(ConvtParams::FromFileFrame(file), expected);
}

TEST(ComParams, CarriesBaudRateAsANumberAndTwoStopBitsAsThree) {
  ComParams p;
  p.baudRate = 115200;
  p.dataBits = 8;
  p.parityCode = ComParams::kParityNone;
  p.stopBitsCode = ComParams::kStopBitsTwo;
  const Frame set = p.ToSetFrame();
  EXPECT_EQ(FrameDataLength(set), 7);
  EXPECT_EQ(Bytes(set, 6, 7), (std::vector<std::uint8_t>{0x00, 0x01, 0xC2, 0x00, 8, 5, 3}));
  EXPECT_EQ(ComParams::FromSetFrame(set), p);
  EXPECT_EQ(ComParams::FromFileFrame(p.ToFileFrame()), p);
  EXPECT_EQ(FrameCode(p.ToFileFrame()), 0);
}

TEST(CanParams, EncodesFlagsAndBothIdentifiers) {
  CanParams p;
  p.bitRateIndex = 10;
  p.frameType = CanParams::kFrameExtended;
  p.filterFlags =
      CanParams::kFilterOn | CanParams::kFilterExtendedOnly | CanParams::kFilterDistinguishId;
  p.acceptanceCode = 0x1FFFFFFF;
  p.acceptanceMask = 0x000007FF;
  const Frame set = p.ToSetFrame();
  EXPECT_EQ(FrameDataLength(set), 11);
  EXPECT_EQ(Bytes(set, 6, 11), (std::vector<std::uint8_t>{10, 0x80, 0x13, 0x1F, 0xFF, 0xFF, 0xFF,
                                                          0x00, 0x00, 0x07, 0xFF}));
  const auto record = p.Encode();
  EXPECT_EQ(CanParams::FromReply(BuildReplyFrame(CMD_CAN_GET, FRAME_ACK, record)), p);
}

TEST(CanParams, OnlyFrameType0x80IsExtended) {
  for (int value : {0x00, 0x01, 0x7F, 0x81, 0xFF}) {
    CanParams p;
    p.frameType = static_cast<std::uint8_t>(value);
    EXPECT_FALSE(p.IsExtendedFrame()) << value;
  }
  CanParams extended;
  extended.frameType = 0x80;
  EXPECT_TRUE(extended.IsExtendedFrame());
}

struct VersionCase {
  std::array<std::uint8_t, 8> bytes;
  const char* software;
  const char* date;
  const char* hardware;
};

class VersionTextTest : public testing::TestWithParam<VersionCase> {};

TEST_P(VersionTextTest, WritesNumbersInDecimalWithTwoDigitMonthAndDay) {
  const VersionCase c = GetParam();
  const Frame reply = BuildReplyFrame(CMD_GET_VERSION, FRAME_ACK, c.bytes);
  const VersionRecord v = VersionRecord::FromReply(reply);
  EXPECT_EQ(v.SoftwareText(), c.software);
  EXPECT_EQ(v.BuildDateText(), c.date);
  EXPECT_EQ(v.HardwareText(), c.hardware);
  EXPECT_EQ(v.Encode(), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Labels, VersionTextTest,
    testing::Values(
        VersionCase{{1, 2, 20, 17, 9, 5, 3, 4}, "1.2", "build20170905", "3.4"},
        VersionCase{{1, 2, 20, 17, 10, 26, 0, 0}, "1.2", "build20171026", "0.0"},
        VersionCase{{9, 99, 0, 7, 12, 100, 1, 1}, "9.99", "build0712100", "1.1"},
        VersionCase{{255, 0, 0, 0, 0, 0, 10, 255}, "255.0", "build000000", "10.255"},
        VersionCase{{255, 10, 255, 255, 100, 9, 12, 255}, "255.10", "build25525510009", "12.255"}));

}  // namespace
}  // namespace protocol
