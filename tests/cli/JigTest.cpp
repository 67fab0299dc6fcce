// The production jig end to end: quillon-cli on several simulated converters
// at once (a good one, one that refuses, a silent one, one pulled out, one
// whose checksums do not hold), its report, `find`, and the station cases of
// --wait --repeat. The program runs from a program folder of its own, so that
// its COM numbers and `find` see this test's simulators (and the machine's
// own ports) only.
#include <unistd.h>

#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSet>
#include <csignal>
#include <map>
#include <optional>

#include "cli/CliFixture.h"
#include "support/FileBytes.h"

namespace {

using namespace cli_testing;

struct JigRun {
  int exitCode = -1;
  std::vector<QJsonObject> lines;  // one JSON object per stdout line
  QString errors;
};

// The objects of `lines` that belong to `port`, or hold no port (summaries).
std::vector<QJsonObject> Of(const std::vector<QJsonObject>& lines, const QString& port) {
  std::vector<QJsonObject> of;
  for (const QJsonObject& line : lines)
    if (line.value("port").toString() == port) of.push_back(line);
  return of;
}

QStringList Strings(const QJsonValue& list) {
  QStringList strings;
  for (const QJsonValue& value : list.toArray()) strings << value.toString();
  return strings;
}

class JigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(QDir(dir_.path()).mkpath("sys"));
    const QString bin = QFileInfo(CliExe()).absolutePath();
    for (const char* file : {"LangCHN.MUL", "LangENU.MUL", "sys/QNdata.adt", "sys/QNdata.adt.key"})
      QFile::copy(bin + '/' + file, File(file));
    // The same program, started from this folder: a hard link where the
    // folders share a file system, else a copy.
    if (link(CliExe().toUtf8().constData(), exe_.toUtf8().constData()) != 0) {
      ASSERT_TRUE(QFile::copy(CliExe(), exe_));
    }
  }

  QString File(const QString& name) const { return dir_.path() + '/' + name; }

  // A simulated unit on COM `com` of the program folder; its frames are
  // logged in a folder of its own.
  std::unique_ptr<ConvsimProcess> Unit(int com, const QStringList& args = {}) {
    return StartUnit(dir_.path(), File(QStringLiteral("unit%1").arg(++units_)), com, args);
  }

  // Pulls the unit on COM `com` out: it ends at once, and its link leads to
  // a node that is gone (not to a pseudo-terminal of the same number that
  // another simulator may get next).
  void PullOut(ConvsimProcess& unit, int com) {
    unit.Kill();
    const QString link = File(QStringLiteral("sys/ports/com%1").arg(com));
    const QString fresh = link + QStringLiteral(".new");
    ASSERT_EQ(symlink(File("unplugged").toUtf8().constData(), fresh.toUtf8().constData()), 0);
    ASSERT_EQ(rename(fresh.toUtf8().constData(), link.toUtf8().constData()), 0);
  }

  std::unique_ptr<ChildProcess> Start(const QStringList& args) {
    return StartCli(Bytes(args), exe_);
  }

  JigRun Run(const QStringList& args) {
    const auto cli = Start(QStringList{"--json"} + args);
    const auto status = cli->Wait(kRunTime);
    JigRun run;
    run.exitCode = status && status->exited ? status->code : -1;
    run.lines = JsonLines(QByteArray::fromStdString(cli->TakeOutput()));
    run.errors = QString::fromStdString(cli->TakeErrors());
    return run;
  }

  // Waits until the program has said `text` on stderr.
  static void WaitUntilSaid(ChildProcess& cli, const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + kRunTime;
    std::string said;
    while ((said += cli.TakeErrors()).find(text) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
      cli.Wait(std::chrono::milliseconds(10));
  }

  // The setting commands a unit received.
  static QStringList Sets(const ConvsimProcess& unit) {
    return unit.ReceivedCommands().filter(QRegularExpression("_SET$"));
  }

  QTemporaryDir dir_;
  QString exe_ = dir_.path() + QStringLiteral("/quillon-cli");
  int units_ = 0;
};

