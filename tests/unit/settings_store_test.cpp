// The settings file: open modes, type rules with their exact error texts, and the tree delete.
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

#include "common/AppError.h"
#include "fixtures/ChildProcess.h"
#include "fixtures/SettingsSeed.h"
#include "fixtures/TempDir.h"
#include "settings/SettingsStore.h"
#include "settings/UserChoices.h"

namespace {

constexpr const char* kKey = hw::kSettingsKey;

class SettingsStore : public ::testing::Test {
 protected:
  void SetUp() override { hw::SetSettingsFile(path); }
  void TearDown() override { hw::SetSettingsFile({}); }

  // Writes a value straight into the file, the way another tool or a damaged store could leave it;
  // a path below the program's key seeds a subkey.
  void Seed(const std::string& keyPath, const std::string& name, int type, const std::string& data,
            hwtest::Storage storage = hwtest::Storage::Blob) {
    {
      hw::SettingsAccess create;
      ASSERT_TRUE(create.OpenSettings(true));
    }
    ASSERT_TRUE(hwtest::SeedRawValue(path, keyPath, name, type, data, storage));
  }

  // One text column of the file, rows joined by ",".
  std::string Query(const char* sql) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    std::string rows;
    while (sqlite3_step(statement) == SQLITE_ROW)
      rows += (rows.empty() ? "" : ",") + std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
  }

  static std::string ErrorOf(const std::function<void()>& action) {
    try {
      action();
    } catch (const hw::SettingsError& error) {
      return error.what();
    }
    return "(no error)";
  }

  hwtest::TempDir folder;
  std::string path = folder.File("settings.db");
};

TEST_F(SettingsStore, OpenModes) {
  hw::SettingsAccess access;
  EXPECT_FALSE(access.OpenSettings(false)) << "open-only never creates";
  EXPECT_NE(::access(path.c_str(), F_OK), 0);
  EXPECT_FALSE(access.SettingExists("REG"));
  EXPECT_EQ(ErrorOf([&] { access.WriteFlag("REG", false); }), "Failed to set data for 'REG'");

  ASSERT_TRUE(access.OpenSettings(true));
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  access.CloseSettings();

  hw::SettingsAccess again;
  EXPECT_TRUE(again.OpenSettings(false)) << "the key exists now";
  hw::SettingsAccess second;
  EXPECT_TRUE(second.OpenSettings(false)) << "several accesses may be open at once";
}

// A file made in a folder that a group shares (the installation's 2770 settings folder) is for the
// whole group, whatever the maker's umask; anywhere else it is its maker's alone.
TEST_F(SettingsStore, NewFileIsTheGroupsInAGroupSharedFolder) {
  const std::pair<mode_t, mode_t> cases[] = {{02770, 0660}, {02750, 0600}, {0770, 0600}, {0700, 0600}};
  const mode_t previousMask = ::umask(077);
  for (const auto& [folderMode, fileMode] : cases) {
    hwtest::TempDir shared;
    ASSERT_EQ(::chmod(shared.path().c_str(), folderMode), 0);
    hw::SetSettingsFile(shared.File("settings.db"));
    hw::SettingsAccess access;
    ASSERT_TRUE(access.OpenSettings(true)) << std::oct << folderMode;
    struct stat info {};
    ASSERT_EQ(::stat(shared.File("settings.db").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, fileMode) << std::oct << folderMode;
  }
  ::umask(previousMask);
}

TEST_F(SettingsStore, MissingFolderIsNotCreated) {
  hw::SetSettingsFile(folder.File("missing-folder/settings.db"));
  hw::SettingsAccess access;
  EXPECT_FALSE(access.OpenSettings(true));
  EXPECT_FALSE(access.SettingExists("REG"));
}

// Runs the action on a thread of its own whose credentials lack the capabilities that let root pass
// over file modes, so that a mode check means the same for root as for any user. Capabilities
// belong to one thread, so the rest of the test program keeps them. False when they cannot be shed.
bool RunBoundByFileModes(const std::function<void()>& action) {
  bool shed = false;
  std::thread([&] {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0) return;
    const unsigned overrides = 1u << CAP_DAC_OVERRIDE | 1u << CAP_DAC_READ_SEARCH | 1u << CAP_FOWNER;
    data[0].effective &= ~overrides;
    data[0].permitted &= ~overrides;
    data[0].inheritable &= ~overrides;
    if (::syscall(SYS_capset, &header, data) != 0) return;
    shed = true;
    action();
  }).join();
  return shed;
}

struct ModeCase {
  const char* what;
  bool fileExists;
  unsigned fileMode;
  unsigned folderMode;
};

