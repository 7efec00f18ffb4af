// The floor under the spectrum window's cost on an X server: a 287 x 120 window whose
// 40 bars move every frame, 70 frames a second, each frame's changed rectangles sent
// through MIT-SHM and flushed, and nothing else: no sound, no analysis, no toolkit.
// What this process and the X server spend is what any window showing those frames
// costs on this machine; scripts/sound_server_bench.py puts it beside the player.
//   x11_frame_floor [SECONDS]   (runs until killed when no length is given)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/mman.h>
#include <unistd.h>

#include <xcb/shm.h>
#include <xcb/xcb.h>

namespace {

constexpr int kWidth = 287;
constexpr int kHeight = 120;
constexpr int kBars = 40;
constexpr long kPeriodNs = 1'000'000'000L / 70;

struct Rect {
  int left, top, right, bottom;
};

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 0.0;
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(connection) != 0) {
    std::fprintf(stderr, "x11_frame_floor: no X display\n");
    return 1;
  }
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
  const xcb_window_t window = xcb_generate_id(connection);
  const std::uint32_t black = 0;
  xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, kWidth, kHeight,
                    0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL,
                    &black);
  xcb_map_window(connection, window);
  const xcb_gcontext_t gc = xcb_generate_id(connection);
  const std::uint32_t noExposures = 0;
  xcb_create_gc(connection, gc, window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);

  const std::size_t bytes = std::size_t{kWidth} * kHeight * 4;
  const int fd = memfd_create("floor-frame", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, static_cast<off_t>(bytes)) != 0) return 1;
  auto* pixels =
      static_cast<std::uint32_t*>(mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
  if (pixels == MAP_FAILED) return 1;
  const xcb_shm_seg_t segment = xcb_generate_id(connection);
  if (xcb_generic_error_t* error =
          xcb_request_check(connection, xcb_shm_attach_fd_checked(connection, segment, fd, 1))) {
    std::fprintf(stderr, "x11_frame_floor: the X server maps no shared memory\n");
    std::free(error);
    return 1;
  }

  int heights[kBars] = {};
  std::uint32_t seed = 1;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  while (seconds <= 0 || std::chrono::steady_clock::now() < end) {
    // Every bar moves a little, as bars do while music plays; neighbours' changes join.
    Rect changed{kWidth, kHeight, 0, 0};
    for (int b = 0; b < kBars; ++b) {
      seed = seed * 1664525u + 1013904223u;
      const int was = heights[b];
      const int now = std::clamp(was + static_cast<int>(seed >> 29) - 3, 0, kHeight);
      heights[b] = now;
      const int left = b * kWidth / kBars;
      const int right = left + kWidth / kBars - 1;
      // Only the rows between the old and the new top change colour.
      const int top = kHeight - std::max(was, now);
      const int bottom = kHeight - std::min(was, now);
      for (int y = top; y < bottom; ++y)
        std::fill(pixels + y * kWidth + left, pixels + y * kWidth + right,
                  y >= kHeight - now ? 0x00C0FFu : 0u);
      if (top < bottom)
        changed = {std::min(changed.left, left), std::min(changed.top, top),
                   std::max(changed.right, right), std::max(changed.bottom, bottom)};
      // About as many requests a frame as the player sends.
      if (b % 8 == 7 && changed.left < changed.right) {
        xcb_shm_put_image(connection, window, gc, kWidth, kHeight, changed.left, changed.top,
                          changed.right - changed.left, changed.bottom - changed.top, changed.left,
                          changed.top, 24, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, segment, 0);
        changed = {kWidth, kHeight, 0, 0};
      }
    }
    xcb_flush(connection);
    next.tv_nsec += kPeriodNs;
    if (next.tv_nsec >= 1'000'000'000L) {
      next.tv_nsec -= 1'000'000'000L;
      next.tv_sec += 1;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
  }
  xcb_disconnect(connection);
  return 0;
}
