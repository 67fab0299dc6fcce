#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <future>

#include "platform/Exception.h"

struct sqlite3;

namespace platform {

// A failure of the language database; Text() is the reason.
class ELangDbError : public Exception {
 public:
  using Exception::Exception;
};

// The parts of an OLE DB style connection string that the database honours.
// Keys match without regard to case; values may be quoted with " or '.
struct LangDbConnectionString {
  QString provider;  // accepted as given, never checked
  QString dataSource;
  QString password;  // "Jet OLEDB:Database Password"

  static LangDbConnectionString Parse(const QString& text);
};

// One password-protected database file (SQLCipher, version 3 format), opened
// read-only with shared access: other programs may open it at the same time.
class LangDbConnection {
 public:
  LangDbConnection() = default;
  ~LangDbConnection();
  LangDbConnection(const LangDbConnection&) = delete;
  LangDbConnection& operator=(const LangDbConnection&) = delete;

  QString ConnectionString;

  // Opens the database named by ConnectionString. A missing file, a file that
  // is not a database or a wrong password raise ELangDbError with the reason;
  // the connection then stays closed.
  void Open();
  void Close();
  bool Connected() const;

  // Open on a worker thread: deriving the key from the password takes tens
  // of milliseconds of processor time, which the caller can spend on other
  // work meanwhile. FinishOpen waits for it and raises what Open would have
  // raised. Any other call waits for it first; a failure that FinishOpen did
  // not collect then only leaves the connection closed.
  void BeginOpen();
  void FinishOpen();
  bool Opening() const { return opening_.valid(); }

  // Runs one statement and returns every row. Raises ELangDbError when the
  // connection is closed or the statement fails.
  struct Rows {
    QStringList fields;
    QVector<QVector<QVariant>> values;
  };
  Rows Select(const QString& sql) const;

 private:
  void AwaitOpening() const;

  mutable sqlite3* db_ = nullptr;
  mutable std::future<sqlite3*> opening_;
};

// A read-only query on a connection: the result is read whole when it is
// opened, and a cursor moves over its rows. Field names match without
// regard to case.
class LangDbQuery {
 public:
  explicit LangDbQuery(const LangDbConnection* connection = nullptr) : connection_(connection) {}

  void SetConnection(const LangDbConnection* connection) { connection_ = connection; }
  QString SQL;

  // Runs SQL; on failure raises ELangDbError and the query stays closed.
  void Open();
  void Close();
  bool Active() const { return active_; }

  bool IsEmpty() const { return rows_.values.isEmpty(); }
  int RecordCount() const { return static_cast<int>(rows_.values.size()); }
  // The row the cursor is on, from 0; -1 when the result is empty.
  int RecNo() const { return recNo_; }
  bool Eof() const { return recNo_ < 0 || recNo_ >= RecordCount(); }
  void First() { recNo_ = IsEmpty() ? -1 : 0; }
  void Next();
  void MoveTo(int row);

  // Puts the cursor on the first row whose field equals value (as integers
  // when both are numbers, otherwise as texts); false leaves it where it was.
  bool Locate(const QString& field, const QVariant& value);

  QStringList FieldNames() const { return rows_.fields; }
  bool HasField(const QString& field) const { return FieldIndex(field) >= 0; }
  // The field of the current row; ELangDbError for an unknown field or no row.
  QVariant FieldValue(const QString& field) const;
  QString FieldAsString(const QString& field) const;
  qint64 FieldAsInteger(const QString& field) const;
  // The field of any row, for filling lists.
  QVariant Value(int row, const QString& field) const;

 private:
  int FieldIndex(const QString& field) const;
  int RequireField(const QString& field) const;

  const LangDbConnection* connection_;
  LangDbConnection::Rows rows_;
  int recNo_ = -1;
  bool active_ = false;
};

// The key file beside a database file (path + ".key") spares the program the
// derivation of the key from the password (PBKDF2, 64000 rounds, tens of
// milliseconds of processor time at each start). One line: the file's salt,
// a check of the password for that salt (SHA-256 of password and salt), and
// the key derived from them, in hexadecimal. Open uses it only when salt and
// check fit the file and the connection string's password, and goes back to
// the password when the key does not read the file. The database file itself
// is unchanged: the password opens it as always.
QString LangDbKeyFilePath(const QString& path);
QByteArray LangDbKeyCheck(const QString& password, const QByteArray& salt);
// The salt of the database file at path (its first 16 bytes).
QByteArray LangDbSalt(const QString& path);
// Writes the key file for the database at path; derivedKey is the 32-byte
// PBKDF2-HMAC-SHA1 key of password and the file's salt. Raises ELangDbError.
void WriteLangDbKeyFile(const QString& path, const QString& password, const QByteArray& derivedKey);

// Writes a new database file at path, keyed with password in the version 3
// format, and runs the SQL script in it. An existing file is replaced only
// when the script succeeded. Raises ELangDbError on failure.
void CreateLangDb(const QString& path, const QString& password, const QString& script);

}  // namespace platform
