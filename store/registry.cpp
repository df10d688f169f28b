#include "store/registry.hpp"

#include <algorithm>
#include <unordered_map>
#include <utility>

namespace zelin {

namespace {

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Case-insensitive hashing and comparison of names, usable with string_view keys so
// that a lookup allocates nothing.
struct NameHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const {
    size_t h = 14695981039346656037ull;  // FNV-1a over the folded bytes
    for (const char c : s) {
      h ^= static_cast<unsigned char>(Lower(c));
      h *= 1099511628211ull;
    }
    return h;
  }
};
struct NameEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return RegNameEquals(a, b); }
};

bool ValidKeyName(std::string_view name) {
  if (name.empty() || name.size() > kMaxRegNameLength) return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f || c == '\\';
  });
}

bool ValidValueName(std::string_view name) {
  if (name.size() > kMaxRegNameLength) return false;
  return std::none_of(name.begin(), name.end(),
                      [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

bool ValidValue(const RegValue& v) {
  return ValidValueName(v.name) && v.data.size() <= kMaxRegValueSize;
}

// Splits "a\b\c" into its components; false for an empty component or a path deeper
// than kMaxRegKeyDepth. The empty path has no components.
bool SplitPath(std::string_view path, std::vector<std::string_view>& parts) {
  parts.clear();
  if (path.empty()) return true;
  size_t start = 0;
  while (true) {
    const size_t end = path.find('\\', start);
    const std::string_view part =
        path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (part.empty()) return false;
    parts.push_back(part);
    if (parts.size() > kMaxRegKeyDepth) return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

}  // namespace

bool RegNameEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

std::string RegJoin(std::string_view parent, std::string_view child) {
  if (parent.empty()) return std::string(child);
  std::string out(parent);
  out += '\\';
  out += child;
  return out;
}

// ---- Typed helpers ----

std::optional<uint32_t> Registry::ReadDword(std::string_view path, std::string_view name) const {
  const auto v = ReadValue(path, name);
  if (!v || v->type != kRegDword || v->data.size() != 4) return std::nullopt;
  return GetLe32(v->data, 0);
}

std::optional<std::vector<uint8_t>> Registry::ReadBinary(std::string_view path,
                                                         std::string_view name) const {
  auto v = ReadValue(path, name);
  if (!v || v->type != kRegBinary) return std::nullopt;
  return std::move(v->data);
}

std::optional<std::string> Registry::ReadString(std::string_view path,
                                                std::string_view name) const {
  const auto v = ReadValue(path, name);
  if (!v || v->type != kRegString) return std::nullopt;
  return std::string(v->data.begin(), v->data.end());
}

bool Registry::WriteDword(std::string_view path, std::string_view name, uint32_t value) {
  RegValue v{std::string(name), kRegDword, std::vector<uint8_t>(4)};
  PutLe32(v.data, 0, value);
  return WriteValue(path, v);
}

bool Registry::WriteBinary(std::string_view path, std::string_view name, Bytes data) {
  return WriteValue(path, RegValue{std::string(name), kRegBinary, {data.begin(), data.end()}});
}

bool Registry::WriteString(std::string_view path, std::string_view name, std::string_view text) {
  if (text.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos) return false;
  return WriteValue(path, RegValue{std::string(name), kRegString, {text.begin(), text.end()}});
}

std::vector<std::string> Registry::Subkeys(std::string_view path) const {
  std::vector<std::string> names;
  while (auto name = EnumSubkey(path, names.size())) names.push_back(std::move(*name));
  return names;
}

// ---- MemoryRegistry ----

struct MemoryRegistry::Node {
  std::string name;
  std::vector<RegValue> values;
  std::vector<std::unique_ptr<Node>> children;
  std::unordered_map<std::string, Node*, NameHash, NameEqual> index;  // name -> child

  Node* Child(std::string_view child_name) const {
    const auto it = index.find(child_name);
    return it == index.end() ? nullptr : it->second;
  }
  Node* AddChild(std::string_view child_name) {
    children.push_back(std::make_unique<Node>());
    Node* n = children.back().get();
    n->name = std::string(child_name);
    index.emplace(n->name, n);
    return n;
  }
  bool RemoveChild(std::string_view child_name) {
    const auto it = index.find(child_name);
    if (it == index.end()) return false;
    Node* target = it->second;
    index.erase(it);
    children.erase(std::find_if(children.begin(), children.end(),
                                [target](const auto& c) { return c.get() == target; }));
    return true;
  }
  RegValue* FindValue(std::string_view value_name) {
    for (auto& v : values)
      if (RegNameEquals(v.name, value_name)) return &v;
    return nullptr;
  }
  std::unique_ptr<Node> Clone() const {
    auto copy = std::make_unique<Node>();
    copy->name = name;
    copy->values = values;
    for (const auto& c : children) {
      copy->children.push_back(c->Clone());
      copy->index.emplace(c->name, copy->children.back().get());
    }
    return copy;
  }
  bool Equals(const Node& o) const {
    if (name != o.name || values != o.values || children.size() != o.children.size()) return false;
    for (size_t i = 0; i < children.size(); ++i)
      if (!children[i]->Equals(*o.children[i])) return false;
    return true;
  }
};

MemoryRegistry::MemoryRegistry() : root_(std::make_unique<Node>()) {}
MemoryRegistry::~MemoryRegistry() = default;
MemoryRegistry::MemoryRegistry(const MemoryRegistry& other) : root_(other.root_->Clone()) {}
MemoryRegistry& MemoryRegistry::operator=(const MemoryRegistry& other) {
  if (this != &other) root_ = other.root_->Clone();
  return *this;
}
MemoryRegistry::MemoryRegistry(MemoryRegistry&& other) noexcept
    : root_(std::exchange(other.root_, std::make_unique<Node>())) {}
MemoryRegistry& MemoryRegistry::operator=(MemoryRegistry&& other) noexcept {
  if (this != &other) root_ = std::exchange(other.root_, std::make_unique<Node>());
  return *this;
}

bool MemoryRegistry::operator==(const MemoryRegistry& other) const {
  return root_->Equals(*other.root_);
}

MemoryRegistry::Node* MemoryRegistry::Find(std::string_view path) const {
  Node* n = root_.get();
  if (path.empty()) return n;
  size_t start = 0;
  for (size_t depth = 1; depth <= kMaxRegKeyDepth; ++depth) {
    const size_t end = path.find('\\', start);
    const std::string_view part =
        path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (part.empty()) return nullptr;
    n = n->Child(part);
    if (n == nullptr || end == std::string_view::npos) return n;
    start = end + 1;
  }
  return nullptr;
}

bool MemoryRegistry::KeyExists(std::string_view path) const {
  return Find(path) != nullptr;
}

bool MemoryRegistry::CreateKey(std::string_view path) {
  std::vector<std::string_view> parts;
  if (!SplitPath(path, parts)) return false;
  if (!std::all_of(parts.begin(), parts.end(), ValidKeyName)) return false;
  Node* n = root_.get();
  for (const auto part : parts) {
    Node* child = n->Child(part);
    n = child != nullptr ? child : n->AddChild(part);
  }
  return true;
}

bool MemoryRegistry::DeleteKey(std::string_view path) {
  std::vector<std::string_view> parts;
  if (!SplitPath(path, parts) || parts.empty()) return false;
  const size_t cut = path.size() - parts.back().size();
  Node* parent = cut == 0 ? root_.get() : Find(path.substr(0, cut - 1));
  return parent != nullptr && parent->RemoveChild(parts.back());
}

std::optional<std::string> MemoryRegistry::EnumSubkey(std::string_view path, size_t index) const {
  const Node* n = Find(path);
  if (n == nullptr || index >= n->children.size()) return std::nullopt;
  return n->children[index]->name;
}

std::vector<std::string> MemoryRegistry::Subkeys(std::string_view path) const {
  std::vector<std::string> names;
  if (const Node* n = Find(path)) {
    names.reserve(n->children.size());
    for (const auto& c : n->children) names.push_back(c->name);
  }
  return names;
}

std::optional<RegValue> MemoryRegistry::EnumValue(std::string_view path, size_t index) const {
  const Node* n = Find(path);
  if (n == nullptr || index >= n->values.size()) return std::nullopt;
  return n->values[index];
}

std::optional<RegValue> MemoryRegistry::ReadValue(std::string_view path,
                                                  std::string_view name) const {
  Node* n = Find(path);
  if (n == nullptr) return std::nullopt;
  const RegValue* v = n->FindValue(name);
  if (v == nullptr) return std::nullopt;
  return *v;
}

bool MemoryRegistry::WriteValue(std::string_view path, const RegValue& value) {
  if (!ValidValue(value)) return false;
  Node* n = Find(path);
  if (n == nullptr) return false;
  if (RegValue* existing = n->FindValue(value.name)) {
    // The value keeps the case of its first name and its place.
    existing->type = value.type;
    existing->data = value.data;
  } else {
    n->values.push_back(value);
  }
  return true;
}

// ---- FailingRegistry ----

bool FailingRegistry::Allow() {
  ++writes_;
  return fail_at_ == 0 || writes_ < fail_at_;
}

bool FailingRegistry::CreateKey(std::string_view path) {
  return Allow() && inner_.CreateKey(path);
}

bool FailingRegistry::DeleteKey(std::string_view path) {
  return Allow() && inner_.DeleteKey(path);
}

bool FailingRegistry::WriteValue(std::string_view path, const RegValue& value) {
  return Allow() && inner_.WriteValue(path, value);
}

}  // namespace zelin
