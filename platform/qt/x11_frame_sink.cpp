#include "platform/qt/x11_frame_sink.h"

#include <QGuiApplication>
#include <algorithm>
#include <bit>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

#include <xcb/shm.h>
#include <xcb/xcb.h>

namespace platform::qt {
namespace {

constexpr std::uint8_t kDepth = 24;
constexpr std::uint32_t kPutImageHeaderBytes = 24;

// True when the window takes 0x00RRGGBB pixels, 32 bits each, in this machine's byte order.
bool TakesOurPixels(xcb_connection_t* connection, xcb_window_t window) {
  const xcb_setup_t* setup = xcb_get_setup(connection);
  const bool lsbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
  if (lsbFirst != (std::endian::native == std::endian::little)) return false;
  bool thirtyTwoBits = false;
  for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem > 0; xcb_format_next(&f))
    if (f.data->depth == kDepth) thirtyTwoBits = f.data->bits_per_pixel == 32;
  if (!thirtyTwoBits) return false;

  xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
      connection, xcb_get_window_attributes(connection, window), nullptr);
  xcb_get_geometry_reply_t* geometry =
      xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr);
  bool match = false;
  if (attributes != nullptr && geometry != nullptr && geometry->depth == kDepth) {
    for (auto s = xcb_setup_roots_iterator(setup); s.rem > 0 && !match; xcb_screen_next(&s)) {
      for (auto d = xcb_screen_allowed_depths_iterator(s.data); d.rem > 0; xcb_depth_next(&d)) {
        if (d.data->depth != kDepth) continue;
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem > 0; xcb_visualtype_next(&v)) {
          if (v.data->visual_id != attributes->visual) continue;
          match = v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR && v.data->red_mask == 0xFF0000 &&
                  v.data->green_mask == 0x00FF00 && v.data->blue_mask == 0x0000FF;
        }
      }
    }
  }
  std::free(attributes);
  std::free(geometry);
  return match;
}

// MIT-SHM 1.2: the server maps memory passed to it as a file descriptor. Qt's switch
// against shared memory holds here too.
bool MapsOurMemory(xcb_connection_t* connection) {
  if (qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) return false;
  const xcb_query_extension_reply_t* shm = xcb_get_extension_data(connection, &xcb_shm_id);
  if (shm == nullptr || shm->present == 0) return false;
  xcb_shm_query_version_reply_t* version =
      xcb_shm_query_version_reply(connection, xcb_shm_query_version(connection), nullptr);
  const bool fds =
      version != nullptr &&
      (version->major_version > 1 || (version->major_version == 1 && version->minor_version >= 2));
  std::free(version);
  return fds;
}

std::int64_t Area(const ui::FrameRect& r) {
  return std::int64_t{r.right - r.left} * std::int64_t{r.bottom - r.top};
}

}  // namespace

std::size_t JoinRects(std::span<ui::FrameRect> rects, std::int64_t maxExtraPixels) {
  std::size_t kept = 0;
  std::int64_t covered = 0;  // by the rectangles joined into rects[kept - 1]
  for (const ui::FrameRect& r : rects) {
    if (r.left >= r.right || r.top >= r.bottom) continue;
    if (kept > 0) {
      const ui::FrameRect& last = rects[kept - 1];
      const ui::FrameRect box{std::min(last.left, r.left), std::min(last.top, r.top),
                              std::max(last.right, r.right), std::max(last.bottom, r.bottom)};
      if (Area(box) - covered - Area(r) <= maxExtraPixels) {
        covered += Area(r);
        rects[kept - 1] = box;
        continue;
      }
    }
    covered = Area(r);
    rects[kept++] = r;
  }
  return kept;
}

std::unique_ptr<X11FrameSink> X11FrameSink::Open(std::uint32_t window) {
  auto* app = qGuiApp;
  if (app == nullptr || window == 0 || QGuiApplication::platformName() != QStringLiteral("xcb"))
    return nullptr;
  auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
  if (connection == nullptr || xcb_connection_has_error(connection) != 0) return nullptr;
  if (!TakesOurPixels(connection, window)) return nullptr;

  const std::uint32_t black = 0;
  xcb_change_window_attributes(connection, window, XCB_CW_BACK_PIXEL, &black);
  const xcb_gcontext_t gc = xcb_generate_id(connection);
  const std::uint32_t noExposures = 0;
  xcb_create_gc(connection, gc, window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
  xcb_flush(connection);
  const std::uint32_t maxRequestBytes = xcb_get_maximum_request_length(connection) * 4;
  return std::unique_ptr<X11FrameSink>(
      new X11FrameSink(connection, window, gc, maxRequestBytes, MapsOurMemory(connection)));
}

X11FrameSink::X11FrameSink(xcb_connection_t* connection, std::uint32_t window, std::uint32_t gc,
                           std::uint32_t maxRequestBytes, bool shareable)
    : connection_(connection),
      window_(window),
      gc_(gc),
      maxRequestBytes_(maxRequestBytes),
      shareable_(shareable) {}

X11FrameSink::~X11FrameSink() {
  ReleaseShared();
  xcb_free_gc(connection_, gc_);
  xcb_flush(connection_);
}

bool X11FrameSink::ShareFor(int width, int height) {
  const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
  if (!shareable_ || bytes <= sharedBytes_) return shareable_;
  ReleaseShared();
  const int fd = ::memfd_create("tonaria-frame", MFD_CLOEXEC);
  void* map = MAP_FAILED;
  if (fd >= 0 && ::ftruncate(fd, static_cast<off_t>(bytes)) == 0)
    map = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) {
    if (fd >= 0) ::close(fd);
    shareable_ = false;
    return false;
  }
  // xcb closes fd once it is sent. One round trip, only when the picture grows.
  const xcb_shm_seg_t segment = xcb_generate_id(connection_);
  xcb_generic_error_t* error =
      xcb_request_check(connection_, xcb_shm_attach_fd_checked(connection_, segment, fd, 1));
  if (error != nullptr) {  // a server that will not map it: pixels go in the requests
    std::free(error);
    ::munmap(map, bytes);
    shareable_ = false;
    return false;
  }
  segment_ = segment;
  shared_ = static_cast<std::uint32_t*>(map);
  sharedBytes_ = bytes;
  return true;
}

