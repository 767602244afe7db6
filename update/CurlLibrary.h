#pragma once
#include <curl/curl.h>

#include <string>

namespace hw {

// The web-access library, loaded at the first download rather than at start-up: with its TLS,
// Kerberos and LDAP libraries it would otherwise make up a good part of the resident memory of a
// client that spends its life waiting in the tray.
struct CurlLibrary {
  CURLcode (*globalInit)(long flags);
  CURL* (*easyInit)();
  void (*easyCleanup)(CURL* handle);
  CURLcode (*easySetopt)(CURL* handle, CURLoption option, ...);
  CURLcode (*easyPerform)(CURL* handle);
  CURLcode (*easyGetinfo)(CURL* handle, CURLINFO info, ...);
};

// The library, initialised once; null when it cannot be loaded or started, with the reason in
// `error` (the loader's own text).
const CurlLibrary* LoadCurl(std::string& error);

}  // namespace hw
