#include "protocol/TrafficFormat.h"

#include <cstdio>
#include <cstdlib>

#include "messages/TrafficWords.h"
#include "protocol/RecordText.h"

namespace protocol {
namespace {

using messages::TrafficWord;

constexpr const char* kEllipsis = " \u2026";

std::string Word(TrafficWord word, std::string_view langCode) {
  return messages::TrafficWordText(word, langCode);
}

std::string Hex2(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
  return text;
}

std::string Hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFFu);
  return text;
}

std::string CommandText(std::uint16_t code) {
  const char* name = CommandName(code);
  return name ? name : Hex4(code);
}

std::uint16_t ExpectedCrc(const Frame& frame) {
  return CalcCrc16(frame.data() + FRAME_CRC_FIRST, FRAME_CRC_COUNT);
}

// The data length the search requires of a reply with this code.
unsigned RequiredLength(std::uint16_t code) {
  return code == CMD_GET_VERSION ? 9u : 1u + static_cast<unsigned>(ConvtParams::kSize);
}

std::string NoteText(const TrafficRow& row, const std::optional<Frame>& frame,
                     std::string_view langCode) {
  switch (row.reason) {
    case TrafficReason::None:
      return {};
    case TrafficReason::NotSent:
      return Word(TrafficWord::NotSent, langCode);
    case TrafficReason::WrongEnd:
      return FillPlaceholders(Word(TrafficWord::WrongEnd, langCode),
                              {frame ? Hex2((*frame)[FRAME_OFS_END]) : std::string()});
    case TrafficReason::WrongAddress:
      return FillPlaceholders(Word(TrafficWord::WrongAddress, langCode),
                              {frame ? Hex2((*frame)[FRAME_OFS_ADDR]) : std::string()});
    case TrafficReason::UnexpectedCommand:
      return Word(TrafficWord::UnexpectedCommand, langCode);
    case TrafficReason::Refused:
      return Word(TrafficWord::Refused, langCode);
    case TrafficReason::WrongLength:
      if (!frame) return FillPlaceholders(Word(TrafficWord::WrongLength, langCode), {"?", "?"});
      return FillPlaceholders(Word(TrafficWord::WrongLength, langCode),
                              {std::to_string(FrameDataLength(*frame)),
                               std::to_string(RequiredLength(FrameCode(*frame)))});
    case TrafficReason::BadCrc:
      return Word(TrafficWord::BadCrc, langCode);
    case TrafficReason::NoRequest:
      return Word(TrafficWord::NoRequest, langCode);
    case TrafficReason::NotExamined:
      return Word(TrafficWord::NotExamined, langCode);
    case TrafficReason::Late:
      return Word(TrafficWord::Late, langCode);
    case TrafficReason::Incomplete:
      return Word(TrafficWord::Incomplete, langCode);
    case TrafficReason::BufferFull:
      return Word(TrafficWord::BufferFull, langCode);
    case TrafficReason::ChunkTooLong:
      return Word(TrafficWord::ChunkTooLong, langCode);
  }
  return {};
}

std::string MessageText(const TrafficRow& row, std::string_view langCode) {
  std::string text = row.message ? messages::MessageText(*row.message, langCode) : "";
  return text + row.detail;
}

std::string KeptHex(const TrafficRow& row) {
  std::string text = HexText(row.Kept());
  if (row.byteCount > row.keptCount) text += kEllipsis;
  return text;
}

// Tabs and line breaks would split a saved line or a trace line.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return text;
}

std::string Seconds(TrafficTime span) {
  char text[32];
  std::snprintf(text, sizeof text, "%+.3f", static_cast<double>(span.count()) / 1e6);
  return text;
}

}  // namespace

