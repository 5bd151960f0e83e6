#include "tests/qt/support/scripted_dialogs.h"

namespace stbup {

void ScriptedDialogs::Message(QWidget*, const QString& text) {
  messages << text;
  if (while_open) while_open();
}

void ScriptedDialogs::Error(QWidget*, const QString& text) {
  errors << text;
  if (while_open) while_open();
}

std::optional<QString> ScriptedDialogs::OpenFile(QWidget*, const QString& directory,
                                                 const QString& filter,
                                                 const QString& default_suffix) {
  last_directory = directory;
  last_filter = filter;
  last_suffix = default_suffix;
  return chosen_file;
}

}  // namespace stbup
