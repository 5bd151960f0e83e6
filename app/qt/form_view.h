#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "seams/view.h"

class QLineEdit;

namespace stbup {

class Dialogs;
class TMainFrm;

// The View over TMainFrm's controls. Byte strings are shown byte for byte:
// 0x80-0xFF as their Latin-1 characters, and read back the same way.
class FormView : public View {
 public:
  FormView(TMainFrm& frame, Dialogs& dialogs);

  void AddMemoLine(std::string_view line) override;
  void ClearMemo() override;
  void SetMemoColour(Colour colour) override;
  std::string Label3Caption() const override;
  void SetLabel3(std::string_view caption, Colour colour) override;
  void SetLogo(std::optional<std::string_view> caption, std::optional<Colour> text,
               std::optional<Colour> background) override;
  void SetProgress(ProgressBar bar, int percent) override;
  void SetFileSize(std::string_view text) override;
  void ShowConnect(bool visible, std::string_view caption) override;
  void EnableSetupControls(bool enabled) override;
  void SetEdit(Edit edit, std::string_view text) override;
  std::string EditText(Edit edit) const override;
  void ShowMessage(std::string_view text) override;
  void ReportError(std::string_view text) override;
  void Beep() override;

  static QString FromBytes(std::string_view bytes);
  // Characters beyond Latin-1 (typed by the operator) become '?'.
  static std::string ToBytes(const QString& text);

 private:
  QLineEdit* EditOf(Edit edit) const;

  TMainFrm& frame_;
  Dialogs& dialogs_;
  // edFileName holds a file system name: the bytes last set and the text
  // shown for them, so that a name that is not UTF-8 still reads back as
  // the same bytes while the edit is unchanged.
  std::string file_name_bytes_;
  QString file_name_shown_;
};

}  // namespace stbup