TEST_F(SettingsStore, NoFullAccessMeansNoAccess) {
  const ModeCase cases[] = {
      {"read-only file", true, 0400, 0700},
      {"file that cannot be read", true, 0200, 0700},
      // The journal that makes a write atomic lives beside the file.
      {"writable file in a read-only folder", true, 0600, 0500},
      {"no file and a read-only folder", false, 0600, 0500},
  };
  for (const ModeCase& c : cases) {
    hwtest::TempDir modes;
    const std::string file = modes.File("settings.db");
    hw::SetSettingsFile(file);
    if (c.fileExists) {
      hw::SettingsAccess create;
      ASSERT_TRUE(create.OpenSettings(true)) << c.what;
      ::chmod(file.c_str(), c.fileMode);
    }
    ::chmod(modes.path().c_str(), c.folderMode);
    bool opened = true, created = true;
    ASSERT_TRUE(RunBoundByFileModes([&] {
      hw::SettingsAccess access;
      opened = access.OpenSettings(false);
      created = access.OpenSettings(true);
      EXPECT_FALSE(access.SettingExists("REG")) << c.what;
    })) << "this thread could not give up its file-mode capabilities";
    EXPECT_FALSE(opened) << c.what;
    EXPECT_FALSE(created) << c.what;
    ::chmod(modes.path().c_str(), 0700);
  }
}

TEST_F(SettingsStore, WrittenValuesReadBack) {
  hw::SettingsAccess access;
  ASSERT_TRUE(access.OpenSettings(true));
  access.WriteFlag("REG", true);
  access.WriteText("username", "alice");
  access.WriteText("password", "");
  EXPECT_TRUE(access.ReadFlag("reg")) << "names ignore letter case";
  EXPECT_EQ(access.ReadText("username"), "alice");
  EXPECT_EQ(access.ReadText("password"), "");
  EXPECT_EQ(access.ReadText("absent"), "");
  access.WriteFlag("REG", false);
  EXPECT_FALSE(access.ReadFlag("REG"));
}

struct TypeCase {
  const char* what;
  int type;
  std::string data;
  const char* flag;  // ReadFlag's result or error
  const char* text;  // ReadText's result or error
  hwtest::Storage storage = hwtest::Storage::Blob;
};

TEST_F(SettingsStore, TypeRulesAsStored) {
  const TypeCase cases[] = {
      {"number 1", 4, std::string("\x01\0\0\0", 4), "true", "Invalid data type for 'v'"},
      {"number 2 counts as set", 4, std::string("\x02\0\0\0", 4), "true", "Invalid data type for 'v'"},
      {"number 0", 4, std::string(4, '\0'), "false", "Invalid data type for 'v'"},
      {"number of 8 bytes", 4, std::string(8, '\0'), "Failed to get data for 'v'", "Invalid data type for 'v'"},
      {"text", 1, std::string("ab\0", 3), "Invalid data type for 'v'", "ab"},
      {"long text", 1, std::string("abcdef\0", 7), "Failed to get data for 'v'", "abcdef"},
      {"expandable text", 2, std::string("%HOME%\0", 7), "Failed to get data for 'v'", "%HOME%"},
      {"text with a NUL inside", 1, std::string("ali\0ce\0", 7), "Failed to get data for 'v'", "ali"},
      {"binary", 3, std::string("\x01\x02", 2), "Invalid data type for 'v'", "Invalid data type for 'v'"},
      {"empty binary", 3, "", "Invalid data type for 'v'", ""},
      // Another tool may store SQL numbers and texts where the program writes blobs.
      {"number as an SQL integer 0", 4, "0", "Invalid data type for 'v'", "Invalid data type for 'v'",
       hwtest::Storage::Integer},
      {"number as an SQL integer 1", 4, "1", "Invalid data type for 'v'", "Invalid data type for 'v'",
       hwtest::Storage::Integer},
      {"number of 2 bytes", 4, std::string("\x01\0", 2), "Invalid data type for 'v'", "Invalid data type for 'v'"},
      {"text as SQL text", 1, "ali", "Invalid data type for 'v'", "ali", hwtest::Storage::Text},
      {"text as an SQL integer", 1, "42", "Invalid data type for 'v'", "Invalid data type for 'v'",
       hwtest::Storage::Integer},
  };
  for (const TypeCase& c : cases) {
    Seed(kKey, "v", c.type, c.data, c.storage);
    hw::SettingsAccess access;
    ASSERT_TRUE(access.OpenSettings(false));
    std::string flagResult, textResult;
    const std::string flagError = ErrorOf([&] { flagResult = access.ReadFlag("v") ? "true" : "false"; });
    const std::string textError = ErrorOf([&] { textResult = access.ReadText("v"); });
    EXPECT_EQ(flagError == "(no error)" ? flagResult : flagError, c.flag) << c.what;
    EXPECT_EQ(textError == "(no error)" ? textResult : textError, c.text) << c.what;
  }
}

