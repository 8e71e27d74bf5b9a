// The two ways the image data is inflated, whole in one call and row by row as it streams in, give the
// same store bytes and the same errors, and hand the chunk loop the same next chunk: on every PNG file in
// the tree and on large multi-chunk images, intact and damaged.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "picture/PngTestUtil.h"
#include "picture/pngimage/PngCore.h"
#include "support/TestData.h"
#include "core/Classes.h"

namespace {

using pngtest::Bytes;
using pngtest::GetBE32;

struct Outcome {
  std::string error;  // class and text; empty on success
  Bytes bits, low, alpha;
  std::int64_t next = -1;  // where the chunk loop goes on: past the image data chunks that follow
  bool whole = false;

  bool operator==(const Outcome& o) const {
    return error == o.error && bits == o.bits && low == o.low && alpha == o.alpha && next == o.next;
  }
};

std::string Describe(const Outcome& o) {
  return (o.error.empty() ? std::string("decoded") : o.error) + ", next chunk at " + std::to_string(o.next);
}

// Decodes a file's image data as the reader would reach it (header and gamma taken from the chunks before
// it). False when the file never gets that far.
bool DecodeFileData(const Bytes& f, png::TInflateMode mode, Outcome& out) {
  png::THeaderFields h;
  bool haveHeader = false;
  png::TByteMap gamma, inverse;
  png::IdentityMap(gamma);
  png::IdentityMap(inverse);
  std::size_t pos = 8;
  for (;; pos += 12 + GetBE32(&f[pos])) {
    if (pos + 8 > f.size()) return false;
    const std::uint32_t length = GetBE32(&f[pos]);
    const std::string type(reinterpret_cast<const char*>(&f[pos + 4]), 4);
    if (type == "IDAT") break;
    if (pos + 12 + std::uint64_t(length) > f.size()) return false;
    if (type == "IHDR") {
      if (length < 13) return false;
      h = png::ParseHeader(&f[pos + 8]);
      haveHeader = png::CheckHeader(h, length) == png::THeaderProblem::None;
    } else if (type == "gAMA" && length == 4) {
      png::BuildGammaMaps(png::ReadBE32(&f[pos + 8]), gamma, inverse);
    }
  }
  if (!haveHeader) return false;
  const std::size_t rowBytes =
      png::StoreRowBytesFor(png::StoreBitsPerPixel(h.ColorType, h.BitDepth), h.Width);
  if (std::uint64_t(rowBytes) * h.Height > (std::uint64_t(16) << 20)) return false;
  out.bits.assign(rowBytes * h.Height, 0);
  if (h.BitDepth == 16) out.low.assign(out.bits.size(), 0);
  if (h.ColorType == 4 || h.ColorType == 6) out.alpha.assign(std::size_t(h.Width) * h.Height, 0);
  png::TStoreView store;
  store.bits = out.bits.data();
  store.lowBytes = out.low.empty() ? nullptr : out.low.data();
  store.alpha = out.alpha.empty() ? nullptr : out.alpha.data();
  store.rowBytes = rowBytes;
  store.width = h.Width;
  store.height = h.Height;

  TReadOnlyMemoryStream s(f.data(), f.size());
  s.SetPosition(std::int64_t(pos + 8));
  try {
    out.whole = png::DecodeImageData(s, GetBE32(&f[pos]), h, gamma, store, mode);
  } catch (const Exception& e) {
    out.error = std::string(e.ClassName()) + ": " + e.Message;
    return true;
  }
  // The chunk loop skips image data chunks that follow the ones the decoder needed.
  std::int64_t next = s.GetPosition();
  while (next >= 0 && std::size_t(next) + 8 <= f.size() && std::memcmp(&f[next + 4], "IDAT", 4) == 0)
    next += 12 + std::int64_t(GetBE32(&f[next]));
  out.next = next;
  return true;
}

// Decodes both ways and expects the same result; returns whether the fast way took the data whole.
bool ExpectSameBothWays(const Bytes& f, const std::string& name, Outcome* result = nullptr) {
  Outcome whole, streamed;
  if (!DecodeFileData(f, png::TInflateMode::WholeWhenPossible, whole)) return false;
  EXPECT_TRUE(DecodeFileData(f, png::TInflateMode::Streaming, streamed));
  EXPECT_FALSE(streamed.whole);
  EXPECT_TRUE(whole == streamed) << name << ": whole " << Describe(whole) << "; streamed "
                                 << Describe(streamed)
                                 << (whole.bits == streamed.bits ? "" : "; store bytes differ");
  if (result) *result = whole;
  return whole.whole;
}

// An 8-bit colour image without gamma keeps its samples: blue, green, red rows bottom-up, alpha top-down.
void ExpectStoreHoldsTheSamples(const Outcome& o, const Bytes& file, const std::string& name) {
  const pngtest::RefImage ref = pngtest::RefDecode(file);
  const std::size_t rowBytes = o.bits.size() / ref.height;
  int wrong = 0;
  for (std::uint32_t y = 0; y < ref.height; ++y)
    for (std::uint32_t x = 0; x < ref.width; ++x) {
      const std::uint8_t* p = &o.bits[(ref.height - 1 - y) * rowBytes + x * 3];
      const bool alphaWrong =
          ref.channels == 4 && o.alpha[std::size_t(y) * ref.width + x] != ref.Sample(x, y, 3);
      if (p[0] != ref.Sample(x, y, 2) || p[1] != ref.Sample(x, y, 1) || p[2] != ref.Sample(x, y, 0) ||
          alphaWrong)
        ++wrong;
    }
  EXPECT_EQ(wrong, 0) << name;
}

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files = TestDataFiles(TestDataPath("pngsuite/png"), ".png");
  for (const std::string& f : TestDataFiles(TestDataPath("imagers-bmp-ico/reference-png"), ".png", true))
    files.push_back(f);
  for (const std::string& f : TestDataFiles(std::string(DS_SOURCE_DIR) + "/fuzz/corpus/png_fuzz"))
    files.push_back(f);
  return files;
}

