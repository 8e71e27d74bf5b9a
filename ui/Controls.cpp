#include "ui/Controls.h"

#include <algorithm>
#include <cstdint>
#include <map>

#include "core/Consts.h"
#include "core/PropTable.h"
#include "platform/Gdi.h"
#include "platform/Platform.h"
#include "ui/Forms.h"
#include "ui/Menus.h"

namespace {
// Stored coordinates come from descriptions and callers unchecked: do the sums wide and clamp.
int Clamp32(std::int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int>(v);
}
std::int64_t W(int v) {
  return v;
}
std::map<plat::HWND, TWinControl*>& HandleMap() {
  static std::map<plat::HWND, TWinControl*> m;
  return m;
}
// The control whose window is being created: its procedure must see WM_NCCREATE and WM_CREATE already.
TWinControl* g_creating = nullptr;
}  // namespace

TWinControl* FindControl(plat::HWND hwnd) {
  auto it = HandleMap().find(hwnd);
  return it == HandleMap().end() ? nullptr : it->second;
}

plat::LRESULT FrameworkWindowProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  TWinControl* c = FindControl(hwnd);
  if (!c && g_creating && !g_creating->handle_) {
    c = g_creating;
    c->handle_ = hwnd;
    HandleMap()[hwnd] = c;
  }
  if (!c) return plat::Windows().DefWindowProc(hwnd, msg, wParam, lParam);
  TMessage m{msg, wParam, lParam, 0};
  // Errors must not cross the window manager: they are reported here and the message counts as handled.
  try {
    c->WindowProc(m);
  } catch (...) {
    if (Application)
      Application->HandleException(c);
    else
      throw;
  }
  if (msg == plat::WM_NCDESTROY) {
    HandleMap().erase(hwnd);
    if (c->handle_ == hwnd) {
      c->handle_ = nullptr;
      c->showing_ = false;
    }
  }
  return m.Result;
}

// --- TControl

TControl::TControl(TComponent* AOwner) : TComponent(AOwner) {
  WindowProc = [this](TMessage& m) { WndProc(m); };
}

TControl::~TControl() {
  if (parent_) parent_->RemoveControl(this);
  parent_ = nullptr;
}

void TControl::SetParent(TWinControl* AParent) {
  if (parent_ == AParent) return;
  if (AParent == this) throw EInvalidOperation(SControlParentSelf);
  if (parent_) parent_->RemoveControl(this);
  if (AParent) {
    AParent->InsertControl(this);
    UpdateAnchorRules();
  }
}

void TControl::SetParentComponent(TComponent* Value) {
  if (auto* w = dynamic_cast<TWinControl*>(Value)) SetParent(w);
}

TComponent* TControl::GetParentComponent() const {
  return parent_;
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  if (AWidth < 0) AWidth = 0;
  if (AHeight < 0) AHeight = 0;
  if (ALeft == left_ && ATop == top_ && AWidth == width_ && AHeight == height_) return;
  bool resized = AWidth != width_ || AHeight != height_;
  left_ = ALeft;
  top_ = ATop;
  width_ = AWidth;
  height_ = AHeight;
  if (!anchoring_) UpdateAnchorRules();
  if (resized) Resize();
}

void TControl::SetClientWidth(int v) {
  SetWidth(Clamp32(W(v) + width_ - ClientWidth()));
}
void TControl::SetClientHeight(int v) {
  SetHeight(Clamp32(W(v) + height_ - ClientHeight()));
}

void TControl::Resize() {
  if (OnResize) OnResize(this);
}

TPoint TControl::ClientToScreen(const TPoint& p) const {
  TPoint r{Clamp32(W(p.X) + left_), Clamp32(W(p.Y) + top_)};
  if (parent_) return parent_->ClientToScreen(r);
  return r;
}

void TControl::SetAnchors(TAnchors v) {
  if (anchors_ == v) return;
  anchors_ = v;
  UpdateAnchorRules();
}

void TControl::UpdateAnchorRules() {
  if (!parent_) return;
  anchorParentWidth_ = parent_->ClientWidth();
  anchorParentHeight_ = parent_->ClientHeight();
  anchorRight_ = Clamp32(W(anchorParentWidth_) - left_ - width_);
  anchorBottom_ = Clamp32(W(anchorParentHeight_) - top_ - height_);
}

