#pragma once

// A serial port with the meanings of the Windows comm calls the serial
// component was designed against (CreateFile, SetupComm, Get/SetCommState,
// SetCommTimeouts, SetCommMask, WaitCommEvent, ClearCommError, ReadFile,
// WriteFile, GetOverlappedResult, PurgeComm), on a Linux terminal device.
// Reads, writes and line-event waits are overlapped: they either complete at
// once or stay pending in a CommOverlapped, which a thread waits on with
// CommWaitForMultiple; the waiting thread's wake-ups move the work on.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/CommError.h"
#include "platform/CommEvent.h"
#include "platform/CommLine.h"
#include "platform/CommParmrk.h"

struct termios;

namespace platform {

// Purge flags.
inline constexpr uint32_t kPurgeTxAbort = 0x0001;
inline constexpr uint32_t kPurgeRxAbort = 0x0002;
inline constexpr uint32_t kPurgeTxClear = 0x0004;
inline constexpr uint32_t kPurgeRxClear = 0x0008;

// Line events.
inline constexpr uint32_t kEvRxChar = 0x0001;
inline constexpr uint32_t kEvCts = 0x0008;
inline constexpr uint32_t kEvDsr = 0x0010;
inline constexpr uint32_t kEvRlsd = 0x0020;
inline constexpr uint32_t kEvBreak = 0x0040;
inline constexpr uint32_t kEvErr = 0x0080;
inline constexpr uint32_t kEvRing = 0x0100;

// Communication error flags.
inline constexpr uint32_t kCeRxOver = 0x0001;
inline constexpr uint32_t kCeOverrun = 0x0002;
inline constexpr uint32_t kCeRxParity = 0x0004;
inline constexpr uint32_t kCeFrame = 0x0008;
inline constexpr uint32_t kCeBreak = 0x0010;

// Bits of CommDcb::Flags.
inline constexpr uint32_t kDcbBinary = 0x0001;
inline constexpr uint32_t kDcbParity = 0x0002;
inline constexpr uint32_t kDcbOutxCtsFlow = 0x0004;
inline constexpr uint32_t kDcbOutxDsrFlow = 0x0008;
inline constexpr uint32_t kDcbDtrControlMask = 0x0030;
inline constexpr uint32_t kDcbDtrControlEnable = 0x0010;
inline constexpr uint32_t kDcbDtrControlHandshake = 0x0020;
inline constexpr uint32_t kDcbDsrSensitivity = 0x0040;
inline constexpr uint32_t kDcbTxContinueOnXoff = 0x0080;
inline constexpr uint32_t kDcbOutX = 0x0100;
inline constexpr uint32_t kDcbInX = 0x0200;
inline constexpr uint32_t kDcbErrorChar = 0x0400;
inline constexpr uint32_t kDcbNull = 0x0800;
inline constexpr uint32_t kDcbRtsControlMask = 0x3000;
inline constexpr uint32_t kDcbRtsControlEnable = 0x1000;
inline constexpr uint32_t kDcbRtsControlHandshake = 0x2000;
inline constexpr uint32_t kDcbRtsControlToggle = 0x3000;
inline constexpr uint32_t kDcbAbortOnError = 0x4000;

// Parity values.
inline constexpr uint8_t kNoParity = 0, kOddParity = 1, kEvenParity = 2, kMarkParity = 3,
                         kSpaceParity = 4;
// Stop-bit values.
inline constexpr uint8_t kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2;

// The line settings record.
struct CommDcb {
  uint32_t BaudRate = 9600;
  uint32_t Flags = kDcbBinary;
  uint16_t wReserved = 0;
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 8;
  uint8_t Parity = kNoParity;
  uint8_t StopBits = kOneStopBit;
  char XonChar = 0x11;
  char XoffChar = 0x13;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  uint16_t wReserved1 = 0;
};

inline constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

// The time-outs record, in milliseconds.
struct CommTimeouts {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};

// How an overlapped call started.
enum class CommIo { Completed, Pending, Failed };

// The error of the calling thread's last failed comm call (GetLastError).
CommErrorInfo CommLastError();

class CommPort;

// One overlapped operation (read, write or line-event wait) of one thread.
// It is signalled while no operation is pending, like the manual-reset event
// of a fresh OVERLAPPED record.
class CommOverlapped : public CommWaitable {
 public:
  CommOverlapped() = default;
  CommOverlapped(const CommOverlapped&) = delete;
  CommOverlapped& operator=(const CommOverlapped&) = delete;

  PollRequest PrepareWait() override;
  void Advance(short revents, int64_t nowNs) override;
  bool IsSignalled() override;

 private:
  friend class CommPort;
  enum class Kind { None, Read, Write, Status };

