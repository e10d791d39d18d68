#pragma once
// Reverse (PTR) DNS names: of route responders, asked of the resolver for public addresses and
// taken only from the Windows DNS cache for all others; and of local devices, from the cache.
#include <cstddef>
#include <stop_token>
#include <string>
#include <vector>

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <netioapi.h>
// clang-format on

#include "readings/dns_calls.h"
#include "results/responder_names.h"

namespace tarvisko {

// At most this many responders of one report are named.
inline constexpr std::size_t kResponderLimit = 96;

// The table of functions that the DNS look-ups use when none is passed: the system's, unless a
// test has installed its own resolver (window tests do, before the window exists).
const DnsCalls& active_dns_calls();
// Installs `calls` (nullptr: the system's again) and returns the table that was active.
const DnsCalls* install_dns_calls(const DnsCalls* calls);

// The PTR query name: IPv4 "d.c.b.a.in-addr.arpa.", IPv6 the 32 half-bytes in reverse order,
// lower-case, then "ip6.arpa."; empty for a link-local IPv6 address or another family.
std::wstring reverse_lookup_name(const SOCKADDR_INET& address);

// The first PTR record whose name, without one trailing ".", is a host name (is_host_name: 1 to
// 253 letters, digits, "-", "_" and "."); empty when none qualifies.
std::wstring first_ptr_name(const DNS_RECORDW* records);

// The name the DNS cache holds for the address; empty when it has none. Never sends a query.
std::wstring reverse_dns_from_cache(const SOCKADDR_INET& address,
                                    const DnsCalls& calls = active_dns_calls());

// Names of the first 96 address texts: public addresses through parallel resolver queries with
// one deadline of 4 s, others from the DNS cache only; every address without a name gets a note
// saying why. A stop request ends the walk and the waiting; queries already issued are
// cancelled and waited for before the call returns. DNS failures become notes; only memory
// exhaustion throws.
ResponderNameMap resolve_ptr_names(const std::vector<std::string>& addresses, std::stop_token stop,
                                   const DnsCalls& calls = active_dns_calls());

}  // namespace tarvisko