void TControl::AnchorToParent(int newClientWidth, int newClientHeight) {
  int l = left_, t = top_, w = width_, h = height_;
  if (anchors_ & akRight) {
    if (anchors_ & akLeft)
      w = Clamp32(W(newClientWidth) - l - anchorRight_);
    else
      l = Clamp32(W(newClientWidth) - w - anchorRight_);
  } else if (!(anchors_ & akLeft)) {
    // Anchored to neither side: keep the centre where it was relative to the parent's width.
    l = Clamp32(W(l) + (W(newClientWidth) - anchorParentWidth_) / 2);
  }
  if (anchors_ & akBottom) {
    if (anchors_ & akTop)
      h = Clamp32(W(newClientHeight) - t - anchorBottom_);
    else
      t = Clamp32(W(newClientHeight) - h - anchorBottom_);
  } else if (!(anchors_ & akTop)) {
    t = Clamp32(W(t) + (W(newClientHeight) - anchorParentHeight_) / 2);
  }
  if (!(anchors_ & akLeft) && !(anchors_ & akRight)) anchorParentWidth_ = newClientWidth;
  if (!(anchors_ & akTop) && !(anchors_ & akBottom)) anchorParentHeight_ = newClientHeight;
  anchoring_ = true;
  try {
    SetBounds(l, t, w, h);
  } catch (...) {
    anchoring_ = false;
    throw;
  }
  anchoring_ = false;
}

void TControl::SetVisible(bool v) {
  if (visible_ == v) return;
  visible_ = v;
  VisibleChanged();
}

void TControl::SetEnabled(bool v) {
  enabled_ = v;
}
void TControl::SetColor(TColor v) {
  color_ = v;
}
void TControl::SetCaption(const std::string& v) {
  caption_ = v;
}

void TControl::SetPopupMenu(TPopupMenu* v) {
  if (popupMenu_ == v) return;
  if (popupMenu_) popupMenu_->RemoveFreeNotification(this);
  popupMenu_ = v;
  if (v) v->FreeNotification(this);
}

void TControl::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == TOperation::opRemove && AComponent && AComponent == popupMenu_) popupMenu_ = nullptr;
}

void TControl::Loaded() {
  TComponent::Loaded();
  UpdateAnchorRules();
}

plat::LRESULT TControl::Perform(plat::UINT Msg, plat::WPARAM WParam, plat::LPARAM LParam) {
  TMessage m{Msg, WParam, LParam, 0};
  WindowProc(m);
  return m.Result;
}

void TControl::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case plat::WM_CONTEXTMENU:
      DoContextPopup(Message);
      return;
    default:
      DefaultHandler(Message);
  }
}

bool TControl::PaletteChanged(bool) {
  return false;
}

void TControl::DoContextPopup(TMessage& Message) {
  if (!popupMenu_ || !popupMenu_->AutoPopup()) {
    DefaultHandler(Message);
    return;
  }
  int x = plat::GET_X_LPARAM(Message.LParam), y = plat::GET_Y_LPARAM(Message.LParam);
  if (Message.LParam == -1) {  // from the keyboard: at the mouse position
    plat::POINT p{0, 0};
    plat::Windows().GetCursorPos(&p);
    x = p.x;
    y = p.y;
  }
  popupMenu_->SetPopupComponent(this);
  popupMenu_->Popup(x, y);
  Message.Result = 1;
}

void TControl::DefaultHandler(TMessage&) {}

// --- TWinControl

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl() {
  DestroyHandle();
  // Children are owned elsewhere; they only forget this parent.
  for (TControl* c : controls_) c->parent_ = nullptr;
  controls_.clear();
}

TControl* TWinControl::Controls(int Index) const {
  if (Index < 0 || Index >= ControlCount()) throw EListError(Format(SListIndexError, Index));
  return controls_[static_cast<std::size_t>(Index)];
}

void TWinControl::InsertControl(TControl* c) {
  controls_.push_back(c);
  c->parent_ = this;
  if (auto* w = dynamic_cast<TWinControl*>(c)) {
    if (w->HandleAllocated() && HandleAllocated()) plat::Windows().SetParent(w->handle_, handle_);
    w->UpdateControlState();
  }
}

