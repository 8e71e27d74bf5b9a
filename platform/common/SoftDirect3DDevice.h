// The soft Direct3D device: its states and textures (SoftDirect3D.cpp), the general rasteriser
// (SoftDirect3DRaster.cpp) and the fast path for the renderer's quad (SoftDirect3DQuad.cpp).
#pragma once

#include <vector>

#include "platform/common/SoftDirect3DQuad.h"

namespace plat::soft::dd {

struct DeviceInfo;
class Direct3DImpl;

class DeviceImpl final : public RefCounted<IDirect3DDevice7> {
 public:
  DeviceImpl(State* s, Direct3DImpl* d3d, const DeviceInfo& info, SurfaceImpl* target);
  HRESULT QueryInterface(REFIID iid, void** out) override;
  HRESULT GetCaps(D3DDEVICEDESC7* desc) override;
  HRESULT EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) override;
  HRESULT BeginScene() override;
  HRESULT EndScene() override;
  HRESULT GetDirect3D(IDirect3D7** out) override;
  HRESULT SetRenderTarget(IDirectDrawSurface7* target, DWORD flags) override;
  HRESULT GetRenderTarget(IDirectDrawSurface7** out) override;
  HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, D3DVALUE z,
                DWORD stencil) override;
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
  HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value) override;
  HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD* value) override;
  HRESULT SetTexture(DWORD stage, IDirectDrawSurface7* texture) override;
  HRESULT GetTexture(DWORD stage, IDirectDrawSurface7** out) override;
  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, const void* vertices, DWORD count,
                        DWORD flags) override;

 private:
  ~DeviceImpl() override;
  void ResetStates();
  int ActiveStages() const;
  bool PrepareSamplers(int stages);

  // The general rasteriser.
  void SetupTriangle(const Vertex& a, const Vertex& b, const Vertex& c, double det, int stages, Triangle& t);
  void DrawTriangle(const Vertex* a, const Vertex* b, const Vertex* c, bool odd, int stages);
  DWORD Shade(const Triangle& t, double px, double py, int stages, bool& discard);
  void WritePixel(std::uint8_t* p, DWORD src);

  // The fast path: true when it drew the quad (strip v[0..3]).
  bool TryFastQuad(const Vertex* v, int stages);
  // Whether the states, the texture and the vertices are the fast path's; then the source colour and how
  // it reaches the target (all but the quad's pixels).
  bool PlanFastQuad(const Vertex* v, int stages, QuadPlan& plan) const;
  // The quad's two triangles as the general path sets them up, if it is an axis-aligned rectangle mapped
  // without rotation.
  bool FastQuadTriangles(const Vertex* v, QuadTriangle& t1, QuadTriangle& t2) const;
  void SetupQuadTriangle(const Vertex& a, const Vertex& b, const Vertex& c, double det,
                         QuadTriangle& t) const;

  Direct3DImpl* d3d_;
  const DeviceInfo& info_;
  SurfaceImpl* target_;
  SurfaceImpl* textures_[D3DMAXTEXTURESTAGES] = {};
  Sampler samplers_[D3DMAXTEXTURESTAGES];
  DWORD rs_[D3DRENDERSTATE_COUNT] = {};
  DWORD tss_[D3DMAXTEXTURESTAGES][D3DTSS_COUNT] = {};
  bool inScene_ = false;
  std::vector<Vertex> vertices_;  // DrawPrimitive's, kept between draws
  QuadCache quads_;
  QuadScratch scratch_;
};

}  // namespace plat::soft::dd
