#include <gtest/gtest.h>

#include <vector>

#include "protocol/FrameSearch.h"
#include "protocol/Records.h"
#include "protocol/ReplyWait.h"
#include "protocol/RxBuffer.h"
#include "support/FrameBytes.h"

namespace protocol {
namespace {

using testing_support::Bytes;
using testing_support::Join;
using testing_support::ToBytes;

Bytes Reply(std::uint16_t code, std::uint8_t status = FRAME_ACK, std::size_t recordSize = 0) {
  const Bytes record(recordSize, 0x5A);
  return ToBytes(BuildReplyFrame(code, status, record));
}

Bytes ConvtReply() {
  return Reply(CMD_CONVT_GET, FRAME_ACK, ConvtParams::kSize);
}
Bytes VersionReply() {
  return Reply(CMD_GET_VERSION, FRAME_ACK, VersionRecord::kSize);
}

// A frame field changed after sealing; the stale checksum does not matter to
// the search.
Bytes With(Bytes frame, std::size_t offset, std::uint8_t value) {
  frame[offset] = value;
  return frame;
}

std::vector<std::uint16_t> StreamCodes(const Bytes& held,
                                       std::span<const std::uint16_t> codes = kReadReplyCodes) {
  std::vector<std::uint16_t> found;
  FrameStream stream(held, codes);
  while (auto frame = stream.Next()) found.push_back(FrameCode(*frame));
  return found;
}

// A stray start byte whose 29th byte is not the end byte.
const Bytes kNoise = {0x00, 0x55, 0x7F, 0x13, 0x0D, 0xAA};

// --- head of buffer ----------------------------------------------------------

TEST(HeadOfBuffer, TakesTheFirstTwentyNineBytesWhateverTheEndByte) {
  const Bytes refused = With(Reply(CMD_RESTORE_DEFAULT, 0x21), 28, 0x00);
  const auto frame = FindRestoreDefaultReply(refused);
  ASSERT_TRUE(frame);
  EXPECT_EQ(FrameStatus(*frame), 0x21);
  EXPECT_TRUE(FindRestoreDefaultReply(Join({Reply(CMD_RESTORE_DEFAULT), kNoise})));
}

TEST(HeadOfBuffer, DoesNotLookPastTheFirstByte) {
  const Bytes ack = Reply(CMD_RESTORE_DEFAULT);
  EXPECT_FALSE(FindRestoreDefaultReply(Join({{0x00}, ack})));
  EXPECT_FALSE(FindRestoreDefaultReply(Bytes(ack.begin(), ack.end() - 1)));
  EXPECT_FALSE(FindRestoreDefaultReply(With(ack, 1, 0x02)));
  EXPECT_FALSE(FindRestoreDefaultReply(Reply(CMD_GET_VERSION)));
}

// --- single frame -------------------------------------------------------------

TEST(SingleFrame, SkipsNoiseBeforeTheVersionReply) {
  const auto frame =
      FindVersionReply(Join({Bytes(kNoise.begin(), kNoise.begin() + 2), VersionReply()}));
  ASSERT_TRUE(frame);
  EXPECT_EQ(FrameCode(*frame), CMD_GET_VERSION);
}

TEST(SingleFrame, ExaminesOnlyTheFirstStartByte) {
  // The stray 0x7F in the noise is taken as the start; its end byte is wrong
  // and the pass ends there although a good reply follows.
  EXPECT_FALSE(FindVersionReply(Join({kNoise, VersionReply()})));
}

TEST(SingleFrame, RejectsEachFailedTest) {
  const Bytes good = VersionReply();
  ASSERT_TRUE(FindVersionReply(good));
  EXPECT_FALSE(FindVersionReply(With(good, 1, 0x02))) << "address";
  EXPECT_FALSE(FindVersionReply(With(good, 5, 8))) << "data length";
  EXPECT_FALSE(FindVersionReply(With(good, 6, 0x21))) << "status";
  EXPECT_FALSE(FindVersionReply(With(good, 3, 0x10))) << "code";
  EXPECT_FALSE(FindVersionReply(With(good, 28, 0x0A))) << "end byte";
  EXPECT_FALSE(FindVersionReply(Bytes(40, 0x00))) << "no start byte";
  EXPECT_TRUE(FindVersionReply(With(good, 26, 0x00))) << "checksum is not verified";
}

TEST(SingleFrame, NeedsTwentyNineBytesFromTheStartByte) {
  const Bytes good = VersionReply();
  EXPECT_FALSE(FindVersionReply(Join({{0x00}, Bytes(good.begin(), good.end() - 1)})));
}

// --- frame stream -------------------------------------------------------------

TEST(FrameStream, FindsSeveralRepliesOfOneChunkInOrder) {
  const Bytes held =
      Join({Reply(CMD_COM_GET, FRAME_ACK, 7), ConvtReply(), Reply(CMD_CAN_GET, FRAME_ACK, 11)});
  EXPECT_EQ(StreamCodes(held),
            (std::vector<std::uint16_t>{CMD_COM_GET, CMD_CONVT_GET, CMD_CAN_GET}));
}

TEST(FrameStream, SkipsNoiseAndAStrayStartByte) {
  const Bytes held = Join({kNoise, Reply(CMD_CAN_GET), kNoise, ConvtReply(), kNoise});
  EXPECT_EQ(StreamCodes(held), (std::vector<std::uint16_t>{CMD_CAN_GET, CMD_CONVT_GET}));
}

TEST(FrameStream, DropsRejectedFramesAndFindsTheOnesBehind) {
  const Bytes held = Join({
      With(Reply(CMD_COM_GET), 1, 0x02),                  // wrong address
      With(ConvtReply(), 5, 15),                          // conversion reply with length 15
      Reply(CMD_CAN_GET, 0x21),                           // refused
      Reply(CMD_COM_SET),                                 // a write code during a read
      With(Reply(CMD_CAN_GET, FRAME_ACK, 11), 26, 0x00),  // bad checksum: still accepted
      With(Reply(CMD_COM_GET), 5, 0x63),                  // any length for other replies
  });
  EXPECT_EQ(StreamCodes(held), (std::vector<std::uint16_t>{CMD_CAN_GET, CMD_COM_GET}));
}

TEST(FrameStream, WriteAcknowledgementsMatchOnlyTheWriteCodes) {
  const Bytes held = Join(
      {Reply(CMD_CONVT_SET), ConvtReply(), Reply(CMD_CAN_SET, FRAME_ACK, 3), Reply(CMD_COM_SET)});
  EXPECT_EQ(StreamCodes(held, kWriteReplyCodes),
            (std::vector<std::uint16_t>{CMD_CONVT_SET, CMD_CAN_SET, CMD_COM_SET}));
}

TEST(FrameStream, StopsOnAnIncompleteTail) {
  const Bytes conv = ConvtReply();
  const Bytes held = Join({Reply(CMD_CAN_GET), Bytes(conv.begin(), conv.begin() + 28)});
  FrameStream stream(held, kReadReplyCodes);
  EXPECT_TRUE(stream.Next());
  EXPECT_FALSE(stream.Next());
  EXPECT_FALSE(stream.Next());
}

TEST(FrameStream, AFrameSplitAcrossChunksIsFoundInTheBuffer) {
  ReceiveBuffer buffer;
  const Bytes held = Join({kNoise, ConvtReply(), Reply(CMD_COM_GET)});
  buffer.AppendReceived(held.data(), 20);
  EXPECT_EQ(StreamCodes({buffer.Bytes().begin(), buffer.Bytes().end()}).size(), 0u);
  buffer.AppendReceived(held.data() + 20, 17);
  buffer.AppendReceived(held.data() + 37, held.size() - 37);
  EXPECT_EQ(StreamCodes({buffer.Bytes().begin(), buffer.Bytes().end()}),
            (std::vector<std::uint16_t>{CMD_CONVT_GET, CMD_COM_GET}));
}

// A reply whose checksum does not hold: accepted as the window accepts it,
// or, when the checksum must hold, taken as never received, so that a good
// reply behind it is the one found.
TEST(ExamineReplies, AChecksumThatMustHold) {
  const Bytes version = VersionReply();
  const Bytes badVersion = With(version, FRAME_OFS_CRC, version[FRAME_OFS_CRC] ^ 0xFF);
  const Bytes com = Reply(CMD_COM_GET, FRAME_ACK, ComParams::kSize);
  const Bytes badCom = With(With(com, 7, 0x11), FRAME_OFS_CRC + 1, com[FRAME_OFS_CRC + 1] ^ 1);
  const Bytes refusal = Reply(CMD_COM_SET, 0x21);
  const Bytes badRefusal = With(refusal, FRAME_OFS_CRC, refusal[FRAME_OFS_CRC] ^ 1);
  const Bytes restore = Reply(CMD_RESTORE_DEFAULT);
  const Bytes badRestore = With(restore, FRAME_OFS_CRC, restore[FRAME_OFS_CRC] ^ 1);
  using State = ReplyVerdict::State;
  const struct {
    const char* label;
    std::uint16_t code;
    Bytes held;
    State ignored, required;
    Bytes requiredFrame;  // the frame found when the checksum must hold
  } cases[] = {
      {"good version", CMD_GET_VERSION, version, State::Accepted, State::Accepted, version},
      {"bad version", CMD_GET_VERSION, badVersion, State::Accepted, State::Pending, {}},
      {"bad version, then good", CMD_GET_VERSION, Join({badVersion, version}), State::Accepted,
       State::Accepted, version},
      {"bad read reply, then good", CMD_COM_GET, Join({badCom, com}), State::Accepted,
       State::Accepted, com},
      {"bad refusal", CMD_COM_SET, badRefusal, State::Refused, State::Pending, {}},
      {"bad restore acknowledgement, then good", CMD_RESTORE_DEFAULT, Join({badRestore, restore}),
       State::Accepted, State::Accepted, restore},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    EXPECT_EQ(ExamineReplies(test.held, test.code, CrcCheck::Ignored).state, test.ignored);
    const ReplyVerdict strict = ExamineReplies(test.held, test.code, CrcCheck::Required);
    EXPECT_EQ(strict.state, test.required);
    if (!test.requiredFrame.empty()) {
      EXPECT_EQ(ToBytes(strict.frame), test.requiredFrame);
    }
  }
}

}  // namespace
}  // namespace protocol