TEST_F(SettingsStore, AbsentFlagCannotBeRead) {
  hw::SettingsAccess access;
  ASSERT_TRUE(access.OpenSettings(true));
  EXPECT_EQ(ErrorOf([&] { access.ReadFlag("Remind"); }), "Failed to get data for 'Remind'");
}

TEST_F(SettingsStore, DeleteRemovesTheKeyWithItsValuesAndSubkeys) {
  Seed(std::string(kKey) + "\\Sub", "inner", 1, std::string("x\0", 2));
  Seed("software\\larkmoor systems\\ddns\\Lower\\Deeper", "inner", 1, std::string("x\0", 2));
  Seed(std::string(kKey) + "Suffix", "keep", 1, std::string("y\0", 2));
  Seed("Software\\Other", "keep", 1, std::string("y\0", 2));
  hw::SettingsAccess access;
  ASSERT_TRUE(access.OpenSettings(true));
  access.WriteFlag("Remind", false);
  EXPECT_TRUE(access.DeleteSettingsTree());
  access.CloseSettings();

  EXPECT_FALSE(access.OpenSettings(false)) << "the key is gone";
  EXPECT_EQ(Query("SELECT \"path\" || '/' || name FROM \"values\" ORDER BY 1"),
            "Software\\Larkmoor Systems\\DDNSSuffix/keep,Software\\Other/keep");
  EXPECT_EQ(Query("SELECT \"path\" FROM keys ORDER BY 1"), "Software\\Larkmoor Systems\\DDNSSuffix,Software\\Other");

  ASSERT_TRUE(access.OpenSettings(true)) << "the next start creates it again, empty";
  EXPECT_FALSE(access.SettingExists("Remind"));
}

TEST_F(SettingsStore, WriteIntoAKeyDeletedMeanwhileFails) {
  hw::SettingsAccess outer;  // open across a request, while a nested handler releases the domain
  ASSERT_TRUE(outer.OpenSettings(true));
  {
    hw::SettingsAccess release;
    ASSERT_TRUE(release.OpenSettings(true));
    ASSERT_TRUE(release.DeleteSettingsTree());
  }
  EXPECT_EQ(ErrorOf([&] { outer.WriteText("username", "alice"); }), "Failed to set data for 'username'");
  outer.CloseSettings();

  hw::SettingsAccess next;
  ASSERT_TRUE(next.OpenSettings(true));
  EXPECT_FALSE(next.SettingExists("username")) << "nothing written into the deleted key comes back with it";
}

// Opening only reads: a file that holds no settings tables (empty, or another program's database)
// is left byte for byte as it was.
TEST_F(SettingsStore, OpenOnlyNeverWritesIntoTheFile) {
  struct Case {
    const char* what;
    const char* sql;  // what the file holds; nothing for an empty file
  };
  for (const Case c : {Case{"empty file", nullptr}, Case{"another database", "CREATE TABLE other (x);"}}) {
    hwtest::TempDir files;
    const std::string file = files.File("settings.db");
    hw::SetSettingsFile(file);
    if (c.sql) {
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
      ASSERT_EQ(sqlite3_exec(db, c.sql, nullptr, nullptr, nullptr), SQLITE_OK);
      sqlite3_close(db);
    } else {
      files.Write("settings.db", "");
    }
    const std::string before = hwtest::ReadFileText(file);
    hw::SettingsAccess access;
    EXPECT_FALSE(access.OpenSettings(false)) << c.what;
    access.CloseSettings();
    EXPECT_EQ(hwtest::ReadFileText(file), before) << c.what;
  }
}

