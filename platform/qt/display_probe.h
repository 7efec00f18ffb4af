// Looks, before Qt starts, at what the window systems named in the environment
// offer, so that the program never asks Qt for a display it cannot open (Qt aborts
// the process when no platform of its list starts).
#pragma once

#include <memory>
#include <string>
#include <string_view>

struct xcb_connection_t;

namespace platform::qt {

// A connection to the X server on `display`, or null when none answers. Keep it
// until Qt has connected: closing the only client would make a bare X server reset
// under Qt's feet.
std::shared_ptr<xcb_connection_t> ProbeX11Display(const std::string& display);

// True when a Wayland compositor accepts a connection on the socket `name` names
// (WAYLAND_DISPLAY: a path, or a name in `runtimeDir`).
bool ProbeWaylandDisplay(const std::string& name, const std::string& runtimeDir);

// True when Qt would find the platform plugin for this key ("xcb", "wayland",
// "wayland-egl", ...) in its plugin folders or those the environment adds.
bool HasPlatformPlugin(std::string_view key);

}  // namespace platform::qt
