// Real probes inside the namespace network of tools/netns/run.sh (client, three routers, target):
// ICMP echoes and TCP connects to loopback, through the routers, into a blackhole and into an
// unreachable route. Wine lacks the TCP option that fails a connect on an ICMP error; these tests
// replace only that setsockopt entry, so socket, connect, select and SO_ERROR stay real.
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/common/address.h"
#include "engine/common/handle_guard.h"
#include "tests/engine/probes/probe_fixture.h"

namespace tarvisko {
namespace {

using test::ScopedProbePlatform;

const auto* const winsock = ::testing::AddGlobalTestEnvironment(new test::WinsockEnvironment);

std::string network(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        ADD_FAILURE() << name << " is not set: run this test through tools/netns/run.sh";
        return "127.0.0.1";
    }
    return value;
}

std::string router(int k) { return network(("TARVISKO_NETNS_ROUTER" + std::to_string(k)).c_str()); }

ProbeResult echo_once(const std::string& address, std::uint8_t ttl, std::uint32_t timeout_ms) {
    EchoTarget echo = open_echo_target(parse_ip_literal(address));
    EXPECT_EQ(echo.error, 0u) << "opening an echo channel to " << address;
    const ProbeResult result = send_echo(echo, ttl, timeout_ms);
    close_echo_target(echo);
    return result;
}

TEST(RealEcho, LoopbackAnswers) {
    const ProbeResult result = echo_once("127.0.0.1", 64, 2000);
    EXPECT_EQ(result.status, "echo_reply");
    EXPECT_EQ(result.native_code, 0u);
    EXPECT_EQ(result.responder, "127.0.0.1");
    EXPECT_LT(result.rtt_ms, 2000u);
}

TEST(RealEcho, TargetAnswersBehindThreeRouters) {
    const std::string target = network("TARVISKO_NETNS_TARGET");
    const ProbeResult result = echo_once(target, 64, 2000);
    EXPECT_EQ(result.status, "echo_reply");
    EXPECT_EQ(result.responder, target);
}

TEST(RealEcho, EachTtlExpiresAtItsRouter) {
    const std::string target = network("TARVISKO_NETNS_TARGET");
    EchoTarget echo = open_echo_target(parse_ip_literal(target));
    ASSERT_EQ(echo.error, 0u);
    for (int ttl = 1; ttl <= 3; ++ttl) {
        SCOPED_TRACE("TTL " + std::to_string(ttl));
        const ProbeResult result = send_echo(echo, static_cast<std::uint8_t>(ttl), 2000);
        EXPECT_EQ(result.status, "ttl_expired");
        EXPECT_EQ(result.native_code, 11013u);
        EXPECT_EQ(result.responder, router(ttl));
        EXPECT_LT(result.rtt_ms, 2000u);
    }
    close_echo_target(echo);
}

TEST(RealEcho, UnreachableRouteIsAnsweredByTheRouter) {
    const ProbeResult result = echo_once(network("TARVISKO_NETNS_UNREACHABLE"), 64, 2000);
    EXPECT_EQ(result.status, "unreachable");
    EXPECT_EQ(result.native_code, 11003u);
    EXPECT_EQ(result.responder, router(3));
}

TEST(RealEcho, BlackholeTimesOutWithoutResponder) {
    const ProbeResult result = echo_once(network("TARVISKO_NETNS_BLACKHOLE"), 64, 400);
    EXPECT_EQ(result.status, "timeout");
    EXPECT_EQ(result.native_code, 11010u);
    EXPECT_EQ(result.responder, "");
    EXPECT_EQ(result.rtt_ms, 0u);
}

TEST(RealEcho, Ipv6EchoWithoutRouteLookupIsUnavailable) {
    // Wine's GetBestRoute2 is a stub: the real path must report it, never send, never throw.
    EchoTarget echo = open_echo_target(parse_ip_literal(network("TARVISKO_NETNS_TARGET6")));
    const ProbeResult result = send_echo(echo, 64, 500);
    if (echo.error != 0) {
        EXPECT_EQ(echo.handle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(result.status, "unavailable");
        EXPECT_EQ(result.native_code, echo.error);
    } else {
        EXPECT_EQ(result.status, "echo_reply");  // a Windows with working ICMPv6
    }
    close_echo_target(echo);
}

// Accepts the option Wine rejects; every other option goes to the real setsockopt.
int accept_fail_on_icmp(SOCKET socket, int level, int name, const char* value, int length) {
    if (level == IPPROTO_TCP && name == tcp_fail_connect_on_icmp_error) return 0;
    return real_probe_platform().set_socket_option(socket, level, name, value, length);
}

class RealTcp : public ::testing::Test {
  protected:
    void SetUp() override { platform.table().set_socket_option = accept_fail_on_icmp; }
    ScopedProbePlatform platform;
};

void close_listener(SOCKET socket) { close_socket(socket); }

// A listener on port 443 of the namespace's own loopback.
HandleGuard<SOCKET> listen_on_443() {
    HandleGuard<SOCKET> listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), close_listener,
                                 INVALID_SOCKET);
    EXPECT_TRUE(listener.valid());
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(443);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
        << WSAGetLastError();
    EXPECT_EQ(listen(listener.get(), 4), 0) << WSAGetLastError();
    return listener;
}

