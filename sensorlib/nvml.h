// NVIDIA's management library, loaded only while an NVIDIA card is awake: the
// library is opened on first use and closed again when no card needs it, so a
// laptop's sleeping discrete GPU is never woken by it.
#pragma once

#include <chrono>
#include <optional>
#include <set>
#include <string>

namespace pelmora::nvml {

struct Reading {
  std::string name;
  std::optional<float> temperature;  // degrees Celsius
  std::optional<float> load;         // percent
  std::optional<float> fanRpm;       // mean of the spinning fans, where the driver tells rpm
};

class Library {
 public:
  // A library that is missing or fails to initialise (driver not loaded yet) is
  // tried again after `retryAfter`, not on every pass.
  explicit Library(std::string fileName = "libnvidia-ml.so.1",
                   std::chrono::steady_clock::duration retryAfter = std::chrono::minutes(1));
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // Marks the card of `user` awake or asleep; the library is held while any card is
  // awake. Returns whether it is held (and initialised) now.
  bool setAwake(const void* user, bool awake);
  bool held() const { return m_handle != nullptr && m_initialised; }

  // Reads the card in PCI slot `slot` ("0000:01:00.0"); nothing when it is gone.
  std::optional<Reading> read(const std::string& slot);

 private:
  bool acquire();
  void release();

  struct Functions;
  std::string m_fileName;
  void* m_handle = nullptr;
  bool m_initialised = false;
  std::chrono::steady_clock::duration m_retryAfter;
  std::optional<std::chrono::steady_clock::time_point> m_nextTry;  // after a failure
  Functions* m_functions = nullptr;
  std::set<const void*> m_awake;
};

}  // namespace pelmora::nvml

namespace pelmora::platform {

// A shared library by file name, its symbols and its release; null when it cannot be
// loaded or has no such symbol.
void* openLibrary(const std::string& fileName);
void* findSymbol(void* library, const char* name);
void closeLibrary(void* library);

}  // namespace pelmora::platform
