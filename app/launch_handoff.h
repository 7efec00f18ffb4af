// One window for every file opened. The first launch on a session bus takes the
// name org.tonaria.Tonaria and answers Open there; a later launch finds the name
// taken, hands its file to that program and ends. The name is asked for without
// queueing, so of launches that start at once exactly one gets it. Window's
// thread only.
#pragma once

#include <functional>
#include <string>

namespace app {

inline constexpr char kLaunchBusName[] = "org.tonaria.Tonaria";
inline constexpr char kLaunchObjectPath[] = "/org/tonaria/Tonaria";
inline constexpr char kLaunchInterface[] = "org.tonaria.Tonaria.Launch";

enum class LaunchRole {
  kFirst,       // this process holds the name; later launches' files go to the handler
  kHandedOver,  // the running program has taken the file
  kOnItsOwn,    // no bus, or nobody to take the file in time: play it here
};

using HandedFileHandler = std::function<void(const std::u16string& path)>;

// Only where the program may go on the session bus. path: the file to play
// (absolute, UTF-8), or empty. For kFirst, `opened` gets each file a later launch
// hands over (empty: that launch named none), from the event loop once the launch
// has had its answer.
LaunchRole ClaimOrHandOver(const std::string& path, HandedFileHandler opened);

// Gives the name up, so that a launch from now on starts a program of its own
// rather than hand its file to one that is ending. Once the window goes (and again,
// harmlessly, when the message loop has ended).
void ReleaseLaunchName();

}  // namespace app
