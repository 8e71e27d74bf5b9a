#include <gtest/gtest.h>

#include "core/FormReader.h"
#include "core/PropTable.h"
#include "dxdraw_fixture.h"

namespace {

class DXDrawSetupTest : public DXDrawFixture {
 protected:
  // Runs Initialize and returns the message of the error it raised ("" when none).
  template <class E>
  std::string InitializeError() {
    try {
      draw->Initialize();
    } catch (const E& e) {
      return e.Message;
    }
    return "";
  }
  void ExpectIdleAndReleased() {
    EXPECT_FALSE(draw->Initialized());
    EXPECT_FALSE(draw->InitStarted());
    EXPECT_EQ(draw->DDraw(), nullptr);
    EXPECT_EQ(ddraw().LiveObjectCount(), 0u);
  }
};

// --- 3D set-up and its fall-backs

TEST_F(DXDrawSetupTest, VideoMemoryExhaustedPutsBackSurfaceInSystemMemoryWithSoftwareDevice) {
  ddraw().SetVideoMemoryBudget(1024);
  draw->Initialize();
  EXPECT_EQ(draw->Surface()->Caps() & plat::DDSCAPS_VIDEOMEMORY, 0u);
  EXPECT_TRUE(draw->EffectiveOptions().Contains(doSystemMemory));
  EXPECT_FALSE(draw->EffectiveOptions().Contains(doHardware));
  EXPECT_EQ(draw->Options(), DefaultDXDrawOptions);
  ASSERT_NE(draw->D3DDevice7(), nullptr);
  plat::D3DDEVICEDESC7 desc{};
  draw->D3DDevice7()->GetCaps(&desc);
  EXPECT_EQ(desc.dwDevCaps & plat::D3DDEVCAPS_HWRASTERIZATION, 0u);
}

TEST_F(DXDrawSetupTest, FailedFirstBackSurfaceIsRetriedInSystemMemory) {
  ddraw().FailSurfaceCreation(1, plat::DDSCAPS_OFFSCREENPLAIN);
  draw->Initialize();
  EXPECT_NE(draw->Surface()->Caps() & plat::DDSCAPS_SYSTEMMEMORY, 0u);
  EXPECT_TRUE(draw->EffectiveOptions().Contains(doSystemMemory));
  EXPECT_FALSE(draw->EffectiveOptions().Contains(doHardware));
}

TEST_F(DXDrawSetupTest, BackSurfaceFailingInBothMemoriesRaisesSurfaceCannotBeMade) {
  ddraw().FailSurfaceCreation(2, plat::DDSCAPS_OFFSCREENPLAIN);
  EXPECT_EQ(InitializeError<EDXDrawError>(), "Surface cannot be made");
  ExpectIdleAndReleased();
}

TEST_F(DXDrawSetupTest, PrimaryFailureRaisesPrimarySurfaceCannotBeMade) {
  ddraw().FailSurfaceCreation(1, plat::DDSCAPS_PRIMARYSURFACE);
  EXPECT_EQ(InitializeError<EDXDrawError>(), "Primary Surface cannot be made");
  ExpectIdleAndReleased();
}

TEST_F(DXDrawSetupTest, NoDeviceAtTheScreenDepthRaises3DDeviceNotFound) {
  Rebuild(640, 480, 24);
  EXPECT_EQ(InitializeError<EDXDrawError>(), "3D device not found");
  ExpectIdleAndReleased();
}

TEST_F(DXDrawSetupTest, DeviceRenderingTheDepthIsFoundOnA24BitScreen) {
  Rebuild(640, 480, 24);
  ddraw().SetDeviceRenderBitDepths(plat::DDBD_16 | plat::DDBD_24 | plat::DDBD_32);
  draw->Initialize();
  EXPECT_EQ(draw->Surface()->BitCount(), 24);
  EXPECT_NE(draw->D3DDevice7(), nullptr);
}

TEST_F(DXDrawSetupTest, WithoutHardware3DTheSoftwareDeviceIsUsed) {
  ddraw().SetHardware3D(false);
  draw->Initialize();
  EXPECT_FALSE(draw->EffectiveOptions().Contains(doHardware));
  EXPECT_FALSE(draw->EffectiveOptions().Contains(doSystemMemory));
}

TEST_F(DXDrawSetupTest, DeviceCreationFailureFallsBackToSoftwareDevice) {
  ddraw().FailCreateDevice(1);
  draw->Initialize();
  ASSERT_NE(draw->D3DDevice7(), nullptr);
  // The device actually made is a software one, and the options say so.
  EXPECT_FALSE(draw->EffectiveOptions().Contains(doHardware));
  plat::D3DDEVICEDESC7 desc{};
  draw->D3DDevice7()->GetCaps(&desc);
  EXPECT_EQ(desc.dwDevCaps & plat::D3DDEVCAPS_HWRASTERIZATION, 0u);
}

TEST_F(DXDrawSetupTest, DeviceCreationFailingTwiceRaisesDeviceCannotBeMade) {
  ddraw().FailCreateDevice(2);
  EXPECT_EQ(InitializeError<EDXDrawError>(), "IDirect3DDevice7 cannot be made");
  ExpectIdleAndReleased();
}

TEST_F(DXDrawSetupTest, Without3DNoDeviceIsMade) {
  draw->SetOptions({doWaitVBlank, doCenter});
  draw->Initialize();
  EXPECT_EQ(draw->D3DDevice7(), nullptr);
  EXPECT_EQ(draw->Surface()->Caps() & plat::DDSCAPS_3DDEVICE, 0u);
}

TEST_F(DXDrawSetupTest, RequestedSystemMemoryPutsBackSurfaceThere) {
  TDXDrawOptions o = DefaultDXDrawOptions;
  o.Include(doSystemMemory);
  draw->SetOptions(o);
  draw->Initialize();
  EXPECT_NE(draw->Surface()->Caps() & plat::DDSCAPS_SYSTEMMEMORY, 0u);
  EXPECT_FALSE(draw->EffectiveOptions().Contains(doHardware));
}

// --- DirectDraw object creation

TEST_F(DXDrawSetupTest, MissingLibraryRaisesNotLoaded) {
  ddraw().SetLibraryAvailable(false);
  try {
    draw->Initialize();
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "Exception");
    EXPECT_EQ(e.Message, "DDraw.dll is not loaded");
  }
  ExpectIdleAndReleased();
}

