#include "devicechange.h"

#include <QStringList>

bool parseInterfaceName(const QString& upperName, unsigned short* vendorId,
                        unsigned short* productId) {
  const QStringList parts = upperName.split(QLatin1Char('#'));
  if (parts.size() < 2) return false;
  const QStringList ids = parts.at(1).split(QLatin1Char('&'));
  if (ids.size() < 2) return false;
  auto idOf = [](const QString& field) -> unsigned short {
    const int underscore = field.indexOf(QLatin1Char('_'));
    // No "_" leaves nothing to parse, which gives 0 like any failed parse.
    if (underscore < 0) return 0;
    bool ok = false;
    const uint value = field.mid(underscore + 1).toUInt(&ok, 16);
    return ok && value <= 0xFFFF ? static_cast<unsigned short>(value) : 0;
  };
  *vendorId = idOf(ids.at(0));
  *productId = idOf(ids.at(1));
  return true;
}

DeviceChange decodeDeviceChange(quint32 message, quintptr wParam,
                                const DeviceBroadcast* broadcast) {
  DeviceChange change;
  if (message != kWmDeviceChange) return change;
  if (wParam != kDbtDeviceArrival && wParam != kDbtDeviceRemoveComplete) return change;
  if (!broadcast || broadcast->deviceType != kDbtDevtypDeviceInterface) return change;

  const QString name = broadcast->name.toUpper();
  if (wParam == kDbtDeviceRemoveComplete) {
    change.kind = DeviceChange::Removal;
    change.path = name;
    return change;
  }
  if (!parseInterfaceName(name, &change.vendorId, &change.productId)) return change;
  change.kind = DeviceChange::Arrival;
  change.path = name;
  return change;
}
