// The Direct3D 7 object and device: enumeration, creation on a surface, states, textures, failures.
#include <string>

#include "platform/ddraw_test_util.h"

using namespace plat;
using ddtest::DDrawFixture;

namespace {

struct Enumerated {
  std::string name;
  GUID guid;
  D3DDEVICEDESC7 desc;
};

HRESULT Collect(char*, char* name, D3DDEVICEDESC7* desc, void* context) {
  static_cast<std::vector<Enumerated>*>(context)->push_back({name, desc->deviceGUID, *desc});
  return D3DENUMRET_OK;
}

HRESULT CollectFormat(DDPIXELFORMAT* pf, void* context) {
  static_cast<std::vector<DDPIXELFORMAT>*>(context)->push_back(*pf);
  return D3DENUMRET_OK;
}

class D3DDevice : public DDrawFixture {
 protected:
  IDirect3D7* D3D() {
    void* p = nullptr;
    EXPECT_EQ(DD_OK, dd_->QueryInterface(IID_IDirect3D7, &p));
    return Keep(static_cast<IDirect3D7*>(p));
  }
  std::vector<Enumerated> Devices() {
    std::vector<Enumerated> out;
    EXPECT_EQ(D3D_OK, D3D()->EnumDevices(&Collect, &out));
    return out;
  }
  IDirectDrawSurface7* Target(DWORD memory = DDSCAPS_VIDEOMEMORY) {
    return Surface(16, 16, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE | memory);
  }
  HRESULT MakeDevice(const GUID& guid, IDirectDrawSurface7* target, IDirect3DDevice7** out) {
    const HRESULT hr = D3D()->CreateDevice(guid, target, out);
    if (SUCCEEDED(hr)) Keep(*out);
    return hr;
  }
};

// ---- Enumeration ----

TEST_F(D3DDevice, EnumeratesSoftwareReferenceAndHardwareDevices) {
  const std::vector<Enumerated> devices = Devices();
  ASSERT_EQ(4u, devices.size());
  EXPECT_EQ(IID_IDirect3DRGBDevice, devices[0].guid);
  EXPECT_EQ(IID_IDirect3DRefDevice, devices[1].guid);
  EXPECT_EQ(IID_IDirect3DHALDevice, devices[2].guid);
  EXPECT_EQ(IID_IDirect3DTnLHalDevice, devices[3].guid);
  EXPECT_FALSE(devices[0].desc.dwDevCaps & D3DDEVCAPS_HWRASTERIZATION);
  EXPECT_TRUE(devices[2].desc.dwDevCaps & D3DDEVCAPS_HWRASTERIZATION);
  EXPECT_TRUE(devices[3].desc.dwDevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT);
  for (const Enumerated& d : devices) {
    EXPECT_EQ(DDBD_16 | DDBD_32, d.desc.dwDeviceRenderBitDepth) << d.name;
    EXPECT_GE(d.desc.dwMaxTextureWidth, 2048u);
  }
}

TEST_F(D3DDevice, WithoutHardwareOnlySoftwareDevicesAreEnumerated) {
  soft().SetHardware3D(false);
  const std::vector<Enumerated> devices = Devices();
  ASSERT_EQ(2u, devices.size());
  for (const Enumerated& d : devices) EXPECT_FALSE(d.desc.dwDevCaps & D3DDEVCAPS_HWRASTERIZATION);
}

TEST_F(D3DDevice, RemovedBitDepthDisappearsFromEveryDevice) {
  soft().SetDeviceRenderBitDepths(DDBD_16);
  for (const Enumerated& d : Devices()) EXPECT_EQ(DDBD_16, d.desc.dwDeviceRenderBitDepth);
  IDirect3DDevice7* dev = nullptr;
  EXPECT_EQ(D3DERR_INVALID_DEVICE, MakeDevice(IID_IDirect3DRGBDevice, Target(), &dev));
}

TEST_F(D3DDevice, EnumerationStopsWhenTheCallbackCancels) {
  int calls = 0;
  auto cancel = [](char*, char*, D3DDEVICEDESC7*, void* c) -> HRESULT {
    ++*static_cast<int*>(c);
    return D3DENUMRET_CANCEL;
  };
  D3D()->EnumDevices(cancel, &calls);
  EXPECT_EQ(1, calls);
}

TEST_F(D3DDevice, DepthFormatsAreSixteenAndThirtyTwoBits) {
  std::vector<DDPIXELFORMAT> formats;
  ASSERT_EQ(D3D_OK, D3D()->EnumZBufferFormats(IID_IDirect3DHALDevice, &CollectFormat, &formats));
  ASSERT_EQ(2u, formats.size());
  EXPECT_EQ(DDPF_ZBUFFER, formats[0].dwFlags);
  EXPECT_EQ(16u, formats[0].dwZBufferBitDepth);
}

// ---- Creation ----

TEST_F(D3DDevice, HardwareDeviceNeedsAVideoMemoryTarget) {
  IDirect3DDevice7* dev = nullptr;
  EXPECT_EQ(DDERR_INVALIDCAPS, MakeDevice(IID_IDirect3DHALDevice, Target(DDSCAPS_SYSTEMMEMORY), &dev));
  EXPECT_EQ(D3D_OK, MakeDevice(IID_IDirect3DRGBDevice, Target(DDSCAPS_SYSTEMMEMORY), &dev));
  EXPECT_EQ(D3D_OK, MakeDevice(IID_IDirect3DHALDevice, Target(), &dev));
}

TEST_F(D3DDevice, TargetNeedsTheDeviceCapability) {
  IDirect3DDevice7* dev = nullptr;
  EXPECT_EQ(DDERR_INVALIDCAPS, MakeDevice(IID_IDirect3DRGBDevice, Surface(8, 8), &dev));
  EXPECT_EQ(DDERR_INVALIDPARAMS, MakeDevice(IID_IDirect3DRGBDevice, nullptr, &dev));
  EXPECT_EQ(DDERR_INVALIDPARAMS, MakeDevice(IID_IDirectDraw7, Target(), &dev));
}

TEST_F(D3DDevice, HardwareDeviceIsRefusedWhenTheDriverHasNoHardware) {
  soft().SetHardware3D(false);
  IDirect3DDevice7* dev = nullptr;
  EXPECT_EQ(D3DERR_INVALID_DEVICE, MakeDevice(IID_IDirect3DHALDevice, Target(), &dev));
}

TEST_F(D3DDevice, InjectedCreationFailureHitsOnce) {
  soft().FailCreateDevice(1);
  IDirect3DDevice7* dev = nullptr;
  IDirectDrawSurface7* target = Target();
  EXPECT_EQ(DDERR_GENERIC, MakeDevice(IID_IDirect3DHALDevice, target, &dev));
  EXPECT_EQ(nullptr, dev);
  EXPECT_EQ(D3D_OK, MakeDevice(IID_IDirect3DHALDevice, target, &dev));
}

class D3DOn24BitScreen : public DDrawFixture {
 protected:
  D3DOn24BitScreen() : DDrawFixture(24) {}
};

TEST_F(D3DOn24BitScreen, NoDeviceRendersIntoTheDisplayFormat) {
  void* p = nullptr;
  ASSERT_EQ(DD_OK, dd_->QueryInterface(IID_IDirect3D7, &p));
  auto* d3d = Keep(static_cast<IDirect3D7*>(p));
  IDirectDrawSurface7* target = Surface(8, 8, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE);
  DDPIXELFORMAT pf{};
  target->GetPixelFormat(&pf);
  ASSERT_EQ(24u, pf.dwRGBBitCount);
  int usable = 0;
  auto count = [](char*, char*, D3DDEVICEDESC7* d, void* c) -> HRESULT {
    if (d->dwDeviceRenderBitDepth & DDBD_24) ++*static_cast<int*>(c);
    return D3DENUMRET_OK;
  };
  d3d->EnumDevices(count, &usable);
  EXPECT_EQ(0, usable);
  IDirect3DDevice7* dev = nullptr;
  EXPECT_EQ(D3DERR_INVALID_DEVICE, d3d->CreateDevice(IID_IDirect3DRGBDevice, target, &dev));
}

// ---- States ----

TEST_F(D3DDevice, DefaultStatesAreTheDocumentedOnes) {
  IDirect3DDevice7* dev = nullptr;
  ASSERT_EQ(D3D_OK, MakeDevice(IID_IDirect3DHALDevice, Target(), &dev));
  DWORD v = 0;
  dev->GetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, &v);
  EXPECT_EQ(0u, v);
  dev->GetRenderState(D3DRENDERSTATE_CULLMODE, &v);
  EXPECT_EQ(DWORD(D3DCULL_CCW), v);
  dev->GetTextureStageState(0, D3DTSS_COLOROP, &v);
  EXPECT_EQ(DWORD(D3DTOP_MODULATE), v);
  dev->GetTextureStageState(0, D3DTSS_ALPHAOP, &v);
  EXPECT_EQ(DWORD(D3DTOP_SELECTARG1), v);
  dev->GetTextureStageState(1, D3DTSS_COLOROP, &v);
  EXPECT_EQ(DWORD(D3DTOP_DISABLE), v);
  dev->GetTextureStageState(0, D3DTSS_ADDRESSU, &v);
  EXPECT_EQ(DWORD(D3DTADDRESS_WRAP), v);
}

