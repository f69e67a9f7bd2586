// The display devices' wire format as plain functions, shared by the program and the
// device simulator (tools/devsim), so it has no Qt dependency.
//
// Every report is a 65-byte buffer in hidapi's convention: byte 0 is the report ID,
// bytes 1 to 64 the report itself.
//   IdentifyRequest  host -> device  0x10 0x01 0...
//   IdentifyReply    device -> host  0x11 ? hwMaj hwMin fwMaj fwMin id[12] ...
//   DataFrame        host -> device  0x20 item unit alarm 0 cpuT(2) cpuU gpuT(2) gpuU fan(2) 0...
//   DataReply        device -> host  byte 2 == 0x00 means the frame was rejected
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace hidreport {

constexpr std::size_t kReportSize = 65;
using Buffer = std::array<std::uint8_t, kReportSize>;

constexpr std::uint8_t kIdentifyRequestId = 0x10;
constexpr std::uint8_t kIdentifyReplyId = 0x11;
constexpr std::uint8_t kDataFrameId = 0x20;
// The simulator answers frames with this ID; the program does not look at it.
constexpr std::uint8_t kDataReplyId = 0x21;

constexpr std::uint16_t kVendorId = 0x2E3C;
constexpr std::uint16_t kProductId = 0x0A15;

// The item a display shows: one bit each, shared with the display rotation.
enum DisplayItem : std::uint8_t {
  CPU_TEMPERATURE = 0x01,
  CPU_USAGE_RATE = 0x02,
  GPU_TEMPERATURE = 0x04,
  GPU_USAGE_RATE = 0x08,
  FAN_RPM = 0x10,
};

// What an identify reply carries.
struct Identity {
  std::uint8_t hardwareMajor = 0;
  std::uint8_t hardwareMinor = 0;
  std::uint8_t firmwareMajor = 0;
  std::uint8_t firmwareMinor = 0;
  std::array<std::uint8_t, 12> identifier{};
};

// One sample as integers; temperatures in degrees Celsius. A missing value is 0; a missing
// temperature is also sent as 0 in Fahrenheit, not as 32.
struct Sample {
  int cpuTemperature = 0;
  int cpuUsageRate = 0;
  int gpuTemperature = 0;
  int gpuUsageRate = 0;
  int fanRpm = 0;
  bool cpuTemperatureKnown = true;
  bool gpuTemperatureKnown = true;
};

struct Thresholds {
  int temperatureAlarm = 90;  // GPU temperature, degrees Celsius, alarm at or above
  int usageRateAlarm = 95;    // percent, alarm at or above
  int fanRpmAlarm = 300;      // rpm, alarm at or below
};

Buffer identifyRequest();
// False when the reply's report ID is not 0x11. `reply` holds kReportSize bytes.
bool parseIdentifyReply(const std::uint8_t* reply, Identity* identity);
Buffer identifyReply(const Identity& identity);

// C * 9 / 5 + 32 in integer arithmetic, truncating toward zero.
int toFahrenheit(int celsius);
// Two-byte field: high byte value / 256 (truncated toward zero), low byte the low 8 bits.
void putTwoBytes(std::uint8_t* at, int value);
// The inverse for display purposes: exact for 0..65535 and for values below -255.
int readTwoBytes(const std::uint8_t* at);

// The item code sent to a device: devices of the "A15" product only know 0x01.
std::uint8_t itemForDevice(std::uint8_t currentItem, bool reducedProduct);
// The alarm flag for the code actually sent; at most one flag.
std::uint8_t alarmFlags(std::uint8_t item, const Sample& celsius, const Thresholds& thresholds);

// Builds a DataFrame from a sample in Celsius: converts to Fahrenheit when `unit` is
// non-zero and caps the CPU temperature at 199. `item` is the code already reduced.
Buffer dataFrame(std::uint8_t item, int unit, const Sample& celsius, const Thresholds& thresholds);

// What a frame asks a device to show, as the device reads it.
struct FrameContent {
  std::uint8_t item = 0;
  std::uint8_t unit = 0;
  std::uint8_t alarm = 0;
  Sample values;  // in the frame's unit
};
bool parseDataFrame(const std::uint8_t* frame, FrameContent* content);

Buffer dataReply(bool accepted);
inline bool dataReplyAccepted(const std::uint8_t* reply) { return reply[2] != 0x00; }

}  // namespace hidreport
