#include "engine/http/node_client.h"

#include <ws2tcpip.h>

#include <array>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "engine/common/envelope.h"
#include "engine/common/json_document.h"

namespace tarvisko {
namespace {

constexpr wchar_t kUserAgent[] = L"QUORVEL transfer/1.1.18";
constexpr std::size_t kReadPiece = 2048;

// Requests that carry no credential at all: the client registration (any method) and the
// public downloads of the portal.
bool is_public_request(std::wstring_view method, std::wstring_view explicit_path) {
    if (explicit_path == L"/api/v1/portal/clients") return true;
    return method == L"GET" && (explicit_path == L"/api/v1/portal/game-profiles" ||
                                explicit_path == L"/pobierz/windows-release.json" ||
                                explicit_path == L"/pobierz/QUORVEL-Sondaro.exe");
}

bool is_usable_bearer(std::wstring_view bearer) {
    if (bearer.size() < 32 || bearer.size() > 256) return false;
    for (wchar_t unit : bearer) {
        if (unit < 0x21 || unit > 0x7E) return false;
    }
    return true;
}

[[noreturn]] void origin_required() { throw std::runtime_error("node_https_origin_required"); }

struct SplitOrigin {
    std::wstring host;
    INTERNET_PORT port = INTERNET_DEFAULT_HTTPS_PORT;
};

SplitOrigin split_origin(const std::wstring& origin) {
    if (origin.empty()) origin_required();
    // A bare origin has no query or fragment. Wine's splitter loses one that follows the host or
    // the port (into the host text, or silently), so the text itself is checked too.
    if (origin.find_first_of(L"?#") != std::wstring::npos) origin_required();
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUserNameLength = static_cast<DWORD>(-1);
    parts.dwPasswordLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(origin.c_str(), static_cast<DWORD>(origin.size()), 0, &parts)) {
        origin_required();
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTPS) origin_required();
    if (parts.lpszHostName == nullptr || parts.dwHostNameLength == 0) origin_required();
    if (parts.dwUserNameLength != 0 || parts.dwPasswordLength != 0) origin_required();
    if (parts.dwExtraInfoLength != 0) origin_required();
    const std::wstring_view path(parts.lpszUrlPath == nullptr ? L"" : parts.lpszUrlPath,
                                 parts.dwUrlPathLength);
    if (!path.empty() && path != L"/") origin_required();
    SplitOrigin split;
    split.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    // No such character belongs in a host name; refusing them refuses nothing Windows accepts.
    if (split.host.find_first_of(L"@/\\") != std::wstring::npos) origin_required();
    split.port = parts.nPort;
    return split;
}

}  // namespace

void close_internet_handle(HINTERNET handle) { WinHttpCloseHandle(handle); }

void bound_response_wait(HINTERNET handle, DWORD receive_ms) {
    // Windows bounds the wait for response headers by the receive time-out; Wine's WinHTTP only
    // by this option, so without it a silent node would hold a request past every deadline.
    WinHttpSetOption(handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receive_ms,
                     sizeof(receive_ms));
}

void throw_winhttp_error(bool ok) {
    if (ok) return;
    const DWORD code = GetLastError();
    throw std::runtime_error("winhttp_" + std::to_string(static_cast<unsigned long>(code)));
}

std::string endpoint_text(const SOCKADDR_STORAGE& address) {
    std::array<char, 65> text{};
    const void* bytes = nullptr;
    if (address.ss_family == AF_INET) {
        bytes = &reinterpret_cast<const sockaddr_in&>(address).sin_addr;
    } else if (address.ss_family == AF_INET6) {
        bytes = &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr;
    } else {
        return {};
    }
    if (inet_ntop(address.ss_family, bytes, text.data(), text.size()) == nullptr) return {};
    return text.data();
}

NodeClient open_node_client(const std::string& session_id, const std::wstring& origin) {
    NodeClient client;
    client.session = InternetHandle(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY,
                                                WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0),
                                    close_internet_handle);
    throw_winhttp_error(client.session.valid());

    client.run_base_path = L"/measure/v1/runs/";
    for (char byte : session_id) {
        client.run_base_path.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
    }

    const SplitOrigin split = split_origin(origin);

    throw_winhttp_error(WinHttpSetTimeouts(client.session.get(), 3000, 3000, 4000, 4000) != FALSE);
    bound_response_wait(client.session.get(), 4000);
    DWORD fast_fallback = 1;
    // Not every WinHTTP knows this option; the connection works without it.
    WinHttpSetOption(client.session.get(), WINHTTP_OPTION_IPV6_FAST_FALLBACK, &fast_fallback,
                     sizeof(fast_fallback));

    client.connection =
        InternetHandle(WinHttpConnect(client.session.get(), split.host.c_str(), split.port, 0),
                       close_internet_handle);
    throw_winhttp_error(client.connection.valid());
    return client;
}

