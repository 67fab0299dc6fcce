#include "cli/Station.h"

#include <QCoreApplication>
#include <algorithm>
#include <cerrno>

#include "cli/Waiter.h"
#include "platform/PortReason.h"
#include "platform/SerialDevices.h"

namespace cli {
namespace {

// Each pass of a station's loop is one look for a converter, traced as such
// (cli/TraceLooks.h) until the loop ends.
class TracedLooks {
 public:
  explicit TracedLooks(PortTrace& trace) : trace_(trace) {}
  ~TracedLooks() { trace_.EndLooks(); }
  TracedLooks(const TracedLooks&) = delete;
  TracedLooks& operator=(const TracedLooks&) = delete;
  void Next() { trace_.BeginLook(); }

 private:
  PortTrace& trace_;
};

}  // namespace

Station::Station(ConverterLink& link, int noAnswerMs, const Output& out)
    : link_(link), noAnswerMs_(noAnswerMs), out_(out) {}

void Station::NoteThere() {
  if (!thereSince_) thereSince_.emplace().start();
}

void Station::Pause(int ms) {
  const std::uint64_t seen = Nudges();
  WaitFor([&] { return Nudges() != seen || (link_.IsOpen() && link_.HungUp()); }, ms);
}

bool Station::Present() {
  // A hang-up is the device going away under the open port: whatever is
  // there next came since.
  if (link_.HungUp()) {
    link_.Close();
    absent_ = true;
  }
  const std::string device = platform::PresentDevicePath(link_.Port().toStdString());
  if (device.empty()) {
    // The name may be given to another device meanwhile (a pty number, an
    // adapter plugged elsewhere): no lock names what is not there.
    link_.Close();
    lock_.Release();
    absent_ = true;
    return false;
  }
  if (absent_) {
    // The port came: an adapter plugged with its converter.
    absent_ = false;
    thereSince_.reset();
    silenceTold_ = false;
    NoteThere();
  }
  HoldLock(device);
  return true;
}

void Station::HoldLock(const std::string& device) {
  switch (lock_.Acquire(device)) {
    case platform::PortLock::State::HeldByOther:
      link_.Close();
      if (lock_.OtherPid() == QCoreApplication::applicationPid())
        throw CliError(kExitUsage, link_.Port().toStdString() + " leads to " + device +
                                       ", as another port of this command does");
      throw CliError(kExitPort,
                     platform::OpenFailureReason(link_.Port().toStdString(),
                                                 platform::CommError::InUse, EBUSY, "enu"));
    case platform::PortLock::State::Unavailable:
      if (!lockWarned_)
        out_.Say(QStringLiteral("warning: %1; a second loop on this port would not be refused")
                     .arg(QString::fromStdString(lock_.Problem())));
      lockWarned_ = true;
      break;
    default:
      break;
  }
}

bool Station::Opened() {
  if (link_.IsOpen()) return true;
  try {
    link_.Open();
    lastOpenProblem_.clear();
    return true;
  } catch (const CliError& failure) {
    const QString problem = QString::fromUtf8(failure.what());
    if (problem != lastOpenProblem_) out_.Say(QStringLiteral("waiting: ") + problem);
    lastOpenProblem_ = problem;
    return false;
  }
}

Station::Arrival Station::WaitForConverter() {
  TracedLooks looks(link_.Trace());
  for (;;) {
    looks.Next();
    if (Interrupted()) throw CliError(kExitNoReply, "interrupted");
    if (!Present() || !Opened()) {
      Pause(kRetryMs);
      continue;
    }
    try {
      Arrival arrival;
      arrival.version = link_.ReadVersion();
      thereSince_.reset();
      silenceTold_ = false;
      return arrival;
    } catch (const CliError& failure) {
      if (Interrupted()) throw CliError(kExitNoReply, "interrupted");
      if (failure.Status() == kExitRefused) {
        thereSince_.reset();
        silenceTold_ = false;
        return {Arrival::Kind::Refused, {}, failure};
      }
      if (link_.HungUp()) {
        link_.Close();
        continue;
      }
      if (link_.HeardNoReply()) NoteThere();
    }
    if (thereSince_ && !silenceTold_) {
      const qint64 left = noAnswerMs_ - thereSince_->elapsed();
      if (left <= 0) {
        silenceTold_ = true;
        link_.Trace().Outcome("no answer");
        return {Arrival::Kind::NoAnswer, {}, std::nullopt, thereSince_->elapsed()};
      }
      Pause(static_cast<int>(std::min<qint64>(kRetryMs, left)));
    } else {
      Pause(kRetryMs);
    }
  }
}

void Station::WaitUntilGone() {
  TracedLooks looks(link_.Trace());
  while (!Interrupted()) {
    looks.Next();
    if (!Present() || !Opened()) break;
    try {
      link_.ReadVersion();
    } catch (const CliError& failure) {
      if (Interrupted()) break;
      // A converter that refuses the query is still there.
      if (failure.Status() != kExitRefused) {
        // Something that is not a converter's answer took its place.
        if (!link_.HungUp() && link_.HeardNoReply()) NoteThere();
        break;
      }
    }
    Pause(kRetryMs);
  }
  link_.Close();
}

}  // namespace cli
