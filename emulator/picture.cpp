#include "emulator/picture.h"

#include <algorithm>
#include <array>

namespace quillora::emulator {
namespace {

uint32_t Crc32(std::string_view bytes, uint32_t crc = 0) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (unsigned char b : bytes) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void PutBe32(std::string& out, uint32_t v) {
  out += static_cast<char>(v >> 24);
  out += static_cast<char>(v >> 16);
  out += static_cast<char>(v >> 8);
  out += static_cast<char>(v);
}

void Chunk(std::string& out, const char type[5], const std::string& data) {
  PutBe32(out, static_cast<uint32_t>(data.size()));
  std::string typed = std::string(type, 4) + data;
  out += typed;
  PutBe32(out, Crc32(typed));
}

// Glyphs 0-9 and A-Z in a 5x7 grid, one byte per row, bit 4 = leftmost.
const uint8_t kDigits[10][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
};
const uint8_t kBlock[7] = {0x1F, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1F};

const uint8_t* Glyph(char c) {
  if (c >= '0' && c <= '9') return kDigits[c - '0'];
  return kBlock;
}

struct Canvas {
  int w, h;
  std::vector<Rgb> px;
  void Set(int x, int y, Rgb c) {
    if (x >= 0 && y >= 0 && x < w && y < h) px[static_cast<size_t>(y) * w + x] = c;
  }
  void DrawChar(char ch, int x0, int y0, int scale, Rgb c) {
    const uint8_t* g = Glyph(ch);
    for (int row = 0; row < 7; ++row)
      for (int col = 0; col < 5; ++col)
        if (g[row] & (0x10 >> col))
          for (int dy = 0; dy < scale; ++dy)
            for (int dx = 0; dx < scale; ++dx) Set(x0 + col * scale + dx, y0 + row * scale + dy, c);
  }
};

uint32_t NextRandom(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

}  // namespace

std::string EncodePng(int width, int height, const std::vector<Rgb>& pixels) {
  width = std::clamp(width, 1, 2048);
  height = std::clamp(height, 1, 2048);
  std::string raw;  // filter byte 0 and the RGB bytes of each row
  raw.reserve(static_cast<size_t>(height) * (1 + 3 * width));
  for (int y = 0; y < height; ++y) {
    raw += '\0';
    for (int x = 0; x < width; ++x) {
      size_t i = static_cast<size_t>(y) * width + x;
      Rgb p = i < pixels.size() ? pixels[i] : Rgb{255, 255, 255};
      raw += static_cast<char>(p.r);
      raw += static_cast<char>(p.g);
      raw += static_cast<char>(p.b);
    }
  }
  // zlib stream of stored blocks.
  std::string z = "\x78\x01";
  size_t pos = 0;
  do {
    size_t n = std::min<size_t>(65535, raw.size() - pos);
    bool last = pos + n == raw.size();
    z += static_cast<char>(last ? 1 : 0);
    z += static_cast<char>(n & 0xFF);
    z += static_cast<char>(n >> 8);
    z += static_cast<char>(~n & 0xFF);
    z += static_cast<char>((~n >> 8) & 0xFF);
    z.append(raw, pos, n);
    pos += n;
  } while (pos < raw.size());
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  PutBe32(z, (b << 16) | a);

  std::string out = "\x89PNG\r\n\x1a\n";
  std::string ihdr;
  PutBe32(ihdr, static_cast<uint32_t>(width));
  PutBe32(ihdr, static_cast<uint32_t>(height));
  ihdr += '\x08';  // bit depth
  ihdr += '\x02';  // colour type RGB
  ihdr += std::string(3, '\0');
  Chunk(out, "IHDR", ihdr);
  Chunk(out, "IDAT", z);
  Chunk(out, "IEND", std::string());
  return out;
}

std::string CaptchaPng(std::string_view text, int width, int height, uint32_t seed) {
  width = std::clamp(width, 16, 512);
  height = std::clamp(height, 12, 256);
  Canvas c{width, height, std::vector<Rgb>(static_cast<size_t>(width) * height, Rgb{240, 244, 250})};
  uint32_t rnd = seed | 1;
  for (int i = 0; i < width * height / 12; ++i) {
    int x = static_cast<int>(NextRandom(rnd) % width);
    int y = static_cast<int>(NextRandom(rnd) % height);
    c.Set(x, y, Rgb{static_cast<uint8_t>(150 + NextRandom(rnd) % 80), 170, 200});
  }
  int n = std::max<int>(1, static_cast<int>(text.size()));
  int scale = std::max(1, std::min((width - 4) / (n * 6), (height - 4) / 8));
  int x = (width - n * 6 * scale) / 2;
  int y0 = (height - 7 * scale) / 2;
  for (char ch : text) {
    int jitter = static_cast<int>(NextRandom(rnd) % 3) - 1;
    c.DrawChar(ch, x, y0 + jitter, scale,
               Rgb{static_cast<uint8_t>(NextRandom(rnd) % 90), static_cast<uint8_t>(NextRandom(rnd) % 90),
                   static_cast<uint8_t>(60 + NextRandom(rnd) % 100)});
    x += 6 * scale;
  }
  return EncodePng(width, height, c.px);
}

std::string AvatarPng(uint32_t seed, char initial) {
  uint32_t rnd = seed | 1;
  Rgb bg{static_cast<uint8_t>(80 + NextRandom(rnd) % 150), static_cast<uint8_t>(80 + NextRandom(rnd) % 150),
         static_cast<uint8_t>(80 + NextRandom(rnd) % 150)};
  Canvas c{64, 64, std::vector<Rgb>(64 * 64, bg)};
  c.DrawChar(initial, 17, 11, 6, Rgb{255, 255, 255});
  return EncodePng(64, 64, c.px);
}

}  // namespace quillora::emulator