TEST(PngInflate, EveryPngFileDecodesTheSameBothWays) {
  int decoded = 0;
  for (const std::string& path : CorpusFiles()) {
    const Bytes f = ReadTestFile(path);
    const std::string name = std::filesystem::path(path).filename().string();
    Outcome probe;
    if (f.size() < 8 || !DecodeFileData(f, png::TInflateMode::Streaming, probe)) continue;
    const bool whole = ExpectSameBothWays(f, path);
    ++decoded;
    // Sound files of the suite are inflated whole: the comparison is not between two streaming decodes.
    if (path.find("/pngsuite/") != std::string::npos && name[0] != 'x') {
      EXPECT_TRUE(whole) << name;
    }
  }
  EXPECT_GT(decoded, 200);
}

// ---- Large images made here ---------------------------------------------------------------------------

// Sample c of pixel (x, y) at the given depth: gradients with some noise, so every filter has work to do.
unsigned SampleAt(int x, int y, int c, int depth) {
  const unsigned v = unsigned(x * (c + 2) + y * (5 - c) + ((x * 7 + y * 13 + c * 3) % 11) * 9);
  return depth == 16 ? (v * 181) & 0xFFFF : v & ((1u << depth) - 1);
}

// Filtered rows of a w x h image, rows taking the filter types in turn (Adam7 passes when interlaced).
Bytes FilteredRows(int w, int h, int depth, int colorType, bool interlaced) {
  const int channels = pngtest::Channels(colorType), bits = depth * channels;
  const std::size_t bpp = std::size_t(std::max(1, bits / 8));
  Bytes out;
  auto pass = [&](int x0, int y0, int dx, int dy) {
    if (x0 >= w || y0 >= h) return;
    const int n = (w - x0 + dx - 1) / dx;
    const std::size_t rowBytes = (std::size_t(n) * bits + 7) / 8;
    Bytes prev(rowBytes, 0), cur(rowBytes);
    for (int y = y0, row = 0; y < h; y += dy, ++row) {
      std::fill(cur.begin(), cur.end(), 0);
      for (int k = 0; k < n; ++k)
        for (int c = 0; c < channels; ++c) {
          const unsigned v = SampleAt(x0 + k * dx, y, c, depth);
          const std::size_t bit = (std::size_t(k) * channels + c) * depth;
          if (depth == 16) {
            cur[bit / 8] = std::uint8_t(v >> 8);
            cur[bit / 8 + 1] = std::uint8_t(v);
          } else {
            cur[bit / 8] = std::uint8_t(cur[bit / 8] | (v << (8 - depth - bit % 8)));
          }
        }
      const int ft = row % 5;
      out.push_back(std::uint8_t(ft));
      for (std::size_t i = 0; i < rowBytes; ++i) {
        const int a = i >= bpp ? cur[i - bpp] : 0, b = prev[i], c = i >= bpp ? prev[i - bpp] : 0;
        const int pred = ft == 1   ? a
                         : ft == 2 ? b
                         : ft == 3 ? (a + b) / 2
                         : ft == 4 ? pngtest::Paeth(a, b, c)
                                   : 0;
        out.push_back(std::uint8_t(cur[i] - pred));
      }
      prev = cur;
    }
  };
  if (interlaced) {
    for (const png::TAdam7Pass& p : png::kAdam7)
      pass(int(p.colStart), int(p.rowStart), int(p.colStep), int(p.rowStep));
  } else {
    pass(0, 0, 1, 1);
  }
  return out;
}

