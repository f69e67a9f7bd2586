// Turns the text the `sensors` command printed on a real machine into the sysfs tree
// the sensor library reads, so that recordings of real machines become fixtures.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QRegularExpression>
#include <QString>
#include <optional>

#include "fixturetree.h"

namespace recording {

enum class Kind { Temperature, Fan, Voltage, Other };

struct Reading {
  QString label;
  Kind kind = Kind::Other;
  std::optional<double> value;  // nothing for "N/A"
};

struct Chip {
  QString driver, bus, address;
  QList<Reading> readings;
};

inline Kind kindOfUnit(const QString& unit) {
  if (unit == "C" || unit == QStringLiteral("°C")) return Kind::Temperature;
  if (unit == "RPM") return Kind::Fan;
  if (unit == "V" || unit == "mV") return Kind::Voltage;
  return Kind::Other;
}

// The kernel's own names ("temp3", "fan1", "in0") say the kind where "N/A" hides the unit.
inline Kind kindOfName(const QString& label) {
  static const QRegularExpression name("^(temp|fan|in)\\d+$");
  const QRegularExpressionMatch match = name.match(label);
  if (!match.hasMatch()) return Kind::Other;
  const QString prefix = match.captured(1);
  return prefix == "temp" ? Kind::Temperature : prefix == "fan" ? Kind::Fan : Kind::Voltage;
}

// Blocks separated by blank lines: the chip line "<driver>-<bus>-<address>", then
// "Adapter: ...", then "<label>:  <value> <unit>  (limits)" lines; indented lines
// continue the limits and lines without a number (alarms, beep) carry no reading.
inline QList<Chip> parse(const QByteArray& text) {
  // "nct6798-isa-0290", "spd5118-i2c-0-51", "nzxt_kraken3-hid-3-7": driver names hold
  // no '-', the bus is one of a few words and the address may have two parts.
  static const QRegularExpression chipLine(
      "^([^-]+)-(isa|pci|i2c|spi|virtual|acpi|hid|mdio|scsi|platform|sdio|of|[a-z0-9]+)-(.+)$");
  static const QRegularExpression readingLine("^([^:]+):\\s+(.*)$");
  static const QRegularExpression valueText("^([+-]?\\d+(?:\\.\\d+)?)\\s*(°C|C|RPM|mV|V)\\b");
  static const QRegularExpression limitUnit("\\(\\w+\\s*=\\s*[+-]?[\\d.]+\\s*(°C|C|RPM|mV|V)\\b");
  QList<Chip> chips;
  bool inBlock = false;
  for (const QString& rawLine : QString::fromUtf8(text).split('\n')) {
    const QString line = rawLine.trimmed().isEmpty() ? QString() : rawLine;
    if (line.isEmpty()) {
      inBlock = false;
      continue;
    }
    if (!inBlock) {
      inBlock = true;
      Chip chip;
      const QRegularExpressionMatch match = chipLine.match(line.trimmed());
      chip.driver = match.hasMatch() ? match.captured(1) : line.trimmed();
      chip.bus = match.captured(2);
      chip.address = match.captured(3);
      chips << chip;
      continue;
    }
    if (line.startsWith(' ') || line.startsWith('\t') || line.startsWith("Adapter:")) continue;
    const QRegularExpressionMatch reading = readingLine.match(line);
    if (!reading.hasMatch()) continue;
    Reading entry;
    entry.label = reading.captured(1).trimmed();
    const QString rest = reading.captured(2).trimmed();
    const QRegularExpressionMatch value = valueText.match(rest);
    if (value.hasMatch()) {
      entry.kind = kindOfUnit(value.captured(2));
      entry.value = value.captured(1).toDouble() * (value.captured(2) == "mV" ? 0.001 : 1.0);
    } else if (rest.startsWith("N/A")) {
      entry.kind = kindOfName(entry.label);
      const QRegularExpressionMatch limit = limitUnit.match(rest);
      if (entry.kind == Kind::Other && limit.hasMatch()) entry.kind = kindOfUnit(limit.captured(1));
    }
    if (entry.kind != Kind::Other) chips.last().readings << entry;
  }
  return chips;
}

// "0300" on the pci bus: bus 3, device 0, function 0.
inline QString pciSlot(const QString& address) {
  bool ok = false;
  const int value = address.toInt(&ok, 16);
  if (!ok) return {};
  return QString("0000:%1:%2.%3")
      .arg(value >> 8, 2, 16, QChar('0'))
      .arg((value & 0xff) >> 3, 2, 16, QChar('0'))
      .arg(value & 7);
}

// Writes the chips as hwmon0, hwmon1... in recorded order under `root`/sys, with a
// /proc of two processors. Inputs keep their recorded order; a kernel name such as
// "temp3" keeps its number, other labels get the next free one and a label file. A
// PCI chip whose readings are all "N/A" is a runtime-suspended device.
inline bool writeTree(const QList<Chip>& chips, const QString& root) {
  bool ok = true;
  for (int number = 0; number < chips.size(); ++number) {
    const Chip& chip = chips[number];
    const QString dir = root + QString("/sys/class/hwmon/hwmon%1").arg(number);
    ok = ok && fixtures::writeFile(dir + "/name", chip.driver.toUtf8() + '\n');
    QMap<Kind, int> last;
    bool anyValue = false;
    for (const Reading& reading : chip.readings) {
      static const char* const kPrefix[] = {"temp", "fan", "in"};
      const QString prefix = kPrefix[int(reading.kind)];
      const QRegularExpressionMatch own =
          QRegularExpression("^" + prefix + "(\\d+)$").match(reading.label);
      int index = last.value(reading.kind, reading.kind == Kind::Voltage ? -1 : 0) + 1;
      if (own.hasMatch() && own.captured(1).toInt() >= index) index = own.captured(1).toInt();
      last[reading.kind] = index;
      const QString base = dir + "/" + prefix + QString::number(index);
      QByteArray value = "N/A\n";  // unreadable, as a file of a sleeping device
      if (reading.value) {
        anyValue = true;
        const double scale = reading.kind == Kind::Fan ? 1.0 : 1000.0;
        value = QByteArray::number(qRound64(*reading.value * scale)) + '\n';
      }
      ok = ok && fixtures::writeFile(base + "_input", value);
      if (!own.hasMatch())
        ok = ok && fixtures::writeFile(base + "_label", reading.label.toUtf8() + '\n');
    }
    if (chip.bus == "pci") {
      const QString device = dir + "/device";
      ok = ok &&
           fixtures::writeFile(device + "/uevent",
                               "DRIVER=" + chip.driver.toUtf8() +
                                   "\nPCI_SLOT_NAME=" + pciSlot(chip.address).toUtf8() + '\n') &&
           fixtures::writeFile(device + "/power/runtime_status",
                               anyValue || chip.readings.isEmpty() ? "active\n" : "suspended\n");
    }
  }
  const QByteArray stat =
      "cpu  1000 0 500 8000 0 0 0 0 0 0\ncpu0 500 0 250 4000 0 0 0 0 0 0\n"
      "cpu1 500 0 250 4000 0 0 0 0 0 0\n";
  return ok && fixtures::writeFile(root + "/proc/stat", stat) &&
         fixtures::writeFile(root + "/proc/cpuinfo", "processor\t: 0\nmodel name\t: Recorded\n");
}

}  // namespace recording
