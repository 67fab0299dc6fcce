// Profile files: the reading, writing and integer rules of the Windows
// private-profile calls, on real files in a temporary folder.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <utility>

#include "platform/Codepage.h"
#include "platform/ProfileFile.h"

using platform::EProfileWriteError;
using platform::ProfileFile;

namespace {

class ProfileTest : public ::testing::Test {
 protected:
  QString Path(const QString& name = QStringLiteral("test.ini")) const {
    return dir_.path() + '/' + name;
  }
  void Put(const QByteArray& bytes, const QString& name = QStringLiteral("test.ini")) const {
    QFile file(Path(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
  }
  QByteArray Get(const QString& name = QStringLiteral("test.ini")) const {
    QFile file(Path(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
  }
  QStringList FolderEntries() const {
    return QDir(dir_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
  }
  QTemporaryDir dir_;
};

struct ReadCase {
  const char* what;
  QByteArray file;
  QString section, key;
  QString expected;
};

TEST_F(ProfileTest, ReadsByTheProfileRules) {
  const QString def = QStringLiteral("<default>");
  const ReadCase cases[] = {
      {"names ignore case", "[Lang]\r\nLangID=3\r\n", "lang", "LANGID", "3"},
      {"names and values are trimmed", "  [ Lang ]  \r\n\t LangID \t=  3 \t\r\n", "Lang", "LangID",
       "3"},
      {"caller's names are trimmed", "[Lang]\r\nLangID=3\r\n", " Lang ", " LangID ", "3"},
      {"LF line ends", "[a]\nk=v\n", "a", "k", "v"},
      {"last line unterminated", "[a]\nk=v", "a", "k", "v"},
      {"double quotes stripped", "[a]\nk=\" x y \"\n", "a", "k", " x y "},
      {"single quotes stripped", "[a]\nk='x'\n", "a", "k", "x"},
      {"one pair only", "[a]\nk=\"\"x\"\"\n", "a", "k", "\"x\""},
      {"unmatched quotes kept", "[a]\nk=\"x'\n", "a", "k", "\"x'"},
      {"a lone quote kept", "[a]\nk=\"\n", "a", "k", "\""},
      {"empty quotes give empty", "[a]\nk=\"\"\n", "a", "k", ""},
      {"present empty value", "[a]\nk=\n", "a", "k", ""},
      {"'=' inside the value", "[a]\nk=x=y\n", "a", "k", "x=y"},
      {"comment line", "[a]\n;k=1\n", "a", "k", def},
      {"indented comment", "[a]\n  ;k=1\n", "a", "k", def},
      {"line without '='", "[a]\nk\n", "a", "k", def},
      {"key before any section", "k=1\n[a]\n", "a", "k", def},
      {"first key wins", "[a]\nk=1\nK=2\n", "a", "k", "1"},
      {"first section wins", "[a]\nk=1\n[A]\nk=2\nj=3\n", "a", "k", "1"},
      {"keys of a later twin section are not seen", "[a]\nk=1\n[A]\nj=3\n", "a", "j", def},
      {"other section", "[a]\nk=1\n[b]\nk=2\n", "b", "k", "2"},
      {"'[' without ']' is no section", "[a]\nk=1\n[b\nj=2\n", "b", "j", def},
      {"keys below it stay in the section before", "[a]\nk=1\n[b\nj=2\n", "a", "j", "2"},
      {"missing section", "[a]\nk=1\n", "b", "k", def},
      {"ideographic space is no blank", "[a]\nk=\xa1\xa1x\n", "a", "k",
       QString::fromUtf8("\u3000x")},
  };
  for (const ReadCase& c : cases) {
    Put(c.file);
    EXPECT_EQ(ProfileFile(Path()).ReadString(c.section, c.key, def), c.expected) << c.what;
  }
}

TEST_F(ProfileTest, MissingFileReadsAsEmpty) {
  ProfileFile file(Path(QStringLiteral("absent.ini")));
  EXPECT_EQ(file.ReadString("a", "k", "d"), "d");
  EXPECT_EQ(file.ReadInt("a", "k", 7), 7);
  EXPECT_EQ(Get(QStringLiteral("absent.ini")), "<missing>");
}

TEST_F(ProfileTest, ValuesAreCutTo2047BytesOfTheFile) {
  QByteArray chinese;
  for (int i = 0; i < 3000; ++i) chinese += "\xd6\xd0";  // 中
  Put("[a]\nk=" + QByteArray(3000, 'x') + "\nc=" + chinese + "\nodd=x" + chinese +
      "\nfits=" + QByteArray(2047, 'y') + "\n");
  ProfileFile file(Path());
  EXPECT_EQ(file.ReadString("a", "k", {}), QString(2047, u'x'));
  // 1023 characters of two bytes each; the 1024th would be cut in half.
  EXPECT_EQ(file.ReadString("a", "c", {}), QString(1023, QChar(0x4E2D)));
  EXPECT_EQ(file.ReadString("a", "odd", {}), u'x' + QString(1023, QChar(0x4E2D)));
  EXPECT_EQ(file.ReadString("a", "fits", {}), QString(2047, u'y'));
}

struct IntCase {
  QString value;
  int def;
  int expected;
};

TEST(ProfileIntValue, ParsesAsGetPrivateProfileInt) {
  const IntCase cases[] = {
      {"", 9, 9},          {"  ", 9, 9},         {"12", 9, 12},   {"  12", 9, 12},
      {"+7", 9, 7},        {"-1", 9, -1},        {"0x1F", 9, 31}, {"0X1f", 9, 31},
      {"-0x10", 9, -16},   {"12abc", 9, 12},     {"1 2", 9, 1},   {"abc", 9, 0},
      {"-", 9, 0},         {"0x", 9, 0},         {"0xg", 9, 0},   {"4294967295", 9, -1},
      {"65537", 9, 65537}, {"4294967296", 9, 0}, {"1a", 9, 1},    {"0x7fffffff", 9, INT_MAX},
  };
  for (const IntCase& c : cases)
    EXPECT_EQ(platform::ProfileIntValue(c.value, c.def), c.expected) << c.value.toStdString();
}

TEST(ProfileNumber, TakesOnlyAWholeNumber) {
  const std::pair<QString, std::optional<int>> cases[] = {
      {"12", 12},     {" 12 ", 12},        {"+7", 7},     {"-1", -1},  {"0x1F", 31},
      {"-0x10", -16}, {"4294967297", 1},   {"12abc", {}}, {"1 2", {}}, {"abc", {}},
      {"", {}},       {"  ", {}},          {"+", {}},     {"0x", {}},  {"0xg", {}},
      {"12.0", {}},   {"\xef\xbc\x91", {}}};
  for (const auto& [value, expected] : cases)
    EXPECT_EQ(platform::ProfileNumber(value), expected) << value.toStdString();
}

TEST_F(ProfileTest, ReadIntTreatsAbsentAndEmptyAsDefault) {
  Put("[a]\nempty=\nquoted='42'\ntext=x\n");
  ProfileFile file(Path());
  EXPECT_EQ(file.ReadInt("a", "empty", -1), -1);
  EXPECT_EQ(file.ReadInt("a", "absent", -1), -1);
  EXPECT_EQ(file.ReadInt("a", "quoted", -1), 42);
  EXPECT_EQ(file.ReadInt("a", "text", -1), 0);
}

struct WriteCase {
  const char* what;
  QByteArray before;
  QString section, key, value;
  QByteArray after;
};

TEST_F(ProfileTest, WritesKeepUntouchedLinesByteForByte) {
  const WriteCase cases[] = {
      {"first write creates the file", "<missing>", "Lang", "LangID", "0",
       "[Lang]\r\nLangID=0\r\n"},
      {"new key after the section's last key", "[a]\r\nx=1\r\n\r\n; next\r\n[b]\r\ny=2\r\n", "A",
       "z", "3", "[a]\r\nx=1\r\nz=3\r\n\r\n; next\r\n[b]\r\ny=2\r\n"},
      {"new key in a section without keys", "[a]\n\n[b]\n", "a", "k", "v", "[a]\nk=v\r\n\n[b]\n"},
      {"first matching key updated, the rest kept", "; c\n[A]\n  k = old \nk=dup\n[o]\nq = 'v'\n",
       "a", "K", "new", "; c\n[A]\nK=new\r\nk=dup\n[o]\nq = 'v'\n"},
      {"only the first twin section is updated", "[a]\nk=1\n[a]\nk=2\n", "a", "k", "3",
       "[a]\nk=3\r\n[a]\nk=2\n"},
      {"new section at the end", "[a]\nx=1\n", "b", "y", "2", "[a]\nx=1\n[b]\r\ny=2\r\n"},
      {"unterminated last line gets a line end", "[a]\nx=1", "b", "y", "2",
       "[a]\nx=1\r\n[b]\r\ny=2\r\n"},
      {"unterminated key line before an insertion", "[a]\nx=1", "a", "y", "2",
       "[a]\nx=1\r\ny=2\r\n"},
      {"unterminated section header", "[a]", "a", "y", "2", "[a]\r\ny=2\r\n"},
      {"lines before any section kept", "junk\nk=1\n", "a", "k", "2", "junk\nk=1\n[a]\r\nk=2\r\n"},
      {"malformed bytes kept", "\xff\xfe\xff\n[a]\nx=1\n", "a", "x", "2",
       "\xff\xfe\xff\n[a]\nx=2\r\n"},
      {"lead byte before a line end kept", "[a]\nv=\x81\nx=1\n", "a", "x", "2",
       "[a]\nv=\x81\nx=2\r\n"},
      {"value written as given", "", "a", "k", "  spaced  ", "[a]\r\nk=  spaced  \r\n"},
  };
  for (const WriteCase& c : cases) {
    QFile::remove(Path());
    if (c.before != "<missing>") Put(c.before);
    ProfileFile(Path()).WriteString(c.section, c.key, c.value);
    EXPECT_EQ(Get(), c.after) << c.what;
  }
  EXPECT_EQ(FolderEntries(), QStringList{"test.ini"}) << "no temporary file is left";
}

TEST_F(ProfileTest, ChineseKeysAndValuesRoundTripInGbk) {
  ProfileFile file(Path());
  const QString section = QString::fromUtf8("窗口");
  const QString key = QString::fromUtf8("按钮_Caption");
  const QString value = QString::fromUtf8("确  定（中文）");
  file.WriteString(section, key, value);
  file.WriteInt(section, QString::fromUtf8("字号"), -12);
  EXPECT_EQ(file.ReadString(section, key, {}), value);
  EXPECT_EQ(file.ReadInt(section, QString::fromUtf8("字号"), 0), -12);
  EXPECT_EQ(Get(), platform::EncodeGbk(QString::fromUtf8("[窗口]\r\n按钮_Caption=确  定（中文）\r\n"
                                                         "字号=-12\r\n")));
}

TEST_F(ProfileTest, CharactersWithoutAGbkFormReadBackAsTheFileHasThem) {
  ProfileFile file(Path());
  file.WriteString("a", "k", QString::fromUtf8("x\U0001F600y"));
  const QString stored = file.ReadString("a", "k", {});
  EXPECT_FALSE(stored.contains(QString::fromUtf8("\U0001F600")));
  Put(Get() + "; touched\r\n");  // forces a fresh parse of the same key line
  EXPECT_EQ(file.ReadString("a", "k", {}), stored);
}

TEST_F(ProfileTest, SeesChangesMadeByAnotherProgram) {
  ProfileFile file(Path());
  file.WriteString("a", "k", "1111");
  EXPECT_EQ(file.ReadString("a", "k", {}), "1111");
  Put("[a]\r\nk=2222\r\n");  // same size, written behind the layer's back
  EXPECT_EQ(file.ReadString("a", "k", {}), "2222");
  file.WriteString("a", "j", "3");
  EXPECT_EQ(Get(), "[a]\r\nk=2222\r\nj=3\r\n");
  QFile::remove(Path());
  EXPECT_EQ(file.ReadString("a", "k", "gone"), "gone");
}

TEST_F(ProfileTest, WriteThatChangesNothingLeavesTheFileAlone) {
  Put("[a]\r\nk=1\r\nq=\"x\"\r\n");
  struct stat before {};
  ASSERT_EQ(::stat(QFile::encodeName(Path()).constData(), &before), 0);
  // Read-only, so that any replacement would fail: values the file already
  // holds, as a write would put them, are no change.
  ASSERT_EQ(::chmod(QFile::encodeName(Path()).constData(), 0444), 0);
  ProfileFile file(Path());
  EXPECT_NO_THROW(file.WriteString("a", " k ", "1"));
  EXPECT_NO_THROW(file.WriteInt("a", "k", 1));
  EXPECT_THROW(file.WriteString("a", "q", "x"), EProfileWriteError) << "q=x differs from q=\"x\"";
  EXPECT_THROW(file.WriteString("a", "k", "2"), EProfileWriteError);
  EXPECT_EQ(file.ReadString("a", "k", {}), "1");
  struct stat after {};
  ASSERT_EQ(::stat(QFile::encodeName(Path()).constData(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  ASSERT_EQ(::chmod(QFile::encodeName(Path()).constData(), 0644), 0);
}

TEST_F(ProfileTest, BatchGoesToTheDiskOnceAndKeepsOtherWriters) {
  Put("[a]\r\nk=1\r\n");
  platform::ProfileBatch batch(Path());
  batch.WriteString("a", "j", "2");
  batch.WriteString("b", "x", "3");
  EXPECT_EQ(batch.ReadString("a", "j", {}), "2") << "the batch reads its own writes";
  EXPECT_EQ(Get(), "[a]\r\nk=1\r\n") << "nothing before the commit";
  Put("[a]\r\nk=9\r\n");  // another program changes the file meanwhile
  EXPECT_THROW(batch.WriteString("a", "k=", "v"), EProfileWriteError);
  batch.Commit();
  EXPECT_EQ(Get(), "[a]\r\nk=9\r\nj=2\r\n[b]\r\nx=3\r\n");

  // A failed commit keeps the file and names it.
  platform::ProfileBatch failing(Path());
  failing.WriteString("a", "k", "10");
  ASSERT_EQ(::chmod(QFile::encodeName(Path()).constData(), 0444), 0);
  try {
    failing.Commit();
    ADD_FAILURE() << "a read-only file was replaced";
  } catch (const EProfileWriteError& e) {
    EXPECT_EQ(e.Text(), "Unable to write to " + Path());
  }
  ASSERT_EQ(::chmod(QFile::encodeName(Path()).constData(), 0644), 0);
  EXPECT_EQ(Get(), "[a]\r\nk=9\r\nj=2\r\n[b]\r\nx=3\r\n");
  EXPECT_EQ(FolderEntries(), QStringList{"test.ini"});
}

TEST_F(ProfileTest, FailedWritesNameTheFileAndChangeNothing) {
  const QString missing = Path(QStringLiteral("no/such/folder/x.ini"));
  try {
    ProfileFile(missing).WriteString("a", "k", "v");
    FAIL() << "a write into a missing folder succeeded";
  } catch (const EProfileWriteError& e) {
    EXPECT_EQ(e.Text(), "Unable to write to " + missing);
    EXPECT_FALSE(e.Reason().isEmpty());
  }

  Put("[a]\nk=1\n");
  ASSERT_EQ(::chmod(QFile::encodeName(Path()).constData(), 0444), 0);
  EXPECT_THROW(ProfileFile(Path()).WriteString("a", "k", "2"), EProfileWriteError);
  ASSERT_EQ(::chmod(QFile::encodeName(Path()).constData(), 0644), 0);
  EXPECT_EQ(Get(), "[a]\nk=1\n");

  // Names and values that would not read back as written.
  const std::tuple<QString, QString, QString> refused[] = {
      {"a", "k", "line\r\nk2=injected"},
      {"a", "k", "x\ny"},
      {"a]", "k", "v"},
      {"a", "k=j", "v"},
      {"a", "", "v"},
      {"a", "  ", "v"},
      {"a", ";k", "v"},
      {"a", "[k", "v"},
      {"a\n", "k", "v"},
  };
  for (const auto& [section, key, value] : refused)
    EXPECT_THROW(ProfileFile(Path()).WriteString(section, key, value), EProfileWriteError)
        << key.toStdString() << "=" << value.toStdString();
  EXPECT_EQ(Get(), "[a]\nk=1\n");
  EXPECT_EQ(FolderEntries(), QStringList{"test.ini"});
}

// What is at a name: kind, inode and mode, a link's target, a file's bytes.
std::string Fingerprint(const QString& path) {
  struct stat info {};
  if (::lstat(QFile::encodeName(path).constData(), &info) != 0) return "nothing";
  QString print = QString::asprintf("mode %o inode %lu", info.st_mode, info.st_ino);
  if (S_ISLNK(info.st_mode)) print += " -> " + QFile::symLinkTarget(path);
  if (S_ISREG(info.st_mode)) print += QString(" size %1").arg(info.st_size);
  return print.toStdString();
}

// Counts the opens of one file system object while it lives.
class OpenWatch {
 public:
  explicit OpenWatch(const QString& path) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ >= 0) inotify_add_watch(fd_, QFile::encodeName(path).constData(), IN_OPEN);
  }
  ~OpenWatch() {
    if (fd_ >= 0) ::close(fd_);
  }
  OpenWatch(const OpenWatch&) = delete;
  OpenWatch& operator=(const OpenWatch&) = delete;
  bool Opened() const {
    char buffer[4096];
    return fd_ >= 0 && ::read(fd_, buffer, sizeof buffer) > 0;
  }

 private:
  int fd_;
};

// Only a regular file is read or replaced. Anything else reads as missing,
// refuses every write with its reason and is left as it was; a named pipe or
// a device is not even opened (opening one can block, or act on the device).
TEST_F(ProfileTest, OnlyARegularFileIsReadOrReplaced) {
  const auto file = [this](const QByteArray& bytes, mode_t mode) {
    return [this, bytes, mode](const QString& path) {
      Put(bytes, QFileInfo(path).fileName());
      return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
    };
  };
  const auto node = [](mode_t kind) {
    return [kind](const QString& path) {
      return ::mknod(QFile::encodeName(path).constData(), kind | 0666, makedev(1, 3)) == 0;
    };
  };
  const struct {
    const char* name;
    std::function<bool(const QString& path)> make;  // false: cannot be made here
    const char* read;                               // what [a] k reads as
    const char* refusal;                            // part of the write's reason; nullptr: written
    mode_t mode = 0;                                // of the written file
    bool watchOpens = false;
  } cases[] = {
      {"regular file", file("[a]\nk=1\n", 0600), "1", nullptr, 0600},
      {"link to a regular file",
       [&file, this](const QString& path) {
         return file("[a]\nk=1\n", 0640)(Path("real.ini")) && QFile::link("real.ini", path);
       },
       "1", nullptr, 0640},
      {"read-only file", file("[a]\nk=1\n", 0444), "1", "The file is read-only"},
      {"file too large for a profile",
       [&file](const QString& path) {
         return file("[a]\nk=1\n", 0644)(path) && QFile::resize(path, 17 << 20);
       },
       "d", "too large"},
      {"named pipe", node(S_IFIFO), "d", "named pipe (FIFO)", 0, true},
      {"device node", node(S_IFCHR), "d", "It is a device", 0, true},
      {"folder", [](const QString& path) { return QDir().mkdir(path); }, "d", "It is a folder"},
      {"link to nothing", [](const QString& path) { return QFile::link("missing.ini", path); }, "d",
       "symbolic link to a missing file"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    for (const QString& entry :
         QDir(dir_.path())
             .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)) {
      const QByteArray name = QFile::encodeName(Path(entry));
      if (::unlink(name.constData()) != 0) ::rmdir(name.constData());
    }
    if (!test.make(Path())) {
      std::cout << "[ SKIPPED  ] " << test.name << " cannot be made here\n";
      continue;
    }
    const std::string before = Fingerprint(Path());
    const OpenWatch opens(Path());
    ProfileFile profile(Path());
    EXPECT_EQ(profile.ReadString("a", "k", "d"), test.read);
    if (test.refusal) {
      try {
        profile.WriteString("a", "k", "2");
        ADD_FAILURE() << "written";
      } catch (const EProfileWriteError& e) {
        EXPECT_EQ(e.Text(), "Unable to write to " + Path());
        EXPECT_TRUE(e.Reason().contains(test.refusal)) << e.Reason().toStdString();
      }
      EXPECT_EQ(Fingerprint(Path()), before);
    } else {
      profile.WriteString("a", "k", "2");
      EXPECT_EQ(profile.ReadString("a", "k", {}), "2");
      EXPECT_EQ(QFileInfo(Path()).isSymLink(), (before.find(" -> ") != std::string::npos))
          << "a link stays";
      struct stat info {};
      ASSERT_EQ(::stat(QFile::encodeName(Path()).constData(), &info), 0);
      EXPECT_EQ(info.st_mode & 07777, test.mode);
    }
    if (test.watchOpens) {
      EXPECT_FALSE(opens.Opened()) << "opened";
    }
    for (const QString& entry : FolderEntries())
      EXPECT_FALSE(entry.startsWith('.')) << "temporary file left: " << entry.toStdString();
  }
}

}  // namespace
