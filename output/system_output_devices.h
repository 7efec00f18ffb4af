// The process-wide device table behind the engine's OutputDevices interface.
#pragma once

#include "player/playback_collaborators.h"

OutputDevices& SystemOutputDevices();
