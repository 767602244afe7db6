// Self-update pieces without windows: the version record of a program file, signed builds, the
// download, the updater's file swap and the atomic replacement of the client.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "BuildConfig.h"
#include "common/AppError.h"
#include "fixtures/ChildProcess.h"
#include "fixtures/FakeService.h"
#include "fixtures/TempDir.h"
#include "fixtures/VersionRecord.h"
#include "update/BuildFile.h"
#include "update/Download.h"
#include "update/ReplaceFile.h"
#include "update/SignedBuild.h"
#include "update/UpdateFiles.h"
#include "update/UpdateFolder.h"
#include "update/Version.h"

namespace {

using hwtest::FakeService;
using hwtest::ReadFileText;
using hwtest::Reply;
using hwtest::TempDir;
using hwtest::V;

TEST(OwnVersion, IsTheProjectVersionReadFromTheProgramFile) {
  EXPECT_EQ(hw::VersionText(hw::GetOwnVersion()), HW_BUILD_VERSION);
}

TEST(OwnVersion, RecordIsFoundWhereverItStandsInTheFile) {
  TempDir folder;
  const std::string block(hw::kVersionScanBlock, 'x');
  const std::pair<const char*, std::string> cases[] = {
      {"alone", hwtest::VersionRecord("1.3.0.9")},
      {"after a marker without a version", hwtest::VersionRecord("") + "junk" + hwtest::VersionRecord("2.0.1.0")},
      {"across a block edge", std::string(hw::kVersionScanBlock - 10, 'x') + hwtest::VersionRecord("1.4.0.0") + block},
      {"at the end of a large file", std::string(20 * block.size(), 'x') + hwtest::VersionRecord("7.8.9.10")},
  };
  const char* expected[] = {"1.3.0.9", "2.0.1.0", "1.4.0.0", "7.8.9.10"};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto version = hw::FileVersionOf(folder.Write("program", cases[i].second));
    ASSERT_TRUE(version.has_value()) << cases[i].first;
    EXPECT_EQ(hw::VersionText(*version), expected[i]) << cases[i].first;
  }
  EXPECT_FALSE(hw::FileVersionOf(folder.Write("plain", "no record here")).has_value());
  EXPECT_FALSE(hw::FileVersionOf(folder.File("missing")).has_value());
}

// The program file is searched once and again whenever it is no longer the file searched last.
TEST(OwnVersion, ReaderSearchesAgainOnlyAfterTheFileChanged) {
  TempDir folder;
  hw::FileVersionReader reader;
  const std::string file = folder.Write("program", "head" + hwtest::VersionRecord("1.3.0.1"));
  EXPECT_EQ(hw::VersionText(reader.Read(file)), "1.3.0.1");

  struct Change {
    const char* name;
    std::function<void()> apply;
    const char* expected;
  };
  const Change changes[] = {
      {"replaced by a rename, same size",
       [&] { std::filesystem::rename(folder.Write("next", "head" + hwtest::VersionRecord("1.3.0.2")), file); },
       "1.3.0.2"},
      {"rewritten in place, another size", [&] { folder.Write("program", hwtest::VersionRecord("1.3.0.3")); },
       "1.3.0.3"},
      {"removed", [&] { std::filesystem::remove(file); }, "0.0.0.0"},
  };
  for (const Change& change : changes) {
    change.apply();
    EXPECT_EQ(hw::VersionText(reader.Read(file)), change.expected) << change.name;
  }
  EXPECT_EQ(hw::VersionText(reader.Read(folder.Write("other", hwtest::VersionRecord("2.0.0.0")))), "2.0.0.0");
}

