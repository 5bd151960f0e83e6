#include "app/qt/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace stbup {

namespace {

QString BoxTitle() { return QApplication::applicationName(); }

}  // namespace

void ModalDialogs::Message(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, BoxTitle(), text, QMessageBox::Ok, parent);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

QString ModalDialogs::ErrorBoxText(const QString& text) {
  if (!text.isEmpty() && text.back() > QChar('.')) return text + '.';
  return text;
}

void ModalDialogs::Error(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, BoxTitle(), ErrorBoxText(text), QMessageBox::Ok, parent);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

std::optional<QString> ModalDialogs::OpenFile(QWidget* parent, const QString& directory,
                                              const QString& filter,
                                              const QString& default_suffix) {
  QFileDialog dialog(parent, QString(), directory, filter);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(default_suffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front();
}

}  // namespace stbup
