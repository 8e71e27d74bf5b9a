// DirectDraw 7 and Direct3D 7 on Windows through the platform's interfaces: the library's creation entry
// point, surfaces in both description forms, one wrapper per real object, and a textured alpha-blended quad
// drawn by the real device, read back and presented to a window. Direct3D needs a working 3D driver (under
// Wine: OpenGL); where device creation fails the drawing test is skipped with the result code.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/DirectDraw.h"
#include "platform/Windows.h"
#include "platform/win32/Win32Platform.h"

using namespace plat;

namespace {

const char kClass[] = "DesktopSnowTestDDraw";

LRESULT PlainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return Windows().DefWindowProc(hwnd, message, wParam, lParam);
}

DDPIXELFORMAT Argb32() {
  DDPIXELFORMAT pf{};
  pf.dwSize = sizeof pf;
  pf.dwFlags = DDPF_RGB | DDPF_ALPHAPIXELS;
  pf.dwRGBBitCount = 32;
  pf.dwRBitMask = 0x00FF0000;
  pf.dwGBitMask = 0x0000FF00;
  pf.dwBBitMask = 0x000000FF;
  pf.dwRGBAlphaBitMask = 0xFF000000;
  return pf;
}

HRESULT CollectDevice(char*, char*, D3DDEVICEDESC7* desc, void* context) {
  static_cast<std::vector<GUID>*>(context)->push_back(desc->deviceGUID);
  return D3DENUMRET_OK;
}

class Win32DDrawTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASS wc{};
    wc.lpfnWndProc = &PlainProc;
    wc.lpszClassName = kClass;
    ASSERT_NE(0, Windows().RegisterClass(wc));
    window_ = Windows().CreateWindowEx(0, kClass, "ddraw", WS_POPUP, 0, 0, 64, 64, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window_);
    lib_ = DDraw().LoadLibraryA("DDraw.dll");
    ASSERT_NE(nullptr, lib_);
    auto create =
        reinterpret_cast<PFN_DirectDrawCreateEx>(DDraw().GetProcAddress(lib_, "DirectDrawCreateEx"));
    ASSERT_NE(nullptr, create);
    void* out = nullptr;
    ASSERT_EQ(DD_OK, create(nullptr, &out, IID_IDirectDraw7, nullptr));
    dd_ = static_cast<IDirectDraw7*>(out);
    ASSERT_EQ(DD_OK, dd_->SetCooperativeLevel(window_, DDSCL_NORMAL));
  }
  void TearDown() override {
    SafeRelease(dd_);
    if (lib_) DDraw().FreeLibrary(lib_);
    if (window_) Windows().DestroyWindow(window_);
    Windows().UnregisterClass(kClass, nullptr);
  }

  IDirectDrawSurface7* Offscreen(int w, int h, DWORD caps, DWORD caps2 = 0) {
    DDSURFACEDESC2 d{};
    d.dwSize = sizeof d;
    d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    d.dwWidth = w;
    d.dwHeight = h;
    d.ddpfPixelFormat = Argb32();
    d.ddsCaps.dwCaps = caps;
    d.ddsCaps.dwCaps2 = caps2;
    IDirectDrawSurface7* s = nullptr;
    last_ = dd_->CreateSurface(&d, &s, nullptr);
    return s;
  }

  win32::Win32Platform platform_;
  HWND window_ = nullptr;
  HMODULE lib_ = nullptr;
  IDirectDraw7* dd_ = nullptr;
  HRESULT last_ = DD_OK;
};

TEST_F(Win32DDrawTest, UnknownEntryPointGivesNull) {
  EXPECT_EQ(nullptr, DDraw().GetProcAddress(lib_, "NoSuchEntryPoint"));
}

TEST_F(Win32DDrawTest, OnlyTheNewestInterfaceCanBeCreated) {
  auto create = reinterpret_cast<PFN_DirectDrawCreateEx>(DDraw().GetProcAddress(lib_, "DirectDrawCreateEx"));
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(DDERR_INVALIDPARAMS, create(nullptr, &out, IID_IDirectDraw, nullptr));
  EXPECT_EQ(nullptr, out);
}

TEST_F(Win32DDrawTest, OlderInterfaceVersionsAnswerWithTheSameObject) {
  void* older = nullptr;
  ASSERT_EQ(S_OK, dd_->QueryInterface(IID_IDirectDraw4, &older));
  EXPECT_EQ(static_cast<void*>(dd_), older);
  static_cast<IDirectDraw7*>(older)->Release();
}

