#include "app/HeatMap.h"

#include "app/Options.h"
#include "record/HeatMapGrid.h"
#include "record/RecordingReader.h"
#include "runtime/ColourScale.h"
#include "runtime/FileWrite.h"

#include <QBuffer>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace wg {
namespace {

// Margins, in pixels: times on the left, the title and frequencies on top,
// the colour bar and its dB on the right.
constexpr int kLeft = 140, kTop = 46, kRight = 86, kBottom = 10;
constexpr int kBarGap = 12, kBarWidth = 16;
// A picture with few rows still gets this much height for its rows.
constexpr int kLeastDataHeight = 240;
constexpr uint32_t kNoData = 0xFF000000u;  // as the waterfall's

void Say(const std::string& line) { std::fprintf(stderr, "wideglass: %s\n", line.c_str()); }

// A round step (1, 2 or 5 times a power of ten) of at least `least`.
double RoundStep(double least) {
  if (!(least > 0)) return 1;
  const double p = std::pow(10.0, std::floor(std::log10(least)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * p >= least * (1 - 1e-9)) return m * p;
  return 10 * p;
}

QString Mhz(double hz, double step) {
  const int decimals = std::clamp(static_cast<int>(std::ceil(-std::log10(step / 1e6) - 1e-9)), 0, 6);
  return QString::number(hz / 1e6, 'f', decimals);
}

}  // namespace

HeatMapLayout PlanHeatMap(int width, double binsAcross, uint64_t sweeps) {
  HeatMapLayout l;
  l.left = kLeft;
  l.top = kTop;
  if (width > 0)
    l.columns = std::max(1, width - kLeft - kRight);
  else
    l.columns = static_cast<int>(std::clamp(std::isfinite(binsAcross) ? std::round(binsAcross) : 0.0, 600.0, 1800.0));
  l.rows = THeatMapGrid::RowsFor(l.columns, sweeps, kHeatMapMostRows);
  l.rowHeight = std::max(1, kLeastDataHeight / l.rows);
  l.width = kLeft + l.columns + kRight;
  l.height = kTop + l.rows * l.rowHeight + kBottom;
  return l;
}

QImage DrawHeatMap(const THeatMapGrid& grid, const HeatMapLayout& l, const std::string& title) {
  QImage img(l.width, l.height, QImage::Format_RGB32);
  img.fill(Qt::white);
  // The levels span the quietest twentieth of the cells to the loudest, in
  // whole dB: the noise floor dark, the strongest carrier brightest.
  double lo = std::floor(grid.Quantile(0.05)), hi = std::ceil(grid.Highest());
  if (!std::isfinite(lo) || !std::isfinite(hi)) lo = -100, hi = 0;
  if (hi <= lo) hi = lo + 1;

  const int dataHeight = l.rows * l.rowHeight;
  for (int r = 0; r < grid.Rows() && r < l.rows; ++r) {
    for (int y = 0; y < l.rowHeight; ++y) {
      auto* line = reinterpret_cast<uint32_t*>(img.scanLine(l.top + r * l.rowHeight + y)) + l.left;
      for (int c = 0; c < grid.Columns() && c < l.columns; ++c) {
        const float v = grid.Cell(r, c);
        line[c] = std::isnan(v) ? kNoData : ScaleColour(v, lo, hi);
      }
    }
  }
  const int barX = l.left + l.columns + kBarGap;
  for (int y = 0; y < dataHeight; ++y) {
    const double db = hi - (hi - lo) * (y + 0.5) / dataHeight;
    auto* line = reinterpret_cast<uint32_t*>(img.scanLine(l.top + y));
    std::fill(line + barX, line + barX + kBarWidth, ScaleColour(db, lo, hi));
  }

  QPainter p(&img);
  QFont font(QStringLiteral("Liberation Sans"));
  font.setPixelSize(12);
  p.setFont(font);
  p.setPen(Qt::black);
  const int textHeight = p.fontMetrics().height();
  p.drawText(QRect(4, 2, l.width - 8, textHeight), Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(title));

  // Frequencies along the top, at least 100 pixels apart.
  const double lowHz = grid.LowHz(), span = grid.HighHz() - grid.LowHz();
  const double fstep = RoundStep(span * 100.0 / l.columns);
  for (double f = std::ceil(lowHz / fstep) * fstep; f <= lowHz + span; f += fstep) {
    const int x = l.left + static_cast<int>(std::floor((f - lowHz) / span * l.columns));
    p.drawLine(x, l.top - 6, x, l.top - 1);
    const QString t = Mhz(f, fstep);
    const int w = p.fontMetrics().horizontalAdvance(t);
    p.drawText(std::clamp(x - w / 2, 0, l.width - w), l.top - 8, t);
  }
  // The unit left of the first label, which may stand right at the edge.
  p.drawText(l.left - 28 - p.fontMetrics().horizontalAdvance(QStringLiteral("MHz")), l.top - 8, QStringLiteral("MHz"));

  // Times down the side, at least 40 pixels apart, with the date at the
  // first and wherever it changes.
  QString lastDate, lastText;
  int lastRow = -1;
  for (int y = 0; y < dataHeight; y += 40) {
    const int row = y / l.rowHeight;
    if (row == lastRow || row >= grid.Rows()) continue;
    lastRow = row;
    const QString text = QString::fromStdString(RecordingTimeText(grid.RowTime(row)));
    if (text == lastText) continue;  // several rows a second
    lastText = text;
    const QString date = text.left(10);
    const QString shown = date == lastDate ? text.mid(11) : text;
    lastDate = date;
    const int ty = l.top + row * l.rowHeight;
    p.drawLine(l.left - 5, ty, l.left - 1, ty);
    p.drawText(QRect(0, ty - textHeight / 2, l.left - 8, textHeight), Qt::AlignRight | Qt::AlignVCenter, shown);
  }

  // dB beside the colour bar, at least 30 pixels apart.
  const double dstep = RoundStep((hi - lo) * 30.0 / std::max(1, dataHeight));
  for (double db = std::ceil(lo / dstep) * dstep; db <= hi; db += dstep) {
    const int y = l.top + static_cast<int>(std::round((hi - db) / (hi - lo) * (dataHeight - 1)));
    p.drawLine(barX + kBarWidth, y, barX + kBarWidth + 3, y);
    p.drawText(QRect(barX + kBarWidth + 6, y - textHeight / 2, kRight - kBarWidth - kBarGap - 6, textHeight),
               Qt::AlignLeft | Qt::AlignVCenter, QString::number(db, 'f', dstep < 1 ? 1 : 0));
  }
  p.drawText(QRect(barX - 4, l.top - 8 - textHeight, kBarWidth + 40, textHeight), Qt::AlignLeft | Qt::AlignBottom,
             QStringLiteral("dB"));
  return img;
}

int RunHeatMap(int argc, char** argv, const Options& options) {
  // No display is needed to draw into a picture.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Standard error says what went wrong with the recording or the picture,
  // not the toolkit's remarks on the session (a missing runtime folder under
  // cron or ssh, fonts).
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", qPrintable(text));
  });
  QGuiApplication app(argc, argv);
  const std::string& in = *options.heatmap;
  const std::string& out = *options.heatmapOut;
  std::string error;
  auto recording = TRecording::Open(in, error);
  if (!recording) {
    Say(in + ": " + error);
    return 1;
  }
  recording->Scan();
  const auto problems = recording->Problems();
  for (const RecordingProblem& p : problems) Say(DescribeProblem(in, p));
  const uint64_t sweeps = recording->SweepCount();
  RecordedSweep first;
  if (sweeps == 0 || !recording->ReadSweep(0, first) || first.steps.empty()) {
    // The problems told already say why.
    if (problems.empty()) Say(in + ": no sweeps to draw");
    return 1;
  }
  const TRecording::Extent span = recording->Span();
  const double binsAcross = (span.highHz - span.lowHz) / first.steps.front().binWidth;
  const HeatMapLayout layout = PlanHeatMap(options.heatmapWidth.value_or(0), binsAcross, sweeps);
  THeatMapGrid grid(span.lowHz, span.highHz, layout.columns, sweeps, kHeatMapMostRows);
  if (!recording->ReadSweeps(0, [&](const RecordedSweep& s) {
        grid.Add(s);
        return true;
      })) {
    Say(in + ": the file changed while it was read");
    return 1;
  }
  grid.Finish();
  const std::string title = QFileInfo(QString::fromLocal8Bit(in)).fileName().toStdString() + "  —  " +
                            std::to_string(sweeps) + (sweeps == 1 ? " sweep, " : " sweeps, ") +
                            RecordingTimeText(span.firstTime) + " to " +
                            RecordingTimeText(span.lastTime);
  const QImage img = DrawHeatMap(grid, layout, title);
  // Whole or not at all: the picture goes to a file beside OUT that replaces
  // it once written, so that a full disk leaves an earlier picture as it was.
  QByteArray png;
  QBuffer buffer(&png);
  std::string reason;
  if (!buffer.open(QIODevice::WriteOnly) || !img.save(&buffer, "PNG")) {
    Say(out + ": the picture could not be written: it could not be encoded");
    return 1;
  }
  if (!rt::WriteWholeFile(out, std::string_view(png.constData(), static_cast<size_t>(png.size())), &reason)) {
    Say(out + ": the picture could not be written: " + reason);
    return 1;
  }
  return 0;
}

}  // namespace wg
