#include "runtime/Beep.h"
#include "runtime/NumText.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <optional>

namespace {

struct Separators : ::testing::Test {
  void SetUp() override {
    rt::SetDecimalSeparator('.');
    rt::SetThousandSeparator(",");
  }
  void TearDown() override { SetUp(); }
};

struct TextRow {
  const char* name;
  double value;
  const char* text;
};

TEST_F(Separators, ShortestFifteenDigitForm) {
  const TextRow rows[] = {
      {"whole", 138, "138"},
      {"one decimal", 88.6, "88.6"},
      {"sum with binary noise", 0.1 + 0.2, "0.3"},
      {"editor step result", 88.5 + 0.1, "88.6"},
      {"negative", -7.5, "-7.5"},
      {"zero", 0, "0"},
      {"editor maximum", 3999, "3999"},
      {"small, still plain", 0.0001, "0.0001"},
      {"smaller, exponent", 0.00001, "1E-5"},
      {"exponent with digits", 1.5e-7, "1.5E-7"},
      {"fifteen digits", 123456789012345.0, "123456789012345"},
      {"sixteen digits", 1e15, "1E15"},
      {"MHz to Hz", static_cast<double>(88.6 * 1000000.0L), "88600000"},
      {"product rounded at 15 digits", static_cast<double>(0.1L * 3), "0.3"},
  };
  for (const TextRow& r : rows) EXPECT_EQ(rt::FloatToStr(r.value), r.text) << r.name;
}

TEST_F(Separators, ParsingUsesTheProgramSeparatorOnly) {
  const struct {
    const char* name;
    const char* text;
    std::optional<double> value;  // none: refused, the target keeps its value
  } rows[] = {
      {"plain", "88.6", 88.6},
      {"blanks around, sign", " -7.5 ", -7.5},
      {"plus sign", "+12", 12},
      {"exponent", "1e3", 1000},
      {"no whole part", ".5", 0.5},
      {"empty", "", {}},
      {"sign only", "-", {}},
      {"plus only", "+", {}},
      {"point only", ".", {}},
      {"two points", "1.2.3", {}},
      {"trailing letter", "12a", {}},
      {"comma", "1,5", {}},
      {"exponent without digits", "1e", {}},
      {"double sign", "--1", {}},
      {"hexadecimal", "0x10", {}},
      {"infinity", "inf", {}},
      {"not a number", "nan", {}},
  };
  for (const auto& r : rows) {
    double v = 42;
    EXPECT_EQ(rt::TryStrToFloat(r.text, v), r.value.has_value()) << r.name;
    EXPECT_DOUBLE_EQ(v, r.value.value_or(42)) << r.name;
  }
  rt::SetDecimalSeparator(',');
  double v = 0;
  EXPECT_TRUE(rt::TryStrToFloat("1,5", v));
  EXPECT_EQ(v, 1.5);
  EXPECT_FALSE(rt::TryStrToFloat("1.5", v));
  EXPECT_EQ(rt::FloatToStr(1.5), "1,5");
}

TEST_F(Separators, AxisLabelFormat) {
  const TextRow rows[] = {
      {"start of the scan range", 138000000, "138,000,000"},
      {"bin frequency", 152999218.75, "152,999,218.75"},
      {"zero", 0, "0"},
      {"level axis minimum", -120, "-120"},
      {"below a thousand", 999, "999"},
      {"a thousand", 1000, "1,000"},
      {"third decimal rounds up", 0.0005, "0.001"},
      {"binary noise", 0.1 + 0.2, "0.3"},
      {"tiny positive", 2.5e-5, "0"},
      {"tiny negative, no minus sign", -2.5e-5, "0"},
      {"rounds up to a new group", 999.9996, "1,000"},
      {"far below the last decimal", 1e-12, "0"},
  };
  for (const TextRow& r : rows) EXPECT_EQ(rt::FormatFloat("#,##0.###", r.value), r.text) << r.name;
  EXPECT_EQ(rt::FormatFloat("0.00", 3), "3.00");
}

TEST_F(Separators, ThousandSeparatorNeverEqualsDecimal) {
  rt::SetThousandSeparator(".");
  EXPECT_NE(rt::ThousandSeparator(), ".");
  EXPECT_EQ(rt::FormatFloat("#,##0.###", 1234567.5), "1,234,567.5");
  rt::SetThousandSeparator("");
  EXPECT_EQ(rt::ThousandSeparator(), ",");
  rt::SetThousandSeparator(" ");
  EXPECT_EQ(rt::FormatFloat("#,##0.###", 1234567.5), "1 234 567.5");
}

TEST_F(Separators, ReportFormats) {
  const struct {
    const char* name;
    double value;
    int decimals;
    const char* text;
  } rows[] = {
      {"bin width at 3.2 MS/s", 3200000.0 / 4096, 2, "781.25"},
      {"smallest gain", 0.9, 1, "0.9"},
      {"largest gain", 49.6, 1, "49.6"},
      {"zero gain", 0, 1, "0.0"},
      {"negative half rounds away", -1.25, 1, "-1.3"},
      {"bin width at 1 MS/s", 1e6 / 4096, 2, "244.14"},
  };
  for (const auto& r : rows) EXPECT_EQ(rt::FormatFixed(r.value, r.decimals), r.text) << r.name;
  EXPECT_EQ(rt::FormatInt(-2700), "-2700");
  EXPECT_EQ(rt::FormatInt(4096), "4096");
}

TEST_F(Separators, CommaLocaleChangesNothing) {
  const char* locales[] = {"de_DE.UTF-8", "ru_RU.UTF-8", "fr_FR.UTF-8"};
  const char* set = nullptr;
  for (const char* l : locales)
    if ((set = std::setlocale(LC_ALL, l))) break;
  if (!set) GTEST_SKIP() << "no comma locale installed";
  EXPECT_EQ(rt::FloatToStr(88.6), "88.6");
  EXPECT_EQ(rt::FormatFixed(781.25, 2), "781.25");
  double v = 0;
  EXPECT_TRUE(rt::TryStrToFloat("88.6", v));
  EXPECT_DOUBLE_EQ(v, 88.6);
  EXPECT_FALSE(rt::TryStrToFloat("88,6", v));
  std::setlocale(LC_ALL, "C");
}

TEST(Rounding, HalfToEvenTruncAndMulDiv) {
  const struct {
    const char* name;
    long double x;
    long long rounded;
  } rounds[] = {
      {"half to even zero", 0.5L, 0},
      {"half up to even", 1.5L, 2},
      {"half down to even", 2.5L, 2},
      {"negative half to even", -2.5L, -2},
      {"just above half", 2.5000001L, 3},
      {"points of the initial range", 15000000.0L / 3200000 * 4096, 19200},
  };
  for (const auto& r : rounds) EXPECT_EQ(rt::RoundHalfEven(r.x), r.rounded) << r.name;
  EXPECT_EQ(rt::Trunc(-1.9L), -1);
  EXPECT_EQ(rt::Trunc(88599999.9999L), 88599999);

  const struct {
    const char* name;
    int a, b, c, result;
  } muldivs[] = {
      {"rounds down", 3, 580, 100, 17},
      {"rounds down again", 4, 326, 100, 13},
      {"font scaling", 8, 96, 72, 11},
      {"half rounds away from zero", 1, 1, 2, 1},
      {"negative half away from zero", -1, 1, 2, -1},
      {"one and a half", 1, 3, 2, 2},
      {"division by zero", 5, 5, 0, -1},
      {"overflow", 0x7fffffff, 4, 1, -1},
  };
  for (const auto& r : muldivs) EXPECT_EQ(rt::MulDiv(r.a, r.b, r.c), r.result) << r.name;
}

void CountingSink() {}

TEST(Beep, CountsThroughTheInstalledSink) {
  rt::SetBeepSink(&CountingSink);
  rt::ResetBeepCount();
  rt::Beep();
  rt::Beep();
  EXPECT_EQ(rt::BeepCount(), 2);
  rt::SetBeepSink(nullptr);
}

}  // namespace
