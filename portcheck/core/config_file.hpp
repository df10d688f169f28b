#pragma once
// "ZELIN.CFG" on disk: load at start, write at exit when the configuration changed.
//
// The file lives in the user's configuration directory ($XDG_CONFIG_HOME/zelin, else
// ~/.config/zelin) unless the program is given a path. A missing, short, oversized or
// foreign file gives the defaults (and is then replaced at exit, because the live
// configuration differs from what was read). Replacing a file keeps the old one beside
// it as "<name>.bak"; the new content is written to a temporary file first and renamed
// into place, so a failed write never leaves half a file.
//
// Thread safety: none; used by the user-interface thread at start and exit.

#include <string>

#include "portcheck/core/diag_config.hpp"

namespace zelin::portcheck {

inline constexpr const char* kConfigFileName = "ZELIN.CFG";

// $XDG_CONFIG_HOME/zelin/ZELIN.CFG when that variable is an absolute path, else
// $HOME/.config/zelin/ZELIN.CFG, else "ZELIN.CFG" in the working directory.
std::string DefaultConfigPath();

class DiagConfigFile {
 public:
  explicit DiagConfigFile(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  // Reads the file. Returns the live configuration: the file's content when it is a
  // valid image, else the defaults. Every server's status is set to -1 (unknown until
  // the status check). The bytes read are kept (all zero when no valid-sized file was
  // read) to decide at exit whether to write.
  DiagConfig Load();
  // True when the last Load found a valid image.
  bool loaded_file() const { return loaded_file_; }

  // Writes `live` when its image differs from the bytes read at Load (or last saved).
  // Returns false only when a needed write failed; the old file is then untouched.
  bool SaveIfChanged(const DiagConfig& live);

 private:
  std::string path_;
  DiagImage read_{};
  bool loaded_file_ = false;
};

}  // namespace zelin::portcheck
