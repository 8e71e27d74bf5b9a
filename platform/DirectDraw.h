// DirectDraw 7 and Direct3D 7 as the program uses them: the run-time loaded library with its creation entry
// points, the DirectDraw object, surfaces, clippers, palettes, the Direct3D object and its device. Shaped
// like the COM interfaces (one method per interface method, Windows' numeric values for every code, flag and
// structure layout) so the Windows backend forwards each call; the soft backend implements them in memory.
//
// Interface versions: an object answers QueryInterface for every version of its interface with the one
// class below (IID_IDirectDraw, IID_IDirectDraw4 and IID_IDirectDraw7 all give an IDirectDraw7; the surface
// versions likewise an IDirectDrawSurface7). Method arguments follow the newest version; CreateSurface,
// GetSurfaceDesc and Lock accept a DDSURFACEDESC (dwSize = sizeof(DDSURFACEDESC), or 108 as on Windows) as
// well as a DDSURFACEDESC2 (sizeof, or 124) and touch only the fields of that form.
//
// Pixel sampling of the 3D device: the pixel in column x, row y is sampled at the point (x, y) of the
// pre-transformed vertex space (its area spans x - 0.5 to x + 0.5), so a quad whose corners lie at
// (Left - 0.5, Top - 0.5) and (Right - 0.5, Bottom - 0.5) covers exactly the pixels Left..Right-1,
// Top..Bottom-1; texel i of a texture W texels wide has its centre at u = (i + 0.5) / W.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Gdi.h"  // PALETTEENTRY
#include "platform/Types.h"

