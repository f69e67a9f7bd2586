#include <dlfcn.h>

#include "nvml.h"

namespace pelmora::platform {

void* openLibrary(const std::string& fileName) {
  return dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* findSymbol(void* library, const char* name) { return dlsym(library, name); }

void closeLibrary(void* library) { dlclose(library); }

}  // namespace pelmora::platform
