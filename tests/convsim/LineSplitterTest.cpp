#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LineSplitter.h"

namespace convsim {
namespace {

using Lines = std::vector<std::string>;

struct SplitCase {
  const char* name;
  std::vector<std::string> pieces;  // as the reads deliver them
  Lines lines;
};

const std::string kTooLong(LineSplitter::kMaxLine + 1, 'x');
const std::string kLongest(LineSplitter::kMaxLine, 'y');

class LineSplitterTest : public testing::TestWithParam<SplitCase> {};

TEST_P(LineSplitterTest, GivesCompleteLinesAndDropsALineTooLongWhole) {
  LineSplitter splitter;
  Lines lines;
  for (const std::string& piece : GetParam().pieces)
    splitter.Feed(piece.data(), piece.size(),
                  [&](const std::string& line) { lines.push_back(line); });
  EXPECT_EQ(lines, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Pieces, LineSplitterTest,
    testing::Values(SplitCase{"LinesAcrossPieces",
                              {"sh", "ow\nfault all sil", "ence\n", "quit"},
                              {"show", "fault all silence"}},
                    SplitCase{"LongestLineCounts", {kLongest + "\n"}, {kLongest}},
                    // The tail of a line too long is not a command of its own, whether
                    // it arrives in the same read or a later one.
                    SplitCase{"TooLongInOneRead", {kTooLong + "quit\nshow\n"}, {"show"}},
                    SplitCase{"TooLongThenItsTail", {kTooLong, "quit\n", "show\n"}, {"show"}},
                    SplitCase{
                        "TooLongInSmallReads",
                        {kLongest.substr(0, 1024), kLongest.substr(1024), "x", "qu", "it\nshow\n"},
                        {"show"}},
                    SplitCase{"EmptyLines", {"\n\nshow\n"}, {"", "", "show"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace convsim
