#pragma once
// Encoders and decoders of the client side's datagrams, each format in one place.
//
// Everything here is a pure function over byte spans and ServerRecords: no socket,
// no clock, no user interface. Messages meant for the user (the table replies can report
// oversized totals) are returned with the result, and the caller shows them. Every
// decoder reads only the bytes it is given and treats them as hostile:
// a reply shorter than a field leaves that field unread.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.hpp"
#include "protocol/bytes.hpp"
#include "protocol/md5.hpp"
#include "protocol/types.hpp"
#include "protocol/wire.hpp"

namespace zelin::frames {

using Nonce = std::array<uint8_t, 4>;
using Messages = std::vector<std::string>;

// --- discovery ---------------------------------------------------------------

// The Search request: 6 bytes, followed by (device type, serial number) of each
// record in `exclude` (the servers that must stay silent).
std::vector<uint8_t> BuildSearch(std::span<const ServerRecord> exclude = {});

// True for a datagram that has the shape of a search reply: exactly 86 bytes
// (`full_length` is the length received, which may exceed what was kept), byte 0
// 0x81, status 0. The sequence number and the device type are checked by the caller.
bool IsSearchReplyShape(Bytes kept, size_t full_length);

// Makes the 30-byte name field of an 86-byte search reply a string in place:
// trailing spaces are removed (the first character always stays) and a name that
// fills the whole field loses its 30th byte to the terminator.
void CleanSearchReplyName(MutableBytes search_reply);

// Bytes 4-5 of any reply (little-endian); 0 when the datagram is too short.
uint16_t ReplySequence(Bytes reply);

// --- requests ------------------------------------------------------------------

// The 10-byte LocateOn / LocateOff request (no digest).
std::array<uint8_t, wire::kShortRequestSize> BuildShortRequest(uint8_t code, uint16_t sequence,
                                                               DeviceType type, uint16_t serial);

// MD5 over the password characters followed by the 4 nonce bytes.
Md5Digest RequestDigest(std::string_view password, const Nonce& nonce);

// Writes the 26-byte authenticated header into the start of `frame`; the total
// length written is frame.size().
void WriteAuthHeader(MutableBytes frame, uint8_t code, uint16_t sequence, const Md5Digest& digest,
                     DeviceType type, uint16_t serial);

// The 66-byte SetPassword request's payload (offsets 26..65): the time stamp, the
// new password masked with MD5(current, serial, time LE) and MD5(new, serial, time BE).
// Passwords longer than 16 characters are the caller's error (only 16 are used).
void PutSetPasswordPayload(MutableBytes frame, std::string_view current,
                           std::string_view new_password, uint16_t serial, uint32_t unix_seconds);

// The whole request for `code`, built from the record (sequence, nonce, password,
// identity and the fields the command carries), or the exchange error that leaves
// none: kPasswordTooLong (current password, or SetPassword's new one, over 16
// characters) or kUnknownCommand.
Result<std::vector<uint8_t>> BuildRequest(const ServerRecord& record, uint8_t code,
                                          uint32_t unix_seconds);

// --- replies -----------------------------------------------------------------

struct ReplySpec {
  size_t expected;      // the reply length the command expects (bytes kept)
  bool length_checked;  // a reply of any other length is skipped with error 5
  size_t needed;        // bytes a successful reply must carry for its parser
};
// nullopt for codes that have no reply (Search) or are unknown.
std::optional<ReplySpec> ReplySpecFor(uint8_t code);

// Checks of a reply against the request it may answer, in this order: length (the
// exact length for checked commands, at least the 18-byte header otherwise), code,
// sequence (low 16 bits of record.sequence), device type, serial number.
// Returns kNone when the reply belongs to the record's pending request.
// `kept` holds at most shape.expected bytes, `full_length` is what arrived.
LastCommandError CheckReply(Bytes kept, size_t full_length, uint8_t code,
                            const ServerRecord& record);

// The nonce of a reply (bytes 6-9); the reply must hold at least 10 bytes.
Nonce ReplyNonce(Bytes reply);

// What the receive loop does with one datagram that arrived while a request waits.
struct ReplyStep {
  bool ends_wait = false;  // true: the wait ends with `error` (kNone: the reply was taken)
  LastCommandError error = LastCommandError::kNone;  // otherwise: why the datagram was skipped
  Messages messages;  // for the user, of a reply taken or refused by its parser
};
// Judges one datagram against the record's pending request for `code` and, when it is
// the successful reply, applies its payload and moves the nonce and the sequence on:
// CheckReply, then the status (6: refused, the nonce and sequence still move on; any
// other non-zero status: skipped), then the length the payload needs, then the
// command's parser (a refused payload ends the wait with kErrorStatus and stores
// nothing). `kept` holds at most the expected length, `full_length` is what arrived.
ReplyStep TakeReply(Bytes kept, size_t full_length, uint8_t code, ServerRecord& record);

// Applies a successful reply's payload to the record (per command): the messages for
// the user, or LastCommandError::kErrorStatus with the message that says why the
// reply is refused (a route total above 64); then nothing is stored.
Result<Messages> ApplyReplyPayload(uint8_t code, Bytes reply, ServerRecord& record);

// Individual parsers, exposed for tests. Each reads only within `reply`.
// GetRoutes: refused like ApplyReplyPayload, or kWrongLength for a reply shorter
// than its table header.
Status ParseGetRoutesReply(Bytes reply, ServerRecord& record);
// GetAccessList: never refused; the messages about oversized totals.
Messages ParseGetAccessListReply(Bytes reply, ServerRecord& record);
void ParseCheckAddressReply(Bytes reply, ServerRecord& record);
void ParseDhcpReply(Bytes reply, ServerRecord& record);

// --- TCP session messages ------------------------------------------------------

// A challenge is exactly 6 bytes: 0x14, 0x04, nonce.
std::optional<Nonce> ParseTcpChallenge(Bytes message);
// The 17-byte login answer: 0x00 then MD5(password, nonce).
std::array<uint8_t, wire::kTcpLoginAnswerSize> BuildTcpLoginAnswer(std::string_view password,
                                                                   const Nonce& nonce);
// True for exactly the two bytes `first`, `second`.
bool IsTcpPair(Bytes message, uint8_t first, uint8_t second);
// The 5-byte download request: 0x0D, file length little-endian.
std::array<uint8_t, wire::kTcpDownloadRequestSize> BuildDownloadRequest(uint32_t file_length);

}  // namespace zelin::frames
