#include "platform/LangDb.h"

#define SQLITE_HAS_CODEC 1
#include <sqlite3.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

namespace platform {
namespace {

// Splits "key=value;key=value" with OLE DB quoting: a value may be enclosed
// in " or ', a doubled quote inside stands for one.
QVector<QPair<QString, QString>> SplitPairs(const QString& text) {
  QVector<QPair<QString, QString>> pairs;
  qsizetype i = 0;
  const qsizetype n = text.size();
  while (i < n) {
    const qsizetype eq = text.indexOf('=', i);
    if (eq < 0) break;
    const QString key = text.mid(i, eq - i).trimmed();
    i = eq + 1;
    while (i < n && text[i] == ' ') ++i;
    QString value;
    if (i < n && (text[i] == '"' || text[i] == '\'')) {
      const QChar quote = text[i++];
      while (i < n) {
        if (text[i] == quote) {
          if (i + 1 < n && text[i + 1] == quote) {
            value += quote;
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        value += text[i++];
      }
      const qsizetype semi = text.indexOf(';', i);
      i = semi < 0 ? n : semi + 1;
    } else {
      const qsizetype semi = text.indexOf(';', i);
      const qsizetype end = semi < 0 ? n : semi;
      value = text.mid(i, end - i).trimmed();
      i = end + 1;
    }
    if (!key.isEmpty()) pairs.append({key, value});
  }
  return pairs;
}

QString LastError(sqlite3* db) {
  return QString::fromUtf8(sqlite3_errmsg(db));
}

// Keys the freshly opened handle and, where the library writes version 4 by
// default, asks for the version 3 format that the database files are in.
void KeyHandle(sqlite3* db, const QByteArray& key) {
  if (sqlite3_key(db, key.constData(), static_cast<int>(key.size())) != SQLITE_OK)
    throw ELangDbError(QStringLiteral("Cannot key the database: ") + LastError(db));
  sqlite3_stmt* stmt = nullptr;
  QByteArray version;
  if (sqlite3_prepare_v2(db, "PRAGMA cipher_version;", -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW) {
    version = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  }
  sqlite3_finalize(stmt);
  if (version.isEmpty())
    throw ELangDbError(QStringLiteral("The database engine has no encryption support"));
  if (version.split('.').value(0).toInt() >= 4)
    sqlite3_exec(db, "PRAGMA cipher_compatibility = 3;", nullptr, nullptr, nullptr);
}

QVariant ColumnValue(sqlite3_stmt* stmt, int column) {
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
      return QVariant(static_cast<qint64>(sqlite3_column_int64(stmt, column)));
    case SQLITE_FLOAT:
      return QVariant(sqlite3_column_double(stmt, column));
    case SQLITE_TEXT:
      return QVariant(
          QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                            sqlite3_column_bytes(stmt, column)));
    case SQLITE_BLOB:
      return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, column)),
                                 sqlite3_column_bytes(stmt, column)));
    default:
      return QVariant();
  }
}

class Statement {
 public:
  Statement(sqlite3* db, const QString& sql) {
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(db, text.constData(), static_cast<int>(text.size()), &stmt_, nullptr) !=
        SQLITE_OK)
      throw ELangDbError(LastError(db));
    if (!stmt_) throw ELangDbError(QStringLiteral("The query text holds no statement"));
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

LangDbConnection::Rows RunSelect(sqlite3* db, const QString& sql) {
  Statement stmt(db, sql);
  LangDbConnection::Rows rows;
  const int columns = sqlite3_column_count(stmt.get());
  for (int c = 0; c < columns; ++c)
    rows.fields.append(QString::fromUtf8(sqlite3_column_name(stmt.get(), c)));
  for (;;) {
    const int rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) throw ELangDbError(LastError(db));
    QVector<QVariant> row;
    row.reserve(columns);
    for (int c = 0; c < columns; ++c) row.append(ColumnValue(stmt.get(), c));
    rows.values.append(row);
  }
  return rows;
}

// Closes the handle unless released: every early exit of Open leaves the
// connection closed.
struct HandleGuard {
  sqlite3* db = nullptr;
  ~HandleGuard() {
    if (db) sqlite3_close_v2(db);
  }
  sqlite3* release() {
    sqlite3* h = db;
    db = nullptr;
    return h;
  }
};

bool SameValue(const QVariant& a, const QVariant& b) {
  if (a.isNull() || b.isNull()) return false;
  bool okA = false, okB = false;
  const qint64 x = a.toLongLong(&okA);
  const qint64 y = b.toLongLong(&okB);
  if (okA && okB) return x == y;
  return a.toString() == b.toString();
}

constexpr int kSaltSize = 16;
constexpr int kDerivedKeySize = 32;

// The salt of a database file: its first 16 bytes.
QByteArray FileSalt(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.read(kSaltSize) : QByteArray();
}

