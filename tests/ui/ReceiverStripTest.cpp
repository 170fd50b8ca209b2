// The receiver strip names every receiver in use, and breaks a line too long
// for the plot between whole parts, never cutting one.
#include "sweep/ReceiverSetup.h"
#include "ui/ReceiverStrip.h"

#include <QFontMetrics>
#include <gtest/gtest.h>

TEST(ReceiverStrip, NamesEveryReceiverInUseAndBreaksItsLineBetweenWholeParts) {
  wg::ReceiverReport r;
  r.outcome = wg::ReceiverReport::Outcome::Opened;
  r.devices = {{"OEM", "", "", "00000001"}, {"OEM", "", "", "00000002"}};
  r.others = {{1, "00000002", "", 0}, {0, "rtl_tcp=sdr:1234", "sdr:1234", 0}, {2, "00000003", "", -1}};
  const QString all = wg::StripReceivers(r);
  EXPECT_EQ(all.toStdString(), "3 receivers: OEM SN 00000001, OEM SN 00000002, rtl_tcp=sdr:1234");
  const QFontMetrics fm(QFont{});
  const QStringList parts{all, QStringLiteral("no gain set"), QStringLiteral("4.57 sweeps/s, 69.7 MHz/s")};
  const auto words = [](const QStringList& l) {
    return l.join(' ').remove(QStringLiteral("\u00b7")).split(' ', Qt::SkipEmptyParts);
  };
  EXPECT_EQ(wg::StripLines(parts, fm, 4000).size(), 1);
  for (const int width : {300, 150, 60}) {
    const QStringList lines = wg::StripLines(parts, fm, width);
    EXPECT_EQ(words(lines), words(parts)) << width << ": every word, whole and in order";
    for (const QString& line : lines)
      EXPECT_TRUE(fm.horizontalAdvance(line) <= width || !line.contains(QLatin1Char(' '))) << line.toStdString();
    for (const QString& part : parts) {  // one that fits a line is never split
      if (fm.horizontalAdvance(part) <= width) {
        EXPECT_EQ(lines.filter(part).size(), 1) << part.toStdString();
      }
    }
  }
}
