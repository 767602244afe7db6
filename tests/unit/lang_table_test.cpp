#include "i18n/LangTable.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "fixtures/TempDir.h"

#include "platform/ProfileReader.h"
#include "platform/UserLanguage.h"

namespace {

namespace fs = std::filesystem;

const std::string kLongText(3000, 'x');

// Written with a byte-order mark and mixed CR LF / LF line ends, as files edited on several
// systems end up; every case below reads through them.
std::string FixtureIni() {
  return "\xEF\xBB\xBF; texts for the lookup tests\r\n"
         "[1033]\r\n"
         "1=One US\r\n"
         "16=Sixteen US\r\n"
         "21=Hello %d, welcome\r\n"
         "22=%d%d\n"
         "23=Price %D here\n"
         "24=   \"  kept blanks  \"   \n"
         "25='single'\n"
         "26=\"mismatched'\n"
         "27=a=b=c\n"
         "  Spaced Key  =  spaced text  \n"
         "28=no marker\n"
         "30=" +
         kLongText +
         "\n"
         "\n"
         "[1028]\r\n"
         "1=One TW\r\n"
         "21=TW %d\r\n"
         "[1031]\n"
         "; a header with only a comment and a blank line holds no key\n"
         "\n"
         "[ Extra ]\n"
         "Key=extra text\n"
         "key=second spelling\n"
         "bare\n";
}

// Sets (or, for nullopt, removes) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Set(value);
  }
  ~ScopedEnv() { Set(old_); }

 private:
  void Set(const std::optional<std::string>& value) {
    if (value)
      ::setenv(name_, value->c_str(), 1);
    else
      ::unsetenv(name_);
  }
  const char* name_;
  std::optional<std::string> old_;
};

class ScopedWorkingDirectory {
 public:
  explicit ScopedWorkingDirectory(const fs::path& folder) : old_(fs::current_path()) { fs::current_path(folder); }
  ~ScopedWorkingDirectory() { fs::current_path(old_); }

 private:
  fs::path old_;
};

struct LookupCase {
  const char* name;
  unsigned langId;
  std::string messageId;
  std::string param;
  std::string expected;
};
// A case prints as its name: its bytes hold addresses that change from build to build.
void PrintTo(const LookupCase& c, std::ostream* out) { *out << c.name; }

// One fixture file per suite, shared by its cases.
class FixtureFileTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new hwtest::TempDir;
    file_ = folder_->Write("lang.ini", FixtureIni());
  }
  static void TearDownTestSuite() { delete folder_; }
  static hwtest::TempDir* folder_;
  static std::string file_;
};
hwtest::TempDir* FixtureFileTest::folder_ = nullptr;
std::string FixtureFileTest::file_;

class LangLookupTest : public FixtureFileTest, public testing::WithParamInterface<LookupCase> {};

