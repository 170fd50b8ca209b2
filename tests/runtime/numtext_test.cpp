#include "beep.h"
#include "numtext.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

namespace {

struct Separators : ::testing::Test {
  void SetUp() override {
    rt::SetDecimalSeparator('.');
    rt::SetThousandSeparator(",");
  }
  void TearDown() override { SetUp(); }
};

TEST_F(Separators, ShortestFifteenDigitForm) {
  EXPECT_EQ(rt::FloatToStr(138), "138");
  EXPECT_EQ(rt::FloatToStr(88.6), "88.6");
  EXPECT_EQ(rt::FloatToStr(0.1 + 0.2), "0.3");
  EXPECT_EQ(rt::FloatToStr(88.5 + 0.1), "88.6");
  EXPECT_EQ(rt::FloatToStr(-7.5), "-7.5");
  EXPECT_EQ(rt::FloatToStr(0), "0");
  EXPECT_EQ(rt::FloatToStr(3999), "3999");
  EXPECT_EQ(rt::FloatToStr(0.0001), "0.0001");
  EXPECT_EQ(rt::FloatToStr(0.00001), "1E-5");
  EXPECT_EQ(rt::FloatToStr(1.5e-7), "1.5E-7");
  EXPECT_EQ(rt::FloatToStr(123456789012345.0), "123456789012345");
  EXPECT_EQ(rt::FloatToStr(1e15), "1E15");
  EXPECT_EQ(rt::FloatToStr(88.6 * 1000000.0L), "88600000");
  // 15 digits round the binary noise of a product away.
  EXPECT_EQ(rt::FloatToStr(static_cast<double>(0.1L * 3)), "0.3");
}

TEST_F(Separators, ParsingUsesTheProgramSeparatorOnly) {
  double v = -1;
  EXPECT_TRUE(rt::TryStrToFloat("88.6", v));
  EXPECT_DOUBLE_EQ(v, 88.6);
  EXPECT_TRUE(rt::TryStrToFloat(" -7.5 ", v));
  EXPECT_EQ(v, -7.5);
  EXPECT_TRUE(rt::TryStrToFloat("+12", v));
  EXPECT_EQ(v, 12);
  EXPECT_TRUE(rt::TryStrToFloat("1e3", v));
  EXPECT_EQ(v, 1000);
  EXPECT_TRUE(rt::TryStrToFloat(".5", v));
  EXPECT_EQ(v, 0.5);
  for (const char* bad : {"", "-", "+", ".", "1.2.3", "12a", "1,5", "1e", "--1", "0x10", "inf", "nan"}) {
    v = 42;
    EXPECT_FALSE(rt::TryStrToFloat(bad, v)) << bad;
    EXPECT_EQ(v, 42) << bad;
  }
  rt::SetDecimalSeparator(',');
  EXPECT_TRUE(rt::TryStrToFloat("1,5", v));
  EXPECT_EQ(v, 1.5);
  EXPECT_FALSE(rt::TryStrToFloat("1.5", v));
  EXPECT_EQ(rt::FloatToStr(1.5), "1,5");
}

TEST_F(Separators, AxisLabelFormat) {
  const char* f = "#,##0.###";
  EXPECT_EQ(rt::FormatFloat(f, 138000000), "138,000,000");
  EXPECT_EQ(rt::FormatFloat(f, 152999218.75), "152,999,218.75");
  EXPECT_EQ(rt::FormatFloat(f, 0), "0");
  EXPECT_EQ(rt::FormatFloat(f, -120), "-120");
  EXPECT_EQ(rt::FormatFloat(f, 999), "999");
  EXPECT_EQ(rt::FormatFloat(f, 1000), "1,000");
  EXPECT_EQ(rt::FormatFloat(f, 0.0005), "0.001");
  EXPECT_EQ(rt::FormatFloat(f, 0.1 + 0.2), "0.3");
  EXPECT_EQ(rt::FormatFloat(f, 2.5e-5), "0");
  EXPECT_EQ(rt::FormatFloat(f, -2.5e-5), "0");
  EXPECT_EQ(rt::FormatFloat(f, 999.9996), "1,000");
  EXPECT_EQ(rt::FormatFloat(f, 1e-12), "0");
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
  EXPECT_EQ(rt::FormatFixed(3200000.0 / 4096, 2), "781.25");
  EXPECT_EQ(rt::FormatFixed(0.9, 1), "0.9");
  EXPECT_EQ(rt::FormatFixed(49.6, 1), "49.6");
  EXPECT_EQ(rt::FormatFixed(0, 1), "0.0");
  EXPECT_EQ(rt::FormatFixed(-1.25, 1), "-1.3");
  EXPECT_EQ(rt::FormatFixed(1e6 / 4096, 2), "244.14");
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
  EXPECT_EQ(rt::RoundHalfEven(0.5L), 0);
  EXPECT_EQ(rt::RoundHalfEven(1.5L), 2);
  EXPECT_EQ(rt::RoundHalfEven(2.5L), 2);
  EXPECT_EQ(rt::RoundHalfEven(-2.5L), -2);
  EXPECT_EQ(rt::RoundHalfEven(2.5000001L), 3);
  EXPECT_EQ(rt::RoundHalfEven(15000000.0L / 3200000 * 4096), 19200);
  EXPECT_EQ(rt::Trunc(-1.9L), -1);
  EXPECT_EQ(rt::Trunc(88599999.9999L), 88599999);
  EXPECT_EQ(rt::MulDiv(3, 580, 100), 17);
  EXPECT_EQ(rt::MulDiv(4, 326, 100), 13);
  EXPECT_EQ(rt::MulDiv(8, 96, 72), 11);
  EXPECT_EQ(rt::MulDiv(1, 1, 2), 1);
  EXPECT_EQ(rt::MulDiv(-1, 1, 2), -1);
  EXPECT_EQ(rt::MulDiv(1, 3, 2), 2);
  EXPECT_EQ(rt::MulDiv(5, 5, 0), -1);
  EXPECT_EQ(rt::MulDiv(0x7fffffff, 4, 1), -1);
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
