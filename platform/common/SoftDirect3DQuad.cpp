// The soft Direct3D device's fast path for the renderer's quad: a strip TL, TR, BL, BR of an axis-aligned
// rectangle with affine texture coordinates, one texture stage with texture and constant diffuse, blending
// off or by source alpha, a 32-bit target. It sets up the same two triangles as the general path and
// evaluates the same expressions, a row of texel addresses and a column of them per quad instead of per
// pixel, so both give the same pixels.
#include <cmath>
#include <cstring>

#include "platform/common/SoftDirect3DDevice.h"

namespace plat::soft::dd {

namespace {

// Each result is the texel (1), the diffuse colour (2), or their product (3); false for anything else.
bool StageMode(DWORD op, DWORD a1, DWORD a2, int& out) {
  auto source = [](DWORD arg) {
    return arg == D3DTA_TEXTURE ? 1 : (arg == D3DTA_DIFFUSE || arg == D3DTA_CURRENT ? 2 : 0);
  };
  const int s1 = source(a1), s2 = source(a2);
  if (!s1 || !s2) return false;
  if (op == D3DTOP_SELECTARG1)
    out = s1;
  else if (op == D3DTOP_SELECTARG2)
    out = s2;
  else if (op == D3DTOP_MODULATE)
    out = s1 == s2 ? (s1 == 1 ? 4 : 5) : 3;  // 3: texel x diffuse; 4: texel squared; 5: diffuse squared
  else
    return false;
  return out <= 3;
}

// The source colour of a texel and its diffuse colour, and how it lands on the target.
void PlanShading(int colorMode, int alphaMode, DWORD diffuse, bool srcAlpha, const Sampler& sm,
                 const SurfaceImpl& target, QuadPlan& plan) {
  FastShade& shade = plan.shade;
  shade.colorMode = colorMode;
  shade.alphaMode = alphaMode;
  shade.dif = Unpack(diffuse);
  // Products with 255 or 0 are exact, so they reduce to selections.
  if (shade.colorMode == 3 && (diffuse & 0xFFFFFFu) == 0xFFFFFFu) shade.colorMode = 1;
  if (shade.colorMode == 3 && (diffuse & 0xFFFFFFu) == 0) shade.colorMode = 2;
  if (shade.alphaMode == 3 && (diffuse >> 24) == 255) shade.alphaMode = 1;
  if (shade.alphaMode == 3 && (diffuse >> 24) == 0) shade.alphaMode = 2;
  shade.srcAlpha = srcAlpha;
  shade.targetAlpha = target.format.a != 0;
  // Stored without blending on a target without alpha, the source alpha is never seen.
  if (!shade.srcAlpha && !shade.targetAlpha) shade.alphaMode = 1;
  plan.plainTexel = shade.colorMode == 1 && shade.alphaMode == 1;
  // A texture without alpha is opaque: blending by its alpha is then a plain store.
  plan.blendSpans = shade.srcAlpha && !(plan.plainTexel && sm.opaqueMask);
  plan.keep = shade.targetAlpha ? 0xFFFFFFFFu : 0x00FFFFFFu;
  plan.bytes = target.format.bpp / 8;
  // Plain texel colours stored without blending go straight to a 32-bit target.
  plan.direct = plan.plainTexel && !plan.blendSpans && plan.bytes == 4;
  // Sampled texels: an opaque format's are alpha 255 (the bilinear mean of 255s is 255 too); stored
  // directly they also take the target's alpha rule.
  plan.outSet = sm.opaqueMask;
  plan.outKeep = plan.direct ? plan.keep : 0xFFFFFFFFu;
}

// One row of a quad as its spans see it: the source rows each triangle reads there and the first column of
// the second triangle.
struct QuadRow {
  int y;
  Tap taps[2];
  int split;
};

// What the vertical sums in the scratch hold: source rows `row` for the columns of the triangles in `cover`
// (bit 0 the first triangle's, bit 1 the second's).
struct HeldSums {
  Tap row{~std::size_t(0), 0, -1};
  unsigned cover = 0;
};

// The triangles' column taps (both the same object when they share them) and what the spans need.
struct QuadSpans {
  const QuadPlan& plan;
  const Sampler& sm;
  SurfaceImpl& target;
  QuadScratch& scratch;
  const SpanColumns* columns[2];
  int wide;
};

// Makes the scratch hold the vertical sums of the source rows span k reads, over the texture columns it
// reaches: once per source row pair, and for the second triangle's span too where it reads the same rows.
void HoldSums(const QuadSpans& q, const QuadRow& row, int k, HeldSums& held) {
  const Sampler& sm = q.sm;
  const SpanColumns& c = *q.columns[k];
  const Tap& r = row.taps[k];
  const unsigned bit = q.columns[k] == q.columns[0] ? 1u : 2u;
  const bool sameRow = r.off0 == held.row.off0 && r.off1 == held.row.off1 && r.f == held.row.f;
  if (sameRow && (held.cover & bit)) return;
  const std::vector<ColumnRange>* ranges = &c.ranges;
  unsigned cover = bit;
  // Covering the second triangle's columns too lets its span of this row reuse the sums.
  const Tap& o = row.taps[1];
  if (k == 0 && bit == 1 && q.columns[1] != q.columns[0] && row.split < q.plan.xe && o.off0 == r.off0 &&
      o.off1 == r.off1 && o.f == r.f) {
    UniteRanges(c.ranges, q.columns[1]->ranges, q.scratch.ranges);
    ranges = &q.scratch.ranges;
    cover = 3;
  } else if (k == 0 && q.columns[1] == q.columns[0]) {
    cover = 3;
  }
  const std::size_t next = r.off1 + sm.pitch < std::size_t(sm.h) * sm.pitch ? r.off1 + sm.pitch : r.off1;
  for (const ColumnRange& cr : *ranges) {
    const std::size_t byte = 4 * std::size_t(cr.low);
    VerticalLanes(sm.bits + r.off0 + byte, sm.bits + r.off1 + byte, sm.bits + next + byte,
                  q.scratch.sums.data() + byte, 4 * std::size_t(cr.high - cr.low + 1), r.f, q.wide);
  }
  held.cover = sameRow ? held.cover | cover : cover;
  held.row = r;
}

// Pixels [from, to) of a row, all of triangle k: sampled, shaded and stored or blended.
void DrawSpan(const QuadSpans& q, const QuadRow& row, int k, int from, int to, HeldSums& held) {
  const QuadPlan& plan = q.plan;
  const Sampler& sm = q.sm;
  const SpanColumns& c = *q.columns[k];
  const Tap& r = row.taps[k];
  const std::size_t first = std::size_t(from - plan.xs), n = std::size_t(to - from);
  const Tap* taps = c.taps.data() + first;
  std::uint8_t* dst = q.target.Row(row.y) + std::size_t(from) * std::size_t(plan.bytes);
  std::uint8_t* scratch = reinterpret_cast<std::uint8_t*>(q.scratch.texels.data());
  std::uint8_t* out = plan.direct ? dst : scratch;
  const std::uint8_t* src = out;  // the span's texels once sampled
  bool masked = false;            // whether out has had outSet and outKeep applied
  if (!c.filtered && r.f == 0) {
    const std::uint8_t* texels = sm.bits + r.off0;
    if (c.contiguous && !plan.direct && !sm.opaqueMask && plan.plainTexel) {
      src = texels + taps[0].off0;  // texels 1:1 with pixels: blend straight from the texture
    } else if (c.contiguous) {
      std::memmove(out, texels + taps[0].off0, 4 * n);
    } else {
      GatherTexels(texels, taps, n, out);
    }
  } else {
    // Vertical sums once per source row pair over the texture columns the spans reach.
    HoldSums(q, row, k, held);
    HorizontalLanes(q.scratch.sums.data(), c, first, n, q.scratch.lanesA.data(), q.scratch.lanesB.data(), out,
                    plan.outSet, plan.outKeep, q.wide);
    masked = true;
  }
  if (src == out && !masked) MaskWords(out, n, plan.outSet, plan.outKeep);
  if (plan.direct) return;
  if (!plan.plainTexel) ModulateSpan(out, n, plan.shade);
  if (plan.bytes == 2) {
    if (plan.blendSpans)
      BlendSpan16(src, dst, n, q.scratch.narrow);
    else
      StoreSpan16(src, dst, n, q.scratch.narrow);
    return;
  }
  if (plan.blendSpans) {
    if (plan.shade.targetAlpha)
      BlendSpan<true>(src, dst, n, q.wide);
    else
      BlendSpan<false>(src, dst, n, q.wide);
  } else {
    std::memmove(dst, src, 4 * n);
    MaskWords(dst, n, 0, plan.keep);
  }
}

// Every row of the quad, split by the diagonal into the two triangles' spans.
void DrawRows(const QuadSpans& q, const QuadLayout& layout) {
  const QuadPlan& plan = q.plan;
  HeldSums held;
  for (int y = plan.ys; y < plan.ye; ++y) {
    const std::size_t j = std::size_t(y - plan.ys);
    const QuadRow row{y, {layout.rowTaps[0][j], layout.rowTaps[1][j]}, plan.xs + layout.split[j]};
    const Tap* rows = row.taps;
    // Both triangles reading the same texels make the row one span.
    const bool joined = q.columns[0] == q.columns[1] && rows[0].off0 == rows[1].off0 &&
                        rows[0].off1 == rows[1].off1 && rows[0].f == rows[1].f;
    const int bounds[3] = {plan.xs, joined ? plan.xe : row.split, plan.xe};
    for (int k = 0; k < 2; ++k)
      if (bounds[k] < bounds[k + 1]) DrawSpan(q, row, k, bounds[k], bounds[k + 1], held);
  }
}

}  // namespace

bool DeviceImpl::PlanFastQuad(const Vertex* v, int stages, QuadPlan& plan) const {
  if (stages != 1 || !samplers_[0].surface || samplers_[0].keyed) return false;
  if (!FastTarget(target_->format)) return false;
  if (rs_[D3DRENDERSTATE_ALPHATESTENABLE] || rs_[D3DRENDERSTATE_SPECULARENABLE]) return false;
  const DWORD cull = rs_[D3DRENDERSTATE_CULLMODE];
  if (cull != D3DCULL_CCW && cull != D3DCULL_NONE) return false;
  const bool blend = rs_[D3DRENDERSTATE_ALPHABLENDENABLE] != 0;
  const DWORD fs = rs_[D3DRENDERSTATE_SRCBLEND], fd = rs_[D3DRENDERSTATE_DESTBLEND];
  const bool srcAlpha = blend && fs == D3DBLEND_SRCALPHA && fd == D3DBLEND_INVSRCALPHA;
  if (blend && !srcAlpha && !(fs == D3DBLEND_ONE && fd == D3DBLEND_ZERO)) return false;
  const DWORD* st = tss_[0];
  if ((st[D3DTSS_TEXCOORDINDEX] & 0xFFFF) != 0) return false;
  int colorMode = 0, alphaMode = 0;
  if (!StageMode(st[D3DTSS_COLOROP], st[D3DTSS_COLORARG1], st[D3DTSS_COLORARG2], colorMode)) return false;
  if (!StageMode(st[D3DTSS_ALPHAOP], st[D3DTSS_ALPHAARG1], st[D3DTSS_ALPHAARG2], alphaMode)) return false;
  const DWORD diffuse = v[0].diffuse;
  for (int i = 1; i < 4; ++i)
    if (v[i].diffuse != diffuse) return false;
  const Sampler& sm = samplers_[0];
  if (IsLinear(st[D3DTSS_MAGFILTER]) != IsLinear(st[D3DTSS_MINFILTER])) return false;
  if (sm.addrU == D3DTADDRESS_BORDER || sm.addrV == D3DTADDRESS_BORDER) return false;
  plan.linear = sm.linearMag;
  PlanShading(colorMode, alphaMode, diffuse, srcAlpha, sm, *target_, plan);
  return true;
}

bool DeviceImpl::FastQuadTriangles(const Vertex* v, QuadTriangle& t1, QuadTriangle& t2) const {
  // Geometry: TL, TR, BL, BR with the texture axes along the screen axes.
  if (!(v[0].y == v[1].y && v[2].y == v[3].y && v[0].x == v[2].x && v[1].x == v[3].x)) return false;
  for (int i = 0; i < 4; ++i)
    if (!v[i].valid) return false;
  if (!(v[0].x < v[1].x && v[0].y < v[2].y)) return false;
  // The same two triangles, in the same vertex order, as the general path sets up (edges and stage 0).
  const std::int64_t det1 = Det(v[0], v[1], v[2]);
  // Odd strip triangle (v1, v2, v3): winding order (v2, v1, v3), clockwise here.
  const std::int64_t det2 = Det(v[2], v[1], v[3]);
  if (det1 <= 0 || det2 <= 0) return false;
  SetupQuadTriangle(v[0], v[1], v[2], double(det1) / (kSubpixel * kSubpixel), t1);
  SetupQuadTriangle(v[2], v[1], v[3], double(det2) / (kSubpixel * kSubpixel), t2);
  if (t1.u.dqdy != 0 || t1.v.dqdx != 0 || t2.u.dqdy != 0 || t2.v.dqdx != 0) return false;
  return t1.minify == t2.minify;
}

void DeviceImpl::SetupQuadTriangle(const Vertex& a, const Vertex& b, const Vertex& c, double det,
                                   QuadTriangle& t) const {
  t.edges[0] = MakeEdge(a, b);
  t.edges[1] = MakeEdge(b, c);
  t.edges[2] = MakeEdge(c, a);
  StagePlanes(a, b, c, 0, det, samplers_[0], t.u, t.v, t.minify);
}

bool DeviceImpl::TryFastQuad(const Vertex* v, int stages) {
  QuadPlan plan;
  QuadTriangle t1, t2;
  if (!PlanFastQuad(v, stages, plan) || !FastQuadTriangles(v, t1, t2)) return false;

  SurfaceImpl& target = *target_;
  const Sampler& sm = samplers_[0];
  const double left = std::ceil(v[0].x), right = std::ceil(v[1].x);
  const double top = std::ceil(v[0].y), bottom = std::ceil(v[2].y);
  plan.xs = int(std::max(0.0, left)), plan.xe = int(std::min(double(target.width), right));
  plan.ys = int(std::max(0.0, top)), plan.ye = int(std::min(double(target.height), bottom));
  const int xs = plan.xs, xe = plan.xe, ys = plan.ys, ye = plan.ye;
  ++state_->fastDraws;
  if (xs >= xe || ys >= ye) return true;

  const bool clipped = left < 0 || top < 0 || right > double(target.width) || bottom > double(target.height);
  const QuadLayout& layout = quads_.Layout(t1, t2, sm, xs, xe, ys, ye, plan.linear, clipped);
  const std::size_t cols = std::size_t(xe - xs), rows = std::size_t(ye - ys);
  QuadScratch& scratch = scratch_;
  if (scratch.texels.size() < cols) scratch.texels.resize(cols);
  if (!kBiasedSums && scratch.lanesA.size() < 4 * cols) {  // scratch of the portable horizontal pass
    scratch.lanesA.resize(4 * cols);
    scratch.lanesB.resize(4 * cols);
  }
  if (scratch.sums.size() < 4 * std::size_t(sm.w)) scratch.sums.resize(4 * std::size_t(sm.w));
  const int wide = VectorWidth(*state_);
  const std::size_t bytes = std::size_t(plan.bytes);
  if (bytes == 2 && scratch.narrow.format != target.format) scratch.narrow.Make(target.format);
  if (cols * rows <= 16384)
    PrefetchRows(target.Row(ys) + std::size_t(xs) * bytes, std::size_t(target.pitch), ye - ys, bytes * cols);
  if (layout.plainRows && layout.columns[0].contiguous && plan.blendSpans && plan.plainTexel &&
      !sm.opaqueMask && bytes == 4) {
    // Texels 1:1 with pixels: blend straight from the texture, row after row.
    const std::uint8_t* src = sm.bits + layout.columns[0].taps[0].off0;
    std::uint8_t* dst = target.Row(ys) + std::size_t(xs) * 4;
    const std::size_t pitch = std::size_t(target.pitch);
    if (plan.shade.targetAlpha)
      BlendRect<true>(src, layout.rowStarts.data(), dst, pitch, cols, rows, wide);
    else
      BlendRect<false>(src, layout.rowStarts.data(), dst, pitch, cols, rows, wide);
    return true;
  }
  // Stored pixels do not depend on what the target held: an unchanged quad gives them again.
  const bool stored = plan.direct || (bytes == 2 && plan.plainTexel && !plan.blendSpans);
  const bool cacheable = state_->quadResultCache && stored && sm.surface != target_ && !sm.surface->Busy() &&
                         cols * rows >= kCachedQuadPixels && cols <= ~std::size_t(0) / 4 / rows;
  if (cacheable &&
      quads_.CopyResult(*sm.surface, layout, plan.outSet, plan.outKeep, target, xs, ys, cols, rows))
    return true;
  const QuadSpans spans{
      plan, sm, target, scratch, {&layout.columns[0], &layout.columns[layout.sameColumns ? 0 : 1]}, wide};
  DrawRows(spans, layout);
  if (cacheable)
    quads_.KeepResult(*sm.surface, layout, plan.outSet, plan.outKeep, target, xs, ys, cols, rows);
  return true;
}

}  // namespace plat::soft::dd
