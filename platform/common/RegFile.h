// Reader of registry export files (.reg text): the "Windows Registry Editor Version 5.00" and "REGEDIT4"
// formats, as UTF-8/ASCII text (with or without a UTF-8 byte-order mark) or UTF-16LE with its byte-order
// mark. A file is parsed completely before anything is applied, so a malformed file changes nothing; the
// error names the line ("line N: ...").
//
// The soft registry holds 8-bit strings, as the 8-bit registry calls return them; text from a UTF-16 file
// becomes UTF-8. For the same reason the string-typed hex forms hex(1), hex(2) and hex(7) of a version
// 5.00 file, which hold UTF-16LE bytes there, are stored converted to UTF-8 (a dangling odd byte is
// dropped); in a REGEDIT4 file they are 8-bit bytes already and are stored unchanged.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Registry.h"

namespace plat::soft {

class SoftRegistry;

class RegFileError : public std::runtime_error {
 public:
  // The text reads "[fileName: ][line N: ]message"; line 0 is an error about the file as a whole.
  RegFileError(int line, const std::string& message, const std::string& fileName = std::string());
  int Line() const { return line_; }
  const std::string& Message() const { return message_; }

 private:
  int line_;
  std::string message_;
};

// One change a file asks for, in file order.
struct RegFileOp {
  enum Kind { kCreateKey, kDeleteKey, kSetValue, kDeleteValue };
  Kind kind = kCreateKey;
  HKEY root = nullptr;
  std::string path;  // below root, "" for the root itself
  std::string name;  // value name, "" for the default value
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  int line = 0;
};

// Largest file the reader accepts; registry exports for this program are tiny.
constexpr std::size_t kMaxRegFileSize = 4u << 20;

// Parses a whole file's bytes; throws RegFileError for a malformed file.
std::vector<RegFileOp> ParseRegFile(std::string_view bytes);
// Applies parsed changes to the registry's tree (no access checks or faults).
void ApplyRegFile(SoftRegistry& registry, const std::vector<RegFileOp>& ops);
// Parse, then apply.
void LoadRegFile(SoftRegistry& registry, std::string_view bytes);
// Reads the file and loads it; an unreadable file throws RegFileError (line 0) naming the path.
void LoadRegFileFromPath(SoftRegistry& registry, const std::string& path);

}  // namespace plat::soft
