// The table of operator messages: each message once, chosen by language
// code, and in step with the rules whose bounds its texts quote.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <string_view>

#include "messages/Messages.h"
#include "protocol/PanelRules.h"

namespace {

using messages::MessageText;
using messages::Msg;

TEST(Messages, EachMessageHasOneRowWithAChineseTextAndAtMostOneCatalogueKey) {
  std::set<std::string_view> keys;
  std::set<std::string_view> groups;
  for (const messages::MessageGroup& group : messages::MessageGroups()) groups.insert(group.key);
  std::size_t index = 0;
  for (const messages::MessageRow& row : messages::MessageTable()) {
    EXPECT_EQ(static_cast<std::size_t>(row.id), index++);
    ASSERT_NE(row.chn, nullptr);
    EXPECT_NE(std::string_view(row.chn), "") << index;
    if (row.enu) {
      EXPECT_NE(std::string_view(row.enu), "") << index;
    }
    ASSERT_NE(row.group, nullptr);
    EXPECT_TRUE(groups.count(row.group)) << row.group;
    if (row.key) {
      EXPECT_TRUE(std::string_view(row.key).starts_with("N_")) << row.key;
      EXPECT_TRUE(keys.insert(row.key).second) << "key twice: " << row.key;
    }
  }
}

TEST(Messages, ChnGivesChineseAndEveryOtherCodeEnglish) {
  EXPECT_STREQ(MessageText(Msg::Timeout, "chn"), "操作超时!");
  for (const char* code : {"enu", "", "deu", "CHN"})
    EXPECT_STREQ(MessageText(Msg::Timeout, code), "operating timeout.") << code;
}

TEST(Messages, AChineseOnlyMessageIsChineseInEveryLanguage) {
  for (const char* code : {"chn", "enu", ""})
    EXPECT_STREQ(MessageText(Msg::FileExists, code), "文件已经存在,是否覆盖?") << code;
}

TEST(Messages, TheRangeMessagesQuoteTheRulesBounds) {
  char standard[16];
  char extended[16];
  std::snprintf(standard, sizeof standard, "[0,%X]", protocol::kStandardIdMax);
  std::snprintf(extended, sizeof extended, "[0,%X]", protocol::kExtendedIdMax);
  for (const char* code : {"chn", "enu"}) {
    EXPECT_TRUE(std::string(MessageText(Msg::StdIdRange, code)).ends_with(standard)) << code;
    EXPECT_TRUE(std::string(MessageText(Msg::ExtIdRange, code)).ends_with(extended)) << code;
  }
}

}  // namespace
