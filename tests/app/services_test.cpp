// The product's service table: an empty entry is a start or a button that silently does nothing,
// so every entry must hold a function.
#include "app/services.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <string>

namespace tarvisko {
namespace {

struct Entry {
    const char* name;
    bool (*filled)(const AppServices& services);
};

// clang-format off
#define SERVICE_ENTRY(member) \
    Entry { #member, [](const AppServices& s) { return static_cast<bool>(s.member); } }
// clang-format on

constexpr Entry entries[] = {
    SERVICE_ENTRY(run_desktop_test),
    SERVICE_ENTRY(run_target_probe),
    SERVICE_ENTRY(computer_state_view),
    SERVICE_ENTRY(lan_devices_view),
    SERVICE_ENTRY(read_wifi_environment),
    SERVICE_ENTRY(resolve_router_panel),
    SERVICE_ENTRY(resolve_ptr_names),
    SERVICE_ENTRY(create_traffic_view),
    SERVICE_ENTRY(start_traffic_counter),
    SERVICE_ENTRY(arm_traffic_counter),
    SERVICE_ENTRY(stop_traffic_counter),
    SERVICE_ENTRY(build_traffic_table),
    SERVICE_ENTRY(load_release_description),
    SERVICE_ENTRY(install_update),
    SERVICE_ENTRY(sweep_update_staging),
    SERVICE_ENTRY(refresh_game_catalog_job),
    SERVICE_ENTRY(throughput_report_text),
    SERVICE_ENTRY(diagnostic_report_text),
    SERVICE_ENTRY(export_report),
    SERVICE_ENTRY(compare_mtr_runs),
    SERVICE_ENTRY(open_archived_report),
    SERVICE_ENTRY(shell_execute),
    SERVICE_ENTRY(start_job_thread),
};

#undef SERVICE_ENTRY

// Every entry is a std::function, and they all have the same size: a member added to the table
// and not to the list above stops this file from compiling.
static_assert(std::size(entries) * sizeof(std::function<void()>) == sizeof(AppServices),
              "an AppServices member is missing from the list of entries");

TEST(ProductServices, EveryEntryHoldsAFunction) {
    const AppServices product = product_services();
    for (const Entry& entry : entries) EXPECT_TRUE(entry.filled(product)) << entry.name;
    // The program's own table starts as the product's.
    const AppServices& program = app_services();
    for (const Entry& entry : entries) EXPECT_TRUE(entry.filled(program)) << entry.name;
}

}  // namespace
}  // namespace tarvisko