// A file with the compressed data split into image data chunks of `split` bytes, each with a sound CRC.
Bytes FileOf(const Bytes& ihdr, const Bytes& compressed, std::size_t split,
             const std::vector<Bytes>& extra = {}) {
  Bytes f = pngtest::Signature();
  pngtest::Append(f, pngtest::Chunk("IHDR", ihdr));
  for (const Bytes& e : extra) pngtest::Append(f, e);
  for (std::size_t i = 0; i < compressed.size(); i += split)
    pngtest::Append(
        f, pngtest::Chunk("IDAT", Bytes(compressed.begin() + long(i),
                                        compressed.begin() + long(std::min(compressed.size(), i + split)))));
  pngtest::Append(f, pngtest::Chunk("IEND", {}));
  return f;
}

struct Format {
  int depth, colorType;
  bool interlaced;
};
const Format kFormats[] = {{8, 2, false},  {8, 6, false},  {8, 3, false}, {16, 0, false},
                           {16, 2, false}, {16, 6, false}, {8, 4, false}, {2, 0, false},
                           {8, 2, true},   {8, 6, true},   {4, 3, true},  {16, 4, true}};

TEST(PngInflate, LargeMultiChunkImagesAreInflatedWholeWithTheSameResult) {
  const std::vector<Bytes> gama = {pngtest::Chunk("gAMA", {0, 0, 0x9C, 0x40})};  // gamma 0.4
  for (const Format& fm : kFormats) {
    const Bytes z = pngtest::Compress(FilteredRows(301, 203, fm.depth, fm.colorType, fm.interlaced));
    const Bytes ihdr = pngtest::Header(301, 203, fm.depth, fm.colorType, fm.interlaced ? 1 : 0);
    const std::string name = std::to_string(fm.depth) + "-bit type " + std::to_string(fm.colorType);
    const Bytes plain = FileOf(ihdr, z, 8192);
    Outcome result;
    EXPECT_TRUE(ExpectSameBothWays(plain, name, &result)) << name;
    if (fm.depth == 8 && (fm.colorType == 2 || fm.colorType == 6))
      ExpectStoreHoldsTheSamples(result, plain, name);
    EXPECT_TRUE(ExpectSameBothWays(FileOf(ihdr, z, 1000, gama), name + " with gamma")) << name;
  }
}

TEST(PngInflate, DamagedImageDataFailsTheSameBothWays) {
  // RGBA (fused unfiltering) and interlaced 16-bit grey-alpha (the general row step), 300-odd KiB raw.
  for (const Format& fm : {Format{8, 6, false}, Format{16, 4, true}}) {
    const Bytes raw = FilteredRows(301, 203, fm.depth, fm.colorType, fm.interlaced);
    const Bytes z = pngtest::Compress(raw);
    const Bytes ihdr = pngtest::Header(301, 203, fm.depth, fm.colorType, fm.interlaced ? 1 : 0);
    const Bytes file = FileOf(ihdr, z, 4096);
    // Damage to the file itself: CRCs, chunk headers, truncation.
    for (std::size_t at = 33; at < file.size(); at += file.size() / 97) {
      Bytes f = file;
      f[at] ^= 0x10;
      ExpectSameBothWays(f, "flipped file byte " + std::to_string(at));
      ExpectSameBothWays(Bytes(file.begin(), file.begin() + long(at)), "cut at " + std::to_string(at));
    }
    // Damage inside the compressed data with sound CRCs: data errors, short and long output, wrong check.
    for (std::size_t at = 0; at < z.size(); at += z.size() / 89 + 1) {
      Bytes d = z;
      d[at] ^= 0x24;
      ExpectSameBothWays(FileOf(ihdr, d, 4096), "flipped compressed byte " + std::to_string(at));
    }
    Bytes badCheck = z;
    badCheck.back() ^= 1;
    EXPECT_FALSE(ExpectSameBothWays(FileOf(ihdr, badCheck, 4096), "wrong check value"));
    Bytes shortRaw(raw.begin(), raw.end() - 700), longRaw = raw;
    longRaw.insert(longRaw.end(), 700, 0);
    EXPECT_FALSE(ExpectSameBothWays(FileOf(ihdr, pngtest::Compress(shortRaw), 4096), "short data"));
    EXPECT_FALSE(ExpectSameBothWays(FileOf(ihdr, pngtest::Compress(longRaw), 4096), "long data"));
    Bytes trailing = z;
    trailing.insert(trailing.end(), {1, 2, 3, 4, 5});
    ExpectSameBothWays(FileOf(ihdr, trailing, 4096), "bytes after the compressed data");
  }
}

}  // namespace
