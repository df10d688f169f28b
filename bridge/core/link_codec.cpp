#include "bridge/core/link_codec.hpp"

namespace zelin::bridge {
namespace {

class RawCodec final : public LinkCodec {
 public:
  void Start(std::vector<uint8_t>&) override {}
  Agreement agreement() const override { return Agreement::kRefused; }
  void EncodeAll(const LineSettings&, std::vector<uint8_t>&) override {}
  void EncodeData(std::span<const uint8_t> payload, std::vector<uint8_t>& out) override {
    out.insert(out.end(), payload.begin(), payload.end());
  }
  void EncodeSettings(const LineSettings&, const LineSettings&, std::vector<uint8_t>&) override {}
  void EncodePurge(uint8_t, std::vector<uint8_t>&) override {}
  void EncodeControl(uint8_t, std::vector<uint8_t>&) override {}
  void Decode(std::span<const uint8_t> in, std::vector<uint8_t>& data,
              std::vector<uint8_t>&) override {
    data.insert(data.end(), in.begin(), in.end());
  }
  const ServerReport& report() const override { return report_; }

 private:
  ServerReport report_;
};

}  // namespace

std::string DescribeModem(const ServerReport& r) {
  if (!r.modem_known) return {};
  auto bit = [&](const char* name, uint8_t mask) {
    return std::string(name) + ((r.modem_state & mask) != 0 ? "=1" : "=0");
  };
  return bit("cts", 0x10) + ' ' + bit("dsr", 0x20) + ' ' + bit("ri", 0x40) + ' ' +
         bit("cd", 0x80);
}

std::unique_ptr<LinkCodec> MakeRfc2217Codec();  // rfc2217_codec.cpp

std::unique_ptr<LinkCodec> MakeCodec(LinkMode mode) {
  if (mode == LinkMode::kRfc2217) return MakeRfc2217Codec();
  return std::make_unique<RawCodec>();
}

}  // namespace zelin::bridge
