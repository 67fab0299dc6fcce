#pragma once

// A serial port with the meanings of the Windows comm calls the serial
// component was designed against (CreateFile, SetupComm, Get/SetCommState,
// SetCommTimeouts, SetCommMask, WaitCommEvent, ClearCommError, ReadFile,
// WriteFile, GetOverlappedResult, PurgeComm), on a Linux terminal device.
//
// Overlapped operations
//   ReadFile, WriteFile and WaitCommEvent either complete at once or stay
//   pending in a CommOverlapped record. A thread waits for the record with
//   CommWaitForMultiple (CommEvent.h), together with other records and
//   events; the waiting thread's wake-ups move the operation on, so a
//   pending operation makes progress only while its owner waits on it.
//   GetOverlappedResult then collects the outcome.
//
// Errors
//   A call that fails returns false (CommIo::Failed, a null port) and leaves
//   its error in CommLastError(), which is kept per thread like GetLastError
//   and holds the CommError value with the reason in words (CommError.h).
//   Errors every call can give:
//     InvalidHandle     the port has been closed under the call
//     NotACommHandle    the device opened is not a terminal (only Open and
//                       IsCommDevice work on such a port)
//   and, where a call says so: InvalidParameter (a value the call or the
//   driver cannot take), IoPending (the operation is still running: the
//   normal result of starting one), OperationAborted (a purge ended it),
//   HangUp (the far side has gone: read 0, EIO, POLLHUP/POLLERR), and the
//   errno of a failed system call mapped by MapErrno.
//
// Threads
//   One CommPort is shared by the threads of one serial component: a reading
//   thread, a writing thread and the thread that owns the port.
//   - Any thread, at any time, also while operations are pending:
//     SetupComm, PurgeComm, Get/SetCommState, Get/SetCommTimeouts, Handle,
//     DevicePath, IsCommDevice. Settings changed while a read is pending
//     apply to the bytes that read takes from then on.
//   - One reading thread at a time: ReadFile.
//   - One writing thread at a time: WriteFile.
//   - One line-watching thread at a time (the reading thread in the serial
//     component): SetCommMask, WaitCommEvent, ClearCommError.
//   - A CommOverlapped record belongs to the thread that started its
//     operation; only that thread waits on it and calls GetOverlappedResult.
//   - Destroy the port only after every thread that uses it has ended.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/CommError.h"
#include "platform/CommEvent.h"
#include "platform/CommLine.h"
#include "platform/CommParmrk.h"
#include "platform/CommTypes.h"

struct termios;

namespace platform {

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
  // Starts an operation of `kind` on `port`: nothing done, moved or failed yet.
  void Begin(Kind kind, CommPort* port);

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
  // O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC. A terminal is locked against
  // other openers (flock, which holds against root too, and TIOCEXCL) and
  // its settings are saved for the close; anything else opens but is no
  // comm device (IsCommDevice false). Returns the port, or null with the
  // error in *error (when given) and in CommLastError(): NoSuchDevice (the
  // name leads to nothing), InUse (another program has the device open,
  // locked or not), AccessDenied (with the device's group in the reason),
  // HangUp (nothing behind the device), or another mapped errno.
  // Any thread.
  static std::unique_ptr<CommPort> Open(const std::string& name, CommErrorInfo* error);

  // Restores the settings found at open, releases the locks and closes the
  // device. Only once no other thread uses the port.
  ~CommPort();
  CommPort(const CommPort&) = delete;
  CommPort& operator=(const CommPort&) = delete;

  // The descriptor (for diagnostics and tests) and the device path the
  // name resolved to. Never fail; any thread.
  int Handle() const { return fd_; }
  const std::string& DevicePath() const { return path_; }
  // GetFileType(...) == FILE_TYPE_CHAR: true when the device is a terminal.
  // Never fails; any thread.
  bool IsCommDevice() const { return isTerminal_; }

  // SetupComm: the driver keeps queues of its own, so the sizes are only
  // checked. Returns true; fails with InvalidParameter for a size of 0.
  // Any thread.
  bool SetupComm(uint32_t inQueue, uint32_t outQueue);

  // PurgeComm: kPurgeRxAbort / kPurgeTxAbort end the pending read / write
  // with OperationAborted; kPurgeRxClear / kPurgeTxClear discard what the
  // driver holds in that direction (and, for receiving, what the port has
  // taken from the driver but not yet handed to a read). Returns true; fails
  // with InvalidParameter for any other flag, or with the errno of tcflush.
  // Any thread.
  bool PurgeComm(uint32_t flags);

