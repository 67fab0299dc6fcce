#include "platform/CommEvent.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace platform {

int64_t CommNowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

CommEvent::CommEvent(bool initialState) : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (initialState) Set();
}

CommEvent::~CommEvent() {
  if (fd_ >= 0) close(fd_);
}

void CommEvent::Set() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (set_) return;
  set_ = true;
  const uint64_t one = 1;
  if (fd_ >= 0) (void)!write(fd_, &one, sizeof one);
}

void CommEvent::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!set_) return;
  set_ = false;
  uint64_t value = 0;
  if (fd_ >= 0) (void)!read(fd_, &value, sizeof value);
}

bool CommEvent::IsSet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return set_;
}

CommWaitable::PollRequest CommEvent::PrepareWait() {
  return {fd_, POLLIN, -1};
}

namespace {

int FirstSignalled(std::initializer_list<CommWaitable*> objects) {
  int index = 0;
  for (CommWaitable* object : objects) {
    if (object->IsSignalled()) return index;
    ++index;
  }
  return kCommWaitTimeout;
}

}  // namespace

int CommWaitForMultiple(std::initializer_list<CommWaitable*> objects, uint32_t timeoutMs) {
  const int64_t endNs =
      timeoutMs == kCommInfinite ? -1 : CommNowNs() + static_cast<int64_t>(timeoutMs) * 1000000;
  // Waits are on a handful of objects; no allocation on this hot path.
  constexpr size_t kMaxObjects = 8;
  if (objects.size() > kMaxObjects) return kCommWaitFailed;
  pollfd fds[kMaxObjects];
  for (;;) {
    if (int index = FirstSignalled(objects); index >= 0) return index;
    int64_t wakeNs = endNs;
    size_t i = 0;
    for (CommWaitable* object : objects) {
      const CommWaitable::PollRequest request = object->PrepareWait();
      fds[i++] = pollfd{request.fd, request.events, 0};
      if (request.deadlineNs >= 0 && (wakeNs < 0 || request.deadlineNs < wakeNs))
        wakeNs = request.deadlineNs;
    }
    timespec timeout{};
    timespec* timeoutPtr = nullptr;
    if (wakeNs >= 0) {
      const int64_t leftNs = std::max<int64_t>(0, wakeNs - CommNowNs());
      timeout.tv_sec = leftNs / 1000000000;
      timeout.tv_nsec = leftNs % 1000000000;
      timeoutPtr = &timeout;
    }
    if (ppoll(fds, objects.size(), timeoutPtr, nullptr) < 0 && errno != EINTR)
      return kCommWaitFailed;
    const int64_t nowNs = CommNowNs();
    i = 0;
    for (CommWaitable* object : objects) object->Advance(fds[i++].revents, nowNs);
    if (int index = FirstSignalled(objects); index >= 0) return index;
    if (endNs >= 0 && nowNs >= endNs) return kCommWaitTimeout;
  }
}

}  // namespace platform
