// Probe outcomes that Wine cannot produce, scripted behind the platform table: ICMP status words,
// odd replies, ICMPv6 (packed Windows layout), a failing best-route lookup, and the ICMP error
// information behind a failed TCP connect.
#include <cstring>
#include <new>
#include <vector>

#include "engine/common/address.h"
#include "tests/engine/probes/probe_fixture.h"

namespace tarvisko {
namespace {

using test::ScopedProbePlatform;

const auto* const winsock = ::testing::AddGlobalTestEnvironment(new test::WinsockEnvironment);

struct EchoCase {
    std::uint32_t icmp_status;
    const char* responder;
    const char* status;
    bool keeps_responder;
};

TEST(EchoStatus, MapsIcmpStatusAndResponder) {
    const EchoCase cases[] = {
        {11010, "", "timeout", false},
        {11010, "10.0.0.1", "timeout", false},
        {0, "", "unavailable", false},
        {11013, "", "unavailable", false},
        {0, "192.0.2.1", "echo_reply", true},
        {11001, "192.0.2.1", "unavailable", false},  // buffer too small: not an answer
        {11002, "192.0.2.1", "unreachable", true},
        {11003, "192.0.2.1", "unreachable", true},
        {11004, "192.0.2.1", "unreachable", true},
        {11005, "192.0.2.1", "unreachable", true},
        {11006, "192.0.2.1", "unavailable", false},
        {11012, "192.0.2.1", "unavailable", false},
        {11013, "192.0.2.1", "ttl_expired", true},
        {11014, "192.0.2.1", "unavailable", false},
        {11050, "192.0.2.1", "unavailable", false},
    };
    for (const EchoCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.icmp_status) + " from '" + c.responder + "'");
        const ProbeResult result = echo_status(c.icmp_status, c.responder, 17);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.native_code, c.icmp_status);
        EXPECT_EQ(result.responder, c.keeps_responder ? c.responder : "");
        EXPECT_EQ(result.rtt_ms, c.keeps_responder ? 17u : 0u);
    }
}

TEST(AddressToText, FormatsBothFamiliesAndRejectsOthers) {
    const unsigned char v4[4] = {192, 0, 2, 33};
    EXPECT_EQ(address_to_text(AF_INET, v4), "192.0.2.33");
    unsigned char v6[16]{};
    v6[0] = 0x20;
    v6[1] = 0x01;
    v6[2] = 0x0D;
    v6[3] = 0xB8;
    v6[15] = 1;
    EXPECT_EQ(address_to_text(AF_INET6, v6), "2001:db8::1");
    try {
        address_to_text(12345, v6);
        FAIL() << "expected an error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "InetNtopA failed");
    }
}

// One scripted IPv4 reply, and what the send was asked to do.
struct Ipv4Script {
    DWORD count = 1;
    DWORD last_error = 0;
    ICMP_ECHO_REPLY reply{};
    IPAddr destination = 0;
    std::vector<unsigned char> request;
    UCHAR ttl = 0;
    UCHAR tos = 0xFF;
    UCHAR flags = 0xFF;
    DWORD reply_size = 0;
    DWORD timeout = 0;
};
Ipv4Script* ipv4_script = nullptr;

DWORD scripted_icmp_send(HANDLE, IPAddr destination, void* request, WORD request_size,
                         IP_OPTION_INFORMATION* options, void* reply, DWORD reply_size,
                         DWORD timeout_ms) {
    Ipv4Script& s = *ipv4_script;
    s.destination = destination;
    const auto* bytes = static_cast<const unsigned char*>(request);
    s.request.assign(bytes, bytes + request_size);
    s.ttl = options->Ttl;
    s.tos = options->Tos;
    s.flags = options->Flags;
    s.reply_size = reply_size;
    s.timeout = timeout_ms;
    if (s.count == 0) {
        SetLastError(s.last_error);
        return 0;
    }
    std::memcpy(reply, &s.reply, sizeof s.reply);
    return s.count;
}

HANDLE fake_handle() { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x4242)); }

class Ipv4Echo : public ::testing::Test {
  protected:
    void SetUp() override {
        ipv4_script = &script;
        platform.table().icmp_create_file = [] { return fake_handle(); };
        platform.table().icmp_close_handle = [](HANDLE) { return TRUE; };
        platform.table().icmp_send_echo2 = scripted_icmp_send;
        echo = open_echo_target(parse_ip_literal("198.51.100.7"));
        ASSERT_EQ(echo.error, 0u);
    }
    void TearDown() override { ipv4_script = nullptr; }

    static IPAddr address(unsigned char a, unsigned char b, unsigned char c, unsigned char d) {
        IPAddr value;
        const unsigned char bytes[4] = {a, b, c, d};
        std::memcpy(&value, bytes, 4);
        return value;
    }

    ScopedProbePlatform platform;
    Ipv4Script script;
    EchoTarget echo;
};

