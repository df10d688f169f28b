#pragma once
// The device entries that make a mapped server port a COM port of the host: a
// root-enumerated device key "Enum\Root\Ports\NNNN" and a driver key "ports\NNNN" of
// the ports device class below "System\CurrentControlSet\Services\Class", which point
// to each other. The port key of the store ("...\ServerN\PortNNNN") holds
// "PortDriver" = "Ports\NNNN", the device key's name relative to "Enum\Root".
//
// A port's device entries exist exactly while its stored "PortFlag" is non-zero; the
// removal functions follow a port's link only then, so that a stale "PortDriver" (the
// link written for an unmapped port, or left behind by an unmapping) never removes
// entries that now belong to another port.
//
// All functions work on the Registry they are given and report nothing to the user.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "store/registry.hpp"

namespace zelin {

inline constexpr std::string_view kEnumRootKey = "Enum\\Root";
inline constexpr std::string_view kDeviceParentKey = "Enum\\Root\\Ports";
inline constexpr std::string_view kClassRootKey = "System\\CurrentControlSet\\Services\\Class";
inline constexpr int kMaxDeviceIndex = 1024;  // device and class indices are 0..1023

inline constexpr std::string_view kHardwareId = "KVZELIN";
inline constexpr std::string_view kPortsClassGuid = "{4d36e978-e325-11ce-bfc1-08002be10318}";
inline constexpr std::string_view kProviderName = "Kivo";

// The first 26 bytes of a serial device control block: length 28, 9600 baud, flags
// 0x00003311, XON/XOFF limits 10, 8 data bits, no parity, one stop bit, XON 0x11,
// XOFF 0x13.
inline constexpr std::array<uint8_t, 26> kDefaultDcb{
    0x1C, 0x00, 0x00, 0x00, 0x80, 0x25, 0x00, 0x00, 0x11, 0x33, 0x00, 0x00, 0x00,
    0x00, 0x0A, 0x00, 0x0A, 0x00, 0x08, 0x00, 0x00, 0x11, 0x13, 0x00, 0x00, 0x00};

// "Ports\%04d" / "ports\%04d" of an index.
std::string DeviceKeyName(int device_index);  // "Ports\0007" (relative to Enum\Root)
std::string ClassKeyName(int class_index);    // "ports\0007" (relative to the class root)

// Lowest index 0..1023 whose "Enum\Root\Ports\%04d" does not exist; nullopt when all
// are taken.
std::optional<int> FindFreeDeviceIndex(const Registry& reg);
// Lowest index 0..1023 whose class key "ports\%04d" (ClassKeyName) does not exist;
// nullopt when all are taken.
std::optional<int> FindFreeClassIndex(const Registry& reg);

// Creates "Enum\Root\ports" and "Enum\Root\ports\%04d" and writes "Class", "Driver"
// (= class_key_name), "Mfg", "HardwareID", "ClassGUID", "ConfigFlags" and
// "Capabilities" in this order, stopping at the first failure. False on any failure
// or an index outside 0..1023.
bool CreateDeviceKey(Registry& reg, int device_index, std::string_view class_key_name);

// Creates the class key and writes its values in the driver's order; a failure of
// "DriverDesc", "EnumPropPages" or "ProviderName" (= kProviderName) is ignored, any
// other failure stops the rest and returns false.
bool CreateDriverKey(Registry& reg, std::string_view class_key_name);

// Writes "DeviceDesc", "PortName" and "FriendlyName" ("COM256" for the stored 0) to
// "Enum\Root\" + port_driver. False (and no write) when that key does not exist.
bool WriteComNames(Registry& reg, std::string_view port_driver, uint8_t com_number);

// Maps one port: takes the lowest free device and class indices, points the port key's
// "PortDriver" at the device key, and creates the device and driver keys. False when
// no index is free (nothing written) or a write failed.
bool MapPortDevice(Registry& reg, std::string_view port_key_path);

// Removes the device and driver keys that the port key points to, when its "PortFlag"
// is non-zero and both "PortDriver" and the device key's "Driver" lead somewhere. The
// port key and its "PortDriver" stay.
void RemovePortDevice(Registry& reg, std::string_view port_key_path);

// For each port key of the server ("Port%04d" subkeys, whatever the device type says,
// so that no entry is left behind): RemovePortDevice and deletion of the port key.
void RemoveServerDevices(Registry& reg, std::string_view server_key_path);

// Deletes every subkey of `path`, depth first; the key itself stays for the caller to
// delete. False when the key does not exist or a deletion failed.
bool DeleteKeyTree(Registry& reg, std::string_view path);

}  // namespace zelin
