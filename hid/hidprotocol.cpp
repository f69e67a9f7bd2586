#include "hidprotocol.h"

namespace hidreport {

Buffer identifyRequest() {
  Buffer request{};
  request[0] = kIdentifyRequestId;
  request[1] = 0x01;
  return request;
}

bool parseIdentifyReply(const std::uint8_t* reply, Identity* identity) {
  if (reply[0] != kIdentifyReplyId) return false;
  identity->hardwareMajor = reply[2];
  identity->hardwareMinor = reply[3];
  identity->firmwareMajor = reply[4];
  identity->firmwareMinor = reply[5];
  for (std::size_t i = 0; i < identity->identifier.size(); ++i)
    identity->identifier[i] = reply[6 + i];
  return true;
}

Buffer identifyReply(const Identity& identity) {
  Buffer reply{};
  reply[0] = kIdentifyReplyId;
  reply[2] = identity.hardwareMajor;
  reply[3] = identity.hardwareMinor;
  reply[4] = identity.firmwareMajor;
  reply[5] = identity.firmwareMinor;
  for (std::size_t i = 0; i < identity.identifier.size(); ++i)
    reply[6 + i] = identity.identifier[i];
  return reply;
}

int toFahrenheit(int celsius) { return celsius * 9 / 5 + 32; }

void putTwoBytes(std::uint8_t* at, int value) {
  // C++ division truncates toward zero, which is what the devices expect.
  at[0] = static_cast<std::uint8_t>((value / 256) & 0xFF);
  at[1] = static_cast<std::uint8_t>(value & 0xFF);
}

int readTwoBytes(const std::uint8_t* at) {
  const int high = static_cast<std::int8_t>(at[0]);
  if (high < 0) return high * 256 - ((256 - at[1]) & 0xFF);
  return at[0] * 256 + at[1];
}

std::uint8_t itemForDevice(std::uint8_t currentItem, bool reducedProduct) {
  if (reducedProduct && currentItem != 0) return CPU_TEMPERATURE;
  return currentItem;
}

std::uint8_t alarmFlags(std::uint8_t item, const Sample& celsius, const Thresholds& thresholds) {
  switch (item) {
    case CPU_USAGE_RATE:
      return celsius.cpuUsageRate >= thresholds.usageRateAlarm ? CPU_USAGE_RATE : 0;
    case GPU_TEMPERATURE:
      return celsius.gpuTemperature >= thresholds.temperatureAlarm ? GPU_TEMPERATURE : 0;
    case GPU_USAGE_RATE:
      return celsius.gpuUsageRate >= thresholds.usageRateAlarm ? GPU_USAGE_RATE : 0;
    case FAN_RPM:
      return celsius.fanRpm <= thresholds.fanRpmAlarm ? FAN_RPM : 0;
    default:
      return 0;
  }
}

Buffer dataFrame(std::uint8_t item, int unit, const Sample& celsius, const Thresholds& thresholds) {
  int cpuTemperature = celsius.cpuTemperatureKnown ? celsius.cpuTemperature : 0;
  int gpuTemperature = celsius.gpuTemperatureKnown ? celsius.gpuTemperature : 0;
  if (unit != 0) {
    if (celsius.cpuTemperatureKnown) cpuTemperature = toFahrenheit(cpuTemperature);
    if (celsius.gpuTemperatureKnown) gpuTemperature = toFahrenheit(gpuTemperature);
  }
  if (cpuTemperature > 199) cpuTemperature = 199;

  Buffer frame{};
  frame[0] = kDataFrameId;
  frame[1] = item;
  frame[2] = unit != 0 ? 0x01 : 0x00;
  frame[3] = alarmFlags(item, celsius, thresholds);
  putTwoBytes(&frame[5], cpuTemperature);
  frame[7] = static_cast<std::uint8_t>(celsius.cpuUsageRate & 0xFF);
  putTwoBytes(&frame[8], gpuTemperature);
  frame[10] = static_cast<std::uint8_t>(celsius.gpuUsageRate & 0xFF);
  putTwoBytes(&frame[11], celsius.fanRpm);
  return frame;
}

bool parseDataFrame(const std::uint8_t* frame, FrameContent* content) {
  if (frame[0] != kDataFrameId) return false;
  content->item = frame[1];
  content->unit = frame[2];
  content->alarm = frame[3];
  content->values.cpuTemperature = readTwoBytes(&frame[5]);
  content->values.cpuUsageRate = frame[7];
  content->values.gpuTemperature = readTwoBytes(&frame[8]);
  content->values.gpuUsageRate = frame[10];
  content->values.fanRpm = readTwoBytes(&frame[11]);
  return true;
}

Buffer dataReply(bool accepted) {
  Buffer reply{};
  reply[0] = kDataReplyId;
  reply[2] = accepted ? 0x01 : 0x00;
  return reply;
}

}  // namespace hidreport
