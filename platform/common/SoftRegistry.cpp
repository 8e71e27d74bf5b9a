#include "platform/common/SoftRegistry.h"

#include <cstring>
#include <stdexcept>

namespace plat::soft {

namespace {
constexpr std::size_t kMaxKeyNameLength = 255;
// The system's limit on tree depth; it also bounds the recursion that walks and frees the tree.
constexpr std::size_t kMaxKeyDepth = 512;

char Fold(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

LONG Code(DWORD code) {
  return static_cast<LONG>(code);
}

std::string NameOf(const char* name) {
  return name ? std::string(name) : std::string();
}
}  // namespace

bool NameLess::operator()(const std::string& a, const std::string& b) const {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(Fold(a[i]));
    unsigned char y = static_cast<unsigned char>(Fold(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

bool NamesEqual(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

bool SplitKeyPath(const std::string& path, std::vector<std::string>& names) {
  names.clear();
  if (path.empty()) return true;
  std::string p = path;
  if (p.back() == '\\') p.pop_back();
  if (p.empty()) return false;  // a lone backslash names nothing
  std::size_t start = 0;
  for (;;) {
    std::size_t end = p.find('\\', start);
    std::string name = p.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (name.empty() || name.size() > kMaxKeyNameLength || names.size() == kMaxKeyDepth) return false;
    names.push_back(std::move(name));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return true;
}

struct SoftRegistry::Node {
  std::string name;
  std::size_t depth = 0;  // 0 for a root
  std::map<std::string, std::shared_ptr<Node>, NameLess> children;
  std::map<std::string, RegValue, NameLess> values;
  bool deleted = false;

  // Marks this key and all below it deleted, so handles still open on them fail as on Windows.
  void MarkDeleted() {
    deleted = true;
    for (auto& c : children) c.second->MarkDeleted();
  }
};

namespace {
using NodePtr = std::shared_ptr<SoftRegistry::Node>;

NodePtr Walk(NodePtr node, const std::vector<std::string>& names) {
  for (const std::string& n : names) {
    auto it = node->children.find(n);
    if (it == node->children.end()) return nullptr;
    node = it->second;
  }
  return node;
}

NodePtr WalkCreate(NodePtr node, const std::vector<std::string>& names, bool* created) {
  if (created) *created = false;
  for (const std::string& n : names) {
    auto it = node->children.find(n);
    if (it == node->children.end()) {
      auto child = std::make_shared<SoftRegistry::Node>();
      child->name = n;
      child->depth = node->depth + 1;
      it = node->children.emplace(n, child).first;
      if (created) *created = true;
    }
    node = it->second;
  }
  return node;
}

std::vector<std::string> SplitOrThrow(const std::string& path) {
  std::vector<std::string> names;
  if (!SplitKeyPath(path, names)) throw std::invalid_argument("invalid registry key path \"" + path + "\"");
  return names;
}

void StoreValue(SoftRegistry::Node& node, const std::string& name, RegValue value) {
  auto it = node.values.find(name);
  if (it != node.values.end())
    it->second = std::move(value);  // keeps the name's first spelling, as the system does
  else
    node.values.emplace(name, std::move(value));
}

const char kHex[] = "0123456789abcdef";

void DumpNode(const SoftRegistry::Node& node, const std::string& path, std::string& out) {
  out += "[" + path + "]\n";
  for (const auto& v : node.values) {
    out += v.first.empty() ? std::string("@") : "\"" + v.first + "\"";
    out += "=" + std::to_string(v.second.type) + ":";
    for (std::size_t i = 0; i < v.second.data.size(); ++i) {
      if (i) out += ',';
      out += kHex[v.second.data[i] >> 4];
      out += kHex[v.second.data[i] & 15];
    }
    out += '\n';
  }
  for (const auto& c : node.children) DumpNode(*c.second, path + "\\" + c.second->name, out);
}
}  // namespace

SoftRegistry::SoftRegistry() {
  for (HKEY root :
       {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG}) {
    auto node = std::make_shared<Node>();
    node->name = RootKeyName(root);
    roots_[root] = node;
  }
}

SoftRegistry::~SoftRegistry() = default;

std::shared_ptr<SoftRegistry::Node> SoftRegistry::RootNode(HKEY root) const {
  auto it = roots_.find(root);
  if (it == roots_.end()) throw std::invalid_argument("not a predefined registry root key");
  return it->second;
}

bool SoftRegistry::Resolve(HKEY key, std::shared_ptr<Node>& node, REGSAM& access) const {
  auto r = roots_.find(key);
  if (r != roots_.end()) {
    node = r->second;
    access = KEY_ALL_ACCESS;
    return true;
  }
  auto h = handles_.find(reinterpret_cast<std::uintptr_t>(key));
  if (h == handles_.end()) return false;
  node = h->second.node;
  access = h->second.access;
  return true;
}

HKEY SoftRegistry::NewHandle(std::shared_ptr<Node> node, REGSAM access) {
  std::uintptr_t id = nextHandle_;
  nextHandle_ += 4;
  handles_[id] = Handle{std::move(node), access};
  return reinterpret_cast<HKEY>(id);
}

// ---- direct tree access ----

void SoftRegistry::CreateKey(HKEY root, const std::string& path) {
  WalkCreate(RootNode(root), SplitOrThrow(path), nullptr);
}

bool SoftRegistry::DeleteKey(HKEY root, const std::string& path) {
  std::vector<std::string> names = SplitOrThrow(path);
  if (names.empty()) throw std::invalid_argument("a registry root key cannot be deleted");
  std::string last = names.back();
  names.pop_back();
  NodePtr parent = Walk(RootNode(root), names);
  if (!parent) return false;
  auto it = parent->children.find(last);
  if (it == parent->children.end()) return false;
  it->second->MarkDeleted();
  parent->children.erase(it);
  return true;
}

void SoftRegistry::SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                            std::vector<BYTE> data) {
  NodePtr node = WalkCreate(RootNode(root), SplitOrThrow(path), nullptr);
  StoreValue(*node, name, RegValue{type, std::move(data)});
}

void SoftRegistry::SetString(HKEY root, const std::string& path, const std::string& name,
                             const std::string& text, DWORD type) {
  std::vector<BYTE> data(text.begin(), text.end());
  data.push_back(0);
  SetValue(root, path, name, type, std::move(data));
}

void SoftRegistry::SetDword(HKEY root, const std::string& path, const std::string& name, DWORD value) {
  std::vector<BYTE> data = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                            static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
  SetValue(root, path, name, REG_DWORD, std::move(data));
}

bool SoftRegistry::DeleteValue(HKEY root, const std::string& path, const std::string& name) {
  NodePtr node = Walk(RootNode(root), SplitOrThrow(path));
  return node && node->values.erase(name) > 0;
}

bool SoftRegistry::KeyExists(HKEY root, const std::string& path) const {
  return Walk(RootNode(root), SplitOrThrow(path)) != nullptr;
}

std::optional<RegValue> SoftRegistry::GetValue(HKEY root, const std::string& path,
                                               const std::string& name) const {
  NodePtr node = Walk(RootNode(root), SplitOrThrow(path));
  if (!node) return std::nullopt;
  auto it = node->values.find(name);
  if (it == node->values.end()) return std::nullopt;
  return it->second;
}

void SoftRegistry::Clear() {
  for (auto& r : roots_) {
    for (auto& c : r.second->children) c.second->MarkDeleted();
    r.second->children.clear();
    r.second->values.clear();
  }
}

std::string SoftRegistry::Dump() const {
  std::string out;
  for (const auto& r : roots_) DumpNode(*r.second, r.second->name, out);
  return out;
}

// ---- fault injection and records ----

void SoftRegistry::RefuseOpen(REGSAM samDesired, LONG error) {
  refusedOpens_[samDesired] = error;
}

void SoftRegistry::AddQueryFault(const QueryFault& fault) {
  queryFaults_.push_back(fault);
}

void SoftRegistry::FailDataRead(const std::string& valueName, LONG error) {
  QueryFault f;
  f.valueName = valueName;
  f.onDataRead = true;
  f.error = error;
  AddQueryFault(f);
}

void SoftRegistry::FailInfoQueries(const std::string& valueName, int allowed, LONG error) {
  QueryFault f;
  f.valueName = valueName;
  f.onDataRead = false;
  f.skip = allowed;
  f.error = error;
  AddQueryFault(f);
}

void SoftRegistry::ReplaceBeforeDataRead(const std::string& valueName, RegValue replacement) {
  QueryFault f;
  f.valueName = valueName;
  f.onDataRead = true;
  f.times = 1;
  f.error = Code(ERROR_SUCCESS);
  f.replacement = std::move(replacement);
  AddQueryFault(f);
}

void SoftRegistry::ClearFaults() {
  refusedOpens_.clear();
  queryFaults_.clear();
}

void SoftRegistry::ClearRecords() {
  openAttempts_.clear();
  queryAttempts_.clear();
}

// ---- the registry interface ----

LONG SoftRegistry::DoRegOpenKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM samDesired,
                                  HKEY* result) {
  LONG rc = Code(ERROR_SUCCESS);
  NodePtr node;
  REGSAM access = 0;
  std::vector<std::string> names;
  if (!result || (options & ~REG_OPTION_OPEN_LINK) != 0) {
    rc = Code(ERROR_INVALID_PARAMETER);
  } else if (!Resolve(key, node, access)) {
    rc = Code(ERROR_INVALID_HANDLE);
  } else if (node->deleted) {
    rc = Code(ERROR_KEY_DELETED);
  } else if (!SplitKeyPath(NameOf(subKey), names)) {
    rc = Code(ERROR_BAD_PATHNAME);
  } else if (!(node = Walk(node, names))) {
    rc = Code(ERROR_FILE_NOT_FOUND);
  } else {
    auto refused = refusedOpens_.find(samDesired);
    if (refused != refusedOpens_.end()) rc = refused->second;
  }
  if (rc == Code(ERROR_SUCCESS)) *result = NewHandle(node, samDesired);
  openAttempts_.push_back(OpenAttempt{NameOf(subKey), samDesired, rc});
  return rc;
}

LONG SoftRegistry::DoRegCreateKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM samDesired,
                                    HKEY* result, DWORD* disposition) {
  NodePtr node;
  REGSAM access = 0;
  std::vector<std::string> names;
  if (!result || (options & ~(REG_OPTION_VOLATILE | REG_OPTION_OPEN_LINK)) != 0)
    return Code(ERROR_INVALID_PARAMETER);
  if (!Resolve(key, node, access)) return Code(ERROR_INVALID_HANDLE);
  if (node->deleted) return Code(ERROR_KEY_DELETED);
  if (!SplitKeyPath(NameOf(subKey), names)) return Code(ERROR_BAD_PATHNAME);
  NodePtr existing = Walk(node, names);
  if (!existing && !(access & KEY_CREATE_SUB_KEY)) return Code(ERROR_ACCESS_DENIED);
  if (!existing && node->depth + names.size() > kMaxKeyDepth) return Code(ERROR_BADKEY);
  bool created = false;
  NodePtr target = existing ? existing : WalkCreate(node, names, &created);
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = NewHandle(target, samDesired);
  return Code(ERROR_SUCCESS);
}

LONG SoftRegistry::DoRegQueryValueEx(HKEY key, const char* valueName, DWORD* type, BYTE* data,
                                     DWORD* cbData) {
  const std::string name = NameOf(valueName);
  const bool dataRead = data != nullptr;
  auto finish = [&](LONG rc) {
    queryAttempts_.push_back(QueryAttempt{name, dataRead, rc});
    return rc;
  };
  NodePtr node;
  REGSAM access = 0;
  if (!Resolve(key, node, access)) return finish(Code(ERROR_INVALID_HANDLE));
  if (node->deleted) return finish(Code(ERROR_KEY_DELETED));
  if (!(access & KEY_QUERY_VALUE)) return finish(Code(ERROR_ACCESS_DENIED));
  if (dataRead && !cbData) return finish(Code(ERROR_INVALID_PARAMETER));

  for (QueryFault& f : queryFaults_) {
    if (f.onDataRead != dataRead || !NamesEqual(f.valueName, name)) continue;
    if (f.skip > 0) {
      --f.skip;
      continue;
    }
    if (f.times == 0) continue;
    if (f.times > 0) --f.times;
    if (f.replacement) StoreValue(*node, name, *f.replacement);
    if (f.error != Code(ERROR_SUCCESS)) return finish(f.error);
  }

  auto it = node->values.find(name);
  if (it == node->values.end()) return finish(Code(ERROR_FILE_NOT_FOUND));
  const RegValue& v = it->second;
  const DWORD size = static_cast<DWORD>(v.data.size());
  if (type) *type = v.type;
  if (!dataRead) {
    if (cbData) *cbData = size;
    return finish(Code(ERROR_SUCCESS));
  }
  if (*cbData < size) {
    *cbData = size;
    return finish(Code(ERROR_MORE_DATA));
  }
  if (size) std::memcpy(data, v.data.data(), size);
  *cbData = size;
  return finish(Code(ERROR_SUCCESS));
}

LONG SoftRegistry::DoRegSetValueEx(HKEY key, const char* valueName, DWORD type, const BYTE* data,
                                   DWORD cbData) {
  NodePtr node;
  REGSAM access = 0;
  if (!Resolve(key, node, access)) return Code(ERROR_INVALID_HANDLE);
  if (node->deleted) return Code(ERROR_KEY_DELETED);
  if (!(access & KEY_SET_VALUE)) return Code(ERROR_ACCESS_DENIED);
  if (!data && cbData) return Code(ERROR_INVALID_PARAMETER);
  std::vector<BYTE> bytes;
  if (cbData) bytes.assign(data, data + cbData);
  StoreValue(*node, NameOf(valueName), RegValue{type, std::move(bytes)});
  return Code(ERROR_SUCCESS);
}

LONG SoftRegistry::DoRegDeleteValue(HKEY key, const char* valueName) {
  NodePtr node;
  REGSAM access = 0;
  if (!Resolve(key, node, access)) return Code(ERROR_INVALID_HANDLE);
  if (node->deleted) return Code(ERROR_KEY_DELETED);
  if (!(access & KEY_SET_VALUE)) return Code(ERROR_ACCESS_DENIED);
  return node->values.erase(NameOf(valueName)) ? Code(ERROR_SUCCESS) : Code(ERROR_FILE_NOT_FOUND);
}

LONG SoftRegistry::DoRegCloseKey(HKEY key) {
  if (roots_.count(key)) return Code(ERROR_SUCCESS);  // closing a predefined key is allowed and does nothing
  return handles_.erase(reinterpret_cast<std::uintptr_t>(key)) ? Code(ERROR_SUCCESS)
                                                               : Code(ERROR_INVALID_HANDLE);
}

}  // namespace plat::soft
