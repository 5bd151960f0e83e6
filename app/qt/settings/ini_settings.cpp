#include "app/qt/settings/ini_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <stdexcept>

namespace stbup {

namespace {

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToUtf8(const QString& text) { return text.toUtf8().toStdString(); }

constexpr const char* kPortsGroup = "Ports";

}  // namespace

QString IniSettings::DefaultPath() {
  const QByteArray chosen = qgetenv("STBUP_SETTINGS");
  if (!chosen.isEmpty()) return QString::fromLocal8Bit(chosen);
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         "/stbup/stbup.ini";
}

IniSettings::IniSettings(const QString& path) : path_(path) {
  // QSettings reads a file whole: the window takes no more than the command
  // line does, and never waits on a FIFO.
  const QFileInfo file(path);
  if (file.exists() && !file.isFile()) {
    refused_ = "is not a regular file";
  } else if (file.exists() && file.size() > static_cast<qint64>(kMaxSettingsFileSize)) {
    refused_ = "is larger than " + std::to_string(kMaxSettingsFileSize / 1024) + " KiB";
  } else {
    store_ = std::make_unique<QSettings>(path, QSettings::IniFormat);
  }
}

IniSettings::~IniSettings() = default;

QString IniSettings::FilePath() const { return store_ ? store_->fileName() : path_; }

QString IniSettings::GroupOf(std::string_view key_path) {
  QString group = FromUtf8(key_path);
  group.replace('\\', '/');
  while (group.startsWith('/')) group.remove(0, 1);
  while (group.endsWith('/')) group.chop(1);
  return group;
}

bool IniSettings::OpenKey(std::string_view path, bool create) {
  if (!store_) {
    if (create) throw std::runtime_error("Failed to create key " + std::string(path));
    return false;
  }
  const QString group = GroupOf(path);
  store_->sync();
  store_->beginGroup(group);
  const bool exists = !store_->childKeys().isEmpty() || !store_->childGroups().isEmpty();
  store_->endGroup();
  if (!exists) {
    if (!create) return false;
    // The key comes into being with its first value; what can be checked
    // now is that the file can be written at all.
    const QFileInfo file(FilePath());
    QFile probe(FilePath());
    if (!QDir().mkpath(file.absolutePath()) || !probe.open(QIODevice::ReadWrite)) {
      throw std::runtime_error("Failed to create key " + std::string(path));
    }
  }
  open_group_ = group;
  return true;
}

void IniSettings::CloseKey() {
  open_group_.reset();
  if (store_) store_->sync();
}

std::string IniSettings::ReadString(std::string_view name) {
  if (!open_group_) return {};
  const QVariant value = store_->value(*open_group_ + '/' + FromUtf8(name));
  if (!value.isValid()) return {};
  switch (value.typeId()) {
    case QMetaType::QString:
      return ToUtf8(value.toString());
    case QMetaType::QStringList:
      // An unquoted comma in a hand-edited file splits the text; it was one.
      return ToUtf8(value.toStringList().join(','));
    default:
      throw std::runtime_error("Invalid data type for '" + std::string(name) + "'");
  }
}

void IniSettings::WriteString(std::string_view name, std::string_view value) {
  if (!open_group_) throw std::runtime_error("Failed to set data for '" + std::string(name) + "'");
  store_->setValue(*open_group_ + '/' + FromUtf8(name), FromUtf8(value));
  store_->sync();
  if (store_->status() != QSettings::NoError) {
    throw std::runtime_error("Failed to set data for '" + std::string(name) + "'");
  }
}

std::string IniSettings::Problem() {
  const QString path = FilePath();
  if (!refused_.empty()) {
    return "The settings file \"" + ToUtf8(path) + "\" " + refused_ +
           "; it is left as it is and the settings will not be saved.";
  }
  const QFileInfo file(path);
  if (!file.exists()) return {};
  QFile probe(path);
  if (!probe.open(QIODevice::ReadOnly)) {
    return "Cannot read the settings file \"" + ToUtf8(path) + "\" (" +
           ToUtf8(probe.errorString()) + "); the settings will not be saved.";
  }
  store_->sync();
  if (store_->status() == QSettings::FormatError) {
    return "The settings file \"" + ToUtf8(path) +
           "\" is damaged; it is left as it is and the settings will not be saved.";
  }
  return {};
}

std::optional<std::string> IniSettings::PortPath(std::string_view port_name) const {
  if (!store_) return std::nullopt;
  const QString key = QString(kPortsGroup) + '/' + FromUtf8(port_name);
  const QVariant value = store_->value(key);
  if (!value.isValid() || value.typeId() != QMetaType::QString) return std::nullopt;
  const QString path = value.toString().trimmed();
  if (path.isEmpty()) return std::nullopt;
  return ToUtf8(path);
}

}  // namespace stbup
