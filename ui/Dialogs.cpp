#include "ui/Dialogs.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

#include "platform/Gdi.h"
#include "platform/Platform.h"
#include "ui/StdCtrls.h"

namespace {

TModalLoopHook& LoopHook() {
  static TModalLoopHook hook;
  return hook;
}

// The program's visible, enabled top-level windows other than Except, disabled here; the list says which
// to enable again. Windows of other programs are left alone.
std::vector<plat::HWND> DisableTaskWindows(plat::HWND Except) {
  plat::WindowSystem& ws = plat::Windows();
  plat::HWND appWindow = Application && Application->HandleAllocated() ? Application->Handle() : nullptr;
  std::vector<plat::HWND> found;
  plat::HWND h = ws.GetWindow(ws.GetDesktopWindow(), plat::GW_CHILD);
  // Bounded: a window list changing under the walk must not keep it going.
  for (int guard = 0; h && guard < 65536; ++guard) {
    bool ours = h == appWindow || FindControl(h) != nullptr;
    if (ours && h != Except && ws.IsWindowVisible(h) && ws.IsWindowEnabled(h)) found.push_back(h);
    h = ws.GetWindow(h, plat::GW_HWNDNEXT);
  }
  // Disabled after the walk: WM_ENABLE handlers may reorder the windows.
  for (plat::HWND w : found) ws.EnableWindow(w, 0);
  return found;
}

void EnableTaskWindows(const std::vector<plat::HWND>& Windows) {
  plat::WindowSystem& ws = plat::Windows();
  for (plat::HWND w : Windows)
    if (ws.IsWindow(w)) ws.EnableWindow(w, 1);
}

bool MessageWaiting() {
  plat::MSG m{};
  return plat::Windows().PeekMessage(&m, nullptr, 0, 0, plat::PM_NOREMOVE) != 0;
}

// Layout of the message dialog, in pixels. The character size stands in for the dialog font's where no
// GDI can measure the text.
constexpr int kMargin = 12;
constexpr int kCharWidth = 6;
constexpr int kLineHeight = 13;
constexpr int kButtonGap = 12;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;

int ClampInt(std::int64_t v, std::int64_t lo, std::int64_t hi) {
  return static_cast<int>(std::max(lo, std::min(v, hi)));
}

// The text's extent in the dialog font, wrapped between words at maxWidth; false without a GDI.
bool MeasureText(const std::string& Text, int maxWidth, std::int64_t& Width, std::int64_t& Height) {
  plat::Gdi* gdi = plat::CurrentServices().gdi;
  if (!gdi) return false;
  plat::HDC dc = gdi->GetDC(nullptr);
  if (!dc) return false;
  plat::HGDIOBJ oldFont = gdi->SelectObject(dc, gdi->GetStockObject(plat::DEFAULT_GUI_FONT));
  plat::RECT r{0, 0, std::max(maxWidth, 1), 0};
  const int count = static_cast<int>(std::min<std::size_t>(Text.size(), INT_MAX));
  const int h = gdi->DrawTextA(dc, Text.c_str(), count, &r,
                               plat::DT_CALCRECT | plat::DT_WORDBREAK | plat::DT_NOPREFIX | plat::DT_LEFT);
  if (oldFont) gdi->SelectObject(dc, oldFont);
  gdi->ReleaseDC(nullptr, dc);
  if (h <= 0 && !Text.empty()) return false;
  Width = std::max<std::int64_t>(std::int64_t(r.right) - r.left, 0);
  Height = std::max<std::int64_t>(std::int64_t(r.bottom) - r.top, 0);
  return true;
}

// The nominal extent: every character as wide as kCharWidth, a line per line break.
void EstimateText(const std::string& Text, std::int64_t& Width, std::int64_t& Height) {
  std::int64_t lines = 1, longest = 0, current = 0;
  for (std::size_t i = 0; i < Text.size(); ++i) {
    if (Text[i] == '\n') {
      ++lines;
      longest = std::max(longest, current);
      current = 0;
    } else if (Text[i] != '\r') {
      ++current;
    }
  }
  Width = std::max(longest, current) * kCharWidth;
  Height = lines * kLineHeight;
}

}  // namespace

