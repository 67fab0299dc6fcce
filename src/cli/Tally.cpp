#include "cli/Tally.h"

namespace cli {

namespace {

int Rank(int status) {
  switch (status) {
    case kExitDone:
      return 0;
    case kExitUsage:
      return 1;
    case kExitPort:
      return 2;
    case kExitRefused:
      return 3;
    default:  // kExitNoReply
      return 4;
  }
}

}  // namespace

int MostSerious(int a, int b) {
  return Rank(a) >= Rank(b) ? a : b;
}

void Tally::Count(int converterStatus, bool answered) {
  if (!answered)
    ++noAnswer;
  else if (converterStatus == kExitDone)
    ++passed;
  else
    ++failed;
  status = MostSerious(status, converterStatus);
}

Tally& Tally::operator+=(const Tally& other) {
  passed += other.passed;
  failed += other.failed;
  noAnswer += other.noAnswer;
  status = MostSerious(status, other.status);
  return *this;
}

QString TallyText(const Tally& tally) {
  return QStringLiteral("passed %1, failed %2, no answer %3")
      .arg(tally.passed)
      .arg(tally.failed)
      .arg(tally.noAnswer);
}

QJsonObject TallyJson(const Tally& tally) {
  return {{"passed", tally.passed}, {"failed", tally.failed}, {"noAnswer", tally.noAnswer}};
}

}  // namespace cli
