#include <charconv>
#include <cstdio>
#include <map>
#include <variant>

#include "records/pending_records.h"

namespace stbup {

namespace {

void Quote(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  out += '"';
}

// A flat object's values: text, number or null.
using Value = std::variant<std::monostate, std::string, double>;

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  bool Object(std::map<std::string, Value, std::less<>>& fields) {
    Space();
    if (!Take('{')) return false;
    Space();
    if (Take('}')) return AtEnd();
    for (;;) {
      std::string name;
      Value value;
      Space();
      if (!String(name)) return false;
      Space();
      if (!Take(':')) return false;
      Space();
      if (!ReadValue(value)) return false;
      fields[name] = std::move(value);
      Space();
      if (Take('}')) return AtEnd();
      if (!Take(',')) return false;
    }
  }

 private:
  bool AtEnd() {
    Space();
    return at_ == text_.size();
  }
  void Space() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r')) {
      ++at_;
    }
  }
  bool Take(char c) {
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool ReadValue(Value& value) {
    if (text_.substr(at_).starts_with("null")) {
      at_ += 4;
      value = std::monostate{};
      return true;
    }
    if (at_ < text_.size() && text_[at_] == '"') {
      std::string text;
      if (!String(text)) return false;
      value = std::move(text);
      return true;
    }
    double number = 0;
    const char* begin = text_.data() + at_;
    const auto [end, error] = std::from_chars(begin, text_.data() + text_.size(), number);
    if (error != std::errc()) return false;
    at_ += static_cast<std::size_t>(end - begin);
    value = number;
    return true;
  }
  // The escapes RecordToJsonLine writes, and JSON's others.
  bool String(std::string& out) {
    if (!Take('"')) return false;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return true;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= text_.size()) return false;
      const char kind = text_[at_++];
      switch (kind) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'u': {
          unsigned code = 0;
          if (at_ + 4 > text_.size()) return false;
          const auto [end, error] =
              std::from_chars(text_.data() + at_, text_.data() + at_ + 4, code, 16);
          if (error != std::errc() || end != text_.data() + at_ + 4 || code >= 0x80) return false;
          at_ += 4;
          out += static_cast<char>(code);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

std::string RecordToJsonLine(const BoxRecord& r) {
  std::string line = "{";
  bool first = true;
  const auto name = [&](const char* key) {
    if (!first) line += ',';
    first = false;
    Quote(line, key);
    line += ':';
  };
  const auto text = [&](const char* key, const std::string& value) {
    name(key);
    Quote(line, value);
  };
  const auto optional_text = [&](const char* key, const std::optional<std::string>& value) {
    name(key);
    if (value) {
      Quote(line, *value);
    } else {
      line += "null";
    }
  };
  const auto integer = [&](const char* key, std::optional<std::int64_t> value) {
    name(key);
    line += value ? std::to_string(*value) : "null";
  };
  text("record_id", r.record_id);
  text("started_at", r.started_at);
  text("ended_at", r.ended_at);
  text("station", r.station);
  text("front_end", r.front_end);
  text("port", r.port);
  optional_text("loader_kind", r.loader_kind);
  optional_text("loader_version", r.loader_version);
  integer("flash_size", r.flash_size ? std::optional<std::int64_t>(*r.flash_size) : std::nullopt);
  optional_text("flash_chip", r.flash_chip);
  optional_text("box_model", r.box_model);
  optional_text("box_hw", r.box_hw);
  optional_text("box_sw", r.box_sw);
  text("image_path", r.image_path);
  integer("image_size", r.image_size);
  optional_text("image_sha256", r.image_sha256);
  text("image_model", r.image_model);
  text("image_hw", r.image_hw);
  text("image_sw", r.image_sw);
  text("image_type", r.image_type);
  integer("blocks_sent", r.blocks_sent);
  integer("blocks_retried", r.blocks_retried);
  name("seconds");
  char seconds[40];
  std::snprintf(seconds, sizeof seconds, "%.17g", r.seconds);
  line += seconds;
  text("verdict", std::string(VerdictName(r.verdict)));
  integer("exit_status", r.exit_status);
  text("log_tail", r.log_tail);
  line += '}';
  return line;
}

std::optional<BoxRecord> RecordFromJsonLine(std::string_view line) {
  std::map<std::string, Value, std::less<>> fields;
  if (!Reader(line).Object(fields)) return std::nullopt;
  bool whole = true;
  const auto text = [&](const char* key, std::string& out) {
    const auto found = fields.find(key);
    if (found == fields.end() || !std::holds_alternative<std::string>(found->second)) {
      whole = false;
      return;
    }
    out = std::get<std::string>(found->second);
  };
  const auto optional_text = [&](const char* key, std::optional<std::string>& out) {
    const auto found = fields.find(key);
    if (found == fields.end()) {
      whole = false;
    } else if (std::holds_alternative<std::string>(found->second)) {
      out = std::get<std::string>(found->second);
    } else if (!std::holds_alternative<std::monostate>(found->second)) {
      whole = false;
    }
  };
  const auto number = [&](const char* key, bool may_be_null) -> std::optional<double> {
    const auto found = fields.find(key);
    if (found != fields.end() && std::holds_alternative<double>(found->second)) {
      return std::get<double>(found->second);
    }
    if (found == fields.end() || !may_be_null ||
        !std::holds_alternative<std::monostate>(found->second)) {
      whole = false;
    }
    return std::nullopt;
  };
  BoxRecord r;
  text("record_id", r.record_id);
  text("started_at", r.started_at);
  text("ended_at", r.ended_at);
  text("station", r.station);
  text("front_end", r.front_end);
  text("port", r.port);
  optional_text("loader_kind", r.loader_kind);
  optional_text("loader_version", r.loader_version);
  if (const auto size = number("flash_size", true)) r.flash_size = static_cast<std::int32_t>(*size);
  optional_text("flash_chip", r.flash_chip);
  optional_text("box_model", r.box_model);
  optional_text("box_hw", r.box_hw);
  optional_text("box_sw", r.box_sw);
  text("image_path", r.image_path);
  if (const auto size = number("image_size", true)) r.image_size = static_cast<std::int64_t>(*size);
  optional_text("image_sha256", r.image_sha256);
  text("image_model", r.image_model);
  text("image_hw", r.image_hw);
  text("image_sw", r.image_sw);
  text("image_type", r.image_type);
  r.blocks_sent = static_cast<std::int32_t>(number("blocks_sent", false).value_or(0));
  r.blocks_retried = static_cast<std::int32_t>(number("blocks_retried", false).value_or(0));
  r.seconds = number("seconds", false).value_or(0);
  std::string verdict;
  text("verdict", verdict);
  const auto known = VerdictFromName(verdict);
  if (!known) return std::nullopt;
  r.verdict = *known;
  r.exit_status = static_cast<int>(number("exit_status", false).value_or(1));
  text("log_tail", r.log_tail);
  if (!whole || r.record_id.empty()) return std::nullopt;
  return r;
}

void AppendRecordsFromJsonLines(std::string_view text, std::vector<BoxRecord>& records) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    if (auto record = RecordFromJsonLine(text.substr(start, end - start))) {
      records.push_back(std::move(*record));
    }
    start = end + 1;
  }
}

}  // namespace stbup
