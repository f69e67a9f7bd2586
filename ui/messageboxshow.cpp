#include "messageboxshow.h"

#include <QAbstractButton>
#include <QWidget>

#include <utility>

namespace {
MessageBoxShow::Answerer& answerer() {
  static MessageBoxShow::Answerer instance;
  return instance;
}
}  // namespace

MessageBoxShow::MessageBoxShow(QObject* parent, QMessageBox::Icon icon)
    : QObject(parent), m_icon(icon) {}

void MessageBoxShow::setAnswerer(Answerer answerer) { ::answerer() = std::move(answerer); }

int MessageBoxShow::question(const QString& title, const QString& text) {
  return run(title, text, QMessageBox::Ok | QMessageBox::Cancel);
}

int MessageBoxShow::information(const QString& title, const QString& text) {
  return run(title, text, QMessageBox::Ok);
}

int MessageBoxShow::run(const QString& title, const QString& text,
                        QMessageBox::StandardButtons buttons) {
  QWidget* parentWidget = qobject_cast<QWidget*>(parent());
  QMessageBox box(m_icon, title, text, buttons, parentWidget,
                  Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
  // The main window is usually hidden; closing a box must not end the program.
  box.setAttribute(Qt::WA_QuitOnClose, false);
  box.button(QMessageBox::Ok)->setText(tr("确定"));
  if (buttons.testFlag(QMessageBox::Cancel)) {
    box.button(QMessageBox::Cancel)->setText(tr("取消"));
  }
  if (::answerer()) return ::answerer()(box);
  return box.exec();
}
