// Traffic rows in words: the --trace lines of a whole exchange, the records
// in both languages, the saved text line, the JSON fields, and the bounded
// store the windows keep them in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/RecordText.h"
#include "protocol/TrafficDecoder.h"
#include "protocol/TrafficFormat.h"
#include "protocol/TrafficStore.h"
#include "support/FrameBytes.h"
#include "support/ReplyBytes.h"

namespace protocol {
namespace {

using messages::Msg;
using std::chrono::milliseconds;
using testing_support::Bytes;
using testing_support::QueryBytes;
using testing_support::ReplyBytes;
using testing_support::ToBytes;

const VersionRecord kVersion{.software = {1, 2}, .buildDate = {20, 17, 9, 5}, .hardware = {1, 0}};
const ComParams kCom = testing_support::Com8N1(115200);
const Bytes kVersionReply = ReplyBytes(CMD_GET_VERSION, FRAME_ACK, kVersion.Encode());
const Bytes kRefusedComSet = ReplyBytes(CMD_COM_SET, FRAME_REFUSED);

// A connect, a write of the serial line that the converter refuses, noise,
// and the operator's time-out, as the window would report them.
std::vector<TrafficRow> AnExchange() {
  std::vector<TrafficRow> rows;
  TrafficDecoder decoder([&](const TrafficRow& row) { rows.push_back(row); });
  const TrafficTime t0 = milliseconds(1000);
  decoder.OnCleared(t0);
  decoder.OnSent(t0, QueryBytes(CMD_GET_VERSION));
  decoder.OnReceived(t0 + milliseconds(6), kVersionReply);
  decoder.OnReceived(t0 + milliseconds(12), Bytes{0xAA, 0xBB, 0xCC});
  decoder.OnCleared(t0 + milliseconds(20));
  decoder.OnSent(t0 + milliseconds(20), ToBytes(kCom.ToSetFrame()));
  decoder.OnReceived(t0 + milliseconds(30), kRefusedComSet);
  decoder.OnExamined();
  decoder.OnMessage(t0 + milliseconds(1520), Msg::Timeout);
  return rows;
}

TEST(TrafficFormat, TraceLinesTellAnExchangeInOrder) {
  const std::vector<std::string> expected = {
      "+0.000 tx CMD_GET_VERSION len 1 crc ok 7F 01 10 20 00 01 FF 00 00 00 00 00 00 00 00 00 00 "
      "00 00 00 00 00 00 00 00 00 A7 04 0D",
      "+0.006 rx CMD_GET_VERSION status 0x20 ok len 9 crc ok software 1.2 build20170905, hardware "
      "1.0 " +
          HexText(kVersionReply),
      "+0.012 rx noise 3 bytes AA BB CC",
      "+0.020 tx CMD_COM_SET len 7 crc ok 115200 bit/s, 8 data bits, no parity, 1 stop bit " +
          HexText(ToBytes(kCom.ToSetFrame())),
      "+0.030 rx CMD_COM_SET status 0x21 refused len 1 crc ok (refused by the converter) " +
          HexText(kRefusedComSet),
      "+1.520 msg operating timeout.",
  };
  std::vector<std::string> lines;
  for (const TrafficRow& row : AnExchange())
    lines.push_back(RowTraceLine(row, milliseconds(1000), "enu"));
  EXPECT_EQ(lines, expected);
}

TEST(TrafficFormat, RecordsInBothLanguages) {
  // Every field in the order of declaration, as each text below names them.
  const ComParams oddCom{{}, 115200, 8, 0, 2};
  const CanParams can{{}, 1, CanParams::kFrameExtended, 0x13, 0x123, 0x1FFFFFFF};
  const CanParams oddCan{{}, 11, 0x01, 0, 0, 0};
  const std::uint8_t both = ConvtParams::kCanInfo | ConvtParams::kCanId;
  const ConvtParams convt{{}, 1, 2, both, 3, 2, 4, 0x7FF, ConvtParams::kCanId, 0x12345678};
  const ConvtParams oddConvt{{}, 7, 5, 0, 0, 0, 0, 0, 0, 0};

  struct Case {
    std::string text, expected;
  };
  const Case cases[] = {
      {DescribeRecord(kCom, "enu"), "115200 bit/s, 8 data bits, no parity, 1 stop bit"},
      {DescribeRecord(kCom, "chn"), "波特率:115200，数据位:8，校验位:NONE，停止位:1"},
      {DescribeRecord(oddCom, ""), "115200 bit/s, 8 data bits, parity code 0, stop bits code 2"},
      {DescribeRecord(can, "enu"),
       "500Kbps, extended frames; filtration valid: only extended frames, ID distinguished, "
       "acceptance code 00000123, mask 1FFFFFFF"},
      {DescribeRecord(can, "chn"),
       "波特率:500Kbps，帧类型:扩展；过滤有效：只接收扩展帧，区分ID，过滤验收码:"
       "00000123，过滤屏蔽码:"
       "1FFFFFFF"},
      {DescribeRecord(oddCan, "enu"),
       "bit rate code 11, standard frames (0x01); filtration invalid: only standard frames, ID not "
       "distinguished, acceptance code 00000000, mask 00000000"},
      {DescribeRecord(convt, "enu"),
       "transparent conversion with identifier, both ways; transparent: CAN frame information "
       "forwarded and CAN frame ID forwarded, send ID 000007FF; ID offset 3, length 2; frame gap "
       "4 characters; data: with CAN frame ID, send ID 12345678"},
      {DescribeRecord(convt, "chn"),
       "转换模式：带ID标识符的透明转换，转换方向：双向；透明转换选项：允许CAN帧信息转发到串行帧中、"
       "允许CAN帧ID转发到串行帧中，发送标识符:000007FF；起始偏移:"
       "3，长度：2；串行帧之间的时间间隔为："
       "4个字符的时间；数据转换选项：包含CAN帧ID，发送标识符:12345678"},
      {DescribeRecord(oddConvt, "enu"),
       "mode code 7, direction code 5; transparent: none, send ID 00000000; ID offset 0, length "
       "0; frame gap 0 characters; data: none, send ID 00000000"},
      {DescribeRecord(kVersion, "chn"), "软件版本 1.2 build20170905，硬件版本 1.0"},
      // A refused reply carries no record; a query carries none either.
      {DescribeFrameRecord(BuildReplyFrame(CMD_COM_GET, FRAME_REFUSED, kCom.Encode()), false,
                           "enu"),
       ""},
      {DescribeFrameRecord(BuildReplyFrame(CMD_COM_GET, FRAME_ACK, kCom.Encode()), false, "enu"),
       "115200 bit/s, 8 data bits, no parity, 1 stop bit"},
      {DescribeFrameRecord(BuildQueryFrame(CMD_COM_GET), true, "enu"), ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.text, c.expected);
}

TEST(TrafficFormat, CellsFollowTheLanguage) {
  const std::vector<TrafficRow> rows = AnExchange();
  const TrafficCells chinese = RowCells(rows[4], "chn");
  EXPECT_EQ(chinese.direction, "接收");
  EXPECT_EQ(chinese.command, "CMD_COM_SET");
  EXPECT_EQ(chinese.status, "拒绝 (0x21)");
  EXPECT_EQ(chinese.note, "转换器拒绝了请求");
  const TrafficCells english = RowCells(rows[4], "enu");
  EXPECT_EQ(english.status, "refused (0x21)");
  EXPECT_EQ(english.length, "1");
  EXPECT_EQ(english.crc, "ok");
  EXPECT_EQ(RowCells(rows[2], "chn").command, "噪声 3 字节");
  EXPECT_EQ(RowCells(rows[5], "chn").note, "操作超时!");

  TrafficRow badCrc = rows[1];
  badCrc.bytes[FRAME_OFS_CRC] ^= 0xFF;
  EXPECT_EQ(RowCells(badCrc, "enu").crc, "bad, expected 0x" + HexText({&rows[1].bytes[26], 1}) +
                                             HexText({&rows[1].bytes[27], 1}));
}

TEST(TrafficFormat, ASavedLineIsOneLineOfTenFields) {
  TrafficRow message;
  message.kind = TrafficKind::Message;
  message.message = Msg::OperatingError;
  message.detail = "line one\r\nline\ttwo";
  message.time = std::chrono::hours(14) + std::chrono::minutes(3) + milliseconds(7250);
  const std::string line =
      RowTextLine(message, message.time - std::chrono::microseconds(6012), "enu");
  EXPECT_EQ(line, "14:03:07.250\t6.012\tmessage\t\t\t\t\t\tOperating error:line one  line two\t");

  const std::vector<TrafficRow> rows = AnExchange();
  const std::string first = RowTextLine(rows[0], std::nullopt, "chn");
  EXPECT_EQ(first, "00:00:01.000\t\t发送\tCMD_GET_VERSION\t\t1\t正确\t\t\t" +
                       HexText(QueryBytes(CMD_GET_VERSION)));
  EXPECT_EQ(ClockText(-milliseconds(1)), "23:59:59.999");
  EXPECT_EQ(DeltaText(milliseconds(5), milliseconds(2)), "-3.000");
}

TEST(TrafficFormat, JsonFieldsNameWhatTheRowHolds) {
  const std::vector<TrafficRow> rows = AnExchange();
  const auto keys = [](const std::vector<TrafficField>& fields) {
    std::vector<std::string> names;
    for (const TrafficField& field : fields) names.push_back(field.key);
    return names;
  };
  const auto fields = RowFields(rows[4], milliseconds(1000), "enu");
  EXPECT_EQ(keys(fields),
            (std::vector<std::string>{"t", "dir", "kind", "command", "code", "status", "accepted",
                                      "length", "crc_ok", "reason", "note", "bytes"}));
  EXPECT_DOUBLE_EQ(std::get<double>(fields[0].value), 0.030);
  EXPECT_EQ(std::get<std::int64_t>(fields[4].value), CMD_COM_SET);
  EXPECT_EQ(std::get<bool>(fields[6].value), false);
  EXPECT_EQ(std::get<std::string>(fields[9].value), "refused");
  EXPECT_EQ(keys(RowFields(rows[2], milliseconds(1000), "enu")),
            (std::vector<std::string>{"t", "dir", "kind", "count", "bytes"}));
}

TEST(TrafficStore, KeepsTheLastRowsInOrder) {
  TrafficStore store(3);
  TrafficRow row;
  for (int i = 0; i < 5; ++i) {
    row.time = milliseconds(i);
    store.Append(row);
  }
  ASSERT_EQ(store.Size(), 3u);
  EXPECT_EQ(store.Appended(), 5u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(store.At(i).time, milliseconds(2 + i));
  EXPECT_THROW(store.At(3), std::out_of_range);
  store.Clear();
  EXPECT_EQ(store.Size(), 0u);
  row.time = milliseconds(9);
  store.Append(row);
  EXPECT_EQ(store.At(0).time, milliseconds(9));
  EXPECT_EQ(store.Appended(), 6u);
}

TEST(TrafficStore, ProblemsOnlyKeepsFailuresNotSuccessMessages) {
  TrafficRow row;
  row.kind = TrafficKind::Message;
  const std::pair<Msg, bool> messages[] = {{Msg::Timeout, true},   {Msg::RestoreFail, true},
                                           {Msg::SendError, true}, {Msg::PortLost, true},
                                           {Msg::ReadOk, false},   {Msg::WriteOk, false}};
  for (const auto& [message, problem] : messages) {
    row.message = message;
    EXPECT_EQ(IsProblem(row), problem) << static_cast<int>(message);
  }
  row.message.reset();
  row.detail = "\\\\.\\COM7: the port does not exist";
  EXPECT_TRUE(IsProblem(row));
}

}  // namespace
}  // namespace protocol
