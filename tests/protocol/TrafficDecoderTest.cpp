// The traffic decoder: byte streams as the front ends report them, and the
// rows they become. A row never disagrees with what the window's own frame
// search accepts, whatever the chunking.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "protocol/FrameSearch.h"
#include "protocol/Records.h"
#include "protocol/TrafficDecoder.h"
#include "protocol/TrafficFormat.h"
#include "support/FrameBytes.h"
#include "support/ReplyBytes.h"

namespace protocol {
namespace {

using testing_support::Bytes;
using testing_support::Join;
using testing_support::QueryBytes;
using testing_support::RecordReplyBytes;
using testing_support::ReplyBytes;
using testing_support::ToBytes;

// ---- building the streams ----------------------------------------------------

Bytes With(Bytes frame, std::size_t offset, std::uint8_t value) {
  frame[offset] = value;
  return frame;
}

Bytes Resealed(Bytes frame, std::size_t offset, std::uint8_t value) {
  Frame sealed{};
  std::copy(frame.begin(), frame.end(), sealed.begin());
  sealed[offset] = value;
  SealFrame(sealed);
  return ToBytes(sealed);
}

Bytes Head(const Bytes& bytes, std::size_t n) {
  return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}
Bytes Tail(const Bytes& bytes, std::size_t n) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(n), bytes.end());
}

// ---- the events and what the rows say -----------------------------------------

// One report of a front end to the decoder, made at `now`.
using Event = std::function<void(TrafficDecoder&, TrafficTime now)>;

Event Clear() {
  return [](TrafficDecoder& decoder, TrafficTime now) { decoder.OnCleared(now); };
}
Event Sent(Bytes frame, bool written = true) {
  return [=](TrafficDecoder& decoder, TrafficTime now) { decoder.OnSent(now, frame, written); };
}
Event Send(std::uint16_t code) {
  return Sent(QueryBytes(code));
}
Event SendSet(std::uint16_t code) {
  return Sent(ToBytes(BuildSetFrame(code, 1, Bytes{0x00})));
}
Event Rx(Bytes bytes) {
  return [=](TrafficDecoder& decoder, TrafficTime now) { decoder.OnReceived(now, bytes); };
}
Event Examine() {
  return [](TrafficDecoder& decoder, TrafficTime) { decoder.OnExamined(); };
}
Event Flush() {
  return [](TrafficDecoder& decoder, TrafficTime now) { decoder.Flush(now); };
}

// The rows of an operation that starts with a clear, as every one does.
std::vector<TrafficRow> Decode(const std::vector<Event>& events, CrcCheck crc = CrcCheck::Ignored) {
  std::vector<TrafficRow> rows;
  TrafficDecoder decoder([&](const TrafficRow& row) { rows.push_back(row); }, crc);
  TrafficTime now{};
  decoder.OnCleared(now);
  for (const Event& event : events) {
    now += std::chrono::milliseconds(1);
    event(decoder, now);
  }
  return rows;
}

// "tx CMD_GET_VERSION", "rx CMD_COM_GET ok", "rx CMD_CAN_SET refused !",
// "noise AA 7F BB !", "dropped 60 buffer_full !": direction, command or
// bytes, the reason (ok when the search accepts it), and ! for the rows the
// problems-only view keeps.
std::string Summary(const TrafficRow& row) {
  const TrafficCells cells = RowCells(row, "enu");
  std::string text;
  switch (row.kind) {
    case TrafficKind::Sent:
      text = "tx " + cells.command;
      break;
    case TrafficKind::Received:
      text = "rx " + cells.command + (IsAcceptedRow(row) ? " ok" : "");
      if (cells.crc != "ok") text += " crc_bad";
      break;
    case TrafficKind::Noise:
      text = "noise " + cells.bytes;
      break;
    case TrafficKind::Dropped:
      text = "dropped " + std::to_string(row.byteCount);
      break;
    case TrafficKind::Message:
      text = "msg";
      break;
  }
  if (row.reason != TrafficReason::None) text += std::string(" ") + ReasonKey(row.reason);
  if (IsProblem(row)) text += " !";
  return text;
}

