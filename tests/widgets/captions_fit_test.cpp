// Every caption of every window, in every language of lang.ini, fits its fixed place in the font
// the window uses: nothing is clipped.
#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFontMetrics>
#include <QRawFont>
#include <algorithm>
#include <QRegularExpression>
#include <cstdlib>
#include <fstream>

#include "app/Unit1.h"
#include "i18n/LangTable.h"
#include "lifetime/ClosingSchedule.h"
#include "lifetime/Unit3.h"

namespace {

const std::string kLangFile = HW_SOURCE_DIR "/assets/lang.ini";

// A button's frame and margins take this much of its width, both sides together.
constexpr int kButtonFrame = 8;

// The language ids of lang.ini's sections.
std::vector<unsigned> LangIds() {
  std::ifstream in(kLangFile);
  std::vector<unsigned> ids;
  const QRegularExpression header("^\\[(\\d+)\\]");
  for (std::string line; std::getline(in, line);) {
    const auto match = header.match(QString::fromStdString(line));
    if (match.hasMatch()) ids.push_back(match.captured(1).toUInt());
  }
  return ids;
}

// Empty when every line of the text fits the control with the room `frame` left over; else why not.
std::string Clipped(const QWidget* control, const std::string& text, int frame) {
  const QFontMetrics metrics(control->font());
  for (const QString& line : QString::fromStdString(text).split(QRegularExpression("[\r\n]+"), Qt::SkipEmptyParts)) {
    const int needed = metrics.horizontalAdvance(line) + frame;
    if (needed > control->width())
      return "\"" + line.toStdString() + "\" needs " + std::to_string(needed) + " of " +
             std::to_string(control->width()) + " pixels in " + control->font().family().toStdString();
  }
  return {};
}

TEST(CaptionsFit, MainWindowButtonsInEveryLanguage) {
  hw::TForm1 form;
  ASSERT_EQ(QFontInfo(form.Button2->font()).family(), "Liberation Sans Narrow") << "the install step brings it";
  const std::vector<unsigned> ids = LangIds();
  ASSERT_GE(ids.size(), 4u);
  for (const unsigned id : ids) {
    const std::pair<QPushButton*, std::vector<std::string>> captions[] = {
        {form.Button2,
         {"Register a Domain Name", hw::LookupLangStr(kLangFile, id, "1"), hw::LookupLangStr(kLangFile, id, "2")}},
        {form.Button3, {"Release this Domain", hw::LookupLangStr(kLangFile, id, "3")}},
    };
    for (const auto& [button, texts] : captions)
      for (const std::string& text : texts) EXPECT_EQ(Clipped(button, text, kButtonFrame), "") << "language " << id;
  }
}

TEST(CaptionsFit, NoticeWindowInBothItsLanguages) {
  for (const auto& [locale, langId] : {std::pair{"en_US.UTF-8", 1033u}, std::pair{"zh_TW.UTF-8", 1028u}}) {
    setenv("LC_ALL", locale, 1);
    hw::TForm3 notice;
    notice.FormCreate();
    EXPECT_EQ(Clipped(notice.Label2, notice.Label2->text().toStdString(), 0), "") << locale;
    EXPECT_EQ(Clipped(notice.Label3, notice.Label3->text().toStdString(), 0), "") << locale;
    EXPECT_EQ(Clipped(notice.Button1, notice.Button1->text().toStdString(), kButtonFrame), "") << locale;
    for (const std::string& text : {hw::CountdownNoticeText(langId, 41456), hw::ClosedNoticeText(langId)})
      EXPECT_EQ(Clipped(notice.Label1, text, 0), "") << locale;
  }
  unsetenv("LC_ALL");
}

// Texts in Traditional Chinese render with real glyphs: a font that the install step brings holds
// every character of them, so the toolkit's fallback never draws a replacement box.
TEST(CaptionsFit, TraditionalChineseTextsHaveRealGlyphs) {
  std::vector<QRawFont> fonts;
  for (const QString& family : QFontDatabase::families(QFontDatabase::TraditionalChinese))
    fonts.push_back(QRawFont::fromFont(QFont(family), QFontDatabase::TraditionalChinese));
  ASSERT_FALSE(fonts.empty()) << "no font for Traditional Chinese is installed";
  QString texts = QString::fromStdString(hw::CountdownNoticeText(1028, 15) + hw::ClosedNoticeText(1028));
  setenv("LC_ALL", "zh_TW.UTF-8", 1);
  hw::TForm3 notice;
  notice.FormCreate();
  unsetenv("LC_ALL");
  texts += notice.Label2->text() + notice.Label3->text() + notice.Button1->text();
  for (int id = 1; id <= 28; ++id) texts += QString::fromStdString(hw::LookupLangStr(kLangFile, 1028, std::to_string(id)));
  for (const uint character : texts.toUcs4()) {
    if (character < 0x2E80) continue;  // Latin letters, digits and punctuation come from the window font
    const bool drawn = std::any_of(fonts.begin(), fonts.end(), [&](const QRawFont& font) {
      return font.supportsCharacter(character);
    });
    EXPECT_TRUE(drawn) << "no glyph for U+" << std::hex << character;
  }
}

}  // namespace
