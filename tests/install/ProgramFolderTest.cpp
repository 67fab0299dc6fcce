// The program-folder decision over temporary places: build tree, installed
// program, seeding and its bad cases. Each case checks where the program
// keeps its files, what the per-user folder holds afterwards, and that a
// problem changes nothing on disk.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <functional>

#include "platform/ProgramFolder.h"
#include "support/WithoutFileCapabilities.h"

namespace {

using platform::PrepareProgramFolder;
using platform::ProgramFolderPlaces;
using testing_support::WithoutFileCapabilities;

// Three places under one temporary root; nothing exists until a case makes it.
struct Places {
  QString root, exe, data, home, user;
  ProgramFolderPlaces Decision() const { return {exe, data, user}; }
};

void Write(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(path.section('/', 0, -2));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << qPrintable(path);
  file.write(bytes);
}

QByteArray Read(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Every file's bytes and every folder under `folder`, by relative path.
QMap<QString, QByteArray> Snapshot(const QString& folder) {
  QMap<QString, QByteArray> entries;
  QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    entries[QDir(folder).relativeFilePath(path)] =
        it.fileInfo().isDir() ? QByteArray("<folder>") : Read(path);
  }
  return entries;
}

// The shipped files, each with its own bytes, under `folder`.
void Ship(const QString& folder, const QByteArray& tag) {
  for (const QString& file : platform::ShippedFiles())
    Write(folder + '/' + file, tag + ':' + file.toUtf8());
}

enum class Chosen { Executable, User };

struct Case {
  const char* name;
  std::function<void(const Places&)> arrange;
  Chosen chosen;
  const char* problem;  // a part of the problem's text; empty for none
  // The per-user folder's files afterwards; unlisted shipped files must be absent.
  QMap<QString, QByteArray> userFiles;
  bool withoutHome = false;  // neither XDG_DATA_HOME nor HOME names a folder
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

const QMap<QString, QByteArray> kSeededFromData{{"LangCHN.MUL", "data:LangCHN.MUL"},
                                                {"LangENU.MUL", "data:LangENU.MUL"},
                                                {"sys/QNdata.adt", "data:sys/QNdata.adt"}};

class ProgramFolderDecision : public testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.isValid());
    const QString root = root_.path();
    places_ = {root, root + "/usr/bin", root + "/usr/share/quillon-config", root + "/home",
               root + "/home/.local/share/quillon-config"};
    QDir().mkpath(places_.exe);
    QDir().mkpath(places_.home);
  }
  void TearDown() override {
    // Let the temporary folder be removed whatever a case made read-only.
    QDirIterator it(root_.path(), QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
      QFile::setPermissions(it.next(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }

  QTemporaryDir root_;
  Places places_;
};

TEST_P(ProgramFolderDecision, ChoosesSeedsAndLosesNothing) {
  const Case& c = GetParam();
  WithoutFileCapabilities unprivileged;
  ASSERT_TRUE(unprivileged.effective()) << "cannot drop root's file capabilities";
  c.arrange(places_);
  const QMap<QString, QByteArray> before = Snapshot(places_.root);

  ProgramFolderPlaces decision = places_.Decision();
  if (c.withoutHome) decision.userFolder.clear();
  const platform::ProgramFolderChoice choice = PrepareProgramFolder(decision);

  if (*c.problem) {
    EXPECT_TRUE(choice.problem.contains(QString::fromUtf8(c.problem)))
        << qPrintable(choice.problem);
    EXPECT_EQ(Snapshot(places_.root), before) << "a problem must leave every file as it was";
  } else {
    EXPECT_TRUE(choice.problem.isEmpty()) << qPrintable(choice.problem);
  }
  EXPECT_EQ(choice.folder, c.chosen == Chosen::User ? places_.user : places_.exe);
  for (const QString& file : platform::ShippedFiles()) {
    const QString path = places_.user + '/' + file;
    if (c.userFiles.contains(file)) {
      EXPECT_EQ(Read(path), c.userFiles[file]) << qPrintable(file);
    } else {
      EXPECT_FALSE(QFile::exists(path)) << qPrintable(file);
    }
  }
  // The shipped data and the executable's folder are only ever read.
  const QMap<QString, QByteArray> after = Snapshot(places_.root);
  for (auto it = before.begin(); it != before.end(); ++it) {
    if (!it.key().startsWith("usr/")) continue;
    EXPECT_EQ(after.value(it.key()), it.value()) << qPrintable(it.key());
  }
}

void MakeReadOnly(const QString& folder) {
  QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                    QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgramFolderDecision,
    testing::Values(
        Case{"BuildTreeStaysBesideTheExecutable",
             [](const Places& p) {
               Ship(p.exe, "exe");
               Ship(p.data, "data");
             },
             Chosen::Executable,
             "",
             {}},
        Case{"InstalledFirstStartSeedsThePerUserFolder",
             [](const Places& p) { Ship(p.data, "data"); }, Chosen::User, "", kSeededFromData},
        Case{"LaterStartKeepsTheUsersChanges",
             [](const Places& p) {
               Ship(p.data, "data");
               Ship(p.user, "data");
               Write(p.user + "/LangENU.MUL", "mine");
             },
             Chosen::User,
             "",
             {{"LangCHN.MUL", "data:LangCHN.MUL"},
              {"LangENU.MUL", "mine"},
              {"sys/QNdata.adt", "data:sys/QNdata.adt"}}},
        Case{"HalfSeededFolderIsCompleted",
             [](const Places& p) {
               Ship(p.data, "data");
               Write(p.user + "/LangCHN.MUL", "mine");
             },
             Chosen::User,
             "",
             {{"LangCHN.MUL", "mine"},
              {"LangENU.MUL", "data:LangENU.MUL"},
              {"sys/QNdata.adt", "data:sys/QNdata.adt"}}},
        Case{"ReadOnlyPortableFolderSeedsFromItself",
             [](const Places& p) {
               Ship(p.exe, "exe");
               MakeReadOnly(p.exe);
             },
             Chosen::User,
             "",
             {{"LangCHN.MUL", "exe:LangCHN.MUL"},
              {"LangENU.MUL", "exe:LangENU.MUL"},
              {"sys/QNdata.adt", "exe:sys/QNdata.adt"}}},
        Case{"ReadOnlyHomeIsReported",
             [](const Places& p) {
               Ship(p.data, "data");
               MakeReadOnly(p.home);
             },
             Chosen::Executable,
             "Cannot create the folder",
             {}},
        Case{"ReadOnlyPerUserFolderIsReported",
             [](const Places& p) {
               Ship(p.data, "data");
               Write(p.user + "/LangCHN.MUL", "mine");
               QDir().mkpath(p.user + "/sys");
               MakeReadOnly(p.user);
             },
             Chosen::Executable,
             "Cannot write in the folder",
             {{"LangCHN.MUL", "mine"}}},
        Case{"FileInPlaceOfTheFolderIsKept",
             [](const Places& p) {
               Ship(p.data, "data");
               Write(p.user, "someone's notes");
             },
             Chosen::Executable,
             "share/quillon-config is a file, not a folder",
             {}},
        Case{"FileInPlaceOfAParentIsNamed",
             [](const Places& p) {
               Ship(p.data, "data");
               Write(p.home + "/.local", "someone's notes");
             },
             Chosen::Executable,
             "home/.local is a file, not a folder",
             {}},
        Case{"BuildTreeWithoutLanguageFilesStaysBesideTheExecutable",
             [](const Places& p) {
               Ship(p.exe, "exe");
               QFile::remove(p.exe + "/LangCHN.MUL");
               QFile::remove(p.exe + "/LangENU.MUL");
             },
             Chosen::Executable,
             "",
             {}},
        Case{"NothingShippedAnywhereNamesTheDatabase",
             [](const Places&) {},
             Chosen::Executable,
             "usr/bin/sys/QNdata.adt is missing",
             {}},
        Case{"DataFolderWithoutTheDatabaseCopiesNothing",
             [](const Places& p) {
               Ship(p.data, "data");
               QFile::remove(p.data + "/sys/QNdata.adt");
             },
             Chosen::Executable,
             "usr/share/quillon-config/sys/QNdata.adt is missing",
             {}},
        Case{"UnreadableShippedFileCopiesNothing",
             [](const Places& p) {
               Ship(p.data, "data");
               QFile::setPermissions(p.data + "/LangENU.MUL", {});
             },
             Chosen::Executable,
             "LangENU.MUL: Permission denied",
             {}},
        Case{"ReadOnlyPortableFolderMustBeComplete",
             [](const Places& p) {
               Ship(p.exe, "exe");
               QFile::remove(p.exe + "/LangENU.MUL");
               MakeReadOnly(p.exe);
             },
             Chosen::Executable,
             "usr/bin/LangENU.MUL is missing",
             {}},
        Case{"IncompleteDataFolderKeepsWhatWasSeeded",
             [](const Places& p) {
               Ship(p.data, "data");
               QFile::remove(p.data + "/sys/QNdata.adt");
               Ship(p.user, "data");
               QFile::remove(p.user + "/sys/QNdata.adt");
             },
             Chosen::Executable,
             "sys/QNdata.adt is missing",
             {{"LangCHN.MUL", "data:LangCHN.MUL"}, {"LangENU.MUL", "data:LangENU.MUL"}}},
        Case{"WithoutAHomeIsReportedAndCreatesNothing",
             [](const Places& p) { Ship(p.data, "data"); },
             Chosen::Executable,
             "neither XDG_DATA_HOME nor HOME",
             {},
             true}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(PerUserFolder, FollowsTheXdgRules) {
  using platform::PerUserFolder;
  EXPECT_EQ(PerUserFolder("/x/data/", "/home/u"), "/x/data/quillon-config");
  EXPECT_EQ(PerUserFolder("", "/home/u"), "/home/u/.local/share/quillon-config");
  EXPECT_EQ(PerUserFolder("relative/data", "/home/u"), "/home/u/.local/share/quillon-config")
      << "a relative XDG_DATA_HOME is ignored";
  EXPECT_EQ(PerUserFolder("", ""), "");
}

}  // namespace
