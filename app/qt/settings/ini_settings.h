#pragma once

#include <QSettings>
#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/core/settings.h"

namespace stbup {

// The settings store as an INI file: a key path "\A\B\C" is the group "A/B/C",
// the port map is the group "Ports" (COM3=/dev/ttyUSB0). Texts are UTF-8.
class IniSettings : public Settings {
 public:
  // $STBUP_SETTINGS when set, else stbup/stbup.ini under the user's config
  // directory.
  static QString DefaultPath();

  explicit IniSettings(const QString& path = DefaultPath());
  ~IniSettings() override;

  bool OpenKey(std::string_view path, bool create) override;
  void CloseKey() override;
  std::string ReadString(std::string_view name) override;
  void WriteString(std::string_view name, std::string_view value) override;
  std::optional<std::string> PortPath(std::string_view port_name) const override;
  std::string Problem() override;

  QString FilePath() const;

 private:
  static QString GroupOf(std::string_view key_path);

  QString path_;
  // Why the file is not read at all (larger than kMaxSettingsFileSize, or
  // not a regular file); empty when it is. Such a store reads as empty and
  // is never written.
  std::string refused_;
  std::unique_ptr<QSettings> store_;
  std::optional<QString> open_group_;
};

}  // namespace stbup
