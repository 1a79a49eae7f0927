// The run-time stop report's lines, exactly.
#include "platform/report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "case_name.h"

namespace {

using platform::report::Location;

struct LineCase {
  const char* label;
  Location location;
  const char* text;
};

const LineCase kLineCases[] = {
    {"named routine",
     {0x00401A2B, "FINDDEL", 42, "src/sweep/finddel.cpp"},
     "  $00401A2B  FINDDEL,  line 42 of src/sweep/finddel.cpp\r\n"},
    {"main sequence",
     {0xC, "main", 7, "src/sweep/main_sequence.cpp"},
     "  $0000000C  main,  line 7 of src/sweep/main_sequence.cpp\r\n"},
    {"address alone", {0xDEADBEEF, nullptr, 0, ""}, "  $DEADBEEF\r\n"},
    {"lowest address", {0, nullptr, 0, ""}, "  $00000000\r\n"},
};

class LocationLineTest : public testing::TestWithParam<LineCase> {};

TEST_P(LocationLineTest, IsFormattedExactly) {
  EXPECT_EQ(platform::report::location_line(GetParam().location).text(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Lines, LocationLineTest, testing::ValuesIn(kLineCases),
                         test_support::case_name<LineCase>);

TEST(ReportHeadline, PrintsTheNumberUnreducedAndEightDigits) {
  EXPECT_EQ(platform::report::headline(267, 0x1A2B).text(), "Runtime error 267 at $00001A2B\r\n");
  EXPECT_EQ(platform::report::headline(215, 0xFFFFFFFF).text(),
            "Runtime error 215 at $FFFFFFFF\r\n");
  EXPECT_EQ(platform::report::headline(0, 0x10).text(), "Runtime error 0 at $00000010\r\n");
  EXPECT_EQ(platform::report::headline(-5, 0x10).text(), "Runtime error -5 at $00000010\r\n");
}

TEST(ReportLine, TooLongIsCutButKeepsItsLineEnd) {
  const std::string file(5000, 'f');
  const std::string text(platform::report::location_line({1, "main", 3, file.c_str()}).text());
  EXPECT_EQ(text.size(), 1024u);
  EXPECT_TRUE(text.starts_with("  $00000001  main,  line 3 of fff"));
  EXPECT_TRUE(text.ends_with("f\r\n"));
}

std::vector<std::string> written;

void keep(std::string_view line) {
  written.emplace_back(line);
}

TEST(Report, WritesHeadlineOwnLineCallersAndAnEmptyLine) {
  written.clear();
  const Location stop{0x2000, "FINDDEL", 90, "src/sweep/finddel.cpp"};
  const Location callers[] = {{0x2100, "FINDDEL", 88, "src/sweep/finddel.cpp"},
                              {0x3000, "main", 40, "src/sweep/main_sequence.cpp"}};
  platform::report::write_report(3, stop, callers, keep);
  const std::vector<std::string> expected = {
      "Runtime error 3 at $00002000\r\n",
      "  $00002000  FINDDEL,  line 90 of src/sweep/finddel.cpp\r\n",
      "  $00002100  FINDDEL,  line 88 of src/sweep/finddel.cpp\r\n",
      "  $00003000  main,  line 40 of src/sweep/main_sequence.cpp\r\n",
      "\r\n",
  };
  EXPECT_EQ(written, expected);
}

TEST(Report, StopInMainHasNoCallerLines) {
  written.clear();
  platform::report::write_report(2, {0x10, "main", 5, "m.cpp"}, {}, keep);
  const std::vector<std::string> expected = {"Runtime error 2 at $00000010\r\n",
                                             "  $00000010  main,  line 5 of m.cpp\r\n", "\r\n"};
  EXPECT_EQ(written, expected);
}

}  // namespace
