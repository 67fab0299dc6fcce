#include "cli/ConverterLink.h"

#include <QFile>
#include <QThread>

#include "cli/CliError.h"
#include "cli/Waiter.h"
#include "platform/Exception.h"
#include "platform/PortReason.h"
#include "platform/RegularFile.h"
#include "protocol/ReplyWait.h"
#include "serial/ConverterLine.h"

namespace cli {
namespace {

// The window's pause between opening the port and the first request.
constexpr unsigned long kOpenPauseMs = 2;

std::string CommandText(std::uint16_t code) {
  const char* name = protocol::CommandName(code);
  return name ? name : "command";
}

// The port's name as the component takes it: a QString, which carries only
// UTF-8 to the system. A path that is not UTF-8 is given by the real path it
// leads to, a device node's name.
QString QtUsableName(const QByteArray& port) {
  if (QFile::encodeName(QFile::decodeName(port)) == port) return QFile::decodeName(port);
  try {
    const QByteArray real = platform::CanonicalFileName(port);
    if (QFile::encodeName(QFile::decodeName(real)) == real) return QFile::decodeName(real);
  } catch (const platform::EFileError& failure) {
    throw CliError(kExitPort, failure.what());
  }
  throw CliError(kExitPort, platform::DisplayFileName(port).toStdString() +
                                ": the device's own name is not UTF-8 either");
}

}  // namespace

std::string SendErrorText(std::uint16_t code) {
  return "Send error! (" + CommandText(code) + ")";
}

std::string PortLostText(std::uint16_t code) {
  return "the port went away (" + CommandText(code) + ")";
}

std::string NoReplyText(std::uint16_t code, int windowMs) {
  return "operating timeout. (no complete reply to " + CommandText(code) + " within " +
         std::to_string(windowMs) + " ms)";
}

ConverterLink::ConverterLink(const QByteArray& port, protocol::CrcCheck crc, const Output& trace)
    : port_(port), crc_(crc), trace_(trace, crc) {
  serial::UseConverterLine(comm_);
  comm_.OnReceiveData = [this](TComm*, const std::uint8_t* bytes, std::uint16_t count) {
    OnReceived(bytes, count);
  };
  comm_.OnRequestHangup = [this](TComm*) {
    trace_.Outcome("the port went away");
    hungUp_ = true;
    Wake();
  };
}

ConverterLink::~ConverterLink() {
  Close();
}

void ConverterLink::Open() {
  try {
    OpenPort();
  } catch (const CliError& failure) {
    trace_.Outcome(failure.what());
    throw;
  }
}

// The one place where a port that cannot be opened is reported.
void ConverterLink::OpenPort() {
  hungUp_ = false;
  comm_.SetCommName(QtUsableName(port_));
  try {
    comm_.OpenPort();
  } catch (const ECommsError& failure) {
    // The component's own text, then the reason the window shows too.
    const platform::CommErrorInfo error = comm_.LastOpenError();
    const std::string name = comm_.CommName().toStdString();
    throw CliError(kExitPort,
                   name + ": " + failure.what() + "\n" +
                       platform::OpenFailureReason(name, error.code, error.sysErrno, "enu"));
  }
  QThread::msleep(kOpenPauseMs);
}

void ConverterLink::Close() {
  comm_.ClosePort();
  trace_.Closed();
}

void ConverterLink::OnReceived(const std::uint8_t* bytes, std::uint16_t count) {
  trace_.Received(std::span(bytes, count));
  rx_.AppendReceived(bytes, count);
  Wake();
}

protocol::Frame ConverterLink::Exchange(const protocol::Frame& request, int windowMs,
                                        const char* refusal) {
  try {
    return ExchangeOnce(request, windowMs, refusal);
  } catch (const CliError& failure) {
    trace_.Outcome(failure.what());
    throw;
  }
}

protocol::Frame ConverterLink::ExchangeOnce(const protocol::Frame& request, int windowMs,
                                            const char* refusal) {
  const std::uint16_t code = protocol::FrameCode(request);
  // A signal that came since the last wait stops the command before it
  // sends anything more.
  if (InterruptArrived()) throw CliError(kExitNoReply, "interrupted");
  rx_.ClearRxBuffer();
  heardNoReply_ = false;
  const bool delivered = comm_.SendData(request.data(), static_cast<std::uint16_t>(request.size()));
  trace_.Request(request, delivered);
  if (!delivered) throw CliError(kExitNoReply, SendErrorText(code));
  protocol::ReplyVerdict verdict;
  WaitFor(
      [&] {
        verdict = protocol::ExamineReplies(rx_.Bytes(), code, crc_);
        return verdict.state != protocol::ReplyVerdict::State::Pending || hungUp_;
      },
      windowMs);
  switch (verdict.state) {
    case protocol::ReplyVerdict::State::Accepted:
      return verdict.frame;
    case protocol::ReplyVerdict::State::Refused: {
      char status[8];
      std::snprintf(status, sizeof status, "0x%02X", protocol::FrameStatus(verdict.frame));
      throw CliError(kExitRefused,
                     std::string(refusal) + " (" + CommandText(code) + ", status " + status + ")");
    }
    case protocol::ReplyVerdict::State::Pending:
      break;
  }
  heardNoReply_ = rx_.RxCount() > 0;
  if (Interrupted()) throw CliError(kExitNoReply, "interrupted");
  if (hungUp_) throw CliError(kExitNoReply, PortLostText(code));
  throw CliError(kExitNoReply, NoReplyText(code, windowMs));
}

protocol::VersionRecord ConverterLink::ReadVersion() {
  return protocol::VersionRecord::FromReply(
      Exchange(protocol::BuildQueryFrame(protocol::CMD_GET_VERSION), kReplyWindowMs));
}

protocol::ConvtParams ConverterLink::ReadConvt() {
  return protocol::ConvtParams::FromReply(
      Exchange(protocol::BuildQueryFrame(protocol::CMD_CONVT_GET), kReplyWindowMs));
}

protocol::ComParams ConverterLink::ReadCom() {
  return protocol::ComParams::FromReply(
      Exchange(protocol::BuildQueryFrame(protocol::CMD_COM_GET), kReplyWindowMs));
}

protocol::CanParams ConverterLink::ReadCan() {
  return protocol::CanParams::FromReply(
      Exchange(protocol::BuildQueryFrame(protocol::CMD_CAN_GET), kReplyWindowMs));
}

protocol::ParameterRecords ConverterLink::ReadParameters() {
  protocol::ParameterRecords records;
  records.convt = ReadConvt();
  records.com = ReadCom();
  records.can = ReadCan();
  return records;
}

void ConverterLink::WriteParameters(const protocol::ParameterRecords& records, RecordSet which) {
  const std::pair<bool, protocol::Frame> sets[] = {{which.convt, records.convt.ToSetFrame()},
                                                   {which.com, records.com.ToSetFrame()},
                                                   {which.can, records.can.ToSetFrame()}};
  const char* names[] = {"convt", "com", "can"};
  for (std::size_t i = 0; i < std::size(sets); ++i) {
    if (!sets[i].first) continue;
    Exchange(sets[i].second, kReplyWindowMs);
    written_ << QLatin1String(names[i]);
  }
}

void ConverterLink::RestoreDefaults() {
  Exchange(protocol::BuildQueryFrame(protocol::CMD_RESTORE_DEFAULT), kRestoreWindowMs,
           "Gets the default parameter settings fail!");
}

}  // namespace cli
