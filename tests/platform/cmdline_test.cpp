// The command-line splitter against a table of lines and their arguments.
#include "platform/cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "case_name.h"

namespace {

struct SplitCase {
  const char* label;
  std::string line;
  std::vector<std::string> arguments;
};

const SplitCase kSplitCases[] = {
    {"empty line", "", {}},
    {"only separators", " \t\r\n", {}},
    {"program alone", "zarvelin", {"zarvelin"}},
    {"plain arguments", "zarvelin c: d:", {"zarvelin", "c:", "d:"}},
    {"runs of separators count once", "  zarvelin \t\x01 c:  ", {"zarvelin", "c:"}},
    {"control bytes separate",
     "zarvelin\x1f"
     "a\x02"
     "b",
     {"zarvelin", "a", "b"}},
    {"high bytes are characters", "zarvelin \xe9\xa0", {"zarvelin", "\xe9\xa0"}},
    {"stretch inside an argument", "zarvelin ab\"c d\"e", {"zarvelin", "abc de"}},
    {"open stretch runs to the end", "zarvelin \"c:\\my dir ", {"zarvelin", "c:\\my dir "}},
    {"apostrophe opens a stretch", "zarvelin it's here", {"zarvelin", "its here"}},
    {"single quotes", "zarvelin 'a b' c", {"zarvelin", "a b", "c"}},
    {"other quote inside double", "zarvelin \"it's\"", {"zarvelin", "it's"}},
    {"other quote inside single", "zarvelin 'say \"hi\"'", {"zarvelin", "say \"hi\""}},
    {"doubled quotes alone make an empty argument", "zarvelin \"\" x", {"zarvelin", "", "x"}},
    {"doubled apostrophes alone", "zarvelin ''", {"zarvelin", ""}},
    {"doubled quote inside its stretch is dropped", "zarvelin \"a\"\"b c\"", {"zarvelin", "ab c"}},
    {"doubled quote opens nothing", "zarvelin a\"\"b c", {"zarvelin", "ab", "c"}},
    {"doubled quote inside the other stretch stays", "zarvelin 'a\"\"b'", {"zarvelin", "a\"\"b"}},
    {"backslash is no escape", "zarvelin a\\\"b c\"", {"zarvelin", "a\\b c"}},
    {"trailing backslash kept", "zarvelin c:\\dir\\ x", {"zarvelin", "c:\\dir\\", "x"}},
    {"quoted program name", "\"c:\\prog dir\\z.exe\" c:", {"c:\\prog dir\\z.exe", "c:"}},
};

class SplitTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, GivesTheArguments) {
  EXPECT_EQ(platform::split_command_line(GetParam().line), GetParam().arguments);
}

INSTANTIATE_TEST_SUITE_P(Lines, SplitTest, testing::ValuesIn(kSplitCases),
                         test_support::case_name<SplitCase>);

}  // namespace
