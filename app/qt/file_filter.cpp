#include "app/qt/file_filter.h"

#include <QStringList>

namespace stbup {

namespace {

// "*.bin (Binary File)" with pattern "*.bin" -> "Binary File".
QString DescriptionName(QString description, const QString& pattern) {
  description = description.trimmed();
  if (description.startsWith(pattern)) {
    QString rest = description.mid(pattern.size()).trimmed();
    if (rest.startsWith('(') && rest.endsWith(')')) rest = rest.mid(1, rest.size() - 2).trimmed();
    if (!rest.isEmpty()) return rest;
  }
  return description.isEmpty() ? pattern : description;
}

}  // namespace

QString QtFileFilter(std::string_view filter) {
  const QStringList parts =
      QString::fromLatin1(filter.data(), static_cast<qsizetype>(filter.size())).split('|');
  QStringList lines;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1].trimmed();
    patterns.replace(';', ' ');
    lines << DescriptionName(parts[i], parts[i + 1].trimmed()) + " (" + patterns + ")";
  }
  // A lone description without its pattern is a pattern in itself.
  if (parts.size() % 2 == 1 && !parts.back().trimmed().isEmpty()) {
    lines << parts.back().trimmed();
  }
  return lines.join(";;");
}

QString QtDefaultSuffix(std::string_view extension) {
  QString suffix = QString::fromLatin1(extension.data(), static_cast<qsizetype>(extension.size()));
  while (suffix.startsWith('*') || suffix.startsWith('.')) suffix.remove(0, 1);
  return suffix;
}

}  // namespace stbup