struct StreamCase {
  const char* name;
  std::vector<Event> events;
  std::vector<std::string> rows;
  CrcCheck crc = CrcCheck::Ignored;
};

const Bytes kNoise = {0xAA, 0x7F, 0xBB};  // a start byte among the noise

// The row of `count` noise bytes of `value`.
std::string NoiseRow(std::size_t count, std::uint8_t value) {
  return "noise " + HexText(Bytes(count, value)) + " !";
}

std::vector<StreamCase> Cases() {
  const Bytes version = RecordReplyBytes(CMD_GET_VERSION);
  const Bytes com = RecordReplyBytes(CMD_COM_GET);
  const Bytes can = RecordReplyBytes(CMD_CAN_GET);
  const Bytes convt = RecordReplyBytes(CMD_CONVT_GET);
  const Bytes restoreAck = ReplyBytes(CMD_RESTORE_DEFAULT);
  const auto bad = [](const Bytes& frame) { return With(frame, FRAME_OFS_CRC, 0x00); };
  constexpr std::size_t kMax = TrafficRow::kMaxBytes;
  return {
      {"a connect: the version reply in one chunk",
       {Send(CMD_GET_VERSION), Rx(version), Examine()},
       {"tx CMD_GET_VERSION", "rx CMD_GET_VERSION ok"}},
      {"a reply split over two chunks is one row",
       {Send(CMD_COM_GET), Rx(Head(com, 11)), Rx(Tail(com, 11))},
       {"tx CMD_COM_GET", "rx CMD_COM_GET ok"}},
      {"noise with a start byte, then a reply split right after it: one noise row",
       {Send(CMD_COM_GET), Rx(Join({kNoise, Head(com, 4)})), Rx(Tail(com, 4))},
       {"tx CMD_COM_GET", "noise AA 7F BB !", "rx CMD_COM_GET ok"}},
      {"the version search takes the stray start byte and looks no further",
       {Send(CMD_GET_VERSION), Rx(Join({kNoise, version}))},
       {"tx CMD_GET_VERSION", "noise AA 7F BB !", "rx CMD_GET_VERSION not_examined !"}},
      {"back-to-back replies in one chunk complete a read; a fourth answers no request",
       {Send(CMD_COM_GET), Send(CMD_CONVT_GET), Send(CMD_CAN_GET),
        Rx(Join({com, convt, can, com}))},
       {"tx CMD_COM_GET", "tx CMD_CONVT_GET", "tx CMD_CAN_GET", "rx CMD_COM_GET ok",
        "rx CMD_CONVT_GET ok", "rx CMD_CAN_GET ok", "rx CMD_COM_GET no_request !"}},
      {"a read accepts a reply of the group it did not ask for",
       {Send(CMD_CAN_GET), Rx(Join({convt, can}))},
       {"tx CMD_CAN_GET", "rx CMD_CONVT_GET ok", "rx CMD_CAN_GET ok"}},
      {"a refused set command; the write goes on waiting",
       {SendSet(CMD_CONVT_SET), SendSet(CMD_CAN_SET),
        Rx(Join({ReplyBytes(CMD_CONVT_SET), ReplyBytes(CMD_CAN_SET, FRAME_REFUSED)}))},
       {"tx CMD_CONVT_SET", "tx CMD_CAN_SET", "rx CMD_CONVT_SET ok", "rx CMD_CAN_SET refused !"}},
      {"a refused restore is accepted: its status tells the failure",
       {Send(CMD_RESTORE_DEFAULT), Rx(ReplyBytes(CMD_RESTORE_DEFAULT, FRAME_REFUSED))},
       {"tx CMD_RESTORE_DEFAULT", "rx CMD_RESTORE_DEFAULT ok !"}},
      {"the restore acknowledgement counts only at the head, whatever its end byte",
       {Send(CMD_RESTORE_DEFAULT), Rx(With(restoreAck, FRAME_OFS_END, 0x00)), Rx(restoreAck)},
       {"tx CMD_RESTORE_DEFAULT", "rx CMD_RESTORE_DEFAULT ok",
        "rx CMD_RESTORE_DEFAULT not_examined !"}},
      {"noise in front of the restore acknowledgement makes it unrecognisable",
       {Send(CMD_RESTORE_DEFAULT), Rx(Join({{0x00}, restoreAck}))},
       {"tx CMD_RESTORE_DEFAULT", "noise 00 !", "rx CMD_RESTORE_DEFAULT not_examined !"}},
      {"a frame cut short is noise; the whole one that starts inside it is found",
       {Send(CMD_COM_GET), Rx(Join({Head(com, 10), com}))},
       {"tx CMD_COM_GET", "noise " + HexText(Head(com, 10)) + " !", "rx CMD_COM_GET ok"}},
      {"a wrong address costs its frame; the reply behind it is found",
       {Send(CMD_COM_GET), Rx(Join({With(com, FRAME_OFS_ADDR, 0x02), com}))},
       {"tx CMD_COM_GET", "rx CMD_COM_GET crc_bad wrong_address !", "rx CMD_COM_GET ok"}},
      {"a conversion reply must carry 16 bytes, a serial-line reply any number",
       {Send(CMD_CONVT_GET), Send(CMD_COM_GET),
        Rx(Join(
            {Resealed(convt, FRAME_OFS_LENGTH + 1, 15), Resealed(com, FRAME_OFS_LENGTH + 1, 3)}))},
       {"tx CMD_CONVT_GET", "tx CMD_COM_GET", "rx CMD_CONVT_GET wrong_length !",
        "rx CMD_COM_GET ok"}},
      {"a bad checksum is shown, not judged",
       {Send(CMD_GET_VERSION), Rx(bad(version))},
       {"tx CMD_GET_VERSION", "rx CMD_GET_VERSION ok crc_bad !"}},
      {"an unknown code is no reply of the read",
       {Send(CMD_COM_GET), Rx(Join({ReplyBytes(0x5A5A), com}))},
       {"tx CMD_COM_GET", "rx 0x5A5A unexpected_command !", "rx CMD_COM_GET ok"}},
      {"a write acknowledgement during a read is no reply of it",
       {Send(CMD_COM_GET), Rx(ReplyBytes(CMD_COM_SET))},
       {"tx CMD_COM_GET", "rx CMD_COM_SET unexpected_command !"}},
      {"bytes before any request answer no request", {Rx(com)}, {"rx CMD_COM_GET no_request !"}},
      {"a reply completed after the examination is late",
       {Send(CMD_GET_VERSION), Rx(Head(version, 20)), Examine(), Rx(Tail(version, 20))},
       {"tx CMD_GET_VERSION", "rx CMD_GET_VERSION late !"}},
      {"a wrong end byte ends the version search's one try",
       {Send(CMD_GET_VERSION), Rx(Join({With(version, FRAME_OFS_END, 0x0E), version}))},
       {"tx CMD_GET_VERSION", "rx CMD_GET_VERSION wrong_end !",
        "rx CMD_GET_VERSION not_examined !"}},
      {"a version reply the search refuses for its status",
       {Send(CMD_GET_VERSION), Rx(ReplyBytes(CMD_GET_VERSION, FRAME_REFUSED))},
       {"tx CMD_GET_VERSION", "rx CMD_GET_VERSION refused !"}},
      {"a frame cut off by the next operation's clear is an incomplete frame",
       {Send(CMD_COM_GET), Rx(Join({{0x55}, Head(com, 5)})), Clear()},
       {"tx CMD_COM_GET", "noise 55 !", "noise 7F 01 20 10 00 incomplete !"}},
      {"a frame the port refused still waits for its reply",
       {Sent(QueryBytes(CMD_CAN_GET), false), Rx(can)},
       {"tx CMD_CAN_GET not_sent !", "rx CMD_CAN_GET ok"}},
      {"an overflowing chunk drops what the buffer held; the read starts again",
       {Send(CMD_COM_GET), Rx(com), Rx(Bytes(200, 0x00)), Rx(Join({Bytes(26, 0x00), com}))},
       {"tx CMD_COM_GET", "rx CMD_COM_GET ok", NoiseRow(kMax, 0), NoiseRow(kMax, 0),
        NoiseRow(kMax, 0), NoiseRow(200 - 3 * kMax, 0), "dropped 229 buffer_full !",
        NoiseRow(26, 0), "rx CMD_COM_GET ok"}},
      {"a chunk beyond 256 bytes keeps its first 256",
       {Rx(Join({Bytes(256 - 29, 0x7F), com, com}))},
       {NoiseRow(kMax, 0x7F), NoiseRow(kMax, 0x7F), NoiseRow(kMax, 0x7F),
        NoiseRow(256 - 29 - 3 * kMax, 0x7F), "rx CMD_COM_GET no_request !",
        "dropped 29 chunk_too_long !"}},
      // A front end that requires the checksum (quillon-cli --strict-crc)
      // takes a reply or refusal whose checksum does not hold as never
      // received, and its search goes on behind it.
      {"the version search takes the good reply behind a bad one",
       {Send(CMD_GET_VERSION), Rx(Join({bad(version), version}))},
       {"tx CMD_GET_VERSION", "rx CMD_GET_VERSION crc_bad bad_crc !", "rx CMD_GET_VERSION ok"},
       CrcCheck::Required},
      {"a read still awaits its reply after a bad one",
       {Send(CMD_COM_GET), Rx(Join({bad(com), com}))},
       {"tx CMD_COM_GET", "rx CMD_COM_GET crc_bad bad_crc !", "rx CMD_COM_GET ok"},
       CrcCheck::Required},
      {"a refusal with a bad checksum is no refusal",
       {Send(CMD_COM_GET), Rx(bad(ReplyBytes(CMD_COM_GET, FRAME_REFUSED)))},
       {"tx CMD_COM_GET", "rx CMD_COM_GET crc_bad bad_crc !"},
       CrcCheck::Required},
      {"nor is the restore acknowledgement",
       {Send(CMD_RESTORE_DEFAULT), Rx(bad(restoreAck))},
       {"tx CMD_RESTORE_DEFAULT", "rx CMD_RESTORE_DEFAULT crc_bad bad_crc !"},
       CrcCheck::Required},
  };
}

