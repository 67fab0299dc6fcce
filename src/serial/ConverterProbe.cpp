#include "serial/ConverterProbe.h"

#include <QThread>
#include <set>

#include "platform/SerialDevices.h"
#include "protocol/Frame.h"
#include "protocol/RxBuffer.h"
#include "serial/Comm.h"
#include "serial/ConverterLine.h"

namespace serial {

namespace {

// The connect's pause between opening a port and its first request; once
// for all the ports opened together.
constexpr unsigned long kOpenPauseMs = 2;

}  // namespace

// A port being asked, with the component that holds it open.
struct ConverterProbe::OpenPort {
  std::size_t index = 0;  // into results_
  TComm comm;
  protocol::ReceiveBuffer rx;
  bool settled = false;
};

ConverterProbe::ConverterProbe(ProbeOptions options) : options_(options) {
  window_.setSingleShot(true);
  QObject::connect(&window_, &QTimer::timeout, [this] { EndWindow(); });
}

ConverterProbe::~ConverterProbe() = default;

void ConverterProbe::Start(const std::vector<std::string>& ports) {
  if (started_) return;
  started_ = true;
  std::set<std::string> seen;
  std::vector<std::string> devices;
  for (const std::string& port : ports) {
    ProbeResult result;
    result.port = port;
    result.device = platform::PresentDevicePath(port);
    if (result.device.empty()) {
      result.outcome = ProbeResult::Outcome::OpenFailed;
      result.openError.code = platform::CommError::NoSuchDevice;
      result.openError.reason = port + ": no such device";
    } else if (!seen.insert(result.device).second) {
      continue;
    }
    results_.push_back(result);
    devices.push_back(result.device);
  }
  const std::vector<std::vector<platform::PortHolder>> holders =
      platform::FindPortHoldersOfEach(devices);
  for (std::size_t i = 0; i < results_.size(); ++i) {
    if (results_[i].device.empty()) continue;
    if (!holders[i].empty()) {
      results_[i].outcome = ProbeResult::Outcome::InUse;
      results_[i].holders = holders[i];
      continue;
    }
    Open(i);
  }
  if (open_.empty()) return;
  QThread::msleep(kOpenPauseMs);
  const protocol::Frame query = protocol::BuildQueryFrame(protocol::CMD_GET_VERSION);
  for (const auto& port : open_) {
    const bool delivered =
        port->comm.SendData(query.data(), static_cast<std::uint16_t>(query.size()));
    Tell({Traffic::Event::Sent, port->index, query, delivered});
    if (!delivered) Settle(*port, ProbeResult::Outcome::Silent);
  }
  if (waiting_ > 0) window_.start(options_.windowMs);
}

void ConverterProbe::Open(std::size_t index) {
  auto port = std::make_unique<OpenPort>();
  port->index = index;
  UseConverterLine(port->comm);
  // The node itself: a name that is not UTF-8 cannot reach the component,
  // a node's own name always can.
  port->comm.SetCommName(QString::fromStdString(results_[index].device));
  try {
    port->comm.OpenPort();
  } catch (const ECommsError&) {
    results_[index].outcome = ProbeResult::Outcome::OpenFailed;
    results_[index].openError = port->comm.LastOpenError();
    return;
  }
  OpenPort& opened = *port;
  port->comm.OnReceiveData = [this, &opened](TComm*, const std::uint8_t* bytes,
                                             std::uint16_t count) {
    if (!opened.settled) Tell({Traffic::Event::Received, opened.index, std::span(bytes, count)});
    opened.rx.AppendReceived(bytes, count);
    OnReceived(opened);
  };
  port->comm.OnRequestHangup = [this, &opened](TComm*) {
    Settle(opened, ProbeResult::Outcome::Silent, true);
  };
  ++waiting_;
  open_.push_back(std::move(port));
}

void ConverterProbe::OnReceived(OpenPort& port) {
  if (port.settled) return;
  const protocol::ReplyVerdict verdict =
      protocol::ExamineReplies(port.rx.Bytes(), protocol::CMD_GET_VERSION, options_.crc);
  ProbeResult& result = results_[port.index];
  switch (verdict.state) {
    case protocol::ReplyVerdict::State::Accepted:
      result.version = protocol::VersionRecord::FromReply(verdict.frame);
      Settle(port, ProbeResult::Outcome::Answered);
      break;
    case protocol::ReplyVerdict::State::Refused:
      result.status = protocol::FrameStatus(verdict.frame);
      Settle(port, ProbeResult::Outcome::Refused);
      break;
    case protocol::ReplyVerdict::State::Pending:
      break;
  }
}

void ConverterProbe::Settle(OpenPort& port, ProbeResult::Outcome outcome, bool lost) {
  if (port.settled) return;
  port.settled = true;
  results_[port.index].outcome = outcome;
  port.comm.ClosePort();
  Traffic closed{Traffic::Event::Closed, port.index, {}};
  closed.lost = lost;
  Tell(closed);
  if (--waiting_ == 0) window_.stop();
  if (OnProgress) OnProgress();
}

void ConverterProbe::Tell(const Traffic& traffic) const {
  if (OnTraffic) OnTraffic(traffic);
}

void ConverterProbe::EndWindow() {
  for (const auto& port : open_) Settle(*port, ProbeResult::Outcome::Silent);
}

}  // namespace serial
