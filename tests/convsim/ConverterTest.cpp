#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "Converter.h"
#include "protocol/FrameSearch.h"

namespace convsim {
namespace {

using namespace protocol;
using Bytes = std::vector<std::uint8_t>;

Bytes Joined(const Outcome& outcome) {
  Bytes all;
  for (const auto& e : outcome.emissions) all.insert(all.end(), e.bytes.begin(), e.bytes.end());
  return all;
}

// The single reply frame of an outcome without shaping faults.
Frame ReplyOf(const Outcome& outcome) {
  const Bytes bytes = Joined(outcome);
  EXPECT_EQ(bytes.size(), FRAME_LENGTH);
  Frame frame{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), FRAME_LENGTH), frame.begin());
  return frame;
}

Fault Mode(Fault::Kind kind, unsigned count = 0, unsigned pauseMs = 0, std::uint8_t status = 0) {
  Fault f;
  f.kind = kind;
  f.count = count;
  f.pauseMs = pauseMs;
  f.status = status;
  return f;
}

struct GetCase {
  std::uint16_t code;
  std::uint16_t dataLength;
};

class GetTest : public testing::TestWithParam<GetCase> {};

TEST_P(GetTest, AnswersWithStatusAndRecordThatTheToolAccepts) {
  Converter converter;
  const Frame reply = ReplyOf(converter.Handle(BuildQueryFrame(GetParam().code)));
  EXPECT_EQ(FrameCode(reply), GetParam().code);
  EXPECT_EQ(FrameDataLength(reply), GetParam().dataLength);
  EXPECT_EQ(FrameStatus(reply), FRAME_ACK);
  EXPECT_TRUE(FrameCrcMatches(reply));
  const Bytes held(reply.begin(), reply.end());
  if (GetParam().code == CMD_GET_VERSION) {
    EXPECT_TRUE(FindVersionReply(held));
  } else {
    FrameStream stream(held, kReadReplyCodes);
    EXPECT_TRUE(stream.Next());
  }
}

INSTANTIATE_TEST_SUITE_P(Reads, GetTest,
                         testing::Values(GetCase{CMD_GET_VERSION, 9}, GetCase{CMD_CONVT_GET, 16},
                                         GetCase{CMD_COM_GET, 8}, GetCase{CMD_CAN_GET, 12}));

TEST(Converter, StoresSetsAndRestoresTheFactoryRecords) {
  Converter converter;
  ComParams com;
  com.baudRate = 115200;
  com.dataBits = 8;
  com.parityCode = ComParams::kParityEven;
  com.stopBitsCode = ComParams::kStopBitsTwo;
  const Frame ack = ReplyOf(converter.Handle(com.ToSetFrame()));
  EXPECT_EQ(FrameCode(ack), CMD_COM_SET);
  EXPECT_EQ(FrameStatus(ack), FRAME_ACK);
  EXPECT_EQ(ComParams::FromReply(ReplyOf(converter.Handle(BuildQueryFrame(CMD_COM_GET)))), com);

  const Frame restored = ReplyOf(converter.Handle(BuildQueryFrame(CMD_RESTORE_DEFAULT)));
  EXPECT_TRUE(FindRestoreDefaultReply(Bytes(restored.begin(), restored.end())));
  EXPECT_EQ(FrameStatus(restored), FRAME_ACK);
  EXPECT_EQ(converter.Com(), Converter::FactoryCom());
}

TEST(Converter, FactoryRecordsAreInsideTheDocumentedRanges) {
  EXPECT_EQ(CheckConvtRanges(Converter::FactoryConvt()), "");
  EXPECT_EQ(CheckComRanges(Converter::FactoryCom()), "");
  EXPECT_EQ(CheckCanRanges(Converter::FactoryCan()), "");
}

TEST(Converter, RefusesASetWithTheWrongDataLengthAndKeepsTheRecord) {
  Converter converter;
  CanParams can;
  can.bitRateIndex = 9;
  const auto record = can.Encode();
  const Frame shortSet = BuildSetFrame(CMD_CAN_SET, 10, record);
  EXPECT_EQ(FrameStatus(ReplyOf(converter.Handle(shortSet))), FRAME_REFUSED);
  EXPECT_EQ(converter.Can(), Converter::FactoryCan());
}