TModalLoopHook SetModalLoopHook(TModalLoopHook Hook) {
  TModalLoopHook old = std::move(LoopHook());
  LoopHook() = std::move(Hook);
  return old;
}

// --- TModalForm

TModalForm::TModalForm(TComponent* AOwner) : TForm(AOwner) {}

TButton* TModalForm::FindButton(bool wantDefault) const {
  for (int i = 0; i < ControlCount(); ++i) {
    auto* b = dynamic_cast<TButton*>(Controls(i));
    if (b && (wantDefault ? b->Default : b->Cancel)) return b;
  }
  return nullptr;
}

TButton* TModalForm::DefaultButton() const {
  return FindButton(true);
}
TButton* TModalForm::CancelButton() const {
  return FindButton(false);
}

void TModalForm::DialogKey(plat::WPARAM Key) {
  if (Key == VK_RETURN) {
    if (TButton* b = DefaultButton())
      if (b->Enabled()) b->Click();
  } else if (Key == VK_ESCAPE) {
    if (TButton* b = CancelButton()) {
      if (b->Enabled()) b->Click();
    } else if (modal_) {
      modalResult_ = mrCancel;
    }
  }
}

void TModalForm::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case plat::WM_CLOSE:
      if (modal_) {
        // Closing a modal form ends its loop instead of hiding it under the loop's feet.
        Message.Result = 0;
        if (CloseQuery()) modalResult_ = mrCancel;
        return;
      }
      break;
    case plat::WM_KEYDOWN:
      if (Message.WParam == VK_RETURN || Message.WParam == VK_ESCAPE) {
        Message.Result = 0;
        DialogKey(Message.WParam);
        return;
      }
      break;
    default:
      break;
  }
  TForm::WndProc(Message);
}

int TModalForm::ShowModal() {
  if (!Application) throw EInvalidOperation(SNoApplication);
  if (Visible() || !Enabled() || modal_) throw EInvalidOperation(SCannotShowModal);
  plat::WindowSystem& ws = plat::Windows();
  plat::HWND self = Handle();
  plat::HWND focusBefore = ws.GetFocus();
  std::vector<plat::HWND> disabled = DisableTaskWindows(self);
  modalResult_ = mrNone;
  modal_ = true;
  auto end = [&]() {
    modal_ = false;
    // Enabled before the form hides, so the program's own window can take the focus back.
    EnableTaskWindows(disabled);
    Hide();
    if (focusBefore && ws.IsWindow(focusBefore)) ws.SetFocus(focusBefore);
  };
  try {
    Show();
    TButton* first = DefaultButton();
    ws.SetFocus(first ? first->Handle() : self);
    int pass = 0;
    while (modalResult_ == mrNone) {
      if (Application->Terminated()) {
        modalResult_ = mrCancel;
        break;
      }
      if (TModalLoopHook hook = LoopHook()) hook(*this, pass);
      if (pass < INT_MAX) ++pass;
      if (modalResult_ != mrNone) break;
      // With no idle handler the pass would wait for a message; a platform that proves none will ever
      // come (or cannot wait) ends the dialog rather than the loop spinning on.
      if (!Application->OnIdle && !MessageWaiting() && !ws.WaitMessage()) {
        modalResult_ = mrCancel;
        break;
      }
      try {
        Application->HandleMessage();
      } catch (...) {
        // Reported as the main loop would, and the dialog stays.
        Application->HandleException(this);
      }
      if (Application->Terminated() && modalResult_ == mrNone) modalResult_ = mrCancel;
    }
  } catch (...) {
    end();
    throw;
  }
  end();
  return modalResult_;
}

// --- TMessageForm

