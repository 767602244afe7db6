#include "common/IntegerText.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <optional>
#include <string>

#include "common/AppError.h"

namespace {

struct IntegerCase {
  std::string text;
  std::optional<int> value;  // nothing: the text must be refused
};

void PrintTo(const IntegerCase& c, std::ostream* out) { *out << '"' << c.text << '"'; }

// A test name that spells the text out: "  +42" is TextBlankBlankPlus42.
std::string CaseName(const testing::TestParamInfo<IntegerCase>& info) {
  static const std::map<char, std::string> kWords = {{' ', "Blank"}, {'\t', "Tab"},   {'+', "Plus"},
                                                     {'-', "Minus"}, {'$', "Dollar"}, {'.', "Dot"}};
  std::string name;
  for (const char c : info.param.text)
    name += std::isalnum(static_cast<unsigned char>(c)) ? std::string(1, c) : kWords.at(c);
  return "Text" + name;
}

class StrToIntTest : public testing::TestWithParam<IntegerCase> {};

TEST_P(StrToIntTest, ConvertsOrRefusesWithTheText) {
  const IntegerCase& c = GetParam();
  if (c.value) {
    EXPECT_EQ(hw::StrToInt(c.text), *c.value);
    return;
  }
  try {
    const int unexpected = hw::StrToInt(c.text);
    ADD_FAILURE() << "converted to " << unexpected;
  } catch (const hw::ConvertError& e) {
    EXPECT_EQ(std::string(e.what()), "'" + c.text + "' is not a valid integer value");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StrToIntTest,
    testing::Values(
        // Accepted forms.
        IntegerCase{"0", 0}, IntegerCase{"  +42", 42}, IntegerCase{"-17", -17}, IntegerCase{"007", 7},
        IntegerCase{"$ff", 255}, IntegerCase{"xA", 10}, IntegerCase{"X10", 16}, IntegerCase{"0X1f", 31},
        IntegerCase{"-$10", -16},
        // The 32-bit limits: decimal is signed, hexadecimal may use all 32 bits.
        IntegerCase{"2147483647", 2147483647}, IntegerCase{"-2147483648", -2147483647 - 1},
        IntegerCase{"2147483648", std::nullopt}, IntegerCase{"-2147483649", std::nullopt}, IntegerCase{"$FFFFFFFF", -1},
        IntegerCase{"$100000000", std::nullopt}, IntegerCase{"99999999999999999999", std::nullopt},
        // Refused forms.
        IntegerCase{"", std::nullopt}, IntegerCase{"   ", std::nullopt}, IntegerCase{"-", std::nullopt},
        IntegerCase{"$", std::nullopt}, IntegerCase{"0x", std::nullopt}, IntegerCase{"+-1", std::nullopt},
        IntegerCase{"- 1", std::nullopt}, IntegerCase{"\t1", std::nullopt}, IntegerCase{"1.0", std::nullopt},
        IntegerCase{"12a", std::nullopt}, IntegerCase{"$1G", std::nullopt}),
    CaseName);

}  // namespace