TEST_F(D3DDevice, AddressStateSetsBothDirectionsAndBadStagesAreRefused) {
  IDirect3DDevice7* dev = nullptr;
  ASSERT_EQ(D3D_OK, MakeDevice(IID_IDirect3DRGBDevice, Target(), &dev));
  ASSERT_EQ(D3D_OK, dev->SetTextureStageState(0, D3DTSS_ADDRESS, D3DTADDRESS_CLAMP));
  DWORD u = 0, v = 0;
  dev->GetTextureStageState(0, D3DTSS_ADDRESSU, &u);
  dev->GetTextureStageState(0, D3DTSS_ADDRESSV, &v);
  EXPECT_EQ(DWORD(D3DTADDRESS_CLAMP), u);
  EXPECT_EQ(DWORD(D3DTADDRESS_CLAMP), v);
  EXPECT_EQ(DDERR_INVALIDPARAMS, dev->SetTextureStageState(8, D3DTSS_COLOROP, D3DTOP_DISABLE));
  EXPECT_EQ(DDERR_INVALIDPARAMS, dev->SetRenderState(D3DRENDERSTATETYPE(300), 1));
}

TEST_F(D3DDevice, TextureMustBeATextureSurface) {
  IDirect3DDevice7* dev = nullptr;
  ASSERT_EQ(D3D_OK, MakeDevice(IID_IDirect3DRGBDevice, Target(), &dev));
  EXPECT_EQ(DDERR_INVALIDCAPS, dev->SetTexture(0, Surface(4, 4)));
  IDirectDrawSurface7* tex = Texture(2, 2, {1, 2, 3, 4});
  ASSERT_EQ(D3D_OK, dev->SetTexture(0, tex));
  IDirectDrawSurface7* got = nullptr;
  dev->GetTexture(0, &got);
  EXPECT_EQ(tex, got);
  got->Release();
  ASSERT_EQ(D3D_OK, dev->SetTexture(0, nullptr));
}