TEST_F(DXDrawSetupTest, MissingEntryPointRaisesNotLoaded) {
  ddraw().SetEntryPointAvailable("DirectDrawCreateEx", false);
  EXPECT_EQ(InitializeError<Exception>(), "DDraw.dll is not loaded");
}

TEST_F(DXDrawSetupTest, LibraryIsLoadedOnceAndFreedAtTheEnd) {
  draw->Initialize();
  draw->Initialize();
  EXPECT_EQ(LoadedDirectXLibraryCount(), 1);
  EXPECT_EQ(ddraw().LibraryReferences(), 1);
  draw->Finalize();
  FreeDirectXLibraries();
  EXPECT_EQ(ddraw().LibraryReferences(), 0);
  EXPECT_EQ(LoadedDirectXLibraryCount(), 0);
}

TEST_F(DXDrawSetupTest, LibraryNamesDifferingInCaseShareOneEntry) {
  EXPECT_NE(LoadDirectXEntry("DDraw.dll", "DirectDrawCreateEx"), nullptr);
  EXPECT_NE(LoadDirectXEntry("DDRAW.DLL", "DirectDrawCreate"), nullptr);
  EXPECT_EQ(LoadedDirectXLibraryCount(), 1);
}

TEST_F(DXDrawSetupTest, DirectDrawObjectReadsBothCapabilityBlocks) {
  TDirectDraw dd(nullptr, true);
  EXPECT_EQ(dd.DriverCaps().dwSize, 380u);
  EXPECT_EQ(dd.HELCaps().dwSize, 380u);
  EXPECT_NE(dd.IDDraw(), nullptr);
  EXPECT_NE(dd.IDDraw4(), nullptr);
  EXPECT_NE(dd.IDDraw7(), nullptr);
}

