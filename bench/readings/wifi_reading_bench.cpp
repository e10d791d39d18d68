// Prints what a detailed Wi-Fi reading costs on this machine, beside a bare loop that only walks
// the same network list: its entries, and the information elements of each.
// The WLAN service is the test fake, which confirms the scan at once and hands out lists of 300
// and 1,024 access points (an apartment block's, the own access point first); the UPnP finder
// is absent, as under Wine. Also printed: the quick reading, the fake's own cost of handing out
// the list, and a bare thread start, which the fake's scan confirmation pays.
//   tools/wine/run-test build/bench/readings/wifi_reading_bench.exe
#include <windows.h>
#include <wlanapi.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "readings/wifi_reading.h"
#include "support/wifi_fixtures.h"
#include "support/wlan_fake.h"
#include "wifi_bench_scenes.h"
#include "bench_timing.h"

using namespace tarvisko;
using bench::median_us;
using bench::report;

namespace {

HRESULT no_upnp_finder(IUPnPDeviceFinder** finder) {
    *finder = nullptr;
    return REGDB_E_CLASSNOTREG;
}

// The entries of the list and the elements of each, walked as the reading walks them.
std::int64_t walk_list(const test::Bytes& list) {
    std::int64_t sink = 0;
    DWORD total = 0;
    DWORD count = 0;
    std::memcpy(&total, list.data(), 4);
    std::memcpy(&count, list.data() + 4, 4);
    for (std::size_t i = 0; i < count && 8 + (i + 1) * sizeof(WLAN_BSS_ENTRY) <= total; ++i) {
        const std::size_t at = 8 + i * sizeof(WLAN_BSS_ENTRY);
        WLAN_BSS_ENTRY entry;
        std::memcpy(&entry, list.data() + at, sizeof entry);
        sink += entry.lRssi + entry.dot11Bssid[5];
        if (std::uint64_t{at} + entry.ulIeOffset + entry.ulIeSize > total) continue;
        const std::uint8_t* elements = list.data() + at + entry.ulIeOffset;
        std::size_t pos = 0;
        while (entry.ulIeSize - pos >= 2) {
            const std::size_t length = elements[pos + 1];
            if (length > entry.ulIeSize - pos - 2) break;
            sink += elements[pos];
            pos += 2 + length;
        }
    }
    return sink;
}

void measure(std::size_t count) {
    const std::vector<test::BssEntry> entries = bench::apartment_block(count);
    const test::Bytes list = test::bss_list(entries);

    test::FakeWlan wlan;
    test::FakeWlanInterface item = test::connected_wlan_interface(
        1, test::wlan_connection(entries[0].ssid, entries[0].bssid), -45, 1);
    item.bss_list = {ERROR_SUCCESS, list};
    wlan.interfaces = {item};
    wlan.scan_notifications = {test::FakeScanNotification{}};
    WifiCalls calls;
    calls.wlan = &wlan.api();
    calls.gateways = [](const WLAN_INTERFACE_INFO&) { return WifiGateways{L"192.168.1.1", L""}; };
    calls.upnp_finder = &no_upnp_finder;

    std::size_t rows = 0;
    const double reading =
        median_us(30, [&] { rows += read_wifi_environment(true, calls).table.rows.size(); });
    std::int64_t sink = 0;
    const double walk = median_us(30, [&] { sink += walk_list(list); });
    const double quick =
        median_us(30, [&] { sink += read_wifi_environment(false, calls).table.rows.size(); });
    const double handout = median_us(30, [&] {
        HANDLE handle = nullptr;
        DWORD negotiated = 0;
        wlan.api().open_handle(2, nullptr, &negotiated, &handle);
        WLAN_BSS_LIST* copy = nullptr;
        wlan.api().get_network_bss_list(handle, &item.guid, nullptr, dot11_BSS_type_any, FALSE,
                                        nullptr, &copy);
        sink += copy->dwNumberOfItems;
        wlan.api().free_memory(copy);
        wlan.api().close_handle(handle, nullptr);
    });
    std::printf("list of %zu entries, %zu bytes (rows %zu, checksum %lld)\n", count, list.size(),
                rows / 30, static_cast<long long>(sink));
    char name[64];
    std::snprintf(name, sizeof name, "detailed reading, %zu entries", count);
    report(name, reading, "bare walk over entries and elements", walk);
    std::printf("%-44s %10.1f us\n", "quick reading (no scan, no rating)", quick);
    std::printf("%-44s %10.1f us\n", "the fake's hand-out of the list alone", handout);
    // The fake confirms each scan from a thread of its own: under Wine starting and joining a
    // thread is most of what the detailed reading costs here.
    const double thread = median_us(30, [] { std::thread([] {}).join(); });
    std::printf("%-44s %10.1f us\n", "one thread started and joined, for scale", thread);
    if (wlan.outstanding_replies() != 0 || wlan.open_handles() != 0) {
        std::printf("the reading left WLAN replies or handles behind\n");
    }
}

}  // namespace

int main() {
    measure(300);
    measure(1024);
    return 0;
}
