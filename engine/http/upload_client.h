#pragma once
// HTTPS upload client: turns the engine's configuration into an upload endpoint and sends one PUT
// at a time for the upload pump. Every outcome of a request, a broken network included, comes
// back as an UploadReply; only a bad configuration and a failed compression throw.
#include <windows.h>
#include <winhttp.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvisko {

struct UploadEndpoint {
    // "https://" + lower-case host + ":" + port, the port always written; what a session is
    // bound to in the queue.
    std::string origin;
    std::wstring host;
    // "Authorization: Bearer <token>\r\nContent-Type: application/json\r\n"
    std::wstring headers;
    std::uint16_t port = 0;
};

struct UploadReply {
    // The HTTP status; minus the Windows error code when the request failed before a status was
    // read or while the body was read; -13 when the reply body passed 4096 bytes.
    std::int32_t status = 0;
    std::uint32_t retry_after_s = 0;
    // Read only for 200, 201 and 202; at most 4096 bytes.
    std::string body;
};

inline constexpr std::int32_t upload_reply_rejected = -13;
inline constexpr std::size_t upload_reply_limit = 4096;

// Reads QUORVEL_API_ORIGIN and QUORVEL_TOKEN. Throws "set QUORVEL_API_ORIGIN and QUORVEL_TOKEN",
// "HTTPS origin required, without credentials, path or query", "use ASCII or punycode hostname"
// or "invalid bearer token".
UploadEndpoint load_upload_endpoint();

// One synchronous PUT on its own session and connection; never follows redirects, sends no
// cookies, no automatic authentication. Throws only from gzip_body.
UploadReply http_put(const UploadEndpoint& endpoint, const std::string& path,
                     const std::string& body, bool compressed);

// gzip framing (window bits 31). Throws "gzip initialization failed" or "gzip failed".
std::string gzip_body(std::string_view text);

// Status = minus GetLastError(), no Retry-After, empty body.
UploadReply last_error_result();

// Seconds to wait from a Retry-After value: all digits = seconds (saturating at 4294967295);
// anything else is an HTTP date, giving the whole seconds after `now` plus 1 when it lies ahead
// and 0 when it lies behind or cannot be read.
std::uint32_t retry_after_seconds(std::wstring_view value, const FILETIME& now);

void end_deflate(z_stream* stream);
void close_winhttp_handle(HINTERNET handle);

}  // namespace tarvisko