TEST_F(DXDrawSetupTest, DirectDrawObjectOutsideDirectX7ModeHasNoVersion7Interface) {
  TDirectDraw dd(nullptr, false);
  EXPECT_EQ(dd.IDDraw7(), nullptr);
  try {
    dd.IDraw7();
    FAIL() << "no error";
  } catch (const EDirectDrawError& e) {
    EXPECT_EQ(e.Message, "IDirectDraw7 not made");
  }
}

// --- wrappers

TEST_F(DXDrawSetupTest, DestroyingDirectDrawFreesEverythingMadeOnIt) {
  {
    TDirectDraw dd(nullptr, true);
    dd.IDDraw()->SetCooperativeLevel(form->Handle(), plat::DDSCL_NORMAL);
    auto* s = new TDirectDrawSurface(&dd);
    plat::DDSURFACEDESC desc{};
    desc.dwFlags = plat::DDSD_CAPS | plat::DDSD_WIDTH | plat::DDSD_HEIGHT;
    desc.dwWidth = 8;
    desc.dwHeight = 4;
    desc.ddsCaps.dwCaps = plat::DDSCAPS_OFFSCREENPLAIN;
    ASSERT_TRUE(s->CreateSurface(desc));
    EXPECT_EQ(s->Width(), 8);
    EXPECT_EQ(s->Height(), 4);
    new TDirectDrawClipper(&dd);
    auto* p = new TDirectDrawPalette(&dd);
    plat::PALETTEENTRY entries[256] = {};
    p->CreatePalette(plat::DDPCAPS_8BIT, entries);
    EXPECT_EQ(dd.SurfaceCount(), 1);
    EXPECT_EQ(dd.ClipperCount(), 1);
    EXPECT_EQ(dd.PaletteCount(), 1);
  }
  EXPECT_EQ(ddraw().LiveObjectCount(), 0u);
}

TEST_F(DXDrawSetupTest, SurfaceCreationStoresResultAndResetsColorKey) {
  TDirectDraw dd(nullptr, true);
  dd.IDDraw()->SetCooperativeLevel(form->Handle(), plat::DDSCL_NORMAL);
  TDirectDrawSurface s(&dd);
  plat::DDSURFACEDESC desc{};
  desc.dwFlags = plat::DDSD_CAPS | plat::DDSD_WIDTH | plat::DDSD_HEIGHT;
  desc.dwWidth = 2;
  desc.dwHeight = 2;
  desc.ddsCaps.dwCaps = plat::DDSCAPS_OFFSCREENPLAIN;
  ddraw().FailSurfaceCreation(1, 0, plat::DDERR_OUTOFMEMORY);
  EXPECT_FALSE(s.CreateSurface(desc));
  EXPECT_EQ(s.ResultCode(), plat::DDERR_OUTOFMEMORY);
  EXPECT_EQ(dd.ResultCode(), plat::DDERR_OUTOFMEMORY);
  EXPECT_EQ(s.IDDSurface(), nullptr);
  ASSERT_TRUE(s.CreateSurface(desc));
  plat::DDCOLORKEY key{1, 1};
  EXPECT_EQ(s.IDDSurface()->GetColorKey(plat::DDCKEY_SRCBLT, &key), plat::DD_OK);
  EXPECT_EQ(key.dwColorSpaceLowValue, 0u);
  EXPECT_EQ(key.dwColorSpaceHighValue, 0u);
}

TEST_F(DXDrawSetupTest, SurfaceWithoutInterfaceRaisesNotMade) {
  TDirectDraw dd(nullptr, true);
  TDirectDrawSurface s(&dd);
  try {
    s.Fill(0);
    FAIL() << "no error";
  } catch (const EDirectDrawSurfaceError& e) {
    EXPECT_EQ(e.Message, "IDirectDrawSurface not made");
  }
}

