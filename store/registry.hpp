#pragma once
// The registry as the store sees it: one HKEY_LOCAL_MACHINE tree of keys and typed
// values, reached by backslash-separated paths ("SoftWare\KIVO\Zelin\Parameters";
// the empty path is the root itself).
//
// Key and value names compare case-insensitively (ASCII) and keep the case they were
// created with. Subkeys and values enumerate in the order they were created (or read
// from the hive file).
//
// Three implementations:
//   - MemoryRegistry: the tree in memory; the hive file is loaded into one, edited and
//     written back (store/hive_file.hpp). Also the registry of most tests.
//   - FailingRegistry: a decorator that fails one chosen write, for reliability tests
//     (decorators derive from ForwardingRegistry).
//   - HiveFile transactions hand a MemoryRegistry to the code that edits the store.
//
// Thread safety: none; a Registry object belongs to one thread at a time.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/bytes.hpp"

namespace zelin {

// Value types, numbered as the host registry numbers them. Types other than these
// three are kept as raw bytes and written back as hex(N).
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegString = 1;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;

// Limits checked on every write; a write beyond them fails.
inline constexpr size_t kMaxRegNameLength = 255;         // key or value name
inline constexpr size_t kMaxRegValueSize = 1024 * 1024;  // bytes of one value
inline constexpr size_t kMaxRegKeyDepth = 64;            // components of a key path

struct RegValue {
  std::string name;  // "" is the key's default value ("@" in the file)
  uint32_t type = kRegNone;
  std::vector<uint8_t> data;  // kRegString: the text without terminator;
                              // kRegDword: 4 bytes little-endian
  bool operator==(const RegValue&) const = default;
};

// ASCII case-insensitive comparison of names.
bool RegNameEquals(std::string_view a, std::string_view b);

// Joins key path components with a backslash ("a" + "b" -> "a\b"; "" + "b" -> "b").
std::string RegJoin(std::string_view parent, std::string_view child);

class Registry {
 public:
  virtual ~Registry() = default;

  // --- The operations a backend implements. ---

  virtual bool KeyExists(std::string_view path) const = 0;
  // Opens or creates the key and every missing parent. False when a name is invalid
  // (empty component, control character, longer than kMaxRegNameLength) or the write
  // failed. Creating an existing key succeeds and changes nothing.
  virtual bool CreateKey(std::string_view path) = 0;
  // Deletes the key with all its subkeys and values. False when it does not exist or
  // for the root.
  virtual bool DeleteKey(std::string_view path) = 0;
  // Name of the index-th subkey (from 0), as created; nullopt past the last one or
  // when the key does not exist.
  virtual std::optional<std::string> EnumSubkey(std::string_view path, size_t index) const = 0;
  // All subkey names in enumeration order (empty when the key does not exist). The
  // default goes through EnumSubkey; backends may answer it in one step.
  virtual std::vector<std::string> Subkeys(std::string_view path) const;
  virtual std::optional<RegValue> EnumValue(std::string_view path, size_t index) const = 0;
  virtual std::optional<RegValue> ReadValue(std::string_view path, std::string_view name) const = 0;
  // Sets a value of an existing key (a missing key is not created: false). An existing
  // value keeps its place in the enumeration order; a new one is appended.
  virtual bool WriteValue(std::string_view path, const RegValue& value) = 0;

  // --- Typed helpers over the operations above. A read of another type than asked
  // for is treated as a missing value. ---

  std::optional<uint32_t> ReadDword(std::string_view path, std::string_view name) const;
  std::optional<std::vector<uint8_t>> ReadBinary(std::string_view path,
                                                 std::string_view name) const;
  std::optional<std::string> ReadString(std::string_view path, std::string_view name) const;
  bool WriteDword(std::string_view path, std::string_view name, uint32_t value);
  bool WriteBinary(std::string_view path, std::string_view name, Bytes data);
  // Text with NUL, CR or LF is refused (a string value holds one line of text).
  bool WriteString(std::string_view path, std::string_view name, std::string_view text);
};

// The tree in memory. Lookups by name are hashed, so a key with a thousand subkeys
// (the device and class keys) costs no scan.
class MemoryRegistry final : public Registry {
 public:
  MemoryRegistry();
  ~MemoryRegistry() override;
  MemoryRegistry(const MemoryRegistry& other);
  MemoryRegistry& operator=(const MemoryRegistry& other);
  MemoryRegistry(MemoryRegistry&&) noexcept;
  MemoryRegistry& operator=(MemoryRegistry&&) noexcept;

  bool KeyExists(std::string_view path) const override;
  bool CreateKey(std::string_view path) override;
  bool DeleteKey(std::string_view path) override;
  std::optional<std::string> EnumSubkey(std::string_view path, size_t index) const override;
  std::vector<std::string> Subkeys(std::string_view path) const override;
  std::optional<RegValue> EnumValue(std::string_view path, size_t index) const override;
  std::optional<RegValue> ReadValue(std::string_view path, std::string_view name) const override;
  bool WriteValue(std::string_view path, const RegValue& value) override;

  // Same keys (names compared exactly), values and order.
  bool operator==(const MemoryRegistry& other) const;

  struct Node;  // defined in registry.cpp

 private:
  Node* Find(std::string_view path) const;
  std::unique_ptr<Node> root_;
};

// Forwards every operation to another registry, which it does not own. Decorators
// derive from it and override the operations they change.
class ForwardingRegistry : public Registry {
 public:
  explicit ForwardingRegistry(Registry& inner) : inner_(inner) {}

  bool KeyExists(std::string_view path) const override { return inner_.KeyExists(path); }
  bool CreateKey(std::string_view path) override { return inner_.CreateKey(path); }
  bool DeleteKey(std::string_view path) override { return inner_.DeleteKey(path); }
  std::optional<std::string> EnumSubkey(std::string_view path, size_t index) const override {
    return inner_.EnumSubkey(path, index);
  }
  std::vector<std::string> Subkeys(std::string_view path) const override {
    return inner_.Subkeys(path);
  }
  std::optional<RegValue> EnumValue(std::string_view path, size_t index) const override {
    return inner_.EnumValue(path, index);
  }
  std::optional<RegValue> ReadValue(std::string_view path, std::string_view name) const override {
    return inner_.ReadValue(path, name);
  }
  bool WriteValue(std::string_view path, const RegValue& value) override {
    return inner_.WriteValue(path, value);
  }

 protected:
  Registry& inner_;
};

// Forwards to another registry and makes the N-th write (1-based; CreateKey,
// DeleteKey and WriteValue each count as one) and every later write fail without
// touching the inner registry. fail_at = 0 never fails. Does not own `inner`.
class FailingRegistry final : public ForwardingRegistry {
 public:
  FailingRegistry(Registry& inner, size_t fail_at) : ForwardingRegistry(inner), fail_at_(fail_at) {}

  size_t writes() const { return writes_; }  // write calls seen so far

  bool CreateKey(std::string_view path) override;
  bool DeleteKey(std::string_view path) override;
  bool WriteValue(std::string_view path, const RegValue& value) override;

 private:
  bool Allow();
  size_t fail_at_;
  size_t writes_ = 0;
};

}  // namespace zelin
