#pragma once
#include <chrono>
#include <optional>
#include <string>

struct sqlite3;

namespace hw {

// The per-machine settings live in one SQLite file (readable by any SQLite tool) that stands where
// a registry hive would: keys by path, values by name with a registry type number and raw data.
inline constexpr const char* kSettingsKey = "Software\\Larkmoor Systems\\DDNS";

// The settings file; the build value unless a test or the run script pointed elsewhere.
std::string SettingsFile();
void SetSettingsFile(std::string path);
// How many writes (values, deletions) this program has made to the settings: a reader that keeps
// an answer knows by it that the answer may be stale, even where the file's stamp cannot tell.
unsigned SettingsWriteCount();
// The database's own change counter (its header's, raised by every write of any program), read
// without opening the database; nothing when the file cannot be read.
std::optional<unsigned> SettingsChangeCounter();

// One access to the settings key: opened, used and closed within one handler. The destructor
// closes it on every path, errors included. Nothing is cached between accesses. The file is input:
// one that holds anything but the store's own tables is refused as unusable, and no statement runs
// longer than a second.
class SettingsAccess {
 public:
  SettingsAccess() = default;
  ~SettingsAccess();
  SettingsAccess(const SettingsAccess&) = delete;
  SettingsAccess& operator=(const SettingsAccess&) = delete;

  // Opens the key with full access: true when the file can be read and written and the key exists
  // (or, with createIfMissing, has been created). After false, reads find nothing and writes fail.
  bool OpenSettings(bool createIfMissing);
  bool SettingExists(const std::string& name);
  // A 32-bit number of at most 4 bytes; nonzero is true.
  bool ReadFlag(const std::string& name);
  // Text or expandable text (unexpanded), up to its first NUL; absent or empty gives "".
  std::string ReadText(const std::string& name);
  void WriteFlag(const std::string& name, bool value);
  void WriteText(const std::string& name, const std::string& text);
  // Deletes the key with all its values and subkeys; true when the key was there and is gone.
  bool DeleteSettingsTree();
  void CloseSettings();

 private:
  struct StoredValue;
  bool ReadValue(const std::string& name, StoredValue& value);
  void WriteValue(const std::string& name, int type, const std::string& data);

  // Starts the time bound of the statements of one operation.
  void Arm();

  sqlite3* db_ = nullptr;
  bool holdsSqlite_ = false;  // the library stays loaded while the access is open
  std::chrono::steady_clock::time_point deadline_{};
};

}  // namespace hw