TEST_F(DXDrawSetupTest, PrimaryHasClipperBoundToTheControlWindow) {
  draw->Initialize();
  EXPECT_TRUE(draw->Primary()->HasClipper());
  plat::HWND bound = nullptr;
  draw->Clipper()->IDDClipper()->GetHWnd(&bound);
  EXPECT_EQ(bound, draw->Handle());
}

TEST_F(DXDrawSetupTest, RecreatedControlWindowRebindsTheClipper) {
  draw->Initialize();
  plat::HWND old = draw->Handle();
  draw->DestroyHandle();
  draw->HandleNeeded();
  ASSERT_NE(draw->Handle(), old);
  plat::HWND bound = nullptr;
  draw->Clipper()->IDDClipper()->GetHWnd(&bound);
  EXPECT_EQ(bound, draw->Handle());
}

TEST_F(DXDrawSetupTest, ForegroundPaletteChangeRestoresAndBackgroundOneIsIgnored) {
  draw->Initialize();
  TEventLog& log = NewLog();
  log.WireEvents(*draw);
  EXPECT_FALSE(draw->PaletteChanged(false));
  EXPECT_TRUE(log.entries.empty());
  EXPECT_TRUE(draw->PaletteChanged(true));
  EXPECT_EQ(log.entries, (std::vector<std::string>{"OnRestoreSurface"}));
}

TEST_F(DXDrawSetupTest, PaletteMessagesToTheFormReachTheSurface) {
  draw->Initialize();
  TEventLog& log = NewLog();
  log.WireEvents(*draw);
  plat::WindowSystem& ws = plat::Windows();
  ws.SendMessage(form->Handle(), plat::WM_PALETTECHANGED, 0, 0);
  EXPECT_TRUE(log.entries.empty());
  EXPECT_EQ(1, ws.SendMessage(form->Handle(), plat::WM_QUERYNEWPALETTE, 0, 0));
  EXPECT_EQ(log.entries, (std::vector<std::string>{"OnRestoreSurface"}));
}

TEST_F(DXDrawSetupTest, PaletteEntriesSwapToRGBOrderAndKeepSystemColoursAtTheEnds) {
  plat::RGBQUAD table[256] = {};
  table[100] = {3, 2, 1, 9};  // blue 3, green 2, red 1
  table[5] = {7, 7, 7, 0};
  plat::PALETTEENTRY entries[256];
  draw->BuildPaletteEntries(table, entries);
  EXPECT_EQ(entries[100].peRed, 1);
  EXPECT_EQ(entries[100].peGreen, 2);
  EXPECT_EQ(entries[100].peBlue, 3);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(entries[i].peFlags, 0x40) << i;
  // Entry 5 comes from the screen's system palette, not from the table.
  plat::PALETTEENTRY system[256] = {};
  plat::HDC dc = plat::GdiSvc().GetDC(nullptr);
  plat::GdiSvc().GetSystemPaletteEntries(dc, 0, 256, system);
  plat::GdiSvc().ReleaseDC(nullptr, dc);
  EXPECT_EQ(entries[5].peRed, system[5].peRed);
  EXPECT_EQ(entries[5].peBlue, system[5].peBlue);
}

// --- the stored form description

class TDXDrawHostForm : public TForm {
  DS_CLASS_NAME(TDXDrawHostForm)
 public:
  explicit TDXDrawHostForm(TComponent* owner) : TForm(owner) {}
  void DXDraw1Initialize(TObject*) { ++initialized; }
  void DXDraw1Finalize(TObject*) { ++finalized; }
  TDXDraw* DXDraw1 = nullptr;
  int initialized = 0, finalized = 0;
};

