#include "bridge/core/link_codec.hpp"

namespace zelin::bridge {
namespace {

class RawCodec final : public LinkCodec {
 public:
  void Start(const LineSettings&, std::vector<uint8_t>&) override {}
  void EncodeData(std::span<const uint8_t> payload, std::vector<uint8_t>& out) override {
    out.insert(out.end(), payload.begin(), payload.end());
  }
  void EncodeSettings(const LineSettings&, const LineSettings&, std::vector<uint8_t>&) override {}
  void Decode(std::span<const uint8_t> in, std::vector<uint8_t>& data,
              std::vector<uint8_t>&) override {
    data.insert(data.end(), in.begin(), in.end());
  }
};

}  // namespace

std::unique_ptr<LinkCodec> MakeRfc2217Codec();  // rfc2217_codec.cpp

std::unique_ptr<LinkCodec> MakeCodec(LinkMode mode) {
  if (mode == LinkMode::kRfc2217) return MakeRfc2217Codec();
  return std::make_unique<RawCodec>();
}

}  // namespace zelin::bridge
