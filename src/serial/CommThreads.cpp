#include "serial/CommThreads.h"

// ------------------------------------------------------------- TCommThread

TCommThread::~TCommThread() {
  EndThread();
}

void TCommThread::Create() {
  thread_ = std::thread([this] { Run(); });
}

void TCommThread::Resume() {
  std::lock_guard<std::mutex> lock(mutex_);
  released_ = true;
  changed_.notify_all();
}

bool TCommThread::WaitFor(uint32_t milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [this] { return finished_.load(); });
}

void TCommThread::EndThread() {
  if (!thread_.joinable()) return;
  Resume();
  thread_.join();
}

void TCommThread::Run() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return released_; });
  }
  // A refused priority leaves the thread at normal priority, which is fine.
  if (priority_ != platform::ThreadPriority::Normal)
    platform::SetCurrentThreadPriority(priority_);
  Execute();
  std::lock_guard<std::mutex> lock(mutex_);
  finished_ = true;
  changed_.notify_all();
}

void TCommThread::RequestHangup() {
  PostCommMessage(NotifyWindow, COMM_MSG_REQUEST_HANGUP);
}

void TCommThread::HangupUnlessClosed() {
  if (platform::CommLastError().code != platform::CommError::InvalidHandle) RequestHangup();
}

// ------------------------------------------------------------- TWriteQueue

bool TWriteQueue::Post(Message message) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_ || messages_.size() >= kCommQueueLimit) return false;
  messages_.push_back(std::move(message));
  input_.Set();
  return true;
}

std::optional<TWriteQueue::Message> TWriteQueue::Peek() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (messages_.empty()) {
    input_.Reset();
    return std::nullopt;
  }
  Message message = std::move(messages_.front());
  messages_.pop_front();
  return message;
}

void TWriteQueue::Close() {
  std::deque<Message> left;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    left.swap(messages_);
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
    switch (platform::CommWaitForMultiple({CloseEvent, &statusOverlapped_, &readOverlapped_})) {
      case 0:
        running = false;
        break;
      case 1:
        running = HandleStatusEvent(true) && ArmStatusWait();
        break;
      case 2:
        running = CompleteRead() && ArmRead();
        break;
      default:
        RequestHangup();
        running = false;
    }
  }
  ComHandle->PurgeComm(platform::kPurgeRxAbort | platform::kPurgeRxClear);
}

bool TReadThread::ArmRead() {
  for (;;) {
    if (CloseEvent->IsSet()) return false;
    switch (ComHandle->ReadFile(buffer_, kBufferSize, &byteCount_, &readOverlapped_)) {
      case platform::CommIo::Completed:
        // Bytes were waiting: deliver them and read again at once.
        if (!DeliverBlock(byteCount_)) return false;
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
  if (!ComHandle->GetOverlappedResult(&readOverlapped_, &byteCount_, false)) {
    HangupUnlessClosed();
    return false;
  }
  return DeliverBlock(byteCount_);
}

bool TReadThread::DeliverBlock(uint32_t count) {
  // Only a total read time-out ends a read with no bytes; the next read is
  // simply started.
  if (count == 0) return true;
  TCommBlock block = MakeCommBlock(buffer_, count);
  if (!block || !PostCommMessage(NotifyWindow, COMM_MSG_RECEIVE_DATA, count, 0, std::move(block))) {
    RequestHangup();
    return false;
  }
  return true;
}

bool TReadThread::ArmStatusWait() {
  for (;;) {
    if (CloseEvent->IsSet()) return false;
    switch (ComHandle->WaitCommEvent(&eventMask_, &statusOverlapped_)) {
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
    if (!ComHandle->GetOverlappedResult(&statusOverlapped_, &unused, false)) {
      HangupUnlessClosed();
      return false;
    }
  }
  if (eventMask_ & platform::kEvErr) {
    uint32_t errors = 0;
    if (!ComHandle->ClearCommError(&errors)) {
      HangupUnlessClosed();
      return false;
    }
    if (!PostCommMessage(NotifyWindow, COMM_MSG_RECEIVE_ERROR, 0, errors)) {
      RequestHangup();
      return false;
    }
    result = true;
  }
  if (const uint32_t bits = ModemBits(eventMask_); bits != 0) {
    if (!PostCommMessage(NotifyWindow, COMM_MSG_MODEM_STATE, 0, bits)) {
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
  queue_.Close();
}

bool TWriteThread::PostThreadMessage(uint32_t msg, uint16_t count, TCommBlock block) {
  return queue_.Post({msg, count, std::move(block)});
}

void TWriteThread::Execute() {
  bool emptyNotice = true;
  bool running = true;
  while (running) {
    std::optional<TWriteQueue::Message> message = queue_.Peek();
    if (!message) {
      if (emptyNotice && !PostCommMessage(NotifyWindow, COMM_MSG_SEND_DATA_EMPTY)) {
        RequestHangup();
        break;
      }
      emptyNotice = false;
      switch (platform::CommWaitForMultiple({CloseEvent, &queue_.Input()})) {
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
  queue_.Close();
}

bool TWriteThread::WriteBlock(const uint8_t* block, uint16_t count) {
  uint32_t written = 0;
  switch (ComHandle->WriteFile(block, count, &written, &writeOverlapped_)) {
    case platform::CommIo::Completed:
      break;
    case platform::CommIo::Failed:
      HangupUnlessClosed();
      return false;
    case platform::CommIo::Pending:
      switch (platform::CommWaitForMultiple({CloseEvent, &writeOverlapped_})) {
        case 0:
          return false;
        case 1:
          if (!ComHandle->GetOverlappedResult(&writeOverlapped_, &written, true)) {
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
