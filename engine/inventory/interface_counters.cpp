#include "engine/inventory/interface_counters.h"

#include <chrono>
#include <string>

#include "engine/common/envelope.h"
#include "engine/common/handle_guard.h"

namespace tarvisko {

namespace {

constexpr std::uint64_t kUnknownSpeed = ~std::uint64_t{0};

std::int64_t steady_now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool link_speeds_known(const MIB_IF_ROW2& row) {
    return row.OperStatus == IfOperStatusUp && row.ReceiveLinkSpeed != 0 &&
           row.ReceiveLinkSpeed != kUnknownSpeed && row.TransmitLinkSpeed != 0 &&
           row.TransmitLinkSpeed != kUnknownSpeed;
}

nlohmann::json link_of(const MIB_IF_ROW2& row) {
    if (!link_speeds_known(row)) return json_unavailable("link_down_or_speed_unknown");
    return json_value_ok({{"rx_bps", static_cast<std::uint64_t>(row.ReceiveLinkSpeed)},
                          {"tx_bps", static_cast<std::uint64_t>(row.TransmitLinkSpeed)}});
}

nlohmann::json counters_of(const MIB_IF_ROW2& row) {
    return json_value_ok({{"rx_bytes", static_cast<std::uint64_t>(row.InOctets)},
                          {"tx_bytes", static_cast<std::uint64_t>(row.OutOctets)},
                          {"rx_errors", static_cast<std::uint64_t>(row.InErrors)},
                          {"tx_errors", static_cast<std::uint64_t>(row.OutErrors)},
                          {"rx_discards", static_cast<std::uint64_t>(row.InDiscards)},
                          {"tx_discards", static_cast<std::uint64_t>(row.OutDiscards)}});
}

nlohmann::json traffic_of(const MIB_IF_ROW2* before, const MIB_IF_ROW2& after,
                          std::int64_t interval_ns, bool link_ok) {
    const std::int64_t interval_ms = interval_ns / 1'000'000;
    if (before == nullptr || before->OperStatus != IfOperStatusUp ||
        after.OperStatus != IfOperStatusUp || after.InOctets < before->InOctets ||
        after.OutOctets < before->OutOctets || interval_ms <= 0) {
        return json_unavailable("inactive_or_incomparable_counters");
    }
    const auto received = static_cast<std::uint64_t>(after.InOctets - before->InOctets);
    const auto sent = static_cast<std::uint64_t>(after.OutOctets - before->OutOctets);
    const double rx_bps = static_cast<double>(received) * 8000.0 / static_cast<double>(interval_ms);
    const double tx_bps = static_cast<double>(sent) * 8000.0 / static_cast<double>(interval_ms);
    nlohmann::json traffic = nlohmann::json::object();
    traffic["interval_ms"] = interval_ms;
    traffic["rx_bps"] = rx_bps;
    traffic["tx_bps"] = tx_bps;
    if (link_ok) {
        traffic["rx_utilization_pct"] =
            json_value_ok(rx_bps * 100.0 / static_cast<double>(after.ReceiveLinkSpeed));
        traffic["tx_utilization_pct"] =
            json_value_ok(tx_bps * 100.0 / static_cast<double>(after.TransmitLinkSpeed));
    } else {
        traffic["rx_utilization_pct"] = json_unavailable("link_speed_unknown");
        traffic["tx_utilization_pct"] = json_unavailable("link_speed_unknown");
    }
    return json_value_ok(std::move(traffic));
}

}  // namespace

InterfaceCounterSnapshot make_counter_snapshot(std::uint32_t status,
                                               std::span<const MIB_IF_ROW2> rows,
                                               std::int64_t taken_at) {
    InterfaceCounterSnapshot snapshot;
    snapshot.status = status;
    snapshot.taken_at = taken_at;
    if (status == NO_ERROR) {
        for (const MIB_IF_ROW2& row : rows) snapshot.rows.emplace(row.InterfaceLuid.Value, row);
    }
    return snapshot;
}

InterfaceCounterSnapshot snapshot_interface_counters(const IpTableCalls& calls) {
    MIB_IF_TABLE2* table = nullptr;
    const DWORD result = calls.get_if_table2(&table);
    const std::int64_t taken_at = steady_now_ns();
    HandleGuard<void*> guard(table, calls.free_mib_table);
    if (table == nullptr) return make_counter_snapshot(result, {}, taken_at);
    return make_counter_snapshot(result, {table->Table, table->NumEntries}, taken_at);
}

void interface_traffic(nlohmann::json& adapter, std::uint64_t luid,
                       const InterfaceCounterSnapshot& first,
                       const InterfaceCounterSnapshot& second) {
    const auto after = second.rows.find(luid);
    if (after == second.rows.end()) {
        // A successful table that lacks the adapter reads as "element not found".
        const std::uint32_t code = second.status == NO_ERROR ? ERROR_NOT_FOUND : second.status;
        const std::string reason = "GetIfTable2:" + std::to_string(code);
        adapter["link"] = json_unavailable(reason);
        adapter["counters"] = json_unavailable(reason);
        adapter["traffic"] = json_unavailable(reason);
        return;
    }
    adapter["link"] = link_of(after->second);
    adapter["counters"] = counters_of(after->second);
    const auto before = first.rows.find(luid);
    adapter["traffic"] =
        traffic_of(before == first.rows.end() ? nullptr : &before->second, after->second,
                   second.taken_at - first.taken_at, adapter["link"]["status"] == "ok");
}

}  // namespace tarvisko
