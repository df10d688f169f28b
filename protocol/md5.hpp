#pragma once
// RFC 1321 digests through libmd: request authentication, password masks,
// the TCP login answer and the stored-password mask.

#include <array>
#include <cstdint>
#include <initializer_list>

#include "protocol/bytes.hpp"

namespace zelin {

using Md5Digest = std::array<uint8_t, 16>;

// Digest of the concatenation of the given pieces.
Md5Digest Md5(std::initializer_list<Bytes> pieces);

}  // namespace zelin
