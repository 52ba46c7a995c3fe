#include "app/padwarden_main.h"

#include <unistd.h>

#include "app/instance_lock.h"

namespace padwarden {

std::variant<StartedProgram, int> start_padwarden(const std::optional<std::string>& supportFolder,
                                                  std::FILE* err, Application& application,
                                                  const DelegateFactory& makeDelegate) {
  InstanceLock lock = acquire_instance_lock(supportFolder);
  if (!lock.held()) return report_instance_lock_failure(lock.error, err);

  StartedProgram program{lock.fd, makeDelegate()};
  application.setDelegate(program.delegate);
  application.run();
  return program;
}

int padwarden_main(const std::optional<std::string>& supportFolder, std::FILE* err,
                   Application& application, const DelegateFactory& makeDelegate) {
  auto started = start_padwarden(supportFolder, err, application, makeDelegate);
  if (const int* status = std::get_if<int>(&started)) return *status;
  StartedProgram& program = std::get<StartedProgram>(started);
  close(program.lockFd);
  program.delegate.reset();
  return 0;
}

}  // namespace padwarden
