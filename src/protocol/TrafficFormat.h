#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "protocol/TrafficRow.h"

// A traffic row as text: the cells of the traffic window, a line of the
// saved text, a --trace line and the fields of a --trace JSON object. Every
// word is taken from messages/TrafficWords.h or messages/Messages.h in the
// language of `langCode` ("chn" Chinese, anything else English); the
// --trace line's own tokens (tx, rx, status, len, crc...) are fixed. All
// texts are UTF-8.
namespace protocol {

// The cells of one row; a cell that does not apply to the row is empty.
struct TrafficCells {
  std::string direction;  // sent / received (frames, noise, dropped) / message
  // Frames: the command's name, or its code as 0x5A5A when unknown. Noise
  // and dropped bytes: "noise, 3 bytes", "dropped, 240 bytes". Sent bytes that
  // are no frame: their count.
  std::string command;
  std::string status;  // received frames: "accepted (0x20)", "refused (0x21)"
  std::string length;  // frames: the data length field, in decimal
  std::string crc;     // frames: "ok", "bad, expected 0xA704"
  std::string record;  // the record a frame carries, in words (RecordText.h)
  // Why a frame was not accepted or not sent, what became of bytes that were
  // no frame; a message row's text.
  std::string note;
  std::string bytes;  // the bytes kept, "7F 01 10 20", and " …" when the row stands for more
};

TrafficCells RowCells(const TrafficRow& row, std::string_view langCode);

// "14:03:07.250": the time of day of `time`, counted from a midnight
// (times before the epoch are counted back from the one before it).
std::string ClockText(TrafficTime time);

// "6.012": the milliseconds from `previous` to `time`, three decimals; a
// negative span keeps its sign.
std::string DeltaText(TrafficTime previous, TrafficTime time);

// "7F 01 10 20": two upper-case hexadecimal digits per byte, one space
// between bytes.
std::string HexText(std::span<const std::uint8_t> bytes);

// A line of the saved text, without its line end: the clock, the
// milliseconds since `previous` (empty when there is none), then the cells
// in the order of TrafficCells, separated by tabs. A tab or line break inside
// a cell becomes a space, so the line is always one line of ten fields.
std::string RowTextLine(const TrafficRow& row, std::optional<TrafficTime> previous,
                        std::string_view langCode);

// A --trace line, without its line end; the seconds since `origin` first:
//   +0.000 tx CMD_GET_VERSION len 1 crc ok 7F 01 10 20 00 01 FF ...
//   +0.006 rx CMD_GET_VERSION status 0x20 ok len 9 crc ok software 1.2
//          build20170905, hardware 1.0 7F 01 10 20 ...
//   +0.012 rx noise 3 bytes AA BB CC
//   +0.020 rx CMD_CAN_SET status 0x20 ok len 1 crc ok (a reply to no request) 7F ...
//   +0.030 rx dropped 240 bytes (receive buffer full: ...) 7F 01 ...
//   +1.500 msg operating timeout.
// A frame shows "status 0x.. ok|refused" when received, its record when it
// carries one, and the note in parentheses when there is one; the bytes
// come last. Line breaks inside a message become spaces.
std::string RowTraceLine(const TrafficRow& row, TrafficTime origin, std::string_view langCode);

// The fields of a --trace JSON object, in order. Keys:
//   t        seconds since `origin` (double)
//   dir      "tx", "rx" or "msg"
//   kind     "frame", "noise", "dropped", "message", or "bytes" for sent
//            bytes that are no frame
//   command, code, length, crc_ok   frames; status, accepted   received frames
//   record   frames that carry one
//   reason, note   when the row has a reason (ReasonKey) or a note
//   count    noise, dropped and sent bytes that are no frame: the byte count
//   bytes    the bytes kept, as HexText
//   text     message rows: the message
struct TrafficField {
  const char* key;
  std::variant<bool, std::int64_t, double, std::string> value;
};
std::vector<TrafficField> RowFields(const TrafficRow& row, TrafficTime origin,
                                    std::string_view langCode);

// A stable key for a reason, the same in every language: "wrong_address",
// "no_request", ...; "" for TrafficReason::None.
const char* ReasonKey(TrafficReason reason);

}  // namespace protocol
