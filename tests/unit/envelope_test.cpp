// The request envelope and the program's base64, checked against worked examples.
#include <gtest/gtest.h>

#include <array>
#include <tuple>

#include "common/AppError.h"
#include "ddns/Base64.h"
#include "ddns/Envelope.h"

namespace {

std::string Bytes(std::initializer_list<unsigned> values) {
  std::string bytes;
  for (unsigned v : values) bytes += static_cast<char>(v);
  return bytes;
}

TEST(Envelope, WorkedExampleByteForByte) {
  const std::string plain = std::string("GDS\r\nabc\r\n\r\n") + "001122334455";
  EXPECT_EQ(hw::ShiftText(plain), Bytes({0x4C, 0x4A, 0x5A, 0x15, 0x13, 0x6B, 0x6D, 0x6F, 0x1A, 0x18, 0x1C, 0x1A, 0x41,
                                         0x42, 0x44, 0x45, 0x47, 0x48, 0x4A, 0x4B, 0x4D, 0x4E, 0x50, 0x51, 0x1D}));
  EXPECT_EQ(hw::EncodeBase64(hw::ShiftText(plain)), "TEpaFRNrbW8aGBwaQUJERUdISktNTlBRHQ==");
  EXPECT_EQ(hw::BuildEnvelope("abc", "", "001122334455"), "a=VEVwYUZSTnJiVzhhR0J3YVFVSkVSVWRJU2t0TlRsQlJIUT09");
}

TEST(Envelope, ShiftArithmeticOfAbcAlone) {
  const std::string shifted = hw::ShiftText("abc");
  EXPECT_EQ(shifted, Bytes({0x66, 0x68, 0x6A, 0x08}));
  EXPECT_EQ(hw::EncodeBase64(shifted), "ZmhqCA==");
  EXPECT_EQ(hw::EncodeBase64(hw::EncodeBase64(shifted)), "Wm1ocUNBPT0=");
}

TEST(Envelope, ShiftWrapsAroundAndEndsWithTheShiftedTerminator) {
  EXPECT_EQ(hw::ShiftText(Bytes({0xFF})), Bytes({0x04, 0x06}));
  EXPECT_EQ(hw::ShiftText(Bytes({0xFB})), Bytes({0x00, 0x06}));
  EXPECT_EQ(static_cast<unsigned char>(hw::ShiftText(std::string(251, 'x')).back()), 0u);
}

TEST(Envelope, LongestPlainTextAndTheLimit) {
  const std::string id = "001122334455";
  const std::string name(117, 'n');
  const std::string password(117, 'p');  // 9 + 117 + 117 + 12 = 255 bytes of plain text
  ASSERT_TRUE(hw::EnvelopeFits(name, password, id));
  EXPECT_EQ(hw::ShiftText(std::string(255, 'x')).size(), 256u);
  EXPECT_EQ(hw::EncodeBase64(hw::ShiftText(std::string(255, 'x'))).size(), 344u);
  const std::string body = hw::BuildEnvelope(name, password, id);
  EXPECT_EQ(body.size(), 462u);
  EXPECT_EQ(body.find_first_of("\r\n"), std::string::npos);

  EXPECT_FALSE(hw::EnvelopeFits(name, password + "p", id));
  EXPECT_THROW(hw::BuildEnvelope(name, password + "p", id), hw::EnvelopeTooLongError);
}

// Every separator stays when the field beside it is empty: the service splits at them.
TEST(Envelope, EmptyFieldsKeepTheirSeparators) {
  const std::pair<std::array<const char*, 3>, std::string> cases[] = {
      {{"", "pw", "001122334455"}, "GDS\r\n\r\npw\r\n001122334455"},
      {{"abc", "", "001122334455"}, "GDS\r\nabc\r\n\r\n001122334455"},
      {{"a", "b", ""}, "GDS\r\na\r\nb\r\n"},
      {{"", "", ""}, "GDS\r\n\r\n\r\n"},
  };
  for (const auto& [fields, plain] : cases) {
    const std::string body = hw::BuildEnvelope(fields[0], fields[1], fields[2]);
    ASSERT_TRUE(body.starts_with("a="));
    EXPECT_EQ(hw::DecodeBase64(hw::DecodeBase64(body.substr(2))), hw::ShiftText(plain)) << plain;
  }
}

TEST(Base64, PaddingOfShortInputs) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""}, {"M", "TQ=="}, {"Ma", "TWE="}, {"Man", "TWFu"}, {Bytes({0xFF, 0xFE, 0xFD}), "//79"}};
  for (const auto& [bytes, text] : cases) {
    EXPECT_EQ(hw::EncodeBase64(bytes), text);
    EXPECT_EQ(hw::DecodeBase64(text), bytes);
  }
}