  Kind kind_ = Kind::None;
  CommPort* port_ = nullptr;
  bool done_ = true;
  CommErrorInfo error_;
  uint32_t count_ = 0;
  uint32_t size_ = 0;
  uint8_t* readBuffer_ = nullptr;
  const uint8_t* writeBuffer_ = nullptr;
  uint32_t* maskOut_ = nullptr;
  bool completeOnAnyData_ = false;
  int64_t intervalNs_ = -1;       // read: quiet time after a byte that completes it
  int64_t lastByteNs_ = -1;       // read: when bytes last came
  int64_t totalDeadlineNs_ = -1;  // read/write total time-out
  int64_t nextPollNs_ = -1;       // status: next line snapshot
  uint64_t abortGeneration_ = 0;
};

class CommPort {
 public:
  // Opens the device a port name stands for (CommNames.h) with
  // O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC. A terminal is locked (flock and
  // TIOCEXCL) and its settings saved; anything else opens but is not a
  // comm device (IsCommDevice). Null with *error filled on failure.
  static std::unique_ptr<CommPort> Open(const std::string& name, CommErrorInfo* error);

  // Restores the saved settings, releases the locks and closes.
  ~CommPort();
  CommPort(const CommPort&) = delete;
  CommPort& operator=(const CommPort&) = delete;

  int Handle() const { return fd_; }
  const std::string& DevicePath() const { return path_; }
  // GetFileType(...) == FILE_TYPE_CHAR: the device is a terminal.
  bool IsCommDevice() const { return isTerminal_; }

  // The driver keeps its own queues; the sizes are only checked.
  bool SetupComm(uint32_t inQueue, uint32_t outQueue);

  bool PurgeComm(uint32_t flags);
  bool GetCommState(CommDcb* dcb);
  bool SetCommState(const CommDcb& dcb);
  bool GetCommTimeouts(CommTimeouts* timeouts);
  bool SetCommTimeouts(const CommTimeouts& timeouts);
  bool SetCommMask(uint32_t mask);
  // Returns and clears the error flags gathered since the last call.
  bool ClearCommError(uint32_t* errors);

  CommIo ReadFile(uint8_t* buffer, uint32_t size, uint32_t* count, CommOverlapped* ov);
  CommIo WriteFile(const uint8_t* buffer, uint32_t size, uint32_t* count, CommOverlapped* ov);
  CommIo WaitCommEvent(uint32_t* mask, CommOverlapped* ov);
  // The outcome of a finished operation; with wait, waits for it first.
  bool GetOverlappedResult(CommOverlapped* ov, uint32_t* count, bool wait);

 private:
  friend class CommOverlapped;
  CommPort(int fd, std::string path, bool isTerminal);
  bool Fail(CommErrorInfo error);
  bool RequireTerminal();

  void AdvanceRead(CommOverlapped& ov, short revents, int64_t nowNs);
  void AdvanceWrite(CommOverlapped& ov, short revents, int64_t nowNs);
  void AdvanceStatus(CommOverlapped& ov, short revents, int64_t nowNs);
  bool ReadFinished(CommOverlapped& ov, int64_t nowNs) const;
  bool TakeStatusEvents(CommOverlapped& ov);
  void PullBytes(CommOverlapped& ov, int64_t nowNs, bool afterWakeUp = false);
  bool FillStage(CommErrorInfo* failure, bool afterWakeUp);
  void PushBytes(CommOverlapped& ov);
  void TakeLineSnapshot();
  void NoteLineChange(uint32_t events, uint32_t errors);
  ParmrkDecoder::Options DecoderOptions() const;
  // Parity checking marks errors and breaks in the data (PARMRK).
  bool ErrorsMarkedInBand() const;
  void ApplyModemLines(const CommDcb& dcb);

  int fd_ = -1;
  std::string path_;
  bool isTerminal_ = false;
  bool locked_ = false;
  std::unique_ptr<::termios> saved_;  // the settings found at open

  mutable std::mutex settingsMutex_;
  CommDcb dcb_;
  CommTimeouts timeouts_;

  std::mutex eventsMutex_;
  uint32_t eventMask_ = 0;
  uint32_t pendingEvents_ = 0;
  uint32_t errorFlags_ = 0;
  std::unique_ptr<CommLineBackend> lines_;
  CommLineSnapshot lastLines_;
  bool linesWatched_ = false;
  int linePollMs_ = 0;

  // Read side only: bytes are taken from the driver in one read() of all it
  // has and handed to reads from here (a pending read leaves the stage
  // empty). The stage is larger than the line discipline's 4096-byte buffer,
  // so that a read which comes back short proves the driver empty and the
  // thread goes back to its wait instead of reading again to find nothing.
  static constexpr size_t kStageSize = 65536;
  std::unique_ptr<uint8_t[]> stage_;
  size_t stageBegin_ = 0, stageEnd_ = 0;
  bool driverDrained_ = false;
  ParmrkDecoder decoder_;
  std::atomic<bool> rxClearRequested_{false};
  std::atomic<bool> hungUp_{false};
  std::atomic<uint64_t> rxAbortGeneration_{0};
  std::atomic<uint64_t> txAbortGeneration_{0};
};

}  // namespace platform
