#include "tests/integration/lab_fixture.hpp"

#include "protocol/bytes.hpp"

namespace zelin::testing {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(digit(hex[i]) * 16 + digit(hex[i + 1])));
  return out;
}

std::string NonceModeName(const ::testing::TestParamInfo<bool>& info) {
  return info.param ? "StrictNonce" : "Lenient";
}

void LabTest::TearDown() {
  if (transport_) transport_->CloseTransport();
  if (lab_) lab_->Stop();
}

emulator::ServerSpec LabTest::Server(uint16_t serial, uint8_t host,
                                     const std::string& password) const {
  return LabServer(serial, "Server" + std::to_string(serial), block_.Address(host), 9476, password);
}

emulator::Lab& LabTest::MakeLab(std::vector<emulator::ServerSpec> servers, uint64_t seed) {
  lab_ = MakeBlockLab(block_, std::move(servers), clock_,
                     {.restart_ms = 500, .strict_nonce = StrictNonce(), .seed = seed});
  return *lab_;
}

void LabTest::StartLab() {
  std::string error;
  ASSERT_TRUE(lab_->Start(&error)) << error;
}

void LabTest::OpenClient() {
  transport_ = OpenBlockClient(block_, clock_, notices_, Deliverable::Manager);
}

ServerRecord& LabTest::Found(uint16_t serial) {
  SearchServers(*transport_, list_, 1);
  const int i = list_.FindSerial(serial);
  EXPECT_GE(i, 0) << "serial " << serial << " not found";
  return list_.records[static_cast<size_t>(i < 0 ? 0 : i)];
}

ServerRecord& LabTest::StartAndLogIn(uint16_t serial, uint8_t host, const std::string& password) {
  StartLab({Server(serial, host, password)});
  OpenClient();
  ServerRecord& r = Found(serial);
  r.password = password;
  return r;
}

std::vector<emulator::LogEntry> LabTest::Requests(int code, const std::string& server) const {
  std::vector<emulator::LogEntry> out;
  for (auto& e : lab_->Log()) {
    if (e.ignored() || e.server == "broadcast") continue;
    if (code >= 0 && e.code != code) continue;
    if (!server.empty() && e.server != server) continue;
    out.push_back(e);
  }
  return out;
}

}  // namespace zelin::testing
