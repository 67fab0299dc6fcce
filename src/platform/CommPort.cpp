#include "platform/CommPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/CommDcbTermios.h"
#include "platform/CommNames.h"
#include "platform/CommTermios2.h"
#include "platform/PortHolders.h"

namespace platform {

namespace {

thread_local CommErrorInfo lastError;

void SetLastError(CommErrorInfo error) {
  lastError = std::move(error);
}

CommErrorInfo ErrorOf(CommError code, const std::string& reason) {
  CommErrorInfo info;
  info.code = code;
  info.reason = reason;
  return info;
}

int64_t MillisToNs(uint64_t ms) {
  return static_cast<int64_t>(ms) * 1000000;
}

int64_t EarliestDeadline(int64_t a, int64_t b) {
  if (a < 0) return b;
  if (b < 0) return a;
  return a < b ? a : b;
}

}  // namespace

CommErrorInfo CommLastError() {
  return lastError;
}

// ---------------------------------------------------------------- open/close

CommPort::CommPort(int fd, std::string path, bool isTerminal)
    : fd_(fd),
      path_(std::move(path)),
      isTerminal_(isTerminal),
      stage_(std::make_unique<uint8_t[]>(kStageSize)) {}

std::unique_ptr<CommPort> CommPort::Open(const std::string& name, CommErrorInfo* error) {
  auto fail = [&](CommErrorInfo info) {
    SetLastError(info);
    if (error) *error = std::move(info);
    return nullptr;
  };
  const std::string path = ResolveCommName(name);
  if (path.empty()) return fail(ErrorOf(CommError::NoSuchDevice, name + ": no such device"));

  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail(MapErrno(errno, path));
  if (!isatty(fd)) return std::unique_ptr<CommPort>(new CommPort(fd, path, false));
  // The locks below keep out only later openers; a program that opened the
  // device before us without locking would share the line unnoticed.
  if (!FindPortHolders(path).empty()) {
    ::close(fd);
    return fail(MapErrno(EBUSY, path));
  }

  // flock holds against root as well; TIOCEXCL keeps out programs that do
  // not lock.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
    const int err = errno;
    ::close(fd);
    return fail(MapErrno(err, path));
  }
  auto saved = std::make_unique<termios>();
  if (tcgetattr(fd, saved.get()) != 0) {
    const int err = errno;
    ioctl(fd, TIOCNXCL);
    ::close(fd);
    return fail(MapErrno(err, path));
  }
  std::unique_ptr<CommPort> port(new CommPort(fd, path, true));
  port->locked_ = true;
  uint32_t baud = GetDriverBaudRate(fd);
  port->dcb_ = DcbFromTermios(*saved, baud ? baud : 9600);
  port->saved_ = std::move(saved);
  port->lines_ = MakeLineBackend(fd);
  return port;
}

CommPort::~CommPort() {
  if (fd_ < 0) return;
  if (isTerminal_) {
    if (saved_) tcsetattr(fd_, TCSANOW, saved_.get());
    if (locked_) {
      ioctl(fd_, TIOCNXCL);
      flock(fd_, LOCK_UN);
    }
  }
  lines_.reset();
  ::close(fd_);
}

bool CommPort::Fail(CommErrorInfo error) {
  SetLastError(std::move(error));
  return false;
}

bool CommPort::RequireTerminal() {
  if (fd_ < 0) return Fail(ErrorOf(CommError::InvalidHandle, path_ + ": port closed"));
  if (!isTerminal_) return Fail(MapErrno(ENOTTY, path_));
  return true;
}

// ------------------------------------------------------------------ settings

bool CommPort::SetupComm(uint32_t inQueue, uint32_t outQueue) {
  if (!RequireTerminal()) return false;
  if (inQueue == 0 || outQueue == 0) return Fail(MapErrno(EINVAL, path_));
  return true;
}

bool CommPort::PurgeComm(uint32_t flags) {
  if (!RequireTerminal()) return false;
  if (flags & ~(kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear))
    return Fail(MapErrno(EINVAL, path_));
  if (flags & kPurgeTxAbort) ++txAbortGeneration_;
  if (flags & kPurgeRxAbort) ++rxAbortGeneration_;
  const bool tx = flags & kPurgeTxClear, rx = flags & kPurgeRxClear;
  if (rx) rxClearRequested_ = true;
  if ((tx || rx) && tcflush(fd_, tx && rx ? TCIOFLUSH : tx ? TCOFLUSH : TCIFLUSH) != 0)
    return Fail(MapErrno(errno, path_));
  return true;
}

