#pragma once
// Helpers of the store tests: a temporary folder (tests/support/temp_dir.hpp), whole-file reads and writes, and
// ready-made server records.

#include <filesystem>
#include <string>

#include "store/server_config.hpp"
#include "tests/support/temp_dir.hpp"

namespace zelin::testing {

std::string ReadFileText(const std::filesystem::path& path);
void WriteFileText(const std::filesystem::path& path, const std::string& text);

// A server of the given model (default QX408, 8 ports) with every port unmapped.
ServerConfig MakeServer(uint16_t serial, uint16_t device_type = 9480);

// Maps `port` (0-based) to the stored COM byte `com`.
void MapPort(ServerConfig& c, int port, uint8_t com);

}  // namespace zelin::testing
