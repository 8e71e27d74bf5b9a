// The DirectDraw object: library loading, creation, capabilities, surfaces and their memory, palettes,
// the vertical-blank wait.
#include "platform/ddraw_test_util.h"

#include "platform/Gdi.h"
#include "platform/common/SoftClock.h"

using namespace plat;
using ddtest::DDrawFixture;

namespace {

class DDrawObject : public DDrawFixture {};

// ---- Library ----

TEST_F(DDrawObject, LibraryIsFoundRegardlessOfCase) {
  HMODULE m = soft().LoadLibraryA("ddraw.DLL");
  ASSERT_NE(nullptr, m);
  EXPECT_EQ(1, soft().LibraryReferences());
  EXPECT_TRUE(soft().FreeLibrary(m));
  EXPECT_EQ(0, soft().LibraryReferences());
}

TEST_F(DDrawObject, EntryPointCreatesAWorkingObject) {
  HMODULE m = soft().LoadLibraryA("DDraw.dll");
  auto create = reinterpret_cast<PFN_DirectDrawCreateEx>(soft().GetProcAddress(m, "DirectDrawCreateEx"));
  ASSERT_NE(nullptr, create);
  void* p = nullptr;
  ASSERT_EQ(DD_OK, create(nullptr, &p, IID_IDirectDraw7, nullptr));
  auto* dd = static_cast<IDirectDraw7*>(p);
  EXPECT_EQ(DD_OK, dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL));
  dd->Release();
  soft().FreeLibrary(m);
}

TEST_F(DDrawObject, UnavailableLibraryDoesNotLoad) {
  soft().SetLibraryAvailable(false);
  EXPECT_EQ(nullptr, soft().LoadLibraryA("DDraw.dll"));
  EXPECT_EQ(nullptr, soft().LoadLibraryA("other.dll"));
}

TEST_F(DDrawObject, MissingEntryPointIsNull) {
  soft().SetEntryPointAvailable("DirectDrawCreateEx", false);
  HMODULE m = soft().LoadLibraryA("DDraw.dll");
  EXPECT_EQ(nullptr, soft().GetProcAddress(m, "DirectDrawCreateEx"));
  EXPECT_NE(nullptr, soft().GetProcAddress(m, "DirectDrawCreate"));
  EXPECT_EQ(nullptr, soft().GetProcAddress(m, "NoSuchEntry"));
  soft().FreeLibrary(m);
}

TEST_F(DDrawObject, CreationRejectsOtherInterfacesAndDrivers) {
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(DDERR_INVALIDPARAMS, soft().DirectDrawCreateEx(nullptr, &p, IID_IDirectDraw4, nullptr));
  EXPECT_EQ(nullptr, p);
  GUID driver = IID_IDirect3DHALDevice;
  EXPECT_EQ(DDERR_INVALIDPARAMS, soft().DirectDrawCreateEx(&driver, &p, IID_IDirectDraw7, nullptr));
}

// ---- Interfaces and capabilities ----

TEST_F(DDrawObject, EveryDirectDrawVersionIsTheSameObject) {
  for (const GUID* iid : {&IID_IDirectDraw, &IID_IDirectDraw4, &IID_IDirectDraw7}) {
    void* p = nullptr;
    ASSERT_EQ(DD_OK, dd_->QueryInterface(*iid, &p));
    EXPECT_EQ(static_cast<void*>(dd_), p);
    dd_->Release();
  }
  void* p = nullptr;
  EXPECT_EQ(E_NOINTERFACE, dd_->QueryInterface(IID_IDirectDrawSurface7, &p));
}

TEST_F(DDrawObject, Direct3DIsReachedThroughQueryInterface) {
  void* p = nullptr;
  ASSERT_EQ(DD_OK, dd_->QueryInterface(IID_IDirect3D7, &p));
  static_cast<IDirect3D7*>(p)->Release();
}

TEST_F(DDrawObject, CapsNeedTheirSizeAndReport3DHardware) {
  DDCAPS driver{}, hel{};
  EXPECT_EQ(DDERR_INVALIDPARAMS, dd_->GetCaps(&driver, &hel));
  driver.dwSize = hel.dwSize = 380;
  ASSERT_EQ(DD_OK, dd_->GetCaps(&driver, &hel));
  EXPECT_TRUE(driver.dwCaps & DDCAPS_3D);
  EXPECT_TRUE(driver.ddsCaps.dwCaps & DDSCAPS_TEXTURE);
  EXPECT_FALSE(hel.dwCaps & DDCAPS_3D);
  soft().SetHardware3D(false);
  ASSERT_EQ(DD_OK, dd_->GetCaps(&driver, nullptr));
  EXPECT_FALSE(driver.dwCaps & DDCAPS_3D);
}