TEST_F(JigTest, ManyPortsAtOnceWithTheirReportAndFind) {
  auto good = Unit(3);
  auto refusing = Unit(4, {"--fault", "CMD_COM_SET refuse"});
  auto silent = Unit(5, {"--fault", "all silence"});
  auto pulled = Unit(6);
  PullOut(*pulled, 6);
  auto badCrc = Unit(7, {"--fault", "all badcrc"});
  ASSERT_EQ(Run({"--port", "COM3", "read", File("golden.bin")}).exitCode, 0);

  // find: every present port asked at once, a device reached under two
  // numbers once; only our numbers are looked at.
  const QString com3Device = QFileInfo(File("sys/ports/com3")).symLinkTarget();
  ASSERT_EQ(symlink(com3Device.toUtf8().constData(), File("sys/ports/com10").toUtf8().constData()),
            0);
  const QStringList ours{"COM3", "COM4", "COM5", "COM6", "COM7", "COM10"};
  const auto listed = [&](const QJsonObject& found, const char* key) {
    QStringList ports;
    for (const QJsonValue& port : found.value(key).toArray())
      if (ours.contains(port["port"].toString())) ports << port["port"].toString();
    return ports;
  };
  const struct {
    QStringList args;
    QStringList converters, silent;
  } finds[] = {
      {{"find"}, {"COM3", "COM4", "COM7"}, {"COM5"}},
      {{"find", "--strict-crc"}, {"COM3", "COM4"}, {"COM5", "COM7"}},
  };
  for (const auto& find : finds) {
    SCOPED_TRACE(find.args.join(' ').toStdString());
    const JigRun run = Run(find.args);
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    ASSERT_EQ(run.lines.size(), 1u);
    EXPECT_EQ(listed(run.lines[0], "converters"), find.converters);
    EXPECT_EQ(listed(run.lines[0], "silent"), find.silent);
    EXPECT_EQ(run.lines[0]["converters"][0]["version"]["build"].toString(), "build20170905");
  }

  // One write to four ports: each its own outcome, the silent one holds up
  // no other, the most serious status is the run's.
  const QStringList setsBefore = Sets(*good);
  const JigRun write = Run(
      {"--port", "COM3,COM4,COM5,COM6", "--report", File("r.jsonl"), "write", File("golden.bin")});
  EXPECT_EQ(write.exitCode, 4) << write.errors.toStdString();
  ASSERT_EQ(write.lines.size(), 5u);
  EXPECT_EQ(
      write.lines.back(),
      (QJsonObject{{"ok", false}, {"passed", 1}, {"failed", 3}, {"noAnswer", 0}, {"exit", 4}}));
  const auto position = [&](const char* port) {
    for (std::size_t i = 0; i < write.lines.size(); ++i)
      if (write.lines[i]["port"].toString() == port) return i;
    return write.lines.size();
  };
  EXPECT_LT(position("COM3"), position("COM5")) << "the silent port holds up no other";
  EXPECT_EQ(Sets(*good).size(), setsBefore.size() + 3);
  EXPECT_EQ(Sets(*refusing), (QStringList{"CMD_CONVT_SET", "CMD_COM_SET"}));
  EXPECT_TRUE(Sets(*silent).isEmpty());
  EXPECT_TRUE(
      write.errors.contains("COM4: the converter refused the request (CMD_COM_SET, "
                            "status 0x21); written before the failure: convt"))
      << write.errors.toStdString();

  const std::vector<QJsonObject> report =
      JsonLines(testing_support::ReadFileBytes(File("r.jsonl")));
  ASSERT_EQ(report.size(), 4u);
  const struct {
    const char* port;
    int exit;
    const char* result;  // its start
    std::optional<QStringList> written;
    bool answered;
  } expected[] = {
      {"COM3", 0, "ok", std::nullopt, true},
      {"COM4", 1, "the converter refused", QStringList{"convt"}, true},
      {"COM5", 4, "operating timeout.", std::nullopt, false},
      {"COM6", 3, "COM6: Error opening serial port", std::nullopt, false},
  };
  const QRegularExpression isoTime(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$)");
  for (const auto& row : expected) {
    SCOPED_TRACE(row.port);
    const std::vector<QJsonObject> entries = Of(report, row.port);
    ASSERT_EQ(entries.size(), 1u);
    const QJsonObject& entry = entries[0];
    EXPECT_EQ(entry["exit"].toInt(), row.exit);
    EXPECT_TRUE(entry["result"].toString().startsWith(row.result))
        << entry["result"].toString().toStdString();
    EXPECT_EQ(entry.contains("written"), row.written.has_value());
    if (row.written) {
      EXPECT_EQ(Strings(entry["written"]), *row.written);
    }
    EXPECT_EQ(entry["version"].isObject(), row.answered);
    EXPECT_TRUE(isoTime.match(entry["time"].toString()).hasMatch())
        << entry["time"].toString().toStdString();
    EXPECT_EQ(entry["command"].toString(), "write");
    EXPECT_EQ(entry["file"].toString(), File("golden.bin"));
    EXPECT_TRUE(
        QRegularExpression("^0x[0-9a-f]{8}$").match(entry["fileCrc"].toString()).hasMatch());
    EXPECT_TRUE(entry.contains("usbSerial"));  // null: a pseudo-terminal has none
    EXPECT_EQ(entry["device"].isString(), row.exit != 3);
  }

  // The run's status is the most serious of its ports': 4, then 1, 3, 2.
  const struct {
    QStringList args;
    int exitCode;
    QStringList answered;  // the ports with an object of "ok":true
  } runs[] = {
      {{"--port", "COM3,COM4", "write", File("golden.bin")}, 1, {"COM3"}},
      {{"--port", "COM3,COM6", "write", File("golden.bin")}, 3, {"COM3"}},
      {{"--port", "COM6,COM4", "write", File("golden.bin")}, 1, {}},
      {{"--port", "COM4,COM5", "write", File("golden.bin")}, 4, {}},
      {{"--port", "COM7,COM3", "version"}, 0, {"COM7", "COM3"}},
      {{"--port", "COM7,COM3", "--strict-crc", "version"}, 4, {"COM3"}},
      {{"--port", "all", "version"}, 0, {"COM3", "COM4", "COM7"}},
      {{"--port", "COM3,COM4", "read", File("r-{port}.bin")}, 0, {"COM3", "COM4"}},
      {{"--port", "COM3,COM4", "read", File("r.bin")}, 2, {}},
      {{"--port", "COM3," + File("sys/ports/com3"), "version"}, 2, {}},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.args.join(' ').toStdString());
    const QStringList framesBefore = good->ReceivedCommands();
    const JigRun result = Run(run.args);
    EXPECT_EQ(result.exitCode, run.exitCode) << result.errors.toStdString();
    QStringList answered;
    for (const QJsonObject& line : result.lines)
      if (line["ok"].toBool() && ours.contains(line["port"].toString()))
        answered << line["port"].toString();
    EXPECT_EQ(QSet<QString>(answered.begin(), answered.end()),
              QSet<QString>(run.answered.begin(), run.answered.end()));
    if (run.exitCode == 2) {
      EXPECT_EQ(good->ReceivedCommands(), framesBefore) << "nothing sent";
    }
  }
  EXPECT_EQ(QFileInfo(File("r-COM3.bin")).size(), 3101);
  EXPECT_EQ(QFileInfo(File("r-COM4.bin")).size(), 3101);
  EXPECT_FALSE(QFileInfo::exists(File("r.bin")));

  // Text: every line says its port, the total closes.
  const auto text = Start({"--port", "COM3,COM4", "version"});
  ASSERT_TRUE(text->Wait(kRunTime).has_value());
  const QStringList textLines =
      QString::fromStdString(text->TakeOutput()).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(textLines.size(), 7);
  for (const QString& line : textLines.mid(0, 6))
    EXPECT_TRUE(line.startsWith("COM3: ") || line.startsWith("COM4: ")) << line.toStdString();
  EXPECT_EQ(textLines.last(), "total: passed 2, failed 0, no answer 0");

  // Two processes append to one report, on the same three ports (each port
  // is the first one's or the second one's): whole lines only.
  const QStringList shared{"--report", File("shared.jsonl"), "--port", "COM3,COM4,COM7", "version"};
  const auto first = Start(shared);
  const auto second = Start(shared);
  ASSERT_TRUE(first->Wait(kRunTime).has_value());
  ASSERT_TRUE(second->Wait(kRunTime).has_value());
  const QByteArray appended = testing_support::ReadFileBytes(File("shared.jsonl"));
  EXPECT_EQ(appended.count('\n'), 6);
  for (const QJsonObject& entry : JsonLines(appended))
    EXPECT_EQ(entry["command"].toString(), "version") << appended.toStdString();
}