TEST(Version, NewerComparesPartByPart) {
  struct Case {
    const char* own;
    const char* offered;
    bool newer;
  };
  const Case cases[] = {{"1.3.0.0", "1.3.0.1", true},  {"1.3.0.0", "1.3.0.0", false},   {"1.3.0.0", "1.2.9.9", false},
                        {"1.3.0.0", "1.4.0.0", true},  {"1.3.0.0", "2.0.0.0", true},    {"1.3.0.9", "1.3.1.0", true},
                        {"2.0.0.0", "1.9.9.9", false}, {"1.3.0.0", "1.3.0.65535", true}};
  for (const Case& c : cases) EXPECT_EQ(hw::IsNewerVersion(V(c.own), V(c.offered)), c.newer) << c.offered;
}

// The signed file of a build: only a whole file, signed by the trusted key, of a newer version than
// the installed client, yields its payload.
TEST(SignedBuild, OnlyAWholeNewerBuildSignedByTheTrustedKeyPasses) {
  const hw::KeyPair key = hw::MakeKeyPair();
  const hw::KeyPair otherKey = hw::MakeKeyPair();
  const std::string payload = "#!/bin/sh\n# the new client\n" + hwtest::VersionRecord("1.3.0.1");
  const std::string good = hw::SignBuild(payload, V("1.3.0.1"), key.secretKey);
  std::string tamperedPayload = good;
  tamperedPayload.back() ^= 1;
  std::string tamperedVersion = good;
  tamperedVersion[14] = 9;  // the build part of the version
  struct Case {
    const char* what;
    std::string file;
    std::string publicKey;
    bool passes;
  };
  const Case cases[] = {
      {"valid", good, key.publicKey, true},
      {"payload changed", tamperedPayload, key.publicKey, false},
      {"version changed", tamperedVersion, key.publicKey, false},
      {"truncated", good.substr(0, good.size() - 1), key.publicKey, false},
      {"header only", good.substr(0, hw::kBuildHeaderBytes), key.publicKey, false},
      {"empty", "", key.publicKey, false},
      {"unsigned program", payload, key.publicKey, false},
      {"signed by another key", hw::SignBuild(payload, V("1.3.0.1"), otherKey.secretKey), key.publicKey, false},
      {"older build replayed", hw::SignBuild(payload, V("1.2.0.0"), key.secretKey), key.publicKey, false},
      {"same version", hw::SignBuild(payload, V("1.3.0.0"), key.secretKey), key.publicKey, false},
      {"header newer than the program's own record", hw::SignBuild(payload, V("1.3.0.9"), key.secretKey),
       key.publicKey, false},
      {"program without a record", hw::SignBuild("#!/bin/sh\n", V("1.3.0.1"), key.secretKey), key.publicKey, false},
      {"no key built in", good, "", false},
  };
  for (const Case& c : cases) {
    std::string refusal;
    const auto verified = hw::VerifyBuild(c.file, c.publicKey, V("1.3.0.0"), refusal);
    EXPECT_EQ(verified.has_value(), c.passes) << c.what << ": " << refusal;
    EXPECT_EQ(verified.value_or(refusal), c.passes ? payload : refusal) << c.what;
    EXPECT_NE(refusal.empty(), !c.passes) << c.what;
  }
}

TEST(SignedBuild, KeysTravelAsHexadecimal) {
  const hw::KeyPair key = hw::MakeKeyPair();
  EXPECT_EQ(hw::BytesOfHex(hw::HexOf(key.publicKey)), key.publicKey);
  EXPECT_EQ(hw::HexOf("\x01\xab"), "01ab");
  EXPECT_FALSE(hw::BytesOfHex("abc").has_value());
  EXPECT_FALSE(hw::BytesOfHex("zz").has_value());
}

class Download : public ::testing::Test {
 protected:
  std::string Fetch(const std::string& path, const hw::DownloadLimits& limits = {}) {
    hw::DownloadToFile(fake.url(path), folder.File("hostwarden.ex_"), "Hostwarden", limits);
    return ReadFileText(folder.File("hostwarden.ex_"));
  }
  TempDir folder;
  FakeService fake;
};

