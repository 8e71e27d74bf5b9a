// What the message dialog looks like on the soft screen: shown through the modal loop, painted, and read
// back pixel by pixel. Set DS_DIALOG_PNG to a file name to keep a picture of the painted About dialog.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/PngWriter.h"
#include "platform/Gdi.h"
#include "platform/Platform.h"
#include "support/AppFixture.h"
#include "ui/Dialogs.h"
#include "ui/StdCtrls.h"

namespace {

const std::string kAbout = "Kirno Desktop Snow\r\nhttps://snow.example.org/\r\nsnow@example.org";

struct Rect {
  int left, top, right, bottom;
  bool Contains(int x, int y) const { return x >= left && y >= top && x < right && y < bottom; }
};

Rect OnScreen(const TControl& c) {
  const TPoint p = c.ClientToScreen(TPoint{0, 0});
  return {p.X, p.Y, p.X + c.Width(), p.Y + c.Height()};
}

class DialogPainting : public AppFixture {
 protected:
  DialogPainting() {
    app().SetTitle("Kirno Desktop Snow");
    app().OnIdle = [](TObject*, bool& done) { done = false; };
  }
  ~DialogPainting() override {
    app().OnIdle = nullptr;
    SetModalLoopHook(nullptr);
  }

  // Shows the dialog for text; once it is up and painted, look() sees it; then OK closes it.
  void WhileShown(const std::string& text, const std::function<void(TMessageForm&)>& look) {
    bool seen = false;
    SetModalLoopHook([&](TModalForm& f, int pass) {
      if (pass > 1000) {
        f.SetModalResult(mrCancel);
        return;
      }
      auto& m = static_cast<TMessageForm&>(f);
      if (seen) return;
      // Paint whatever is due now, the form before its button as the window manager would.
      m.Update();
      m.OkButton()->Update();
      seen = true;
      look(m);
      m.SetModalResult(mrOk);
    });
    ShowMessageDialog(text);
    SetModalLoopHook(nullptr);
    ASSERT_TRUE(seen) << "the dialog never came up";
  }

  plat::COLORREF Pixel(int x, int y) {
    plat::Gdi& g = plat::GdiSvc();
    plat::HDC s = g.GetDC(nullptr);
    const plat::COLORREF v = g.GetPixel(s, x, y);
    g.ReleaseDC(nullptr, s);
    return v;
  }
  static plat::COLORREF Sys(int index) { return plat::GdiSvc().GetSysColor(index); }

  // Pixels of colour c inside r, and how many of them lie outside inner.
  int Count(const Rect& r, plat::COLORREF c, const Rect* inner = nullptr, int* outside = nullptr) {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x)
        if (Pixel(x, y) == c) {
          ++n;
          if (inner && outside && !inner->Contains(x, y)) ++*outside;
        }
    return n;
  }

  void SaveDialog(const Rect& r) {
    const char* file = std::getenv("DS_DIALOG_PNG");
    if (!file || !*file) return;
    std::vector<std::uint32_t> px;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) {
        const plat::COLORREF c = Pixel(x, y);
        px.push_back(std::uint32_t(plat::GetRValue(c)) << 16 | std::uint32_t(plat::GetGValue(c)) << 8 |
                     plat::GetBValue(c));
      }
    SavePng(file, r.right - r.left, r.bottom - r.top, px);
  }
};

// ---- the text

TEST_F(DialogPainting, TextPixelsLieInsideTheLabel) {
  WhileShown(kAbout, [&](TMessageForm& d) {
    const Rect form = OnScreen(d), label = OnScreen(*d.Message()), button = OnScreen(*d.OkButton());
    SaveDialog(form);
    int stray = 0;
    // Text ink is the button-text colour; outside the button only the label may carry it.
    Rect above{form.left, form.top, form.right, button.top};
    const int ink = Count(above, Sys(plat::COLOR_BTNTEXT), &label, &stray);
    EXPECT_GT(ink, 3 * 20) << "three lines of text";
    EXPECT_EQ(stray, 0);
  });
}

TEST_F(DialogPainting, EveryLineOfTheTextIsDrawn) {
  WhileShown(kAbout, [&](TMessageForm& d) {
    const Rect label = OnScreen(*d.Message());
    plat::TEXTMETRICA tm{};
    plat::HDC s = plat::GdiSvc().GetDC(nullptr);
    plat::GdiSvc().SelectObject(s, plat::GdiSvc().GetStockObject(plat::DEFAULT_GUI_FONT));
    plat::GdiSvc().GetTextMetricsA(s, &tm);
    plat::GdiSvc().ReleaseDC(nullptr, s);
    for (int line = 0; line < 3; ++line) {
      const Rect band{label.left, label.top + line * tm.tmHeight, label.right,
                      label.top + (line + 1) * tm.tmHeight};
      EXPECT_GT(Count(band, Sys(plat::COLOR_BTNTEXT)), 10) << "line " << line;
    }
  });
}

