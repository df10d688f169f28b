#pragma once
// The installation type the store keeps as "ZelinType": how the host computers share
// the servers. Every program reads it from the store and compares it with these names;
// a stored value outside 1..3 (0 when not set, -1 without the parameters key) is kept
// as the number it is and means none of them.

namespace zelin {

enum InstallationType : int { kSingleHost = 1, kMultiHost = 2, kCustom = 3 };

// True for the three types that a program may act on and the wizard may store.
constexpr bool IsInstallationType(int value) { return value >= kSingleHost && value <= kCustom; }

}  // namespace zelin