TMessageForm::TMessageForm(TComponent* AOwner, const std::string& Text) : TModalForm(AOwner) {
  SetBorderStyle(TFormBorderStyle::bsDialog);
  SetCaption(Application ? Application->Title() : std::string());

  plat::WindowSystem& ws = plat::Windows();
  const std::int64_t screenW = std::max(ws.GetSystemMetrics(plat::SM_CXSCREEN), 1);
  const std::int64_t screenH = std::max(ws.GetSystemMetrics(plat::SM_CYSCREEN), 1);
  std::int64_t textW = 0, textH = 0;
  // Lines longer than three quarters of the screen wrap, as message boxes do.
  if (!MeasureText(Text, static_cast<int>(screenW * 3 / 4), textW, textH)) EstimateText(Text, textW, textH);
  // Lengths come from any text: sums are wide and the dialog never grows past the screen.
  const int width = ClampInt(std::max<std::int64_t>(textW, kButtonWidth) + 2 * kMargin,
                             kButtonWidth + 2 * kMargin, std::max<std::int64_t>(screenW, kButtonWidth));
  const int height = ClampInt(textH + 2 * kMargin + kButtonGap + kButtonHeight, kButtonHeight + 2 * kMargin,
                              std::max<std::int64_t>(screenH, kButtonHeight));
  SetBounds(static_cast<int>((screenW - width) / 2), static_cast<int>((screenH - height) / 2), width, height);

  message_ = new TLabel(this);
  message_->SetParent(this);
  message_->SetCaption(Text);
  // Shown as written: an e-mail address or a web address may hold an '&'.
  message_->ShowAccelChar = false;
  // The text block sits centred above the button; a clamped dialog shows what fits.
  const int labelWidth = ClampInt(textW, 0, width - 2 * kMargin);
  const int labelHeight = ClampInt(textH, 0, std::max(height - 2 * kMargin - kButtonGap - kButtonHeight, 0));
  message_->SetBounds((width - labelWidth) / 2, kMargin, labelWidth, labelHeight);

  ok_ = new TButton(this);
  ok_->SetCaption("OK");
  ok_->ModalResult = mrOk;
  ok_->Default = true;
  ok_->Cancel = true;
  ok_->SetBounds((width - kButtonWidth) / 2, height - kMargin - kButtonHeight, kButtonWidth, kButtonHeight);
  ok_->SetParent(this);
}

void TMessageForm::CreateWnd() {
  TModalForm::CreateWnd();
  if (frameAdded_ || !HandleAllocated()) return;
  // The layout is of the client area. Where the window manager adds a caption and borders, the window
  // grows by them (once), so the button is not cut off, and is centred again.
  plat::WindowSystem& ws = plat::Windows();
  plat::RECT wr{}, cr{};
  if (!ws.GetWindowRect(handle_, &wr) || !ws.GetClientRect(handle_, &cr)) return;
  const std::int64_t dw = (std::int64_t(wr.right) - wr.left) - (std::int64_t(cr.right) - cr.left);
  const std::int64_t dh = (std::int64_t(wr.bottom) - wr.top) - (std::int64_t(cr.bottom) - cr.top);
  if (dw <= 0 && dh <= 0) return;
  frameAdded_ = true;
  const std::int64_t screenW = std::max(ws.GetSystemMetrics(plat::SM_CXSCREEN), 1);
  const std::int64_t screenH = std::max(ws.GetSystemMetrics(plat::SM_CYSCREEN), 1);
  const int width =
      ClampInt(Width() + std::max<std::int64_t>(dw, 0), 0, std::max<std::int64_t>(screenW, Width()));
  const int height =
      ClampInt(Height() + std::max<std::int64_t>(dh, 0), 0, std::max<std::int64_t>(screenH, Height()));
  SetBounds(static_cast<int>(std::max<std::int64_t>((screenW - width) / 2, 0)),
            static_cast<int>(std::max<std::int64_t>((screenH - height) / 2, 0)), width, height);
}

void TMessageForm::PaintWindow(plat::HDC DC) {
  if (plat::Gdi* gdi = plat::CurrentServices().gdi; gdi && DC) {
    const plat::RECT client{0, 0, ClientWidth(), ClientHeight()};
    gdi->FillRect(DC, &client, gdi->GetSysColorBrush(plat::COLOR_BTNFACE));
  }
  TModalForm::PaintWindow(DC);
}

const std::string& TMessageForm::Text() const {
  return message_->Caption();
}

TMessageForm* CreateMessageDialog(const std::string& Text) {
  return new TMessageForm(nullptr, Text);
}

int ShowMessageDialog(const std::string& Text) {
  TMessageForm* form = CreateMessageDialog(Text);
  int result = mrNone;
  try {
    result = form->ShowModal();
  } catch (...) {
    FreeComponent(form);
    throw;
  }
  FreeComponent(form);
  return result;
}
