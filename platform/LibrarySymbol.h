#pragma once
#include <dlfcn.h>

namespace hw {

// Sets `function` to the library's function of that name, typed as the library's header declares
// it; false when the library (a handle from dlopen) has none.
template <typename Function>
bool ResolveSymbol(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(::dlsym(library, name));
  return function != nullptr;
}

}  // namespace hw