bool CommPort::GetCommState(CommDcb* dcb) {
  if (!RequireTerminal()) return false;
  std::lock_guard<std::mutex> lock(settingsMutex_);
  *dcb = dcb_;
  return true;
}

void CommPort::ApplyModemLines(const CommDcb& dcb) {
  ModemLineChange lines = ModemLinesFor(dcb);
  // A pseudo-terminal has no modem lines and says so (ENOTTY/EINVAL); the
  // settings stand all the same.
  if (lines.raise) ioctl(fd_, TIOCMBIS, &lines.raise);
  if (lines.lower) ioctl(fd_, TIOCMBIC, &lines.lower);
}

bool CommPort::SetCommState(const CommDcb& dcb) {
  if (!RequireTerminal()) return false;
  if (!ValidDcb(dcb)) return Fail(MapErrno(EINVAL, path_));
  termios t{};
  if (tcgetattr(fd_, &t) != 0) return Fail(MapErrno(errno, path_));
  ApplyDcbToTermios(dcb, t);
  // One call sets the rate with everything else: a refusal leaves the port
  // as it was, never with new settings at an old rate.
  speed_t speed = B0;
  bool applied = false;
  if (StandardSpeed(dcb.BaudRate, &speed)) {
    cfsetspeed(&t, speed);
    applied = tcsetattr(fd_, TCSANOW, &t) == 0;
  } else {
    applied = SetTermiosWithCustomRate(
        fd_, {t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag, t.c_cc, sizeof t.c_cc}, dcb.BaudRate);
  }
  if (!applied) return Fail(MapErrno(errno, path_));
  ApplyModemLines(dcb);
  std::lock_guard<std::mutex> lock(settingsMutex_);
  dcb_ = dcb;
  return true;
}

bool CommPort::GetCommTimeouts(CommTimeouts* timeouts) {
  if (!RequireTerminal()) return false;
  std::lock_guard<std::mutex> lock(settingsMutex_);
  *timeouts = timeouts_;
  return true;
}

bool CommPort::SetCommTimeouts(const CommTimeouts& timeouts) {
  if (!RequireTerminal()) return false;
  std::lock_guard<std::mutex> lock(settingsMutex_);
  timeouts_ = timeouts;
  return true;
}

bool CommPort::ErrorsMarkedInBand() const {
  std::lock_guard<std::mutex> lock(settingsMutex_);
  return dcb_.Flags & kDcbParity;
}

ParmrkDecoder::Options CommPort::DecoderOptions() const {
  std::lock_guard<std::mutex> lock(settingsMutex_);
  ParmrkDecoder::Options options;
  options.marking = dcb_.Flags & kDcbParity;
  options.replaceErrors = dcb_.Flags & kDcbErrorChar;
  options.errorChar = static_cast<uint8_t>(dcb_.ErrorChar);
  options.discardNull = dcb_.Flags & kDcbNull;
  // The driver marks parity and framing errors alike; without parity on the
  // line a marked byte can only be a framing error.
  options.markedErrorFlag = dcb_.Parity == kNoParity ? kCeFrame : kCeRxParity;
  return options;
}

// ---------------------------------------------------------- events and errors

bool CommPort::SetCommMask(uint32_t mask) {
  if (!RequireTerminal()) return false;
  std::lock_guard<std::mutex> lock(eventsMutex_);
  eventMask_ = mask;
  pendingEvents_ &= mask;
  if (!linesWatched_ && lines_) {
    lastLines_ = lines_->Snapshot();
    linePollMs_ = lines_->PollIntervalMs();
    linesWatched_ = true;
  }
  return true;
}

void CommPort::NoteLineChange(uint32_t events, uint32_t errors) {
  std::lock_guard<std::mutex> lock(eventsMutex_);
  pendingEvents_ |= events & eventMask_;
  errorFlags_ |= errors;
}

