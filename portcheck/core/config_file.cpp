#include "portcheck/core/config_file.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

namespace zelin::portcheck {

std::string DefaultConfigPath() {
  namespace fs = std::filesystem;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
    return (fs::path(xdg) / "zelin" / kConfigFileName).string();
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
    return (fs::path(home) / ".config" / "zelin" / kConfigFileName).string();
  return kConfigFileName;
}

DiagConfig DiagConfigFile::Load() {
  read_.fill(0);
  loaded_file_ = false;
  DiagConfig live = DiagConfig::Defaults();
  std::ifstream in(path_, std::ios::binary);
  if (in) {
    // One byte more than an image, to tell an oversized file from a valid one.
    std::vector<uint8_t> content(kDiagConfigSize + 1);
    in.read(reinterpret_cast<char*>(content.data()), static_cast<std::streamsize>(content.size()));
    content.resize(static_cast<size_t>(in.gcount()));
    if (auto decoded = DecodeDiagConfig(content)) {
      std::copy_n(content.begin(), kDiagConfigSize, read_.begin());
      live = *decoded;
      loaded_file_ = true;
    }
  }
  for (int i = 0; i < live.server_count; ++i) live.settings[i].status = kStatusUnreachable;
  return live;
}

bool DiagConfigFile::SaveIfChanged(const DiagConfig& live) {
  namespace fs = std::filesystem;
  const DiagImage image = EncodeDiagConfig(live);
  if (image == read_) return true;
  std::error_code ec;
  const fs::path target(path_);
  if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
  const fs::path temp = fs::path(path_ + ".new");
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    out.flush();
    if (!out) {
      out.close();
      fs::remove(temp, ec);
      return false;
    }
  }
  if (fs::exists(target, ec)) {
    fs::rename(target, fs::path(path_ + ".bak"), ec);
    if (ec) {
      fs::remove(temp, ec);
      return false;
    }
  }
  fs::rename(temp, target, ec);
  if (ec) return false;
  read_ = image;
  return true;
}

}  // namespace zelin::portcheck
