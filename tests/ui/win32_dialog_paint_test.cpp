// The message dialog on real Windows: its window grows by the caption and borders so the laid-out client
// area keeps the button whole, and the button paints its face.
#ifdef _WIN32

#include <gtest/gtest.h>

#include "platform/Gdi.h"
#include "platform/win32/Win32Platform.h"
#include "ui/Dialogs.h"
#include "ui/StdCtrls.h"

namespace {

class Win32DialogTest : public ::testing::Test {
 protected:
  Win32DialogTest() {
    RegisterFormClasses();
    Application = new TApplication(nullptr);
    Application->Initialize();
    Application->SetTitle("Kirno Desktop Snow");
  }
  ~Win32DialogTest() override {
    SetModalLoopHook(nullptr);
    delete Application;
  }
  plat::win32::Win32Platform platform_;
};

TEST_F(Win32DialogTest, ClientAreaHoldsTheWholeButtonWithItsMargin) {
  TMessageForm* d = CreateMessageDialog("one\r\ntwo\r\nthree");
  plat::HWND h = d->Handle();
  plat::RECT client{};
  ASSERT_TRUE(plat::Windows().GetClientRect(h, &client));
  const TButton& ok = *d->OkButton();
  EXPECT_GE(client.bottom, ok.Top() + ok.Height() + 8);
  EXPECT_GE(client.right, ok.Left() + ok.Width() + 8);
  FreeComponent(d);
}

TEST_F(Win32DialogTest, ShownDialogPaintsTheButtonFace) {
  plat::COLORREF mid = plat::CLR_INVALID;
  SetModalLoopHook([&](TModalForm& f, int pass) {
    auto& m = static_cast<TMessageForm&>(f);
    if (pass < 3) return;
    m.Update();
    m.OkButton()->Update();
    plat::HDC dc = plat::GdiSvc().GetDC(m.OkButton()->Handle());
    mid = plat::GdiSvc().GetPixel(dc, 8, m.OkButton()->Height() / 2);
    plat::GdiSvc().ReleaseDC(m.OkButton()->Handle(), dc);
    m.SetModalResult(mrOk);
  });
  Application->OnIdle = [](TObject*, bool& done) { done = false; };
  EXPECT_EQ(ShowMessageDialog("one\r\ntwo\r\nthree"), mrOk);
  Application->OnIdle = nullptr;
  EXPECT_EQ(mid, plat::GdiSvc().GetSysColor(plat::COLOR_BTNFACE));
}

}  // namespace

#endif  // _WIN32
