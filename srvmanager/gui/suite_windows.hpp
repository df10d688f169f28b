#pragma once
// The suite's running windows as the Release course sees them, over the programs'
// single-instance channels. GUI thread (or the only thread of the Release course).

#include <string>
#include <vector>

#include "platform/qt/single_instance.hpp"
#include "srvmanager/core/startup.hpp"

namespace zelin::manager {

class LocalSuiteWindows final : public SuiteWindows {
 public:
  std::vector<std::string> Titles() override {
    std::vector<std::string> out;
    for (const QString& t : platform_qt::RunningTitles()) out.push_back(t.toStdString());
    return out;
  }
  bool Exists(const std::string& title) override {
    return platform_qt::IsRunning(QString::fromStdString(title));
  }
  void RequestClose(const std::string& title) override {
    platform_qt::RequestClose(QString::fromStdString(title));
  }
};

}  // namespace zelin::manager