TEST_F(DDrawObject, CooperativeLevelNeedsNormalOrExclusiveFullScreen) {
  EXPECT_EQ(DDERR_INVALIDPARAMS, dd_->SetCooperativeLevel(nullptr, 0));
  EXPECT_EQ(DDERR_INVALIDPARAMS, dd_->SetCooperativeLevel(nullptr, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN));
  EXPECT_EQ(DD_OK, dd_->SetCooperativeLevel(nullptr, DDSCL_NORMAL));
}

TEST_F(DDrawObject, SurfacesNeedACooperativeLevelFirst) {
  void* p = nullptr;
  ASSERT_EQ(DD_OK, soft().DirectDrawCreateEx(nullptr, &p, IID_IDirectDraw7, nullptr));
  auto* fresh = static_cast<IDirectDraw7*>(p);
  DDSURFACEDESC2 d{};
  d.dwSize = sizeof(d);
  d.dwFlags = DDSD_CAPS;
  d.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  IDirectDrawSurface7* s = nullptr;
  EXPECT_EQ(DDERR_NOCOOPERATIVELEVELSET, fresh->CreateSurface(&d, &s, nullptr));
  fresh->Release();
}

// ---- Surfaces ----

TEST_F(DDrawObject, PrimarySurfaceIsTheScreen) {
  IDirectDrawSurface7* primary = Primary();
  DDSURFACEDESC2 d{};
  d.dwSize = sizeof(d);
  ASSERT_EQ(DD_OK, primary->GetSurfaceDesc(&d));
  EXPECT_EQ(320u, d.dwWidth);
  EXPECT_EQ(200u, d.dwHeight);
  EXPECT_EQ(32u, d.ddpfPixelFormat.dwRGBBitCount);
  EXPECT_TRUE(d.ddsCaps.dwCaps & DDSCAPS_PRIMARYSURFACE);
  EXPECT_TRUE(d.ddsCaps.dwCaps & DDSCAPS_VIDEOMEMORY);
  FillRaw(primary, 0x123456);
  EXPECT_EQ(0xFF123456u, soft().ScreenPixel(5, 7));
  EXPECT_EQ(0xFF123456u, soft().ScreenPixels()[199 * 320 + 319]);
}

TEST_F(DDrawObject, PrimaryWithASizeIsRejected) {
  DDSURFACEDESC2 d{};
  d.dwSize = sizeof(d);
  d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
  d.dwWidth = d.dwHeight = 10;
  d.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  IDirectDrawSurface7* s = nullptr;
  EXPECT_EQ(DDERR_INVALIDPARAMS, dd_->CreateSurface(&d, &s, nullptr));
  EXPECT_EQ(nullptr, s);
}

TEST_F(DDrawObject, OlderDescriptionCreatesAndReadsBack) {
  DDSURFACEDESC d{};
  d.dwSize = sizeof(d);
  d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
  d.dwWidth = 7;
  d.dwHeight = 3;
  d.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE;
  IDirectDrawSurface7* s = nullptr;
  ASSERT_EQ(DD_OK, dd_->CreateSurface(reinterpret_cast<DDSURFACEDESC2*>(&d), &s, nullptr));
  Keep(s);
  DDSURFACEDESC back{};
  back.dwSize = sizeof(back);
  ASSERT_EQ(DD_OK, s->GetSurfaceDesc(reinterpret_cast<DDSURFACEDESC2*>(&back)));
  EXPECT_EQ(7u, back.dwWidth);
  EXPECT_EQ(3u, back.dwHeight);
  EXPECT_EQ(28, back.lPitch);
  EXPECT_TRUE(back.ddsCaps.dwCaps & DDSCAPS_3DDEVICE);
}

