// Prints how long the inventory readers take on this machine: reading a vendor list as large as
// the public one (40,000 lines), taking it from the cache, refusing one above the size cap, and
// collecting each reading.
//   tools/wine/run-test build/bench/inventory/inventory_bench.exe
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "engine/common/ids.h"
#include "engine/inventory/interface_counters.h"
#include "engine/inventory/interfaces.h"
#include "engine/inventory/neighbors_routes.h"
#include "engine/inventory/oui_registry.h"
#include "engine/inventory/system_description.h"

using namespace tarvisko;

namespace {

// Median and worst of `rounds` runs, in milliseconds.
void measure(const char* name, int rounds, const std::function<void()>& body) {
    const std::vector<double> times = bench::run_times_us(rounds, body);
    std::printf("%-34s median %9.3f ms   max %9.3f ms   (%d runs)\n", name,
                bench::median(times) / 1000.0,
                *std::max_element(times.begin(), times.end()) / 1000.0, rounds);
}

}  // namespace

int main() {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("tarvisko-oui-bench-" + new_uuid_text() + ".txt");
    {
        std::ofstream out(file, std::ios::binary);
        for (std::uint32_t i = 0; i < 40000; ++i) {
            char line[96];
            std::snprintf(line, sizeof line, "%06X\tVendor %u Networking Equipment Sp. z o.o.\n",
                          i * 419, i);
            out << line;
        }
    }
    SetEnvironmentVariableW(L"QUORVEL_OUI_FILE", file.wstring().c_str());
    std::printf("vendor file: 40000 lines, %llu bytes\n",
                static_cast<unsigned long long>(std::filesystem::file_size(file)));

    const std::vector<std::uint8_t> key(32, 0x42);
    std::size_t sink = 0;
    // The file is read once per run; every later reading takes the registry from the cache.
    measure("read_oui_registry (40000 lines)", 20,
            [&] { sink += read_oui_registry(file.wstring()).vendors.size(); });
    measure("load_oui_registry (cached)", 20, [&] { sink += load_oui_registry()->vendors.size(); });
    // A file above the cap is refused by its size, before a byte of it is read.
    const std::filesystem::path huge = std::filesystem::path(file).replace_extension(".huge.txt");
    std::ofstream(huge, std::ios::binary).close();
    std::filesystem::resize_file(huge, 100u * 1024 * 1024);
    measure("read_oui_registry (100 MiB, refused)", 20,
            [&] { sink += read_oui_registry(huge.wstring()).too_large ? 1 : 0; });
    measure("collect_system", 50, [&] { sink += collect_system().size(); });
    measure("snapshot_interface_counters", 50,
            [&] { sink += snapshot_interface_counters().rows.size(); });
    measure("collect_routes", 50, [&] { sink += collect_routes().size(); });
    measure("collect_neighbors", 20, [&] {
        nlohmann::json inventory = nlohmann::json::object();
        collect_neighbors(inventory, key);
        sink += inventory.size();
    });
    measure("adapter_driver_versions", 50, [&] { sink += adapter_driver_versions().size(); });
    const InterfaceCounterSnapshot first = snapshot_interface_counters();
    const InterfaceCounterSnapshot second = snapshot_interface_counters();
    measure("collect_interfaces", 50, [&] {
        nlohmann::json inventory = nlohmann::json::object();
        collect_interfaces(inventory, key, first, second);
        sink += inventory.size();
    });

    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    std::filesystem::remove(huge, ignored);
    return sink == 0 ? 1 : 0;
}
