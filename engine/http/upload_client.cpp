#include "engine/http/upload_client.h"

#include <limits>
#include <stdexcept>
#include <vector>

#include "engine/common/handle_guard.h"
#include "engine/common/system.h"
#include "engine/common/text.h"

namespace tarvisko {
namespace {

using InternetGuard = HandleGuard<HINTERNET>;

constexpr wchar_t user_agent[] = L"QUORVEL/1.1.18";
constexpr DWORD read_piece = 1024;
// Retry-After is read into a fixed 256-byte buffer; a longer value counts as no header.
constexpr DWORD retry_after_buffer_bytes = 256;

[[noreturn]] void refuse_origin() {
    throw std::runtime_error("HTTPS origin required, without credentials, path or query");
}

// Wine's WinHttpCrackUrl leaves a "?query" or "#fragment" that follows the host inside the host
// text, so "https://h?q" would pass the component checks. None of these characters can stand in
// a host name that Windows accepts, so refusing them costs nothing there.
bool host_has_delimiter(std::wstring_view host) {
    return host.find_first_of(L"?#@/\\") != std::wstring_view::npos;
}

// Wine's WinHttpTimeToSystemTime accepts any text and answers with the current time. Every form
// of HTTP date (IMF-fixdate, RFC 850, asctime) carries a time of day "HH:MM:SS"; a value without
// one is not a date on any platform.
bool has_time_of_day(std::wstring_view value) {
    const auto digit = [](wchar_t c) { return c >= L'0' && c <= L'9'; };
    for (std::size_t i = 0; i + 8 <= value.size(); ++i) {
        if (digit(value[i]) && digit(value[i + 1]) && value[i + 2] == L':' && digit(value[i + 3]) &&
            digit(value[i + 4]) && value[i + 5] == L':' && digit(value[i + 6]) &&
            digit(value[i + 7])) {
            return true;
        }
    }
    return false;
}

bool all_digits(std::wstring_view value) {
    if (value.empty()) return false;
    for (const wchar_t c : value) {
        if (c < L'0' || c > L'9') return false;
    }
    return true;
}

std::uint64_t filetime_ticks(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

void end_deflate(z_stream* stream) { deflateEnd(stream); }

void close_winhttp_handle(HINTERNET handle) {
    if (handle != nullptr) WinHttpCloseHandle(handle);
}

UploadReply last_error_result() {
    UploadReply reply;
    reply.status = -static_cast<std::int32_t>(GetLastError());
    return reply;
}

UploadEndpoint load_upload_endpoint() {
    const std::wstring origin = read_environment_variable(L"QUORVEL_API_ORIGIN");
    const std::wstring token = read_environment_variable(L"QUORVEL_TOKEN");
    if (origin.empty() || token.empty()) {
        throw std::runtime_error("set QUORVEL_API_ORIGIN and QUORVEL_TOKEN");
    }

    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUserNameLength = static_cast<DWORD>(-1);
    parts.dwPasswordLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    // Wine's cracking also drops a query that follows the port ("https://h:1?q" gives port 1 and
    // no extra information), so the text itself must hold neither delimiter.
    if (origin.find_first_of(L"?#") != std::wstring::npos) refuse_origin();
    if (!WinHttpCrackUrl(origin.c_str(), 0, 0, &parts)) refuse_origin();
    const std::wstring_view path(parts.lpszUrlPath ? parts.lpszUrlPath : L"",
                                 parts.dwUrlPathLength);
    if (parts.nScheme != INTERNET_SCHEME_HTTPS || parts.dwHostNameLength == 0 ||
        parts.lpszHostName == nullptr || parts.dwUserNameLength != 0 ||
        parts.dwPasswordLength != 0 || parts.dwExtraInfoLength != 0 ||
        !(path.empty() || path == L"/")) {
        refuse_origin();
    }
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    if (host_has_delimiter(host)) refuse_origin();
    for (wchar_t& c : host) {
        if (c > 127) throw std::runtime_error("use ASCII or punycode hostname");
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }

    if (token.size() < 32 || token.size() > 256) throw std::runtime_error("invalid bearer token");
    for (const wchar_t c : token) {
        if (c < 0x21 || c > 0x7E) throw std::runtime_error("invalid bearer token");
    }

    UploadEndpoint endpoint;
    endpoint.host = host;
    endpoint.port = parts.nPort;
    endpoint.headers =
        L"Authorization: Bearer " + token + L"\r\nContent-Type: application/json\r\n";
    endpoint.origin = "https://" + to_utf8(host) + ":" + std::to_string(parts.nPort);
    return endpoint;
}

std::string gzip_body(std::string_view text) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        throw std::runtime_error("gzip initialization failed");
    }
    HandleGuard<z_stream*> guard(&stream, end_deflate);
    if (text.size() > std::numeric_limits<uInt>::max()) throw std::runtime_error("gzip failed");
    std::string output(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(output.data());
    stream.avail_out = static_cast<uInt>(output.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("gzip failed");
    output.resize(stream.total_out);
    return output;
}

std::uint32_t retry_after_seconds(std::wstring_view value, const FILETIME& now) {
    constexpr std::uint64_t most = std::numeric_limits<std::uint32_t>::max();
    if (all_digits(value)) {
        // Any number of digits: past 32 bits the server simply means "a very long time".
        std::uint64_t seconds = 0;
        for (const wchar_t c : value) {
            seconds = seconds * 10 + static_cast<std::uint64_t>(c - L'0');
            if (seconds > most) return static_cast<std::uint32_t>(most);
        }
        return static_cast<std::uint32_t>(seconds);
    }
    const std::wstring text(value);
    SYSTEMTIME date{};
    FILETIME when{};
    if (!has_time_of_day(value) || !WinHttpTimeToSystemTime(text.c_str(), &date) ||
        !SystemTimeToFileTime(&date, &when)) {
        return 0;
    }
    const std::uint64_t then_ticks = filetime_ticks(when);
    const std::uint64_t now_ticks = filetime_ticks(now);
    if (then_ticks <= now_ticks) return 0;
    const std::uint64_t seconds = (then_ticks - now_ticks) / 10'000'000u + 1;
    return static_cast<std::uint32_t>(seconds > most ? most : seconds);
}

UploadReply http_put(const UploadEndpoint& endpoint, const std::string& path,
                     const std::string& body, bool compressed) {
    InternetGuard session(WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                      WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0),
                          close_winhttp_handle);
    if (!session) return last_error_result();
    if (!WinHttpSetTimeouts(session.get(), 3000, 3000, 5000, 10000)) return last_error_result();
    // Windows bounds the wait for the reply's headers by the receive time-out; Wine's WinHTTP only
    // by this option, so without it a silent server would hold the run's thread indefinitely.
    DWORD response_wait_ms = 10000;
    WinHttpSetOption(session.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_wait_ms,
                     sizeof response_wait_ms);
    DWORD fast_fallback = 1;
    // Not every WinHTTP knows this option; the request works without it.
    WinHttpSetOption(session.get(), WINHTTP_OPTION_IPV6_FAST_FALLBACK, &fast_fallback,
                     sizeof fast_fallback);

    InternetGuard connection(WinHttpConnect(session.get(), endpoint.host.c_str(), endpoint.port, 0),
                             close_winhttp_handle);
    if (!connection) return last_error_result();
    // Widened byte by byte: each byte is one unit of the same value (a plain char would
    // sign-extend a byte above 0x7F into U+FFxx).
    std::wstring wide_path;
    wide_path.reserve(path.size());
    for (const unsigned char byte : path) wide_path.push_back(static_cast<wchar_t>(byte));
    InternetGuard request(
        WinHttpOpenRequest(connection.get(), L"PUT", wide_path.c_str(), nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE),
        close_winhttp_handle);
    if (!request) return last_error_result();
    DWORD redirect_policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    if (!WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirect_policy,
                          sizeof redirect_policy)) {
        return last_error_result();
    }
    DWORD disabled = WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_AUTHENTICATION;
    if (!WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &disabled,
                          sizeof disabled)) {
        return last_error_result();
    }

