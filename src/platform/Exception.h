#pragma once

#include <QString>
#include <stdexcept>

namespace platform {

// The program's failures are exceptions that carry the text shown to the
// operator. The text is kept as UTF-8 so that what() stays meaningful.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const QString& text) : std::runtime_error(text.toStdString()) {}
  QString Text() const { return QString::fromUtf8(what()); }
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

}  // namespace platform
