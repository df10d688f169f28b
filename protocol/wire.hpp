#pragma once
// The datagram and TCP message layouts shared by the client side (protocol/) and
// the device side (emulator/). Offsets and sizes of every frame live here and
// nowhere else.
//
// Byte order: the datagram length (bytes 2-3) is big-endian; every other
// multi-byte field is little-endian; IPv4 addresses are the four octets in order.

#include <cstddef>
#include <cstdint>

namespace zelin::wire {

// --- UDP ---------------------------------------------------------------------
inline constexpr uint16_t kServerUdpPort = 1029;
inline constexpr uint16_t kManagerFirstLocalPort = 1028;
inline constexpr uint16_t kMonitorFirstLocalPort = 5124;
inline constexpr uint16_t kLocalPortStep = 4096;
inline constexpr size_t kReceiveBufferSize = 2048;

// Command codes. A reply carries the request's code + 0x80.
enum Code : uint8_t {
  kSearch = 0x01,
  kLocateOn = 0x31,
  kLocateOff = 0x32,
  kSetAddress = 0x33,
  kSaveAndRestart = 0x35,
  kSetName = 0x36,
  kSetPortKinds = 0x37,
  kSetPassword = 0x38,
  kAddRoute = 0x39,
  kGetRoutes = 0x3A,
  kGetAccessList = 0x3B,
  kSetAccessList = 0x3C,
  kCheckAddress = 0x3D,
  kLogin = 0x41,
  kDhcp = 0x45,
};
inline constexpr uint8_t kReplyBit = 0x80;

// Common request header: code, 0, total length (BE), sequence (LE).
inline constexpr size_t kOffCode = 0;
inline constexpr size_t kOffStatus = 1;  // 0 in requests, the status in replies
inline constexpr size_t kOffLength = 2;
inline constexpr size_t kOffSequence = 4;

// Search request: 6 bytes + 4 per excluded server (type LE, serial LE).
inline constexpr size_t kSearchSize = 6;
inline constexpr size_t kSearchExclusionSize = 4;

// SearchReply, exactly 86 bytes.
inline constexpr size_t kSearchReplySize = 86;
inline constexpr size_t kSrNonce = 6;
inline constexpr size_t kSrDeviceType = 10;
inline constexpr size_t kSrSerial = 12;
inline constexpr size_t kSrHostAddress = 14;
inline constexpr size_t kSrReserved1 = 18;
inline constexpr size_t kSrFirmware = 22;
inline constexpr size_t kSrFlags = 26;
inline constexpr size_t kSrPortCount = 27;
inline constexpr size_t kSrName = 28;
inline constexpr size_t kNameSize = 30;
inline constexpr size_t kSrPortKinds = 58;
inline constexpr size_t kMaxPorts = 16;
inline constexpr size_t kSrIpAddress = 74;
inline constexpr size_t kSrNetmask = 78;
inline constexpr size_t kSrReserved2 = 82;

inline constexpr uint8_t kFlagPassword = 0x01;        // the server has a password
inline constexpr uint8_t kFlagAddressConflict = 0x04;  // set from the last CheckAddress

// Short request (LocateOn/LocateOff): 10 bytes, no digest.
inline constexpr size_t kShortRequestSize = 10;
inline constexpr size_t kShortDeviceType = 6;
inline constexpr size_t kShortSerial = 8;

// Authenticated request: 26-byte header then the payload.
inline constexpr size_t kAuthHeaderSize = 26;
inline constexpr size_t kAuthDigest = 6;
inline constexpr size_t kAuthDeviceType = 22;
inline constexpr size_t kAuthSerial = 24;

// Reply header (18 bytes) to an authenticated or short request.
inline constexpr size_t kReplyHeaderSize = 18;
inline constexpr size_t kReplyNonce = 6;
inline constexpr size_t kReplyDeviceType = 10;
inline constexpr size_t kReplySerial = 12;
inline constexpr size_t kReplyPayload = 18;
inline constexpr uint8_t kStatusOk = 0;
inline constexpr uint8_t kStatusRefused = 6;

// Request sizes and reply sizes per command.
inline constexpr size_t kSetAddressSize = 34;
inline constexpr size_t kSaveAndRestartSize = 26;
inline constexpr size_t kSetNameSize = 56;
inline constexpr size_t kSetPortKindsSize = 42;
inline constexpr size_t kSetPasswordSize = 66;
inline constexpr size_t kAddRouteSize = 40;
inline constexpr size_t kGetRoutesSize = 28;
inline constexpr size_t kGetAccessListSize = 28;
inline constexpr size_t kSetAccessListBaseSize = 32;  // + 10 per entry
inline constexpr size_t kCheckAddressSize = 30;
inline constexpr size_t kLoginSize = 26;
inline constexpr size_t kDhcpSize = 28;

inline constexpr size_t kAckReplySize = 18;
inline constexpr size_t kSetAccessListReplySize = 22;
inline constexpr size_t kCheckAddressReplySize = 28;
inline constexpr size_t kLoginReplySize = 34;
inline constexpr size_t kDhcpReplySize = 20;
inline constexpr size_t kGetRoutesReplySize = 584;
inline constexpr size_t kGetAccessListReplySize = 424;

// SetPassword payload offsets (absolute).
inline constexpr size_t kPwTimeLe = 26;
inline constexpr size_t kPwMaskedNew = 30;
inline constexpr size_t kPwTimeBe = 46;
inline constexpr size_t kPwNewDigest = 50;
inline constexpr size_t kMaxPasswordLength = 16;

// Table replies: total, start, count (LE) then 40 slots from offset 24.
inline constexpr size_t kTableTotal = 18;
inline constexpr size_t kTableStart = 20;
inline constexpr size_t kTableCount = 22;
inline constexpr size_t kTableSlots = 24;
inline constexpr size_t kTableSlotCount = 40;
inline constexpr size_t kAccessEntrySize = 10;
inline constexpr size_t kRouteEntrySize = 14;
inline constexpr size_t kTableCapacity = 32;  // entries a record holds
inline constexpr uint16_t kTableLimit = 64;   // totals above this are reported
inline constexpr uint16_t kRouteEmptyMetric = 0xFFFF;

// CheckAddress reply: the 6-byte hardware address at 22..27, zeros when free.
inline constexpr size_t kCheckHardwareAddress = 22;
// Dhcp: request byte 26 is the setting (0xFF asks), reply byte 18 the setting.
inline constexpr uint8_t kDhcpQuery = 0xFF;

// --- TCP session on port 4000 -------------------------------------------------
inline constexpr uint16_t kServerTcpPort = 4000;
inline constexpr size_t kTcpReceiveBufferSize = 80;
inline constexpr size_t kFirmwarePieceSize = 2048;
inline constexpr uint8_t kTcpLoginRequest = 0x14;
inline constexpr uint8_t kTcpChallengeTag = 0x04;
inline constexpr size_t kTcpChallengeSize = 6;
inline constexpr size_t kTcpLoginAnswerSize = 17;
inline constexpr uint8_t kTcpDownload = 0x0D;
inline constexpr size_t kTcpDownloadRequestSize = 5;
inline constexpr size_t kTcpReplySize = 2;              // login result, ready, verdict
inline constexpr uint8_t kTcpLoginResultTag = 0x00;    // login answer and result start with it
inline constexpr uint8_t kTcpLoginAccepted = 0x01;
inline constexpr uint8_t kTcpDownloadReady = 0x00;
inline constexpr uint8_t kTcpDownloadAccepted = 0x01;
inline constexpr size_t kTcpChallengeNonce = 2;
inline constexpr size_t kTcpDownloadLength = 1;  // image length (LE) in the download request

// --- diagnostic commands on the TCP session ------------------------------------------
// Port status: request 0x0F; reply 0x0F, data length 64 (big-endian), then 16 status
// words (LE, port 1 first), 0xFFFFFFFF for a closed port.
inline constexpr uint8_t kTcpPortStatus = 0x0F;
inline constexpr size_t kPortStatusReplySize = 67;
inline constexpr size_t kPortStatusLength = 1;  // big-endian 16-bit data length
inline constexpr size_t kPortStatusData = 3;
inline constexpr uint16_t kPortStatusDataSize = 64;
inline constexpr uint32_t kPortClosed = 0xFFFFFFFF;
// Diagnose command (10 bytes) and the progress reports (7 bytes) that answer it.
inline constexpr uint8_t kTcpDiagnose = 0x0E;
inline constexpr size_t kDiagnoseSize = 10;
inline constexpr size_t kDiagTestWord = 1;    // LE 16
inline constexpr size_t kDiagPortMask = 3;    // LE 16
inline constexpr size_t kDiagBaudRate = 5;    // LE 32
inline constexpr size_t kDiagSerialMode = 9;  // 1 byte
inline constexpr size_t kProgressReportSize = 7;
inline constexpr size_t kReportItem = 1;
inline constexpr size_t kReportSubitem = 2;
inline constexpr size_t kReportHasResult = 3;  // 1: the report carries a result
inline constexpr size_t kReportResult = 4;     // 0 passed, else an error code
inline constexpr size_t kReportPortA = 5;
inline constexpr size_t kReportPortB = 6;      // 0xFF: no partner
inline constexpr uint8_t kReportResultFlag = 1;
inline constexpr uint8_t kNoPartner = 0xFF;
// Test word bits of the diagnose command.
inline constexpr uint16_t kTestInternal = 0x0002;
inline constexpr uint16_t kTestPrinter = 0x0004;
inline constexpr uint16_t kTestTxRx = 0x0010;
inline constexpr uint16_t kTestDtrDsr = 0x0020;
inline constexpr uint16_t kTestRtsCts = 0x0040;
inline constexpr uint16_t kTestDtrDcd = 0x0080;
// Report items and subitems.
enum ReportItem : uint8_t { kItemDone = 0, kItemInternal = 1, kItemExternal = 2, kItemPrinter = 3 };
enum ReportSubitem : uint8_t {
  kSubController = 1,
  kSubLoopback = 2,
  kSubFindPair = 3,
  kSubTxRx = 4,
  kSubDtrDsr = 5,
  kSubRtsCts = 6,
  kSubDtrDcd = 7,
};
// Download verdicts beyond "accepted" (0x01) that the diagnostic program tells apart.
inline constexpr uint8_t kTcpDownloadServerTimeout = 0xFD;
inline constexpr uint8_t kTcpDownloadInvalidFormat = 0xFC;
// --- port status query (UDP) and reset (TCP), used by the port status monitor ------
// Request: 30 bytes, the authenticated header with a zero digest, then four port
// indexes (0xFF: place not used). Reply: 22 bytes, then one status block per used
// place (place k at 22 + size·k), 94 bytes each or 92 without the interface code.
inline constexpr uint8_t kQueryPorts = 0x70;
inline constexpr size_t kQueryPortsSize = 30;
inline constexpr size_t kQueryPortsPlaces = 26;  // request: the four port indexes
inline constexpr size_t kQueryPlaceCount = 4;
inline constexpr uint8_t kQueryPlaceUnused = 0xFF;
inline constexpr size_t kQueryReplyPlaces = 18;  // reply: the indexes, echoed
inline constexpr size_t kQueryReplyBlocks = 22;
inline constexpr size_t kQueryReplyMaxSize = 398;
inline constexpr size_t kStatusBlockSize = 94;
inline constexpr size_t kStatusBlockShortSize = 92;
// Status block fields.
inline constexpr size_t kSbConnection = 0, kSbModem = 1, kSbLineFormat = 2, kSbFlow = 3,
                        kSbBaud = 4, kSbIdle = 8, kSbLoginHost = 64, kSbLoginTime = 68,
                        kSbTxTotal = 72, kSbRxTotal = 76, kSbTxCount = 80, kSbRxCount = 84,
                        kSbTimeStamp = 88, kSbInterface = 92;
// ResetCommand after the TCP login: 0x02 and the target (0 the whole server, n port n
// from 1); acknowledged with 0x02 0x01.
inline constexpr uint8_t kTcpReset = 0x02;
inline constexpr size_t kTcpResetRequestSize = 2;
inline constexpr uint8_t kTcpResetDone = 0x01;

// --- request payload fields (absolute offsets) ------------------------------------
inline constexpr size_t kTableRequestStart = 26;   // GetRoutes / GetAccessList: start index
inline constexpr size_t kSetAccessTotal = 26;      // SetAccessList: total, start, count,
inline constexpr size_t kSetAccessStart = 28;      // then `count` entries from offset 32
inline constexpr size_t kSetAccessCount = 30;
inline constexpr size_t kCheckAddressTested = 26;  // CheckAddress: the address to test
inline constexpr size_t kDhcpSetting = 26;         // Dhcp: 0, 1 or kDhcpQuery
inline constexpr size_t kDhcpReplySetting = 18;

}  // namespace zelin::wire
