// Which keyboards get a session when a property is present with the wrong kind of value (the
// desk cannot plug those; its discovery.pw tells the rest of finding keyboards).
#include "tests/controller/controller_world.h"

namespace padwarden::testing {
namespace {

class Discovery : public ControllerWorld {};

TEST_F(Discovery, APropertyOfTheWrongKindIsNoClaim) {
  plug(sim::usb_keyboard("builtin-string").set("Built-In", "Yes"));
  // A string is no claim of being virtual.
  plug(sim::usb_keyboard("virtual-string").set("HIDVirtualDevice", "true"));
  start();
  ASSERT_EQ(controller->sessions().size(), 1u);
  EXPECT_TRUE(session("virtual-string"));
  tap("builtin-string", kCapsLock);
  EXPECT_FALSE(mapping("builtin-string")) << "a built-in keyboard must be left alone";
}

}  // namespace
}  // namespace padwarden::testing