namespace plat {

using ULONG = DWORD;
using HANDLE = void*;
using HMODULE = HINSTANCE;
using FARPROC = void (*)();
using D3DVALUE = float;
using D3DCOLOR = DWORD;

// ---- Identities ----

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
static_assert(sizeof(GUID) == 16, "GUID layout");
using IID = GUID;
using CLSID = GUID;
using REFIID = const GUID&;
using REFCLSID = const GUID&;
using REFGUID = const GUID&;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
inline bool operator==(REFGUID a, REFGUID b) {
  return IsEqualGUID(a, b);
}
inline bool operator!=(REFGUID a, REFGUID b) {
  return !IsEqualGUID(a, b);
}

constexpr GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID IID_IDirectDraw = {
    0x6C14DB80, 0xA733, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
constexpr GUID IID_IDirectDraw2 = {
    0xB3A6F3E0, 0x2B43, 0x11CF, {0xA2, 0xDE, 0x00, 0xAA, 0x00, 0xB9, 0x33, 0x56}};
constexpr GUID IID_IDirectDraw4 = {
    0x9C59509A, 0x39BD, 0x11D1, {0x8C, 0x4A, 0x00, 0xC0, 0x4F, 0xD9, 0x30, 0xC5}};
constexpr GUID IID_IDirectDraw7 = {
    0x15E65EC0, 0x3B9C, 0x11D2, {0xB9, 0x2F, 0x00, 0x60, 0x97, 0x97, 0xEA, 0x5B}};
constexpr GUID IID_IDirectDrawSurface = {
    0x6C14DB81, 0xA733, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
constexpr GUID IID_IDirectDrawSurface4 = {
    0x0B2B8630, 0xAD35, 0x11D0, {0x8E, 0xA6, 0x00, 0x60, 0x97, 0x97, 0xEA, 0x5B}};
constexpr GUID IID_IDirectDrawSurface7 = {
    0x06675A80, 0x3B9B, 0x11D2, {0xB9, 0x2F, 0x00, 0x60, 0x97, 0x97, 0xEA, 0x5B}};
constexpr GUID IID_IDirectDrawClipper = {
    0x6C14DB85, 0xA733, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
constexpr GUID IID_IDirectDrawPalette = {
    0x6C14DB84, 0xA733, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
constexpr GUID IID_IDirect3D7 = {
    0xF5049E77, 0x4861, 0x11D2, {0xA4, 0x07, 0x00, 0xA0, 0xC9, 0x06, 0x29, 0xA8}};
constexpr GUID IID_IDirect3DDevice7 = {
    0xF5049E79, 0x4861, 0x11D2, {0xA4, 0x07, 0x00, 0xA0, 0xC9, 0x06, 0x29, 0xA8}};
// Device identities (the CLSIDs EnumDevices reports and CreateDevice takes).
constexpr GUID IID_IDirect3DRGBDevice = {
    0xA4665C60, 0x2673, 0x11CF, {0xA3, 0x1A, 0x00, 0xAA, 0x00, 0xB9, 0x33, 0x56}};
constexpr GUID IID_IDirect3DHALDevice = {
    0x84E63DE0, 0x46AA, 0x11CF, {0x81, 0x6F, 0x00, 0x00, 0xC0, 0x20, 0x15, 0x6E}};
constexpr GUID IID_IDirect3DTnLHalDevice = {
    0xF5049E78, 0x4861, 0x11D2, {0xA4, 0x07, 0x00, 0xA0, 0xC9, 0x06, 0x29, 0xA8}};
constexpr GUID IID_IDirect3DRefDevice = {
    0x50936643, 0x13E9, 0x11D1, {0x89, 0xAA, 0x00, 0xA0, 0xC9, 0x05, 0x41, 0x29}};

// ---- Result codes ----

constexpr HRESULT MakeDDHResult(DWORD code) {
  return static_cast<HRESULT>(0x88760000u | code);
}

constexpr HRESULT DD_OK = 0;
constexpr HRESULT D3D_OK = 0;
constexpr HRESULT DD_FALSE = 1;  // S_FALSE
constexpr HRESULT DDENUMRET_CANCEL = 0;
constexpr HRESULT DDENUMRET_OK = 1;
constexpr HRESULT D3DENUMRET_CANCEL = 0;
constexpr HRESULT D3DENUMRET_OK = 1;
constexpr HRESULT DDERR_GENERIC = E_FAIL;
constexpr HRESULT DDERR_OUTOFMEMORY = E_OUTOFMEMORY;
constexpr HRESULT DDERR_INVALIDPARAMS = E_INVALIDARG;
constexpr HRESULT DDERR_UNSUPPORTED = E_NOTIMPL;
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT DDERR_NOINTERFACE = E_NOINTERFACE;
constexpr HRESULT DDERR_INVALIDCAPS = MakeDDHResult(100);
constexpr HRESULT DDERR_CANNOTATTACHSURFACE = MakeDDHResult(110);
constexpr HRESULT DDERR_CANNOTDETACHSURFACE = MakeDDHResult(120);
constexpr HRESULT DDERR_INVALIDOBJECT = MakeDDHResult(130);
constexpr HRESULT DDERR_INVALIDPIXELFORMAT = MakeDDHResult(145);
constexpr HRESULT DDERR_INVALIDRECT = MakeDDHResult(150);
constexpr HRESULT DDERR_NOCOOPERATIVELEVELSET = MakeDDHResult(212);
constexpr HRESULT DDERR_NOCOLORKEY = MakeDDHResult(215);
constexpr HRESULT DDERR_NOTFOUND = MakeDDHResult(255);
constexpr HRESULT DDERR_OUTOFVIDEOMEMORY = MakeDDHResult(380);
constexpr HRESULT DDERR_SURFACEALREADYATTACHED = MakeDDHResult(410);
constexpr HRESULT DDERR_SURFACEBUSY = MakeDDHResult(430);
constexpr HRESULT DDERR_SURFACELOST = MakeDDHResult(450);
constexpr HRESULT DDERR_SURFACENOTATTACHED = MakeDDHResult(460);
constexpr HRESULT DDERR_WASSTILLDRAWING = MakeDDHResult(540);
constexpr HRESULT DDERR_NOCLIPPERATTACHED = MakeDDHResult(564);
constexpr HRESULT DDERR_NOPALETTEATTACHED = MakeDDHResult(572);
constexpr HRESULT DDERR_BLTFASTCANTCLIP = MakeDDHResult(574);
constexpr HRESULT DDERR_CANTCREATEDC = MakeDDHResult(581);
constexpr HRESULT DDERR_NOTLOCKED = MakeDDHResult(584);
constexpr HRESULT DDERR_NODC = MakeDDHResult(586);
constexpr HRESULT DDERR_NOTPALETTIZED = MakeDDHResult(589);
constexpr HRESULT DDERR_DCALREADYCREATED = MakeDDHResult(620);
constexpr HRESULT D3DERR_INVALID_DEVICE = MakeDDHResult(705);
constexpr HRESULT D3DERR_INITFAILED = MakeDDHResult(706);
constexpr HRESULT D3DERR_SCENE_IN_SCENE = MakeDDHResult(730);
constexpr HRESULT D3DERR_SCENE_NOT_IN_SCENE = MakeDDHResult(731);
constexpr HRESULT D3DERR_INVALIDPRIMITIVETYPE = MakeDDHResult(2069);
constexpr HRESULT D3DERR_INVALIDVERTEXTYPE = MakeDDHResult(2070);
constexpr HRESULT D3DERR_TEXTURE_BADSIZE = MakeDDHResult(2071);

// ---- Structures (Windows layouts) ----

struct DDCOLORKEY {
  DWORD dwColorSpaceLowValue;  // inclusive range of raw pixel values
  DWORD dwColorSpaceHighValue;
};
static_assert(sizeof(DDCOLORKEY) == 8, "DDCOLORKEY layout");

struct DDSCAPS {
  DWORD dwCaps;
};
struct DDSCAPS2 {
  DWORD dwCaps;
  DWORD dwCaps2;
  DWORD dwCaps3;
  DWORD dwCaps4;
};
static_assert(sizeof(DDSCAPS2) == 16, "DDSCAPS2 layout");

struct DDPIXELFORMAT {
  DWORD dwSize;  // 32
  DWORD dwFlags;
  DWORD dwFourCC;
  union {
    DWORD dwRGBBitCount;
    DWORD dwZBufferBitDepth;
    DWORD dwAlphaBitDepth;
    DWORD dwLuminanceBitCount;
  };
  union {
    DWORD dwRBitMask;
    DWORD dwStencilBitDepth;
  };
  union {
    DWORD dwGBitMask;
    DWORD dwZBitMask;
  };
  union {
    DWORD dwBBitMask;
    DWORD dwStencilBitMask;
  };
  union {
    DWORD dwRGBAlphaBitMask;
    DWORD dwRGBZBitMask;
  };
};
static_assert(sizeof(DDPIXELFORMAT) == 32, "DDPIXELFORMAT layout");

// The surface description, newest form (124 bytes on 32-bit Windows, where lpSurface has 4 bytes).
struct DDSURFACEDESC2 {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwHeight;
  DWORD dwWidth;
  union {
    LONG lPitch;
    DWORD dwLinearSize;
  };
  union {
    DWORD dwBackBufferCount;
    DWORD dwDepth;
  };
  union {
    DWORD dwMipMapCount;
    DWORD dwRefreshRate;
  };
  DWORD dwAlphaBitDepth;
  DWORD dwReserved;
  void* lpSurface;
  DDCOLORKEY ddckCKDestOverlay;
  DDCOLORKEY ddckCKDestBlt;
  DDCOLORKEY ddckCKSrcOverlay;
  DDCOLORKEY ddckCKSrcBlt;
  union {
    DDPIXELFORMAT ddpfPixelFormat;
    DWORD dwFVF;
  };
  DDSCAPS2 ddsCaps;
  DWORD dwTextureStage;
};
static_assert(sizeof(DDSURFACEDESC2) == (sizeof(void*) == 4 ? 124 : 136), "DDSURFACEDESC2 layout");

// The older description (108 bytes on 32-bit Windows): the same fields up to a one-word capability block.
struct DDSURFACEDESC {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwHeight;
  DWORD dwWidth;
  union {
    LONG lPitch;
    DWORD dwLinearSize;
  };
  DWORD dwBackBufferCount;
  union {
    DWORD dwMipMapCount;
    DWORD dwRefreshRate;
  };
  DWORD dwAlphaBitDepth;
  DWORD dwReserved;
  void* lpSurface;
  DDCOLORKEY ddckCKDestOverlay;
  DDCOLORKEY ddckCKDestBlt;
  DDCOLORKEY ddckCKSrcOverlay;
  DDCOLORKEY ddckCKSrcBlt;
  DDPIXELFORMAT ddpfPixelFormat;
  DDSCAPS ddsCaps;
};
static_assert(sizeof(DDSURFACEDESC) == (sizeof(void*) == 4 ? 108 : 120), "DDSURFACEDESC layout");
static_assert(offsetof(DDSURFACEDESC, ddsCaps) == offsetof(DDSURFACEDESC2, ddsCaps), "common prefix");

// Capabilities of the driver or of the emulation layer (DirectX 7 form, 380 bytes).
struct DDCAPS {
  DWORD dwSize;
  DWORD dwCaps;
  DWORD dwCaps2;
  DWORD dwCKeyCaps;
  DWORD dwFXCaps;
  DWORD dwFXAlphaCaps;
  DWORD dwPalCaps;
  DWORD dwSVCaps;
  DWORD dwAlphaBltConstBitDepths;
  DWORD dwAlphaBltPixelBitDepths;
  DWORD dwAlphaBltSurfaceBitDepths;
  DWORD dwAlphaOverlayConstBitDepths;
  DWORD dwAlphaOverlayPixelBitDepths;
  DWORD dwAlphaOverlaySurfaceBitDepths;
  DWORD dwZBufferBitDepths;
  DWORD dwVidMemTotal;
  DWORD dwVidMemFree;
  DWORD dwMaxVisibleOverlays;
  DWORD dwCurrVisibleOverlays;
  DWORD dwNumFourCCCodes;
  DWORD dwAlignBoundarySrc;
  DWORD dwAlignSizeSrc;
  DWORD dwAlignBoundaryDest;
  DWORD dwAlignSizeDest;
  DWORD dwAlignStrideAlign;
  DWORD dwRops[8];
  DDSCAPS ddsOldCaps;
  DWORD dwMinOverlayStretch;
  DWORD dwMaxOverlayStretch;
  DWORD dwMinLiveVideoStretch;
  DWORD dwMaxLiveVideoStretch;
  DWORD dwMinHwCodecStretch;
  DWORD dwMaxHwCodecStretch;
  DWORD dwReserved1;
  DWORD dwReserved2;
  DWORD dwReserved3;
  DWORD dwSVBCaps;
  DWORD dwSVBCKeyCaps;
  DWORD dwSVBFXCaps;
  DWORD dwSVBRops[8];
  DWORD dwVSBCaps;
  DWORD dwVSBCKeyCaps;
  DWORD dwVSBFXCaps;
  DWORD dwVSBRops[8];
  DWORD dwSSBCaps;
  DWORD dwSSBCKeyCaps;
  DWORD dwSSBFXCaps;
  DWORD dwSSBRops[8];
  DWORD dwMaxVideoPorts;
  DWORD dwCurrVideoPorts;
  DWORD dwSVBCaps2;
  DWORD dwNLVBCaps;
  DWORD dwNLVBCaps2;
  DWORD dwNLVBCKeyCaps;
  DWORD dwNLVBFXCaps;
  DWORD dwNLVBRops[8];
  DDSCAPS2 ddsCaps;  // surface capabilities the driver supports
};
static_assert(sizeof(DDCAPS) == 380, "DDCAPS layout");

// Effects block of Blt (100 bytes). The pointer alternatives of the Windows unions are left out: the
// program never passes surfaces through it, and leaving them out keeps the size on every target.
struct DDBLTFX {
  DWORD dwSize;  // 100
  DWORD dwDDFX;
  DWORD dwROP;
  DWORD dwDDROP;
  DWORD dwRotationAngle;
  DWORD dwZBufferOpCode;
  DWORD dwZBufferLow;
  DWORD dwZBufferHigh;
  DWORD dwZBufferBaseDest;
  DWORD dwZDestConstBitDepth;
  DWORD dwZDestConst;
  DWORD dwZSrcConstBitDepth;
  DWORD dwZSrcConst;
  DWORD dwAlphaEdgeBlendBitDepth;
  DWORD dwAlphaEdgeBlend;
  DWORD dwReserved;
  DWORD dwAlphaDestConstBitDepth;
  DWORD dwAlphaDestConst;
  DWORD dwAlphaSrcConstBitDepth;
  DWORD dwAlphaSrcConst;
  union {
    DWORD dwFillColor;  // raw pixel value in the destination's format
    DWORD dwFillDepth;
    DWORD dwFillPixel;
  };
  DDCOLORKEY ddckDestColorkey;
  DDCOLORKEY ddckSrcColorkey;
};
static_assert(sizeof(DDBLTFX) == 100, "DDBLTFX layout");

struct D3DPRIMCAPS {
  DWORD dwSize;  // 56
  DWORD dwMiscCaps;
  DWORD dwRasterCaps;
  DWORD dwZCmpCaps;
  DWORD dwSrcBlendCaps;
  DWORD dwDestBlendCaps;
  DWORD dwAlphaCmpCaps;
  DWORD dwShadeCaps;
  DWORD dwTextureCaps;
  DWORD dwTextureFilterCaps;
  DWORD dwTextureBlendCaps;
  DWORD dwTextureAddressCaps;
  DWORD dwStippleWidth;
  DWORD dwStippleHeight;
};
static_assert(sizeof(D3DPRIMCAPS) == 56, "D3DPRIMCAPS layout");

struct D3DDEVICEDESC7 {
  DWORD dwDevCaps;
  D3DPRIMCAPS dpcLineCaps;
  D3DPRIMCAPS dpcTriCaps;
  DWORD dwDeviceRenderBitDepth;  // DDBD_* flags of the render target depths the device draws into
  DWORD dwDeviceZBufferBitDepth;
  DWORD dwMinTextureWidth, dwMinTextureHeight;
  DWORD dwMaxTextureWidth, dwMaxTextureHeight;
  DWORD dwMaxTextureRepeat;
  DWORD dwMaxTextureAspectRatio;
  DWORD dwMaxAnisotropy;
  D3DVALUE dvGuardBandLeft;
  D3DVALUE dvGuardBandTop;
  D3DVALUE dvGuardBandRight;
  D3DVALUE dvGuardBandBottom;
  D3DVALUE dvExtentsAdjust;
  DWORD dwStencilCaps;
  DWORD dwFVFCaps;
  DWORD dwTextureOpCaps;
  WORD wMaxTextureBlendStages;
  WORD wMaxSimultaneousTextures;
  DWORD dwMaxActiveLights;
  D3DVALUE dvMaxVertexW;
  GUID deviceGUID;
  WORD wMaxUserClipPlanes;
  WORD wMaxVertexBlendMatrices;
  DWORD dwVertexProcessingCaps;
  DWORD dwReserved1;
  DWORD dwReserved2;
  DWORD dwReserved3;
  DWORD dwReserved4;
};
static_assert(sizeof(D3DDEVICEDESC7) == 236, "D3DDEVICEDESC7 layout");

// A pre-transformed, lit vertex (D3DFVF_TLVERTEX): screen position, reciprocal w, colours, one texture pair.
struct D3DTLVERTEX {
  D3DVALUE sx, sy, sz;
  D3DVALUE rhw;
  D3DCOLOR color;     // diffuse, ARGB
  D3DCOLOR specular;  // ARGB
  D3DVALUE tu, tv;
};
static_assert(sizeof(D3DTLVERTEX) == 32, "D3DTLVERTEX layout");

// An untransformed, lit vertex (D3DFVF_LVERTEX).
struct D3DLVERTEX {
  D3DVALUE x, y, z;
  DWORD dwReserved;
  D3DCOLOR color;
  D3DCOLOR specular;
  D3DVALUE tu, tv;
};
static_assert(sizeof(D3DLVERTEX) == 32, "D3DLVERTEX layout");

constexpr D3DCOLOR RGBA_MAKE(BYTE r, BYTE g, BYTE b, BYTE a) {
  return (static_cast<DWORD>(a) << 24) | (static_cast<DWORD>(r) << 16) | (static_cast<DWORD>(g) << 8) | b;
}

// ---- Constants ----

// SetCooperativeLevel
constexpr DWORD DDSCL_FULLSCREEN = 0x1;
constexpr DWORD DDSCL_ALLOWREBOOT = 0x2;
constexpr DWORD DDSCL_NOWINDOWCHANGES = 0x4;
constexpr DWORD DDSCL_NORMAL = 0x8;
constexpr DWORD DDSCL_EXCLUSIVE = 0x10;
constexpr DWORD DDSCL_ALLOWMODEX = 0x40;
constexpr DWORD DDSCL_SETFOCUSWINDOW = 0x80;
constexpr DWORD DDSCL_SETDEVICEWINDOW = 0x100;
constexpr DWORD DDSCL_CREATEDEVICEWINDOW = 0x200;
constexpr DWORD DDSCL_MULTITHREADED = 0x400;
constexpr DWORD DDSCL_FPUSETUP = 0x800;
constexpr DWORD DDSCL_FPUPRESERVE = 0x1000;

// DDSURFACEDESC(2).dwFlags
constexpr DWORD DDSD_CAPS = 0x1;
constexpr DWORD DDSD_HEIGHT = 0x2;
constexpr DWORD DDSD_WIDTH = 0x4;
constexpr DWORD DDSD_PITCH = 0x8;
constexpr DWORD DDSD_BACKBUFFERCOUNT = 0x20;
constexpr DWORD DDSD_ZBUFFERBITDEPTH = 0x40;
constexpr DWORD DDSD_ALPHABITDEPTH = 0x80;
constexpr DWORD DDSD_LPSURFACE = 0x800;
constexpr DWORD DDSD_PIXELFORMAT = 0x1000;
constexpr DWORD DDSD_CKDESTOVERLAY = 0x2000;
constexpr DWORD DDSD_CKDESTBLT = 0x4000;
constexpr DWORD DDSD_CKSRCOVERLAY = 0x8000;
constexpr DWORD DDSD_CKSRCBLT = 0x10000;
constexpr DWORD DDSD_MIPMAPCOUNT = 0x20000;
constexpr DWORD DDSD_REFRESHRATE = 0x40000;
constexpr DWORD DDSD_LINEARSIZE = 0x80000;
constexpr DWORD DDSD_TEXTURESTAGE = 0x100000;
constexpr DWORD DDSD_FVF = 0x200000;
constexpr DWORD DDSD_SRCVBHANDLE = 0x400000;
constexpr DWORD DDSD_DEPTH = 0x800000;
constexpr DWORD DDSD_ALL = 0xFFF9EE;

// DDSCAPS(2).dwCaps
constexpr DWORD DDSCAPS_ALPHA = 0x2;
constexpr DWORD DDSCAPS_BACKBUFFER = 0x4;
constexpr DWORD DDSCAPS_COMPLEX = 0x8;
constexpr DWORD DDSCAPS_FLIP = 0x10;
constexpr DWORD DDSCAPS_FRONTBUFFER = 0x20;
constexpr DWORD DDSCAPS_OFFSCREENPLAIN = 0x40;
constexpr DWORD DDSCAPS_OVERLAY = 0x80;
constexpr DWORD DDSCAPS_PALETTE = 0x100;
constexpr DWORD DDSCAPS_PRIMARYSURFACE = 0x200;
constexpr DWORD DDSCAPS_SYSTEMMEMORY = 0x800;
constexpr DWORD DDSCAPS_TEXTURE = 0x1000;
constexpr DWORD DDSCAPS_3DDEVICE = 0x2000;
constexpr DWORD DDSCAPS_VIDEOMEMORY = 0x4000;
constexpr DWORD DDSCAPS_VISIBLE = 0x8000;
constexpr DWORD DDSCAPS_WRITEONLY = 0x10000;
constexpr DWORD DDSCAPS_ZBUFFER = 0x20000;
constexpr DWORD DDSCAPS_OWNDC = 0x40000;
constexpr DWORD DDSCAPS_MIPMAP = 0x400000;
constexpr DWORD DDSCAPS_LOCALVIDMEM = 0x10000000;
constexpr DWORD DDSCAPS_NONLOCALVIDMEM = 0x20000000;
// DDSCAPS2.dwCaps2
constexpr DWORD DDSCAPS2_TEXTUREMANAGE = 0x10;

// DDPIXELFORMAT.dwFlags
constexpr DWORD DDPF_ALPHAPIXELS = 0x1;
constexpr DWORD DDPF_ALPHA = 0x2;
constexpr DWORD DDPF_FOURCC = 0x4;
constexpr DWORD DDPF_PALETTEINDEXED4 = 0x8;
constexpr DWORD DDPF_PALETTEINDEXEDTO8 = 0x10;
constexpr DWORD DDPF_PALETTEINDEXED8 = 0x20;
constexpr DWORD DDPF_RGB = 0x40;
constexpr DWORD DDPF_ZBUFFER = 0x400;
constexpr DWORD DDPF_PALETTEINDEXED1 = 0x800;
constexpr DWORD DDPF_PALETTEINDEXED2 = 0x1000;
constexpr DWORD DDPF_STENCILBUFFER = 0x4000;
constexpr DWORD DDPF_LUMINANCE = 0x20000;

// DDCAPS.dwCaps and related capability words
constexpr DWORD DDCAPS_3D = 0x1;
constexpr DWORD DDCAPS_BLT = 0x40;
constexpr DWORD DDCAPS_BLTSTRETCH = 0x200;
constexpr DWORD DDCAPS_GDI = 0x400;
constexpr DWORD DDCAPS_PALETTE = 0x8000;
constexpr DWORD DDCAPS_COLORKEY = 0x400000;
constexpr DWORD DDCAPS_BLTCOLORFILL = 0x4000000;
constexpr DWORD DDCAPS_CANBLTSYSMEM = 0x80000000u;
constexpr DWORD DDCKEYCAPS_SRCBLT = 0x200;
constexpr DWORD DDCAPS2_PRIMARYGAMMA = 0x40000;  // dwCaps2: the primary surface has a gamma ramp
constexpr DWORD DDPCAPS_4BIT = 0x1;
constexpr DWORD DDPCAPS_8BITENTRIES = 0x2;
constexpr DWORD DDPCAPS_8BIT = 0x4;
constexpr DWORD DDPCAPS_INITIALIZE = 0x8;
constexpr DWORD DDPCAPS_PRIMARYSURFACE = 0x10;
constexpr DWORD DDPCAPS_ALLOW256 = 0x40;
constexpr DWORD DDPCAPS_1BIT = 0x100;
constexpr DWORD DDPCAPS_2BIT = 0x200;

// Blt / BltFast
constexpr DWORD DDBLT_COLORFILL = 0x400;
constexpr DWORD DDBLT_DDFX = 0x800;
constexpr DWORD DDBLT_KEYDEST = 0x2000;
constexpr DWORD DDBLT_KEYDESTOVERRIDE = 0x4000;
constexpr DWORD DDBLT_KEYSRC = 0x8000;
constexpr DWORD DDBLT_KEYSRCOVERRIDE = 0x10000;
constexpr DWORD DDBLT_ROP = 0x20000;
constexpr DWORD DDBLT_WAIT = 0x1000000;
constexpr DWORD DDBLT_DEPTHFILL = 0x2000000;
constexpr DWORD DDBLT_DONOTWAIT = 0x8000000;
constexpr DWORD DDBLTFAST_NOCOLORKEY = 0x0;
constexpr DWORD DDBLTFAST_SRCCOLORKEY = 0x1;
constexpr DWORD DDBLTFAST_DESTCOLORKEY = 0x2;
constexpr DWORD DDBLTFAST_WAIT = 0x10;
constexpr DWORD DDBLTFAST_DONOTWAIT = 0x20;
constexpr DWORD SRCCOPY_ROP = 0x00CC0020;  // the GDI copy raster operation, for DDBLT_ROP

// SetColorKey / GetColorKey
constexpr DWORD DDCKEY_COLORSPACE = 0x1;
constexpr DWORD DDCKEY_DESTBLT = 0x2;
constexpr DWORD DDCKEY_DESTOVERLAY = 0x4;
constexpr DWORD DDCKEY_SRCBLT = 0x8;
constexpr DWORD DDCKEY_SRCOVERLAY = 0x10;

// Lock
constexpr DWORD DDLOCK_SURFACEMEMORYPTR = 0x0;
constexpr DWORD DDLOCK_WAIT = 0x1;
constexpr DWORD DDLOCK_READONLY = 0x10;
constexpr DWORD DDLOCK_WRITEONLY = 0x20;
constexpr DWORD DDLOCK_NOSYSLOCK = 0x800;
constexpr DWORD DDLOCK_DONOTWAIT = 0x4000;

// WaitForVerticalBlank
constexpr DWORD DDWAITVB_BLOCKBEGIN = 0x1;
constexpr DWORD DDWAITVB_BLOCKBEGINEVENT = 0x2;
constexpr DWORD DDWAITVB_BLOCKEND = 0x4;

// EnumDisplayModes
constexpr DWORD DDEDM_REFRESHRATES = 0x1;
constexpr DWORD DDEDM_STANDARDVGAMODES = 0x2;

// Bit-depth flags (render target and depth buffer depths of a device)
constexpr DWORD DDBD_1 = 0x4000;
constexpr DWORD DDBD_2 = 0x2000;
constexpr DWORD DDBD_4 = 0x1000;
constexpr DWORD DDBD_8 = 0x800;
constexpr DWORD DDBD_16 = 0x400;
constexpr DWORD DDBD_24 = 0x200;
constexpr DWORD DDBD_32 = 0x100;

// D3DDEVICEDESC7.dwDevCaps
constexpr DWORD D3DDEVCAPS_FLOATTLVERTEX = 0x1;
constexpr DWORD D3DDEVCAPS_EXECUTESYSTEMMEMORY = 0x10;
constexpr DWORD D3DDEVCAPS_EXECUTEVIDEOMEMORY = 0x20;
constexpr DWORD D3DDEVCAPS_TLVERTEXSYSTEMMEMORY = 0x40;
constexpr DWORD D3DDEVCAPS_TLVERTEXVIDEOMEMORY = 0x80;
constexpr DWORD D3DDEVCAPS_TEXTURESYSTEMMEMORY = 0x100;
constexpr DWORD D3DDEVCAPS_TEXTUREVIDEOMEMORY = 0x200;
constexpr DWORD D3DDEVCAPS_DRAWPRIMTLVERTEX = 0x400;
constexpr DWORD D3DDEVCAPS_CANRENDERAFTERFLIP = 0x800;
constexpr DWORD D3DDEVCAPS_TEXTURENONLOCALVIDMEM = 0x1000;
constexpr DWORD D3DDEVCAPS_DRAWPRIMITIVES2 = 0x2000;
constexpr DWORD D3DDEVCAPS_SEPARATETEXTUREMEMORIES = 0x4000;
constexpr DWORD D3DDEVCAPS_DRAWPRIMITIVES2EX = 0x8000;
constexpr DWORD D3DDEVCAPS_HWTRANSFORMANDLIGHT = 0x10000;
constexpr DWORD D3DDEVCAPS_CANBLTSYSTONONLOCAL = 0x20000;
constexpr DWORD D3DDEVCAPS_HWRASTERIZATION = 0x80000;

// D3DPRIMCAPS words
constexpr DWORD D3DPTEXTURECAPS_PERSPECTIVE = 0x1;
constexpr DWORD D3DPTEXTURECAPS_POW2 = 0x2;
constexpr DWORD D3DPTEXTURECAPS_ALPHA = 0x4;
constexpr DWORD D3DPTEXTURECAPS_TRANSPARENCY = 0x8;  // colour-keyed textures
constexpr DWORD D3DPTEXTURECAPS_BORDER = 0x10;
constexpr DWORD D3DPTEXTURECAPS_SQUAREONLY = 0x20;
constexpr DWORD D3DPTFILTERCAPS_NEAREST = 0x1;
constexpr DWORD D3DPTFILTERCAPS_LINEAR = 0x2;
constexpr DWORD D3DPTFILTERCAPS_MINFPOINT = 0x100;
constexpr DWORD D3DPTFILTERCAPS_MINFLINEAR = 0x200;
constexpr DWORD D3DPTFILTERCAPS_MAGFPOINT = 0x1000000;
constexpr DWORD D3DPTFILTERCAPS_MAGFLINEAR = 0x2000000;
constexpr DWORD D3DPBLENDCAPS_ZERO = 0x1;
constexpr DWORD D3DPBLENDCAPS_ONE = 0x2;
constexpr DWORD D3DPBLENDCAPS_SRCCOLOR = 0x4;
constexpr DWORD D3DPBLENDCAPS_INVSRCCOLOR = 0x8;
constexpr DWORD D3DPBLENDCAPS_SRCALPHA = 0x10;
constexpr DWORD D3DPBLENDCAPS_INVSRCALPHA = 0x20;
constexpr DWORD D3DPBLENDCAPS_DESTALPHA = 0x40;
constexpr DWORD D3DPBLENDCAPS_INVDESTALPHA = 0x80;
constexpr DWORD D3DPBLENDCAPS_DESTCOLOR = 0x100;
constexpr DWORD D3DPBLENDCAPS_INVDESTCOLOR = 0x200;
constexpr DWORD D3DPBLENDCAPS_SRCALPHASAT = 0x400;
constexpr DWORD D3DPTADDRESSCAPS_WRAP = 0x1;
constexpr DWORD D3DPTADDRESSCAPS_MIRROR = 0x2;
constexpr DWORD D3DPTADDRESSCAPS_CLAMP = 0x4;
constexpr DWORD D3DPTADDRESSCAPS_BORDER = 0x8;
constexpr DWORD D3DPSHADECAPS_COLORGOURAUDRGB = 0x8;
constexpr DWORD D3DPSHADECAPS_ALPHAGOURAUDBLEND = 0x4000;
constexpr DWORD D3DPRASTERCAPS_SUBPIXEL = 0x20;
constexpr DWORD D3DPMISCCAPS_CULLNONE = 0x10;
constexpr DWORD D3DPMISCCAPS_CULLCW = 0x20;
constexpr DWORD D3DPMISCCAPS_CULLCCW = 0x40;
constexpr DWORD D3DPCMPCAPS_ALWAYS = 0x80;
constexpr DWORD D3DTEXOPCAPS_DISABLE = 0x1;
constexpr DWORD D3DTEXOPCAPS_SELECTARG1 = 0x2;
constexpr DWORD D3DTEXOPCAPS_SELECTARG2 = 0x4;
constexpr DWORD D3DTEXOPCAPS_MODULATE = 0x8;
constexpr DWORD D3DTEXOPCAPS_MODULATE2X = 0x10;
constexpr DWORD D3DTEXOPCAPS_MODULATE4X = 0x20;
constexpr DWORD D3DTEXOPCAPS_ADD = 0x40;
constexpr DWORD D3DTEXOPCAPS_ADDSIGNED = 0x80;
constexpr DWORD D3DTEXOPCAPS_SUBTRACT = 0x200;
constexpr DWORD D3DTEXOPCAPS_BLENDDIFFUSEALPHA = 0x800;
constexpr DWORD D3DTEXOPCAPS_BLENDTEXTUREALPHA = 0x1000;
constexpr DWORD D3DFVFCAPS_TEXCOORDCOUNTMASK = 0xFFFF;

// Flexible vertex format bits
constexpr DWORD D3DFVF_XYZ = 0x002;
constexpr DWORD D3DFVF_XYZRHW = 0x004;
constexpr DWORD D3DFVF_POSITION_MASK = 0x00E;
constexpr DWORD D3DFVF_NORMAL = 0x010;
constexpr DWORD D3DFVF_RESERVED1 = 0x020;
constexpr DWORD D3DFVF_DIFFUSE = 0x040;
constexpr DWORD D3DFVF_SPECULAR = 0x080;
constexpr DWORD D3DFVF_TEXCOUNT_MASK = 0xF00;
constexpr DWORD D3DFVF_TEXCOUNT_SHIFT = 8;
constexpr DWORD D3DFVF_TEX0 = 0x000;
constexpr DWORD D3DFVF_TEX1 = 0x100;
constexpr DWORD D3DFVF_TEX2 = 0x200;
constexpr DWORD D3DFVF_TLVERTEX = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1;  // 0x1C4
constexpr DWORD D3DFVF_LVERTEX =
    D3DFVF_XYZ | D3DFVF_RESERVED1 | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1;

// DrawPrimitive flags
constexpr DWORD D3DDP_WAIT = 0x1;
constexpr DWORD D3DDP_DONOTCLIP = 0x4;
constexpr DWORD D3DDP_DONOTUPDATEEXTENTS = 0x8;
constexpr DWORD D3DDP_DONOTLIGHT = 0x10;

enum D3DPRIMITIVETYPE : DWORD {
  D3DPT_POINTLIST = 1,
  D3DPT_LINELIST = 2,
  D3DPT_LINESTRIP = 3,
  D3DPT_TRIANGLELIST = 4,
  D3DPT_TRIANGLESTRIP = 5,
  D3DPT_TRIANGLEFAN = 6,
};

enum D3DRENDERSTATETYPE : DWORD {
  D3DRENDERSTATE_ANTIALIAS = 2,
  D3DRENDERSTATE_TEXTUREPERSPECTIVE = 4,
  D3DRENDERSTATE_ZENABLE = 7,
  D3DRENDERSTATE_FILLMODE = 8,
  D3DRENDERSTATE_SHADEMODE = 9,
  D3DRENDERSTATE_LINEPATTERN = 10,
  D3DRENDERSTATE_ZWRITEENABLE = 14,
  D3DRENDERSTATE_ALPHATESTENABLE = 15,
  D3DRENDERSTATE_LASTPIXEL = 16,
  D3DRENDERSTATE_SRCBLEND = 19,
  D3DRENDERSTATE_DESTBLEND = 20,
  D3DRENDERSTATE_CULLMODE = 22,
  D3DRENDERSTATE_ZFUNC = 23,
  D3DRENDERSTATE_ALPHAREF = 24,
  D3DRENDERSTATE_ALPHAFUNC = 25,
  D3DRENDERSTATE_DITHERENABLE = 26,
  D3DRENDERSTATE_ALPHABLENDENABLE = 27,
  D3DRENDERSTATE_FOGENABLE = 28,
  D3DRENDERSTATE_SPECULARENABLE = 29,
  D3DRENDERSTATE_ZVISIBLE = 30,
  D3DRENDERSTATE_STIPPLEDALPHA = 33,
  D3DRENDERSTATE_FOGCOLOR = 34,
  D3DRENDERSTATE_FOGTABLEMODE = 35,
  D3DRENDERSTATE_EDGEANTIALIAS = 40,
  D3DRENDERSTATE_COLORKEYENABLE = 41,
  D3DRENDERSTATE_ZBIAS = 47,
  D3DRENDERSTATE_RANGEFOGENABLE = 48,
  D3DRENDERSTATE_STENCILENABLE = 52,
  D3DRENDERSTATE_TEXTUREFACTOR = 60,
  D3DRENDERSTATE_WRAP0 = 128,
  D3DRENDERSTATE_CLIPPING = 136,
  D3DRENDERSTATE_LIGHTING = 137,
  D3DRENDERSTATE_EXTENTS = 138,
  D3DRENDERSTATE_AMBIENT = 139,
  D3DRENDERSTATE_FOGVERTEXMODE = 140,
  D3DRENDERSTATE_COLORVERTEX = 141,
  D3DRENDERSTATE_LOCALVIEWER = 142,
  D3DRENDERSTATE_NORMALIZENORMALS = 143,
  D3DRENDERSTATE_COLORKEYBLENDENABLE = 144,
  D3DRENDERSTATE_DIFFUSEMATERIALSOURCE = 145,
  D3DRENDERSTATE_SPECULARMATERIALSOURCE = 146,
  D3DRENDERSTATE_AMBIENTMATERIALSOURCE = 147,
  D3DRENDERSTATE_EMISSIVEMATERIALSOURCE = 148,
  D3DRENDERSTATE_VERTEXBLEND = 151,
  D3DRENDERSTATE_CLIPPLANEENABLE = 152,
};
constexpr DWORD D3DRENDERSTATE_COUNT = 256;  // states are numbered below this

enum D3DTEXTURESTAGESTATETYPE : DWORD {
  D3DTSS_COLOROP = 1,
  D3DTSS_COLORARG1 = 2,
  D3DTSS_COLORARG2 = 3,
  D3DTSS_ALPHAOP = 4,
  D3DTSS_ALPHAARG1 = 5,
  D3DTSS_ALPHAARG2 = 6,
  D3DTSS_BUMPENVMAT00 = 7,
  D3DTSS_BUMPENVMAT01 = 8,
  D3DTSS_BUMPENVMAT10 = 9,
  D3DTSS_BUMPENVMAT11 = 10,
  D3DTSS_TEXCOORDINDEX = 11,
  D3DTSS_ADDRESS = 12,
  D3DTSS_ADDRESSU = 13,
  D3DTSS_ADDRESSV = 14,
  D3DTSS_BORDERCOLOR = 15,
  D3DTSS_MAGFILTER = 16,
  D3DTSS_MINFILTER = 17,
  D3DTSS_MIPFILTER = 18,
  D3DTSS_MIPMAPLODBIAS = 19,
  D3DTSS_MAXMIPLEVEL = 20,
  D3DTSS_MAXANISOTROPY = 21,
  D3DTSS_BUMPENVLSCALE = 22,
  D3DTSS_BUMPENVLOFFSET = 23,
  D3DTSS_TEXTURETRANSFORMFLAGS = 24,
};
constexpr DWORD D3DTSS_COUNT = 25;
constexpr DWORD D3DMAXTEXTURESTAGES = 8;

// Texture stage operations and arguments
enum D3DTEXTUREOP : DWORD {
  D3DTOP_DISABLE = 1,
  D3DTOP_SELECTARG1 = 2,
  D3DTOP_SELECTARG2 = 3,
  D3DTOP_MODULATE = 4,
  D3DTOP_MODULATE2X = 5,
  D3DTOP_MODULATE4X = 6,
  D3DTOP_ADD = 7,
  D3DTOP_ADDSIGNED = 8,
  D3DTOP_ADDSIGNED2X = 9,
  D3DTOP_SUBTRACT = 10,
  D3DTOP_ADDSMOOTH = 11,
  D3DTOP_BLENDDIFFUSEALPHA = 12,
  D3DTOP_BLENDTEXTUREALPHA = 13,
  D3DTOP_BLENDFACTORALPHA = 14,
  D3DTOP_BLENDTEXTUREALPHAPM = 15,
  D3DTOP_BLENDCURRENTALPHA = 16,
};
constexpr DWORD D3DTA_SELECTMASK = 0x0F;
constexpr DWORD D3DTA_DIFFUSE = 0x00;
constexpr DWORD D3DTA_CURRENT = 0x01;
constexpr DWORD D3DTA_TEXTURE = 0x02;
constexpr DWORD D3DTA_TFACTOR = 0x03;
constexpr DWORD D3DTA_SPECULAR = 0x04;
constexpr DWORD D3DTA_COMPLEMENT = 0x10;
constexpr DWORD D3DTA_ALPHAREPLICATE = 0x20;

// Texture filters: magnification (D3DTFG_), minification (D3DTFN_), mipmap (D3DTFP_)
enum D3DTEXTUREMAGFILTER : DWORD {
  D3DTFG_POINT = 1,
  D3DTFG_LINEAR = 2,
  D3DTFG_FLATCUBIC = 3,
  D3DTFG_GAUSSIANCUBIC = 4,
  D3DTFG_ANISOTROPIC = 5,
};
enum D3DTEXTUREMINFILTER : DWORD {
  D3DTFN_POINT = 1,
  D3DTFN_LINEAR = 2,
  D3DTFN_ANISOTROPIC = 3,
};
enum D3DTEXTUREMIPFILTER : DWORD {
  D3DTFP_NONE = 1,
  D3DTFP_POINT = 2,
  D3DTFP_LINEAR = 3,
};
enum D3DTEXTUREADDRESS : DWORD {
  D3DTADDRESS_WRAP = 1,
  D3DTADDRESS_MIRROR = 2,
  D3DTADDRESS_CLAMP = 3,
  D3DTADDRESS_BORDER = 4,
};

// Blend factors (D3DRENDERSTATE_SRCBLEND / DESTBLEND)
enum D3DBLEND : DWORD {
  D3DBLEND_ZERO = 1,
  D3DBLEND_ONE = 2,
  D3DBLEND_SRCCOLOR = 3,
  D3DBLEND_INVSRCCOLOR = 4,
  D3DBLEND_SRCALPHA = 5,
  D3DBLEND_INVSRCALPHA = 6,
  D3DBLEND_DESTALPHA = 7,
  D3DBLEND_INVDESTALPHA = 8,
  D3DBLEND_DESTCOLOR = 9,
  D3DBLEND_INVDESTCOLOR = 10,
  D3DBLEND_SRCALPHASAT = 11,
  D3DBLEND_BOTHSRCALPHA = 12,
  D3DBLEND_BOTHINVSRCALPHA = 13,
};

enum D3DCULL : DWORD { D3DCULL_NONE = 1, D3DCULL_CW = 2, D3DCULL_CCW = 3 };
enum D3DSHADEMODE : DWORD { D3DSHADE_FLAT = 1, D3DSHADE_GOURAUD = 2, D3DSHADE_PHONG = 3 };
enum D3DFILLMODE : DWORD { D3DFILL_POINT = 1, D3DFILL_WIREFRAME = 2, D3DFILL_SOLID = 3 };
enum D3DZBUFFERTYPE : DWORD { D3DZB_FALSE = 0, D3DZB_TRUE = 1, D3DZB_USEW = 2 };
enum D3DCMPFUNC : DWORD {
  D3DCMP_NEVER = 1,
  D3DCMP_LESS = 2,
  D3DCMP_EQUAL = 3,
  D3DCMP_LESSEQUAL = 4,
  D3DCMP_GREATER = 5,
  D3DCMP_NOTEQUAL = 6,
  D3DCMP_GREATEREQUAL = 7,
  D3DCMP_ALWAYS = 8,
};

// Clear
constexpr DWORD D3DCLEAR_TARGET = 0x1;
constexpr DWORD D3DCLEAR_ZBUFFER = 0x2;
constexpr DWORD D3DCLEAR_STENCIL = 0x4;

struct D3DRECT {
  LONG x1, y1, x2, y2;
};

// ---- Interfaces ----

// Reference counting as in COM: every object starts with one reference for its creator; an out-parameter
// (QueryInterface, Create..., Get...) carries a new reference the caller releases. The object deletes itself
// when the last reference goes.
class IUnknown {
 public:
  virtual HRESULT QueryInterface(REFIID iid, void** out) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};

class IDirectDrawSurface7;
class IDirectDrawClipper;
class IDirectDrawPalette;

using LPDDENUMMODESCALLBACK2 = HRESULT (*)(DDSURFACEDESC2* mode, void* context);
using LPD3DENUMDEVICESCALLBACK7 = HRESULT (*)(char* description, char* name, D3DDEVICEDESC7* desc,
                                              void* context);
using LPD3DENUMPIXELFORMATSCALLBACK = HRESULT (*)(DDPIXELFORMAT* format, void* context);

class IDirectDraw7 : public IUnknown {
 public:
  // Either block may be null; each one given must have dwSize = sizeof(DDCAPS).
  virtual HRESULT GetCaps(DDCAPS* driverCaps, DDCAPS* helCaps) = 0;
  virtual HRESULT SetCooperativeLevel(HWND window, DWORD flags) = 0;
  // desc: a DDSURFACEDESC2 or DDSURFACEDESC (by dwSize). outer must be null.
  virtual HRESULT CreateSurface(DDSURFACEDESC2* desc, IDirectDrawSurface7** out, IUnknown* outer) = 0;
  virtual HRESULT CreateClipper(DWORD flags, IDirectDrawClipper** out, IUnknown* outer) = 0;
  // flags: DDPCAPS_*; entries holds as many entries as the flags' bit depth names (256 for DDPCAPS_8BIT).
  virtual HRESULT CreatePalette(DWORD flags, const PALETTEENTRY* entries, IDirectDrawPalette** out,
                                IUnknown* outer) = 0;
  virtual HRESULT WaitForVerticalBlank(DWORD flags, HANDLE event) = 0;
  virtual HRESULT GetDisplayMode(DDSURFACEDESC2* desc) = 0;
  virtual HRESULT EnumDisplayModes(DWORD flags, DDSURFACEDESC2* filter, void* context,
                                   LPDDENUMMODESCALLBACK2 callback) = 0;
  virtual HRESULT GetAvailableVidMem(DDSCAPS2* caps, DWORD* total, DWORD* free) = 0;
  virtual HRESULT RestoreAllSurfaces() = 0;
  virtual HRESULT FlipToGDISurface() = 0;
  virtual HRESULT TestCooperativeLevel() = 0;
};

class IDirectDrawSurface7 : public IUnknown {
 public:
  virtual HRESULT GetSurfaceDesc(DDSURFACEDESC2* desc) = 0;
  virtual HRESULT GetCaps(DDSCAPS2* caps) = 0;
  virtual HRESULT GetPixelFormat(DDPIXELFORMAT* format) = 0;
  // dstRect / srcRect null: the whole surface. flags: DDBLT_*.
  virtual HRESULT Blt(const RECT* dstRect, IDirectDrawSurface7* src, const RECT* srcRect, DWORD flags,
                      DDBLTFX* fx) = 0;
  // Unscaled copy to (x, y); flags: DDBLTFAST_*. Fails on a surface with a clipper.
  virtual HRESULT BltFast(DWORD x, DWORD y, IDirectDrawSurface7* src, const RECT* srcRect, DWORD flags) = 0;
  virtual HRESULT SetClipper(IDirectDrawClipper* clipper) = 0;
  virtual HRESULT GetClipper(IDirectDrawClipper** out) = 0;
  virtual HRESULT SetPalette(IDirectDrawPalette* palette) = 0;
  virtual HRESULT GetPalette(IDirectDrawPalette** out) = 0;
  // flags: one DDCKEY_*; key null removes that key.
  virtual HRESULT SetColorKey(DWORD flags, DDCOLORKEY* key) = 0;
  virtual HRESULT GetColorKey(DWORD flags, DDCOLORKEY* key) = 0;
  // A GDI device context over the surface's own pixels, until ReleaseDC.
  virtual HRESULT GetDC(HDC* dc) = 0;
  virtual HRESULT ReleaseDC(HDC dc) = 0;
  // rect null: the whole surface. Fills desc (lpSurface, lPitch, size, pixel format) until Unlock.
  virtual HRESULT Lock(RECT* rect, DDSURFACEDESC2* desc, DWORD flags, HANDLE event) = 0;
  virtual HRESULT Unlock(RECT* rect) = 0;
  // DD_OK, or DDERR_SURFACELOST while the surface's memory is gone.
  virtual HRESULT IsLost() = 0;
  virtual HRESULT Restore() = 0;
  virtual HRESULT AddAttachedSurface(IDirectDrawSurface7* attach) = 0;
  // attached null: detach every attached surface.
  virtual HRESULT DeleteAttachedSurface(DWORD flags, IDirectDrawSurface7* attached) = 0;
  virtual HRESULT GetAttachedSurface(DDSCAPS2* caps, IDirectDrawSurface7** out) = 0;
  virtual HRESULT Flip(IDirectDrawSurface7* target, DWORD flags) = 0;
};

class IDirectDrawClipper : public IUnknown {
 public:
  // flags must be 0. The clip region is the window's visible client rectangle on the screen.
  virtual HRESULT SetHWnd(DWORD flags, HWND window) = 0;
  virtual HRESULT GetHWnd(HWND* window) = 0;
};

class IDirectDrawPalette : public IUnknown {
 public:
  virtual HRESULT GetCaps(DWORD* caps) = 0;
  virtual HRESULT SetEntries(DWORD flags, DWORD start, DWORD count, const PALETTEENTRY* entries) = 0;
  virtual HRESULT GetEntries(DWORD flags, DWORD start, DWORD count, PALETTEENTRY* entries) = 0;
};

class IDirect3DDevice7;

class IDirect3D7 : public IUnknown {
 public:
  virtual HRESULT EnumDevices(LPD3DENUMDEVICESCALLBACK7 callback, void* context) = 0;
  virtual HRESULT CreateDevice(REFCLSID device, IDirectDrawSurface7* target, IDirect3DDevice7** out) = 0;
  virtual HRESULT EnumZBufferFormats(REFCLSID device, LPD3DENUMPIXELFORMATSCALLBACK callback,
                                     void* context) = 0;
  virtual HRESULT EvictManagedTextures() = 0;
};

class IDirect3DDevice7 : public IUnknown {
 public:
  virtual HRESULT GetCaps(D3DDEVICEDESC7* desc) = 0;
  virtual HRESULT EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) = 0;
  virtual HRESULT BeginScene() = 0;
  virtual HRESULT EndScene() = 0;
  virtual HRESULT GetDirect3D(IDirect3D7** out) = 0;
  virtual HRESULT SetRenderTarget(IDirectDrawSurface7* target, DWORD flags) = 0;
  virtual HRESULT GetRenderTarget(IDirectDrawSurface7** out) = 0;
  // count rectangles (count 0 with rects null: the whole target); flags D3DCLEAR_*.
  virtual HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, D3DVALUE z,
                        DWORD stencil) = 0;
  virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
  virtual HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) = 0;
  virtual HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value) = 0;
  virtual HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD* value) = 0;
  // texture null unbinds the stage.
  virtual HRESULT SetTexture(DWORD stage, IDirectDrawSurface7* texture) = 0;
  virtual HRESULT GetTexture(DWORD stage, IDirectDrawSurface7** out) = 0;
  // fvf: D3DFVF_* layout of the vertices (pre-transformed ones only: D3DFVF_XYZRHW). flags: D3DDP_*.
  virtual HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, const void* vertices, DWORD count,
                                DWORD flags) = 0;
};

