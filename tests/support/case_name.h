// Test names for table-driven tests, made from each case's label.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace test_support {

// "empty dir -> 18" becomes "empty_dir____18": only letters, digits and _.
template <typename Case>
std::string case_name(const testing::TestParamInfo<Case>& param) {
  std::string name;
  for (const char c : std::string(param.param.label)) {
    name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  }
  return name;
}

}  // namespace test_support
