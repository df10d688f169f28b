// The error type as the families use it: each code's text, success as code zero of any
// family, codes of different families kept apart, and Result holding a value or its error.
#include <gtest/gtest.h>

#include <cerrno>

#include "platform/status.hpp"
#include "protocol/firmware.hpp"
#include "protocol/tcp_session.hpp"
#include "protocol/transport.hpp"
#include "protocol/types.hpp"

namespace zelin {
namespace {

TEST(Status, EachFamilyDescribesItsCodes) {
  EXPECT_TRUE(Status(LastCommandError::kNone).ok());
  EXPECT_TRUE(Status(DownloadResult::kSuccess).message().empty());
  EXPECT_TRUE(Status(DownloadResult::kSuccess).Is(LastCommandError::kNone));

  const Status timeout = LastCommandError::kTimeout;
  EXPECT_EQ(timeout.domain(), StatusDomain::kExchange);
  EXPECT_EQ(timeout.ToString(), "no reply (error 1)");  // the line zelinctl prints
  EXPECT_FALSE(timeout.Is(TcpSessionError::kSocketFailed)) << "same number, other family";
  for (int c = 1; c <= 10; ++c)
    EXPECT_FALSE(Status(static_cast<LastCommandError>(c)).message().empty()) << c;

  // The download keeps the product's negative codes.
  const Status refused = DownloadResult::kLoginRefused;
  EXPECT_EQ(refused.code(), -4);
  EXPECT_EQ(refused.message(), "login refused");
  for (int c = -7; c <= -1; ++c)
    EXPECT_FALSE(Status(static_cast<DownloadResult>(c)).message().empty()) << c;

  // Socket errors: the fixed text of a known code, else the host's, else the caller's.
  EXPECT_EQ(SocketStatus(EMFILE).message(), "No more socket descriptors are available.");
  EXPECT_EQ(SocketStatus(ECONNREFUSED).code(), ECONNREFUSED);
  EXPECT_FALSE(SocketStatus(ECONNREFUSED).message().empty());
  EXPECT_EQ(SocketStatus(EPERM, "Refused to send").message(), "Refused to send");
  EXPECT_EQ(Status(TcpSessionError::kConnectFailed, "").message(), "no connection to the server");
  for (int c = 1; c <= 4; ++c)
    EXPECT_FALSE(Status(static_cast<TcpSessionError>(c)).message().empty()) << c;

  // A code without a row of its family's table: the family's fallback.
  EXPECT_EQ(Status(static_cast<LastCommandError>(99)).message(), "unknown error");
  EXPECT_EQ(Status(static_cast<TcpSessionError>(99)).message(), "");
}

TEST(Status, ResultHoldsAValueOrItsError) {
  const Result<int> three = 3;
  EXPECT_TRUE(three.ok());
  EXPECT_EQ(three, 3);
  EXPECT_TRUE(three.status().ok());

  const Result<int> none = LastCommandError::kTimeout;
  EXPECT_FALSE(none.ok());
  EXPECT_FALSE(none == 0);
  EXPECT_EQ(none.value_or(-1), -1);
  EXPECT_EQ(none.status(), LastCommandError::kTimeout);
}

}  // namespace
}  // namespace zelin