constexpr const char* kStoredForm = R"(object DXHost: TDXDrawHostForm
  Left = 0
  Top = 0
  Width = 500
  Height = 400
  object DXDraw1: TDXDraw
    Left = 0
    Top = 0
    Width = 515
    Height = 419
    AutoInitialize = False
    AutoSize = True
    Color = clNone
    Display.BitCount = 24
    Display.FixedBitCount = False
    Display.FixedRatio = True
    Display.FixedSize = True
    Display.Height = 768
    Display.Width = 1024
    Options = [doAllowReboot, doWaitVBlank, doCenter, do3D, doDirectX7Mode, doHardware, doSelectDriver]
    SurfaceHeight = 276
    SurfaceWidth = 539
    OnFinalize = DXDraw1Finalize
    OnInitialize = DXDraw1Initialize
    Anchors = [akLeft, akTop, akRight, akBottom]
  end
end
)";

class DXDrawStoredFormTest : public DXDrawSetupTest {
 protected:
  DXDrawStoredFormTest() {
    RegisterClass<TDXDrawHostForm>(TForm::StaticClassName())
        .Method("DXDraw1Initialize", &TDXDrawHostForm::DXDraw1Initialize)
        .Method("DXDraw1Finalize", &TDXDrawHostForm::DXDraw1Finalize)
        .Field("DXDraw1", &TDXDrawHostForm::DXDraw1);
    host = new TDXDrawHostForm(Application);
    ReadComponentFromText(host, kStoredForm);
  }
  // The form's window outlives the derived form during its destruction, so the stored handlers must not
  // be owed an event by then.
  ~DXDrawStoredFormTest() override {
    if (host->DXDraw1) host->DXDraw1->Finalize();
  }
  TDXDrawHostForm* host = nullptr;
};

TEST_F(DXDrawStoredFormTest, StoredPropertiesAreRead) {
  ASSERT_NE(host->DXDraw1, nullptr);
  TDXDraw& d = *host->DXDraw1;
  EXPECT_FALSE(d.AutoInitialize());
  EXPECT_TRUE(d.AutoSize());
  EXPECT_EQ(d.Color(), clNone);
  EXPECT_EQ(d.Display().BitCount(), 24);
  EXPECT_EQ(d.Display().Width(), 1024);
  EXPECT_EQ(d.Display().Height(), 768);
  EXPECT_EQ(d.Options(), DefaultDXDrawOptions);
  EXPECT_EQ(d.EffectiveOptions(),
            (TDXDrawOptions{doWaitVBlank, doCenter, do3D, doDirectX7Mode, doSelectDriver}));
}

TEST_F(DXDrawStoredFormTest, AutoSizeReplacesStoredSurfaceSizeWithControlSizeAfterLoading) {
  EXPECT_EQ(host->DXDraw1->SurfaceWidth(), 515);
  EXPECT_EQ(host->DXDraw1->SurfaceHeight(), 419);
}

TEST_F(DXDrawStoredFormTest, LoadingDoesNotInitializeWhenAutoInitializeIsOff) {
  EXPECT_FALSE(host->DXDraw1->Initialized());
  EXPECT_EQ(host->initialized, 0);
}

TEST_F(DXDrawStoredFormTest, StoredHandlersAreWiredByName) {
  host->Show();
  host->DXDraw1->Initialize();
  EXPECT_EQ(host->initialized, 1);
  host->DXDraw1->Finalize();
  EXPECT_EQ(host->finalized, 1);
}

TEST_F(DXDrawStoredFormTest, GrowingTheFormBeforeInitializeGivesAScreenSizedSurface) {
  host->SetBounds(0, 0, 1280, 720);
  host->Show();
  host->DXDraw1->Initialize();
  EXPECT_EQ(host->DXDraw1->Surface()->Width(), 1295);
  EXPECT_EQ(host->DXDraw1->Surface()->Height(), 739);
}

TEST_F(DXDrawSetupTest, InvalidStoredBitCountIsAReadError) {
  RegisterClass<TDXDrawHostForm>(TForm::StaticClassName());
  auto* host = new TDXDrawHostForm(Application);
  EXPECT_ANY_THROW(ReadComponentFromText(host,
                                         "object H: TDXDrawHostForm\n"
                                         "  object D: TDXDraw\n"
                                         "    Display.BitCount = 12\n"
                                         "  end\n"
                                         "end\n"));
}

}  // namespace
