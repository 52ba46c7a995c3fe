// Cost of the session's work per keyboard event on the simulated world: an ordinary key
// report (parse and state update only), and a Num Lock press that switches the keypad mode
// (LED write, lease check with a synchronize, mapping write and read-back). The simulated
// platform's own bookkeeping is included, so these are upper bounds for the session's part.
#include <benchmark/benchmark.h>

#include "platform/sim/world.h"
#include "session/keyboard_matching.h"
#include "session/keyboard_session.h"

namespace {

using padwarden::KeyboardSession;
namespace sim = padwarden::sim;

struct Bed {
  Bed() {
    world.plug(sim::usb_keyboard("kb1"));
    world.launch();
    world.recorder().recording = false;  // keep the trace from growing without bound
    session = KeyboardSession::create(world.process()->platform(),
                                      padwarden::registry_id_string(*world.deviceRegistryID("kb1")),
                                      "ID", [] {});
    session->start();
    world.runDue();
    world.tap("kb1", 0x39);
    world.runDue();
  }
  sim::World world;
  std::shared_ptr<KeyboardSession> session;
};

void BM_session_ordinary_key_report(benchmark::State& state) {
  Bed bed;
  for (auto _ : state) {
    bed.world.press("kb1", 0x04);
    bed.world.runDue();
    bed.world.release("kb1", 0x04);
    bed.world.runDue();
    bed.world.typed().clear();
  }
  state.SetItemsProcessed(2 * state.iterations());
}
BENCHMARK(BM_session_ordinary_key_report);

void BM_session_num_lock_mode_switch(benchmark::State& state) {
  Bed bed;
  for (auto _ : state) {
    bed.world.tap("kb1", 0x53);
    bed.world.runDue();
    bed.world.typed().clear();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_session_num_lock_mode_switch);

}  // namespace
