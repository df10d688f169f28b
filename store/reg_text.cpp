#include "store/reg_text.hpp"

#include <cstdio>

#include "store/hive_file.hpp"  // StoreError

namespace zelin {

namespace {

constexpr size_t kMaxLineWidth = 80;

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Splits the text into lines (LF or CRLF ends; a lone CR stays in the line and is
// rejected by the parser as unexpected text).
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : lines_(SplitLines(text)) {}

  // The tree, or the first error found.
  Result<MemoryRegistry> Parse() {
    if (!Run()) return Status(StoreError::kSyntax, std::move(error_));
    return std::move(out_);
  }

 private:

  bool Run() {
    if (lines_.empty()) return Fail(1, "empty file: \"REGEDIT4\" header expected");
    std::string_view header = lines_[0];
    if (header.size() >= 2 && ((header[0] == '\xFF' && header[1] == '\xFE') ||
                               (header[0] == '\xFE' && header[1] == '\xFF')))
      return Fail(1, "UTF-16 text is not supported; save the file as ANSI text");
    if (header.substr(0, 3) == "\xEF\xBB\xBF") header.remove_prefix(3);
    header = TrimRight(header);
    if (header != kRegText4Header && header != kRegText5Header)
      return Fail(1, "\"REGEDIT4\" header expected");
    for (line_ = 1; line_ < lines_.size(); ++line_) {
      const std::string_view line = TrimRight(lines_[line_]);
      if (line.empty() || line.front() == ';') continue;
      if (line.front() == '[') {
        if (!Section(line)) return false;
      } else if (line.front() == '"' || line.front() == '@') {
        if (!ValueLine(line)) return false;
      } else {
        return Fail(line_ + 1, "unexpected text");
      }
    }
    return true;
  }

  bool Fail(size_t line, std::string_view message) {
    error_ = std::to_string(line) + ": " + std::string(message);
    return false;
  }
  bool Fail(std::string_view message) { return Fail(line_ + 1, message); }

  bool Section(std::string_view line) {
    if (line.back() != ']') return Fail("key line without closing ']'");
    std::string_view path = line.substr(1, line.size() - 2);
    if (!path.empty() && path.front() == '-') return Fail("key deletions are not supported");
    const size_t sep = path.find('\\');
    const std::string_view root = path.substr(0, sep);
    if (!RegNameEquals(root, kRegRootName)) return Fail("key outside HKEY_LOCAL_MACHINE");
    path = sep == std::string_view::npos ? std::string_view{} : path.substr(sep + 1);
    if (sep != std::string_view::npos && path.empty()) return Fail("invalid key name");
    if (!out_.CreateKey(path)) return Fail("invalid key name");
    key_ = std::string(path);
    in_key_ = true;
    return true;
  }

  // Reads a quoted string starting after its opening quote; `pos` ends after the
  // closing quote.
  bool Quoted(std::string_view line, size_t& pos, std::string& out) {
    out.clear();
    while (pos < line.size()) {
      const char c = line[pos++];
      if (c == '"') return true;
      if (c == '\\') {
        if (pos >= line.size()) break;
        const char e = line[pos++];
        if (e != '\\' && e != '"') return Fail(std::string("bad escape '\\") + e + "'");
        out += e;
      } else {
        out += c;
      }
    }
    return Fail("unterminated string");
  }

  bool ValueLine(std::string_view line) {
    if (!in_key_) return Fail("value outside a key");
    RegValue value;
    size_t pos = 1;
    if (line.front() == '"') {
      if (!Quoted(line, pos, value.name)) return false;
    }
    if (pos >= line.size() || line[pos] != '=') return Fail("'=' expected after the value name");
    ++pos;
    const std::string_view data = line.substr(pos);
    if (data.starts_with("\"")) {
      size_t p = 1;
      std::string text;
      if (!Quoted(data, p, text)) return false;
      if (p != data.size()) return Fail("unexpected text after the string");
      value.type = kRegString;
      value.data.assign(text.begin(), text.end());
    } else if (data.starts_with("dword:")) {
      const std::string_view digits = data.substr(6);
      if (digits.empty() || digits.size() > 8) return Fail("dword needs 1 to 8 hex digits");
      uint32_t v = 0;
      for (const char c : digits) {
        const int d = HexDigit(c);
        if (d < 0) return Fail("bad hex digit in dword");
        v = (v << 4) | static_cast<uint32_t>(d);
      }
      value.type = kRegDword;
      value.data.resize(4);
      PutLe32(value.data, 0, v);
    } else if (data.starts_with("hex:") || data.starts_with("hex(")) {
      size_t p = 3;
      value.type = kRegBinary;
      if (data[3] == '(') {
        const size_t close = data.find(')');
        if (close == std::string_view::npos || close == 4 || close > 12 ||
            close + 1 >= data.size() || data[close + 1] != ':')
          return Fail("bad hex(N): type");
        uint32_t t = 0;
        for (size_t i = 4; i < close; ++i) {
          const int d = HexDigit(data[i]);
          if (d < 0) return Fail("bad hex(N): type");
          t = (t << 4) | static_cast<uint32_t>(d);
        }
        value.type = t;
        p = close + 1;
      }
      if (!HexBytes(data.substr(p + 1), value.data)) return false;
    } else if (data == "-") {
      return Fail("value deletions are not supported");
    } else {
      return Fail("unknown value type");
    }
    if (!out_.WriteValue(key_, value)) return Fail("invalid value");
    return true;
  }

  // Comma-separated two-digit hex bytes; a trailing backslash continues on the next
  // line. Advances line_ over continuation lines.
  bool HexBytes(std::string_view rest, std::vector<uint8_t>& out) {
    bool expect_byte = false;  // after a comma
    while (true) {
      bool continued = false;
      if (!rest.empty() && rest.back() == '\\') {
        continued = true;
        rest = TrimRight(rest.substr(0, rest.size() - 1));
        if (!rest.empty() && rest.back() != ',') return Fail("',' expected before '\\'");
      }
      size_t pos = 0;
      while (pos < rest.size()) {
        if (pos + 2 > rest.size() || HexDigit(rest[pos]) < 0 || HexDigit(rest[pos + 1]) < 0)
          return Fail("bad hex byte");
        out.push_back(static_cast<uint8_t>(HexDigit(rest[pos]) * 16 + HexDigit(rest[pos + 1])));
        pos += 2;
        expect_byte = false;
        if (pos < rest.size()) {
          if (rest[pos] != ',') return Fail("',' expected between hex bytes");
          ++pos;
          expect_byte = true;
        }
      }
      if (!continued) break;
      if (line_ + 1 >= lines_.size())
        return Fail("truncated hex value: the file ends after a continuation");
      ++line_;
      rest = TrimRight(TrimLeft(lines_[line_]));
      if (rest.empty()) return Fail("truncated hex value: empty continuation line");
    }
    if (expect_byte) return Fail("truncated hex value: byte expected after ','");
    return true;
  }

  std::vector<std::string_view> lines_;
  MemoryRegistry out_;
  std::string error_;  // "LINE: what"

  size_t line_ = 0;  // index of the current line (0-based)
  std::string key_;
  bool in_key_ = false;
};

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
}

bool PrintableString(const std::vector<uint8_t>& data) {
  for (const uint8_t b : data)
    if (b == 0 || b == '\r' || b == '\n') return false;
  return true;
}

void AppendKey(const Registry& reg, const std::string& path, std::string& out) {
  if (!path.empty() || reg.EnumValue(path, 0)) {
    out += '[';
    out += kRegRootName;
    if (!path.empty()) {
      out += '\\';
      out += path;
    }
    out += "]\n";
    for (size_t i = 0;; ++i) {
      const auto v = reg.EnumValue(path, i);
      if (!v) break;
      out += FormatRegValue(*v);
      out += '\n';
    }
    out += '\n';
  }
  for (size_t i = 0;; ++i) {
    const auto child = reg.EnumSubkey(path, i);
    if (!child) break;
    AppendKey(reg, RegJoin(path, *child), out);
  }
}

// The path with each component spelled as stored; nullopt when the key is missing.
std::optional<std::string> StoredPath(const Registry& reg, std::string_view path) {
  std::string stored;
  while (!path.empty()) {
    const size_t sep = path.find('\\');
    const std::string_view part = path.substr(0, sep);
    std::optional<std::string> found;
    for (size_t i = 0;; ++i) {
      auto child = reg.EnumSubkey(stored, i);
      if (!child) break;
      if (RegNameEquals(*child, part)) {
        found = std::move(child);
        break;
      }
    }
    if (!found) return std::nullopt;
    stored = RegJoin(stored, *found);
    path = sep == std::string_view::npos ? std::string_view{} : path.substr(sep + 1);
  }
  return stored;
}

}  // namespace