void CommPort::TakeLineSnapshot() {
  if (!lines_ || !linesWatched_) return;
  const CommLineSnapshot now = lines_->Snapshot();
  const CommLineChange change = CompareLineSnapshots(lastLines_, now, ErrorsMarkedInBand());
  lastLines_ = now;
  if (change.events || change.errors) NoteLineChange(change.events, change.errors);
}

bool CommPort::ClearCommError(uint32_t* errors) {
  if (!RequireTerminal()) return false;
  TakeLineSnapshot();
  std::lock_guard<std::mutex> lock(eventsMutex_);
  *errors = errorFlags_;
  errorFlags_ = 0;
  return true;
}

bool CommPort::TakeStatusEvents(CommOverlapped& ov) {
  std::lock_guard<std::mutex> lock(eventsMutex_);
  const uint32_t events = pendingEvents_ & eventMask_;
  if (events == 0) return false;
  pendingEvents_ &= ~events;
  if (ov.maskOut_) *ov.maskOut_ = events;
  ov.done_ = true;
  return true;
}

CommIo CommPort::WaitCommEvent(uint32_t* mask, CommOverlapped* ov) {
  if (!RequireTerminal()) return CommIo::Failed;
  {
    std::lock_guard<std::mutex> lock(eventsMutex_);
    if (eventMask_ == 0) {
      Fail(MapErrno(EINVAL, path_));
      return CommIo::Failed;
    }
  }
  ov->Begin(CommOverlapped::Kind::Status, this);
  ov->maskOut_ = mask;
  ov->nextPollNs_ = linePollMs_ > 0 ? CommNowNs() + MillisToNs(linePollMs_) : -1;
  TakeStatusEvents(*ov);
  return StartResult(*ov, nullptr);
}

void CommPort::AdvanceStatus(CommOverlapped& ov, short revents, int64_t nowNs) {
  if (revents & POLLIN) {
    lines_->ConsumeWake();
    TakeLineSnapshot();
  }
  if (ov.nextPollNs_ >= 0 && nowNs >= ov.nextPollNs_) {
    TakeLineSnapshot();
    ov.nextPollNs_ = nowNs + MillisToNs(linePollMs_);
  }
  TakeStatusEvents(ov);
}

// --------------------------------------------------------------------- reads

CommIo CommPort::ReadFile(uint8_t* buffer, uint32_t size, uint32_t* count, CommOverlapped* ov) {
  if (!RequireTerminal()) return CommIo::Failed;
  CommTimeouts t;
  {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    t = timeouts_;
  }
  const int64_t now = CommNowNs();
  ov->Begin(CommOverlapped::Kind::Read, this);
  ov->size_ = size;
  ov->readBuffer_ = buffer;
  ov->abortGeneration_ = rxAbortGeneration_;
  if (t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
      t.ReadTotalTimeoutConstant == 0) {
    // "Return at once with what is there": an overlapped read of that kind
    // completes with the first bytes that come.
    ov->completeOnAnyData_ = true;
  } else if (t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == kMaxDword &&
             t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != kMaxDword) {
    ov->completeOnAnyData_ = true;
    ov->totalDeadlineNs_ = now + MillisToNs(t.ReadTotalTimeoutConstant);
  } else {
    if (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != kMaxDword)
      ov->intervalNs_ = MillisToNs(t.ReadIntervalTimeout);
    const uint64_t total =
        uint64_t{t.ReadTotalTimeoutMultiplier} * size + t.ReadTotalTimeoutConstant;
    if (total != 0) ov->totalDeadlineNs_ = now + MillisToNs(total);
  }
  if (size == 0) ov->done_ = true;
  PullBytes(*ov, now);
  if (!ov->done_ && ReadFinished(*ov, now)) ov->done_ = true;
  return StartResult(*ov, count);
}

