// quillon-cli --trace against convsim: what went over the line, decoded, on
// stderr as it happened; with --json one object per line, the result alone
// on stdout.
#include <QJsonArray>
#include <QRegularExpression>

#include "cli/CliFixture.h"

namespace {

using namespace cli_testing;

// The trace lines of stderr (those that begin with their time, after the
// port's name when there is one), of one port when `port` is given.
QStringList TraceLines(const QString& errors, const QString& port = {}) {
  static const QRegularExpression traced(QStringLiteral("^\\+\\d+\\.\\d{3} "));
  QStringList lines;
  for (QString line : errors.split('\n')) {
    if (!port.isEmpty() && !line.startsWith(port + QStringLiteral(": "))) continue;
    if (!port.isEmpty()) line = line.mid(port.size() + 2);
    if (traced.match(line).hasMatch()) lines << line;
  }
  return lines;
}

// Each line matches its pattern, in order, and the times never go back.
void ExpectLines(const QStringList& lines, const QStringList& patterns, const char* label) {
  ASSERT_EQ(lines.size(), patterns.size()) << label << ":\n" << lines.join('\n').toStdString();
  double previous = 0;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    EXPECT_TRUE(QRegularExpression(patterns[i]).match(lines[i]).hasMatch())
        << label << " line " << i << ": " << lines[i].toStdString();
    const double time = lines[i].section(' ', 0, 0).toDouble();
    EXPECT_GE(time, previous) << label << " line " << i;
    previous = time;
  }
  if (!lines.isEmpty()) {
    EXPECT_TRUE(lines.front().startsWith("+0.000 ")) << label;
  }
}

TEST_F(CliTest, TraceTellsEveryExchangeOfAWriteInTextAndAsJson) {
  const QString golden = File("golden.bin");
  ASSERT_EQ(Cli({"read", golden}).exitCode, 0);
  convsim_->Control("fault CMD_CONVT_GET noise 6");
  convsim_->Control("fault CMD_COM_SET refuse");

  const CliResult text = CliText({"--trace", "write", golden});
  EXPECT_EQ(text.exitCode, 1) << text.errors.toStdString();
  ExpectLines(TraceLines(text.errors),
              {"^\\+0\\.000 tx CMD_CONVT_GET len 1 crc ok 7F 01 40 10 00 01 FF( 00){19} 77 AF 0D$",
               " rx noise 6 bytes 00 55 AA 13 FF 3C$",
               " rx CMD_CONVT_GET status 0x20 ok len 16 crc ok transparent conversion, .* 7F 01 40 "
               "10 00 10 20 ",
               " tx CMD_COM_GET len 1 crc ok 7F 01 20 10 ",
               " rx CMD_COM_GET status 0x20 ok len 8 crc ok 9600 bit/s, 8 data bits, no parity, 1 "
               "stop bit 7F ",
               " tx CMD_CAN_GET ", " rx CMD_CAN_GET status 0x20 ok ",
               " tx CMD_CONVT_SET len 15 crc ok transparent conversion",
               " rx CMD_CONVT_SET status 0x20 ok len 1 crc ok 7F ",
               " tx CMD_COM_SET len 7 crc ok 9600 bit/s",
               " rx CMD_COM_SET status 0x21 refused len 1 crc ok \\(refused by the converter\\) 7F "
               "01 20 20 00 01 21 ",
               " msg the converter refused the request \\(CMD_COM_SET, status 0x21\\)$"},
              "text");

  // The same story as JSON, and the failure told as a message row too:
  // every stderr line one object, stdout the result alone.
  const CliResult json = Cli({"--trace", "write", golden});
  EXPECT_EQ(json.exitCode, 1);
  EXPECT_EQ(json.json.value("written").toArray(), QJsonArray({"convt"}));
  const std::vector<QJsonObject> rows = JsonLines(json.errors.toUtf8());
  QStringList jsonSteps, textSteps;
  for (const QJsonObject& row : rows)
    jsonSteps << row["dir"].toString() + ' ' +
                     (row["kind"] == "frame" ? row["command"] : row["kind"]).toString();
  for (const QString& line : TraceLines(text.errors))
    textSteps << (line.section(' ', 1, 1) == "msg" ? "msg message" : line.section(' ', 1, 2));
  EXPECT_EQ(jsonSteps.join(", "), (textSteps << "msg message").join(", "));
  ASSERT_EQ(rows.size(), 13u);
  EXPECT_EQ(rows[0].value("t").toDouble(), 0.0);
  EXPECT_EQ(rows[1].value("count").toInt(), 6);
  EXPECT_EQ(rows[1].value("bytes").toString(), "00 55 AA 13 FF 3C");
  EXPECT_EQ(rows[10].value("status").toInt(), 0x21);
  EXPECT_EQ(rows[10].value("accepted").toBool(true), false);
  EXPECT_EQ(rows[10].value("reason").toString(), "refused");
  EXPECT_TRUE(rows[12].value("text").toString().endsWith("written before the failure: convt"));

  // A port that will not open: its failure as rows, stderr still JSON only.
  const CliResult closed = RunCli(Bytes({"--port", File("golden.bin"), "--trace", "version"}));
  EXPECT_EQ(closed.exitCode, 3);
  const std::vector<QJsonObject> failure = JsonLines(closed.errors.toUtf8());
  ASSERT_FALSE(failure.empty());
  EXPECT_TRUE(failure.front().value("text").toString().contains("not a serial device"));
}

TEST_F(CliTest, TraceOfSeveralPortsNamesThePortOnEveryLine) {
  const auto second =
      StartUnit(dir_.path(), File("unit8"), 8, {"--fault", "CMD_GET_VERSION split 10 20"});
  const QString other = dir_.path() + QStringLiteral("/sys/ports/com8");

  const CliResult run =
      RunCliAsGiven(Bytes({"--port", Port() + ',' + other, "--trace", "version"}));
  EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
  for (const QString& line : run.errors.split('\n', Qt::SkipEmptyParts))
    EXPECT_TRUE(line.startsWith(Port() + ": ") || line.startsWith(other + ": "))
        << line.toStdString();
  // A reply split into three chunks is still one row.
  for (const QString& port : {Port(), other})
    ExpectLines(TraceLines(run.errors, port),
                {"^\\+0\\.000 tx CMD_GET_VERSION len 1 crc ok 7F 01 10 20 ",
                 " rx CMD_GET_VERSION status 0x20 ok len 9 crc ok software 1.2 build20170905, "
                 "hardware 1.0 7F 01 10 20 00 09 20 "},
                port.toUtf8().constData());
}

// A waiting station looks for a converter every 1.5 s while the adapter
// babbles: the first look shows, the repeats become a count, the last look
// ends with "no answer".
TEST_F(CliTest, TraceOfAWaitingStationCountsItsRepeatedLooks) {
  convsim_->Control("fault CMD_GET_VERSION wrongaddr");
  const CliResult run = CliText({"--trace", "--wait", "--no-answer", "3", "version"});
  EXPECT_EQ(run.exitCode, 4) << run.errors.toStdString();
  const QStringList look = {" tx CMD_GET_VERSION ",
                            " rx CMD_GET_VERSION .*\\(wrong address 0x02\\)",
                            " msg operating timeout\\. "};
  ExpectLines(TraceLines(run.errors),
              look + QStringList{" msg \\d+ more looks? like the one above"} + look +
                  QStringList{" msg no answer$"},
              "station");
}

}  // namespace