// A signal ends every port's wait at once; each says so, the total follows.
TEST_F(JigTest, ASignalEndsEveryPort) {
  const auto waiting = Start({"--json", "--wait", "--port", "COM11,COM12,COM13", "version"});
  WaitUntilSaid(*waiting, "waiting for a converter on COM13");
  waiting->Signal(SIGTERM);
  const std::vector<QJsonObject> lines = EndedWith(*waiting, 4);
  ASSERT_EQ(lines.size(), 4u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(lines[i]["error"].toString(), "interrupted");
  EXPECT_EQ(lines.back()["exit"].toInt(), 4);
}

// Two stations side by side, each plugged with units in turn; a line per
// unit, a report line per unit, and the summaries when SIGHUP ends them.
TEST_F(JigTest, StationsNeverLoseAUnit) {
  {
    auto source = Unit(3);
    ASSERT_EQ(Run({"--port", "COM3", "read", File("golden.bin")}).exitCode, 0);
  }
  const auto station = Start({"--json", "--port", "COM8,COM9", "--wait", "--repeat", "--no-answer",
                              "1", "--report", File("st.jsonl"), "write", File("golden.bin")});
  ASSERT_TRUE(station->Started());
  std::map<QString, std::vector<QJsonObject>> pending;
  const auto nextFor = [&](const QString& port) {
    while (pending[port].empty()) {
      const auto line = station->ReadLine(kRunTime);
      if (!line) return QJsonObject();
      const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(*line)).object();
      pending[object.value("port").toString()].push_back(object);
    }
    QJsonObject next = pending[port].front();
    pending[port].erase(pending[port].begin());
    return next;
  };
  std::unique_ptr<ConvsimProcess> com8, com9;
  const auto plug = [this](std::unique_ptr<ConvsimProcess>& slot, int com,
                           const QStringList& args = {}) {
    return [this, &slot, com, args] { slot = Unit(com, args); };
  };
  const auto pullOutDuringCanSet = [&] {
    com8 = Unit(8, {"--fault", "CMD_CAN_SET silence"});
    const auto deadline = std::chrono::steady_clock::now() + kRunTime;
    while (!com8->ReceivedCommands().contains("CMD_CAN_SET") &&
           std::chrono::steady_clock::now() < deadline)
      station->Wait(std::chrono::milliseconds(10));
    PullOut(*com8, 8);
  };
  struct Turn {
    const char* label;
    std::function<void()> plug;
    QString port;
    bool ok;
    const char* error;  // the start of it
    QStringList written;
  };
  const std::vector<std::vector<Turn>> steps = {
      {{"a good unit", plug(com8, 8), "COM8", true, "", {}},
       {"a unit that refuses a record",
        plug(com9, 9, {"--fault", "CMD_COM_SET refuse"}),
        "COM9",
        false,
        "the converter refused the request (CMD_COM_SET, status 0x21); written before the "
        "failure: convt",
        {"convt"}}},
      {{"the unit stops answering, something that does not answer is there",
        [&] { com8->Control("fault all wrongaddr"); },
        "COM8",
        false,
        "no answer",
        {}},
       {"a silent unit plugged with its adapter",
        plug(com9, 9, {"--fault", "all silence"}),
        "COM9",
        false,
        "no answer",
        {}}},
      {{"a unit pulled out in the middle of its write",
        pullOutDuringCanSet,
        "COM8",
        false,
        "",
        {"convt", "com"}},
       {"a good unit again", plug(com9, 9), "COM9", true, "", {}}},
      {{"a unit that refuses even the version query; the loop goes on",
        plug(com8, 8, {"--fault", "CMD_GET_VERSION refuse"}),
        "COM8",
        false,
        "the converter refused the request (CMD_GET_VERSION, status 0x21)",
        {}}},
  };
  const QString holder = QStringLiteral("quillon-cli (process %1)").arg(station->Pid());
  for (const auto& step : steps) {
    for (const Turn& turn : step) turn.plug();
    for (const Turn& turn : step) {
      SCOPED_TRACE(turn.label);
      const QJsonObject line = nextFor(turn.port);
      EXPECT_EQ(line["ok"].toBool(), turn.ok) << QJsonDocument(line).toJson().toStdString();
      EXPECT_TRUE(line["error"].toString().startsWith(QLatin1String(turn.error)) || !*turn.error)
          << line["error"].toString().toStdString();
      if (!turn.written.isEmpty()) {
        EXPECT_EQ(Strings(line["written"]), turn.written);
        EXPECT_TRUE(line["error"].toString().endsWith("written before the failure: " +
                                                      turn.written.join(", ")));
      }
    }
    if (&step != &steps.front()) continue;
    // A station holds its port while its unit is there, and every other
    // user sees who holds it: a second loop and a single command are
    // refused with the holder named, find lists it as in use.
    for (const QStringList& other : {QStringList{"--port", "COM8", "--wait", "--repeat", "version"},
                                     QStringList{"--port", "COM8", "version"}}) {
      SCOPED_TRACE(other.join(' ').toStdString());
      const JigRun run = Run(other);
      EXPECT_EQ(run.exitCode, 3);
      EXPECT_TRUE(run.errors.contains(holder)) << run.errors.toStdString();
    }
    QJsonArray holders;
    for (const QJsonValue& port : Run({"find"}).lines.at(0)["inUse"].toArray())
      if (port["port"].toString() == "COM8") holders = port["holders"].toArray();
    EXPECT_EQ(holders, (QJsonArray{QJsonObject{{"pid", station->Pid()}, {"name", "quillon-cli"}}}));
    com9.reset();  // the refusing unit is taken away
  }

  station->Signal(SIGHUP);
  for (const auto& [port, failed] : {std::pair<QString, int>{"COM8", 2}, {"COM9", 1}})
    EXPECT_EQ(
        nextFor(port),
        (QJsonObject{
            {"port", port}, {"passed", 1}, {"failed", failed}, {"noAnswer", 1}, {"exit", 4}}));
  EXPECT_EQ(
      nextFor(QString()),
      (QJsonObject{{"ok", false}, {"passed", 2}, {"failed", 3}, {"noAnswer", 2}, {"exit", 4}}));
  EndedWith(*station, 4);

  // One report line per unit, the silent ones without versions.
  const std::vector<QJsonObject> report =
      JsonLines(testing_support::ReadFileBytes(File("st.jsonl")));
  ASSERT_EQ(report.size(), 7u);
  for (const QString port : {"COM8", "COM9"}) {
    QStringList results;
    for (const QJsonObject& entry : Of(report, port))
      results << (entry["version"].isNull() ? entry["result"].toString() : QStringLiteral("v"));
    EXPECT_EQ(results.filter("no answer").size(), 1) << port.toStdString();
  }
  EXPECT_EQ(Strings(Of(report, "COM8")[2]["written"]), (QStringList{"convt", "com"}));
}

// Two names of a device that is not there yet: when it comes, one port runs
// and the other is refused, rather than both taking it in turns.
TEST_F(JigTest, TwoNamesOfADeviceThatComesLater) {
  const auto waiting =
      Start({"--json", "--wait", "--port", "COM14," + File("sys/ports/com14"), "version"});
  WaitUntilSaid(*waiting, "waiting for a converter on COM14");
  WaitUntilSaid(*waiting, "waiting for a converter on " + File("sys/ports/com14").toStdString());
  const auto unit = Unit(14);
  const std::vector<QJsonObject> lines = EndedWith(*waiting, 2);
  ASSERT_EQ(lines.size(), 3u);
  QStringList outcomes;
  for (std::size_t i = 0; i < 2; ++i)
    outcomes << (lines[i]["ok"].toBool() ? QStringLiteral("ok") : lines[i]["error"].toString());
  EXPECT_TRUE(outcomes.contains("ok")) << outcomes.join('\n').toStdString();
  EXPECT_EQ(outcomes.filter("as another port of this command does").size(), 1)
      << outcomes.join('\n').toStdString();
}

}  // namespace
