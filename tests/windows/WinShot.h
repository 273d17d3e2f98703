// Renders a window of this process into a PNG file, so that a test run leaves
// pictures of the windows to look at. The PNG's image data is held in stored
// deflate blocks: the pictures are small and need no compression.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "Crc32.h"
#include "Win32.h"

namespace winshot {

inline void Put32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

inline void Chunk(std::string& out, const char* type, const std::string& data) {
  Put32(out, static_cast<uint32_t>(data.size()));
  const std::string body = std::string(type, 4) + data;
  out += body;
  Put32(out, Crc32(body.data(), body.size()));
}

// A zlib stream of stored blocks around raw.
inline std::string ZlibStored(const std::string& raw) {
  std::string out("\x78\x01", 2);
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(raw.size() - at, 65535);
    const bool last = at + n == raw.size();
    out += static_cast<char>(last ? 1 : 0);
    out += static_cast<char>(n & 0xFF);
    out += static_cast<char>(n >> 8);
    out += static_cast<char>(~n & 0xFF);
    out += static_cast<char>((~n >> 8) & 0xFF);
    out.append(raw, at, n);
    at += n;
  } while (at < raw.size());
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  Put32(out, b << 16 | a);
  return out;
}

// A window's client area as the screen shows it: 0x00RRGGBB pixels, top row first.
struct Shot {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Takes the window's client area from the screen; empty when it could not.
inline Shot CaptureClient(HWND window) {
  RECT r{};
  if (!::GetClientRect(window, &r)) return {};
  ::MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  const HDC screen = ::GetDC(nullptr);
  const HDC dc = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ old = ::SelectObject(dc, bitmap);
  // Drawn first, children and all, then copied from the screen.
  // (Wine's PrintWindow draws the background alone).
  // Twice, a moment apart: a window just shown may not yet be on the screen.
  for (int pass = 0; pass < 2; ++pass) {
    ::RedrawWindow(window, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    ::Sleep(200);
  }
  const bool printed = ::BitBlt(dc, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != FALSE;
  ::GdiFlush();
  Shot shot;
  if (printed) {
    const auto* pixels = static_cast<const uint32_t*>(bits);
    shot = {width, height,
            std::vector<uint32_t>(pixels, pixels + static_cast<size_t>(width) * height)};
    for (uint32_t& pixel : shot.pixels) pixel &= 0xFFFFFF;
  }
  ::SelectObject(dc, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(dc);
  ::ReleaseDC(nullptr, screen);
  return shot;
}

// Writes the window's client area, as the screen shows it, as an RGB PNG;
// false when it could not.
inline bool SaveWindowPng(HWND window, const std::string& path) {
  const Shot shot = CaptureClient(window);
  if (shot.pixels.empty()) return false;
  const int width = shot.width;
  const int height = shot.height;
  std::string raw;
  raw.reserve(static_cast<size_t>(height) * (width * 3 + 1));
  for (int y = 0; y < height; ++y) {
    raw += '\0';  // no filter
    for (int x = 0; x < width; ++x) {
      const uint32_t p = shot.At(x, y);
      raw += static_cast<char>((p >> 16) & 0xFF);
      raw += static_cast<char>((p >> 8) & 0xFF);
      raw += static_cast<char>(p & 0xFF);
    }
  }
  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  Put32(header, static_cast<uint32_t>(width));
  Put32(header, static_cast<uint32_t>(height));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", ZlibStored(raw));
  Chunk(png, "IEND", {});
  std::ofstream file(path, std::ios::binary);
  file.write(png.data(), static_cast<std::streamsize>(png.size()));
  return static_cast<bool>(file);
}

}  // namespace winshot