TEST_P(LangLookupTest, FindsTheText) {
  const LookupCase& c = GetParam();
  EXPECT_EQ(hw::LookupLangStr(file_, c.langId, c.messageId, c.param), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fixture, LangLookupTest,
    testing::Values(LookupCase{"OwnSectionWithKeys", 1028, "1", "", "One TW"},
                    LookupCase{"HeaderOnlySectionFallsBackToUs", 1031, "1", "", "One US"},
                    LookupCase{"MissingSectionFallsBackToUs", 2052, "16", "", "Sixteen US"},
                    LookupCase{"NoPerKeyFallback", 1028, "16", "", ""}, LookupCase{"MissingKey", 1033, "99", "", ""},
                    LookupCase{"SplicesParam", 1033, "21", "Ann", "Hello Ann, welcome"},
                    LookupCase{"SplicesInChosenSection", 1028, "21", "Ann", "TW Ann"},
                    LookupCase{"OnlyFirstMarkerReplaced", 1033, "22", "v", "v%d"},
                    LookupCase{"ParamInsertedVerbatim", 1033, "21", "%d 50%", "Hello %d 50%, welcome"},
                    LookupCase{"CapitalDIsNoMarker", 1033, "23", "7", "Price %D here 7"},
                    LookupCase{"EmptyParamKeepsMarker", 1033, "21", "", "Hello %d, welcome"},
                    LookupCase{"MissingKeyWithParamGivesParam", 1033, "99", "abc", "abc"},
                    LookupCase{"NoFallbackEvenWithParam", 1028, "16", "abc", "abc"},
                    LookupCase{"TextWithoutMarkerGetsParamAppended", 1033, "28", "abc", "no marker abc"},
                    LookupCase{"CutAt2047Bytes", 1033, "30", "", kLongText.substr(0, 2047)},
                    LookupCase{"QuotesRemovedBlanksInsideKept", 1033, "24", "", "  kept blanks  "},
                    LookupCase{"SingleQuotesRemoved", 1033, "25", "", "single"},
                    LookupCase{"MismatchedQuotesKept", 1033, "26", "", "\"mismatched'"},
                    LookupCase{"TextIsRestAfterFirstEquals", 1033, "27", "", "a=b=c"},
                    LookupCase{"KeyBlanksTrimmedAndCaseIgnored", 1033, "spaced KEY", "", "spaced text"}),
    [](const testing::TestParamInfo<LookupCase>& info) { return std::string(info.param.name); });

struct ProfileCase {
  const char* name;
  std::string section;
  std::string key;
  std::string expected;
};
// A case prints as its name: its bytes hold addresses that change from build to build.
void PrintTo(const ProfileCase& c, std::ostream* out) { *out << c.name; }

class ProfileStringTest : public FixtureFileTest, public testing::WithParamInterface<ProfileCase> {};

TEST_P(ProfileStringTest, ReadsTheText) {
  const ProfileCase& c = GetParam();
  EXPECT_EQ(hw::ProfileString(file_, c.section, c.key), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Fixture, ProfileStringTest,
                         testing::Values(ProfileCase{"SectionNameTrimmedCaseIgnored", "EXTRA", "key", "extra text"},
                                         ProfileCase{"FirstOfTwoSpellingsWins", "extra", "KEY", "extra text"},
                                         ProfileCase{"KeyWithoutEqualsHasEmptyText", "Extra", "bare", ""},
                                         ProfileCase{"MissingSection", "2052", "1", ""}),
                         [](const testing::TestParamInfo<ProfileCase>& info) { return std::string(info.param.name); });

TEST(ProfileSectionKeys, ListsKeysInFileOrderWithoutCommentsOrBlankLines) {
  hwtest::TempDir folder;
  const std::string file = folder.Write("a.ini", FixtureIni());
  EXPECT_EQ(hw::ProfileSectionKeys(file, "extra"), (std::vector<std::string>{"Key", "key", "bare"}));
  EXPECT_TRUE(hw::ProfileSectionKeys(file, "1031").empty());
  EXPECT_TRUE(hw::ProfileSectionKeys(folder.File("none.ini"), "1033").empty());
}

// A file far larger than any text file is read up to its bound; what lies beyond is not found.
TEST(ProfileString, ReadsAFileOnlyUpToItsBound) {
  hwtest::TempDir folder;
  const std::string filler = "; " + std::string(hw::kProfileFileLimit, 'x') + "\n";
  const std::string file = folder.Write("big.ini", "[1033]\n1=near\n" + filler + "[1031]\n1=beyond\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(hw::ProfileString(file, "1033", "1"), "near");
  EXPECT_EQ(hw::ProfileString(file, "1031", "1"), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            file + ": only the first " + std::to_string(hw::kProfileFileLimit) + " bytes are read\n");
}

TEST(LookupLangStr, MissingFileGivesEmptyTextOrTheParam) {
  hwtest::TempDir folder;
  const std::string file = folder.File("lang.ini");
  EXPECT_EQ(hw::LookupLangStr(file, 1033, "1"), "");
  EXPECT_EQ(hw::LookupLangStr(file, 1033, "21", "abc"), "abc");
}

// Nothing is cached: an edit to the file shows at the next lookup.
TEST(LookupLangStr, ReadsTheFileAnewEachTime) {
  hwtest::TempDir folder;
  const std::string file = folder.Write("lang.ini", "[1033]\n1=before\n");
  EXPECT_EQ(hw::LookupLangStr(file, 1033, "1"), "before");
  folder.Write("lang.ini", "[1033]\n1=after\n");
  EXPECT_EQ(hw::LookupLangStr(file, 1033, "1"), "after");
}

TEST(LangFile, IsFoundBesideTheProgramInAnyLetterCase) {
  hwtest::TempDir folder;
  ScopedWorkingDirectory cwd(folder.path());
  EXPECT_FALSE(hw::LangFileExists());
  EXPECT_EQ(hw::LangFilePath(), "./lang.ini");

  fs::create_directory(folder.File("LANG.INI"));  // a folder of that name is no language file
  EXPECT_FALSE(hw::LangFileExists());

  folder.Write("Lang.ini", "[1028]\n3=TW three\n[1033]\n3=US three\n");
  EXPECT_TRUE(hw::LangFileExists());
  EXPECT_EQ(hw::LangFilePath(), "./Lang.ini");

  ScopedEnv lcAll("LC_ALL", "zh_TW.UTF-8");
  EXPECT_EQ(hw::GetLangStr("3"), "TW three");
}

struct LocaleCase {
  const char* name;
  std::optional<std::string> lcAll;
  std::optional<std::string> lcMessages;
  std::optional<std::string> lang;
  unsigned langId;
};
// A case prints as its name: its bytes hold addresses that change from build to build.
void PrintTo(const LocaleCase& c, std::ostream* out) { *out << c.name; }

class UserDefaultLangIdTest : public testing::TestWithParam<LocaleCase> {};

TEST_P(UserDefaultLangIdTest, MapsTheMessageLocale) {
  const LocaleCase& c = GetParam();
  ScopedEnv lcAll("LC_ALL", c.lcAll), lcMessages("LC_MESSAGES", c.lcMessages), lang("LANG", c.lang);
  EXPECT_EQ(hw::UserDefaultLangId(), c.langId);
}

const std::nullopt_t unset = std::nullopt;

INSTANTIATE_TEST_SUITE_P(Environments, UserDefaultLangIdTest,
                         testing::Values(LocaleCase{"TaiwanChinese", unset, unset, "zh_TW.UTF-8", 1028},
                                         LocaleCase{"MainlandChinese", unset, unset, "zh_CN.UTF-8", 2052},
                                         LocaleCase{"German", unset, unset, "de_DE.UTF-8", 1031},
                                         LocaleCase{"UsEnglish", unset, unset, "en_US.UTF-8", 1033},
                                         LocaleCase{"CodeSetWouldMisleadIcu", unset, unset, "ja_JP.UTF-8", 1041},
                                         LocaleCase{"ModifierIgnored", unset, unset, "de_DE@euro", 1031},
                                         LocaleCase{"LanguageOnlyGetsLikelyRegion", unset, unset, "de", 1031},
                                         LocaleCase{"LcAllWins", "de_DE.UTF-8", "zh_TW.UTF-8", "zh_CN.UTF-8", 1031},
                                         LocaleCase{"LcMessagesBeforeLang", unset, "zh_TW.UTF-8", "de_DE.UTF-8", 1028},
                                         LocaleCase{"EmptyValueSkipped", "", "", "zh_CN.UTF-8", 2052},
                                         LocaleCase{"CLocale", unset, unset, "C", 1033},
                                         LocaleCase{"CUtf8Locale", unset, unset, "C.UTF-8", 1033},
                                         LocaleCase{"PosixLocale", "POSIX", unset, "zh_TW.UTF-8", 1033},
                                         LocaleCase{"UnknownLocale", unset, unset, "xx_YY.UTF-8", 1033},
                                         LocaleCase{"NothingSet", unset, unset, unset, 1033}),
                         [](const testing::TestParamInfo<LocaleCase>& info) { return std::string(info.param.name); });

// The texts the program looks up, and those of them that carry a value in place of "%d".
const std::vector<std::string> kLookedUpIds = {"1",  "2",  "3",  "5",  "6",  "7",  "8",  "9",  "10",
                                               "11", "12", "13", "14", "15", "16", "18", "19", "20",
                                               "21", "22", "23", "24", "25", "27", "28", "29", "30",
                                               "31", "32"};
bool TakesParam(const std::string& id) {
  return id == "21" || id == "22" || id == "25" || id == "27" || id == "29" || id == "30" || id == "31";
}

std::size_t CountMarkers(const std::string& text) {
  std::size_t count = 0;
  for (auto at = text.find("%d"); at != std::string::npos; at = text.find("%d", at + 2)) ++count;
  return count;
}

TEST(ShippedLangFile, EverySectionHasEveryTextWithMarkersWhereValuesGo) {
  const std::string file = HW_SOURCE_DIR "/assets/lang.ini";
  for (const std::string section : {"1033", "1028", "2052", "1031"}) {
    ASSERT_FALSE(hw::ProfileSectionKeys(file, section).empty()) << "section " << section;
    for (const std::string& id : kLookedUpIds) {
      const std::string text = hw::ProfileString(file, section, id);
      EXPECT_FALSE(text.empty()) << "section " << section << " text " << id;
      EXPECT_EQ(CountMarkers(text), TakesParam(id) ? 1u : 0u) << "section " << section << " text " << id;
    }
  }
}

}  // namespace
