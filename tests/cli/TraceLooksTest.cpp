// A station's repeated looks for a converter, as --trace shows them: the
// first look whole, the repeats as a count.
#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include "cli/TraceLooks.h"
#include "protocol/Frame.h"

namespace {

using protocol::TrafficKind;
using protocol::TrafficRow;
using protocol::TrafficTime;

TrafficRow Row(TrafficKind kind, const std::string& detail = {}) {
  TrafficRow row;
  row.kind = kind;
  row.detail = detail;
  if (kind == TrafficKind::Sent || kind == TrafficKind::Received) {
    const protocol::Frame frame = protocol::BuildQueryFrame(protocol::CMD_GET_VERSION);
    std::copy(frame.begin(), frame.end(), row.bytes.begin());
    row.byteCount = row.keptCount = protocol::FRAME_LENGTH;
  } else if (kind == TrafficKind::Noise) {
    row.byteCount = row.keptCount = 3;
  }
  return row;
}

// Runs a script of words: "look" begins a look, "end" ends the looks,
// "wait" lets a minute pass; tx, rx, noise and timeout are rows. Returns
// what was passed on: tx, rx, noise, or a message's text.
QStringList Passed(const QString& script) {
  QStringList passed;
  cli::RepeatedLooks looks([&](const TrafficRow& row) {
    passed << (row.kind == TrafficKind::Sent       ? QStringLiteral("tx")
               : row.kind == TrafficKind::Received ? QStringLiteral("rx")
               : row.kind == TrafficKind::Noise    ? QStringLiteral("noise")
                                                   : QString::fromStdString(row.detail));
  });
  TrafficTime now = std::chrono::hours(1);
  for (const QString& word : script.split(' ')) {
    now += word == QLatin1String("wait") ? std::chrono::seconds(61) : std::chrono::seconds(1);
    TrafficRow row = word == QLatin1String("tx")      ? Row(TrafficKind::Sent)
                     : word == QLatin1String("rx")    ? Row(TrafficKind::Received)
                     : word == QLatin1String("noise") ? Row(TrafficKind::Noise)
                                                      : Row(TrafficKind::Message, "timeout");
    row.time = now;
    if (word == QLatin1String("look"))
      looks.Begin(now);
    else if (word == QLatin1String("end"))
      looks.End(now);
    else if (word != QLatin1String("wait"))
      looks.Row(row);
  }
  return passed;
}

TEST(RepeatedLooks, ShowTheFirstLookAndCountTheRepeats) {
  const QString one = QStringLiteral("1 more look like the one above, its rows left out");
  const QString two = QStringLiteral("2 more looks like the one above, their rows left out");
  struct Case {
    const char* name;
    const char* script;
    QStringList passed;
  };
  const Case cases[] = {
      {"a silent adapter: the repeats are told when the looks end",
       "look tx timeout look tx timeout look tx timeout end",
       {"tx", "timeout", two}},
      {"a look that differs: the count first, then the look",
       "look tx timeout look tx timeout look tx rx end",
       {"tx", "timeout", one, "tx", "rx"}},
      {"noise is alike however it was cut into rows",
       "look tx noise timeout look tx noise noise timeout end",
       {"tx", "noise", "timeout", one}},
      {"a look without rows (no port) makes the next one news",
       "look tx timeout look look tx timeout end",
       {"tx", "timeout", "tx", "timeout"}},
      {"while the looks repeat, the count is told at least once a minute",
       "look tx timeout look tx timeout wait look tx timeout look tx timeout end",
       {"tx", "timeout", one, two}},
      {"rows outside the looks pass at once; after the end a look is news",
       "look tx rx end tx look tx rx end",
       {"tx", "rx", "tx", "tx", "rx"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Passed(c.script), c.passed) << c.name;
}

}  // namespace