TEST_F(Download, SavesTheBodyWhateverTheStatus) {
  const std::string build(300000, 'b');
  const std::pair<Reply, std::string> cases[] = {
      {Reply::Ok(build), build},
      {Reply::Ok(""), ""},
      {Reply::Raw("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot here."), "not here."},
  };
  for (const auto& [reply, saved] : cases) {
    folder.Write("hostwarden.ex_", "old content is truncated");
    fake.Enqueue(reply);
    EXPECT_EQ(Fetch("/hostwarden1.3.0.1"), saved);
  }
  const std::string request = fake.Requests().at(0);
  EXPECT_TRUE(request.starts_with("GET /hostwarden1.3.0.1 HTTP/1.1\r\n")) << request;
  EXPECT_NE(request.find("\r\nUser-Agent: Hostwarden\r\n"), std::string::npos) << request;
}

// Redirects are taken on the service's own scheme and host only; a redirect's own body is not saved.
TEST_F(Download, FollowsRedirectsOnlyOnTheServicesOwnSchemeAndHost) {
  const std::string port = std::to_string(fake.port());
  struct Case {
    const char* what;
    std::string location;
    bool followed;
  };
  const Case cases[] = {
      {"a path", "/builds/1.3.0.1", true},
      {"the same origin, spelt in capitals", "HTTP://127.0.0.1:" + port + "/builds/1.3.0.1", true},
      {"another host", "http://localhost:" + port + "/builds/1.3.0.1", false},
      {"another port", "http://127.0.0.1:1/builds/1.3.0.1", false},
      {"another protocol", "ftp://127.0.0.1:" + port + "/builds/1.3.0.1", false},
      {"a local file", "file:///etc/passwd", false},
  };
  for (const Case& c : cases) {
    const std::size_t before = fake.Requests().size();
    fake.Enqueue(Reply::Raw("HTTP/1.1 302 Found\r\nLocation: " + c.location + "\r\nContent-Length: 6\r\n\r\nmoved."));
    if (c.followed) fake.Enqueue(Reply::Ok("the build"));
    EXPECT_EQ(Fetch("/hostwarden1.3.0.1"), c.followed ? "the build" : "") << c.what;
    ASSERT_EQ(fake.Requests().size() - before, c.followed ? 2u : 1u) << c.what;
    if (c.followed) {
      EXPECT_TRUE(fake.Requests().back().starts_with("GET /builds/1.3.0.1 ")) << c.what;
    }
  }
}

// Whether the transfer came to its end is told apart from what it saved: only a whole 200 counts.
TEST_F(Download, SaysWhetherTheTransferCompleted) {
  const std::pair<Reply, bool> cases[] = {
      {Reply::Ok("the build"), true},
      {Reply::Ok(""), true},
      {Reply::Raw("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot here."), false},
      {Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(500, 'h')), false},
      {Reply::Raw("HTTP/1.1 302 Found\r\nLocation: http://localhost:1/x\r\nContent-Length: 0\r\n\r\n"), false},
  };
  for (const auto& [reply, complete] : cases) {
    fake.Enqueue(reply);
    EXPECT_EQ(hw::DownloadToFile(fake.url("/hostwarden"), folder.File("hostwarden.ex_"), "Hostwarden"), complete)
        << reply.bytes.substr(0, 20);
  }
}

// A redirect loop ends after a few hops, and the file holds nothing of it.
TEST_F(Download, RedirectLoopEnds) {
  for (int hop = 0; hop < 10; ++hop)
    fake.Enqueue(Reply::Raw("HTTP/1.1 302 Found\r\nLocation: /again\r\nContent-Length: 0\r\n\r\n"));
  EXPECT_EQ(Fetch("/hostwarden"), "");
  EXPECT_EQ(fake.Requests().size(), 6u) << "the first request and five redirects";
}