TEST_F(RealTcp, LoopbackListenerConnects) {
    HandleGuard<SOCKET> listener = listen_on_443();
    const ProbeResult result = tcp_connect_probe(parse_ip_literal("127.0.0.1"), 64, 2000);
    EXPECT_EQ(result.status, "tcp_connected");
    EXPECT_EQ(result.native_code, 0u);
    EXPECT_EQ(result.responder, "127.0.0.1");
    EXPECT_LT(result.rtt_ms, 2000u);
}

TEST_F(RealTcp, ClosedPortIsRefusedByTheHost) {
    for (const std::string& address : {std::string("127.0.0.1"), network("TARVISKO_NETNS_TARGET"),
                                       std::string("::1"), network("TARVISKO_NETNS_TARGET6")}) {
        SCOPED_TRACE(address);
        const ProbeResult result = tcp_connect_probe(parse_ip_literal(address), 64, 2000);
        EXPECT_EQ(result.status, "tcp_refused");
        EXPECT_EQ(result.native_code, 10061u);
        EXPECT_EQ(result.responder, address);
        EXPECT_LT(result.rtt_ms, 2000u);
    }
}

TEST_F(RealTcp, SilentPathTimesOut) {
    const ProbeResult result =
        tcp_connect_probe(parse_ip_literal(network("TARVISKO_NETNS_BLACKHOLE")), 64, 300);
    EXPECT_EQ(result.status, "timeout");
    EXPECT_EQ(result.native_code, 10060u);
    EXPECT_EQ(result.responder, "");
    EXPECT_EQ(result.rtt_ms, 0u);
}

TEST_F(RealTcp, SmallTtlFailsTheConnectAtTheRouter) {
    const ProbeResult result =
        tcp_connect_probe(parse_ip_literal(network("TARVISKO_NETNS_TARGET")), 1, 2000);
    if (result.status == "unavailable") {
        // Wine: the connect really fails with "host unreachable", but the ICMP error information
        // cannot be read, so the router stays unknown.
        EXPECT_EQ(result.native_code, 10065u);
        EXPECT_EQ(result.responder, "");
    } else {
        EXPECT_EQ(result.status, "ttl_expired");
        EXPECT_EQ(result.responder, router(1));
    }
}

// What TCP_ICMP_ERROR_INFO says for the next connect; SO_ERROR and all else stay real.
struct InfoScript {
    bool fails = false;
    int length = sizeof(IcmpErrorInfo);
    IcmpErrorInfo info{};
};
InfoScript info_script;

