#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>

#include "platform/Exception.h"

namespace {

QString TextOf(const std::function<void()>& fail) {
  try {
    fail();
  } catch (...) {
    return platform::CurrentExceptionText();
  }
  return QStringLiteral("<nothing thrown>");
}

TEST(CurrentExceptionTextTest, GivesEachKindOfFailureItsText) {
  struct Case {
    const char* name;
    std::function<void()> fail;
    QString text;
  };
  const Case cases[] = {
      {"platform", [] { throw platform::Exception(QStringLiteral("端口 COM3 打不开")); },
       QStringLiteral("端口 COM3 打不开")},
      {"derived",
       [] { throw platform::EConvertError(QStringLiteral("'x' is not a valid integer value")); },
       QStringLiteral("'x' is not a valid integer value")},
      {"standard", [] { throw std::out_of_range("index 7 out of range"); },
       QStringLiteral("index 7 out of range")},
      {"bad_alloc", [] { throw std::bad_alloc(); }, QString::fromUtf8(std::bad_alloc().what())},
      {"other", [] { throw 42; }, QStringLiteral("unknown failure")},
  };
  for (const Case& c : cases) EXPECT_EQ(TextOf(c.fail), c.text) << c.name;
}

TEST(CurrentExceptionTextTest, CanBeAskedTwiceInOneCatchBlock) {
  try {
    throw platform::EFileError(QStringLiteral("Cannot write file a.bin"));
  } catch (...) {
    EXPECT_EQ(platform::CurrentExceptionText(), "Cannot write file a.bin");
    EXPECT_EQ(platform::CurrentExceptionText(), "Cannot write file a.bin");
  }
}

}  // namespace
