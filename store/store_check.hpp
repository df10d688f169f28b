#pragma once
// Consistency check of the server store and its device entries, for tools: finds what
// a crash or a hand edit could have left behind.

#include <string>
#include <vector>

#include "store/registry.hpp"

namespace zelin {

struct StoreProblem {
  enum class Kind {
    kOrphanDeviceKey,  // "Enum\Root\Ports\NNNN" of this driver that no mapped port links to
    kOrphanClassKey,   // class key "ports\NNNN" of this driver that no device key names
    kMissingDevice,    // a mapped port whose device or driver key is missing
    kDuplicateCom,     // two mapped ports with the same COM number
    kDuplicateSerial,  // two server keys with the same "SerialNo"
  };
  Kind kind;
  std::string key;      // the key concerned (full path below HKEY_LOCAL_MACHINE)
  std::string message;  // one line for people
};

// Checks the main product line's store. Only device and class keys of this driver
// (HardwareID / MatchingDeviceId "KVZELIN") count as orphans.
std::vector<StoreProblem> CheckStore(const Registry& reg);

}  // namespace zelin