void TWinControl::RemoveControl(TControl* c) {
  if (auto* w = dynamic_cast<TWinControl*>(c)) {
    if (w->HandleAllocated()) w->DestroyHandle();
  }
  controls_.erase(std::remove(controls_.begin(), controls_.end(), c), controls_.end());
  c->parent_ = nullptr;
}

plat::HWND TWinControl::Handle() {
  HandleNeeded();
  return handle_;
}

void TWinControl::HandleNeeded() {
  if (handle_) return;
  if (parent_) parent_->HandleNeeded();
  CreateHandle();
}

void TWinControl::CreateHandle() {
  if (handle_) return;
  CreateWnd();
  if (!handle_) return;
  for (TControl* c : controls_) {
    if (auto* w = dynamic_cast<TWinControl*>(c)) w->UpdateShowing();
  }
}

void TWinControl::CreateParams(TCreateParams& Params) {
  Params.Caption = Caption();
  Params.Style = plat::WS_CHILD | plat::WS_CLIPSIBLINGS | plat::WS_CLIPCHILDREN;
  Params.ExStyle = 0;
  Params.X = left_;
  Params.Y = top_;
  Params.Width = width_;
  Params.Height = height_;
  if (parent_)
    Params.WndParent = parent_->Handle();
  else
    Params.WndParent = parentWindow_;
  Params.WinClassName = ClassName();
  if (!Enabled()) Params.Style |= plat::WS_DISABLED;
}

void TWinControl::CreateWnd() {
  TCreateParams p;
  CreateParams(p);
  if ((p.Style & plat::WS_CHILD) && !p.WndParent) throw EInvalidOperation(Format(SParentRequired, Name()));
  plat::WindowSystem& ws = plat::Windows();
  plat::WNDCLASS existing{};
  if (!ws.GetClassInfo(nullptr, p.WinClassName.c_str(), &existing)) {
    plat::WNDCLASS wc{};
    wc.style = plat::CS_DBLCLKS;
    wc.lpfnWndProc = &FrameworkWindowProc;
    wc.lpszClassName = p.WinClassName.c_str();
    ws.RegisterClass(wc);
  }
  TWinControl* saved = g_creating;
  g_creating = this;
  plat::HWND h = nullptr;
  try {
    h = ws.CreateWindowEx(p.ExStyle, p.WinClassName.c_str(), p.Caption.c_str(), p.Style, p.X, p.Y, p.Width,
                          p.Height, p.WndParent, nullptr, this);
  } catch (...) {
    g_creating = saved;
    throw;
  }
  g_creating = saved;
  if (!h) {
    if (handle_) HandleMap().erase(handle_);
    handle_ = nullptr;
    RaiseLastOSError();
  }
  if (handle_ != h) {
    handle_ = h;
    HandleMap()[h] = this;
  }
  showing_ = (p.Style & plat::WS_VISIBLE) != 0;
}

void TWinControl::DestroyHandle() {
  if (!handle_) return;
  for (TControl* c : controls_) {
    if (auto* w = dynamic_cast<TWinControl*>(c)) w->DestroyHandle();
  }
  DestroyWnd();
}

void TWinControl::DestroyWnd() {
  plat::HWND h = handle_;
  if (!h) return;
  plat::Windows().DestroyWindow(h);
  // The procedure clears the handle at WM_NCDESTROY; make sure even if the window was already gone.
  HandleMap().erase(h);
  handle_ = nullptr;
  showing_ = false;
}

void TWinControl::SetParentWindow(plat::HWND Value) {
  if (parentWindow_ == Value) return;
  if (HandleAllocated() && parentWindow_ && Value) {
    parentWindow_ = Value;
    plat::Windows().SetParent(handle_, Value);
    // Keyboard cues start hidden in a window moved under a foreign parent.
    Perform(plat::WM_CHANGEUISTATE,
            plat::MAKEWPARAM(plat::UIS_INITIALIZE, plat::UISF_HIDEACCEL | plat::UISF_HIDEFOCUS), 0);
  } else {
    DestroyHandle();
    parentWindow_ = Value;
  }
  UpdateControlState();
}

void TWinControl::UpdateControlState() {
  UpdateShowing();
}