TEST(TrafficDecoder, TurnsEachStreamIntoTheRowsTheWindowsSearchImplies) {
  for (const StreamCase& c : Cases()) {
    std::vector<std::string> rows;
    for (const TrafficRow& row : Decode(c.events, c.crc)) rows.push_back(Summary(row));
    EXPECT_EQ(rows, c.rows) << c.name;
  }
}

// ---- against the window's own search ------------------------------------------

// What the window accepts when it examines `held` for an operation that sent
// `sent`: the accepted frames, in order, up to the operation's completion.
std::vector<Frame> WindowAccepts(const Bytes& held, const std::vector<std::uint16_t>& sent) {
  const std::uint16_t first = sent.front();
  if (first == CMD_RESTORE_DEFAULT) {
    if (auto frame = FindRestoreDefaultReply(held)) return {*frame};
    return {};
  }
  if (first == CMD_GET_VERSION) {
    if (auto frame = FindVersionReply(held)) return {*frame};
    return {};
  }
  const bool reading = first == CMD_COM_GET || first == CMD_CONVT_GET || first == CMD_CAN_GET;
  std::vector<std::uint16_t> pending = sent;
  std::vector<Frame> accepted;
  FrameStream stream(held, reading ? std::span(kReadReplyCodes) : std::span(kWriteReplyCodes));
  while (auto frame = stream.Next()) {
    accepted.push_back(*frame);
    const auto it = std::find(pending.begin(), pending.end(), FrameCode(*frame));
    if (it != pending.end()) pending.erase(it);
    if (pending.empty()) break;
  }
  return accepted;
}

