// Placeholder until the shared Telnet codec is in the tree: rfc2217 mode carries the
// data raw.
#include "bridge/core/link_codec.hpp"

namespace zelin::bridge {
namespace {
class PassThrough final : public LinkCodec {
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
std::unique_ptr<LinkCodec> MakeRfc2217Codec() { return std::make_unique<PassThrough>(); }
}  // namespace zelin::bridge