bool TWinControl::IsShowingWanted() const {
  if (!visible_) return false;
  if (parent_) return parent_->Showing();
  return parentWindow_ != nullptr;
}

void TWinControl::UpdateShowing() {
  bool want = IsShowingWanted();
  if (want) {
    HandleNeeded();
    if (!handle_) return;
    if (!showing_) ShowWindowNow(true);
  } else if (handle_ && showing_) {
    ShowWindowNow(false);
  }
  for (TControl* c : controls_) {
    if (auto* w = dynamic_cast<TWinControl*>(c)) {
      if (w->HandleAllocated() || w->IsShowingWanted()) w->UpdateShowing();
    }
  }
}

void TWinControl::ShowWindowNow(bool show) {
  showing_ = show;
  plat::UINT flags = plat::SWP_NOSIZE | plat::SWP_NOMOVE | plat::SWP_NOZORDER | plat::SWP_NOACTIVATE |
                     (show ? plat::SWP_SHOWWINDOW : plat::SWP_HIDEWINDOW);
  plat::Windows().SetWindowPos(handle_, nullptr, 0, 0, 0, 0, flags);
}

void TWinControl::VisibleChanged() {
  UpdateShowing();
}

void TWinControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  if (AWidth < 0) AWidth = 0;
  if (AHeight < 0) AHeight = 0;
  int oldW = ClientWidth(), oldH = ClientHeight();
  if (ALeft == left_ && ATop == top_ && AWidth == width_ && AHeight == height_) return;
  TControl::SetBounds(ALeft, ATop, AWidth, AHeight);
  if (handle_)
    plat::Windows().SetWindowPos(handle_, nullptr, left_, top_, width_, height_,
                                 plat::SWP_NOZORDER | plat::SWP_NOACTIVATE);
  if (ClientWidth() != oldW || ClientHeight() != oldH) AlignControls(oldW, oldH);
}

void TWinControl::AlignControls(int, int) {
  int w = ClientWidth(), h = ClientHeight();
  std::vector<TControl*> list = controls_;
  for (TControl* c : list) c->AnchorToParent(w, h);
}

void TWinControl::SetCaption(const std::string& v) {
  TControl::SetCaption(v);
  if (handle_) plat::Windows().SetWindowText(handle_, v.c_str());
}

void TWinControl::SetEnabled(bool v) {
  TControl::SetEnabled(v);
  if (handle_) plat::Windows().EnableWindow(handle_, v ? 1 : 0);
}

void TWinControl::Invalidate() {
  if (handle_) plat::Windows().InvalidateRect(handle_, nullptr, 1);
}

void TWinControl::Update() {
  if (handle_) plat::Windows().UpdateWindow(handle_);
}

void TWinControl::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case plat::WM_PAINT:
      WMPaint(Message);
      return;
    case plat::WM_RBUTTONUP: {
      // The context menu opens where the button was released, in screen coordinates.
      plat::POINT p{plat::GET_X_LPARAM(Message.LParam), plat::GET_Y_LPARAM(Message.LParam)};
      if (handle_) plat::Windows().ClientToScreen(handle_, &p);
      Perform(plat::WM_CONTEXTMENU, reinterpret_cast<plat::WPARAM>(handle_), plat::MAKEPOINTLPARAM(p.x, p.y));
      return;
    }
    default:
      TControl::WndProc(Message);
  }
}

bool TWinControl::PaletteChanged(bool Foreground) {
  if (!Visible()) return false;
  // Topmost child first; in the foreground only one control realises its palette.
  bool handled = false;
  for (int i = ControlCount() - 1; i >= 0; --i) {
    if (Foreground && handled) return true;
    handled = Controls(i)->PaletteChanged(Foreground) || handled;
  }
  return TControl::PaletteChanged(Foreground) || handled;
}

void TWinControl::WMPaint(TMessage& Message) {
  plat::PAINTSTRUCT ps{};
  plat::HDC dc = plat::Windows().BeginPaint(handle_, &ps);
  try {
    PaintWindow(dc);
  } catch (...) {
    plat::Windows().EndPaint(handle_, &ps);
    throw;
  }
  plat::Windows().EndPaint(handle_, &ps);
  Message.Result = 0;
}