void X11FrameSink::ReleaseShared() {
  if (segment_ == 0) return;
  xcb_shm_detach(connection_, segment_);  // after the requests that read it
  ::munmap(shared_, sharedBytes_);
  segment_ = 0;
  shared_ = nullptr;
  sharedBytes_ = 0;
}

void X11FrameSink::Put(const std::uint32_t* frame, int width, int height,
                       std::span<const ui::FrameRect> rects) {
  if (width <= 0 || height <= 0) return;
  if (width != width_ || height != height_) {
    width_ = width;
    height_ = height;
    picture_.clear();
    if (!ShareFor(width, height)) picture_.resize(static_cast<std::size_t>(width) * height);
  }
  std::uint32_t* picture = segment_ != 0 ? shared_ : picture_.data();
  for (const ui::FrameRect& r : rects) {
    for (int y = r.top; y < r.bottom; ++y) {
      const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(y) * width + r.left;
      std::copy_n(frame + at, r.right - r.left, picture + at);
    }
  }
  joined_.assign(rects.begin(), rects.end());
  joined_.resize(JoinRects(joined_, kJoinExtraPixels));
  if (joined_.size() > kMaxRequests) joined_.assign(1, ui::FrameRect{0, 0, width, height});
  Send();
}

void X11FrameSink::Repaint() {
  if (width_ <= 0) return;
  joined_.assign(1, ui::FrameRect{0, 0, width_, height_});
  Send();
}

// The server may read a rectangle of shared memory after the next frame has written
// it; it then shows newer pixels, which that frame's own request sends again, so the
// window always ends with the latest frame.
void X11FrameSink::Send() {
  if (segment_ == 0) {
    PutInRequests(picture_.data());
  } else {
    for (const ui::FrameRect& r : joined_) {
      xcb_shm_put_image(
          connection_, window_, gc_, static_cast<std::uint16_t>(width_),
          static_cast<std::uint16_t>(height_), static_cast<std::uint16_t>(r.left),
          static_cast<std::uint16_t>(r.top), static_cast<std::uint16_t>(r.right - r.left),
          static_cast<std::uint16_t>(r.bottom - r.top), static_cast<std::int16_t>(r.left),
          static_cast<std::int16_t>(r.top), kDepth, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, segment_, 0);
    }
  }
  xcb_flush(connection_);
}

void X11FrameSink::PutInRequests(const std::uint32_t* picture) {
  const int width = width_;
  for (const ui::FrameRect& r : joined_) {
    const int w = r.right - r.left;
    if (w <= 0 || r.bottom <= r.top) continue;
    const auto rowBytes = static_cast<std::uint32_t>(w) * 4;
    // Large rectangles go in bands that fit one request.
    const int bandRows = static_cast<int>(std::max<std::uint32_t>(
        1, (maxRequestBytes_ - std::min(maxRequestBytes_, kPutImageHeaderBytes)) / rowBytes));
    for (int top = r.top; top < r.bottom; top += bandRows) {
      const int rows = std::min(bandRows, r.bottom - top);
      const std::uint32_t* first = picture + static_cast<std::ptrdiff_t>(top) * width + r.left;
      const std::uint32_t* data = first;
      if (w != width) {  // not whole rows: gather them
        rows_.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(rows));
        for (int y = 0; y < rows; ++y)
          std::copy_n(first + static_cast<std::ptrdiff_t>(y) * width, w, rows_.data() + y * w);
        data = rows_.data();
      }
      xcb_put_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window_, gc_,
                    static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(rows),
                    static_cast<std::int16_t>(r.left), static_cast<std::int16_t>(top), 0, kDepth,
                    rowBytes * static_cast<std::uint32_t>(rows),
                    reinterpret_cast<const std::uint8_t*>(data));
    }
  }
}

}  // namespace platform::qt