// A random run of replies (good, refused, misaddressed, short, with a wrong
// end byte, unknown), half of them of the operation's own codes, and noise
// rich in start and end bytes, under 256 bytes.
Bytes RandomTraffic(std::mt19937& random, const std::vector<std::uint16_t>& sent) {
  static const std::uint16_t kCodes[] = {CMD_RESTORE_DEFAULT, CMD_GET_VERSION, CMD_COM_GET,
                                         CMD_CONVT_GET,       CMD_CAN_GET,     CMD_COM_SET,
                                         CMD_CONVT_SET,       CMD_CAN_SET,     0x5A5A};
  static const std::uint8_t kNoiseBytes[] = {0x7F, 0x0D, 0x00, 0x01, 0x55};
  Bytes held;
  while (true) {
    Bytes part;
    if (random() % 3 != 0) {
      const std::uint16_t code =
          random() % 2 ? sent[random() % sent.size()] : kCodes[random() % std::size(kCodes)];
      part = code == CMD_CONVT_GET || code == CMD_GET_VERSION ? RecordReplyBytes(code)
                                                              : ReplyBytes(code);
      const std::size_t damage[] = {FRAME_OFS_STATUS, FRAME_OFS_ADDR, FRAME_OFS_LENGTH + 1,
                                    FRAME_OFS_END};
      const std::uint8_t value[] = {FRAME_REFUSED, 0x02, 3, 0x7F};
      const auto pick = random() % 8;
      if (pick < std::size(damage)) part = With(part, damage[pick], value[pick]);
    } else {
      part.resize(1 + random() % 4);
      for (auto& byte : part) byte = kNoiseBytes[random() % std::size(kNoiseBytes)];
    }
    if (held.size() + part.size() > ReceiveBuffer::kClearThreshold) return held;
    held.insert(held.end(), part.begin(), part.end());
  }
}

