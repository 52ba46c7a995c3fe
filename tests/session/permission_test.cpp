// Input Monitoring refused before the session starts: no manager is made (withdrawn with keys
// held, a held quit that loses it, and a refusal found by the LED write mid-step are told by
// the desk's access_allowed_again.pw, held_quit.pw and led_refused.pw).
#include "session/session_texts.h"
#include "tests/session/session_world.h"

namespace padwarden::testing {
namespace {

namespace texts = session_texts;

class PermissionAtStart : public SessionWorld {};

TEST_F(PermissionAtStart, WaitsWithoutCreatingAManager) {
  plug("kb1");
  world.setPermission(sim::InputMonitoring::Denied);
  startSession("kb1");
  EXPECT_EQ(session->connectionSummary(), texts::kWaitingForPermission);
  EXPECT_EQ(session->errorSummary(), texts::kPermissionRequiredToStart);
  EXPECT_EQ(callsTo("IOHIDManagerCreate"), 0u);
}

}  // namespace
}  // namespace padwarden::testing
