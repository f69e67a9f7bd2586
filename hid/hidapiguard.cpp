#include "hidapiguard.h"

#include <mutex>

namespace {

// Never destroyed: a worker abandoned at exit may still come here.
std::mutex& hidapiMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}

// Called with the mutex held.
void initialiseOnce() {
  static bool initialised = false;
  if (!initialised) initialised = hid_init() == 0;
}

}  // namespace

namespace hidguard {

QList<HIDInterface> enumerate(ushort vendorId, ushort productId) {
  QList<HIDInterface> interfaces;
  std::lock_guard<std::mutex> lock(hidapiMutex());
  initialiseOnce();
  hid_device_info* list = hid_enumerate(vendorId, productId);
  for (hid_device_info* entry = list; entry; entry = entry->next) {
    if (!entry->path) continue;
    HIDInterface one;
    one.path = QByteArray(entry->path);
    one.vendorId = entry->vendor_id;
    one.productId = entry->product_id;
    one.interfaceNumber = entry->interface_number;
    one.hasSerial = entry->serial_number != nullptr;
    interfaces.append(one);
  }
  hid_free_enumeration(list);
  return interfaces;
}

hid_device* open(const QByteArray& path) {
  std::lock_guard<std::mutex> lock(hidapiMutex());
  initialiseOnce();
  return hid_open_path(path.constData());
}

QString errorText(hid_device* handle) {
  const wchar_t* text = hid_error(handle);
  return text ? QString::fromWCharArray(text) : QString();
}

}  // namespace hidguard
