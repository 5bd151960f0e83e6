#pragma once

#include <QString>
#include <ostream>

// Test failures show Qt's texts as text.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
