// Test helpers for the PNG reader: building PNG files chunk by chunk, and a small independent reference
// decoder (zlib + the standard's filters and interlacing) that yields raw samples.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace pngtest {

using Bytes = std::vector<std::uint8_t>;

inline void PutBE32(Bytes& b, std::uint32_t v) {
  b.push_back(std::uint8_t(v >> 24));
  b.push_back(std::uint8_t(v >> 16));
  b.push_back(std::uint8_t(v >> 8));
  b.push_back(std::uint8_t(v));
}
inline std::uint32_t GetBE32(const std::uint8_t* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

inline Bytes Signature() {
  return {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
}

// One chunk with a correct CRC (zlib's CRC-32, independent of the reader's own table).
inline Bytes Chunk(const std::string& type, const Bytes& data) {
  Bytes b;
  PutBE32(b, std::uint32_t(data.size()));
  b.insert(b.end(), type.begin(), type.end());
  b.insert(b.end(), data.begin(), data.end());
  uLong c = crc32(0, reinterpret_cast<const Bytef*>(type.data()), 4);
  if (!data.empty()) c = crc32(c, data.data(), uInt(data.size()));
  PutBE32(b, std::uint32_t(c));
  return b;
}

inline Bytes Header(std::uint32_t w, std::uint32_t h, int depth, int colorType, int interlace = 0,
                    int compression = 0) {
  Bytes d;
  PutBE32(d, w);
  PutBE32(d, h);
  d.push_back(std::uint8_t(depth));
  d.push_back(std::uint8_t(colorType));
  d.push_back(std::uint8_t(compression));
  d.push_back(0);
  d.push_back(std::uint8_t(interlace));
  return d;
}

inline Bytes Compress(const Bytes& raw) {
  uLongf size = compressBound(uLong(raw.size()));
  Bytes out(size);
  if (compress2(out.data(), &size, raw.data(), uLong(raw.size()), 9) != Z_OK)
    throw std::runtime_error("zlib");
  out.resize(size);
  return out;
}

inline void Append(Bytes& a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
}

// A file: signature, header, the extra chunks, the compressed rows split into IDAT chunks of at most
// `split` bytes, IEND.
inline Bytes MakePng(const Bytes& ihdr, const Bytes& rawRows, const std::vector<Bytes>& extra = {},
                     std::size_t split = 0) {
  Bytes f = Signature();
  Append(f, Chunk("IHDR", ihdr));
  for (const Bytes& e : extra) Append(f, e);
  const Bytes z = Compress(rawRows);
  if (split == 0) split = z.size();
  for (std::size_t i = 0; i < z.size(); i += split)
    Append(f, Chunk("IDAT", Bytes(z.begin() + long(i), z.begin() + long(std::min(z.size(), i + split)))));
  Append(f, Chunk("IEND", {}));
  return f;
}

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Raw decoded image: one vector of samples per channel layout of the colour type, full precision.
struct RefImage {
  std::uint32_t width = 0, height = 0;
  int depth = 0, colorType = 0, interlace = 0;
  int channels = 0;
  std::vector<std::uint16_t> samples;  // width * height * channels
  Bytes palette;                       // PLTE data (before gamma)
  Bytes trns;
  bool hasTrns = false;
  bool hasGamma = false;
  std::uint32_t gamma = 0;
  std::uint16_t Sample(std::uint32_t x, std::uint32_t y, int c) const {
    return samples[(std::size_t(y) * width + x) * channels + c];
  }
};

inline int Channels(int ct) {
  return ct == 0 ? 1 : ct == 2 ? 3 : ct == 3 ? 1 : ct == 4 ? 2 : 4;
}

inline std::uint8_t Paeth(int a, int b, int c) {
  int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return std::uint8_t((pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c));
}

// Decodes with the PNG standard's rules; the first gAMA before IDAT counts. Throws on anything odd.
inline RefImage RefDecode(const Bytes& f) {
  RefImage img;
  if (f.size() < 8 || std::memcmp(f.data(), Signature().data(), 8) != 0) throw std::runtime_error("sig");
  std::size_t pos = 8;
  Bytes z;
  bool sawIdat = false;
  while (pos + 12 <= f.size()) {
    const std::uint32_t len = GetBE32(&f[pos]);
    const std::string type(reinterpret_cast<const char*>(&f[pos + 4]), 4);
    const std::uint8_t* d = &f[pos + 8];
    if (type == "IHDR") {
      img.width = GetBE32(d);
      img.height = GetBE32(d + 4);
      img.depth = d[8];
      img.colorType = d[9];
      img.interlace = d[12];
      img.channels = Channels(img.colorType);
    } else if (type == "PLTE") {
      img.palette.assign(d, d + len);
    } else if (type == "tRNS") {
      img.trns.assign(d, d + len);
      img.hasTrns = true;
    } else if (type == "gAMA" && !sawIdat && len == 4) {
      img.hasGamma = true;
      img.gamma = GetBE32(d);
    } else if (type == "IDAT") {
      sawIdat = true;
      z.insert(z.end(), d, d + len);
    } else if (type == "IEND") {
      break;
    }
    pos += 12 + len;
  }
  // Inflate everything.
  Bytes raw;
  z_stream s{};
  inflateInit(&s);
  s.next_in = z.data();
  s.avail_in = uInt(z.size());
  std::uint8_t buf[65536];
  int r;
  do {
    s.next_out = buf;
    s.avail_out = sizeof buf;
    r = inflate(&s, Z_NO_FLUSH);
    raw.insert(raw.end(), buf, buf + (sizeof buf - s.avail_out));
  } while (r == Z_OK);
  inflateEnd(&s);
  if (r != Z_STREAM_END) throw std::runtime_error("inflate");

  const int bitsPerPixel = img.depth * img.channels;
  const std::size_t bpp = std::max(1, bitsPerPixel / 8);
  img.samples.assign(std::size_t(img.width) * img.height * img.channels, 0);
  std::size_t rp = 0;
  auto pass = [&](std::uint32_t x0, std::uint32_t y0, std::uint32_t dx, std::uint32_t dy) {
    if (x0 >= img.width || y0 >= img.height) return;
    const std::uint32_t pw = (img.width - x0 + dx - 1) / dx;
    const std::size_t rowBytes = (std::size_t(pw) * bitsPerPixel + 7) / 8;
    Bytes prev(rowBytes, 0), cur(rowBytes);
    for (std::uint32_t y = y0; y < img.height; y += dy) {
      if (rp + 1 + rowBytes > raw.size()) throw std::runtime_error("short data");
      const int ft = raw[rp];
      std::memcpy(cur.data(), &raw[rp + 1], rowBytes);
      rp += 1 + rowBytes;
      for (std::size_t i = 0; i < rowBytes; ++i) {
        const int a = i >= bpp ? cur[i - bpp] : 0, b = prev[i], c = i >= bpp ? prev[i - bpp] : 0;
        switch (ft) {
          case 1:
            cur[i] = std::uint8_t(cur[i] + a);
            break;
          case 2:
            cur[i] = std::uint8_t(cur[i] + b);
            break;
          case 3:
            cur[i] = std::uint8_t(cur[i] + (a + b) / 2);
            break;
          case 4:
            cur[i] = std::uint8_t(cur[i] + Paeth(a, b, c));
            break;
          default:
            break;
        }
      }
      for (std::uint32_t k = 0; k < pw; ++k)
        for (int ch = 0; ch < img.channels; ++ch) {
          const std::size_t bit = (std::size_t(k) * img.channels + ch) * img.depth;
          std::uint16_t v;
          if (img.depth == 16)
            v = std::uint16_t((cur[bit / 8] << 8) | cur[bit / 8 + 1]);
          else if (img.depth == 8)
            v = cur[bit / 8];
          else
            v = std::uint16_t((cur[bit / 8] >> (8 - img.depth - bit % 8)) & ((1 << img.depth) - 1));
          img.samples[(std::size_t(y) * img.width + x0 + k * dx) * img.channels + ch] = v;
        }
      prev = cur;
    }
  };
  if (img.interlace) {
    const std::uint32_t p[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                   {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    for (auto& q : p) pass(q[0], q[1], q[2], q[3]);
  } else {
    pass(0, 0, 1, 1);
  }
  return img;
}

}  // namespace pngtest