TEST_F(Win32DDrawTest, SurfaceLockGivesPixelsWrittenBefore) {
  IDirectDrawSurface7* s = Offscreen(4, 3, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY);
  ASSERT_NE(nullptr, s) << std::hex << last_;
  DDBLTFX fx{};
  fx.dwSize = sizeof fx;
  fx.dwFillColor = 0xFF123456;
  ASSERT_EQ(DD_OK, s->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx));
  DDSURFACEDESC2 d{};
  d.dwSize = sizeof d;
  ASSERT_EQ(DD_OK, s->Lock(nullptr, &d, DDLOCK_WAIT | DDLOCK_READONLY, nullptr));
  EXPECT_EQ(4u, d.dwWidth);
  EXPECT_EQ(3u, d.dwHeight);
  const auto* row = static_cast<const std::uint8_t*>(d.lpSurface) + 2 * d.lPitch;
  EXPECT_EQ(0x123456u, reinterpret_cast<const std::uint32_t*>(row)[3] & 0xFFFFFF);
  EXPECT_EQ(DD_OK, s->Unlock(nullptr));
  s->Release();
}

TEST_F(Win32DDrawTest, OlderDescriptionFormIsFilledWithoutTouchingWhatFollows) {
  IDirectDrawSurface7* s = Offscreen(8, 5, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY);
  ASSERT_NE(nullptr, s);
  DDSURFACEDESC2 d;
  std::memset(&d, 0xAB, sizeof d);
  d.dwSize = sizeof(DDSURFACEDESC);
  ASSERT_EQ(DD_OK, s->GetSurfaceDesc(&d));
  EXPECT_EQ(sizeof(DDSURFACEDESC), d.dwSize);
  EXPECT_EQ(8u, d.dwWidth);
  EXPECT_EQ(5u, d.dwHeight);
  EXPECT_EQ(32u, d.ddpfPixelFormat.dwRGBBitCount);
  // The newer form's extra fields lie beyond the older form and stay as they were.
  EXPECT_EQ(0xABABABABu, d.dwTextureStage);
  s->Release();
}

TEST_F(Win32DDrawTest, ClipperComesBackAsTheSameWrapperWithItsWindow) {
  IDirectDrawSurface7* a = Offscreen(4, 4, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY);
  ASSERT_NE(nullptr, a);
  IDirectDrawClipper* clipper = nullptr;
  ASSERT_EQ(DD_OK, dd_->CreateClipper(0, &clipper, nullptr));
  ASSERT_EQ(DD_OK, clipper->SetHWnd(0, window_));
  ASSERT_EQ(DD_OK, a->SetClipper(clipper));
  IDirectDrawClipper* again = nullptr;
  ASSERT_EQ(DD_OK, a->GetClipper(&again));
  EXPECT_EQ(clipper, again);
  HWND w = nullptr;
  EXPECT_EQ(DD_OK, again->GetHWnd(&w));
  EXPECT_EQ(window_, w);
  again->Release();
  clipper->Release();
  a->Release();
}

