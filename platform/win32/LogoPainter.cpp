#include "platform/win32/LogoPainter.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace plat::win32 {

namespace {

// The logo is drawn in a design box of 300 x 100 units, scaled evenly into
// the picture and centred in it.
constexpr double kLogoWidth = 300;
constexpr double kLogoHeight = 100;

struct LogoScale {
  double factor;
  double left, top;
  int X(double x) const { return static_cast<int>(std::lround(left + x * factor)); }
  int Y(double y) const { return static_cast<int>(std::lround(top + y * factor)); }
  int Size(double s) const { return std::max(1, static_cast<int>(std::lround(s * factor))); }
};

constexpr COLORREF kMarkColour = RGB(11, 94, 120);
constexpr COLORREF kAccentColour = RGB(240, 138, 36);
constexpr COLORREF kWordColour = RGB(10, 61, 85);
constexpr COLORREF kTaglineColour = RGB(88, 98, 108);

void DrawWord(HDC dc, const LogoScale& s, const wchar_t* word, double height, int weight,
              COLORREF colour, RECT box) {
  FontHandle font(CreateFontW(-s.Size(height), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                              DEFAULT_CHARSET, OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS,
                              ANTIALIASED_QUALITY, VARIABLE_PITCH | FF_SWISS, L"Tahoma"));
  if (!font)
    return;
  SelectedObject selected(dc, font.get());
  SetTextColor(dc, colour);
  DrawTextW(dc, word, -1, &box, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
}

} // namespace

void LogoPainter::Draw(HDC dc, const RECT& area) {
  FillRect(dc, &area, GetSysColorBrush(COLOR_BTNFACE));
  double width = area.right - area.left;
  double height = area.bottom - area.top;
  double factor = std::min(width / kLogoWidth, height / kLogoHeight);
  if (factor <= 0)
    return;
  LogoScale s{factor, area.left + (width - kLogoWidth * factor) / 2,
              area.top + (height - kLogoHeight * factor) / 2};

  // Every object below is selected inside this scope and deleted after it.
  BrushHandle markBrush(CreateSolidBrush(kMarkColour));
  PenHandle gapPen(CreatePen(PS_SOLID, s.Size(4), GetSysColor(COLOR_BTNFACE)));
  BrushHandle accentBrush(CreateSolidBrush(kAccentColour));
  if (!markBrush || !gapPen || !accentBrush)
    return;
  SavedDcState saved(dc);
  SetBkMode(dc, TRANSPARENT);

  // The mark: a rounded square carrying a white chevron, with an accent dot
  // set off from its corner.
  SelectObject(dc, GetStockObject(NULL_PEN));
  SelectObject(dc, markBrush.get());
  RoundRect(dc, s.X(4), s.Y(12), s.X(84), s.Y(92), s.Size(22), s.Size(22));

  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  const double chevron[][2] = {{18, 30}, {33, 30}, {44, 64}, {55, 30},
                               {70, 30}, {52, 78}, {36, 78}};
  POINT points[std::size(chevron)];
  for (size_t i = 0; i < std::size(chevron); ++i)
    points[i] = POINT{s.X(chevron[i][0]), s.Y(chevron[i][1])};
  Polygon(dc, points, static_cast<int>(std::size(points)));

  SelectObject(dc, gapPen.get());
  SelectObject(dc, accentBrush.get());
  Ellipse(dc, s.X(66), s.Y(2), s.X(94), s.Y(30));

  // The word mark and the product line beneath it.
  DrawWord(dc, s, L"Veltra", 50, FW_BOLD, kWordColour, RECT{s.X(98), s.Y(14), s.X(300), s.Y(70)});
  DrawWord(dc, s, L"DYNAMIC REMOTE HMI", 14, FW_NORMAL, kTaglineColour,
           RECT{s.X(101), s.Y(72), s.X(300), s.Y(92)});
}

void LogoPainter::Paint(HDC dc, const RECT& area) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  if (width <= 0 || height <= 0)
    return;
  const COLORREF background = GetSysColor(COLOR_BTNFACE);
  MemoryDcHandle memory(CreateCompatibleDC(dc));
  if (!memory) {
    Draw(dc, area);
    return;
  }
  if (!bitmap_ || width != width_ || height != height_ || background != background_) {
    bitmap_.reset(CreateCompatibleBitmap(dc, width, height));
    if (!bitmap_) {
      Draw(dc, area);
      return;
    }
    width_ = width;
    height_ = height;
    background_ = background;
    SelectedObject target(memory.get(), bitmap_.get());
    Draw(memory.get(), RECT{0, 0, width, height});
  }
  SelectedObject source(memory.get(), bitmap_.get());
  BitBlt(dc, area.left, area.top, width, height, memory.get(), 0, 0, SRCCOPY);
}

} // namespace plat::win32