bool CommPort::FillStage(CommErrorInfo* failure, bool afterWakeUp) {
  for (;;) {
    if (hungUp_) {
      *failure = MapErrno(EIO, path_);
      return false;
    }
    // A short read emptied the driver's buffer: a further read now would
    // only say "nothing there", so leave it to the next wake-up.
    if (driverDrained_ && !afterWakeUp) return false;
    const ssize_t n = ::read(fd_, stage_.get(), kStageSize);
    if (n > 0) {
      stageBegin_ = 0;
      stageEnd_ = static_cast<size_t>(n);
      driverDrained_ = stageEnd_ < kStageSize;
      afterWakeUp = false;
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      driverDrained_ = true;
      return false;
    }
    // A terminal reads 0 or fails with EIO once the far side has gone.
    *failure = MapErrno(n == 0 ? EIO : errno, path_);
    if (failure->code == CommError::HangUp) hungUp_ = true;
    return false;
  }
}

void CommPort::PullBytes(CommOverlapped& ov, int64_t nowNs, bool afterWakeUp) {
  if (rxClearRequested_.exchange(false)) {
    decoder_.Reset();
    stageBegin_ = stageEnd_ = 0;
    driverDrained_ = false;
  }
  const ParmrkDecoder::Options options = DecoderOptions();
  while (!ov.done_ && ov.count_ < ov.size_) {
    if (stageBegin_ == stageEnd_) {
      CommErrorInfo failure;
      const bool filled = FillStage(&failure, afterWakeUp);
      afterWakeUp = false;
      if (!filled) {
        if (failure.code == CommError::None) return;  // nothing more for now
        // Bytes already taken are delivered first; the next read reports the failure.
        if (ov.count_ == 0) ov.error_ = std::move(failure);
        ov.done_ = true;
        return;
      }
    }
    // Decoding can make more bytes than it takes (a held FF and the byte
    // after it); what does not fit stays in the stage for the next read.
    const ParmrkDecoder::Result r =
        decoder_.Decode(stage_.get() + stageBegin_, stageEnd_ - stageBegin_,
                        ov.readBuffer_ + ov.count_, ov.size_ - ov.count_, options);
    stageBegin_ += r.consumed;
    if (r.errors || r.events) NoteLineChange(r.events, r.errors);
    if (r.length > 0) {
      ov.count_ += static_cast<uint32_t>(r.length);
      ov.lastByteNs_ = nowNs;
    }
  }
}

bool CommPort::ReadFinished(CommOverlapped& ov, int64_t nowNs) const {
  if (ov.done_ || ov.count_ == ov.size_) return true;
  if (ov.completeOnAnyData_ && ov.count_ > 0) return true;
  if (ov.intervalNs_ >= 0 && ov.count_ > 0 && nowNs - ov.lastByteNs_ >= ov.intervalNs_) return true;
  return ov.totalDeadlineNs_ >= 0 && nowNs >= ov.totalDeadlineNs_;
}

void CommPort::AdvanceRead(CommOverlapped& ov, short revents, int64_t nowNs) {
  if (EndedByPurgeOrClose(ov, revents, rxAbortGeneration_, "read")) return;
  if (revents & (POLLIN | POLLHUP | POLLERR)) PullBytes(ov, nowNs, true);
  if (ReadFinished(ov, nowNs)) ov.done_ = true;
}

// -------------------------------------------------------------------- writes

CommIo CommPort::WriteFile(const uint8_t* buffer, uint32_t size, uint32_t* count,
                           CommOverlapped* ov) {
  if (!RequireTerminal()) return CommIo::Failed;
  CommTimeouts t;
  {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    t = timeouts_;
  }
  ov->Begin(CommOverlapped::Kind::Write, this);
  ov->size_ = size;
  ov->writeBuffer_ = buffer;
  ov->abortGeneration_ = txAbortGeneration_;
  const uint64_t total =
      uint64_t{t.WriteTotalTimeoutMultiplier} * size + t.WriteTotalTimeoutConstant;
  if (total != 0) ov->totalDeadlineNs_ = CommNowNs() + MillisToNs(total);
  PushBytes(*ov);
  return StartResult(*ov, count);
}