TEST(Base64, DecodeFailuresAndOutsideCharacters) {
  try {
    hw::DecodeBase64("abcde");
    FAIL() << "five characters must not decode";
  } catch (const hw::ConvertError& error) {
    EXPECT_STREQ(error.what(), "Uneven size in DecodeToStream.");
  }
  EXPECT_EQ(hw::DecodeBase64("!!!!"), std::string(3, '\0')) << "characters outside the alphabet count as 0";
}

// The service reads envelopes with the client's own code: what one side builds, the other reads.
TEST(Envelope, DecodesWhatItBuildsAndNothingElse) {
  for (const auto& [name, password, id] : {std::tuple{"alice", "s3cret!", "001122334455"}, std::tuple{"", "", ""},
                                           std::tuple{"n", "p\xC3\xA4ss", "AABBCCDDEEFF"}}) {
    const auto fields = hw::DecodeEnvelope(hw::BuildEnvelope(name, password, id));
    ASSERT_TRUE(fields.has_value()) << name;
    EXPECT_EQ(fields->name, name);
    EXPECT_EQ(fields->password, password);
    EXPECT_EQ(fields->machineId, id);
  }
  const std::string good = hw::BuildEnvelope("alice", "secret", "001122334455");
  std::string flipped = good;
  flipped[10] = flipped[10] == 'A' ? 'B' : 'A';
  // Base64 cut after two bytes and its parts joined: the same bytes, with a "=" inside, which no
  // client writes.
  const auto padInside = [](const std::string& bytes) {
    return hw::EncodeBase64(bytes.substr(0, 2)) + hw::EncodeBase64(bytes.substr(2));
  };
  const std::string shifted = hw::ShiftText("GDS\r\nalice\r\nsecret\r\n001122334455");
  std::string plain256 = "GDS\r\nalice\r\nsecret\r\n";
  plain256.resize(256, 'x');
  const std::pair<const char*, std::string> refused[] = {
      {"empty", ""},
      {"another form", "b=" + good.substr(2)},
      {"cut", good.substr(0, good.size() - 4)},
      {"a changed character", flipped},
      {"not base64", "a=!!!!"},
      {"once encoded", "a=" + hw::EncodeBase64(hw::ShiftText("GDS\r\na\r\nb\r\nc"))},
      {"no header", "a=" + hw::EncodeBase64(hw::EncodeBase64(hw::ShiftText("XYZ\r\na\r\nb\r\nc")))},
      {"a line too many", "a=" + hw::EncodeBase64(hw::EncodeBase64(hw::ShiftText("GDS\r\na\r\nb\r\nc\r\nd")))},
      {"too long", "a=" + std::string(800, 'A')},
      {"256 bytes of plain text, one past the client's room", "a=" + hw::EncodeBase64(hw::EncodeBase64(hw::ShiftText(plain256)))},
      {"\"=\" inside the inner base64", "a=" + hw::EncodeBase64(padInside(shifted))},
      {"\"=\" inside the outer base64", "a=" + padInside(hw::EncodeBase64(shifted))},
  };
  for (const auto& [what, body] : refused) EXPECT_FALSE(hw::DecodeEnvelope(body).has_value()) << what;
}

}  // namespace
