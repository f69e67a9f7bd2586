#include <windows.h>

#include <QSysInfo>

#include "cpuusage.h"

namespace sensors::platform {

namespace {

void closeHandle(qintptr* handle) {
  if (*handle != -1) CloseHandle(reinterpret_cast<HANDLE>(*handle));
  *handle = -1;
}

void forget(ChildProcess* child) {
  closeHandle(&child->handle);
  closeHandle(&child->input);
  closeHandle(&child->output);
  child->pid = 0;
}

}  // namespace

QString systemVersionText() { return QSysInfo::productVersion(); }

bool startChild(const QString& program, const QStringList& arguments, ChildProcess* child) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr;
  if (!CreatePipe(&inRead, &inWrite, &inherit, 0)) return false;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) {
    CloseHandle(inRead);
    CloseHandle(inWrite);
    return false;
  }
  // Only the child's ends are inherited.
  SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  QString commandLine = QLatin1Char('"') + program + QLatin1Char('"');
  for (const QString& argument : arguments) commandLine += QStringLiteral(" \"%1\"").arg(argument);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inRead;
  startup.hStdOutput = outWrite;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info{};
  std::wstring line = commandLine.toStdWString();
  const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info);
  CloseHandle(inRead);
  CloseHandle(outWrite);
  if (!started) {
    CloseHandle(inWrite);
    CloseHandle(outRead);
    return false;
  }
  CloseHandle(info.hThread);
  child->pid = info.dwProcessId;
  child->handle = reinterpret_cast<qintptr>(info.hProcess);
  child->input = reinterpret_cast<qintptr>(inWrite);
  child->output = reinterpret_cast<qintptr>(outRead);
  return true;
}

void readChild(const ChildProcess& child, QByteArray* into) {
  if (child.output == -1) return;
  const HANDLE pipe = reinterpret_cast<HANDLE>(child.output);
  char buffer[4096];
  for (int reads = 0; reads < 32; ++reads) {
    DWORD available = 0, read = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
    if (!ReadFile(pipe, buffer, qMin<DWORD>(available, sizeof buffer), &read, nullptr) || !read)
      return;
    into->append(buffer, int(read));
  }
}

bool childRunning(ChildProcess* child) {
  if (!child->pid) return false;
  if (WaitForSingleObject(reinterpret_cast<HANDLE>(child->handle), 0) == WAIT_TIMEOUT) return true;
  forget(child);
  return false;
}

void endChild(ChildProcess* child) {
  if (!child->pid) return;
  const HANDLE process = reinterpret_cast<HANDLE>(child->handle);
  TerminateProcess(process, 1);
  WaitForSingleObject(process, 200);
  forget(child);
}

}  // namespace sensors::platform
