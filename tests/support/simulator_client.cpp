#include "support/simulator_client.h"

#include <windows.h>
#include <winhttp.h>

#include <cctype>
#include <stdexcept>

#include "engine/common/handle_guard.h"
#include "engine/common/system.h"
#include "engine/common/text.h"

namespace tarvisko::test {
namespace {

void close_internet(HINTERNET handle) { WinHttpCloseHandle(handle); }
using InternetGuard = HandleGuard<HINTERNET>;

[[noreturn]] void fail(const char* step) {
    throw std::runtime_error(std::string("simulator ") + step +
                             " failed: " + std::to_string(GetLastError()));
}

}  // namespace

std::string simulator_origin() {
    const std::string origin = to_utf8(read_environment_variable(L"TARVISKO_SIMULATOR_ORIGIN"));
    // "https://NAME:PORT": localhost, or a name that a namespace test put in the client's hosts.
    const std::size_t colon = origin.rfind(':');
    if (origin.rfind("https://", 0) != 0 || colon <= 8 || colon + 1 >= origin.size()) {
        throw std::runtime_error("TARVISKO_SIMULATOR_ORIGIN unset: run under with-simulator");
    }
    return origin;
}

std::string simulator_host() {
    const std::string origin = simulator_origin();
    return origin.substr(8, origin.rfind(':') - 8);
}

unsigned short simulator_port() {
    const std::string origin = simulator_origin();
    return static_cast<unsigned short>(std::stoul(origin.substr(origin.rfind(':') + 1)));
}

SimulatorReply simulator_request(const std::string& method, const std::string& path,
                                 const std::string& body) {
    InternetGuard session(WinHttpOpen(L"TarviskoTest/1", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                      WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0),
                          close_internet);
    if (!session) fail("WinHttpOpen");
    InternetGuard connection(
        WinHttpConnect(session.get(), to_wide(simulator_host()).c_str(), simulator_port(), 0),
        close_internet);
    if (!connection) fail("WinHttpConnect");
    InternetGuard request(WinHttpOpenRequest(connection.get(), to_wide(method).c_str(),
                                             to_wide(path).c_str(), nullptr, WINHTTP_NO_REFERER,
                                             WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE),
                          close_internet);
    if (!request) fail("WinHttpOpenRequest");
    const wchar_t* headers = L"Content-Type: application/json\r\n";
    if (!WinHttpSendRequest(request.get(), headers, static_cast<DWORD>(-1),
                            body.empty() ? nullptr : const_cast<char*>(body.data()),
                            static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()), 0)) {
        fail("WinHttpSendRequest");
    }
    if (!WinHttpReceiveResponse(request.get(), nullptr)) fail("WinHttpReceiveResponse");
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        fail("WinHttpQueryHeaders");
    }
    SimulatorReply reply;
    reply.status = static_cast<int>(status);
    char buffer[16384];
    for (;;) {
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), buffer, sizeof buffer, &read)) fail("WinHttpReadData");
        if (read == 0) break;
        reply.body.append(buffer, read);
    }
    return reply;
}

nlohmann::json simulator_control(const std::string& method, const std::string& control_path,
                                 const nlohmann::json& body) {
    const SimulatorReply reply =
        simulator_request(method, "/_sim/" + control_path, body.is_null() ? "" : body.dump());
    if (reply.status < 200 || reply.status > 299) {
        throw std::runtime_error("simulator control " + control_path + " answered " +
                                 std::to_string(reply.status) + ": " + reply.body);
    }
    return reply.body.empty() ? nlohmann::json() : nlohmann::json::parse(reply.body);
}

void simulator_reset() { simulator_control("POST", "reset"); }

void simulator_reset_when_ready(int seconds) {
    for (int tries = seconds * 5;; --tries) {
        try {
            simulator_reset();
            return;
        } catch (const std::exception&) {
            if (tries <= 0) throw;
            Sleep(200);
        }
    }
}

int simulator_add_fault(const nlohmann::json& rule) {
    return simulator_control("POST", "faults", rule).at("id").get<int>();
}

nlohmann::json simulator_faults() { return simulator_control("GET", "faults").at("faults"); }

nlohmann::json simulator_requests(const std::string& path_prefix) {
    std::string query;
    for (const char c : path_prefix) {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '/' || c == '-' || c == '_' ||
            c == '.') {
            query += c;
        } else {
            static const char* hex = "0123456789ABCDEF";
            query += '%';
            query += hex[static_cast<unsigned char>(c) >> 4];
            query += hex[static_cast<unsigned char>(c) & 15];
        }
    }
    return simulator_control("GET", "requests?prefix=" + query).at("requests");
}

}  // namespace tarvisko::test
