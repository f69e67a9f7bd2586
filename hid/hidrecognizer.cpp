#include "hidrecognizer.h"

#include <QHash>
#include <QMetaObject>
#include <mutex>
#include <thread>

#include "hidapiguard.h"

// What the workers share with the recognizer; outlives it while an exchange runs.
struct HIDRecognizer::Shared {
  std::mutex mutex;
  HIDRecognizer* receiver = nullptr;  // null once the recognizer is gone
  // Per path: bumped by forget(), so that a result of an earlier plug-in is dropped.
  QHash<QString, quint64> generation;
  // Per path: the generation whose exchange is under way.
  QHash<QString, quint64> running;
};

namespace {

void start(const std::shared_ptr<HIDRecognizer::Shared>& shared, const QString& path,
           ushort vendorId, ushort productId);

// Called with the mutex held.
void post(HIDRecognizer::Shared* shared, const QString& path, quint64 generation,
          const HIDIdentifyResult& result) {
  HIDRecognizer* receiver = shared->receiver;
  if (!receiver) return;
  QMetaObject::invokeMethod(
      receiver,
      [receiver, shared, path, generation, result] {
        {
          std::lock_guard<std::mutex> lock(shared->mutex);
          if (shared->generation.value(path) != generation) return;
        }
        emit receiver->identified(result);
      },
      Qt::QueuedConnection);
}

void start(const std::shared_ptr<HIDRecognizer::Shared>& shared, const QString& path,
           ushort vendorId, ushort productId) {
  if (!HIDDevicesManager::isDisplayDevice(vendorId, productId) || path.isEmpty()) return;
  quint64 generation = 0;
  {
    std::lock_guard<std::mutex> lock(shared->mutex);
    generation = shared->generation.value(path);
    const auto running = shared->running.constFind(path);
    if (running != shared->running.cend() && running.value() == generation) return;
    shared->running.insert(path, generation);
  }
  std::thread([shared, path, vendorId, productId, generation] {
    const HIDIdentifyResult result =
        HIDDevicesManager::identify(vendorId, productId, path.toLocal8Bit());
    std::lock_guard<std::mutex> lock(shared->mutex);
    const auto running = shared->running.constFind(path);
    if (running != shared->running.cend() && running.value() == generation)
      shared->running.erase(running);
    post(shared.get(), path, generation, result);
  }).detach();
}

}  // namespace

HIDRecognizer::HIDRecognizer(QObject* parent)
    : QObject(parent), m_shared(std::make_shared<Shared>()) {
  qRegisterMetaType<HIDIdentifyResult>();
  m_shared->receiver = this;
}

HIDRecognizer::~HIDRecognizer() {
  std::lock_guard<std::mutex> lock(m_shared->mutex);
  m_shared->receiver = nullptr;
}

void HIDRecognizer::scanDevices() {
  std::thread([shared = m_shared] {
    for (const HIDInterface& entry : hidguard::enumerate())
      if (entry.hasSerial)
        start(shared, QString::fromLocal8Bit(entry.path), entry.vendorId, entry.productId);
  }).detach();
}

void HIDRecognizer::recognize(const QString& path, ushort vendorId, ushort productId) {
  start(m_shared, path, vendorId, productId);
}

void HIDRecognizer::forget(const QString& path) {
  std::lock_guard<std::mutex> lock(m_shared->mutex);
  m_shared->generation[path] += 1;
}
