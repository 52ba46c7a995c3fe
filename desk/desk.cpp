#include "desk/desk.h"

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "app/instance_lock.h"
#include "app/padwarden_app_delegate.h"
#include "platform/posix/file_preferences.h"

namespace padwarden::desk {

Desk::Desk(DeskSettings settings, std::ostream& out) : settings_(std::move(settings)), out_(out) {
  world_.observeMappingWrites([this](const sim::MappingWrite& write) {
    if (write.writer == sim::MappingWriter::OtherParty && write.serviceIndex == 0) {
      originals_[write.keyboard] = write.written;
    }
  });
  world_.setPermission(sim::InputMonitoring::Granted);
}

Desk::~Desk() = default;

std::optional<int> Desk::launch(const std::vector<std::string>& arguments) {
  sim::Process& process = world_.launch(arguments);

  // main: the per-user lock before anything else, with its line on standard error.
  InstanceLock lock = acquire_instance_lock(settings_.lockFolder);
  if (!lock.held()) {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* err = open_memstream(&text, &size);
    const int status = report_instance_lock_failure(lock.error, err ? err : stderr);
    if (err) std::fclose(err);
    std::ostream& errors = settings_.mainErrors ? *settings_.mainErrors : out_;
    if (text) errors << text;
    std::free(text);
    if (!settings_.mainErrors) out_ << "(Padwarden ended with status " << status << ")\n";
    world_.exit();
    wasRunning_ = false;
    return status;
  }
  // The kernel drops the lock when the process ends, however it ends.
  process.atEnd([fd = lock.fd](bool) { close(fd); });

  if (settings_.durableStore) {
    std::shared_ptr<FilePreferences> store = FilePreferences::forCurrentUser();
    process.usePreferences(*store, *store);
    process.atEnd([raw = store.get()](bool normalExit) {
      // A clean exit saves what is pending; a crash loses it, as it would in a real process.
      if (normalExit) {
        raw->CFPreferencesAppSynchronize();
      } else {
        raw->discardPendingChanges();
      }
    });
    process.retain(store);
  }

  auto delegate = PadwardenAppDelegate::create(process.platform(), process.applicationPlatform());
  process.retain(delegate);
  process.application().onAlert = [this](const AlertContent& alert) {
    out_ << "alert: " << alert.messageText << "\n       " << alert.informativeText << "\n";
    ++alertsShown_;
  };
  process.application().setDelegate(delegate);
  process.application().run();
  return std::nullopt;
}

void Desk::advance(uint64_t nanoseconds) {
  world_.advanceNanoseconds(nanoseconds);
  reportChanges();
}

std::optional<uint64_t> Desk::nextDue() {
  sim::Process* process = world_.process();
  if (!process) return std::nullopt;
  return process->runLoop().nextDue();
}

Desk::Snapshot Desk::snapshot() {
  Snapshot s;
  sim::Process* process = world_.process();
  if (!process) return s;
  s.running = true;
  const sim::SimStatusItem* item = process->application().statusItem();
  if (!item) return s;
  const ImageRef& image = item->simButton().image();
  // The on icon is the green one.
  s.iconOn = image && image->drawing().stroke.green > image->drawing().stroke.red;
  if (!item->menu()) return s;
  for (const MenuItemRef& entry : item->menu()->items()) {
    s.lines.push_back(MenuLine{entry->title(), entry->isEnabled(), entry->hasAction(),
                               entry->isSeparatorItem(), entry->toolTip()});
  }
  return s;
}

void Desk::printSnapshot(const Snapshot& s) {
  if (!s.running) {
    out_ << "[Padwarden is not running]\n";
    return;
  }
  out_ << "[status item: icon " << (s.iconOn ? "on (green 1)" : "off (grey 1)") << "]\n";
  for (const MenuLine& line : s.lines) {
    if (line.separator) {
      out_ << "  ----\n";
      continue;
    }
    out_ << "  " << line.title;
    if (line.command && !line.enabled) out_ << "   (disabled)";
    if (line.toolTip) out_ << "   [tooltip: " << *line.toolTip << "]";
    out_ << "\n";
  }
}

void Desk::showMenu() {
  shown_ = snapshot();
  printSnapshot(shown_);
}

void Desk::reportChanges() {
  sim::Desktop& desktop = world_.desktop();
  for (; logShown_ < desktop.systemLog.size(); ++logShown_) {
    out_ << "system log: " << desktop.systemLog[logShown_] << "\n";
  }
  for (; urlsShown_ < desktop.openedURLs.size(); ++urlsShown_) {
    out_ << "System Settings opens: " << desktop.openedURLs[urlsShown_] << "\n";
  }
  const bool running = world_.process() != nullptr;
  if (wasRunning_ && !running) out_ << "Padwarden is no longer running.\n";
  wasRunning_ = running;
  Snapshot now = snapshot();
  if (now != shown_) {
    shown_ = now;
    printSnapshot(shown_);
  }
}

std::optional<plist::Value> Desk::storedValue(const std::string& key) {
  if (!settings_.durableStore) {
    const plist::Dictionary& values = world_.disk().values;
    if (auto it = values.find(key); it != values.end()) return it->second;
    return std::nullopt;
  }
  // What is on disk now, read as another process would.
  std::unique_ptr<FilePreferences> reader = FilePreferences::forCurrentUser();
  auto value = reader->CFPreferencesCopyAppValue(key);
  return value;
}

}  // namespace padwarden::desk
