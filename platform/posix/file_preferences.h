// The preferences store on disk, for the program on Linux (POSIX): one binary property-list
// file per user, "<folder>/preferences.plist", holding a dictionary of every key. Both store
// interfaces reach the same cache, with the semantics of the simulated store
// (platform/sim/in_memory_preferences.h) minus its faults: reads come from the cache, writes and
// deletions stay there, pending, until a synchronize saves them, and a synchronize also brings
// in what other processes saved for the keys this one has not changed since.
//
// The file is written in the binary format; it is read in that format or, as an editor or a
// converter may leave it, as an XML property list (platform/posix/xml_plist.h), which the next
// synchronize replaces with the binary form.
//
// Opening reads the file. A file that cannot be decoded, or that does not hold a dictionary, is
// renamed aside to "preferences.plist.corrupt-<unix time>" (with "-2", "-3", ... added when
// that name is taken; an earlier aside file is never replaced, nothing is deleted), one line on
// standard error names the new path, and the store starts empty.
//
// Synchronize takes an advisory lock on the folder (flock, given up after about 0.1 s of
// contention), re-reads the file, applies the pending changes to what it holds, writes the
// whole dictionary to a new temporary file in the same folder (O_CREAT | O_EXCL, mode 0600),
// fsyncs it, renames it over the file and fsyncs the folder. On any failure it answers false,
// keeps the pending changes and the cache as they were, and removes the temporary file; until
// the rename the old file is untouched.
//
// What is not read, written or replaced, for safety:
// - A symbolic link at the file's path is never followed, read or replaced: opening reports it
//   on standard error (one line) and starts empty; every synchronize answers false, keeping the
//   changes pending in memory, until the link is gone.
// - Anything else that is not a regular file there (a folder, a FIFO, ...), or a file that
//   cannot be read, is treated the same way (one line when opening, synchronize false).
// - A file found corrupt by a later synchronize is renamed aside as when opening (with its line
//   on standard error) and the store's own values are written; when it cannot be renamed aside
//   the synchronize answers false rather than overwrite it.
// - A value that cannot be written in the binary format (binary_plist_can_encode false for the
//   key's entry) is dropped when set: the old value stays and nothing becomes pending.
//
// The destructor saves what is pending (a clean exit), best effort and silently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/plist.h"
#include "platform/preferences.h"
#include "platform/preferences_cache.h"

namespace padwarden {

class FilePreferences final : public UserDefaults, public AppPreferences {
 public:
  static constexpr std::string_view kFileName = "preferences.plist";
  // A larger file is taken as corrupt (the decoder's limits would refuse it anyway).
  static constexpr size_t kMaxFileBytes = size_t{128} << 20;

  // The steps of a synchronize that a test can make fail where the file system offers no way
  // to (see FaultHook). Other failures are best provoked for real: a folder at the file's path,
  // a symbolic link there, the folder removed.
  enum class Step { ReadFile, CreateTemporary, WriteTemporary, SyncTemporary, Rename, SyncFolder };
  // Called before each step of a synchronize (not for the read when opening); answering true
  // makes that step fail as with EIO.
  using FaultHook = std::function<bool(Step)>;

  // The store in "<folder>/<fileName>"; the folder must exist for a synchronize to succeed. An
  // empty folder path gives a store that reads nothing and never saves (synchronize false).
  explicit FilePreferences(std::filesystem::path folder,
                           std::string fileName = std::string(kFileName), FaultHook hook = {});
  // The current user's store: "$XDG_CONFIG_HOME/Padwarden" when XDG_CONFIG_HOME is an absolute
  // path, otherwise "$HOME/.config/Padwarden" (the home folder from the password database when
  // HOME is unset or relative). Missing folders are created with mode 0700. Never null: when no
  // folder can be found the store is the empty path's one.
  static std::unique_ptr<FilePreferences> forCurrentUser();
  // Where forCurrentUser's store lives, without creating anything; none when unknown.
  static std::optional<std::filesystem::path> currentUserFolder();

  ~FilePreferences() override;
  FilePreferences(const FilePreferences&) = delete;
  FilePreferences& operator=(const FilePreferences&) = delete;

  std::optional<plist::Value> objectForKey(std::string_view key) override;
  bool boolForKey(std::string_view key) override;
  void setBool(bool value, std::string_view forKey) override;

  std::optional<plist::Value> CFPreferencesCopyAppValue(std::string_view key) override;
  void CFPreferencesSetAppValue(std::string_view key, std::optional<plist::Value> value) override;
  bool CFPreferencesAppSynchronize() override;
  std::string location() const override { return path_.string(); }

  bool hasPendingChanges() const { return cache_.hasPending(); }
  // Files this process has written (renamed into place), for counting the writes of a day.
  static uint64_t filesWritten();
  // The process died: what it did not save is gone, and the destructor saves nothing.
  void discardPendingChanges() { cache_.forgetPending(); }
  const std::filesystem::path& folder() const { return folder_; }
  // The file's path (empty for the empty folder's store).
  const std::filesystem::path& path() const { return path_; }

 private:
  class Folder;
  enum class ReadOutcome { Missing, Loaded, Corrupt, Refused };
  struct ReadResult {
    ReadOutcome outcome = ReadOutcome::Missing;
    plist::Dictionary values;
    bool binary = false;  // loaded from the binary format (not from XML)
    std::string reason;   // why it is corrupt or refused
  };

  bool injected(Step step) const { return hook_ && hook_(step); }
  std::optional<plist::Value> lookup(std::string_view key) const;
  void change(std::string_view key, std::optional<plist::Value> value);
  // `synchronizing`: a synchronize's read, which the fault hook may fail.
  ReadResult readFile(int folderFd, bool synchronizing) const;
  // Renames a corrupt file aside and says so on standard error (one line, worded for opening
  // or for a synchronize); false when it could not.
  bool moveAside(int folderFd, const std::string& reason, bool opening) const;
  bool writeTemporary(int folderFd, const std::vector<uint8_t>& bytes, std::string& name) const;

  std::filesystem::path folder_;
  std::string fileName_;
  std::filesystem::path path_;
  FaultHook hook_;
  PreferencesCache cache_;
};

}  // namespace padwarden
