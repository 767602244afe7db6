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
#include "update/Download.h"
#include "update/ReplaceFile.h"
#include "update/SignedBuild.h"
#include "update/UpdateFiles.h"
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
  const std::string payload = "#!/bin/sh\n# the new client\n";
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

TEST_F(Download, FollowsRedirects) {
  fake.Enqueue(Reply::Raw("HTTP/1.1 302 Found\r\nLocation: /builds/1.3.0.1\r\nContent-Length: 0\r\n\r\n"));
  fake.Enqueue(Reply::Ok("the build"));
  EXPECT_EQ(Fetch("/hostwarden1.3.0.1"), "the build");
  EXPECT_TRUE(fake.Requests().at(1).starts_with("GET /builds/1.3.0.1 "));
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

TEST(ReplaceFile, NewContentWithTheOldPermissions) {
  TempDir folder;
  const std::string file = folder.Write("Hostwarden", "old client");
  ::chmod(file.c_str(), 0750);
  hw::ReplaceFileAtomically(file, "new client");
  EXPECT_EQ(ReadFileText(file), "new client");
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0750u);
  EXPECT_FALSE(std::filesystem::exists(file + ".new"));
}

}  // namespace
