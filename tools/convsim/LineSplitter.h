#pragma once

#include <cstddef>
#include <cstring>
#include <string>

namespace convsim {

// Splits a growing text (standard input, the control file) into lines. A
// line longer than kMaxLine bytes is no control line: it is dropped whole, up
// to and including its end, however the text is cut into pieces; the next
// line counts again. At most kMaxLine bytes are held.
class LineSplitter {
 public:
  static constexpr std::size_t kMaxLine = 4096;

  // Calls onLine(const std::string&) for each complete line, without its end.
  template <typename F>
  void Feed(const char* data, std::size_t n, F onLine) {
    std::size_t start = 0;
    while (start < n) {
      const auto* newline = static_cast<const char*>(std::memchr(data + start, '\n', n - start));
      const std::size_t end = newline ? static_cast<std::size_t>(newline - data) : n;
      if (!dropping_) {
        if (partial_.size() + (end - start) > kMaxLine) {
          partial_.clear();
          dropping_ = true;
        } else {
          partial_.append(data + start, end - start);
        }
      }
      if (!newline) return;
      if (!dropping_) onLine(partial_);
      partial_.clear();
      dropping_ = false;
      start = end + 1;
    }
  }

 private:
  std::string partial_;
  bool dropping_ = false;  // inside a line that is too long, until its end
};

}  // namespace convsim
