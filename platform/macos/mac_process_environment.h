// What the process knows about itself on Foundation: its arguments, the main bundle's path,
// the home folder, path standardization and the system log. Created once by the macOS main.
#pragma once

#include "platform/application.h"

namespace padwarden::macos {

class MacProcessEnvironment final : public ProcessEnvironment {
 public:
  MacProcessEnvironment();
  const std::vector<std::string>& arguments() const override { return arguments_; }
  std::string mainBundlePath() const override;
  std::string homeDirectory() const override;
  std::string stringByStandardizingPath(const std::string& path) const override;
  void NSLog(const std::string& line) override;

 private:
  std::vector<std::string> arguments_;
};

}  // namespace padwarden::macos
