#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPasswordDigestor>
#include <QTemporaryDir>

#include "platform/LangDb.h"

namespace {

using platform::ELangDbError;
using platform::LangDbConnection;
using platform::LangDbConnectionString;
using platform::LangDbQuery;

const QString kPassword = QStringLiteral("#$%8rivulet1997");

// Rows deliberately out of key order, a third language and mixed-case names.
const QString kScript = QStringLiteral(
    "CREATE TABLE LangFileInfo (LangID INTEGER PRIMARY KEY, LangName TEXT, LangFile TEXT,"
    " LangTxtFile TEXT);"
    "INSERT INTO LangFileInfo VALUES (2, 'Deutsch', 'LangDEU.MUL', 'LangDEU.TXT');"
    "INSERT INTO LangFileInfo VALUES (0, '简体中文', 'LangCHN.MUL', 'LangCHN.TXT');"
    "INSERT INTO LangFileInfo VALUES (1, 'English', 'LangENU.MUL', NULL);");

QString ConnectionText(const QString& path, const QString& password) {
  return QStringLiteral("provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + path +
         QStringLiteral(";Persist Security Info=False;Jet OLEDB:Database Password=") + password;
}

// How many of this process's file descriptors are open on the file.
int DescriptorsOn(const QString& path) {
  const QString file = QFileInfo(path).canonicalFilePath();
  int count = 0;
  for (const QFileInfo& fd :
       QDir(QStringLiteral("/proc/self/fd"))
           .entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
    if (fd.symLinkTarget() == file) ++count;
  return count;
}

class LangDbTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    path_ = dir_.filePath(QStringLiteral("QNdata.adt"));
    platform::CreateLangDb(path_, kPassword, kScript);
  }

  void OpenWith(const QString& path, const QString& password) {
    conn_.ConnectionString = ConnectionText(path, password);
    conn_.Open();
  }

  QString OpenFailure(const QString& path, const QString& password) {
    try {
      OpenWith(path, password);
    } catch (const ELangDbError& e) {
      return e.Text();
    }
    return QString();
  }

  QTemporaryDir dir_;
  QString path_;
  LangDbConnection conn_;
};

TEST(LangDbConnectionString, ReadsTheKeysWithoutRegardToCase) {
  const auto parts = LangDbConnectionString::Parse(
      QStringLiteral("PROVIDER=Some.Other.Provider; data source = /x/sys/QNdata.adt ;"
                     "Persist Security Info=False;jet oledb:database password=#$%8rivulet1997"));
  EXPECT_EQ(parts.provider, QStringLiteral("Some.Other.Provider"));
  EXPECT_EQ(parts.dataSource, QStringLiteral("/x/sys/QNdata.adt"));
  EXPECT_EQ(parts.password, QStringLiteral("#$%8rivulet1997"));
}

TEST_F(LangDbTest, LookupByLangIdReadsTheRowByFieldNamesOfAnyCase) {
  OpenWith(path_, kPassword);
  ASSERT_TRUE(conn_.Connected());
  LangDbQuery q(&conn_);
  q.SQL = QStringLiteral("Select * from LangFileInfo where LangId=0");
  q.Open();
  ASSERT_FALSE(q.IsEmpty());
  EXPECT_EQ(q.FieldAsInteger(QStringLiteral("LANGID")), 0);
  EXPECT_EQ(q.FieldAsString(QStringLiteral("langname")), QStringLiteral("简体中文"));
  EXPECT_EQ(q.FieldAsString(QStringLiteral("LangFile")), QStringLiteral("LangCHN.MUL"));
  EXPECT_EQ(q.FieldAsString(QStringLiteral("langtxtfile")), QStringLiteral("LangCHN.TXT"));

  q.SQL = QStringLiteral("Select * from LangFileInfo where LangId=1");
  q.Open();
  EXPECT_EQ(q.FieldAsString(QStringLiteral("LangTxtFile")), QString());  // NULL reads empty

  q.SQL = QStringLiteral("Select * from LangFileInfo where LangId=65535");
  q.Open();
  EXPECT_TRUE(q.Active());
  EXPECT_TRUE(q.IsEmpty());
  EXPECT_TRUE(q.Eof());
  EXPECT_THROW(q.FieldAsString(QStringLiteral("LangFile")), ELangDbError);
}

TEST_F(LangDbTest, ListQueryIsOrderedByTheFirstColumnAndLocatesByLangId) {
  OpenWith(path_, kPassword);
  LangDbQuery q(&conn_);
  q.SQL = QStringLiteral("Select * from LangFileInfo\n  order by 1");
  q.Open();
  ASSERT_EQ(q.RecordCount(), 3);
  for (int row = 0; row < 3; ++row) EXPECT_EQ(q.Value(row, QStringLiteral("langid")).toInt(), row);
  EXPECT_EQ(q.RecNo(), 0);

  EXPECT_TRUE(q.Locate(QStringLiteral("LangID"), 2));
  EXPECT_EQ(q.RecNo(), 2);
  EXPECT_EQ(q.FieldAsString(QStringLiteral("LangName")), QStringLiteral("Deutsch"));
  EXPECT_FALSE(q.Locate(QStringLiteral("LangID"), 7));
  EXPECT_EQ(q.RecNo(), 2);  // a failed search keeps the position
  EXPECT_TRUE(q.Locate(QStringLiteral("LangName"), QStringLiteral("English")));
  EXPECT_EQ(q.RecNo(), 1);
  EXPECT_THROW(q.Locate(QStringLiteral("NoSuchField"), 1), ELangDbError);

  q.Next();
  q.Next();
  EXPECT_TRUE(q.Eof());
  q.Close();
  EXPECT_FALSE(q.Active());
  EXPECT_EQ(q.RecordCount(), 0);
}

TEST_F(LangDbTest, WrongPasswordFailsWithAReasonAndStaysClosed) {
  const QString reason = OpenFailure(path_, QStringLiteral("#$%8rivulet1998"));
  EXPECT_TRUE(reason.contains(QStringLiteral("password"))) << reason.toStdString();
  EXPECT_FALSE(conn_.Connected());
  EXPECT_FALSE(OpenFailure(path_, QString()).isEmpty());
}

TEST_F(LangDbTest, MissingFileFailsWithAReasonAndCreatesNothing) {
  const QString missing = dir_.filePath(QStringLiteral("none.adt"));
  const QString reason = OpenFailure(missing, kPassword);
  EXPECT_TRUE(reason.contains(missing)) << reason.toStdString();
  EXPECT_FALSE(QFile::exists(missing));
  EXPECT_FALSE(conn_.Connected());
}

TEST_F(LangDbTest, FilesThatAreNotDatabasesFail) {
  const QString text = dir_.filePath(QStringLiteral("text.adt"));
  const QString empty = dir_.filePath(QStringLiteral("empty.adt"));
  {
    QFile f(text);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'x'));
    QFile e(empty);
    ASSERT_TRUE(e.open(QIODevice::WriteOnly));
  }
  EXPECT_FALSE(OpenFailure(text, kPassword).isEmpty());
  EXPECT_FALSE(OpenFailure(empty, kPassword).isEmpty());
  EXPECT_FALSE(OpenFailure(dir_.path(), kPassword).isEmpty());  // a folder
  EXPECT_FALSE(conn_.Connected());
}

