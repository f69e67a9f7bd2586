// The one way the program asks the user a yes/no question or tells them something:
// a modal box with the program's own button texts that never ends the program on close.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>

#include <functional>

class MessageBoxShow : public QObject {
  Q_OBJECT

 public:
  // The parent, when it is a widget, becomes the parent of every box shown.
  MessageBoxShow(QObject* parent, QMessageBox::Icon icon);

  // Ok ("确定") and Cancel ("取消"); returns the button pressed. Closing the box
  // without a button (Escape, title bar) returns QMessageBox::Cancel.
  int question(const QString& title, const QString& text);
  // A single Ok button.
  int information(const QString& title, const QString& text);

  // Stands in for the person in front of the screen: when set, each box is built
  // exactly as usual and handed to the answerer instead of being run modally; the
  // answerer's result is returned as the pressed button. Pass nullptr to restore.
  using Answerer = std::function<int(QMessageBox& box)>;
  static void setAnswerer(Answerer answerer);

 private:
  int run(const QString& title, const QString& text, QMessageBox::StandardButtons buttons);

  QMessageBox::Icon m_icon;
};