TEST_F(DDrawObject, WindowsDescriptionSizesAreAcceptedOnEveryTarget) {
  DDSURFACEDESC d{};
  d.dwSize = 108;
  d.dwFlags = DDSD_CAPS;
  d.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  IDirectDrawSurface7* s = nullptr;
  ASSERT_EQ(DD_OK, dd_->CreateSurface(reinterpret_cast<DDSURFACEDESC2*>(&d), &s, nullptr));
  Keep(s);
  DDSURFACEDESC2 back{};
  back.dwSize = 124;
  ASSERT_EQ(DD_OK, s->GetSurfaceDesc(&back));
  EXPECT_EQ(124u, back.dwSize);
  EXPECT_TRUE(back.ddsCaps.dwCaps & DDSCAPS_PRIMARYSURFACE);
  back.dwSize = 100;
  EXPECT_EQ(DDERR_INVALIDPARAMS, s->GetSurfaceDesc(&back));
}

TEST_F(DDrawObject, SurfaceWithoutSizeOrWithBadFormatIsRejected) {
  IDirectDrawSurface7* s = nullptr;
  DDSURFACEDESC2 d{};
  d.dwSize = sizeof(d);
  d.dwFlags = DDSD_CAPS;
  d.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
  EXPECT_EQ(DDERR_INVALIDPARAMS, dd_->CreateSurface(&d, &s, nullptr));
  DDPIXELFORMAT pf = ddtest::Rgb565();
  pf.dwGBitMask = 0x0FE0;  // overlaps red
  EXPECT_EQ(DDERR_INVALIDPIXELFORMAT, Create(4, 4, DDSCAPS_OFFSCREENPLAIN, &pf, &s));
  EXPECT_EQ(DDERR_INVALIDPARAMS, Create(40000, 4, DDSCAPS_OFFSCREENPLAIN, nullptr, &s));
  EXPECT_EQ(DDERR_INVALIDCAPS, Create(4, 4, DDSCAPS_SYSTEMMEMORY | DDSCAPS_VIDEOMEMORY, nullptr, &s));
}

TEST_F(DDrawObject, SurfaceGoesToVideoMemoryWhileTheBudgetAllows) {
  soft().SetVideoMemoryBudget(100 * 100 * 4);
  IDirectDrawSurface7* a = Surface(100, 100);
  DDSCAPS2 caps{};
  a->GetCaps(&caps);
  EXPECT_TRUE(caps.dwCaps & DDSCAPS_VIDEOMEMORY);
  EXPECT_EQ(40000u, soft().VideoMemoryUsed());
  IDirectDrawSurface7* b = Surface(10, 10);
  b->GetCaps(&caps);
  EXPECT_TRUE(caps.dwCaps & DDSCAPS_SYSTEMMEMORY);
  EXPECT_FALSE(caps.dwCaps & DDSCAPS_VIDEOMEMORY);
}

TEST_F(DDrawObject, ExplicitVideoMemoryFailsWhenExhaustedAndReturnsOnRelease) {
  soft().SetVideoMemoryBudget(64 * 64 * 4);
  IDirectDrawSurface7* a = nullptr;
  ASSERT_EQ(DD_OK, Create(64, 64, DDSCAPS_VIDEOMEMORY, nullptr, &a));
  IDirectDrawSurface7* b = nullptr;
  EXPECT_EQ(DDERR_OUTOFVIDEOMEMORY, Create(1, 1, DDSCAPS_VIDEOMEMORY, nullptr, &b));
  EXPECT_EQ(DD_OK, Create(1, 1, DDSCAPS_SYSTEMMEMORY, nullptr, &b));
  b->Release();
  a->Release();
  EXPECT_EQ(0u, soft().VideoMemoryUsed());
  DWORD total = 0, free = 0;
  DDSCAPS2 caps{DDSCAPS_VIDEOMEMORY, 0, 0, 0};
  ASSERT_EQ(DD_OK, dd_->GetAvailableVidMem(&caps, &total, &free));
  EXPECT_EQ(total, free);
}

TEST_F(DDrawObject, InjectedCreationFailureHitsOnlyMatchingCaps) {
  soft().FailSurfaceCreation(1, DDSCAPS_3DDEVICE, DDERR_OUTOFVIDEOMEMORY);
  IDirectDrawSurface7* s = nullptr;
  EXPECT_EQ(DD_OK, Create(4, 4, DDSCAPS_OFFSCREENPLAIN, nullptr, &s));
  s->Release();
  EXPECT_EQ(DDERR_OUTOFVIDEOMEMORY, Create(4, 4, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE, nullptr, &s));
  EXPECT_EQ(DD_OK, Create(4, 4, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE, nullptr, &s));
  s->Release();
}