TEST_F(DialogPainting, FormIsSizedToTheMeasuredTextWithTheButtonCentredBelow) {
  WhileShown(kAbout, [&](TMessageForm& d) {
    plat::Gdi& g = plat::GdiSvc();
    plat::HDC s = g.GetDC(nullptr);
    g.SelectObject(s, g.GetStockObject(plat::DEFAULT_GUI_FONT));
    plat::RECT r{0, 0, 10000, 0};
    g.DrawTextA(s, kAbout.c_str(), -1, &r, plat::DT_CALCRECT | plat::DT_WORDBREAK | plat::DT_NOPREFIX);
    g.ReleaseDC(nullptr, s);
    const TLabel& label = *d.Message();
    const TButton& ok = *d.OkButton();
    EXPECT_EQ(label.Width(), r.right);
    EXPECT_EQ(label.Height(), r.bottom);
    EXPECT_GE(label.Left(), 8);
    EXPECT_GE(label.Top(), 8);
    EXPECT_LE(label.Left() + label.Width(), d.ClientWidth() - 8);
    EXPECT_GE(ok.Top(), label.Top() + label.Height() + 8);
    EXPECT_LE(ok.Top() + ok.Height(), d.ClientHeight() - 8);
    EXPECT_LE(std::abs(2 * ok.Left() + ok.Width() - d.ClientWidth()), 1) << "button centred";
    EXPECT_LE(std::abs(2 * label.Left() + label.Width() - d.ClientWidth()), 1) << "text centred";
  });
}

// ---- the form and the button

TEST_F(DialogPainting, FormFaceIsTheButtonFaceColour) {
  WhileShown(kAbout, [&](TMessageForm& d) {
    const Rect form = OnScreen(d);
    EXPECT_EQ(Pixel(form.left + 2, form.top + 2), Sys(plat::COLOR_BTNFACE));
    EXPECT_EQ(Pixel(form.right - 3, form.bottom - 3), Sys(plat::COLOR_BTNFACE));
  });
}

TEST_F(DialogPainting, ButtonShowsItsFaceCaptionAndDefaultOutline) {
  WhileShown(kAbout, [&](TMessageForm& d) {
    const Rect b = OnScreen(*d.OkButton());
    const Rect inside{b.left + 4, b.top + 4, b.right - 4, b.bottom - 4};
    EXPECT_GT(Count(inside, Sys(plat::COLOR_BTNFACE)), (inside.right - inside.left) * 4) << "face";
    int stray = 0;
    // "OK", centred: ink in the middle third only.
    const Rect middle{b.left + (b.right - b.left) / 3, b.top, b.right - (b.right - b.left) / 3, b.bottom};
    EXPECT_GT(Count(inside, Sys(plat::COLOR_BTNTEXT), &middle, &stray), 10) << "caption";
    EXPECT_EQ(stray, 0);
    // The default button's outline: every pixel of its rim is dark.
    for (int x = b.left; x < b.right; ++x) {
      EXPECT_EQ(Pixel(x, b.top), Sys(plat::COLOR_WINDOWFRAME)) << x;
      EXPECT_EQ(Pixel(x, b.bottom - 1), Sys(plat::COLOR_WINDOWFRAME)) << x;
    }
  });
}

TEST_F(DialogPainting, FocusedButtonShowsAFocusRectangle) {
  WhileShown(kAbout, [&](TMessageForm& d) {
    ASSERT_EQ(plat::Windows().GetFocus(), d.OkButton()->Handle());
    const Rect b = OnScreen(*d.OkButton());
    // Dots alternate along the focus rectangle's top edge, three pixels in from the outline.
    const int y = b.top + 4;
    int changes = 0;
    for (int x = b.left + 5; x < b.left + 15; ++x) changes += Pixel(x, y) != Pixel(x + 1, y);
    EXPECT_GE(changes, 8);
  });
}

TEST_F(DialogPainting, PressedButtonLooksSunken) {
  WhileShown(kAbout, [&](TMessageForm& d) {
    TButton& ok = *d.OkButton();
    const Rect b = OnScreen(ok);
    const plat::COLORREF raised = Pixel(b.left + 1, b.top + 1);
    ok.Perform(plat::WM_LBUTTONDOWN, 0, plat::MAKELPARAM(10, 10));
    ok.Update();
    EXPECT_TRUE(ok.Pressed());
    const plat::COLORREF sunken = Pixel(b.left + 1, b.top + 1);
    EXPECT_EQ(raised, Sys(plat::COLOR_BTNHIGHLIGHT));
    EXPECT_NE(sunken, raised);
    ok.Perform(plat::WM_LBUTTONUP, 0, plat::MAKELPARAM(-5, -5));  // released outside: no click
    ok.Update();
    EXPECT_EQ(Pixel(b.left + 1, b.top + 1), raised);
  });
}

TEST_F(DialogPainting, EmptyTextPaintsTheFormAndTheButton) {
  WhileShown("", [&](TMessageForm& d) {
    const Rect form = OnScreen(d), b = OnScreen(*d.OkButton());
    EXPECT_EQ(Pixel(form.left + 2, form.top + 2), Sys(plat::COLOR_BTNFACE));
    EXPECT_GT(Count(b, Sys(plat::COLOR_BTNTEXT)), 10);
    EXPECT_EQ(d.Message()->Width(), 0);
  });
}

TEST_F(DialogPainting, AmpersandsInTheTextShowAsWritten) {
  WhileShown("a&b", [&](TMessageForm& d) {
    plat::Gdi& g = plat::GdiSvc();
    plat::HDC s = g.GetDC(nullptr);
    g.SelectObject(s, g.GetStockObject(plat::DEFAULT_GUI_FONT));
    plat::SIZE ext{};
    g.GetTextExtentPoint32A(s, "a&b", 3, &ext);
    g.ReleaseDC(nullptr, s);
    EXPECT_EQ(d.Message()->Width(), ext.cx);
  });
}

}  // namespace