// ---- The library ----

// "DDraw.dll"'s creation entry points, as GetProcAddress returns them (cast from FARPROC).
// DirectDrawCreateEx: guid null = the default display driver; iid must be IID_IDirectDraw7; outer null.
using PFN_DirectDrawCreateEx = HRESULT (*)(GUID* guid, void** out, REFIID iid, IUnknown* outer);
using PFN_DirectDrawCreate = HRESULT (*)(GUID* guid, IDirectDraw7** out, IUnknown* outer);

// The service: run-time loading of the DirectDraw library. A library is found by file name without regard
// to case; each successful LoadLibraryA takes a reference that FreeLibrary drops.
class DirectDrawSystem {
 public:
  virtual ~DirectDrawSystem() = default;
  // Null when the library cannot be loaded (GetLastError-style detail is not kept).
  virtual HMODULE LoadLibraryA(const char* fileName) = 0;
  // Null when the module has no such entry point.
  virtual FARPROC GetProcAddress(HMODULE module, const char* procName) = 0;
  virtual BOOL FreeLibrary(HMODULE module) = 0;
};

// Releases a COM reference and clears the pointer (no-op for null).
template <class T>
inline void SafeRelease(T*& p) {
  if (p) {
    p->Release();
    p = nullptr;
  }
}

}  // namespace plat
