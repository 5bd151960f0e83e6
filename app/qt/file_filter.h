#pragma once

#include <string_view>

#include <QString>

namespace stbup {

// An open dialog's filter as the window logic gives it, pairs of description
// and pattern joined by '|' ("*.bin (Binary File)|*.bin"), in the form Qt's
// dialogs take: one "Description (patterns)" per line ("Binary File (*.bin)").
// A description that already repeats its pattern in front keeps only its name.
QString QtFileFilter(std::string_view filter);

// The default extension "*.bin" as a suffix without wildcard or dot ("bin").
QString QtDefaultSuffix(std::string_view extension);

}  // namespace stbup
