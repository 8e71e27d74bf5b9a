#include "ui/Dialogs.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

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

// Layout of the message dialog, in pixels, for the framework's nominal dialog font.
constexpr int kMargin = 8;
constexpr int kCharWidth = 6;
constexpr int kLineHeight = 13;
constexpr int kButtonGap = 16;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;

int ClampInt(std::int64_t v, std::int64_t lo, std::int64_t hi) {
  return static_cast<int>(std::max(lo, std::min(v, hi)));
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
  longest = std::max(longest, current);

  plat::WindowSystem& ws = plat::Windows();
  const std::int64_t screenW = std::max(ws.GetSystemMetrics(plat::SM_CXSCREEN), 1);
  const std::int64_t screenH = std::max(ws.GetSystemMetrics(plat::SM_CYSCREEN), 1);
  // Lengths come from any text: sums are wide and the dialog never grows past the screen.
  const int width = ClampInt(std::max<std::int64_t>(longest * kCharWidth, kButtonWidth) + 2 * kMargin,
                             kButtonWidth + 2 * kMargin, std::max<std::int64_t>(screenW, kButtonWidth));
  const int height = ClampInt(lines * kLineHeight + 2 * kMargin + kButtonGap + kButtonHeight,
                              kButtonHeight + 2 * kMargin, std::max<std::int64_t>(screenH, kButtonHeight));
  SetBounds(static_cast<int>((screenW - width) / 2), static_cast<int>((screenH - height) / 2), width, height);

  message_ = new TLabel(this);
  message_->SetParent(this);
  message_->SetCaption(Text);
  const int textHeight = height - 2 * kMargin - kButtonGap - kButtonHeight;
  message_->SetBounds(kMargin, kMargin, width - 2 * kMargin, std::max(textHeight, 0));

  ok_ = new TButton(this);
  ok_->SetCaption("OK");
  ok_->ModalResult = mrOk;
  ok_->Default = true;
  ok_->Cancel = true;
  ok_->SetBounds((width - kButtonWidth) / 2, height - kMargin - kButtonHeight, kButtonWidth, kButtonHeight);
  ok_->SetParent(this);
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
