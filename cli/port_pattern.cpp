#include "cli/port_pattern.h"

#include <cctype>
#include <cstddef>
#include <optional>

namespace stbup {
namespace {

char Folded(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// The set "[...]" starting at pattern[at] against c: whether c is in it and
// where the pattern goes on; nothing when the set is not closed.
struct SetMatch {
  bool matches;
  std::size_t next;
};
std::optional<SetMatch> MatchSet(std::string_view pattern, std::size_t at, char c) {
  std::size_t i = at + 1;
  bool negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
  if (negated) ++i;
  bool found = false;
  bool first = true;
  // A ']' first in the set is one of its members, as in a shell's glob.
  while (i < pattern.size() && (first || pattern[i] != ']')) {
    first = false;
    char low = Folded(pattern[i]);
    char high = low;
    if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
      high = Folded(pattern[i + 2]);
      i += 2;
    }
    if (low <= Folded(c) && Folded(c) <= high) found = true;
    ++i;
  }
  if (i >= pattern.size()) return std::nullopt;
  return SetMatch{found != negated, i + 1};
}

}  // namespace

bool PortPatternMatches(std::string_view pattern, std::string_view name) {
  // Greedy with one point to come back to: the last '*' seen takes one more
  // character of the name each time what follows it fails.
  std::size_t p = 0;
  std::size_t n = 0;
  std::optional<std::size_t> star;
  std::size_t star_name = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = ++p;
      star_name = n;
      continue;
    }
    if (p < pattern.size()) {
      if (pattern[p] == '[') {
        if (auto set = MatchSet(pattern, p, name[n])) {
          if (set->matches) {
            p = set->next;
            ++n;
            continue;
          }
        } else if (name[n] == '[') {
          ++p;
          ++n;
          continue;
        }
      } else if (pattern[p] == '?' || Folded(pattern[p]) == Folded(name[n])) {
        ++p;
        ++n;
        continue;
      }
    }
    if (!star) return false;
    p = *star;
    n = ++star_name;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace stbup
