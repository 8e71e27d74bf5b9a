#include "ui/StdCtrls.h"

#include <algorithm>
#include <climits>

#include "platform/Gdi.h"
#include "platform/Platform.h"
#include "ui/Dialogs.h"

namespace {
TModalForm* ParentModalForm(TControl* c) {
  TControl* top = c;
  while (top->Parent()) top = top->Parent();
  return dynamic_cast<TModalForm*>(top);
}

// Captions of any length reach the text calls, which count in int.
int TextCount(const std::string& s) {
  return static_cast<int>(std::min<std::size_t>(s.size(), INT_MAX));
}

// Text on a control: the default GUI font, no background of its own, the button-text colour (grey when
// disabled).
void PrepareText(plat::Gdi& gdi, plat::HDC dc, bool enabled) {
  gdi.SelectObject(dc, gdi.GetStockObject(plat::DEFAULT_GUI_FONT));
  gdi.SetBkMode(dc, plat::TRANSPARENT);
  gdi.SetTextColor(dc, gdi.GetSysColor(enabled ? plat::COLOR_BTNTEXT : plat::COLOR_GRAYTEXT));
}
}  // namespace

// --- TLabel

void TLabel::PaintControl(plat::HDC DC) {
  plat::Gdi& gdi = plat::GdiSvc();
  PrepareText(gdi, DC, Enabled());
  plat::RECT r{Left(), Top(), Left() + Width(), Top() + Height()};
  plat::UINT format = plat::DT_LEFT | plat::DT_WORDBREAK;
  if (!ShowAccelChar) format |= plat::DT_NOPREFIX;
  gdi.DrawTextA(DC, Caption().c_str(), TextCount(Caption()), &r, format);
}

// --- TButton

TButton::TButton(TComponent* AOwner) : TCustomControl(AOwner) {
  width_ = 75;
  height_ = 25;
}

void TButton::CreateParams(TCreateParams& Params) {
  TCustomControl::CreateParams(Params);
  Params.Style |= plat::WS_TABSTOP;
}

void TButton::Click() {
  if (ModalResult != mrNone) {
    if (TModalForm* form = ParentModalForm(this)) form->SetModalResult(ModalResult);
  }
  if (OnClick) OnClick(this);
}

void TButton::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case plat::WM_LBUTTONDOWN:
      SetPressed(Enabled());
      Message.Result = 0;
      return;
    case plat::WM_LBUTTONUP: {
      // A click is a press and a release both over the button; releasing elsewhere takes it back.
      bool wasPressed = pressed_;
      SetPressed(false);
      int x = plat::GET_X_LPARAM(Message.LParam), y = plat::GET_Y_LPARAM(Message.LParam);
      bool inside = x >= 0 && y >= 0 && x < Width() && y < Height();
      Message.Result = 0;
      if (wasPressed && inside && Enabled()) Click();
      return;
    }
    case BM_CLICK:
      Message.Result = 0;
      if (Enabled()) Click();
      return;
    case plat::WM_KEYDOWN:
      Message.Result = 0;
      if (Message.WParam == VK_SPACE) {
        if (Enabled()) Click();
        return;
      }
      if (Message.WParam == VK_RETURN || Message.WParam == VK_ESCAPE) {
        if (TModalForm* form = ParentModalForm(this)) form->DialogKey(Message.WParam);
        return;
      }
      break;
    case plat::WM_SETFOCUS:
    case plat::WM_KILLFOCUS:
    case plat::WM_ENABLE:
      // The focus rectangle and the caption colour change with these.
      Invalidate();
      break;
    default:
      break;
  }
  TCustomControl::WndProc(Message);
}

void TButton::SetPressed(bool v) {
  if (pressed_ == v) return;
  pressed_ = v;
  Invalidate();
}

void TButton::Paint() {
  plat::HDC dc = PaintDC();
  plat::Gdi* gdi = plat::CurrentServices().gdi;
  if (!dc || !gdi) return;
  plat::RECT r{0, 0, Width(), Height()};
  const bool focused = HandleAllocated() && plat::Windows().GetFocus() == Handle();
  if (Default || focused) {
    // The button Enter presses wears a dark outline around its face.
    plat::HBRUSH frame = gdi->GetSysColorBrush(plat::COLOR_WINDOWFRAME);
    const plat::RECT edges[4] = {{r.left, r.top, r.right, r.top + 1},
                                 {r.left, r.bottom - 1, r.right, r.bottom},
                                 {r.left, r.top, r.left + 1, r.bottom},
                                 {r.right - 1, r.top, r.right, r.bottom}};
    for (const plat::RECT& e : edges) gdi->FillRect(dc, &e, frame);
    r = {r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
  }
  plat::UINT state = plat::DFCS_BUTTONPUSH;
  if (pressed_) state |= plat::DFCS_PUSHED;
  if (!Enabled()) state |= plat::DFCS_INACTIVE;
  plat::RECT face = r;
  gdi->DrawFrameControl(dc, &face, plat::DFC_BUTTON, state);
  plat::RECT text = r;
  if (pressed_) {
    // The caption moves with the face as it sinks.
    ++text.left, ++text.top, ++text.right, ++text.bottom;
  }
  PrepareText(*gdi, dc, Enabled());
  gdi->DrawTextA(dc, Caption().c_str(), TextCount(Caption()), &text,
                 plat::DT_CENTER | plat::DT_VCENTER | plat::DT_SINGLELINE);
  if (focused) {
    const plat::RECT focus{r.left + 3, r.top + 3, r.right - 3, r.bottom - 3};
    if (focus.left < focus.right && focus.top < focus.bottom) gdi->DrawFocusRect(dc, &focus);
  }
}
