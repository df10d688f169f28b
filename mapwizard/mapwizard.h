#pragma once
// The Add Server Wizard library's exported entry points (libmapwizard.so).
//
// VCOMMManWizard runs the wizard modally over the caller's tables and returns 1 when
// the user finished it (a new ServerConfig was appended and *configuration_count grew
// by one), 0 otherwise. The library borrows the tables for the call only: it opens no
// socket of its own, and never closes the borrowed ones. No exception leaves it. The
// found list and its saved copy come back re-searched, but the records and saved copies
// of servers the caller has configured come back as they were (first in the lists, also
// when the search did not hear them), so the caller's unsaved edits stay pending.
//
// SetZelinType returns 1 when the store's installation type is already set; otherwise
// it stores the caller's installation type as the DWORD "ZelinType" and returns 0.

#include <stdint.h>

#ifdef __cplusplus
namespace zelin {
struct ServerList;
struct ServerConfig;
}  // namespace zelin
using ZelinServerList = zelin::ServerList;
using ZelinServerConfig = zelin::ServerConfig;
extern "C" {
#else
typedef struct ZelinServerList ZelinServerList;
typedef struct ZelinServerConfig ZelinServerConfig;
#endif

// The block the manager hands over: eight entries that point into its own model.
struct WizardArguments {
  const int* socket_table;            // the transport's socket table (-1 = none)
  int interface_count;                // entries in the socket and local address tables
  const uint32_t* local_addresses;    // host addresses, network order
  ZelinServerList* found;             // servers found on the network
  ZelinServerList* saved_found;       // the found list as last saved
  ZelinServerConfig* configuration;   // 32 configured servers
  ZelinServerConfig* saved_configuration;
  int* configuration_count;
};

// The caller's block for SetZelinType: the installation type to store (1, 2 or 3).
struct ZelinTypeArguments {
  uint32_t installation_type;
};

__attribute__((visibility("default"))) int VCOMMManWizard(struct WizardArguments* args);
__attribute__((visibility("default"))) int SetZelinType(struct ZelinTypeArguments* args);

#ifdef __cplusplus
}
#endif
