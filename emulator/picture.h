#pragma once
// Small pictures the emulator serves: captcha images (digits drawn with a
// built-in 5x7 font on a noisy background) and avatars, encoded as PNG.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillora::emulator {

struct Rgb {
  uint8_t r, g, b;
};

// 8-bit RGB PNG with stored (uncompressed) deflate blocks. width and height
// are clamped to 1..2048; `pixels` holds width*height entries row by row.
std::string EncodePng(int width, int height, const std::vector<Rgb>& pixels);

// The captcha text drawn into a picture of the given size (clamped).
std::string CaptchaPng(std::string_view text, int width, int height, uint32_t seed);

// A 64x64 avatar in a colour derived from `seed`, with the initial drawn.
std::string AvatarPng(uint32_t seed, char initial);

}  // namespace quillora::emulator