TEST_F(LangDbTest, FailedReopenLeavesTheConnectionClosed) {
  OpenWith(path_, kPassword);
  ASSERT_TRUE(conn_.Connected());
  EXPECT_FALSE(OpenFailure(path_, QStringLiteral("wrong")).isEmpty());
  EXPECT_FALSE(conn_.Connected());
  LangDbQuery q(&conn_);
  q.SQL = QStringLiteral("Select * from LangFileInfo");
  EXPECT_THROW(q.Open(), ELangDbError);
  EXPECT_FALSE(q.Active());
}

TEST_F(LangDbTest, OpenInTheBackgroundEndsAsTheOpenWould) {
  // Each case: the password, whether FinishOpen collects the result, and
  // whether the connection is open afterwards.
  const struct {
    const char* what;
    QString password;
    bool collect;
    bool opened;
  } cases[] = {
      {"right password, collected", kPassword, true, true},
      {"right password, first query waits", kPassword, false, true},
      {"wrong password, collected", QStringLiteral("wrong"), true, false},
      {"wrong password, not collected", QStringLiteral("wrong"), false, false},
  };
  for (const auto& c : cases) {
    conn_.ConnectionString = ConnectionText(path_, c.password);
    conn_.BeginOpen();
    EXPECT_TRUE(conn_.Opening()) << c.what;
    if (c.collect) {
      if (c.opened)
        EXPECT_NO_THROW(conn_.FinishOpen()) << c.what;
      else
        EXPECT_THROW(conn_.FinishOpen(), ELangDbError) << c.what;
    }
    LangDbQuery q(&conn_);
    q.SQL = QStringLiteral("Select * from LangFileInfo where LangId=2");
    if (c.opened) {
      ASSERT_NO_THROW(q.Open()) << c.what;
      EXPECT_EQ(q.FieldAsString(QStringLiteral("LangFile")), QStringLiteral("LangDEU.MUL"));
    } else {
      EXPECT_THROW(q.Open(), ELangDbError) << c.what;
    }
    EXPECT_FALSE(conn_.Opening()) << c.what;
    EXPECT_EQ(conn_.Connected(), c.opened) << c.what;
    if (c.opened) {
      EXPECT_GT(DescriptorsOn(path_), 0) << "an open connection holds the file";
    }
  }
  // Closed or destroyed while the open is still running: it is waited for,
  // and the handle it opened is closed with it.
  conn_.BeginOpen();
  conn_.Close();
  EXPECT_FALSE(conn_.Opening());
  EXPECT_FALSE(conn_.Connected());
  EXPECT_EQ(DescriptorsOn(path_), 0) << "closed while opening";
  {
    LangDbConnection other;
    other.ConnectionString = ConnectionText(path_, kPassword);
    other.BeginOpen();
  }
  EXPECT_EQ(DescriptorsOn(path_), 0) << "destroyed while opening";
}

