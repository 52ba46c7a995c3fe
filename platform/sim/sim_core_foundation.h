// One program process's object allocations on the simulated machine. Owned by a sim::Process;
// every call is traced and can be made to fail, so that each "could not allocate" path of the
// program can be reached.
#pragma once

#include "platform/core_foundation.h"
#include "platform/sim/call_recorder.h"

namespace padwarden::sim {

class SimCoreFoundation final : public CoreFoundation {
 public:
  explicit SimCoreFoundation(ProcessLink& link) : link_(link) {}

  std::optional<plist::Array> CFArrayCreateMutable() override;
  std::optional<plist::Dictionary> CFDictionaryCreateMutable() override;
  std::optional<plist::Value> CFNumberCreateSInt32(int32_t value) override;
  std::optional<plist::Value> CFNumberCreateSInt64(int64_t value) override;
  std::optional<std::string> CFStringCreateWithCString(const char* utf8) override;
  bool malloc(std::size_t bytes) override;

 private:
  ProcessLink& link_;
};

}  // namespace padwarden::sim