InternetHandle send_node_request(NodeClient& client, const std::wstring& method,
                                 const std::wstring& suffix, const std::wstring& bearer,
                                 std::uint32_t content_length, const std::wstring& explicit_path) {
    const bool use_bearer = !is_public_request(method, explicit_path);
    if (use_bearer && !is_usable_bearer(bearer)) {
        throw std::runtime_error("node_credential_required");
    }
    const std::wstring path = explicit_path.empty() ? client.run_base_path + suffix : explicit_path;

    InternetHandle request(
        WinHttpOpenRequest(client.connection.get(), method.c_str(), path.c_str(), L"HTTP/1.1",
                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                           WINHTTP_FLAG_SECURE | WINHTTP_FLAG_REFRESH),
        close_internet_handle);
    throw_winhttp_error(request.valid());

    DWORD redirect_policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    throw_winhttp_error(WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY,
                                         &redirect_policy, sizeof(redirect_policy)) != FALSE);
    DWORD disabled = WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_AUTHENTICATION;
    throw_winhttp_error(WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &disabled,
                                         sizeof(disabled)) != FALSE);

    std::wstring headers = L"Accept-Encoding: identity\r\n";
    if (use_bearer) headers += L"Authorization: Bearer " + bearer + L"\r\n";
    if (content_length != 0) headers += L"Content-Type: application/octet-stream\r\n";

    throw_winhttp_error(WinHttpSendRequest(request.get(), headers.c_str(), static_cast<DWORD>(-1L),
                                           WINHTTP_NO_REQUEST_DATA, 0, content_length, 0) != FALSE);
    return request;
}

void receive_node_response(NodeClient& client, HINTERNET request, unsigned long expected_status,
                           nlohmann::json* local_endpoint) {
    throw_winhttp_error(WinHttpReceiveResponse(request, nullptr) != FALSE);
    check_node_response(client, request, expected_status, local_endpoint);
}

void check_node_response(NodeClient& client, HINTERNET request, unsigned long expected_status,
                         nlohmann::json* local_endpoint) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    throw_winhttp_error(WinHttpQueryHeaders(request,
                                            WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                                            WINHTTP_NO_HEADER_INDEX) != FALSE);
    if (status != expected_status) {
        throw std::runtime_error("node_http_" + std::to_string(static_cast<unsigned long>(status)));
    }

    WINHTTP_CONNECTION_INFO info{};
    info.cbSize = sizeof(info);
    DWORD info_size = sizeof(info);
    throw_winhttp_error(
        WinHttpQueryOption(request, WINHTTP_OPTION_CONNECTION_INFO, &info, &info_size) != FALSE);

    if (local_endpoint != nullptr) {
        const std::string local = endpoint_text(info.LocalAddress);
        *local_endpoint =
            local.empty() ? json_unavailable("local_endpoint_unknown") : json_value_ok(local);
    }

    const std::string remote = endpoint_text(info.RemoteAddress);
    if (remote.empty()) throw std::runtime_error("peer_address_unavailable");
    if (client.expected_peer.empty()) client.expected_peer = remote;
    if (remote != client.expected_peer) throw std::runtime_error("node_address_changed");
}

namespace {

// The whole body, read in pieces until a read returns nothing.
std::string read_reply_body(HINTERNET request, std::size_t cap) {
    std::string body;
    std::array<char, kReadPiece> piece{};
    for (;;) {
        DWORD got = 0;
        throw_winhttp_error(WinHttpReadData(request, piece.data(), static_cast<DWORD>(piece.size()),
                                            &got) != FALSE);
        if (got == 0) return body;
        if (body.size() + got > cap) throw std::runtime_error("node_reply_too_large");
        body.append(piece.data(), got);
    }
}

}  // namespace

void finish_node_reply(HINTERNET request, std::size_t cap) { read_reply_body(request, cap); }

nlohmann::json read_node_reply(HINTERNET request, std::size_t cap) {
    const std::string body = read_reply_body(request, cap);
    std::optional<nlohmann::json> reply = parse_json_document(body);
    if (!reply || !reply->is_object()) throw std::runtime_error("invalid_node_reply");
    return std::move(*reply);
}

}  // namespace tarvisko
