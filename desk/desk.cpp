#include "desk/desk.h"

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "app/padwarden_app_delegate.h"
#include "app/instance_lock.h"
#include "app/padwarden_main.h"
#include "platform/posix/file_preferences.h"

namespace padwarden::desk {

Desk::Desk(DeskSettings settings, std::ostream& out) : settings_(std::move(settings)), out_(out) {
  world_.observeMappingWrites([this](const sim::MappingWrite& write) {
    // Another program's value, or none after the event system lost every mapping: what the
    // keyboard would hold had Padwarden never run.
    if (write.writer != sim::MappingWriter::Program && write.serviceIndex == 0) {
      originals_[write.keyboard] = write.written;
    }
    if (write.writer == sim::MappingWriter::Program) ++programWrites_[write.keyboard];
  });
  world_.setPermission(sim::InputMonitoring::Granted);
  // The desk runs for days: it keeps no trace of the program's calls (fault rules still count
  // them), so that memory does not grow with time.
  world_.recorder().recording = false;
}

Desk::~Desk() = default;

std::optional<int> Desk::launch(const std::vector<std::string>& arguments) {
  sim::Process& process = world_.launch(arguments);
  process.application().onAlert = [this](const AlertContent& alert) {
    out_ << "alert: " << alert.messageText << "\n       " << alert.informativeText << "\n";
  };

  auto makeDelegate = [this, &process]() -> std::shared_ptr<ApplicationDelegate> {
    if (settings_.durableStore) {
      std::shared_ptr<FilePreferences> store = FilePreferences::forCurrentUser();
      process.usePreferences(*store, *store);
      process.atEnd([raw = store.get()](bool normalExit) {
        // A clean exit saves what is pending; a crash loses it, as in a real process.
        if (normalExit) {
          raw->CFPreferencesAppSynchronize();
        } else {
          raw->discardPendingChanges();
        }
      });
      process.retain(store);
    }
    return PadwardenAppDelegate::create(process.platform(), process.applicationPlatform());
  };

  char* text = nullptr;
  size_t size = 0;
  std::FILE* err = open_memstream(&text, &size);
  auto started = start_padwarden(settings_.lockFolder, err ? err : stderr, process.application(),
                                 makeDelegate);
  if (err) std::fclose(err);
  const std::string mainLine = text ? text : "";
  std::free(text);

  if (const int* status = std::get_if<int>(&started)) {
    std::ostream& errors = settings_.mainErrors ? *settings_.mainErrors : out_;
    errors << mainLine;
    if (*status != 0) {
      // The line the program prints names no file; the desk says which one it tried.
      const std::optional<std::string> path = instance_lock_path(settings_.lockFolder);
      errors << (path ? "The lock file is " + *path + "\n"
                      : std::string("No folder for the lock file was found (set XDG_DATA_HOME "
                                    "or HOME).\n"));
    }
    if (!settings_.mainErrors) out_ << "(Padwarden ended with status " << *status << ")\n";
    world_.exit();
    wasRunning_ = false;
    return *status;
  }
  StartedProgram& program = std::get<StartedProgram>(started);
  // The kernel drops the lock when the process ends, however it ends.
  process.atEnd([fd = program.lockFd](bool) { close(fd); });
  process.retain(program.delegate);
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

bool Desk::quit() {
  if (sim::Process* process = world_.process()) {
    process->application().terminate();
    world_.runDue();
    reportChanges();
  }
  return !running();
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