TEST_F(DDrawObject, InjectedFailureCanLastUntilReset) {
  soft().FailSurfaceCreation(-1);
  IDirectDrawSurface7* s = nullptr;
  EXPECT_EQ(DDERR_GENERIC, Create(4, 4, 0, nullptr, &s));
  EXPECT_EQ(DDERR_GENERIC, Create(4, 4, 0, nullptr, &s));
  soft().FailSurfaceCreation(0);
  EXPECT_EQ(DD_OK, Create(4, 4, 0, nullptr, &s));
  s->Release();
}

class DDraw16 : public DDrawFixture {
 protected:
  DDraw16() : DDrawFixture(16) {}
};
class DDraw24 : public DDrawFixture {
 protected:
  DDraw24() : DDrawFixture(24) {}
};

TEST_F(DDraw16, ScreenIs565) {
  IDirectDrawSurface7* primary = Primary();
  DDPIXELFORMAT pf{};
  primary->GetPixelFormat(&pf);
  EXPECT_EQ(16u, pf.dwRGBBitCount);
  EXPECT_EQ(0xF800u, pf.dwRBitMask);
  EXPECT_EQ(0x07E0u, pf.dwGBitMask);
  FillRaw(primary, 0xF800);
  EXPECT_EQ(0xFFFF0000u, soft().ScreenPixel(0, 0));
  FillRaw(primary, 0x0400);  // green 32 of 63
  EXPECT_EQ(0xFF008200u, soft().ScreenPixel(0, 0));
}

TEST_F(DDraw24, ScreenIs24BitAndOffscreenSurfacesFollowIt) {
  IDirectDrawSurface7* back = Surface(5, 5);
  DDPIXELFORMAT pf{};
  back->GetPixelFormat(&pf);
  EXPECT_EQ(24u, pf.dwRGBBitCount);
  FillRaw(Primary(), 0xABCDEF);
  EXPECT_EQ(0xFFABCDEFu, soft().ScreenPixel(319, 199));
}

// ---- Palettes, clippers, colour keys ----

TEST_F(DDrawObject, PaletteKeepsItsEntries) {
  PALETTEENTRY entries[256];
  for (int i = 0; i < 256; ++i) entries[i] = {BYTE(i), BYTE(255 - i), 7, 0x40};
  IDirectDrawPalette* pal = nullptr;
  ASSERT_EQ(DD_OK, dd_->CreatePalette(DDPCAPS_8BIT | DDPCAPS_INITIALIZE, entries, &pal, nullptr));
  Keep(pal);
  PALETTEENTRY changed[2] = {{1, 2, 3, 0}, {4, 5, 6, 0}};
  ASSERT_EQ(DD_OK, pal->SetEntries(0, 254, 2, changed));
  PALETTEENTRY back[3];
  ASSERT_EQ(DD_OK, pal->GetEntries(0, 253, 3, back));
  EXPECT_EQ(253, back[0].peRed);
  EXPECT_EQ(1, back[1].peRed);
  EXPECT_EQ(6, back[2].peBlue);
  EXPECT_EQ(DDERR_INVALIDPARAMS, pal->SetEntries(0, 255, 2, changed));
  DWORD caps = 0;
  pal->GetCaps(&caps);
  EXPECT_EQ(DDPCAPS_8BIT | DDPCAPS_INITIALIZE, caps);
}

TEST_F(DDrawObject, PaletteDoesNotAttachToATrueColourScreen) {
  PALETTEENTRY entries[256] = {};
  IDirectDrawPalette* pal = nullptr;
  ASSERT_EQ(DD_OK, dd_->CreatePalette(DDPCAPS_8BIT, entries, &pal, nullptr));
  Keep(pal);
  EXPECT_TRUE(FAILED(Primary()->SetPalette(pal)));
  EXPECT_EQ(DDERR_INVALIDPARAMS, dd_->CreatePalette(0, entries, &pal, nullptr));
}

TEST_F(DDrawObject, ClipperRemembersItsWindowAndAttaches) {
  IDirectDrawClipper* clipper = nullptr;
  ASSERT_EQ(DD_OK, dd_->CreateClipper(0, &clipper, nullptr));
  Keep(clipper);
  HWND w = reinterpret_cast<HWND>(0x1234);
  ASSERT_EQ(DD_OK, clipper->SetHWnd(0, w));
  HWND back = nullptr;
  clipper->GetHWnd(&back);
  EXPECT_EQ(w, back);
  IDirectDrawSurface7* primary = Primary();
  IDirectDrawClipper* got = nullptr;
  EXPECT_EQ(DDERR_NOCLIPPERATTACHED, primary->GetClipper(&got));
  ASSERT_EQ(DD_OK, primary->SetClipper(clipper));
  ASSERT_EQ(DD_OK, primary->GetClipper(&got));
  EXPECT_EQ(clipper, got);
  got->Release();
}

