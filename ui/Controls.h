// Visual controls: bounds and anchors, parent chains, window handles created on demand, the object-level
// window procedure that other objects may hook, right-click popup menus and painting.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/Components.h"
#include "core/Types.h"
#include "platform/Windows.h"

class TWinControl;
class TPopupMenu;

// A window message as the object-level window procedure sees it.
struct TMessage {
  plat::UINT Msg = 0;
  plat::WPARAM WParam = 0;
  plat::LPARAM LParam = 0;
  plat::LRESULT Result = 0;
};
// The object-level window procedure; a hook keeps the previous one and calls it for what it passes on.
using TWndMethod = std::function<void(TMessage&)>;

enum TAnchorKind : std::uint32_t { akLeft = 1u << 0, akTop = 1u << 1, akRight = 1u << 2, akBottom = 1u << 3 };
using TAnchors = std::uint32_t;

struct TCreateParams {
  std::string Caption;
  plat::DWORD Style = 0;
  plat::DWORD ExStyle = 0;
  int X = 0, Y = 0, Width = 0, Height = 0;
  plat::HWND WndParent = nullptr;
  std::string WinClassName;
};

class TControl : public TComponent {
  DS_CLASS_NAME(TControl)
 public:
  explicit TControl(TComponent* AOwner);
  ~TControl() override;

  TWinControl* Parent() const { return parent_; }
  virtual void SetParent(TWinControl* AParent);
  bool HasParent() const override { return true; }
  void SetParentComponent(TComponent* Value) override;
  TComponent* GetParentComponent() const override;

  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
  void SetTop(int v) { SetBounds(left_, v, width_, height_); }
  void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
  void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
  virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
  TRect BoundsRect() const { return Bounds(left_, top_, width_, height_); }
  // No non-client area is modelled: the client area is the whole control.
  virtual int ClientWidth() const { return width_; }
  virtual int ClientHeight() const { return height_; }
  void SetClientWidth(int v);
  void SetClientHeight(int v);
  TPoint ClientToScreen(const TPoint& p) const;

  TAnchors Anchors() const { return anchors_; }
  void SetAnchors(TAnchors v);

  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  bool Enabled() const { return enabled_; }
  virtual void SetEnabled(bool v);
  TColor Color() const { return color_; }
  virtual void SetColor(TColor v);
  const std::string& Caption() const { return caption_; }
  virtual void SetCaption(const std::string& v);

  TPopupMenu* PopupMenu() const { return popupMenu_; }
  void SetPopupMenu(TPopupMenu* v);

  // The procedure every message of this control passes through; starts as the control's own WndProc.
  TWndMethod WindowProc;
  // Sends a message through WindowProc and returns its result.
  plat::LRESULT Perform(plat::UINT Msg, plat::WPARAM WParam, plat::LPARAM LParam);

  // The system palette changed (Foreground: this program's window is to realise its palette first). True
  // when the control handled it. A plain control has no palette; a windowed one asks its children.
  virtual bool PaletteChanged(bool Foreground);

  TNotifyEvent OnResize;
  TNotifyEvent OnClick;
  // Whether the colour follows the parent's (stored; colours are not inherited at run time here).
  bool ParentColor = true;

 protected:
  virtual void WndProc(TMessage& Message);
  // Messages the control does not handle itself.
  virtual void DefaultHandler(TMessage& Message);
  void Notification(TComponent* AComponent, TOperation Operation) override;
  void Loaded() override;
  // Captures the distances the anchors keep, against the parent's current client size.
  void UpdateAnchorRules();
  // Moves the control to keep its anchored distances in a parent whose client size changed.
  void AnchorToParent(int newClientWidth, int newClientHeight);
  virtual void VisibleChanged() {}
  virtual void DoContextPopup(TMessage& Message);
  virtual void Resize();
  // A control without a window of its own draws itself here, on its parent's device context (parent
  // client coordinates) while the parent paints. The DC's state is restored afterwards.
  virtual void PaintControl(plat::HDC) {}

  TWinControl* parent_ = nullptr;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool visible_ = true;

 private:
  friend class TWinControl;
  TAnchors anchors_ = akLeft | akTop;
  int anchorRight_ = 0, anchorBottom_ = 0;  // parent client size minus the control's right/bottom edge
  int anchorParentWidth_ = 0, anchorParentHeight_ = 0;
  bool anchoring_ = false;
  bool enabled_ = true;
  TColor color_ = clBtnFace;
  std::string caption_;
  TPopupMenu* popupMenu_ = nullptr;
};

class TWinControl : public TControl {
  DS_CLASS_NAME(TWinControl)
 public:
  explicit TWinControl(TComponent* AOwner);
  ~TWinControl() override;

  bool HandleAllocated() const { return handle_ != nullptr; }
  // Creates the window (and its parents' windows) when needed.
  plat::HWND Handle();
  void HandleNeeded();
  int ControlCount() const { return static_cast<int>(controls_.size()); }
  TControl* Controls(int Index) const;

  // A foreign window this control's window is created inside when it has no parent control.
  plat::HWND ParentWindow() const { return parentWindow_; }
  void SetParentWindow(plat::HWND Value);

  void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
  void SetCaption(const std::string& v) override;
  void SetEnabled(bool v) override;
  bool PaletteChanged(bool Foreground) override;
  void Invalidate();
  void Update();
  // Window showing state: created and shown when visible and the parent is showing.
  bool Showing() const { return showing_; }

  // Destroys the window; it is created again when next needed.
  void DestroyHandle();

 protected:
  virtual void CreateParams(TCreateParams& Params);
  virtual void CreateWnd();
  virtual void DestroyWnd();
  virtual void CreateHandle();
  void WndProc(TMessage& Message) override;
  void DefaultHandler(TMessage& Message) override;
  virtual void Paint() {}
  // The whole paint of the window on the paint DC: Paint, then the children without windows.
  virtual void PaintWindow(plat::HDC DC);
  void PaintControls(plat::HDC DC);
  virtual void WMPaint(TMessage& Message);
  // Brings the window's existence and visibility in line with Visible and the parent.
  virtual void UpdateShowing();
  void UpdateControlState();
  void VisibleChanged() override;
  virtual bool IsShowingWanted() const;
  virtual void ShowWindowNow(bool show);
  // Repositions the anchored children after this control's client area changed.
  void AlignControls(int oldClientWidth, int oldClientHeight);

  plat::HWND handle_ = nullptr;
  plat::HWND parentWindow_ = nullptr;
  bool showing_ = false;

 private:
  friend class TControl;
  friend plat::LRESULT FrameworkWindowProc(plat::HWND, plat::UINT, plat::WPARAM, plat::LPARAM);
  void InsertControl(TControl* c);
  void RemoveControl(TControl* c);
  std::vector<TControl*> controls_;
};

// A windowed control that paints itself.
class TCustomControl : public TWinControl {
  DS_CLASS_NAME(TCustomControl)
 public:
  explicit TCustomControl(TComponent* AOwner) : TWinControl(AOwner) {}

 protected:
  void WMPaint(TMessage& Message) override;
  // The device context of the paint in progress (null outside Paint).
  plat::HDC PaintDC() const { return paintDC_; }

 private:
  plat::HDC paintDC_ = nullptr;
};

// The control whose window is hwnd, or null.
TWinControl* FindControl(plat::HWND hwnd);
// The framework's window procedure for every control window.
plat::LRESULT FrameworkWindowProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);

void RegisterControlClasses();
