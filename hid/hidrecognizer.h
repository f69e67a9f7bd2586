// Runs identify exchanges off the GUI thread. A device may take seconds to answer, or stall a
// write for as long as it likes; the window must not wait for it.
//
//   auto* recognizer = new HIDRecognizer(window);
//   connect(recognizer, &HIDRecognizer::identified, window, [&](const HIDIdentifyResult& r) {
//     manager.applyIdentifyResult(r);  // and refresh when the table's size changed
//   });
//   recognizer->scanDevices();             // the start-up enumeration
//   recognizer->recognize(path, vid, pid); // a hot-plug arrival
//   recognizer->forget(path);              // a removal: a result still under way is dropped
//
// Every exchange runs on a thread of its own, so a silent device delays nobody else. The
// destructor does not wait for them: an exchange stuck in a write finishes (or not) on its
// own, and its result goes nowhere.
#pragma once

#include <QObject>
#include <memory>

#include "hiddevicesmanager.h"

class HIDRecognizer : public QObject {
  Q_OBJECT

 public:
  explicit HIDRecognizer(QObject* parent = nullptr);
  ~HIDRecognizer() override;

  // Enumerates on a worker and recognises every display interface that reports a serial number.
  void scanDevices();
  // Filters by vendor and product ID at once; at most one exchange per path is under way.
  void recognize(const QString& path, ushort vendorId, ushort productId);
  void forget(const QString& path);

  struct Shared;

 signals:
  // On the GUI thread, once per exchange that was not forgotten meanwhile.
  void identified(const HIDIdentifyResult& result);

 private:
  std::shared_ptr<Shared> m_shared;
};

Q_DECLARE_METATYPE(HIDIdentifyResult)