// The file is input: objects that are not the store's own make it unusable (a view or trigger
// would run whatever it holds at every access), so a crafted file ends in "no access" at once
// instead of a query that never returns.
TEST_F(SettingsStore, FileWithObjectsOfItsOwnIsRefused) {
  constexpr const char* kEndless = "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) SELECT i FROM n";
  const std::pair<const char*, std::string> cases[] = {
      {"a view in place of the keys",
       std::string("DROP TABLE keys; CREATE VIEW keys AS SELECT 'Software\\Larkmoor Systems\\DDNS' AS \"path\""
                   " FROM (") +
           kEndless + ");"},
      {"a trigger on the values",
       std::string("CREATE TRIGGER t BEFORE INSERT ON \"values\" BEGIN SELECT count(*) FROM (") + kEndless + "); END;"},
      {"another table beside them", "CREATE TABLE other (x);"},
      // Every read of a value would compute its text anew (made larger, a read took half a minute).
      {"a computed column in the values",
       "DROP TABLE \"values\"; CREATE TABLE \"values\" (\"path\" TEXT NOT NULL COLLATE NOCASE,"
       " name TEXT NOT NULL COLLATE NOCASE, data BLOB NOT NULL,"
       " type INTEGER AS (length(hex(zeroblob(5000000)))), PRIMARY KEY (\"path\", name));"
       " INSERT INTO \"values\" (\"path\", name, data) VALUES ('Software\\Larkmoor Systems\\DDNS', 'REG', x'01000000');"},
      {"the store's tables with another default",
       "DROP TABLE keys; CREATE TABLE keys (\"path\" TEXT PRIMARY KEY COLLATE NOCASE DEFAULT (randomblob(9)));"},
  };
  for (const auto& [what, sql] : cases) {
    hwtest::TempDir files;
    hw::SetSettingsFile(files.File("settings.db"));
    {
      hw::SettingsAccess create;
      ASSERT_TRUE(create.OpenSettings(true)) << what;
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(files.File("settings.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << what << sqlite3_errmsg(db);
    sqlite3_close(db);
    const std::string before = hwtest::ReadFileText(files.File("settings.db"));
    hw::SettingsAccess access;
    EXPECT_FALSE(access.OpenSettings(false)) << what;
    EXPECT_FALSE(access.SettingExists("REG")) << what;
    EXPECT_FALSE(access.OpenSettings(true)) << what;
    EXPECT_EQ(ErrorOf([&] { access.WriteFlag("REG", true); }), "Failed to set data for 'REG'") << what;
    EXPECT_EQ(hwtest::ReadFileText(files.File("settings.db")), before) << what << ": the file is left as it was";
  }
}

// Killed at any moment while it writes, the store leaves a file that opens and holds, for every
// value, either what was there or what was being written.
TEST_F(SettingsStore, KilledWhileWritingLosesNothing) {
  {
    hw::SettingsAccess settings;
    ASSERT_TRUE(settings.OpenSettings(true));
    settings.WriteText("username", "old-name");
    settings.WriteText("password", "old-password");
  }
  std::srand(20261210);
  for (int round = 0; round < 1000; ++round) {
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
      for (int i = 0;; ++i) {
        hw::SettingsAccess settings;
        if (!settings.OpenSettings(true)) ::_exit(3);
        settings.WriteText("username", i % 2 ? "new-name" : "old-name");
        settings.WriteText("password", i % 2 ? "new-password" : "old-password");
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(std::rand() % 3000));
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    hw::SettingsAccess settings;
    ASSERT_TRUE(settings.OpenSettings(false)) << "round " << round;
    const std::string name = settings.ReadText("username");
    const std::string password = settings.ReadText("password");
    ASSERT_TRUE(name == "old-name" || name == "new-name") << "round " << round << ": " << name;
    ASSERT_TRUE(password == "old-password" || password == "new-password") << "round " << round << ": " << password;
  }
}

// A choice is read at every query; a value replaced by one of another type fails every query that
// meets it, not only the first, until a readable value stands again. The reader trusts a file's
// stamp only once it is a second old, so the file is let settle before the queries that could be
// answered from the last reading.
TEST_F(SettingsStore, AChoiceOfTheWrongTypeFailsEveryQuery) {
  struct Choice {
    const char* name;
    bool (*wanted)();
  };
  const Choice choices[] = {{"Remind", hw::RemindWanted},
                            {"DualStack", hw::DualStackWanted},
                            {"WatchAddress", hw::WatchAddressWanted}};
  const std::string one("\1\0\0\0", 4), zero("\0\0\0\0", 4), text("on\0", 3);
  struct Step {
    int type;
    std::string data;
    bool settle;
    std::vector<std::string> answers;  // of the queries that follow
  };
  const Step steps[] = {{4, one, false, {"1"}}, {1, text, true, {"error", "error", "error"}}, {4, zero, false, {"0"}}};
  const auto settle = [&] {
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    const auto changed = std::chrono::system_clock::time_point(std::chrono::seconds(status.st_ctim.tv_sec)) +
                         std::chrono::nanoseconds(status.st_ctim.tv_nsec);
    std::this_thread::sleep_until(changed + std::chrono::milliseconds(1100));
  };
  for (const Choice& choice : choices) {
    for (const Step& step : steps) {
      Seed(kKey, choice.name, step.type, step.data);
      if (step.settle) settle();
      for (const std::string& expected : step.answers) {
        std::string got;
        try {
          got = choice.wanted() ? "1" : "0";
        } catch (const std::exception& error) {
          got = "error";
          EXPECT_EQ(hw::MessageOf(error), std::string("Invalid data type for '") + choice.name + "'");
        }
        EXPECT_EQ(got, expected) << choice.name;
      }
    }
  }
}

}  // namespace