// The key derived from password for the file at path, when its key file holds
// one made for this password and this file's salt: "x'<hex>'", which the
// engine takes as the key itself. Empty otherwise.
QByteArray StoredRawKey(const QString& path, const QString& password) {
  QFile keyFile(LangDbKeyFilePath(path));
  if (!keyFile.open(QIODevice::ReadOnly) || keyFile.size() > 1024) return {};
  const QList<QByteArray> fields = keyFile.readAll().trimmed().split(' ');
  const QByteArray salt = FileSalt(path);
  if (fields.size() != 3 || salt.size() != kSaltSize) return {};
  const QByteArray key = QByteArray::fromHex(fields[2]);
  if (QByteArray::fromHex(fields[0]) != salt || fields[1] != LangDbKeyCheck(password, salt) ||
      key.size() != kDerivedKeySize)
    return {};
  return "x'" + key.toHex() + "'";
}

// Opens the file read-only and keys it; true when the key reads it. Raises
// ELangDbError for failures other than a wrong key.
bool OpenKeyed(HandleGuard& handle, const QString& path, const QByteArray& key) {
  const QByteArray name = QFile::encodeName(path);
  if (sqlite3_open_v2(name.constData(), &handle.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
    throw ELangDbError(
        QStringLiteral("Cannot open '%1': %2")
            .arg(path, handle.db ? LastError(handle.db) : QStringLiteral("no memory")));
  sqlite3_busy_timeout(handle.db, 2000);
  KeyHandle(handle.db, key);
  // A wrong key only shows on the first read of the file.
  const int rc =
      sqlite3_exec(handle.db, "SELECT count(*) FROM sqlite_master;", nullptr, nullptr, nullptr);
  if (rc == SQLITE_NOTADB) return false;
  if (rc != SQLITE_OK)
    throw ELangDbError(QStringLiteral("Cannot read '%1': %2").arg(path, LastError(handle.db)));
  return true;
}

// An open, keyed and checked handle on the database the connection string
// names; raises ELangDbError with the reason otherwise.
sqlite3* OpenHandle(const QString& connectionString) {
  const LangDbConnectionString parts = LangDbConnectionString::Parse(connectionString);
  const QString& path = parts.dataSource;
  if (path.isEmpty()) throw ELangDbError(QStringLiteral("No Data Source in the connection string"));
  const QFileInfo info(path);
  if (!info.exists() || info.isDir())
    throw ELangDbError(QStringLiteral("Could not find file '%1'.").arg(path));
  if (info.size() == 0)
    throw ELangDbError(QStringLiteral("Unrecognized database format '%1'.").arg(path));

  // The stored key spares the derivation from the password; a key file that
  // does not fit this file and this password is passed over.
  if (const QByteArray rawKey = StoredRawKey(path, parts.password); !rawKey.isEmpty()) {
    HandleGuard handle;
    if (OpenKeyed(handle, path, rawKey)) return handle.release();
  }
  HandleGuard handle;
  if (!OpenKeyed(handle, path, parts.password.toUtf8()))
    throw ELangDbError(
        QStringLiteral("Not a valid password, or '%1' is not a database.").arg(path));
  return handle.release();
}

}  // namespace

LangDbConnectionString LangDbConnectionString::Parse(const QString& text) {
  LangDbConnectionString result;
  for (const auto& [key, value] : SplitPairs(text)) {
    if (key.compare(QLatin1String("Provider"), Qt::CaseInsensitive) == 0)
      result.provider = value;
    else if (key.compare(QLatin1String("Data Source"), Qt::CaseInsensitive) == 0)
      result.dataSource = value;
    else if (key.compare(QLatin1String("Jet OLEDB:Database Password"), Qt::CaseInsensitive) == 0)
      result.password = value;
  }
  return result;
}

LangDbConnection::~LangDbConnection() {
  Close();
}

void LangDbConnection::Open() {
  Close();
  db_ = OpenHandle(ConnectionString);
}

void LangDbConnection::BeginOpen() {
  Close();
  opening_ = std::async(std::launch::async, OpenHandle, ConnectionString);
}

void LangDbConnection::FinishOpen() {
  if (opening_.valid()) db_ = opening_.get();
}

void LangDbConnection::AwaitOpening() const {
  if (!opening_.valid()) return;
  try {
    db_ = opening_.get();
  } catch (const ELangDbError&) {
    // Not collected by FinishOpen: the connection stays closed.
  }
}

bool LangDbConnection::Connected() const {
  AwaitOpening();
  return db_ != nullptr;
}

void LangDbConnection::Close() {
  AwaitOpening();
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

LangDbConnection::Rows LangDbConnection::Select(const QString& sql) const {
  AwaitOpening();
  if (!db_) throw ELangDbError(QStringLiteral("The database connection is closed"));
  return RunSelect(db_, sql);
}

void LangDbQuery::Open() {
  Close();
  if (!connection_) throw ELangDbError(QStringLiteral("The query has no connection"));
  rows_ = connection_->Select(SQL);
  active_ = true;
  First();
}

void LangDbQuery::Close() {
  rows_ = {};
  recNo_ = -1;
  active_ = false;
}

void LangDbQuery::Next() {
  if (recNo_ >= 0 && recNo_ < RecordCount()) ++recNo_;
}

void LangDbQuery::MoveTo(int row) {
  if (row >= 0 && row < RecordCount()) recNo_ = row;
}

bool LangDbQuery::Locate(const QString& field, const QVariant& value) {
  const int column = RequireField(field);
  for (int row = 0; row < RecordCount(); ++row) {
    if (SameValue(rows_.values[row][column], value)) {
      recNo_ = row;
      return true;
    }
  }
  return false;
}

int LangDbQuery::FieldIndex(const QString& field) const {
  for (int i = 0; i < rows_.fields.size(); ++i)
    if (rows_.fields[i].compare(field, Qt::CaseInsensitive) == 0) return i;
  return -1;
}

int LangDbQuery::RequireField(const QString& field) const {
  const int column = FieldIndex(field);
  if (column < 0) throw ELangDbError(QStringLiteral("Field '%1' not found").arg(field));
  return column;
}

QVariant LangDbQuery::FieldValue(const QString& field) const {
  const int column = RequireField(field);
  if (Eof()) throw ELangDbError(QStringLiteral("No current record"));
  return rows_.values[recNo_][column];
}

QString LangDbQuery::FieldAsString(const QString& field) const {
  const QVariant v = FieldValue(field);
  return v.isNull() ? QString() : v.toString();
}

qint64 LangDbQuery::FieldAsInteger(const QString& field) const {
  const QVariant v = FieldValue(field);
  if (v.isNull()) return 0;
  bool ok = false;
  const qint64 n = v.toLongLong(&ok);
  if (!ok)
    throw ELangDbError(QStringLiteral("'%1' is not a valid integer value for field '%2'")
                           .arg(v.toString(), field));
  return n;
}

QVariant LangDbQuery::Value(int row, const QString& field) const {
  const int column = RequireField(field);
  if (row < 0 || row >= RecordCount()) return QVariant();
  return rows_.values[row][column];
}

QString LangDbKeyFilePath(const QString& path) {
  return path + QStringLiteral(".key");
}

QByteArray LangDbKeyCheck(const QString& password, const QByteArray& salt) {
  return QCryptographicHash::hash(password.toUtf8() + salt, QCryptographicHash::Sha256).toHex();
}

void WriteLangDbKeyFile(const QString& path, const QString& password,
                        const QByteArray& derivedKey) {
  const QByteArray salt = FileSalt(path);
  if (salt.size() != kSaltSize || derivedKey.size() != kDerivedKeySize)
    throw ELangDbError(QStringLiteral("No key file for '%1'").arg(path));
  QFile keyFile(LangDbKeyFilePath(path));
  if (!keyFile.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      keyFile.write(salt.toHex() + ' ' + LangDbKeyCheck(password, salt) + ' ' + derivedKey.toHex() +
                    '\n') < 0 ||
      !keyFile.flush())
    throw ELangDbError(QStringLiteral("Cannot write '%1'").arg(keyFile.fileName()));
}

QByteArray LangDbSalt(const QString& path) {
  return FileSalt(path);
}

void CreateLangDb(const QString& path, const QString& password, const QString& script) {
  const QString temporary = path + QStringLiteral(".part");
  QFile::remove(temporary);
  {
    HandleGuard handle;
    const QByteArray name = QFile::encodeName(temporary);
    if (sqlite3_open_v2(name.constData(), &handle.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK)
      throw ELangDbError(QStringLiteral("Cannot create '%1'").arg(temporary));
    KeyHandle(handle.db, password.toUtf8());
    char* message = nullptr;
    const QByteArray sql = script.toUtf8();
    if (sqlite3_exec(handle.db, sql.constData(), nullptr, nullptr, &message) != SQLITE_OK) {
      const QString reason = QString::fromUtf8(message ? message : "unknown error");
      sqlite3_free(message);
      sqlite3_close_v2(handle.release());
      QFile::remove(temporary);
      throw ELangDbError(QStringLiteral("The script failed: ") + reason);
    }
    if (sqlite3_close(handle.release()) != SQLITE_OK)
      throw ELangDbError(QStringLiteral("Cannot finish '%1'").arg(temporary));
  }
  if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) !=
      0) {
    QFile::remove(temporary);
    throw ELangDbError(QStringLiteral("Cannot replace '%1'").arg(path));
  }
}

}  // namespace platform
