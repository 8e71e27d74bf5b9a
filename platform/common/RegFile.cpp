#include "platform/common/RegFile.h"

#include <fstream>
#include <iterator>

#include "platform/Text.h"
#include "platform/common/SoftRegistry.h"

namespace plat::soft {

RegFileError::RegFileError(int line, const std::string& message, const std::string& fileName)
    : std::runtime_error((fileName.empty() ? std::string() : fileName + ": ") +
                         (line > 0 ? "line " + std::to_string(line) + ": " : std::string()) + message),
      line_(line),
      message_(message) {}

namespace {

using plat::AppendUtf8;
using plat::HexDigit;

constexpr const char* kHeader5 = "Windows Registry Editor Version 5.00";
constexpr const char* kHeader4 = "REGEDIT4";

// UTF-16LE code units to UTF-8; an unpaired surrogate becomes U+FFFD rather than failing, as text viewers
// show it. A dangling odd byte is ignored (callers decide whether that is an error).
std::string Utf16LeToUtf8(const unsigned char* p, std::size_t bytes) {
  std::string out;
  const std::size_t units = bytes / 2;
  out.reserve(units);
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t u = p[2 * i] | (static_cast<std::uint32_t>(p[2 * i + 1]) << 8);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      std::uint32_t v = p[2 * i + 2] | (static_cast<std::uint32_t>(p[2 * i + 3]) << 8);
      if (v >= 0xDC00 && v <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
        ++i;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
    AppendUtf8(out, u);
  }
  return out;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (IsSpace(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() &&
         NamesEqual(std::string(s.substr(0, prefix.size())), std::string(prefix));
}

struct RootName {
  const char* full;
  const char* brief;
  HKEY key;
};

bool FindRoot(const std::string& name, HKEY& root) {
  const RootName roots[] = {
      {"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT},     {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
      {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE},   {"HKEY_USERS", "HKU", HKEY_USERS},
      {"HKEY_CURRENT_CONFIG", "HKCC", HKEY_CURRENT_CONFIG},
  };
  for (const RootName& r : roots) {
    if (NamesEqual(name, r.full) || NamesEqual(name, r.brief)) {
      root = r.key;
      return true;
    }
  }
  return false;
}

// Parses one logical line at a time; `line` is where the logical line starts.
class Parser {
 public:
  Parser(bool unicodeFile, int line, std::string_view text) : unicode_(unicodeFile), line_(line), s_(text) {}

  [[noreturn]] void Fail(const std::string& message) const { throw RegFileError(line_, message); }

  // A quoted string at the cursor with its \\ and \" escapes resolved.
  std::string QuotedString() {
    pos_++;  // opening quote
    std::string out;
    for (;;) {
      if (pos_ >= s_.size()) Fail("unterminated string (missing closing \")");
      char c = s_[pos_++];
      if (c == '"') return out;
      if (c == '\\') {
        if (pos_ >= s_.size()) Fail("unterminated string (missing closing \")");
        char e = s_[pos_++];
        if (e != '\\' && e != '"')
          Fail(std::string("unknown escape \\") + e + " in a string (write \\\\ for a backslash)");
        out += e;
      } else {
        out += c;
      }
    }
  }

  void SkipSpaces() {
    while (pos_ < s_.size() && IsSpace(s_[pos_])) ++pos_;
  }

  bool AtEnd() {
    SkipSpaces();
    return pos_ >= s_.size();
  }

  void ExpectEnd(const char* what) {
    if (!AtEnd()) Fail(std::string("unexpected text after ") + what);
  }

  // Up to `maxDigits` hex digits (at least one) as a number.
  DWORD HexNumber(int maxDigits, const char* what) {
    DWORD v = 0;
    int n = 0;
    while (pos_ < s_.size() && HexDigit(s_[pos_]) >= 0) {
      if (++n > maxDigits)
        Fail(std::string(what) + " has more than " + std::to_string(maxDigits) + " hex digits");
      v = (v << 4) | static_cast<DWORD>(HexDigit(s_[pos_++]));
    }
    if (n == 0) Fail(std::string("expected a hex number for ") + what);
    return v;
  }

  std::vector<BYTE> HexBytes() {
    std::vector<BYTE> out;
    if (AtEnd()) return out;
    for (;;) {
      SkipSpaces();
      if (pos_ >= s_.size() || HexDigit(s_[pos_]) < 0) Fail("expected a hex byte in hex data");
      out.push_back(static_cast<BYTE>(HexNumber(2, "a hex byte")));
      if (AtEnd()) return out;
      if (s_[pos_] != ',') Fail("expected a comma between hex bytes");
      ++pos_;
    }
  }

  void Value(RegFileOp& op) {
    s_ = TrimRight(s_);
    if (s_[0] == '@') {
      pos_ = 1;
    } else {
      op.name = QuotedString();
    }
    SkipSpaces();
    if (pos_ >= s_.size() || s_[pos_] != '=') Fail("expected = after the value name");
    ++pos_;
    SkipSpaces();
    std::string_view rest = s_.substr(pos_);
    if (rest.empty()) Fail("missing value data after =");
    if (rest[0] == '-') {
      ++pos_;
      ExpectEnd("-");
      op.kind = RegFileOp::kDeleteValue;
      return;
    }
    op.kind = RegFileOp::kSetValue;
    if (rest[0] == '"') {
      std::string text = QuotedString();
      ExpectEnd("the string");
      op.type = REG_SZ;
      op.data.assign(text.begin(), text.end());
      op.data.push_back(0);
    } else if (StartsWithNoCase(rest, "dword:")) {
      pos_ += 6;
      SkipSpaces();
      DWORD v = HexNumber(8, "dword");
      ExpectEnd("the dword");
      op.type = REG_DWORD;
      op.data = {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16),
                 static_cast<BYTE>(v >> 24)};
    } else if (StartsWithNoCase(rest, "hex:")) {
      pos_ += 4;
      op.type = REG_BINARY;
      op.data = HexBytes();
    } else if (StartsWithNoCase(rest, "hex(")) {
      pos_ += 4;
      op.type = HexNumber(8, "the hex type");
      if (pos_ + 1 >= s_.size() || s_[pos_] != ')' || s_[pos_ + 1] != ':')
        Fail("expected ): after the hex type");
      pos_ += 2;
      op.data = HexBytes();
      const bool stringType = op.type == REG_SZ || op.type == REG_EXPAND_SZ || op.type == REG_MULTI_SZ;
      if (unicode_ && stringType) {
        std::string text = Utf16LeToUtf8(op.data.data(), op.data.size());
        op.data.assign(text.begin(), text.end());
      }
    } else {
      Fail("unknown value data (expected \"string\", dword:, hex: or hex(n):)");
    }
  }

  // The key path of a [KEY] or [-KEY] line; false for deletion.
  bool Key(RegFileOp& op) {
    s_ = TrimRight(s_);
    if (s_.size() < 2 || s_.back() != ']') Fail("missing ] at the end of the key name");
    std::string_view inner = s_.substr(1, s_.size() - 2);
    bool remove = !inner.empty() && inner[0] == '-';
    if (remove) inner.remove_prefix(1);
    std::size_t slash = inner.find('\\');
    std::string rootName(inner.substr(0, slash));
    if (rootName.empty()) Fail("missing key name");
    if (!FindRoot(rootName, op.root)) Fail("unknown root key \"" + rootName + "\"");
    op.path = slash == std::string_view::npos ? std::string() : std::string(inner.substr(slash + 1));
    std::vector<std::string> names;
    if (!SplitKeyPath(op.path, names)) Fail("invalid key path \"" + std::string(inner) + "\"");
    if (remove && names.empty()) Fail("a root key cannot be deleted");
    op.kind = remove ? RegFileOp::kDeleteKey : RegFileOp::kCreateKey;
    return !remove;
  }

 private:
  bool unicode_;
  int line_;
  std::string_view s_;
  std::size_t pos_ = 0;
};

}  // namespace

std::vector<RegFileOp> ParseRegFile(std::string_view bytes) {
  if (bytes.size() > kMaxRegFileSize) throw RegFileError(0, "the registry file is too large");
  std::string decoded;
  std::string_view text = bytes;
  const auto* u = reinterpret_cast<const unsigned char*>(bytes.data());
  if (bytes.size() >= 2 && u[0] == 0xFF && u[1] == 0xFE) {
    decoded = Utf16LeToUtf8(u + 2, bytes.size() - 2);
    if (bytes.size() % 2 != 0) {
      int lines = 1;
      for (char c : decoded) lines += c == '\n';
      throw RegFileError(lines, "the file ends inside a UTF-16 character");
    }
    text = decoded;
  } else if (bytes.size() >= 2 && u[0] == 0xFE && u[1] == 0xFF) {
    throw RegFileError(1, "UTF-16 big-endian files are not supported (save as UTF-16LE or UTF-8)");
  } else if (bytes.size() >= 3 && u[0] == 0xEF && u[1] == 0xBB && u[2] == 0xBF) {
    text.remove_prefix(3);
  }

  // Lines are taken one at a time so a file of many short lines costs no per-line index.
  std::size_t cursor = 0;
  int lineCount = 0;
  auto nextLine = [&](std::string_view& out) {
    if (cursor > text.size()) return false;
    std::size_t end = text.find('\n', cursor);
    if (end == std::string_view::npos) end = text.size();
    out = TrimRight(text.substr(cursor, end - cursor));
    cursor = end + 1;
    ++lineCount;
    return true;
  };

  std::string_view header;
  bool found = false;
  while (nextLine(header)) {
    header = TrimLeft(header);
    if (!header.empty()) {
      found = true;
      break;
    }
  }
  if (!found) throw RegFileError(lineCount, "the file is empty (no registry header)");
  bool unicode;
  if (header == kHeader5) {
    unicode = true;
  } else if (header == kHeader4) {
    unicode = false;
  } else {
    throw RegFileError(lineCount, std::string("not a registry file (expected \"") + kHeader5 + "\" or \"" +
                                      kHeader4 + "\")");
  }

  std::vector<RegFileOp> ops;
  bool haveKey = false;
  bool keyDeleted = false;
  HKEY root = nullptr;
  std::string path;
  std::string_view line;
  while (nextLine(line)) {
    const int lineNo = lineCount;
    line = TrimLeft(line);
    if (line.empty() || line[0] == ';') continue;
    RegFileOp op;
    op.line = lineNo;
    if (line[0] == '[') {
      Parser p(unicode, lineNo, line);
      keyDeleted = !p.Key(op);
      haveKey = true;
      root = op.root;
      path = op.path;
      ops.push_back(std::move(op));
      continue;
    }
    if (line[0] != '"' && line[0] != '@')
      throw RegFileError(lineNo, "unexpected text (expected [key], \"name\"=value, @=value or ; comment)");
    // A trailing backslash continues the value on the next line, whose leading spaces do not count.
    std::string joined;
    if (line.back() == '\\') {
      joined.assign(line.substr(0, line.size() - 1));
      std::string_view next;
      while (nextLine(next)) {
        next = TrimLeft(next);
        if (!next.empty() && next.back() == '\\') {
          joined.append(next.substr(0, next.size() - 1));
        } else {
          joined.append(next);
          break;
        }
      }
      line = joined;
    }
    Parser p(unicode, lineNo, line);
    p.Value(op);
    if (!haveKey) throw RegFileError(lineNo, "value before the first [key] line");
    if (keyDeleted) continue;  // values under a deleted key are ignored, as the system's importer does
    op.root = root;
    op.path = path;
    ops.push_back(std::move(op));
  }
  return ops;
}

void ApplyRegFile(SoftRegistry& registry, const std::vector<RegFileOp>& ops) {
  for (const RegFileOp& op : ops) {
    switch (op.kind) {
      case RegFileOp::kCreateKey:
        registry.CreateKey(op.root, op.path);
        break;
      case RegFileOp::kDeleteKey:
        registry.DeleteKey(op.root, op.path);
        break;
      case RegFileOp::kSetValue:
        registry.SetValue(op.root, op.path, op.name, op.type, op.data);
        break;
      case RegFileOp::kDeleteValue:
        registry.DeleteValue(op.root, op.path, op.name);
        break;
    }
  }
}

void LoadRegFile(SoftRegistry& registry, std::string_view bytes) {
  ApplyRegFile(registry, ParseRegFile(bytes));
}

void LoadRegFileFromPath(SoftRegistry& registry, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw RegFileError(0, "cannot open registry file \"" + path + "\"");
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  if (size < 0) throw RegFileError(0, "cannot read registry file \"" + path + "\"");
  if (static_cast<std::uint64_t>(size) > kMaxRegFileSize)
    throw RegFileError(0, "registry file \"" + path + "\" is too large");
  in.seekg(0, std::ios::beg);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (size > 0 && !in.read(&bytes[0], size))
    throw RegFileError(0, "cannot read registry file \"" + path + "\"");
  try {
    LoadRegFile(registry, bytes);
  } catch (const RegFileError& e) {
    throw RegFileError(e.Line(), e.Message(), path);
  }
}

}  // namespace plat::soft
