// The chart's titles, walls and zoom outline.
#include "chart/Chart.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace wg {

// ---------------------------------------------------------------------------
// TCustomChart

TCustomChart::TCustomChart(QWidget* parent) : TCustomAxisPanel(parent) {
  title_ = std::make_unique<TChartTitle>(this);
  foot_ = std::make_unique<TChartTitle>(this);
  backWall_ = std::make_unique<TChartWall>(this);
  backWall_->Brush().SetStyle(bsClear);
  leftWall_ = std::make_unique<TChartWall>(this);
  leftWall_->SetColor(0x80FFFF);
  leftWall_->SetDefaultColor(0x80FFFF);
  legend_ = std::make_unique<TChartLegend>(this);
  bottomWall_ = std::make_unique<TChartWall>(this);
  bottomWall_->SetColor(clWhite);
  bottomWall_->SetDefaultColor(clWhite);
  SetRepaintEnabled(true);
}

TCustomChart::~TCustomChart() { BeginDestroy(); }

void TCustomChart::SetBackColor(TColor v) {
  backWall_->SetColor(v);
  if (parentWidget() && !IsLoading()) backWall_->Brush().SetStyle(bsSolid);
}

void TCustomChart::DrawTitlesAndLegend() {
  if (title_->Visible()) DrawTitle(*title_, false);
  if (foot_->Visible()) DrawTitle(*foot_, true);
}

void TCustomChart::DrawTitle(TChartTitle& t, bool isFoot) {
  constexpr int kTitleGap = 5;
  TChartCanvas3D& c = Canvas();
  c.AssignFont(t.Font());
  const int h = c.FontHeight();

  if (t.Color() == clDefault) {
    if (t.Brush().Style() != bsSolid) {
      c.Brush().Assign(t.Brush());
      c.SetBackMode(cbmTransparent);
    } else if (t.Brush().Color() == clDefault) {
      c.Brush().SetStyle(bsClear);
    } else {
      t.SetColor(t.Brush().Color());
      c.Brush().SetColor(t.Color());
      c.Brush().SetStyle(bsSolid);
    }
  } else if (t.Brush().Style() != bsSolid) {
    c.Brush().Assign(t.Brush());
    c.SetBackMode(cbmOpaque);
    c.SetBackColor(t.Color());
  } else {
    c.Brush().SetColor(t.Color());
    c.Brush().SetStyle(bsSolid);
  }

  const bool framed = t.Frame().Visible() && t.Frame().Color() != clDefault;
  const int f = framed ? t.Frame().Width() : 0;

  TRect& plot = MutablePlotRect();
  TRect r;
  r.Left = plot.Left + f;
  r.Right = plot.Right - f;
  if (!isFoot) {
    r.Top = plot.Top + f;
    r.Bottom = r.Top - kTitleGap;
  } else {
    r.Bottom = plot.Bottom - f;
    r.Top = r.Bottom + kTitleGap;
  }
  TRect box = r;

  int pw = 0;
  if (framed) {
    c.ApplyChartPen(t.Frame());
    pw = t.Frame().Width();
  } else {
    c.Pen().SetStyle(psClear);
  }

  const auto& lines = t.Text();
  const int n = static_cast<int>(lines.size());
  if (!isFoot)
    box.Bottom = r.Top + n * h;
  else
    box.Top = r.Bottom - n * h;
  box.Left -= pw;
  box.Top -= pw;
  box.Right += pw;
  box.Bottom += pw;

  const int w = c.TextWidth("W");
  if (framed || c.Brush().Style() != bsClear) {
    if (t.AdjustFrame()) {
      int widest = 0;
      for (const auto& line : lines) widest = std::max(widest, c.TextWidth(line));
      const int width = widest + w;
      switch (t.Alignment()) {
        case taLeftJustify: box.Right = box.Left + width; break;
        case taRightJustify: box.Left = box.Right - width; break;
        case taCenter: {
          const int mid = (box.Left + box.Right) / 2;
          box.Left = mid - width / 2;
          box.Right = mid + width / 2;
          break;
        }
      }
    }
    c.Rectangle(box);
  }

  c.SetBackMode(cbmTransparent);
  c.SetTextAlign(TA_LEFT | TA_TOP);
  auto lineX = [&](const std::string& line) {
    switch (t.Alignment()) {
      case taLeftJustify: return r.Left + w / 2;
      case taRightJustify: return r.Right - c.TextWidth(line) - w / 2;
      case taCenter: break;
    }
    return (r.Left + r.Right) / 2 - c.TextWidth(line) / 2;
  };
  if (!isFoot) {
    int y = r.Top;
    for (const auto& line : lines) {
      c.TextOut(lineX(line), y, line);
      y += h;
      r.Bottom = y;
    }
  } else {
    int y = r.Bottom;
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
      y -= h;
      c.TextOut(lineX(*it), y, *it);
      r.Top = y;
    }
  }

  if (framed) {
    if (!isFoot)
      r.Bottom += pw;
    else
      r.Top -= pw;
  }
  t.titleRect_ = box;

  if (!isFoot)
    plot.Top = r.Bottom + kTitleGap;
  else
    plot.Bottom = r.Top - kTitleGap;
  RecalcPlotSize();
}

void TCustomChart::PrepareWallCanvas(const TChartWall& wall) {
  TChartCanvas3D& c = Canvas();
  c.ApplyChartPen(wall.Pen());
  if (wall.Color() == clDefault && wall.Brush().Style() == bsSolid) {
    c.Brush().SetStyle(bsClear);
    return;
  }
  const TBrushStyle style = wall.Brush().Style();
  c.Brush().SetColor(wall.Color());
  c.Brush().SetStyle(style);
  // A hatch in the wall's own colour would vanish: draw it in the contrast.
  if (style != bsSolid && wall.Color() == wall.Brush().Color())
    c.Brush().SetColor(wall.Brush().Color() == clBlack ? clWhite : clBlack);
  if (style != bsSolid) {
    c.SetBackMode(cbmOpaque);
    c.SetBackColor(wall.Brush().Color());
  } else {
    c.SetBackMode(cbmTransparent);
  }
}

void TCustomChart::DrawWalls() {
  PrepareWallCanvas(*backWall_);
  const TRect& p = PlotRect();
  // One past the plot's right and bottom edges, so that the outline covers
  // the plot's last column and row.
  Canvas().Rectangle(p.Left, p.Top, p.Right + 1, p.Bottom + 1);
}

void TCustomChart::DrawZoomRectangleStep() { DrawZoomRectangle(); }

void TCustomChart::DrawZoomRectangle() {
  TChartCanvas3D& c = Canvas();
  TColor color = ColorToRGB(Color());
  if (color == clWhite) color = clBlack;
  c.Pen().SetColor(color);
  c.Pen().SetMode(pmNotXor);
  c.Pen().SetStyle(psSolid);
  c.Pen().SetWidth(1);
  c.Brush().SetStyle(bsClear);
  const TZoomPanningRecord& z = ZoomRecord();
  // Ordered corners: a drag up or to the left shows its outline too.
  c.Rectangle(std::min(z.StartX, z.EndX), std::min(z.StartY, z.EndY), std::max(z.StartX, z.EndX),
              std::max(z.StartY, z.EndY));
}

}  // namespace wg