Result<MemoryRegistry> ParseRegText(std::string_view text) {
  return Parser(text).Parse();
}

std::string FormatRegValue(const RegValue& value) {
  std::string out;
  if (value.name.empty())
    out += '@';
  else
    AppendQuoted(out, value.name);
  out += '=';
  if (value.type == kRegString && PrintableString(value.data)) {
    AppendQuoted(
        out, std::string_view(reinterpret_cast<const char*>(value.data.data()), value.data.size()));
    return out;
  }
  char buf[32];
  if (value.type == kRegDword && value.data.size() == 4) {
    std::snprintf(buf, sizeof buf, "dword:%08x", GetLe32(value.data, 0));
    out += buf;
    return out;
  }
  if (value.type == kRegBinary) {
    out += "hex:";
  } else {
    std::snprintf(buf, sizeof buf, "hex(%x):", value.type);
    out += buf;
  }
  size_t line_start = 0;
  for (size_t i = 0; i < value.data.size(); ++i) {
    const bool last = i + 1 == value.data.size();
    // Room for "xx," and the continuation backslash, or "xx" for the last byte.
    const size_t need = last ? 2 : 4;
    if (out.size() - line_start + need > kMaxLineWidth) {
      out += "\\\n";
      line_start = out.size();
      out += "  ";
    }
    std::snprintf(buf, sizeof buf, last ? "%02x" : "%02x,", value.data[i]);
    out += buf;
  }
  return out;
}

std::string FormatRegText(const Registry& reg) {
  std::string out(kRegText4Header);
  out += "\n\n";
  AppendKey(reg, "", out);
  return out;
}

std::string FormatRegText(const Registry& reg, const std::vector<std::string>& key_paths) {
  std::string out(kRegText4Header);
  out += "\n\n";
  for (const auto& p : key_paths) {
    const auto stored = StoredPath(reg, p);
    if (stored && !stored->empty()) AppendKey(reg, *stored, out);
  }
  return out;
}

}  // namespace zelin
