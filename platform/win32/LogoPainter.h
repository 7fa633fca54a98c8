// The product logo of the login window's picture: a mark (a rounded square
// with a chevron and an accent dot) and the word mark with the product line,
// drawn with GDI into any rectangle, scaled evenly and centred.
#pragma once

#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Handles.h"

namespace plat::win32 {

class LogoPainter {
public:
  // Paints the logo over `area` of `dc`, on the dialog background colour.
  // The first paint of a size draws into a bitmap kept for the next ones,
  // which are then one copy each.
  void Paint(HDC dc, const RECT& area);

  // Draws the logo straight into `dc` (what the kept bitmap holds).
  static void Draw(HDC dc, const RECT& area);

private:
  BitmapHandle bitmap_;
  int width_ = 0;
  int height_ = 0;
  COLORREF background_ = 0;
};

} // namespace plat::win32
