#include "protocol/md5.hpp"

#include <md5.h>

namespace zelin {

Md5Digest Md5(std::initializer_list<Bytes> pieces) {
  MD5_CTX ctx;
  MD5Init(&ctx);
  for (Bytes p : pieces) MD5Update(&ctx, p.data(), p.size());
  Md5Digest d;
  MD5Final(d.data(), &ctx);
  return d;
}

}  // namespace zelin