TEST_F(DDrawObject, ColourKeyWithoutColourSpaceIsOneValue) {
  IDirectDrawSurface7* s = Surface(2, 2);
  DDCOLORKEY key{0x10, 0x20};
  ASSERT_EQ(DD_OK, s->SetColorKey(DDCKEY_SRCBLT, &key));
  DDCOLORKEY back{};
  ASSERT_EQ(DD_OK, s->GetColorKey(DDCKEY_SRCBLT, &back));
  EXPECT_EQ(0x10u, back.dwColorSpaceLowValue);
  EXPECT_EQ(0x10u, back.dwColorSpaceHighValue);
  ASSERT_EQ(DD_OK, s->SetColorKey(DDCKEY_SRCBLT | DDCKEY_COLORSPACE, &key));
  s->GetColorKey(DDCKEY_SRCBLT, &back);
  EXPECT_EQ(0x20u, back.dwColorSpaceHighValue);
  ASSERT_EQ(DD_OK, s->SetColorKey(DDCKEY_SRCBLT, nullptr));
  EXPECT_EQ(DDERR_NOCOLORKEY, s->GetColorKey(DDCKEY_SRCBLT, &back));
}

// ---- Depth buffer attachment ----

TEST_F(DDrawObject, DepthSurfaceAttachesOnceAndDetaches) {
  IDirectDrawSurface7* back = Surface(8, 8, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE);
  DDPIXELFORMAT z{};
  z.dwSize = sizeof(z);
  z.dwFlags = DDPF_ZBUFFER;
  z.dwZBufferBitDepth = 16;
  z.dwZBitMask = 0xFFFF;
  IDirectDrawSurface7* depth = Surface(8, 8, DDSCAPS_ZBUFFER, &z);
  ASSERT_EQ(DD_OK, back->AddAttachedSurface(depth));
  EXPECT_EQ(DDERR_SURFACEALREADYATTACHED, back->AddAttachedSurface(depth));
  DDSCAPS2 caps{DDSCAPS_ZBUFFER, 0, 0, 0};
  IDirectDrawSurface7* found = nullptr;
  ASSERT_EQ(DD_OK, back->GetAttachedSurface(&caps, &found));
  EXPECT_EQ(depth, found);
  found->Release();
  ASSERT_EQ(DD_OK, back->DeleteAttachedSurface(0, depth));
  EXPECT_EQ(DDERR_SURFACENOTATTACHED, back->DeleteAttachedSurface(0, depth));
  EXPECT_EQ(DDERR_NOTFOUND, back->GetAttachedSurface(&caps, &found));
  EXPECT_EQ(DDERR_CANNOTATTACHSURFACE, back->AddAttachedSurface(Surface(8, 8)));
}

// ---- Vertical blank ----

TEST_F(DDrawObject, VerticalBlankWaitAdvancesTheVirtualClockToTheNextRefresh) {
  plat::soft::SoftClock& clock = platform().clock();
  clock.AdvanceMicroseconds(1000);
  ASSERT_EQ(DD_OK, dd_->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr));
  EXPECT_EQ(16667u, clock.NowMicroseconds());
  ASSERT_EQ(DD_OK, dd_->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr));
  EXPECT_EQ(33334u, clock.NowMicroseconds());
  clock.AdvanceMicroseconds(1000000 - 33334);  // exactly on a refresh: wait for the next one
  ASSERT_EQ(DD_OK, dd_->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr));
  EXPECT_EQ(1016667u, clock.NowMicroseconds());
  EXPECT_EQ(3u, soft().VerticalBlankWaits());
}

TEST_F(DDrawObject, ReleasingEverythingLeavesNoObjects) {
  IDirectDrawSurface7* s = nullptr;
  ASSERT_EQ(DD_OK, Create(4, 4, 0, nullptr, &s));
  IDirectDrawClipper* c = nullptr;
  dd_->CreateClipper(0, &c, nullptr);
  s->SetClipper(c);
  c->Release();
  EXPECT_EQ(3u, soft().LiveObjectCount());  // the object, the surface and the clipper it holds
  s->Release();
  EXPECT_EQ(1u, soft().LiveObjectCount());
}

}  // namespace
