#include "picture/Graphics.h"
#include "platform/Gdi.h"
#include "platform/Platform.h"

namespace {

// System colours (negative TColor values) are not used for drawing here; the button face is the only one the
// framework names and maps to its usual grey.
plat::COLORREF ColorToRGB(TColor c) {
  if (c < 0) return 0x00F0F0F0u;
  return static_cast<plat::COLORREF>(c) & 0x00FFFFFFu;
}

}  // namespace

plat::HDC TCanvas::Handle() {
  if (handle_ == nullptr) CreateHandle();
  if (handle_ == nullptr) throw EInvalidOperation(SNoCanvasHandle);
  return handle_;
}

void TCanvas::Draw(int X, int Y, TGraphic* Graphic) {
  if (Graphic == nullptr || Graphic->Empty()) return;
  Graphic->DrawGraphic(*this, Rect(X, Y, X + Graphic->Width(), Y + Graphic->Height()));
}

void TCanvas::StretchDraw(const TRect& R, TGraphic* Graphic) {
  if (Graphic == nullptr || Graphic->Empty()) return;
  Graphic->DrawGraphic(*this, R);
}

void TCanvas::CopyRect(const TRect& Dest, TCanvas& Canvas, const TRect& Source) {
  plat::GdiSvc().StretchBlt(Handle(), Dest.Left, Dest.Top, Dest.Width(), Dest.Height(), Canvas.Handle(),
                            Source.Left, Source.Top, Source.Width(), Source.Height(), copyMode_);
}

void TCanvas::FillRect(const TRect& R) {
  if (Brush.Style == bsClear) return;
  plat::Gdi& gdi = plat::GdiSvc();
  plat::HBRUSH brush = gdi.CreateSolidBrush(ColorToRGB(Brush.Color));
  const plat::RECT r = R.ToRECT();
  gdi.FillRect(Handle(), &r, brush);
  gdi.DeleteObject(plat::Obj(brush));
}

void TCanvas::Rectangle(int X1, int Y1, int X2, int Y2) {
  plat::Gdi& gdi = plat::GdiSvc();
  plat::HDC dc = Handle();
  plat::HPEN pen =
      Pen.Style == psClear ? nullptr : gdi.CreatePen(plat::PS_SOLID, Pen.Width, ColorToRGB(Pen.Color));
  plat::HBRUSH brush = Brush.Style == bsClear ? nullptr : gdi.CreateSolidBrush(ColorToRGB(Brush.Color));
  plat::HGDIOBJ oldPen = gdi.SelectObject(dc, pen ? plat::Obj(pen) : gdi.GetStockObject(plat::NULL_PEN));
  plat::HGDIOBJ oldBrush =
      gdi.SelectObject(dc, brush ? plat::Obj(brush) : gdi.GetStockObject(plat::NULL_BRUSH));
  gdi.Rectangle(dc, X1, Y1, X2, Y2);
  gdi.SelectObject(dc, oldPen);
  gdi.SelectObject(dc, oldBrush);
  if (pen) gdi.DeleteObject(plat::Obj(pen));
  if (brush) gdi.DeleteObject(plat::Obj(brush));
}

TColor TCanvas::Pixel(int X, int Y) {
  const plat::COLORREF c = plat::GdiSvc().GetPixel(Handle(), X, Y);
  return c == plat::CLR_INVALID ? clNone : static_cast<TColor>(c);
}

void TCanvas::SetPixel(int X, int Y, TColor Color) {
  plat::GdiSvc().SetPixel(Handle(), X, Y, ColorToRGB(Color));
}
