#include "app/MyElemLst.h"

#include <algorithm>

namespace {

// Holds the lock of a TMySyncObj for one scope, so that a throwing list
// operation still releases it.
class ScopedLock {
 public:
  explicit ScopedLock(TMySyncObj& obj) : obj_(obj) { obj_.Lock(); }
  ~ScopedLock() { obj_.Unlock(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  TMySyncObj& obj_;
};

}  // namespace

int TMyElemLst::Add(Element value) {
  ScopedLock lock(*this);
  items_.push_back(value);
  return static_cast<int>(items_.size()) - 1;
}

void TMyElemLst::Clear() {
  ScopedLock lock(*this);
  items_.clear();
}

void TMyElemLst::Remove(Element value) {
  ScopedLock lock(*this);
  auto found = std::find(items_.begin(), items_.end(), value);
  if (found != items_.end()) items_.erase(found);
}

int TMyElemLst::Count() {
  ScopedLock lock(*this);
  return static_cast<int>(items_.size());
}