// A transfer that goes on too long or too far stops as a dropped connection would: the file keeps
// what came, and no error is raised.
TEST_F(Download, StopsAtItsBoundsKeepingWhatCame) {
  hw::DownloadLimits limits;
  limits.maxBytes = 100000;
  fake.Enqueue(Reply::Raw("HTTP/1.0 200 OK\r\n\r\n").ThenEndlessly(std::string(4096, 'e')));
  const std::string endless = Fetch("/hostwarden", limits);
  EXPECT_LE(endless.size(), limits.maxBytes);
  EXPECT_GT(endless.size(), 0u);

  limits.stallSeconds = 1;
  fake.Enqueue(Reply::Silent());  // accepts and never answers
  EXPECT_EQ(Fetch("/hostwarden", limits), "");

  // A byte now and then keeps the stall bound away; the bound on the whole transfer still ends it.
  limits.stallSeconds = 60;
  limits.overallSeconds = 1;
  fake.Enqueue(Reply::Raw("HTTP/1.0 200 OK\r\n\r\n").ThenEndlessly("x", 100));
  const std::string dribbled = Fetch("/hostwarden", limits);
  EXPECT_GT(dribbled.size(), 0u);
  EXPECT_LT(dribbled.size(), 100u);
}

TEST_F(Download, FileErrorsCarryTheRuntimesTexts) {
  std::filesystem::create_directory(folder.File("a-folder"));
  const std::pair<std::string, std::string> cases[] = {
      {folder.File("missing-folder/hostwarden.ex_"), "File not found"},
      {folder.File("a-folder"), "File access denied"},
  };
  for (const auto& [file, text] : cases) {
    try {
      hw::DownloadToFile(fake.url("/hostwarden"), file, "Hostwarden");
      ADD_FAILURE() << file;
    } catch (const hw::FileError& error) {
      EXPECT_EQ(error.Message(), text) << file;
    }
  }
  EXPECT_TRUE(fake.Requests().empty()) << "nothing is fetched for a file that cannot be made";
}

// A transfer that stops half-way keeps what came and ends quietly; a full disk is the file's error.
TEST_F(Download, StoppedHalfWayOrOntoAFullDisk) {
  fake.Enqueue(Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(500, 'h')));
  EXPECT_EQ(Fetch("/hostwarden"), std::string(500, 'h'));

  fake.Enqueue(Reply::Ok(std::string(5000, 'f')));
  try {
    hw::DownloadToFile(fake.url("/hostwarden"), "/dev/full", "Hostwarden");
    ADD_FAILURE() << "a full disk must be reported";
  } catch (const hw::FileError& error) {
    EXPECT_EQ(error.Message(), "Disk full");
  }
}

// The updater's swap, in the program folder (the working directory).
TEST(PromoteLoader, MovesAWaitingUpdaterIntoPlace) {
  struct Case {
    const char* what;
    bool replacement;
    bool loader;
    bool loaderIsFolder;
    std::string loaderAfter;  // empty: no file
    bool replacementStays;
  };
  const Case cases[] = {
      {"nothing waits", false, true, false, "old", false},
      {"no updater yet", true, false, false, "new", false},
      {"updater replaced", true, true, false, "new", false},
      {"updater cannot be deleted", true, true, true, "", true},
  };
  const auto previous = std::filesystem::current_path();
  for (const Case& c : cases) {
    TempDir folder;
    std::filesystem::current_path(folder.path());
    if (c.replacement) folder.Write("loader.ex_", "new");
    if (c.loader && !c.loaderIsFolder) folder.Write("loader.exe", "old");
    if (c.loaderIsFolder) std::filesystem::create_directories(folder.File("loader.exe/inside"));
    hw::PromoteLoader();
    if (!c.loaderIsFolder) {
      EXPECT_EQ(ReadFileText(folder.File("loader.exe")), c.loaderAfter) << c.what;
    }
    EXPECT_EQ(std::filesystem::exists(folder.File("loader.ex_")), c.replacementStays) << c.what;
    std::filesystem::current_path(previous);
  }
}

