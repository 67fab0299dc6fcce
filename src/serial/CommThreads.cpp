#include "serial/CommThreads.h"

// ------------------------------------------------------------- CommThread

CommThread::~CommThread() {
  EndThread();
}

void CommThread::Create() {
  FThread = std::thread([this] { Run(); });
}

void CommThread::Resume() {
  std::lock_guard<std::mutex> lock(FMutex);
  FReleased = true;
  FChanged.notify_all();
}

bool CommThread::WaitFor(uint32_t milliseconds) {
  std::unique_lock<std::mutex> lock(FMutex);
  return FChanged.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [this] { return FFinished.load(); });
}

void CommThread::EndThread() {
  if (!FThread.joinable()) return;
  Resume();
  FThread.join();
}

void CommThread::Run() {
  {
    std::unique_lock<std::mutex> lock(FMutex);
    FChanged.wait(lock, [this] { return FReleased; });
  }
  // A refused priority leaves the thread at normal priority, which is fine.
  if (FPriority != platform::ThreadPriority::Normal) platform::SetCurrentThreadPriority(FPriority);
  Execute();
  std::lock_guard<std::mutex> lock(FMutex);
  FFinished = true;
  FChanged.notify_all();
}

bool CommThread::Post(uint32_t msg, uintptr_t wParam, uintptr_t lParam, CommBlock block,
                      bool wake) {
  if (NotifyWindow == nullptr) return false;
  return NotifyWindow->Post({msg, wParam, lParam, std::move(block), Connection}, wake);
}

void CommThread::RequestHangup() {
  Post(COMM_MSG_REQUEST_HANGUP);
}

void CommThread::HangupUnlessClosed() {
  if (platform::CommLastError().code != platform::CommError::InvalidHandle) RequestHangup();
}

// ------------------------------------------------------------- WriteQueue

bool WriteQueue::Post(Message message) {
  std::lock_guard<std::mutex> lock(FMutex);
  if (FClosed || FMessages.size() >= kCommQueueLimit) return false;
  FMessages.push_back(std::move(message));
  FInput.Set();
  return true;
}

std::optional<WriteQueue::Message> WriteQueue::Peek() {
  std::lock_guard<std::mutex> lock(FMutex);
  if (FMessages.empty()) {
    FInput.Reset();
    return std::nullopt;
  }
  Message message = std::move(FMessages.front());
  FMessages.pop_front();
  return message;
}

void WriteQueue::Close() {
  std::deque<Message> left;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FClosed = true;
    left.swap(FMessages);
  }
  // `left` frees the blocks that will never be written.
}

// ------------------------------------------------------------- TReadThread

uint32_t TReadThread::ModemBits(uint32_t eventMask) {
  uint32_t bits = 0;
  if (eventMask & platform::kEvCts) bits |= 0x01;
  if (eventMask & platform::kEvDsr) bits |= 0x02;
  if (eventMask & platform::kEvRing) bits |= 0x04;
  if (eventMask & platform::kEvRlsd) bits |= 0x08;
  if (eventMask & platform::kEvBreak) bits |= 0x10;
  return bits;
}

void TReadThread::Execute() {
  bool running = true;
  if (!ComHandle->SetCommMask(kWatchedEvents)) {
    RequestHangup();
    running = false;
  }
  running = running && ArmStatusWait() && ArmRead();
  while (running) {
    // The close event comes first: when it is set it wins over the others.
    switch (platform::CommWaitForMultiple({CloseEvent, &FStatusOverlapped, &FReadOverlapped},
                                          HoldTimeoutMs())) {
      case 0:
        running = false;
        break;
      case 1:
        running = HandleStatusEvent(true) && ArmStatusWait();
        break;
      case 2:
        running = CompleteRead() && ArmRead();
        break;
      case platform::kCommWaitTimeout:
        WakeForHeld();
        break;
      default:
        RequestHangup();
        running = false;
    }
  }
  WakeForHeld();
  ComHandle->PurgeComm(platform::kPurgeRxAbort | platform::kPurgeRxClear);
}

bool TReadThread::NotifyLineEvent(uint32_t msg, uint32_t lParam) {
  if (!Post(msg, 0, lParam)) return false;
  FHeld = 0;  // woken for them too
  return true;
}

void TReadThread::WakeForHeld() {
  if (FHeld == 0) return;
  FHeld = 0;
  NotifyWindow->Wake();
}

uint32_t TReadThread::HoldTimeoutMs() const {
  if (FHeld == 0) return platform::kCommInfinite;
  const int64_t leftNs = FHeldSinceNs + int64_t{kHoldMs} * 1000000 - platform::CommNowNs();
  return leftNs <= 0 ? 0 : static_cast<uint32_t>((leftNs + 999999) / 1000000);
}

