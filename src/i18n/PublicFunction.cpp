#include "i18n/PublicFunction.h"

#include <QDateTime>
#include <QFile>
#include <cstdint>

#include "platform/Codepage.h"
#include "platform/Exception.h"
#include "platform/ProgramFolder.h"
#include "platform/RegularFile.h"

namespace {

QByteArray ErrorLogLine(const QString& text) {
  const QString stamp =
      QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  return platform::EncodeGbk(stamp + '\t' + text + '\t') + "\r\n";
}

// Blanks and control characters, as the trimming of the text helpers sees them.
bool IsTrimmable(QChar c) {
  return c.unicode() <= 0x20;
}

QString TrimBlanksAndControls(const QString& text) {
  qsizetype first = 0;
  qsizetype last = text.size();
  while (first < last && IsTrimmable(text[first])) ++first;
  while (last > first && IsTrimmable(text[last - 1])) --last;
  return text.mid(first, last - first);
}

}  // namespace

void WriteErrorLog(const QString& text) {
  try {
    // Appending never creates the sys folder: without it the entry is dropped,
    // as intended; so is an entry for anything but a regular file there.
    platform::AppendToRegularFile(
        QFile::encodeName(platform::ProgramPath(QStringLiteral("sys/SysErrorMsg.dt"))),
        ErrorLogLine(text));
  } catch (...) {
    // The log is the last resort for failures; it must never raise one itself.
  }
}

int BinStrToInt(const QString& text) {
  // Unsigned arithmetic: long texts wrap instead of overflowing.
  std::uint32_t result = 0;
  for (QChar c : text) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9'))
      throw platform::EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(c));
    result = result * 2u + static_cast<std::uint32_t>(c.unicode() - '0');
  }
  return static_cast<int>(result);
}

QString IntToBinStr(int Value, int Width) {
  std::uint32_t rest = static_cast<std::uint32_t>(Value);
  QString digits;
  while (rest >= 2) {
    digits.prepend((rest & 1u) ? QLatin1Char('1') : QLatin1Char('0'));
    rest /= 2;
  }
  digits.prepend(rest ? QLatin1Char('1') : QLatin1Char('0'));
  if (Width > 0 && digits.size() < Width)
    digits.prepend(RepeatTrimmed(QStringLiteral("0"), Width - static_cast<int>(digits.size())));
  return digits;
}

QString RepeatTrimmed(const QString& text, int Count) {
  if (Count <= 0) return QString();
  return TrimBlanksAndControls(text).repeated(Count);
}
