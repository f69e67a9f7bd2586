// The CPU-usage helper process and the parser of its output.
#pragma once

#include <optional>

class QIODevice;
class QProcess;

namespace cpuusage {

// Starts the helper on `process` when it is not running.
void startProcess(QProcess& process);
// Reads everything pending on `device`; returns the value to publish, or nothing
// when the current text must stay.
std::optional<int> readRate(QIODevice& device);

}  // namespace cpuusage
