#include "update/CurlLibrary.h"

#include <dlfcn.h>

namespace hw {
namespace {

constexpr const char* kLibraryName = "libcurl.so.4";

template <typename Function>
bool Resolve(void* library, const char* name, Function& function, std::string& error) {
  function = reinterpret_cast<Function>(::dlsym(library, name));
  if (!function) error = ::dlerror();
  return function != nullptr;
}

struct LoadResult {
  CurlLibrary curl{};
  bool loaded = false;
  std::string error;
};

LoadResult Load() {
  LoadResult result;
  void* library = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);  // kept for the program's life
  if (!library) {
    result.error = ::dlerror();
    return result;
  }
  CurlLibrary& curl = result.curl;
  result.loaded = Resolve(library, "curl_global_init", curl.globalInit, result.error) &&
                  Resolve(library, "curl_easy_init", curl.easyInit, result.error) &&
                  Resolve(library, "curl_easy_cleanup", curl.easyCleanup, result.error) &&
                  Resolve(library, "curl_easy_setopt", curl.easySetopt, result.error) &&
                  Resolve(library, "curl_easy_perform", curl.easyPerform, result.error) &&
                  Resolve(library, "curl_easy_getinfo", curl.easyGetinfo, result.error);
  if (result.loaded && curl.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    result.loaded = false;
    result.error = std::string(kLibraryName) + ": global initialisation failed";
  }
  return result;
}

}  // namespace

const CurlLibrary* LoadCurl(std::string& error) {
  static const LoadResult result = Load();
  error = result.error;
  return result.loaded ? &result.curl : nullptr;
}

}  // namespace hw
