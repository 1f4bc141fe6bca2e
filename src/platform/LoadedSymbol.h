#pragma once

// A library loaded only when a command needs it (dlopen) hands out its functions here, each typed as
// the library's header declares it.

#include <dlfcn.h>

namespace velutron {

template <typename F>
bool LoadedSymbol(void* handle, const char* name, F& function) {
  function = reinterpret_cast<F>(dlsym(handle, name));
  return function != nullptr;
}

}  // namespace velutron