TEST_F(D3DDevice, TextureFormatsOfferEightBitAlpha) {
  IDirect3DDevice7* dev = nullptr;
  ASSERT_EQ(D3D_OK, MakeDevice(IID_IDirect3DRGBDevice, Target(), &dev));
  std::vector<DDPIXELFORMAT> formats;
  ASSERT_EQ(D3D_OK, dev->EnumTextureFormats(&CollectFormat, &formats));
  bool argb = false, xrgb = false, palette = false;
  for (const DDPIXELFORMAT& f : formats) {
    if (f.dwFlags & DDPF_PALETTEINDEXED8) palette = true;
    if (f.dwRGBBitCount == 32 && f.dwRGBAlphaBitMask == 0xFF000000u && (f.dwFlags & DDPF_ALPHAPIXELS))
      argb = true;
    if (f.dwRGBBitCount == 32 && !(f.dwFlags & DDPF_ALPHAPIXELS)) xrgb = true;
  }
  EXPECT_TRUE(argb);
  EXPECT_TRUE(xrgb);
  EXPECT_TRUE(palette);
}

TEST_F(D3DDevice, RenderTargetChangesOnlyToAUsableSurface) {
  IDirect3DDevice7* dev = nullptr;
  ASSERT_EQ(D3D_OK, MakeDevice(IID_IDirect3DHALDevice, Target(), &dev));
  EXPECT_EQ(DDERR_INVALIDCAPS, dev->SetRenderTarget(Target(DDSCAPS_SYSTEMMEMORY), 0));
  IDirectDrawSurface7* other = Target();
  ASSERT_EQ(D3D_OK, dev->SetRenderTarget(other, 0));
  IDirectDrawSurface7* got = nullptr;
  dev->GetRenderTarget(&got);
  EXPECT_EQ(other, got);
  got->Release();
}

