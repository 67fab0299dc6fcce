#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

// An object that owns one lock. Lock/Unlock may be nested on one thread, as
// the operating system's critical sections allow.
class TMySyncObj {
 public:
  TMySyncObj() = default;
  virtual ~TMySyncObj() = default;
  TMySyncObj(const TMySyncObj&) = delete;
  TMySyncObj& operator=(const TMySyncObj&) = delete;

  void Lock() { mutex_.lock(); }
  void Unlock() { mutex_.unlock(); }

 private:
  std::recursive_mutex mutex_;
};

// A locked list of pointer-sized integers: the pending command codes of a
// device operation. Each operation holds the lock for its whole duration and
// releases it also when the list throws (for example when it cannot grow).
class TMyElemLst : public TMySyncObj {
 public:
  using Element = std::intptr_t;

  TMyElemLst() = default;
  ~TMyElemLst() override = default;

  // Appends the value (duplicates allowed); returns its index.
  int Add(Element value);
  // Removes all elements.
  void Clear();
  // Removes the first element equal to the value; an absent value is ignored.
  void Remove(Element value);
  int Count();

 private:
  std::vector<Element> items_;
};