TrafficCells RowCells(const TrafficRow& row, std::string_view langCode) {
  TrafficCells cells;
  const std::optional<Frame> frame = RowFrame(row);
  const std::string count = std::to_string(row.byteCount);
  switch (row.kind) {
    case TrafficKind::Sent:
      cells.direction = Word(TrafficWord::Sent, langCode);
      cells.command = frame ? CommandText(FrameCode(*frame)) : count;
      break;
    case TrafficKind::Received:
      cells.direction = Word(TrafficWord::Received, langCode);
      if (frame) {
        cells.command = CommandText(FrameCode(*frame));
        const std::uint8_t status = FrameStatus(*frame);
        cells.status = FillPlaceholders(
            Word(status == FRAME_ACK ? TrafficWord::StatusAccepted : TrafficWord::StatusRefused,
                 langCode),
            {Hex2(status)});
      }
      break;
    case TrafficKind::Noise:
      cells.direction = Word(TrafficWord::Received, langCode);
      cells.command = FillPlaceholders(Word(TrafficWord::NoiseBytes, langCode), {count});
      break;
    case TrafficKind::Dropped:
      cells.direction = Word(TrafficWord::Received, langCode);
      cells.command = FillPlaceholders(Word(TrafficWord::DroppedBytes, langCode), {count});
      break;
    case TrafficKind::Message:
      cells.direction = Word(TrafficWord::Message, langCode);
      cells.note = MessageText(row, langCode);
      return cells;
  }
  if (frame) {
    cells.length = std::to_string(FrameDataLength(*frame));
    cells.crc = FrameCrcMatches(*frame) ? Word(TrafficWord::CrcOk, langCode)
                                        : FillPlaceholders(Word(TrafficWord::CrcBad, langCode),
                                                           {Hex4(ExpectedCrc(*frame))});
    cells.record = DescribeFrameRecord(*frame, row.kind == TrafficKind::Sent, langCode);
  }
  cells.note = NoteText(row, frame, langCode);
  cells.bytes = KeptHex(row);
  return cells;
}

std::string ClockText(TrafficTime time) {
  constexpr std::int64_t kDayMs = 24LL * 60 * 60 * 1000;
  const std::int64_t ms =
      ((std::chrono::floor<std::chrono::milliseconds>(time).count() % kDayMs) + kDayMs) % kDayMs;
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", static_cast<int>(ms / 3600000),
                static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
                static_cast<int>(ms % 1000));
  return text;
}

std::string DeltaText(TrafficTime previous, TrafficTime time) {
  const std::int64_t us = (time - previous).count();
  char text[32];
  std::snprintf(text, sizeof text, "%s%lld.%03lld", us < 0 ? "-" : "",
                static_cast<long long>(std::llabs(us) / 1000),
                static_cast<long long>(std::llabs(us) % 1000));
  return text;
}