TEST_F(D3DDevice, ScenesDoNotNest) {
  IDirect3DDevice7* dev = nullptr;
  ASSERT_EQ(D3D_OK, MakeDevice(IID_IDirect3DRGBDevice, Target(), &dev));
  EXPECT_EQ(D3DERR_SCENE_NOT_IN_SCENE, dev->EndScene());
  EXPECT_EQ(D3D_OK, dev->BeginScene());
  EXPECT_EQ(D3DERR_SCENE_IN_SCENE, dev->BeginScene());
  EXPECT_EQ(D3D_OK, dev->EndScene());
}

// ---- Draw failures ----

TEST_F(D3DDevice, InjectedDrawFailureHitsOnceOrAlways) {
  IDirect3DDevice7* dev = nullptr;
  ASSERT_EQ(D3D_OK, MakeDevice(IID_IDirect3DHALDevice, Target(), &dev));
  const std::vector<D3DTLVERTEX> q = ddtest::Quad(0, 0, 4, 4, 0xFFFFFFFFu);
  soft().FailDrawPrimitive(1);
  EXPECT_EQ(DDERR_GENERIC, dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, q.data(), 4, D3DDP_WAIT));
  EXPECT_EQ(D3D_OK, dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, q.data(), 4, D3DDP_WAIT));
  soft().FailDrawPrimitive(-1);
  EXPECT_EQ(DDERR_GENERIC, dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, q.data(), 4, D3DDP_WAIT));
  EXPECT_EQ(DDERR_GENERIC, dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, q.data(), 4, D3DDP_WAIT));
  EXPECT_EQ(4u, soft().DrawPrimitiveCalls());
}

TEST_F(D3DDevice, DrawIntoALostTargetFails) {
  IDirect3DDevice7* dev = nullptr;
  IDirectDrawSurface7* target = Target();
  ASSERT_EQ(D3D_OK, MakeDevice(IID_IDirect3DHALDevice, target, &dev));
  soft().LoseAllSurfaces();
  const std::vector<D3DTLVERTEX> q = ddtest::Quad(0, 0, 4, 4, 0xFFFFFFFFu);
  EXPECT_EQ(DDERR_SURFACELOST, dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, q.data(), 4, 0));
}

TEST_F(D3DDevice, BadVertexLayoutsAndPrimitivesAreRefused) {
  IDirect3DDevice7* dev = nullptr;
  ASSERT_EQ(D3D_OK, MakeDevice(IID_IDirect3DRGBDevice, Target(), &dev));
  const std::vector<D3DTLVERTEX> q = ddtest::Quad(0, 0, 4, 4, 0xFFFFFFFFu);
  EXPECT_EQ(D3DERR_INVALIDVERTEXTYPE,
            dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_LVERTEX, q.data(), 4, 0));
  EXPECT_EQ(D3DERR_INVALIDPRIMITIVETYPE,
            dev->DrawPrimitive(D3DPRIMITIVETYPE(9), D3DFVF_TLVERTEX, q.data(), 4, 0));
  EXPECT_EQ(DDERR_INVALIDPARAMS, dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, nullptr, 4, 0));
}

}  // namespace
