#include "ui/StdCtrls.h"

#include "platform/Platform.h"
#include "ui/Dialogs.h"

namespace {
TModalForm* ParentModalForm(TControl* c) {
  TControl* top = c;
  while (top->Parent()) top = top->Parent();
  return dynamic_cast<TModalForm*>(top);
}
}  // namespace

TButton::TButton(TComponent* AOwner) : TWinControl(AOwner) {
  width_ = 75;
  height_ = 25;
}

void TButton::CreateParams(TCreateParams& Params) {
  TWinControl::CreateParams(Params);
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
      pressed_ = Enabled();
      Message.Result = 0;
      return;
    case plat::WM_LBUTTONUP: {
      // A click is a press and a release both over the button; releasing elsewhere takes it back.
      bool wasPressed = pressed_;
      pressed_ = false;
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
    default:
      break;
  }
  TWinControl::WndProc(Message);
}
