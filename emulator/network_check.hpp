#pragma once
// Whether the emulator may serve addresses outside 127.0.0.0/8 here.
//
// That is safe only inside a network namespace made for the purpose: not the host's
// own, holding nothing but the loopback interface and veth interfaces, and without a
// default route, so that nothing it sends can reach a real network. The check looks at
// the network namespace of the calling thread.

#include <string>

namespace zelin::emulator {

// "" when the calling thread's network is such an isolated namespace; otherwise the
// reason it is not, in words for the user.
std::string IsolatedNetworkProblem();

}  // namespace zelin::emulator