void TWinControl::PaintWindow(plat::HDC DC) {
  Paint();
  PaintControls(DC);
}

void TWinControl::PaintControls(plat::HDC DC) {
  // Without a GDI service the DC is only a token: there is nothing to draw on.
  plat::Gdi* gdi = plat::CurrentServices().gdi;
  if (!DC || !gdi) return;
  std::vector<TControl*> list = controls_;
  for (TControl* c : list) {
    if (dynamic_cast<TWinControl*>(c) || !c->Visible()) continue;
    const int saved = gdi->SaveDC(DC);
    try {
      c->PaintControl(DC);
    } catch (...) {
      if (saved) gdi->RestoreDC(DC, saved);
      throw;
    }
    if (saved) gdi->RestoreDC(DC, saved);
  }
}

void TWinControl::DefaultHandler(TMessage& Message) {
  if (!handle_) {
    Message.Result = 0;
    return;
  }
  if (Message.Msg == plat::WM_CONTEXTMENU && parent_) {
    // A child without a menu of its own lets its parent offer one, as the window manager does.
    Message.Result = parent_->Perform(Message.Msg, Message.WParam, Message.LParam);
    return;
  }
  Message.Result = plat::Windows().DefWindowProc(handle_, Message.Msg, Message.WParam, Message.LParam);
}

// --- TCustomControl

void TCustomControl::WMPaint(TMessage& Message) {
  plat::PAINTSTRUCT ps{};
  paintDC_ = plat::Windows().BeginPaint(handle_, &ps);
  try {
    PaintWindow(paintDC_);
  } catch (...) {
    paintDC_ = nullptr;
    plat::Windows().EndPaint(handle_, &ps);
    throw;
  }
  paintDC_ = nullptr;
  plat::Windows().EndPaint(handle_, &ps);
  Message.Result = 0;
}

void RegisterControlClasses() {
  RegisterCoreClasses();
  RegisterClass<TControl>(TComponent::StaticClassName())
      .Int("Left", [](TControl& c, std::int32_t v) { c.SetLeft(v); })
      .Int("Top", [](TControl& c, std::int32_t v) { c.SetTop(v); })
      .Int("Width", [](TControl& c, std::int32_t v) { c.SetWidth(v); })
      .Int("Height", [](TControl& c, std::int32_t v) { c.SetHeight(v); })
      .Int("ClientWidth", [](TControl& c, std::int32_t v) { c.SetClientWidth(v); })
      .Int("ClientHeight", [](TControl& c, std::int32_t v) { c.SetClientHeight(v); })
      .Set("Anchors", {"akLeft", "akTop", "akRight", "akBottom"},
           [](TControl& c, std::uint32_t v) { c.SetAnchors(v); })
      .Bool("Visible", [](TControl& c, bool v) { c.SetVisible(v); })
      .Bool("Enabled", [](TControl& c, bool v) { c.SetEnabled(v); })
      .Color("Color", [](TControl& c, TColor v) { c.SetColor(v); })
      .Str("Caption", [](TControl& c, const std::string& v) { c.SetCaption(v); })
      .Reference<TPopupMenu>("PopupMenu", [](TControl& c, TPopupMenu* m) { c.SetPopupMenu(m); })
      .Event<TNotifyEvent>("OnResize", [](TControl& c, TNotifyEvent e) { c.OnResize = std::move(e); })
      .Event<TNotifyEvent>("OnClick", [](TControl& c, TNotifyEvent e) { c.OnClick = std::move(e); })
      .Bool("ParentColor", [](TControl& c, bool v) { c.ParentColor = v; });
  // Stored by the designer for every control; this framework keeps no behaviour behind them.
  auto& control = RegisterClassInfo(TControl::StaticClassName(), "");
  for (const char* stored : {"Align", "Constraints", "DragCursor", "DragMode", "ParentShowHint", "ShowHint",
                             "Hint", "TabOrder", "TabStop", "Cursor", "ParentFont"})
    control.AddProp(
        stored, TPropInfo{TPropInfo::Kind::Value, [](TPersistent&, const TReadValue&) {}, {}, {}, {}, {}});
  RegisterClass<TWinControl>(TControl::StaticClassName());
  RegisterClass<TCustomControl>(TWinControl::StaticClassName());
}
