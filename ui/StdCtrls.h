// Standard controls the framework makes at run time: a text label and a push button.
#pragma once

#include <string>

#include "ui/Controls.h"

// Virtual-key codes the controls react to.
constexpr plat::WPARAM VK_RETURN = 0x0D;
constexpr plat::WPARAM VK_ESCAPE = 0x1B;
constexpr plat::WPARAM VK_SPACE = 0x20;
// Clicks a push button as if the user had.
constexpr plat::UINT BM_CLICK = 0x00F5;

// A line or lines of text on its parent; it has no window of its own (its Caption is the text). It is
// drawn when its parent paints: in the default GUI font and the button-text colour, on the parent's
// background, broken at line breaks and, where a line is wider than the label, between words.
class TLabel : public TControl {
  DS_CLASS_NAME(TLabel)
 public:
  explicit TLabel(TComponent* AOwner) : TControl(AOwner) {}

  // Whether '&' underlines the character after it ("&&" shows one '&'); off, the text shows as it is.
  bool ShowAccelChar = true;

 protected:
  void PaintControl(plat::HDC DC) override;
};

// A push button. A click (mouse released over it, the space key, BM_CLICK or Click) hands ModalResult to
// the modal form it sits on, then raises OnClick. Enter and Escape go to that form, which picks the
// Default or Cancel button.
//
// It paints a raised push-button face with its centred caption, sunken while the mouse button is held on
// it, a dotted focus rectangle while it has the focus, and a dark outline when it is the Default button.
class TButton : public TCustomControl {
  DS_CLASS_NAME(TButton)
 public:
  explicit TButton(TComponent* AOwner);

  int ModalResult = 0;
  // The button Enter presses on its form, and the one Escape presses.
  bool Default = false;
  bool Cancel = false;

  virtual void Click();
  // Whether the mouse button went down on it and has not been released yet (the sunken look).
  bool Pressed() const { return pressed_; }

 protected:
  void CreateParams(TCreateParams& Params) override;
  void WndProc(TMessage& Message) override;
  void Paint() override;

 private:
  void SetPressed(bool v);
  bool pressed_ = false;
};