TEST(Converter, IgnoresOtherAddressesAndRefusesUnknownCodes) {
  Converter converter;
  EXPECT_TRUE(converter.Handle(BuildFrame(CMD_COM_GET, 1, Bytes{0xFF}, 0x02)).emissions.empty());
  const Frame unknown = ReplyOf(converter.Handle(BuildQueryFrame(0x5010)));
  EXPECT_EQ(FrameCode(unknown), 0x5010);
  EXPECT_EQ(FrameStatus(unknown), FRAME_REFUSED);
}

// The stored records differ from the factory's and from what each set
// request carries, so a set or a restore carried out shows in them. Without a
// fault every request changes them; silenced or refused, none does.
TEST(Converter, SilenceAndRefusalLeaveTheRecordsAlone) {
  ConvtParams convt = Converter::FactoryConvt();
  convt.mode = 3;
  ComParams com = Converter::FactoryCom();
  com.baudRate = 115200;
  CanParams can = Converter::FactoryCan();
  can.bitRateIndex = 9;
  const Frame requests[] = {convt.ToSetFrame(), com.ToSetFrame(), can.ToSetFrame(),
                            BuildQueryFrame(CMD_RESTORE_DEFAULT)};
  ConvtParams storedConvt = Converter::FactoryConvt();
  storedConvt.direction = 0;
  ComParams storedCom = Converter::FactoryCom();
  storedCom.parityCode = ComParams::kParityOdd;
  CanParams storedCan = Converter::FactoryCan();
  storedCan.acceptanceCode = 0x12;

  for (Fault::Kind kind : {Fault::Kind::kNone, Fault::Kind::kSilence, Fault::Kind::kRefuse}) {
    for (const Frame& request : requests) {
      Converter converter;
      converter.SetConvt(storedConvt);
      converter.SetCom(storedCom);
      converter.SetCan(storedCan);
      converter.SetFaultForAll(Mode(kind, 0, 0, 0x21));
      const Outcome outcome = converter.Handle(request);
      const bool changed = !(converter.Convt() == storedConvt && converter.Com() == storedCom &&
                             converter.Can() == storedCan);
      EXPECT_EQ(changed, kind == Fault::Kind::kNone)
          << DescribeFault(Mode(kind)) << " " << CommandLabel(FrameCode(request));
      EXPECT_EQ(outcome.emissions.empty(), kind == Fault::Kind::kSilence);
    }
  }
}

TEST(Converter, FaultForAllReplacesEarlierPerCommandFaults) {
  Converter converter;
  converter.SetFault(CMD_CAN_GET, Mode(Fault::Kind::kSilence));
  converter.SetFaultForAll(Mode(Fault::Kind::kBadCrc));
  EXPECT_EQ(converter.FaultFor(CMD_CAN_GET).kind, Fault::Kind::kBadCrc);
  converter.SetFaultForAll(Fault{});
  EXPECT_EQ(converter.FaultFor(CMD_CAN_GET).kind, Fault::Kind::kNone);
  EXPECT_TRUE(converter.DescribeFaults().empty());
}

TEST(Converter, StrictChecksRefuseOutOfRangeRecordsOnlyWhenOn) {
  Converter converter;
  ComParams com = Converter::FactoryCom();
  com.stopBitsCode = 0;  // what the tool sends with no stop-bits selection
  EXPECT_EQ(FrameStatus(ReplyOf(converter.Handle(com.ToSetFrame()))), FRAME_ACK);
  converter.SetStrict(true);
  com.stopBitsCode = 2;
  EXPECT_EQ(FrameStatus(ReplyOf(converter.Handle(com.ToSetFrame()))), FRAME_REFUSED);
  EXPECT_EQ(converter.Com().stopBitsCode, 0);
}