std::vector<std::vector<std::uint16_t>> Operations() {
  return {{CMD_RESTORE_DEFAULT},
          {CMD_GET_VERSION},
          {CMD_COM_GET},
          {CMD_CONVT_GET, CMD_COM_GET, CMD_CAN_GET},
          {CMD_CONVT_SET, CMD_COM_SET, CMD_CAN_SET}};
}

// Decodes `held` delivered in random chunks to an operation that sent
// `sent`, then flushes.
std::vector<TrafficRow> DecodeInChunks(const Bytes& held, const std::vector<std::uint16_t>& sent,
                                       std::mt19937& random, bool oneChunk) {
  std::vector<Event> events;
  for (const std::uint16_t code : sent) events.push_back(Send(code));
  for (std::size_t at = 0; at < held.size();) {
    const std::size_t n = oneChunk ? held.size() : 1 + random() % 40;
    events.push_back(
        Rx(Bytes(held.begin() + static_cast<std::ptrdiff_t>(at),
                 held.begin() + static_cast<std::ptrdiff_t>(std::min(held.size(), at + n)))));
    at += n;
  }
  events.push_back(Flush());
  return Decode(events);
}

// The received rows as kind, reason and bytes.
std::vector<std::tuple<TrafficKind, TrafficReason, Bytes>> ReceivedRows(
    const std::vector<TrafficRow>& rows) {
  std::vector<std::tuple<TrafficKind, TrafficReason, Bytes>> received;
  for (const TrafficRow& row : rows)
    if (row.kind == TrafficKind::Received)
      received.emplace_back(row.kind, row.reason, Bytes(row.Kept().begin(), row.Kept().end()));
  return received;
}

TEST(TrafficDecoder, AcceptsWhatTheWindowAcceptsKeepsEveryByteAndIgnoresChunking) {
  std::mt19937 random(20170905);
  for (int round = 0; round < 150; ++round) {
    for (const auto& sent : Operations()) {
      const Bytes held = RandomTraffic(random, sent);
      const auto rows = DecodeInChunks(held, sent, random, false);
      Bytes received;
      std::vector<Frame> accepted;
      for (const TrafficRow& row : rows) {
        if (row.kind == TrafficKind::Sent) continue;
        received.insert(received.end(), row.Kept().begin(), row.Kept().end());
        if (IsAcceptedRow(row)) accepted.push_back(*RowFrame(row));
      }
      ASSERT_EQ(received, held) << "round " << round << ": every byte once, in order";
      ASSERT_EQ(accepted, WindowAccepts(held, sent)) << "round " << round << " op " << sent[0];
      ASSERT_EQ(ReceivedRows(rows), ReceivedRows(DecodeInChunks(held, sent, random, true)))
          << "round " << round << " op " << sent[0];
    }
  }
}

}  // namespace
}  // namespace protocol
