#include "app/padwarden_main.h"

#include <unistd.h>

#include "app/instance_lock.h"

namespace padwarden {

int padwarden_main(const std::optional<std::string>& supportFolder, std::FILE* err,
                   Application& application, const DelegateFactory& makeDelegate) {
  InstanceLock lock = acquire_instance_lock(supportFolder);
  if (!lock.held()) return report_instance_lock_failure(lock.error, err);

  // The only owning reference to the delegate for the whole run.
  std::shared_ptr<ApplicationDelegate> delegate = makeDelegate();
  application.setDelegate(delegate);
  application.run();
  close(lock.fd);
  delegate.reset();
  return 0;
}

}  // namespace padwarden
