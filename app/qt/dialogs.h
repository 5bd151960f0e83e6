#pragma once

#include <optional>

#include <QString>

class QWidget;

namespace stbup {

// The window's modal boxes and its open dialog. The window uses the real ones;
// tests put in boxes that return at once.
class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // A modal box with one OK button.
  virtual void Message(QWidget* parent, const QString& text) = 0;
  // The framework's box for an error that escaped a handler.
  virtual void Error(QWidget* parent, const QString& text) = 0;
  // OD1: the chosen file, or nothing when cancelled. filter is in the
  // toolkit's form ("Binary File (*.bin)"), default_suffix without a dot.
  virtual std::optional<QString> OpenFile(QWidget* parent, const QString& directory,
                                          const QString& filter, const QString& default_suffix) = 0;
};

// The real boxes: QMessageBox and QFileDialog, application-modal.
class ModalDialogs : public Dialogs {
 public:
  void Message(QWidget* parent, const QString& text) override;
  void Error(QWidget* parent, const QString& text) override;
  std::optional<QString> OpenFile(QWidget* parent, const QString& directory, const QString& filter,
                                  const QString& default_suffix) override;

  // What the error box shows: the framework ends an error's text with a full
  // stop unless it already ends in punctuation.
  static QString ErrorBoxText(const QString& text);
};

}  // namespace stbup