TEST_F(Ipv4Echo, SendsThirtyTwoZeroBytesWithOnlyTheTtl) {
    script.reply.Address = address(198, 51, 100, 7);
    script.reply.Status = 0;
    script.reply.RoundTripTime = 23;
    const ProbeResult result = send_echo(echo, 9, 1500);
    EXPECT_EQ(script.destination, address(198, 51, 100, 7));
    EXPECT_EQ(script.request, std::vector<unsigned char>(32, 0));
    EXPECT_EQ(script.ttl, 9);
    EXPECT_EQ(script.tos, 0);
    EXPECT_EQ(script.flags, 0);
    EXPECT_EQ(script.reply_size, 1024u);
    EXPECT_EQ(script.timeout, 1500u);
    EXPECT_EQ(result.status, "echo_reply");
    EXPECT_EQ(result.responder, "198.51.100.7");
    EXPECT_EQ(result.rtt_ms, 23u);
}

TEST_F(Ipv4Echo, ZeroAddressReplyIsUnavailableEvenWithSuccess) {
    script.reply.Address = 0;
    script.reply.Status = 0;
    script.reply.RoundTripTime = 4;
    const ProbeResult result = send_echo(echo, 64, 1000);
    EXPECT_EQ(result.status, "unavailable");
    EXPECT_EQ(result.native_code, 0u);
    EXPECT_EQ(result.responder, "");
    EXPECT_EQ(result.rtt_ms, 0u);
}

TEST_F(Ipv4Echo, TimedOutReplyDropsTheAddressInTheBuffer) {
    script.reply.Address = address(10, 1, 2, 3);
    script.reply.Status = 11010;
    script.reply.RoundTripTime = 999;
    const ProbeResult result = send_echo(echo, 64, 1000);
    EXPECT_EQ(result.status, "timeout");
    EXPECT_EQ(result.native_code, 11010u);
    EXPECT_EQ(result.responder, "");
    EXPECT_EQ(result.rtt_ms, 0u);
}

TEST_F(Ipv4Echo, NoReplyTakesTheLastError) {
    script.count = 0;
    script.last_error = 11010;
    EXPECT_EQ(send_echo(echo, 64, 1000).status, "timeout");
    script.last_error = ERROR_NETWORK_UNREACHABLE;
    const ProbeResult result = send_echo(echo, 64, 1000);
    EXPECT_EQ(result.status, "unavailable");
    EXPECT_EQ(result.native_code, static_cast<std::uint32_t>(ERROR_NETWORK_UNREACHABLE));
}

