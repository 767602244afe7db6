#pragma once
#include "ddns/ServiceEndpoints.h"
#include "fixtures/FakeService.h"
#include "i18n/LangTable.h"
#include "widgets/support/WindowsFixture.h"

// A clock reply of an open service: Saturday, 2013-06-15 10:00:00.
inline const std::string kClockOpen = "2013\r\n6\r\n15\r\n10\r\n0\r\n0\r\n";

// The windows talking to a scripted fake service on loopback.
class ServiceFixture : public WindowsFixture {
 protected:
  void SetUp() override {
    WindowsFixture::SetUp();
    hw::SetServiceHost(fake.prefix());
  }
  void TearDown() override {
    hw::SetServiceHost({});
    WindowsFixture::TearDown();
  }
  // A text of lang.ini in the test's language.
  static std::string Text(const char* id, const std::string& param = {}) { return hw::GetLangStr(id, param); }
  // The body of a recorded request.
  static std::string BodyOf(const std::string& request) { return request.substr(request.find("\r\n\r\n") + 4); }

  hwtest::FakeService fake;
};
