#pragma once
// HTTPS client of the measurement node and of the central server's portal: one WinHTTP session
// and one connection to a single origin, one request at a time, with a guard that every response
// comes from the same peer address.
// winsock2 first: winhttp.h declares the connection-information record only after it.
#include <winsock2.h>
// clang-format off
#include <windows.h>
#include <winhttp.h>
// clang-format on

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "engine/common/handle_guard.h"

namespace tarvisko {

void close_internet_handle(HINTERNET handle);
// Makes the wait for response headers end with the receive time-out, as on Windows.
void bound_response_wait(HINTERNET handle, DWORD receive_ms);
using InternetHandle = HandleGuard<HINTERNET>;

// Owns its handles; members are destroyed in reverse order, so the connection closes before
// the session. Used by one thread at a time.
struct NodeClient {
    InternetHandle session;
    InternetHandle connection;
    // "/measure/v1/runs/" + session id.
    std::wstring run_base_path;
    // Remote address text every response must come from; fixed by the first response or copied
    // in by the owner.
    std::string expected_peer;
};

// Throws "node_https_origin_required" unless the origin is a bare https origin, or
// "winhttp_" + code when WinHTTP refuses the session or the connection.
NodeClient open_node_client(const std::string& session_id, const std::wstring& origin);

// Opens and sends one request; a body of `content_length` bytes, when announced, is then written
// by the caller. The path is `explicit_path` when non-empty, else the run base path + suffix.
// Throws "node_credential_required" (nothing sent) when a bearer is needed and unfit.
InternetHandle send_node_request(NodeClient& client, const std::wstring& method,
                                 const std::wstring& suffix, const std::wstring& bearer,
                                 std::uint32_t content_length,
                                 const std::wstring& explicit_path = {});

// Receives the response headers, checks the status ("node_http_" + status) and the peer
// ("peer_address_unavailable", "node_address_changed"). When `local_endpoint` is given it gets
// the ok envelope of the connection's local address or unavailable "local_endpoint_unknown".
void receive_node_response(NodeClient& client, HINTERNET request, unsigned long expected_status,
                           nlohmann::json* local_endpoint = nullptr);
// The checks of receive_node_response, for response headers that another thread received.
void check_node_response(NodeClient& client, HINTERNET request, unsigned long expected_status,
                         nlohmann::json* local_endpoint = nullptr);

// Reads a small JSON object reply of at most `cap` bytes: "node_reply_too_large",
// "invalid_node_reply" (also for trailing bytes or nesting deeper than json_depth_limit) or
// "winhttp_" + code.
nlohmann::json read_node_reply(HINTERNET request, std::size_t cap);

// Reads a reply whose body is of no interest (a HEAD, a 204) to its end, at most `cap` bytes
// ("node_reply_too_large" beyond). WinHTTP reuses the connection only for a reply read to its
// end; otherwise the next request pays a new TCP and TLS handshake, which a latency probe would
// measure as latency.
void finish_node_reply(HINTERNET request, std::size_t cap = 8192);

// Throws "winhttp_" + the calling thread's last error when `ok` is false. Call it directly after
// the failing call.
void throw_winhttp_error(bool ok);

// Numeric text of an IPv4 or IPv6 socket address (no port, brackets or zone); empty otherwise.
std::string endpoint_text(const SOCKADDR_STORAGE& address);

}  // namespace tarvisko
