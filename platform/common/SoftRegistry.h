// The soft registry: an in-memory key tree behind the registry interface, with the Windows rules for
// handles, access masks, value sizes and error codes, plus hooks that let tests provoke each failure a
// registry reader can meet. Key and value names compare ignoring ASCII case and keep the case they were
// first written with. Strings are 8-bit (UTF-8 where text came from a Unicode file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Registry.h"

namespace plat::soft {

struct RegValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  bool operator==(const RegValue& o) const { return type == o.type && data == o.data; }
};

// One scripted fault on value queries. A query "reads data" when it passes a data buffer; otherwise it
// only asks for type and size. Matching queries of the named value (ignoring case; "" is the default
// value) first pass `skip` times untouched; the next `times` (negative: all) then take the fault: the
// stored value is replaced by `replacement` when one is given, and the query returns `error` when that is
// not ERROR_SUCCESS, else it proceeds normally on the (replaced) value.
struct QueryFault {
  std::string valueName;
  bool onDataRead = true;
  int skip = 0;
  int times = -1;
  LONG error = static_cast<LONG>(ERROR_CANTREAD);
  std::optional<RegValue> replacement;
};

class SoftRegistry : public Registry {
 public:
  struct OpenAttempt {
    std::string subKey;
    REGSAM samDesired;
    LONG result;
  };
  struct QueryAttempt {
    std::string valueName;
    bool dataRead;
    LONG result;
  };

  SoftRegistry();
  ~SoftRegistry() override;
  SoftRegistry(const SoftRegistry&) = delete;
  SoftRegistry& operator=(const SoftRegistry&) = delete;

  // Direct tree access for tests, tools and the .reg loader: no handles, access checks or faults. `root`
  // is a predefined root key and `path` a backslash-separated key path below it ("" is the root itself);
  // a bad root or path raises std::invalid_argument.
  void CreateKey(HKEY root, const std::string& path);
  bool DeleteKey(HKEY root, const std::string& path);  // the key and all below it; false when missing
  void SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                std::vector<BYTE> data);
  // Stores the text with its terminating zero, as the system stores strings.
  void SetString(HKEY root, const std::string& path, const std::string& name, const std::string& text,
                 DWORD type = REG_SZ);
  void SetDword(HKEY root, const std::string& path, const std::string& name, DWORD value);
  bool DeleteValue(HKEY root, const std::string& path, const std::string& name);
  bool KeyExists(HKEY root, const std::string& path) const;
  std::optional<RegValue> GetValue(HKEY root, const std::string& path, const std::string& name) const;
  // Empties every root. Open handles stay valid but name deleted keys.
  void Clear();
  // The whole tree as sorted text, one "[ROOT\path]" line per key followed by its values; equal trees give
  // equal text, so tests can check that nothing changed.
  std::string Dump() const;

  // Handles opened and not yet closed (predefined roots not counted).
  std::size_t OpenKeyCount() const { return handles_.size(); }

  // Fault injection. RefuseOpen: opening an existing key with exactly this access mask fails with `error`.
  void RefuseOpen(REGSAM samDesired, LONG error = static_cast<LONG>(ERROR_ACCESS_DENIED));
  void AddQueryFault(const QueryFault& fault);
  // Every data read of the value fails with `error`; type and size queries still succeed.
  void FailDataRead(const std::string& valueName, LONG error = static_cast<LONG>(ERROR_CANTREAD));
  // Type-and-size queries of the value fail with `error` after the first `allowed` of them.
  void FailInfoQueries(const std::string& valueName, int allowed,
                       LONG error = static_cast<LONG>(ERROR_CANTREAD));
  // The value is replaced just before its first data read (e.g. another type: the value changed between
  // the type query and the read).
  void ReplaceBeforeDataRead(const std::string& valueName, RegValue replacement);
  void ClearFaults();

  // Call records, oldest first, for tests that check what a reader tried.
  const std::vector<OpenAttempt>& OpenAttempts() const { return openAttempts_; }
  const std::vector<QueryAttempt>& QueryAttempts() const { return queryAttempts_; }
  void ClearRecords();

 protected:
  LONG DoRegOpenKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM samDesired, HKEY* result) override;
  LONG DoRegCreateKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM samDesired, HKEY* result,
                        DWORD* disposition) override;
  LONG DoRegQueryValueEx(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* cbData) override;
  LONG DoRegSetValueEx(HKEY key, const char* valueName, DWORD type, const BYTE* data, DWORD cbData) override;
  LONG DoRegDeleteValue(HKEY key, const char* valueName) override;
  LONG DoRegCloseKey(HKEY key) override;

 public:
  struct Node;

 private:
  struct Handle {
    std::shared_ptr<Node> node;
    REGSAM access;
  };
  // Resolves a handle to its key and the access it was opened with; false for an unknown handle.
  bool Resolve(HKEY key, std::shared_ptr<Node>& node, REGSAM& access) const;
  std::shared_ptr<Node> RootNode(HKEY root) const;  // throws std::invalid_argument for a non-root
  HKEY NewHandle(std::shared_ptr<Node> node, REGSAM access);

  std::map<HKEY, std::shared_ptr<Node>> roots_;
  std::map<std::uintptr_t, Handle> handles_;
  std::uintptr_t nextHandle_ = 0x100;
  std::map<REGSAM, LONG> refusedOpens_;
  std::vector<QueryFault> queryFaults_;
  std::vector<OpenAttempt> openAttempts_;
  std::vector<QueryAttempt> queryAttempts_;
};

// Splits a key path into its names. A trailing backslash is ignored; a leading one, an empty name in
// between, a name longer than 255 characters or more than 512 names make the path invalid (false).
// Keys created below an open key stop at a total depth of 512 as well (ERROR_BADKEY).
bool SplitKeyPath(const std::string& path, std::vector<std::string>& names);

// ASCII case-insensitive ordering and equality, as key and value names compare.
struct NameLess {
  bool operator()(const std::string& a, const std::string& b) const;
};
bool NamesEqual(const std::string& a, const std::string& b);

}  // namespace plat::soft