// The new file keeps the old one's permissions, but never more than 0755: no set-user-ID or
// set-group-ID bit and nothing for others to write survives. Nothing planted beside it is followed.
TEST(ReplaceFile, NewContentWithTheOldPermissionsAtMost0755) {
  const std::pair<mode_t, mode_t> cases[] = {{0750, 0750}, {0755, 0755}, {04755, 0755}, {02755, 0755}, {0777, 0755}};
  for (const auto& [before, after] : cases) {
    TempDir folder, elsewhere;
    const std::string file = folder.Write("Hostwarden", "old client");
    ASSERT_EQ(::chmod(file.c_str(), before), 0);
    const std::string target = elsewhere.Write("victim", "untouched");
    std::filesystem::create_symlink(target, folder.File("Hostwarden.new"));  // the name once used
    hw::ReplaceFileAtomically(file, "new client");
    EXPECT_EQ(ReadFileText(file), "new client");
    struct stat info {};
    ASSERT_EQ(::lstat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, after) << std::oct << before;
    EXPECT_EQ(ReadFileText(target), "untouched");
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.path())) ++entries;
    EXPECT_EQ(entries, 2u) << "the file and the planted link, nothing left over";
  }
}

// What may lie at the update file's name: only a regular file is read, and nothing there can make
// the reader wait or follow a link.
TEST(BuildFile, OnlyARegularFileIsRead) {
  TempDir folder, elsewhere;
  const std::string target = elsewhere.Write("build", "linked");
  std::filesystem::create_symlink(target, folder.File("link"));
  ASSERT_EQ(::mkfifo(folder.File("fifo").c_str(), 0600), 0);
  std::filesystem::create_directory(folder.File("folder"));
  struct Case {
    const char* what;
    std::string path;
    const char* problem;  // nothing: read
  };
  const Case cases[] = {
      {"regular file", folder.Write("file", "the build"), nullptr},
      {"symbolic link", folder.File("link"), "it is a symbolic link"},
      {"FIFO", folder.File("fifo"), "it is not a regular file"},
      {"device", "/dev/zero", "it is not a regular file"},
      {"folder", folder.File("folder"), "it is not a regular file"},
      {"missing", folder.File("missing"), "No such file or directory"},
  };
  for (const Case& c : cases) {
    std::string problem;
    const auto bytes = hw::ReadBuildFile(c.path, problem);
    EXPECT_EQ(bytes.has_value(), c.problem == nullptr) << c.what;
    EXPECT_EQ(problem, c.problem ? c.problem : "") << c.what;
  }
  for (const char* name : {"link", "fifo", "folder", "file"}) {
    hw::RemoveBuildFile(folder.File(name));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(folder.File(name)))) << name;
  }
  EXPECT_EQ(ReadFileText(target), "linked") << "a link is removed, never its target";
}

// Only a folder that its owner alone may write, and that the running user owns, can be updated.
TEST(UpdateFolder, OnlyTheOwnersOwnFolderIsUpdated) {
  const std::pair<mode_t, hw::FolderAccess> cases[] = {{0755, hw::FolderAccess::OwnAndWritable},
                                                       {0700, hw::FolderAccess::OwnAndWritable},
                                                       {0775, hw::FolderAccess::WritableByOthers},
                                                       {0757, hw::FolderAccess::WritableByOthers},
                                                       {01777, hw::FolderAccess::WritableByOthers}};
  for (const auto& [mode, access] : cases) {
    TempDir folder;
    ASSERT_EQ(::chmod(folder.path().c_str(), mode), 0);
    EXPECT_EQ(hw::UpdateFolderAccess(folder.path()), access) << std::oct << mode;
  }
  EXPECT_EQ(hw::UpdateFolderAccess("/proc/self"), hw::FolderAccess::NotWritable);
}

}  // namespace