int scripted_error_info(SOCKET socket, int level, int name, char* value, int* length) {
    if (level != IPPROTO_TCP || name != tcp_icmp_error_info) {
        return real_probe_platform().get_socket_option(socket, level, name, value, length);
    }
    if (info_script.fails) {
        WSASetLastError(WSAENOPROTOOPT);
        return SOCKET_ERROR;
    }
    std::memcpy(value, &info_script.info, sizeof info_script.info);
    *length = info_script.length;
    return 0;
}

SOCKADDR_INET sender(const std::string& address) { return parse_ip_literal(address).address; }

struct InfoCase {
    const char* name;
    bool ipv6;
    bool fails;
    int length;
    bool other_family;
    std::uint8_t type;
    std::uint8_t code;
    const char* status;
};

TEST_F(RealTcp, IcmpErrorInformationDecidesTheStatus) {
    platform.table().get_socket_option = scripted_error_info;
    const InfoCase cases[] = {
        {"v4 time exceeded", false, false, 36, false, 11, 0, "ttl_expired"},
        {"v4 reassembly time exceeded", false, false, 36, false, 11, 1, "unavailable"},
        {"v4 host unreachable", false, false, 36, false, 3, 1, "unreachable"},
        {"v4 admin prohibited", false, false, 36, false, 3, 13, "unreachable"},
        {"v4 ICMPv6 numbers", false, false, 36, false, 1, 0, "unavailable"},
        {"v4 source quench", false, false, 36, false, 4, 0, "unavailable"},
        {"v4 sender of the other family", false, false, 36, true, 11, 0, "unavailable"},
        {"v4 empty information", false, false, 0, false, 11, 0, "unavailable"},
        {"v4 information unreadable", false, true, 36, false, 11, 0, "unavailable"},
        {"v6 time exceeded", true, false, 36, false, 3, 0, "ttl_expired"},
        {"v6 unreachable", true, false, 36, false, 1, 3, "unreachable"},
        {"v6 IPv4 numbers", true, false, 36, false, 11, 0, "unavailable"},
    };
    for (const InfoCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string target =
            network(c.ipv6 ? "TARVISKO_NETNS_TARGET6" : "TARVISKO_NETNS_TARGET");
        const std::string hop =
            network(c.ipv6 ? "TARVISKO_NETNS_ROUTER1_6" : "TARVISKO_NETNS_ROUTER1");
        info_script = InfoScript{};
        info_script.fails = c.fails;
        info_script.length = c.length;
        info_script.info.srcaddress =
            c.other_family ? sender(c.ipv6 ? "10.200.0.2" : "fd00:200::2") : sender(hop);
        info_script.info.protocol = c.ipv6 ? IPPROTO_ICMPV6 : IPPROTO_ICMP;
        info_script.info.type = c.type;
        info_script.info.code = c.code;
        // A real connect that a real router fails with TTL 1.
        const ProbeResult result = tcp_connect_probe(parse_ip_literal(target), 1, 2000);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.native_code, 10065u);
        const bool answered = std::string(c.status) != "unavailable";
        EXPECT_EQ(result.responder, answered ? hop : "");
        if (!answered) {
            EXPECT_EQ(result.rtt_ms, 0u);
        }
        EXPECT_LT(result.rtt_ms, 2000u);
    }
}

TEST(RealTcpUnpatched, WineRejectsTheIcmpErrorOption) {
    // The product's own path under Wine: setsockopt(TCP_FAIL_CONNECT_ON_ICMP_ERROR) fails, so the
    // probe reports "unavailable" with that error instead of guessing.
    const ProbeResult result = tcp_connect_probe(parse_ip_literal("127.0.0.1"), 64, 1000);
    if (result.status == "unavailable") {
        EXPECT_EQ(result.native_code, 10042u);
    } else {
        EXPECT_EQ(result.status, "tcp_refused");  // Windows, where the option exists
    }
}

}  // namespace
}  // namespace tarvisko
