// The computer, LAN and reverse DNS readings on a real network: a client, one router and a
// target with a TCP sink (tools/netns/tcp-sink on port 9000), built by tools/netns/run.sh. The
// client's resolver is 127.0.0.1, where only this test may listen.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "engine/common/text.h"
#include "engine/common/winsock_session.h"
#include "readings/computer_state.h"
#include "readings/lan_devices.h"
#include "readings/reverse_dns.h"

namespace tarvisko {
namespace {

using namespace std::chrono_literals;

constexpr std::uint16_t kSinkPort = 9000;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

class Socket {
  public:
    explicit Socket(SOCKET s = INVALID_SOCKET) : s_(s) {}
    ~Socket() {
        if (s_ != INVALID_SOCKET) closesocket(s_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET get() const { return s_; }

  private:
    SOCKET s_;
};

// A connection to the sink on the target; the sink starts beside the test, so try for a while.
SOCKET connect_to_sink() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kSinkPort);
    inet_pton(AF_INET, environment("TARVISKO_NETNS_TARGET").c_str(), &address.sin_addr);
    const auto give_up = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < give_up) {
        const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return s;
        closesocket(s);
        std::this_thread::sleep_for(200ms);
    }
    return INVALID_SOCKET;
}

// Sends `count` bytes, ends the sending side and waits for the sink's count of what arrived.
bool send_and_confirm(SOCKET s, std::size_t count) {
    const std::vector<char> block(64 * 1024, 'x');
    for (std::size_t sent = 0; sent < count;) {
        const int piece = static_cast<int>(std::min(block.size(), count - sent));
        const int written = send(s, block.data(), piece, 0);
        if (written <= 0) return false;
        sent += static_cast<std::size_t>(written);
    }
    shutdown(s, SD_SEND);
    std::string reply;
    char buffer[64];
    for (int got; (got = recv(s, buffer, sizeof buffer, 0)) > 0;) reply.append(buffer, got);
    return reply == std::to_string(count);
}

TEST(ComputerStateReading, SendRateOfTheOneAdapterCoversTheBytesSentInTheWindow) {
    WinsockSession winsock;
    Socket sink(connect_to_sink());
    ASSERT_NE(sink.get(), INVALID_SOCKET);

    // The bytes go out while the reading waits between its two snapshots: the sleep of the
    // window first sends them (and waits for the sink to confirm), then sleeps as asked.
    constexpr std::size_t kBytes = 4'000'000;
    std::vector<std::chrono::steady_clock::time_point> times;
    bool sent = false;
    bool confirmed = false;
    const ReadingClock clock{[&] {
                                 times.push_back(std::chrono::steady_clock::now());
                                 return times.back();
                             },
                             [&](std::chrono::milliseconds span) {
                                 if (!sent) {
                                     sent = true;
                                     confirmed = send_and_confirm(sink.get(), kBytes);
                                 }
                                 std::this_thread::sleep_for(span);
                             }};
    const TableModel model = computer_state_view({}, clock);
    ASSERT_TRUE(confirmed);
    const double seconds = std::chrono::duration<double>(times.back() - times.front()).count();
    EXPECT_GE(seconds, 0.6);

    for (const TableRow& row : model.rows) {
        std::printf("%s | %s\n", to_utf8(row.cells[0]).c_str(), to_utf8(row.cells[1]).c_str());
    }
    // Memory, processor and exactly one adapter: the client's link; the loopback is left out.
    ASSERT_EQ(model.rows.size(), 3u);
    EXPECT_TRUE(model.rows[1].cells[1].ends_with(L" %")) << to_utf8(model.rows[1].cells[1]);
    const std::wstring& label = model.rows[2].cells[0];
    EXPECT_TRUE(label.starts_with(L"Ruch · ")) << to_utf8(label);
    std::wstring value = model.rows[2].cells[1];
    ASSERT_TRUE(value.ends_with(L" Mb/s")) << to_utf8(value);
    for (wchar_t& c : value) {
        if (c == L',') c = L'.';
    }
    const std::size_t slash = value.find(L" / ");
    ASSERT_NE(slash, std::wstring::npos);
    const double send_mbps = std::stod(value.substr(slash + 3));
    // The cell keeps one decimal of Mb/s: allow its rounding, then TCP/IP and link headers.
    const double rounding = 0.05 * 1e6 / 8 * seconds;
    const double bytes_out = send_mbps * 1e6 / 8 * seconds;
    EXPECT_GE(bytes_out + rounding, static_cast<double>(kBytes));
    EXPECT_LE(bytes_out, kBytes * 1.10 + 65536 + rounding);
}

DWORD WINAPI ipv4_neighbors(ADDRESS_FAMILY, PMIB_IPNET_TABLE2* table) {
    return GetIpNetTable2(AF_INET, table);
}

TEST(LanDevicesReading, WineRefusesBothFamiliesAndTheIpv4TableShowsTheRouter) {
    WinsockSession winsock;
    // Wine answers GetIpNetTable2 for both families with 1.
    const TableModel refused = lan_devices_view();
    ASSERT_EQ(refused.rows.size(), 1u);
    EXPECT_EQ(refused.rows[0].cells, std::vector<std::wstring>{L"Brak odczytu"});
    EXPECT_EQ(refused.rows[0].detail, L"GetIpNetTable2 · kod Windows 1");

    // Traffic through router 1 puts it into the neighbour table.
    {
        Socket sink(connect_to_sink());
        ASSERT_NE(sink.get(), INVALID_SOCKET);
        ASSERT_TRUE(send_and_confirm(sink.get(), 1000));
    }
    MIB_IPNET_TABLE2* raw = nullptr;
    ASSERT_EQ(GetIpNetTable2(AF_INET, &raw), NO_ERROR);
    // Wine lists the multicast groups of the link too, without a hardware address.
    int multicast_entries = 0;
    for (ULONG i = 0; i < raw->NumEntries; ++i) {
        const MIB_IPNET_ROW2& row = raw->Table[i];
        std::printf("neighbour %s state %d length %lu first byte %02X\n",
                    to_utf8(address_text(row.Address)).c_str(), static_cast<int>(row.State),
                    row.PhysicalAddressLength, row.PhysicalAddress[0]);
        const auto first_byte =
            reinterpret_cast<const std::uint8_t*>(&row.Address.Ipv4.sin_addr)[0];
        if (first_byte >= 224 && first_byte <= 239) ++multicast_entries;
    }
    FreeMibTable(raw);

    IpTableCalls calls = windows_ip_table_calls();
    calls.get_ip_net_table2 = &ipv4_neighbors;
    const TableModel model = lan_devices_view(calls);
    const std::wstring router = to_wide(environment("TARVISKO_NETNS_ROUTER1"));
    int router_rows = 0;
    for (const TableRow& row : model.rows) {
        std::string line;
        for (const std::wstring& cell : row.cells) line += to_utf8(cell) + " | ";
        std::printf("%s\n", line.c_str());
        ASSERT_EQ(row.cells.size(), 6u);
        // No multicast entry: every row has an individual hardware address.
        EXPECT_EQ(std::stoi(row.cells[1].substr(0, 2), nullptr, 16) & 0x01, 0);
        EXPECT_FALSE(row.cells[0].starts_with(L"224.") || row.cells[0].starts_with(L"239."));
        if (row.cells[0] != router) continue;
        ++router_rows;
        EXPECT_EQ(row.cells[2], L"Brak w pamięci DNS");
        EXPECT_EQ(row.cells[3], L"Nieustalony");
        EXPECT_EQ(row.cells[4], L"Brama / router");
        EXPECT_EQ(row.cells[5], L"—");
    }
    EXPECT_EQ(router_rows, 1);
    EXPECT_GT(multicast_entries, 0);
}

// Listens where the client's resolver is and refuses every query, counting them.
class RefusingResolver {
  public:
    RefusingResolver() {
        socket_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(53);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bound_ = bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        DWORD timeout = 100;
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                   sizeof timeout);
        thread_ = std::thread([this] { serve(); });
    }
    ~RefusingResolver() {
        ending_ = true;
        thread_.join();
        closesocket(socket_);
    }
    bool bound() const { return bound_; }
    int queries() const { return queries_; }

