// A station's repeated looks for a converter, as --trace shows them: the
// first look whole, the repeats as a count.
#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <map>

#include "cli/TraceLooks.h"

namespace {

using protocol::TrafficKind;
using protocol::TrafficRow;
using protocol::TrafficTime;

const std::map<QString, TrafficKind> kKinds = {
    {"tx", TrafficKind::Sent}, {"rx", TrafficKind::Received}, {"noise", TrafficKind::Noise}};

// Runs a script of words: "look" begins a look, "end" ends the looks,
// "wait" lets a minute pass; tx, rx and noise are rows of their kind, any
// other word a message. Returns what was passed on: the words of the rows,
// the texts of the messages.
QStringList Passed(const QString& script) {
  QStringList passed;
  cli::RepeatedLooks looks([&](const TrafficRow& row) {
    QString word = QString::fromStdString(row.detail);
    for (const auto& [name, kind] : kKinds)
      if (row.kind == kind) word = name;
    passed << word;
  });
  TrafficTime now = std::chrono::hours(1);
  for (const QString& word : script.split(' ')) {
    now += word == "wait" ? std::chrono::seconds(61) : std::chrono::seconds(1);
    TrafficRow row;
    row.time = now;
    row.kind = kKinds.contains(word) ? kKinds.at(word) : TrafficKind::Message;
    if (row.kind == TrafficKind::Message) row.detail = word.toStdString();
    if (word == "look")
      looks.Begin(now);
    else if (word == "end")
      looks.End(now);
    else if (word != "wait")
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
