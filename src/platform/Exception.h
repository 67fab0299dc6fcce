#pragma once

#include <QString>
#include <stdexcept>

namespace platform {

// The program's failures are exceptions that carry the text shown to the
// operator and, where one is known, the reason behind it (an errno text,
// "It is a named pipe (FIFO), not a regular file"). The window shows the
// reason as the message's second paragraph; logs and the command-line
// program write both on one line, which is also what() (UTF-8).
class Exception : public std::runtime_error {
 public:
  explicit Exception(const QString& text, const QString& reason = QString())
      : std::runtime_error(OneLine(text, reason).toStdString()), text_(text), reason_(reason) {}
  const QString& Text() const { return text_; }
  // Empty when the text says all there is to say.
  const QString& Reason() const { return reason_; }
  // "text: reason", or the text alone.
  QString Description() const { return OneLine(text_, reason_); }

 private:
  static QString OneLine(const QString& text, const QString& reason) {
    return reason.isEmpty() ? text : text + QStringLiteral(": ") + reason;
  }

  QString text_;
  QString reason_;
};

// A text that should have been a number, and was not.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A local file that could not be read or written.
class EFileError : public Exception {
 public:
  using Exception::Exception;
};

// The text of the exception being handled: a platform::Exception's Text(), a
// std::exception's what(), "unknown failure" for anything else. Call it only
// inside a catch block.
QString CurrentExceptionText();

// The reason of the exception being handled: a platform::Exception's
// Reason(), empty for anything else. Call it only inside a catch block.
QString CurrentExceptionReason();

}  // namespace platform
