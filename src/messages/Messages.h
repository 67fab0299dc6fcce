#pragma once

#include <span>
#include <string_view>

// Every message the program shows in two languages, once: an id, its Chinese
// and its English text, and its entry in the data module's message catalogue.
// Plain C++: the protocol modules, the command-line program and the windows
// all take their texts from here.
namespace messages {

enum class Msg {
  // Device operations.
  SendError,
  RestoreSendError,
  Timeout,
  ReadOk,
  WriteOk,
  RestoreFail,
  OperatingError,  // a prefix: the failure's text follows directly
  Connect,
  Disconnect,
  PortLost,
  NoDevice,
  // The parameter panel.
  SetSendError,     // a conversion or serial-line setting command refused
  SetSendErrorCan,  // the CAN setting command refused
  StdIdRange,
  ExtIdRange,
  StdIdLength,
  FilterOn,
  FilterOff,
  // Parameter files.
  SelectImportFile,
  FileSizeBad,
  CmdLengthBad,
  FileCorrupted,
  CrcBad,
  SaveOk,
  FileExists,  // Chinese in both languages
  BinFilter,
  // The parameter panel: a field holding what its control cannot (text put
  // in by a path other than typing). %1 the field's label, %2 its text, %3
  // and %4 the bounds.
  FieldOutOfRange,
  FieldNotHexId,  // %1 the field's label, %2 its text
  // The traffic window's saved text.
  TextFilter,
  TextFileExists,
  TrafficSaved,  // %1 the number of rows
  // Finding converters: the box after a search of the present ports.
  FindAnswered,  // the heading of the ports that answered, one line each below
  FindVersion,   // %1 the port, %2 software, %3 build date, %4 hardware version
  FindRefused,   // %1 the port, %2 the status in two hexadecimal digits
  FindSelected,  // %1 the port now selected in the port list
  FindNone,
  FindNotAsked,  // the heading of the ports not asked, with the reason of each
};

// One message. `key` names its item in the message catalogue (N_...), the
// language files' key; null for a message the catalogue does not carry.
// `group` is the key of the catalogue's submenu. `enu` is null for a message
// that exists in Chinese only.
struct MessageRow {
  Msg id;
  const char* key;
  const char* group;
  const char* chn;  // UTF-8
  const char* enu;
};

// A submenu of the message catalogue: its key and Chinese caption.
struct MessageGroup {
  const char* key;
  const char* chn;
};

// The rows in the order of Msg (row i has id i), which is also the
// catalogue's order.
std::span<const MessageRow> MessageTable();
std::span<const MessageGroup> MessageGroups();

// The text of `id` for a language code: the Chinese text when langCode is
// "chn", the English one for any other code (empty included); a
// Chinese-only message gives its Chinese text for every code.
const char* MessageText(Msg id, std::string_view langCode);

}  // namespace messages
