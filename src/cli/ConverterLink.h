#pragma once

#include <QString>
#include <QStringList>
#include <string>

#include "cli/Output.h"
#include "cli/Trace.h"
#include "protocol/Frame.h"
#include "protocol/Records.h"
#include "protocol/ReplyWait.h"
#include "protocol/RxBuffer.h"
#include "serial/Comm.h"

namespace cli {

// How long a reply may take: the window's collection windows, within which
// it examines what came (3 s for the restore acknowledgement, 1 s for the
// rest).
inline constexpr int kReplyWindowMs = 1000;
inline constexpr int kRestoreWindowMs = 3000;

// The failures of a request with command `code`, as they are told.
std::string SendErrorText(std::uint16_t code);
std::string PortLostText(std::uint16_t code);
std::string NoReplyText(std::uint16_t code, int windowMs);

// Which of the three records a write sends.
struct RecordSet {
  bool convt = true;
  bool com = true;
  bool can = true;
};

// The converter on one port, one request at a time: each request is sent
// after the previous reply was accepted, and its reply is taken as soon as it
// is complete, by the window's frame search and acceptance. Every request
// leaves through Exchange() and every received byte comes in through
// OnReceived(); both, and every failure, are traced. Use a link on the
// thread that made it.
class ConverterLink {
 public:
  // `port`: COMn or a device path, resolved as the window resolves it; the
  // bytes of the local encoding, which need not be UTF-8. `crc`: whether a
  // reply's checksum must hold. `trace`: the output that traces the link's
  // traffic, when it traces.
  explicit ConverterLink(const QByteArray& port,
                         protocol::CrcCheck crc = protocol::CrcCheck::Ignored,
                         const Output& trace = Output::Silent());
  ~ConverterLink();
  ConverterLink(const ConverterLink&) = delete;
  ConverterLink& operator=(const ConverterLink&) = delete;

  // Opens the port with the window's line settings (serial/ConverterLine.h).
  // Throws CliError (port) with the failure's text.
  void Open();
  void Close();
  bool IsOpen() const { return comm_.PortOpen(); }
  // The far side hung up or the device went away since Open().
  bool HungUp() const { return hungUp_; }
  const QByteArray& Port() const { return port_; }
  // Why the last Open() failed (None when it did not).
  platform::CommErrorInfo OpenError() const { return comm_.LastOpenError(); }
  // Whether bytes came in the last exchange that failed for want of a reply:
  // something is on the line, yet nothing it sent was a reply.
  bool HeardNoReply() const { return heardNoReply_; }
  // The records ("convt", "com", "can") the converter acknowledged to
  // WriteParameters() since ForgetWritten(), in the order sent.
  const QStringList& Written() const { return written_; }
  void ForgetWritten() { written_.clear(); }
  PortTrace& Trace() { return trace_; }

  // One request and its reply. Throws CliError: refused (the converter
  // answered with a refusing status; `refusal` is the message), no reply (none
  // accepted within `windowMs`, the port went away, or an interrupt).
  protocol::Frame Exchange(const protocol::Frame& request, int windowMs,
                           const char* refusal = "the converter refused the request");

  protocol::VersionRecord ReadVersion();
  // CMD_CONVT_GET, CMD_COM_GET, CMD_CAN_GET, one after the other.
  protocol::ConvtParams ReadConvt();
  protocol::ComParams ReadCom();
  protocol::CanParams ReadCan();
  protocol::ParameterRecords ReadParameters();
  // The setting commands of `which`, in the window's order: conversion,
  // serial line, CAN.
  void WriteParameters(const protocol::ParameterRecords& records, RecordSet which = RecordSet());
  void RestoreDefaults();

 private:
  void OnReceived(const std::uint8_t* bytes, std::uint16_t count);
  void OpenPort();
  protocol::Frame ExchangeOnce(const protocol::Frame& request, int windowMs, const char* refusal);

  QByteArray port_;
  protocol::CrcCheck crc_;
  PortTrace trace_;
  TComm comm_;
  protocol::ReceiveBuffer rx_;
  bool hungUp_ = false;
  bool heardNoReply_ = false;
  QStringList written_;
};

}  // namespace cli