TEST(CheckRanges, AcceptanceCodeBoundFollowsTheFilterFrameBit) {
  CanParams can = Converter::FactoryCan();
  can.acceptanceCode = 0x800;
  EXPECT_NE(CheckCanRanges(can), "");
  can.filterFlags = CanParams::kFilterOn | CanParams::kFilterExtendedOnly;
  EXPECT_EQ(CheckCanRanges(can), "");
  can.acceptanceMask = 0x20000000;
  EXPECT_NE(CheckCanRanges(can), "");
}

// --- reply shaping -------------------------------------------------------------

Frame VersionReply() {
  return BuildReplyFrame(CMD_GET_VERSION, FRAME_ACK, Converter::FactoryVersion().Encode());
}

TEST(ShapeReply, WrongAddressAndWrongLengthAreRejectedByTheTool) {
  const auto convt = Converter::FactoryConvt().Encode();
  const Frame reply = BuildReplyFrame(CMD_CONVT_GET, FRAME_ACK, convt);
  for (auto kind : {Fault::Kind::kWrongAddress, Fault::Kind::kWrongLength}) {
    const auto emissions = ShapeReply(reply, Mode(kind));
    ASSERT_EQ(emissions.size(), 1u);
    Frame shaped{};
    std::copy_n(emissions[0].bytes.begin(), FRAME_LENGTH, shaped.begin());
    EXPECT_TRUE(FrameCrcMatches(shaped));
    EXPECT_FALSE(IsAcceptedStreamReply(shaped, kReadReplyCodes));
  }
}

TEST(ShapeReply, BadChecksumIsStillAcceptedByTheTool) {
  const auto emissions = ShapeReply(VersionReply(), Mode(Fault::Kind::kBadCrc));
  Frame shaped{};
  std::copy_n(emissions[0].bytes.begin(), FRAME_LENGTH, shaped.begin());
  EXPECT_FALSE(FrameCrcMatches(shaped));
  EXPECT_TRUE(FindVersionReply(emissions[0].bytes));
}

TEST(ShapeReply, PlainNoiseIsSkippedByBothSearchStylesButAStrayStartDefeatsTheSingleFrame) {
  const auto noisy = ShapeReply(VersionReply(), Mode(Fault::Kind::kNoise, 12))[0].bytes;
  ASSERT_EQ(noisy.size(), FRAME_LENGTH + 12);
  EXPECT_EQ(std::count(noisy.begin(), noisy.begin() + 12, FRAME_START), 0);
  EXPECT_TRUE(FindVersionReply(noisy));

  const auto convt = Converter::FactoryConvt().Encode();
  const Frame reply = BuildReplyFrame(CMD_CONVT_GET, FRAME_ACK, convt);
  for (unsigned n : {4u, 8u, 30u}) {
    const auto stray = ShapeReply(reply, Mode(Fault::Kind::kStray, n))[0].bytes;
    EXPECT_EQ(std::count(stray.begin(), stray.begin() + n, FRAME_START), 1) << n;
    FrameStream stream(stray, kReadReplyCodes);
    EXPECT_TRUE(stream.Next()) << n;
  }
  const auto strayVersion = ShapeReply(VersionReply(), Mode(Fault::Kind::kStray, 8))[0].bytes;
  EXPECT_FALSE(FindVersionReply(strayVersion));
}

TEST(ShapeReply, SplitCutsTheReplyIntoPausedChunksAndDelayWaitsFirst) {
  const Frame reply = VersionReply();
  const auto chunks = ShapeReply(reply, Mode(Fault::Kind::kSplit, 10, 40));
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[0].wait.count(), 0);
  EXPECT_EQ(chunks[1].wait.count(), 40);
  EXPECT_EQ(chunks[2].bytes.size(), 9u);
  Bytes joined;
  for (const auto& c : chunks) joined.insert(joined.end(), c.bytes.begin(), c.bytes.end());
  EXPECT_EQ(joined, Bytes(reply.begin(), reply.end()));

  const auto delayed = ShapeReply(reply, Mode(Fault::Kind::kDelay, 0, 1500));
  ASSERT_EQ(delayed.size(), 1u);
  EXPECT_EQ(delayed[0].wait.count(), 1500);
}

}  // namespace
}  // namespace convsim
