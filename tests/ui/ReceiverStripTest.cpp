// The receiver strip's words: every receiver in use named, and a line too
// long for the plot broken between whole parts, never cut.
#include "sweep/ReceiverSetup.h"
#include "ui/ReceiverStrip.h"

#include <QFont>
#include <QFontMetrics>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace {

using Report = wg::ReceiverReport;

TEST(ReceiverStrip, NamesEveryReceiverInUse) {
  const std::string oem = "Generic RTL2832U OEM";
  struct Row {
    const char* name;
    std::function<void(Report&)> edit;
    const char* text;
  };
  const std::vector<Row> rows{
      {"a stick", {}, "Generic RTL2832U OEM SN 00000001"},
      {"a remote one", [](Report& r) { r.servedFrom = "10.0.0.5:1234"; }, "rtl_tcp=10.0.0.5:1234"},
      {"two sticks", [](Report& r) { r.others = {{1, "00000002", "", 0}}; },
       "2 receivers: Generic RTL2832U OEM SN 00000001, Generic RTL2832U OEM SN 00000002"},
      {"one that did not open", [](Report& r) { r.others = {{1, "00000002", "", -1}}; },
       "Generic RTL2832U OEM SN 00000001"},
      {"a stick and a remote one", [](Report& r) { r.others = {{0, "rtl_tcp=sdr:1234", "sdr:1234", 0}}; },
       "2 receivers: Generic RTL2832U OEM SN 00000001, rtl_tcp=sdr:1234"},
      {"none open", [](Report& r) { r.outcome = Report::Outcome::OpenFailed; }, "no receiver"},
  };
  for (const Row& row : rows) {
    Report r;
    r.outcome = Report::Outcome::Opened;
    r.devices = {{oem, "Realtek", "RTL2838UHIDIR", "00000001"}, {oem, "Realtek", "RTL2838UHIDIR", "00000002"}};
    if (row.edit) row.edit(r);
    EXPECT_EQ(wg::StripReceivers(r).toStdString(), row.text) << row.name;
  }
}

TEST(ReceiverStrip, LinesBreakBetweenWholePartsAndNeverCutOne) {
  QFont font;
  font.setPixelSize(9);
  const QFontMetrics fm(font);
  const QStringList parts{QStringLiteral("2 receivers: Generic RTL2832U OEM SN 00000001, rtl_tcp=192.168.1.20:1234"),
                          QStringLiteral("no gain set"), QStringLiteral("2700 ppm"), QStringLiteral("3.2 MS/s"),
                          QStringLiteral("live"), QStringLiteral("4.57 sweeps/s, 69.7 MHz/s")};
  const auto words = [](const QStringList& lines) {
    QStringList w = lines.join(QLatin1Char(' ')).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    w.removeAll(QStringLiteral("\u00b7"));
    return w;
  };
  EXPECT_EQ(wg::StripLines(parts, fm, 4000).size(), 1);
  for (const int width : {4000, 300, 150, 60}) {
    const QStringList lines = wg::StripLines(parts, fm, width);
    EXPECT_EQ(words(lines), words(parts)) << width << ": every word, whole and in order";
    for (const QString& line : lines) {
      EXPECT_TRUE(fm.horizontalAdvance(line) <= width || !line.contains(QLatin1Char(' '))) << line.toStdString();
      EXPECT_FALSE(line.startsWith(QStringLiteral("\u00b7")) || line.endsWith(QStringLiteral("\u00b7")));
    }
    // A part that fits a line is never split over two.
    for (const QString& part : parts)
      if (fm.horizontalAdvance(part) <= width)
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const QString& l) { return l.contains(part); }))
            << width << ": " << part.toStdString();
  }
}

}  // namespace
