// The platform context handed to the session and the controller: one reference to each
// service they reach. The backend that provides them is chosen by whoever builds the program.
#pragma once

#include "platform/core_foundation.h"
#include "platform/hid.h"
#include "platform/preferences.h"
#include "platform/run_loop.h"
#include "platform/system_clock.h"

namespace padwarden {

struct Platform {
  HIDServices& hid;
  CoreFoundation& cf;
  UserDefaults& defaults;
  AppPreferences& preferences;
  RunLoop& runLoop;
  SystemClock& clock;
};

}  // namespace padwarden
