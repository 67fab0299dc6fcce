#include <gtest/gtest.h>

#include <vector>

#include "Control.h"
#include "Options.h"
#include "RequestAssembler.h"
#include "support/FrameBytes.h"

namespace convsim {
namespace {

using namespace protocol;
using testing_support::Bytes;
using testing_support::Join;
using testing_support::ToBytes;
using Kind = AssemblerEvent::Kind;

Bytes Query(std::uint16_t code) {
  return ToBytes(BuildQueryFrame(code));
}

std::vector<std::uint16_t> Codes(const std::vector<AssemblerEvent>& events) {
  std::vector<std::uint16_t> codes;
  for (const auto& e : events)
    if (e.kind == Kind::kFrame) codes.push_back(FrameCode(e.frame));
  return codes;
}

TEST(RequestAssembler, ResynchronisesAfterGarbageAStrayStartAndABadChecksum) {
  Bytes corrupted = Query(CMD_CAN_GET);
  corrupted[10] = 0x99;  // delimited, but the checksum no longer matches
  const Bytes stream =
      Join({{0x00, 0x7F, 0x13}, Query(CMD_COM_GET), corrupted, Query(CMD_CONVT_GET)});
  RequestAssembler assembler;
  std::vector<AssemblerEvent> events;
  assembler.Feed(stream, events);
  EXPECT_EQ(Codes(events), (std::vector<std::uint16_t>{CMD_COM_GET, CMD_CONVT_GET}));
  ASSERT_EQ(events.front().kind, Kind::kDiscarded);
  EXPECT_EQ(events.front().bytes, (Bytes{0x00, 0x7F, 0x13}));
  EXPECT_TRUE(std::any_of(events.begin(), events.end(),
                          [](const auto& e) { return e.kind == Kind::kBadCrc; }));
  EXPECT_EQ(assembler.Pending(), 0u);
}

TEST(RequestAssembler, JoinsAFrameDeliveredByteByByte) {
  const Bytes query = Query(CMD_GET_VERSION);
  RequestAssembler assembler;
  std::vector<AssemblerEvent> events;
  for (std::uint8_t b : query) assembler.Feed(Bytes{b}, events);
  EXPECT_EQ(Codes(events), (std::vector<std::uint16_t>{CMD_GET_VERSION}));
}

TEST(RequestAssembler, HoldsLessThanOneFrameWhateverItIsFed) {
  RequestAssembler assembler;
  std::vector<AssemblerEvent> events;
  assembler.Feed(Bytes(5000, FRAME_START), events);
  EXPECT_LT(assembler.Pending(), FRAME_LENGTH);
  EXPECT_TRUE(Codes(events).empty());
}

// --- control lines --------------------------------------------------------------

TEST(ControlLine, SwitchesFaultsByNameCodeOrAll) {
  Converter converter;
  EXPECT_TRUE(RunControlLine(converter, "fault CMD_CAN_GET silence").ok);
  EXPECT_EQ(converter.FaultFor(CMD_CAN_GET).kind, Fault::Kind::kSilence);
  EXPECT_TRUE(RunControlLine(converter, "fault cmd_com_set split 5 40").ok);
  EXPECT_EQ(converter.FaultFor(CMD_COM_SET).count, 5u);
  EXPECT_EQ(converter.FaultFor(CMD_COM_SET).pauseMs, 40u);
  EXPECT_TRUE(RunControlLine(converter, "fault 0x4010 refuse 0x30").ok);
  EXPECT_EQ(converter.FaultFor(CMD_CONVT_GET).status, 0x30);
  EXPECT_TRUE(RunControlLine(converter, "  fault all none  ").ok);
  for (std::uint16_t code : {CMD_CAN_GET, CMD_COM_SET, CMD_CONVT_GET})
    EXPECT_EQ(converter.FaultFor(code).kind, Fault::Kind::kNone);
}

struct BadLine {
  const char* line;
  const char* errorPart;
};

class BadControlLineTest : public testing::TestWithParam<BadLine> {};

TEST_P(BadControlLineTest, IsRefusedWithAReasonAndChangesNothing) {
  Converter converter;
  const ControlResult result = RunControlLine(converter, GetParam().line);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.text.find(GetParam().errorPart), std::string::npos) << result.text;
  EXPECT_TRUE(converter.DescribeFaults().empty());
  EXPECT_EQ(converter.Version(), Converter::FactoryVersion());
  EXPECT_EQ(converter.Com(), Converter::FactoryCom());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BadControlLineTest,
    testing::Values(BadLine{"fault CMD_NOPE silence", "unknown command"},
                    BadLine{"fault CMD_CAN_GET shout", "unknown fault mode"},
                    BadLine{"fault CMD_CAN_GET delay", "needs a time"},
                    BadLine{"fault CMD_CAN_GET split 0", "bad argument"},
                    BadLine{"fault CMD_CAN_GET noise 12x", "bad argument"},
                    BadLine{"fault CMD_CAN_GET refuse 0x20", "other than 0x20"},
                    BadLine{"fault CMD_CAN_GET silence now", "too many"},
                    BadLine{"version 1 2 3", "8 byte values"},
                    BadLine{"version 1 2 3 4 5 6 7 256", "not a byte"},
                    BadLine{"record com 00 01 C2 00 08 05", "expected 7 bytes"},
                    BadLine{"record com 00 01 C2 00 08 05 ZZ", "not a hexadecimal"},
                    BadLine{"record gps 00", "unknown record"},
                    BadLine{"reboot", "unknown control"}));

TEST(ControlLine, SetsVersionAndRecordsAndQuits) {
  Converter converter;
  EXPECT_TRUE(RunControlLine(converter, "version 3,4,20,24,1,31,5,6").ok);
  EXPECT_EQ(converter.Version().BuildDateText(), "build20240131");
  EXPECT_TRUE(RunControlLine(converter, "record com 0001C200 08 05 03").ok);
  EXPECT_EQ(converter.Com().baudRate, 115200u);
  EXPECT_EQ(converter.Com().stopBitsCode, 3);
  EXPECT_TRUE(RunControlLine(converter, "# a comment").ok);
  EXPECT_TRUE(RunControlLine(converter, "quit").quit);
}

TEST(Options, ReadsEveryOptionAndRejectsBadOnes) {
  Options options;
  std::string error;
  ASSERT_TRUE(ParseOptions({"--dir", "/tmp/x", "--com=7", "--version", "1,2,20,17,9,5,1,0",
                            "--fault", "CMD_CAN_GET silence", "--strict", "--log", "l.txt"},
                           options, error))
      << error;
  EXPECT_EQ(options.programDir, "/tmp/x");
  EXPECT_EQ(options.com, 7);
  ASSERT_TRUE(options.version);
  EXPECT_EQ(options.version->SoftwareText(), "1.2");
  EXPECT_EQ(options.faultLines, (std::vector<std::string>{"fault CMD_CAN_GET silence"}));
  EXPECT_TRUE(options.strict);

  for (const auto& bad : std::vector<std::vector<std::string>>{
           {"--com", "0"}, {"--com", "256"}, {"--com"}, {"--strict=yes"}, {"--bogus"}}) {
    Options untouched;
    EXPECT_FALSE(ParseOptions(bad, untouched, error)) << bad[0];
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace convsim