  private:
    void serve() {
        char packet[512];
        while (!ending_) {
            sockaddr_in from{};
            int from_length = sizeof from;
            const int got = recvfrom(socket_, packet, sizeof packet, 0,
                                     reinterpret_cast<sockaddr*>(&from), &from_length);
            if (got < 12) continue;
            ++queries_;
            packet[2] = static_cast<char>(packet[2] | 0x80);        // a response
            packet[3] = static_cast<char>((packet[3] & 0xF0) | 5);  // REFUSED
            sendto(socket_, packet, got, 0, reinterpret_cast<sockaddr*>(&from), from_length);
        }
    }

    SOCKET socket_ = INVALID_SOCKET;
    bool bound_ = false;
    std::atomic<bool> ending_{false};
    std::atomic<int> queries_{0};
    std::thread thread_;
};

TEST(ReverseDnsReading, RealBackendGivesTheNotes) {
    WinsockSession winsock;
    RefusingResolver resolver;
    ASSERT_TRUE(resolver.bound());
    const std::string router = environment("TARVISKO_NETNS_ROUTER1");
    const ResponderNameMap names = resolve_ptr_names({"11.22.33.44", router, "abc"}, {});
    EXPECT_EQ(names.at("11.22.33.44"),
              (ResponderName{L"", L"Nie udało się odczytać PTR z resolvera DNS."}));
    EXPECT_EQ(names.at(router),
              (ResponderName{L"", L"Brak lokalnej nazwy PTR w pamięci DNS Windows."}));
    EXPECT_EQ(names.at("abc"), (ResponderName{L"", L"Adres bez obsługi reverse DNS."}));
    // Under Wine the cache-only look-up of the private address still asks the resolver (which
    // is why no test may look a name up outside a namespace of its own).
    EXPECT_GT(resolver.queries(), 0);
}

}  // namespace
}  // namespace tarvisko
