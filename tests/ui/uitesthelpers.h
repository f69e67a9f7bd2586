// Shared helpers of the user-interface tests: an answerer that records every message
// box instead of waiting for a person, modal-dialog closing, and catalogue switching.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QTranslator>
#include <QVector>
#include <QWidget>

#include <memory>

#include "messageboxshow.h"

struct RecordedBox {
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QStringList buttons;  // in the order of QMessageBox::buttons()
  QWidget* parent = nullptr;
  bool quitOnClose = true;
  Qt::WindowFlags flags;
};

// Answers every box with `answer` and records what it showed; restores on destruction.
class ScopedAnswerer {
 public:
  explicit ScopedAnswerer(int answer) : m_answer(answer) {
    MessageBoxShow::setAnswerer([this](QMessageBox& box) {
      RecordedBox r;
      r.title = box.windowTitle();
      r.text = box.text();
      r.icon = box.icon();
      for (QAbstractButton* b : box.buttons()) r.buttons << b->text();
      r.parent = box.parentWidget();
      r.quitOnClose = box.testAttribute(Qt::WA_QuitOnClose);
      r.flags = box.windowFlags();
      boxes.append(r);
      return m_answer;
    });
  }
  ~ScopedAnswerer() { MessageBoxShow::setAnswerer(nullptr); }
  void setAnswer(int answer) { m_answer = answer; }

  QVector<RecordedBox> boxes;

 private:
  int m_answer;
};

// Installs one of the compiled-in catalogues for the lifetime of the object.
class ScopedCatalogue {
 public:
  explicit ScopedCatalogue(const QString& resource) {
    loaded = m_translator.load(resource);
    if (loaded) QCoreApplication::installTranslator(&m_translator);
  }
  ~ScopedCatalogue() { QCoreApplication::removeTranslator(&m_translator); }
  bool loaded = false;

 private:
  QTranslator m_translator;
};

// Runs `action` on the next modal widget that opens (polling, so it works for dialogs
// whose exec() is called by the code under test).
inline void whenModalOpens(std::function<void(QWidget*)> action, int timeoutMs = 30000) {
  auto* timer = new QTimer(qApp);
  auto* waited = new int(0);
  QObject::connect(timer, &QTimer::timeout, [timer, waited, action, timeoutMs]() {
    *waited += 20;
    QWidget* modal = QApplication::activeModalWidget();
    if (modal || *waited > timeoutMs) {
      timer->stop();
      timer->deleteLater();
      delete waited;
      if (modal) action(modal);
    }
  });
  timer->start(20);
}

// Runs `action` inside the application's own event loop, where closing the last window
// ends the program as it would in use, and says whether it did. The loop is left
// running for `settleMs` after the action returns before the test ends it itself.
inline bool endsTheProgram(std::function<void()> action, int settleMs = 300) {
  QTimer::singleShot(0, [action, settleMs]() {
    action();
    QTimer::singleShot(settleMs, []() { QCoreApplication::exit(42); });
  });
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, []() { QCoreApplication::exit(99); });
  guard.start(120000);
  const int code = QCoreApplication::exec();
  return code == 0;
}