TEST_F(Win32DDrawTest, TexturedAlphaBlendedQuadIsDrawnAndPresented) {
  void* d3dOut = nullptr;
  ASSERT_EQ(S_OK, dd_->QueryInterface(IID_IDirect3D7, &d3dOut));
  IDirect3D7* d3d = static_cast<IDirect3D7*>(d3dOut);
  std::vector<GUID> devices;
  ASSERT_EQ(D3D_OK, d3d->EnumDevices(&CollectDevice, &devices));
  ASSERT_FALSE(devices.empty());

  // The hardware device draws into video memory; the software one into system memory.
  IDirectDrawSurface7* target = nullptr;
  IDirect3DDevice7* device = nullptr;
  HRESULT created = D3DERR_INVALID_DEVICE;
  for (const GUID* id : {&IID_IDirect3DHALDevice, &IID_IDirect3DRGBDevice}) {
    const DWORD memory = *id == IID_IDirect3DHALDevice ? DDSCAPS_VIDEOMEMORY : DDSCAPS_SYSTEMMEMORY;
    target = Offscreen(32, 32, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE | memory);
    if (!target) continue;
    created = d3d->CreateDevice(*id, target, &device);
    if (created == D3D_OK) break;
    SafeRelease(target);
  }
  if (!device) {
    d3d->Release();
    GTEST_SKIP() << "no Direct3D 7 device here (result 0x" << std::hex << static_cast<std::uint32_t>(created)
                 << "); the system needs a 3D driver";
  }

  IDirectDrawSurface7* texture = Offscreen(2, 2, DDSCAPS_TEXTURE, DDSCAPS2_TEXTUREMANAGE);
  ASSERT_NE(nullptr, texture) << std::hex << last_;
  DDSURFACEDESC2 ld{};
  ld.dwSize = sizeof ld;
  ASSERT_EQ(DD_OK, texture->Lock(nullptr, &ld, DDLOCK_WAIT | DDLOCK_WRITEONLY, nullptr));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x)
      reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(ld.lpSurface) + y * ld.lPitch)[x] =
          0x80FFFFFF;  // white at half opacity
  ASSERT_EQ(DD_OK, texture->Unlock(nullptr));

  ASSERT_EQ(D3D_OK, device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0));
  ASSERT_EQ(D3D_OK, device->BeginScene());
  device->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_FALSE);
  device->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
  device->SetRenderState(D3DRENDERSTATE_LIGHTING, 0);
  device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, 1);
  device->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
  device->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA);
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_POINT);
  device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTFN_POINT);
  ASSERT_EQ(D3D_OK, device->SetTexture(0, texture));
  IDirectDrawSurface7* bound = nullptr;
  ASSERT_EQ(D3D_OK, device->GetTexture(0, &bound));
  EXPECT_EQ(texture, bound);  // one wrapper per real surface
  SafeRelease(bound);
  // Covers pixels 8..23 in both directions.
  const float l = 7.5f, t = 7.5f, r = 23.5f, b = 23.5f;
  const D3DTLVERTEX quad[4] = {{l, t, 0, 1, 0xFFFFFFFF, 0, 0, 0},
                               {r, t, 0, 1, 0xFFFFFFFF, 0, 1, 0},
                               {l, b, 0, 1, 0xFFFFFFFF, 0, 0, 1},
                               {r, b, 0, 1, 0xFFFFFFFF, 0, 1, 1}};
  EXPECT_EQ(D3D_OK, device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, quad, 4, D3DDP_WAIT));
  ASSERT_EQ(D3D_OK, device->EndScene());

  DDSURFACEDESC2 rd{};
  rd.dwSize = sizeof rd;
  ASSERT_EQ(DD_OK, target->Lock(nullptr, &rd, DDLOCK_WAIT | DDLOCK_READONLY, nullptr));
  auto px = [&](int x, int y) {
    return reinterpret_cast<const std::uint32_t*>(static_cast<const std::uint8_t*>(rd.lpSurface) +
                                                  y * rd.lPitch)[x];
  };
  const std::uint32_t inside = px(15, 15), outside = px(2, 2), edgeIn = px(8, 8), edgeOut = px(7, 7);
  ASSERT_EQ(DD_OK, target->Unlock(nullptr));
  // white x 128/255 + blue x 127/255, within 2 levels for the driver's rounding
  auto near = [](std::uint32_t v, int shift, int want) {
    return std::abs(static_cast<int>((v >> shift) & 0xFF) - want) <= 2;
  };
  EXPECT_TRUE(near(inside, 16, 128) && near(inside, 8, 128) && near(inside, 0, 255)) << std::hex << inside;
  EXPECT_TRUE(near(edgeIn, 16, 128)) << std::hex << edgeIn;
  EXPECT_EQ(0x0000FFu, outside & 0xFFFFFF);
  EXPECT_EQ(0x0000FFu, edgeOut & 0xFFFFFF);

  // Present: the frame goes to the window's place on the primary surface through a clipper.
  DDSURFACEDESC2 pd{};
  pd.dwSize = sizeof pd;
  pd.dwFlags = DDSD_CAPS;
  pd.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  IDirectDrawSurface7* primary = nullptr;
  ASSERT_EQ(DD_OK, dd_->CreateSurface(&pd, &primary, nullptr));
  IDirectDrawClipper* clipper = nullptr;
  ASSERT_EQ(DD_OK, dd_->CreateClipper(0, &clipper, nullptr));
  clipper->SetHWnd(0, window_);
  primary->SetClipper(clipper);
  RECT dst{};
  Windows().GetWindowRect(window_, &dst);
  dd_->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr);
  EXPECT_EQ(DD_OK, primary->Blt(&dst, target, nullptr, DDBLT_WAIT, nullptr));

  clipper->Release();
  primary->Release();
  device->SetTexture(0, nullptr);
  texture->Release();
  device->Release();
  target->Release();
  d3d->Release();
}

}  // namespace

#endif  // _WIN32
