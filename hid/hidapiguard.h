// hidapi (0.13.1) keeps its set-up and its last error text in process-wide variables without
// a lock; two threads enumerating or opening at once corrupt the heap. Every call that touches
// that state goes through here, one at a time. Calls on an open handle (write, read, close,
// its own error text) touch only that handle: each handle is used by the one thread that
// opened it.
#pragma once

#include <hidapi.h>

#include <QByteArray>
#include <QList>
#include <QString>

// One enumerated interface, copied out of hidapi's list.
struct HIDInterface {
  QByteArray path;
  ushort vendorId = 0;
  ushort productId = 0;
  int interfaceNumber = -1;
  bool hasSerial = false;
};

namespace hidguard {

// hid_enumerate(vendorId, productId); 0 matches any.
QList<HIDInterface> enumerate(ushort vendorId = 0, ushort productId = 0);
// hid_open_path; null on failure.
hid_device* open(const QByteArray& path);
// The handle's own error text, empty when it has none.
QString errorText(hid_device* handle);

}  // namespace hidguard