void CommPort::PushBytes(CommOverlapped& ov) {
  while (ov.count_ < ov.size_) {
    const ssize_t n = ::write(fd_, ov.writeBuffer_ + ov.count_, ov.size_ - ov.count_);
    if (n > 0) {
      ov.count_ += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    ov.error_ = MapErrno(n == 0 ? EIO : errno, path_);
    break;
  }
  ov.done_ = true;
}

void CommPort::AdvanceWrite(CommOverlapped& ov, short revents, int64_t nowNs) {
  if (EndedByPurgeOrClose(ov, revents, txAbortGeneration_, "write")) return;
  if (revents & (POLLOUT | POLLHUP | POLLERR)) PushBytes(ov);
  // A write time-out ends the write with what has gone out.
  if (!ov.done_ && ov.totalDeadlineNs_ >= 0 && nowNs >= ov.totalDeadlineNs_) ov.done_ = true;
}

// ------------------------------------------------------------------- results

CommIo CommPort::StartResult(CommOverlapped& ov, uint32_t* count) {
  if (!ov.done_) {
    SetLastError(ErrorOf(CommError::IoPending, {}));
    return CommIo::Pending;
  }
  if (ov.error_.code != CommError::None) {
    Fail(ov.error_);
    return CommIo::Failed;
  }
  if (count) *count = ov.count_;
  return CommIo::Completed;
}

bool CommPort::EndedByPurgeOrClose(CommOverlapped& ov, short revents, uint64_t generation,
                                   const char* what) {
  if (ov.abortGeneration_ != generation) {
    ov.error_ = ErrorOf(CommError::OperationAborted, path_ + ": " + what + " aborted");
  } else if (revents & POLLNVAL) {
    ov.error_ = ErrorOf(CommError::InvalidHandle, path_ + ": port closed");
  } else {
    return false;
  }
  ov.done_ = true;
  return true;
}

bool CommPort::GetOverlappedResult(CommOverlapped* ov, uint32_t* count, bool wait) {
  if (ov->kind_ == CommOverlapped::Kind::None) {
    *count = 0;
    return true;
  }
  if (wait && !ov->IsSignalled() && CommWaitForMultiple({ov}) == kCommWaitFailed)
    return Fail(MapErrno(errno, path_));
  if (!ov->IsSignalled()) return Fail(ErrorOf(CommError::IoPending, path_ + ": incomplete"));
  *count = ov->count_;
  if (ov->error_.code != CommError::None) return Fail(ov->error_);
  return true;
}

// ---------------------------------------------------------------- overlapped

void CommOverlapped::Begin(Kind kind, CommPort* port) {
  kind_ = kind;
  port_ = port;
  done_ = false;
  error_ = {};
  count_ = 0;
  size_ = 0;
  readBuffer_ = nullptr;
  writeBuffer_ = nullptr;
  maskOut_ = nullptr;
  completeOnAnyData_ = false;
  intervalNs_ = -1;
  lastByteNs_ = -1;
  totalDeadlineNs_ = -1;
  nextPollNs_ = -1;
  abortGeneration_ = 0;
}

CommWaitable::PollRequest CommOverlapped::PrepareWait() {
  PollRequest request;
  if (done_ || port_ == nullptr) return request;
  switch (kind_) {
    case Kind::Read:
      request.fd = port_->fd_;
      request.events = POLLIN;
      if (intervalNs_ >= 0 && count_ > 0) request.deadlineNs = lastByteNs_ + intervalNs_;
      request.deadlineNs = EarliestDeadline(request.deadlineNs, totalDeadlineNs_);
      break;
    case Kind::Write:
      request.fd = port_->fd_;
      request.events = POLLOUT;
      request.deadlineNs = totalDeadlineNs_;
      break;
    case Kind::Status:
      request.fd = port_->lines_ ? port_->lines_->WakeFd() : -1;
      request.events = POLLIN;
      request.deadlineNs = nextPollNs_;
      break;
    case Kind::None:
      break;
  }
  return request;
}

void CommOverlapped::Advance(short revents, int64_t nowNs) {
  if (done_ || port_ == nullptr) return;
  switch (kind_) {
    case Kind::Read:
      port_->AdvanceRead(*this, revents, nowNs);
      break;
    case Kind::Write:
      port_->AdvanceWrite(*this, revents, nowNs);
      break;
    case Kind::Status:
      port_->AdvanceStatus(*this, revents, nowNs);
      break;
    case Kind::None:
      break;
  }
}

bool CommOverlapped::IsSignalled() {
  if (done_) return true;
  // Errors the read side found in the data stream complete a line-event
  // wait of the same port.
  return kind_ == Kind::Status && port_->TakeStatusEvents(*this);
}

}  // namespace platform
