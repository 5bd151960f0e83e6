#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "app/qt/dialogs.h"

namespace stbup {

// Message boxes that return at once and remember what they showed; the open
// dialog answers with a prepared choice. while_open runs inside every box,
// as the modal loop of a real one would keep the window working.
class ScriptedDialogs : public Dialogs {
 public:
  void Message(QWidget* parent, const QString& text) override;
  void Error(QWidget* parent, const QString& text) override;
  std::optional<QString> OpenFile(QWidget* parent, const QString& directory, const QString& filter,
                                  const QString& default_suffix) override;

  QStringList messages;
  QStringList errors;
  std::optional<QString> chosen_file;
  QString last_directory;
  QString last_filter;
  QString last_suffix;
  std::function<void()> while_open;
};

}  // namespace stbup
