#pragma once
// JSON on stdout for every subcommand's --json. Names come from devices and store files
// in whatever bytes they hold: invalid UTF-8 is printed as U+FFFD, so the output is
// always valid JSON and a stray byte never ends the program.

#include <cstdio>

#include <nlohmann/json.hpp>

namespace zelin::ctl {

inline void PrintJson(const nlohmann::json& doc, int indent = 2) {
  const std::string text = doc.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
  std::printf("%s\n", text.c_str());
}

}  // namespace zelin::ctl