    std::string payload = compressed ? gzip_body(body) : body;
    std::wstring headers = endpoint.headers;
    if (compressed) headers += L"Content-Encoding: gzip\r\n";
    const DWORD length = static_cast<DWORD>(payload.size());
    if (!WinHttpSendRequest(request.get(), headers.c_str(), static_cast<DWORD>(-1), payload.data(),
                            length, length, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        return last_error_result();
    }

    DWORD status = 0;
    DWORD status_size = sizeof status;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return last_error_result();
    }
    UploadReply reply;
    reply.status = static_cast<std::int32_t>(status);

    wchar_t retry_after[retry_after_buffer_bytes / sizeof(wchar_t)] = {};
    DWORD retry_after_size = retry_after_buffer_bytes;
    if (WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_RETRY_AFTER, WINHTTP_HEADER_NAME_BY_INDEX,
                            retry_after, &retry_after_size, WINHTTP_NO_HEADER_INDEX)) {
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        reply.retry_after_s = retry_after_seconds(
            std::wstring_view(retry_after, retry_after_size / sizeof(wchar_t)), now);
    }

    if (status == 200 || status == 201 || status == 202) {
        // Wine ends the read quietly when the server closes the connection before the announced
        // length has arrived, where Windows fails the read. A cut reply is no reply.
        DWORD announced = 0;
        DWORD announced_size = sizeof announced;
        const bool has_length = WinHttpQueryHeaders(
            request.get(), WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
            WINHTTP_HEADER_NAME_BY_INDEX, &announced, &announced_size, WINHTTP_NO_HEADER_INDEX);
        char piece[read_piece];
        for (;;) {
            DWORD read = 0;
            if (!WinHttpReadData(request.get(), piece, read_piece, &read))
                return last_error_result();
            if (read == 0) break;
            if (reply.body.size() + read > upload_reply_limit) {
                UploadReply rejected;
                rejected.status = upload_reply_rejected;
                return rejected;
            }
            reply.body.append(piece, read);
        }
        if (has_length && reply.body.size() < announced) {
            SetLastError(ERROR_WINHTTP_CONNECTION_ERROR);
            return last_error_result();
        }
    }
    return reply;
}

}  // namespace tarvisko
