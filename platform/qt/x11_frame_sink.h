// Sends frame pixels straight to an X window, from any thread, without a trip through
// the window's thread and Qt's backing store. It writes on Qt's own connection (xcb is
// thread-safe), so its pictures stay in order with whatever Qt itself draws there.
// Only for the common 24-bit TrueColor format whose pixels are 0x00RRGGBB in 32 bits.
// Where the X server can map memory we pass it (MIT-SHM 1.2, a local server), the
// pixels go through that memory and a frame costs a few small requests; else they go
// in the requests themselves.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/ui/window.h"

struct xcb_connection_t;

namespace platform::qt {

// Joins runs of neighbouring rectangles (in the given order) into their bounding box
// while that adds at most maxExtraPixels pixels to what they cover: each request costs
// the X server and the client more than a few hundred pixels do. The joined rectangles
// come first; returns how many there are. Every pixel of the input stays covered.
std::size_t JoinRects(std::span<ui::FrameRect> rects, std::int64_t maxExtraPixels);

class X11FrameSink {
 public:
  // Null when Qt does not run on X11 or the window's pixel format is another one.
  // Makes the window's background black, so that what no frame covers is black.
  static std::unique_ptr<X11FrameSink> Open(std::uint32_t window);
  ~X11FrameSink();
  X11FrameSink(const X11FrameSink&) = delete;
  X11FrameSink& operator=(const X11FrameSink&) = delete;

  // Copies the given rectangles (inside the frame) of a frame width x height pixels
  // into the picture kept here, sends them and flushes. A frame of a new size comes
  // whole. One caller at a time, for this and Repaint.
  void Put(const std::uint32_t* frame, int width, int height, std::span<const ui::FrameRect> rects);
  // Sends the whole picture again, as after an expose.
  void Repaint();

  // What a join may add, in pixels: about what one request costs.
  static constexpr std::int64_t kJoinExtraPixels = 1024;
  // More rectangles than this go as the whole picture.
  static constexpr std::size_t kMaxRequests = 64;

 private:
  X11FrameSink(xcb_connection_t* connection, std::uint32_t window, std::uint32_t gc,
               std::uint32_t maxRequestBytes, bool shareable);
  // True when the shared memory holds width x height pixels, made or grown as needed.
  bool ShareFor(int width, int height);
  void ReleaseShared();
  // Sends joined_ from the picture.
  void Send();
  void PutInRequests(const std::uint32_t* picture);

  xcb_connection_t* connection_;  // owned by Qt
  std::uint32_t window_;
  std::uint32_t gc_;
  std::uint32_t maxRequestBytes_;
  std::vector<std::uint32_t> rows_;    // a narrow rectangle's rows, gathered
  std::vector<ui::FrameRect> joined_;  // the rectangles as sent
  int width_ = 0;                      // the picture's size
  int height_ = 0;
  std::vector<std::uint32_t> picture_;  // the picture, where memory is not shared
  bool shareable_;                      // the server maps memory we pass it
  std::uint32_t segment_ = 0;           // the server's id of the shared memory; 0: none
  std::uint32_t* shared_ = nullptr;     // our mapping of it, sharedBytes_ long
  std::size_t sharedBytes_ = 0;
};

}  // namespace platform::qt