std::string HexText(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (const std::uint8_t byte : bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

std::string RowTextLine(const TrafficRow& row, std::optional<TrafficTime> previous,
                        std::string_view langCode) {
  const TrafficCells cells = RowCells(row, langCode);
  std::string line = ClockText(row.time);
  line += '\t';
  if (previous) line += DeltaText(*previous, row.time);
  for (const std::string* cell : {&cells.direction, &cells.command, &cells.status, &cells.length,
                                  &cells.crc, &cells.record, &cells.note, &cells.bytes})
    line += '\t' + OneLine(*cell);
  return line;
}

std::string RowTraceLine(const TrafficRow& row, TrafficTime origin, std::string_view langCode) {
  std::string line = Seconds(row.time - origin);
  const std::optional<Frame> frame = RowFrame(row);
  const std::string count = std::to_string(row.byteCount);
  switch (row.kind) {
    case TrafficKind::Message:
      return line + " msg " + OneLine(MessageText(row, langCode));
    case TrafficKind::Noise:
      line += " rx noise " + count + " bytes";
      break;
    case TrafficKind::Dropped:
      line += " rx dropped " + count + " bytes";
      break;
    case TrafficKind::Sent:
    case TrafficKind::Received: {
      const bool sent = row.kind == TrafficKind::Sent;
      line += sent ? " tx " : " rx ";
      if (!frame) {
        line += count + " bytes";
        break;
      }
      line += CommandText(FrameCode(*frame));
      if (!sent) {
        const std::uint8_t status = FrameStatus(*frame);
        line += " status " + Hex2(status) + (status == FRAME_ACK ? " ok" : " refused");
      }
      line += " len " + std::to_string(FrameDataLength(*frame));
      line += FrameCrcMatches(*frame) ? " crc ok" : " crc bad";
      const std::string record = DescribeFrameRecord(*frame, sent, langCode);
      if (!record.empty()) line += ' ' + record;
      break;
    }
  }
  const std::string note = NoteText(row, frame, langCode);
  if (!note.empty()) line += " (" + note + ")";
  if (row.keptCount > 0) line += ' ' + KeptHex(row);
  return line;
}

std::vector<TrafficField> RowFields(const TrafficRow& row, TrafficTime origin,
                                    std::string_view langCode) {
  std::vector<TrafficField> fields;
  fields.push_back({"t", static_cast<double>((row.time - origin).count()) / 1e6});
  const std::optional<Frame> frame = RowFrame(row);
  const auto count = static_cast<std::int64_t>(row.byteCount);
  switch (row.kind) {
    case TrafficKind::Message:
      fields.push_back({"dir", std::string("msg")});
      fields.push_back({"kind", std::string("message")});
      fields.push_back({"text", MessageText(row, langCode)});
      return fields;
    case TrafficKind::Noise:
    case TrafficKind::Dropped:
      fields.push_back({"dir", std::string("rx")});
      fields.push_back({"kind", std::string(row.kind == TrafficKind::Noise ? "noise" : "dropped")});
      fields.push_back({"count", count});
      break;
    case TrafficKind::Sent:
    case TrafficKind::Received: {
      const bool sent = row.kind == TrafficKind::Sent;
      fields.push_back({"dir", std::string(sent ? "tx" : "rx")});
      if (!frame) {
        fields.push_back({"kind", std::string("bytes")});
        fields.push_back({"count", count});
        break;
      }
      fields.push_back({"kind", std::string("frame")});
      const std::uint16_t code = FrameCode(*frame);
      fields.push_back({"command", CommandText(code)});
      fields.push_back({"code", static_cast<std::int64_t>(code)});
      if (!sent) {
        fields.push_back({"status", static_cast<std::int64_t>(FrameStatus(*frame))});
        fields.push_back({"accepted", IsAcceptedRow(row)});
      }
      fields.push_back({"length", static_cast<std::int64_t>(FrameDataLength(*frame))});
      fields.push_back({"crc_ok", FrameCrcMatches(*frame)});
      std::string record = DescribeFrameRecord(*frame, sent, langCode);
      if (!record.empty()) fields.push_back({"record", std::move(record)});
      break;
    }
  }
  if (row.reason != TrafficReason::None) {
    fields.push_back({"reason", std::string(ReasonKey(row.reason))});
    fields.push_back({"note", NoteText(row, frame, langCode)});
  }
  fields.push_back({"bytes", KeptHex(row)});
  return fields;
}

const char* ReasonKey(TrafficReason reason) {
  switch (reason) {
    case TrafficReason::None:
      return "";
    case TrafficReason::NotSent:
      return "not_sent";
    case TrafficReason::WrongEnd:
      return "wrong_end";
    case TrafficReason::WrongAddress:
      return "wrong_address";
    case TrafficReason::UnexpectedCommand:
      return "unexpected_command";
    case TrafficReason::Refused:
      return "refused";
    case TrafficReason::WrongLength:
      return "wrong_length";
    case TrafficReason::BadCrc:
      return "bad_crc";
    case TrafficReason::NoRequest:
      return "no_request";
    case TrafficReason::NotExamined:
      return "not_examined";
    case TrafficReason::Late:
      return "late";
    case TrafficReason::Incomplete:
      return "incomplete";
    case TrafficReason::BufferFull:
      return "buffer_full";
    case TrafficReason::ChunkTooLong:
      return "chunk_too_long";
  }
  return "";
}

}  // namespace protocol