bool TReadThread::ArmRead() {
  for (;;) {
    if (CloseEvent->IsSet()) return false;
    switch (ComHandle->ReadFile(FBuffer, kBufferSize, &FByteCount, &FReadOverlapped)) {
      case platform::CommIo::Completed:
        // Bytes were waiting: deliver them and read again at once.
        if (!DeliverBlock(FByteCount)) return false;
        continue;
      case platform::CommIo::Pending:
        return true;
      case platform::CommIo::Failed:
        HangupUnlessClosed();
        return false;
    }
  }
}

bool TReadThread::CompleteRead() {
  if (!ComHandle->GetOverlappedResult(&FReadOverlapped, &FByteCount, false)) {
    HangupUnlessClosed();
    return false;
  }
  return DeliverBlock(FByteCount);
}

bool TReadThread::DeliverBlock(uint32_t count) {
  // Only a total read time-out ends a read with no bytes; the next read is
  // simply started.
  if (count == 0) return true;
  const bool hold = count == kBufferSize && FHeld + 1 < kHeldBlocks;
  if (NotifyWindow == nullptr || !NotifyWindow->PostReceived(FBuffer, count, Connection, !hold)) {
    RequestHangup();
    return false;
  }
  if (!hold)
    FHeld = 0;
  else if (FHeld++ == 0)
    FHeldSinceNs = platform::CommNowNs();
  return true;
}

bool TReadThread::ArmStatusWait() {
  for (;;) {
    if (CloseEvent->IsSet()) return false;
    switch (ComHandle->WaitCommEvent(&FEventMask, &FStatusOverlapped)) {
      case platform::CommIo::Completed:
        if (!HandleStatusEvent(false)) return false;
        continue;
      case platform::CommIo::Pending:
        return true;
      case platform::CommIo::Failed:
        HangupUnlessClosed();
        return false;
    }
  }
}

bool TReadThread::HandleStatusEvent(bool collect) {
  bool result = false;
  if (collect) {
    uint32_t unused = 0;
    if (!ComHandle->GetOverlappedResult(&FStatusOverlapped, &unused, false)) {
      HangupUnlessClosed();
      return false;
    }
  }
  if (FEventMask & platform::kEvErr) {
    uint32_t errors = 0;
    if (!ComHandle->ClearCommError(&errors)) {
      HangupUnlessClosed();
      return false;
    }
    if (!NotifyLineEvent(COMM_MSG_RECEIVE_ERROR, errors)) {
      RequestHangup();
      return false;
    }
    result = true;
  }
  if (const uint32_t bits = ModemBits(FEventMask); bits != 0) {
    if (!NotifyLineEvent(COMM_MSG_MODEM_STATE, bits)) {
      RequestHangup();
      return false;
    }
    result = true;
  }
  if (!result) RequestHangup();
  return result;
}

// ------------------------------------------------------------ TWriteThread

TWriteThread::~TWriteThread() {
  EndThread();
  FQueue.Close();
}

bool TWriteThread::PostThreadMessage(uint32_t msg, uint16_t count, CommBlock block) {
  return FQueue.Post({msg, count, std::move(block)});
}

void TWriteThread::Execute() {
  bool emptyNotice = true;
  bool running = true;
  while (running) {
    std::optional<WriteQueue::Message> message = FQueue.Peek();
    if (!message) {
      if (emptyNotice && !Post(COMM_MSG_SEND_DATA_EMPTY)) {
        RequestHangup();
        break;
      }
      emptyNotice = false;
      switch (platform::CommWaitForMultiple({CloseEvent, &FQueue.Input()})) {
        case 0:
          running = false;
          break;
        case 1:
          break;
        default:
          RequestHangup();
          running = false;
      }
      continue;
    }
    if (CloseEvent->IsSet()) break;
    if (message->Msg != COMM_MSG_WRITE_DATA) continue;
    if (!WriteBlock(message->Block.get(), message->Count)) break;
    emptyNotice = true;
  }
  ComHandle->PurgeComm(platform::kPurgeTxAbort | platform::kPurgeTxClear);
  FQueue.Close();
}

bool TWriteThread::WriteBlock(const uint8_t* block, uint16_t count) {
  uint32_t written = 0;
  switch (ComHandle->WriteFile(block, count, &written, &FWriteOverlapped)) {
    case platform::CommIo::Completed:
      break;
    case platform::CommIo::Failed:
      HangupUnlessClosed();
      return false;
    case platform::CommIo::Pending:
      switch (platform::CommWaitForMultiple({CloseEvent, &FWriteOverlapped})) {
        case 0:
          return false;
        case 1:
          if (!ComHandle->GetOverlappedResult(&FWriteOverlapped, &written, true)) {
            HangupUnlessClosed();
            return false;
          }
          break;
        default:
          RequestHangup();
          return false;
      }
      break;
  }
  // A short write is never continued.
  if (written != count) {
    RequestHangup();
    return false;
  }
  return true;
}
