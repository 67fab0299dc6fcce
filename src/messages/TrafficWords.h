#pragma once

#include <span>
#include <string_view>

// The words of the traffic rows (what was sent and received on the serial
// line, decoded) in Chinese and English, once, beside the table of operator
// messages and chosen by the same rule. A text with "{}" takes values in
// order (see protocol/TrafficFormat.h); the Chinese record words are the
// parameter panel's own captions and item texts.
namespace messages {

enum class TrafficWord {
  // Direction and kind of a row.
  Sent,
  Received,
  Message,
  NoiseBytes,    // {} = byte count
  DroppedBytes,  // {} = byte count
  // Status and checksum of a frame.
  StatusAccepted,  // {} = the status byte in hex
  StatusRefused,   // {} = the status byte in hex
  CrcOk,
  CrcBad,  // {} = the checksum the bytes call for
  // Why a frame was not accepted, what became of bytes that were no frame.
  NotSent,
  WrongEnd,      // {} = the end byte
  WrongAddress,  // {} = the address byte
  UnexpectedCommand,
  Refused,
  WrongLength,  // {} = the data length, {} = the one required
  BadCrc,
  NoRequest,
  NotExamined,
  Late,
  Incomplete,
  BufferFull,
  ChunkTooLong,
  // The version record: software version, build date, hardware version.
  VersionRecord,
  // The serial-line record: baud rate, data bits, parity, stop bits.
  ComRecord,
  ParityEven,
  ParityOdd,
  ParitySpace,
  ParityMark,
  ParityNone,
  ParityCode,  // {} = a code no item stands for
  StopBitsOne,
  StopBitsTwo,
  StopBitsCode,  // {} = a code no item stands for
  // The conversion record: mode, direction; transparent options, send
  // identifier; ID offset, ID length; frame gap; data options, send identifier.
  ConvtRecord,
  ModeTransparent,
  ModeTransparentWithId,
  ModeModbusRtu,
  ModeData,
  ModeCode,  // {} = a mode no item stands for
  DirectionCanToCom,
  DirectionComToCan,
  DirectionBoth,
  DirectionCode,  // {} = a direction no item stands for
  TransparentInfo,
  TransparentId,
  DataInfo,
  DataId,
  FlagsJoin,  // between two options
  FlagsNone,
  // The CAN record: bit rate, frame type; filter state: frames, ID,
  // acceptance code, mask.
  CanRecord,
  CanBitRateCode,  // {} = an index no item stands for
  FrameStandard,
  FrameExtended,
  FilterStandardOnly,
  FilterExtendedOnly,
  FilterIdIgnored,
  FilterIdDistinguished,
};

struct TrafficWordRow {
  TrafficWord id;
  const char* chn;  // UTF-8
  const char* enu;
};

// The rows in the order of TrafficWord (row i has id i).
std::span<const TrafficWordRow> TrafficWordTable();

// The Chinese text when langCode is "chn", the English one for any other
// code (empty included).
const char* TrafficWordText(TrafficWord id, std::string_view langCode);

}  // namespace messages
