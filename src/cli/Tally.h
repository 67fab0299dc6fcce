#pragma once

#include <QJsonObject>
#include <QString>

#include "cli/CliError.h"

namespace cli {

// What several converters add up to: one port of a --repeat loop, or every
// port of a run. A converter that never answered is counted apart from the
// failed ones and fails the run all the same.
struct Tally {
  int passed = 0;
  int failed = 0;
  int noAnswer = 0;
  int status = kExitDone;  // the most serious status among them

  void Count(int converterStatus, bool answered = true);
  Tally& operator+=(const Tally& other);
};

// "passed 2, failed 1, no answer 0"; {"passed":2,"failed":1,"noAnswer":0}.
QString TallyText(const Tally& tally);
QJsonObject TallyJson(const Tally& tally);

}  // namespace cli