TEST(EchoTargetLife, FailedOpenKeepsTheErrorAndNeverSends) {
    ScopedProbePlatform platform;
    platform.table().icmp_create_file = [] {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    };
    static int sends = 0;
    sends = 0;
    platform.table().icmp_send_echo2 = [](HANDLE, IPAddr, void*, WORD, IP_OPTION_INFORMATION*,
                                          void*, DWORD, DWORD) -> DWORD {
        ++sends;
        return 0;
    };
    EchoTarget echo = open_echo_target(parse_ip_literal("192.0.2.1"));
    EXPECT_EQ(echo.handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(echo.error, static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
    const ProbeResult result = send_echo(echo, 1, 100);
    EXPECT_EQ(result.status, "unavailable");
    EXPECT_EQ(result.native_code, static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(sends, 0);
    close_echo_target(echo);  // nothing open: nothing closed
}

TEST(EchoTargetLife, ClosesItsHandleOnce) {
    ScopedProbePlatform platform;
    static std::vector<HANDLE> closed;
    closed.clear();
    platform.table().icmp_create_file = [] { return fake_handle(); };
    platform.table().icmp_close_handle = [](HANDLE handle) {
        closed.push_back(handle);
        return TRUE;
    };
    EchoTarget echo = open_echo_target(parse_ip_literal("192.0.2.1"));
    close_echo_target(echo);
    close_echo_target(echo);
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0], fake_handle());
    EXPECT_EQ(echo.handle, INVALID_HANDLE_VALUE);
}

// IPv6: the route lookup gives the source, and the reply has the packed Windows layout.
struct Ipv6Script {
    DWORD route_result = NO_ERROR;
    int route_calls = 0;
    int creates = 0;
    int sends = 0;
    sockaddr_in6 sent_source{};
    sockaddr_in6 sent_destination{};
    UCHAR ttl = 0;
    std::vector<unsigned char> reply;  // raw bytes written to the reply buffer
};
Ipv6Script* ipv6_script = nullptr;

SOCKADDR_INET ipv6_source() { return parse_ip_literal("2001:db8:aa::5").address; }

class Ipv6Echo : public ::testing::Test {
  protected:
    void SetUp() override {
        ipv6_script = &script;
        auto& t = platform.table();
        t.get_best_route2 = [](const SOCKADDR_INET*, MIB_IPFORWARD_ROW2*,
                               SOCKADDR_INET* source) -> DWORD {
            ++ipv6_script->route_calls;
            if (ipv6_script->route_result != NO_ERROR) return ipv6_script->route_result;
            *source = ipv6_source();
            return NO_ERROR;
        };
        t.icmp6_create_file = [] {
            ++ipv6_script->creates;
            return fake_handle();
        };
        t.icmp_close_handle = [](HANDLE) { return TRUE; };
        t.icmp6_send_echo2 = [](HANDLE, sockaddr_in6* source, sockaddr_in6* destination, void*,
                                WORD, IP_OPTION_INFORMATION* options, void* reply, DWORD,
                                DWORD) -> DWORD {
            Ipv6Script& s = *ipv6_script;
            ++s.sends;
            s.sent_source = *source;
            s.sent_destination = *destination;
            s.ttl = options->Ttl;
            std::memcpy(reply, s.reply.data(), s.reply.size());
            return 1;
        };
    }
    void TearDown() override { ipv6_script = nullptr; }

    ScopedProbePlatform platform;
    Ipv6Script script;
};

// The reply as Windows lays it out: address bytes at offset 8 (port 2, flow info 4), status at
// 28, round-trip time at 32.
std::vector<unsigned char> windows_icmpv6_reply(const char* address, std::uint32_t status,
                                                std::uint32_t rtt) {
    std::vector<unsigned char> bytes(36, 0);
    IN6_ADDR parsed{};
    EXPECT_EQ(inet_pton(AF_INET6, address, &parsed), 1);
    std::memcpy(bytes.data() + 6, &parsed, 16);
    std::memcpy(bytes.data() + 28, &status, 4);
    std::memcpy(bytes.data() + 32, &rtt, 4);
    return bytes;
}

TEST_F(Ipv6Echo, SendsFromTheRouteSourceAndReadsThePackedReply) {
    script.reply = windows_icmpv6_reply("2001:db8:1::9", 11013, 31);
    EchoTarget echo = open_echo_target(parse_ip_literal("2001:DB8:ffff::1"));
    ASSERT_EQ(echo.error, 0u);
    const ProbeResult result = send_echo(echo, 3, 800);
    EXPECT_EQ(script.ttl, 3);
    EXPECT_EQ(address_to_text(AF_INET6, &script.sent_source.sin6_addr), "2001:db8:aa::5");
    EXPECT_EQ(address_to_text(AF_INET6, &script.sent_destination.sin6_addr), "2001:db8:ffff::1");
    EXPECT_EQ(result.status, "ttl_expired");
    EXPECT_EQ(result.native_code, 11013u);
    EXPECT_EQ(result.responder, "2001:db8:1::9");
    EXPECT_EQ(result.rtt_ms, 31u);
    close_echo_target(echo);
}

TEST_F(Ipv6Echo, ZeroAddressReplyIsUnavailable) {
    script.reply = windows_icmpv6_reply("::", 0, 5);
    EchoTarget echo = open_echo_target(parse_ip_literal("2001:db8:ffff::1"));
    const ProbeResult result = send_echo(echo, 64, 800);
    EXPECT_EQ(result.status, "unavailable");
    EXPECT_EQ(result.responder, "");
    close_echo_target(echo);
}

TEST_F(Ipv6Echo, FailedRouteLookupNeverOpensOrSends) {
    script.route_result = ERROR_NOT_FOUND;
    EchoTarget echo = open_echo_target(parse_ip_literal("2001:db8:ffff::1"));
    EXPECT_EQ(echo.error, static_cast<std::uint32_t>(ERROR_NOT_FOUND));
    EXPECT_EQ(echo.handle, INVALID_HANDLE_VALUE);
    for (std::uint8_t ttl : {std::uint8_t{1}, std::uint8_t{2}, std::uint8_t{64}}) {
        const ProbeResult result = send_echo(echo, ttl, 800);
        EXPECT_EQ(result.status, "unavailable");
        EXPECT_EQ(result.native_code, static_cast<std::uint32_t>(ERROR_NOT_FOUND));
        EXPECT_EQ(result.responder, "");
        EXPECT_EQ(result.rtt_ms, 0u);
    }
    EXPECT_EQ(script.route_calls, 1);
    EXPECT_EQ(script.creates, 0);
    EXPECT_EQ(script.sends, 0);
    close_echo_target(echo);
}

// The probe's socket is closed however the probe ends, also when an option call throws.
SOCKET thrown_from = INVALID_SOCKET;

TEST(TcpProbeSocket, ClosedWhenAnOptionCallThrows) {
    ScopedProbePlatform platform;
    thrown_from = INVALID_SOCKET;
    platform.table().set_socket_option = [](SOCKET socket, int, int, const char*, int) -> int {
        thrown_from = socket;
        throw std::bad_alloc();
    };
    EXPECT_THROW(tcp_connect_probe(parse_ip_literal("127.0.0.1"), 64, 100), std::bad_alloc);
    ASSERT_NE(thrown_from, INVALID_SOCKET);
    int type = 0;
    int length = sizeof type;
    EXPECT_EQ(getsockopt(thrown_from, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length),
              SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

}  // namespace
}  // namespace tarvisko