TEST_F(LangDbTest, KeyFileIsUsedOnlyForItsFileAndPassword) {
  const QByteArray salt = platform::LangDbSalt(path_);
  ASSERT_EQ(salt.size(), 16);
  const QByteArray derived = QByteArray::fromHex(
      "e13b326c04085c782153c4733aa4da19a4012bf00ccfa36355e31bae54a27421");  // another file's
  // The key written for this file's salt is not this file's key here, so an
  // open that gets through shows that it went back to the password.
  platform::WriteLangDbKeyFile(path_, kPassword, derived);
  const QString keyFile = platform::LangDbKeyFilePath(path_);
  ASSERT_TRUE(QFile::exists(keyFile));
  EXPECT_NO_THROW(OpenWith(path_, kPassword)) << "a key that does not read the file";
  EXPECT_TRUE(conn_.Connected());
  EXPECT_FALSE(OpenFailure(path_, QStringLiteral("wrong")).isEmpty())
      << "the key file never stands in for a wrong password";

  // A key file that claims to be for this file and password but holds a
  // wrong key, and one for another salt: both are passed over.
  // The key derived from the password, filed under the check of another
  // password: that other password then opens the file, which only the key
  // can have done.
  const QByteArray real = QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha1,
                                                             kPassword.toUtf8(), salt, 64000, 32);
  {
    QFile f(keyFile);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(salt.toHex() + ' ' + platform::LangDbKeyCheck(QStringLiteral("other"), salt) + ' ' +
            real.toHex());
  }
  EXPECT_NO_THROW(OpenWith(path_, QStringLiteral("other")));

  for (const QByteArray& line :
       {salt.toHex() + ' ' + platform::LangDbKeyCheck(kPassword, salt) + ' ' + QByteArray(64, '0'),
        QByteArray(32, '1') + ' ' + platform::LangDbKeyCheck(kPassword, QByteArray(16, '\x11')) +
            ' ' + derived.toHex(),
        QByteArray("garbage")}) {
    QFile f(keyFile);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(line);
    f.close();
    EXPECT_NO_THROW(OpenWith(path_, kPassword)) << line.toStdString();
    LangDbQuery q(&conn_);
    q.SQL = QStringLiteral("Select * from LangFileInfo where LangId=1");
    ASSERT_NO_THROW(q.Open());
    EXPECT_EQ(q.FieldAsString(QStringLiteral("LangFile")), QStringLiteral("LangENU.MUL"));
  }
}

TEST_F(LangDbTest, BadQueriesFailWithoutChangingTheFile) {
  OpenWith(path_, kPassword);
  LangDbQuery q(&conn_);
  for (const char* sql :
       {"Select * from NoSuchTable", "DELETE FROM LangFileInfo", "", "nonsense"}) {
    q.SQL = QString::fromLatin1(sql);
    EXPECT_THROW(q.Open(), ELangDbError) << sql;
  }
  q.SQL = QStringLiteral("Select * from LangFileInfo");
  q.Open();
  EXPECT_EQ(q.RecordCount(), 3);
}

}  // namespace