  // GetCommState: copies the line settings in force into *dcb: the last
  // record set, or the one that describes the settings found at open.
  // Returns true. Any thread.
  bool GetCommState(CommDcb* dcb);
  // SetCommState: applies a line settings record (CommDcbTermios.h says how
  // each field becomes a driver setting), the rate with everything else in
  // one driver call, then DTR and RTS. Returns true; fails with
  // InvalidParameter for a record ValidDcb refuses, or with the driver's
  // error, and then the previous settings stay in force. A device without
  // modem lines (a pseudo-terminal) takes the record all the same.
  // Any thread.
  bool SetCommState(const CommDcb& dcb);

  // GetCommTimeouts / SetCommTimeouts: the time-outs record, in ms. It
  // applies to reads and writes started after the call. Return true.
  // Any thread.
  bool GetCommTimeouts(CommTimeouts* timeouts);
  bool SetCommTimeouts(const CommTimeouts& timeouts);

  // SetCommMask: the line events (kEv*) WaitCommEvent reports; events
  // outside the mask that are still unreported are dropped. The first call
  // takes the first look at the modem lines and counters, against which
  // later changes count. Returns true. The line-watching thread.
  bool SetCommMask(uint32_t mask);
  // ClearCommError: takes a fresh look at the line, then returns in *errors
  // and clears the error flags (kCe*) gathered since the last call, from
  // the driver's counters and from errors marked in the data. Returns true.
  // The line-watching thread.
  bool ClearCommError(uint32_t* errors);

  // ReadFile: reads up to `size` bytes into `buffer` with the time-outs in
  // force (COMMTIMEOUTS rules: with an interval time-out and no totals, the
  // read waits without limit for its first byte and completes when the line
  // has been quiet that long or the buffer is full; {MAXDWORD, 0, 0}
  // completes with the first bytes that come). With parity checking on,
  // errors and breaks marked in the data are taken out (CommParmrk.h) and
  // reported as line events and error flags.
  // Returns Completed with *count set (bytes were waiting), Pending (the
  // buffer must stay valid until the record is signalled), or Failed:
  // HangUp once the far side has gone (bytes taken before are delivered
  // first), or a mapped errno. A pending read ends with OperationAborted
  // after PurgeComm(kPurgeRxAbort). The reading thread.
  CommIo ReadFile(uint8_t* buffer, uint32_t size, uint32_t* count, CommOverlapped* ov);
  // WriteFile: writes `size` bytes; what the driver cannot take at once is
  // written as it drains. Returns Completed with *count set, Pending (the
  // buffer must stay valid until the record is signalled), or Failed with a
  // mapped errno (HangUp when the far side has gone). A total write
  // time-out ends the write with the bytes written so far; a pending write
  // ends with OperationAborted after PurgeComm(kPurgeTxAbort).
  // The writing thread.
  CommIo WriteFile(const uint8_t* buffer, uint32_t size, uint32_t* count, CommOverlapped* ov);
  // WaitCommEvent: waits for a line event of the mask and stores the events
  // that came in *mask (which must stay valid while the wait is pending).
  // Returns Completed when events were waiting, Pending, or Failed with
  // InvalidParameter when the mask is 0. A device without modem lines or
  // counters (a pseudo-terminal) reports only errors marked in the data;
  // that is no failure. The line-watching thread.
  CommIo WaitCommEvent(uint32_t* mask, CommOverlapped* ov);
  // GetOverlappedResult: the outcome of the operation of `ov`; with `wait`,
  // first waits for it without limit (so only for an operation known to
  // end). Returns true with *count set (bytes moved; 0 for a record that
  // never started an operation); false with IoPending when it is still
  // running, or with the operation's own error (*count then holds the bytes
  // moved before it). The thread that started the operation.
  bool GetOverlappedResult(CommOverlapped* ov, uint32_t* count, bool wait);

 private:
  friend class CommOverlapped;
  CommPort(int fd, std::string path, bool isTerminal);
  bool Fail(CommErrorInfo error);
  bool RequireTerminal();
  // What ReadFile, WriteFile and WaitCommEvent return once started.
  CommIo StartResult(CommOverlapped& ov, uint32_t* count);
  // Ends a pending read or write that a purge of its direction (a new
  // `generation`) or a closed descriptor has cut off; false when neither did.
  bool EndedByPurgeOrClose(CommOverlapped& ov, short revents, uint64_t generation,
                           const char* what);

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
