#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace cli {

// One converter handled, as --report records it ('quillon-cli help report'
// says what each field holds).
struct ReportEntry {
  QDateTime time;
  QString port;
  QString device;     // empty: nothing was there
  QString usbSerial;  // empty: not known
  QString command;
  bool dryRun = false;
  QString file;  // empty: no file
  std::optional<std::uint32_t> fileCrc;
  std::optional<QJsonObject> version;
  QString result;  // "ok" or the error text
  int exit = 0;
  double seconds = 0;
  std::optional<QStringList> written;
};

// The entry as its JSON line holds it.
QJsonObject ReportJson(const ReportEntry& entry);

// "2024-05-06T14:03:21.517+02:00": local time with its UTC offset.
QString IsoTimeWithOffset(const QDateTime& time);

// The --report file, shared by the threads of every port and by other
// processes: each entry is one whole line appended to the regular file with
// one write (platform::AppendToRegularFile, opened for appending each time).
class ReportFile {
 public:
  // Throws CliError (usage) for what cannot be appended to (a FIFO, a
  // device, a directory, a read-only file), before anything is sent.
  explicit ReportFile(const QByteArray& name);

  // Appends the entry's line; any thread. Throws CliError (usage) when the
  // line could not be written whole.
  void Append(const ReportEntry& entry) const;

 private:
  QByteArray name_;
};

}  // namespace cli
