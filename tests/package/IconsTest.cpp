// The PNG icons drawn from the SVG at build time: each loads, has its size,
// and shows the drawing (an opaque frame with dark and light in it), not an
// empty or one-colour square that a broken conversion would leave.
#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

#include <algorithm>

TEST(Icons, EverySizeLoadsAndShowsTheDrawing) {
  const QStringList sizes = QStringLiteral(WG_ICON_SIZES).split(QLatin1Char(','));
  ASSERT_GE(sizes.size(), 4);
  for (const QString& s : sizes) {
    const int size = s.toInt();
    const QString file = QStringLiteral(WG_ICON_DIR "/%1x%1/wideglass.png").arg(size);
    const QImage img(file);
    ASSERT_FALSE(img.isNull()) << file.toStdString();
    EXPECT_EQ(img.width(), size) << file.toStdString();
    EXPECT_EQ(img.height(), size) << file.toStdString();
    int opaque = 0, darkest = 255, lightest = 0;
    bool red = false;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x) {
        const QColor c = img.pixelColor(x, y);
        if (c.alpha() < 200) continue;
        ++opaque;
        darkest = std::min(darkest, qGray(c.rgb()));
        lightest = std::max(lightest, qGray(c.rgb()));
        red |= c.red() > c.green() + 60 && c.red() > c.blue() + 60;
      }
    EXPECT_GT(opaque, size * size / 2) << file.toStdString();
    EXPECT_GT(lightest - darkest, 100) << file.toStdString();
    EXPECT_TRUE(red) << file.toStdString() << ": the red trace is missing";
  }
}
