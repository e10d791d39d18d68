// Cost of the result views that the window rebuilds every 400 ms during a target run, and of the
// plain-language text, the dashboard and the five details pages of a full test, beside the cost
// of parsing the report they are built from; and of painting one dashboard gauge. Prints one line
// per step, with its ratio to the bare parse of the same document.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "results/dashboard.h"
#include "results/export.h"
#include "results/gauge.h"
#include "results/hop_table.h"
#include "results/icmp_table.h"
#include "results/report_details.h"
#include "results/session_summary.h"
#include "results/technical_report.h"
#include "results/view_status.h"

namespace {

using nlohmann::json;

constexpr int sample_count = 10000;
constexpr int hop_count = 30;
const char* const phases[] = {"baseline", "download", "upload", "recovery"};
const std::string target = "198.51.100.7";

std::string router(int ttl) { return "10.200." + std::to_string(ttl) + ".1"; }

// A route run: four phases of 2,500 samples each, walking 30 hops attempt after attempt; the
// target answers at the last hop, hop 7 never answers, hop 12 loses one probe in nine.
json route_report() {
    json samples = json::array();
    const int per_phase = sample_count / 4;
    for (int i = 0; i < sample_count; ++i) {
        const int j = i % per_phase;
        const int ttl = j % hop_count + 1;
        const int attempt = j / hop_count + 1;
        json sample = {{"target", target},
                       {"family", 4},
                       {"protocol", "icmp"},
                       {"phase", phases[i / per_phase]},
                       {"ttl", ttl},
                       {"attempt", attempt},
                       {"native_code", 0},
                       {"session_id", "S"},
                       {"timestamp", "2026-12-10T08:00:00.000Z"}};
        if (ttl == 7 || (ttl == 12 && attempt % 9 == 0)) {
            sample.update({{"status", "timeout"}, {"responder", nullptr}, {"rtt_ms", nullptr}});
        } else if (ttl == hop_count) {
            sample.update(
                {{"status", "echo_reply"}, {"responder", target}, {"rtt_ms", 20 + (i * 7) % 13}});
        } else {
            sample.update({{"status", "ttl_expired"},
                           {"responder", router(ttl)},
                           {"rtt_ms", ttl + (i * 5) % 4}});
        }
        samples.push_back(std::move(sample));
    }
    return {{"session_id", "S"},
            {"state", "completed"},
            {"measurement", {{"purpose", "mtr"}, {"technique", "trace"}, {"target_name", target}}},
            {"mtr_samples", std::move(samples)}};
}

// An echo run of the same size: one probe per attempt, one in twenty lost.
json echo_report() {
    json samples = json::array();
    for (int attempt = 1; attempt <= sample_count; ++attempt) {
        json sample = {{"target", target},    {"family", 4}, {"protocol", "icmp"},
                       {"phase", "baseline"}, {"ttl", 64},   {"attempt", attempt}};
        if (attempt % 20 == 0) {
            sample.update({{"status", "timeout"}, {"responder", nullptr}, {"rtt_ms", nullptr}});
        } else {
            sample.update(
                {{"status", "echo_reply"}, {"responder", target}, {"rtt_ms", 15 + attempt % 11}});
        }
        samples.push_back(std::move(sample));
    }
    return {
        {"session_id", "E"},
        {"state", "completed"},
        {"measurement", {{"purpose", "monitor"}, {"technique", "echo"}, {"target_name", target}}},
        {"mtr_samples", std::move(samples)}};
}

// The live transfer trace of one direction at its largest: 1,024 [ms, bytes] pairs.
json transfer_trace(int bytes_per_step) {
    json pairs = json::array();
    for (int i = 0; i < 1024; ++i) {
        pairs.push_back({i * 25, static_cast<long long>(i) * (bytes_per_step + i % 97)});
    }
    return pairs;
}

// A full test whose node trace carries the same 10,000 route samples, with the measured
// transfers and their live traces, pings, latency phases and a three-interface inventory around
// it.
json full_report() {
    json node_samples = json::array();
    for (int i = 0; i < 5; ++i) {
        node_samples.push_back(
            {{"status", "echo_reply"}, {"responder", target}, {"rtt_ms", 18 + i}});
    }
    json baseline = json::array();
    for (int i = 0; i < 40; ++i) baseline.push_back({{"ms", 12.5 + i % 7}, {"error", nullptr}});
    const auto transfer = [](int bytes, double ms) {
        return json{
            {"status", "ok"}, {"client_bytes", bytes}, {"node_bytes", bytes}, {"duration_ms", ms}};
    };
    const auto adapter = [](const char* id, int type, const char* v4, const char* v6) {
        return json{{"id", id},
                    {"index", type},
                    {"oper_status", 1},
                    {"type", type},
                    {"mtu", 1500},
                    {"link", {{"status", "ok"}, {"value", {{"rx_bps", 1e9}, {"tx_bps", 1e9}}}}},
                    {"unicast",
                     {{"status", "ok"},
                      {"value",
                       {{{"ip", v4}, {"prefix_length", 24}},
                        {{"ip", v6}, {"prefix_length", 64}}}}}}};
    };
    json throughput = {
        {"session_id", "0f0e0d0c-0b0a-4908-8706-050403020100"},
        {"started_at", "2026-12-10T08:00:00.000Z"},
        {"windows_version", "10.0.19045"},
        {"error", nullptr},
        {"node_id", "bench-node"},
        {"peer", target},
        {"profile", {{"mode", "windowed"}, {"bytes", 500000000}, {"rate_bps", 300000000}}},
        {"transfers",
         {{"download", transfer(400000000, 11200.0)}, {"upload", transfer(120000000, 10100.0)}}},
        {"phases", {{"baseline", baseline}, {"download", baseline}}},
        {"host_pings",
         {{"gateway",
           {{"target", "192.168.1.1"},
            {"planned", 5},
            {"reason", "no_separate_gateway"},
            {"samples", json::array()}}},
          {"node",
           {{"target", target}, {"planned", 5}, {"reason", nullptr}, {"samples", node_samples}}}}},
        {"reservation_local_ip", {{"status", "ok"}, {"value", "192.168.1.20"}}}};
    json inventory = {{"interfaces",
                       {{"status", "ok"},
                        {"value",
                         {adapter("{LO}", 24, "127.0.0.1", "::1"),
                          adapter("{ETH}", 6, "192.168.1.20", "fe80::20"),
                          adapter("{VPN}", 131, "10.8.0.2", "fd00::2")}}}},
                      {"wifi", {{"status", "ok"}, {"value", json::array()}}},
                      {"unique_neighbor_macs", {{"status", "ok"}, {"value", 6}}}};
    return {{"throughput", std::move(throughput)},
            {"inventory", std::move(inventory)},
            {"mtr_samples", route_report()["mtr_samples"]},
            {"desktop_trace",
             {{"session_id", "0f0e0d0c-0b0a-4908-8706-050403020100"},
              {"download", transfer_trace(900000)},
              {"upload", transfer_trace(270000)}}},
            {"observed_ip", "203.0.113.20"},
            {"synchronized", true}};
}

struct Step {
    const char* name;
    std::function<void()> run;
    std::vector<double> times;
};

// Runs every step `runs` times, interleaved so that the heap's growth and the machine's load
// reach all of them alike, after two unmeasured rounds; returns the median milliseconds of each.
std::vector<double> median_ms(std::vector<Step>& steps, int runs) {
    for (int round = -2; round < runs; ++round) {
        for (Step& step : steps) {
            const auto start = std::chrono::steady_clock::now();
            step.run();
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
            if (round >= 0) step.times.push_back(ms);
        }
    }
    std::vector<double> medians;
    for (Step& step : steps) {
        std::sort(step.times.begin(), step.times.end());
        medians.push_back(step.times[step.times.size() / 2]);
    }
    return medians;
}

std::size_t sink = 0;  // keeps the results alive

// A 32-bit DIB section of 240 x 240 pixels selected into a memory DC, as a tile's back buffer.
struct GaugeCanvas {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = nullptr;
    HGDIOBJ old_bitmap = nullptr;
    HFONT font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH, L"Tahoma");
    GaugeCanvas() {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = 240;
        info.bmiHeader.biHeight = -240;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        old_bitmap = SelectObject(dc, bitmap);
    }
    ~GaugeCanvas() {
        SelectObject(dc, old_bitmap);
        DeleteObject(bitmap);
        DeleteObject(font);
        DeleteDC(dc);
    }
    void paint() {
        tarvisko::paint_results_gauge(dc, {120, 130}, 100, 96, font, 500.0, 286.0);
        GdiFlush();
        ++sink;
    }
};

// The full test's hop table as the export writes it (the report of the page goes into JSON).
std::size_t export_hops(const std::string& full_text, tarvisko::ExportFormat format) {
    const json report = json::parse(full_text);
    const tarvisko::TableModel table = tarvisko::build_mtr_hop_table(report["mtr_samples"], {});
    return tarvisko::export_file_bytes(format, table, report, 7).size();
}

}  // namespace

int main() {
    constexpr int runs = 15;
    const std::string route_text = route_report().dump();
    const std::string echo_text = echo_report().dump();
    const std::string full_text = full_report().dump();
    tarvisko::SessionResponderNames names{"S", {}};
    for (int ttl = 1; ttl < hop_count; ++ttl) {
        names.names[router(ttl)] = {L"router" + std::to_wstring(ttl) + L".example", L""};
    }

    GaugeCanvas canvas;
    const auto csv = tarvisko::ExportFormat::csv;
    const auto as_json = tarvisko::ExportFormat::json;
    const auto text = tarvisko::ExportFormat::text;
    std::vector<Step> steps = {
        {"parse route report", [&] { sink += json::parse(route_text).size(); }, {}},
        {"parse + build_mtr_hop_table",
         [&] {
             const json report = json::parse(route_text);
             sink += tarvisko::build_mtr_hop_table(report["mtr_samples"], names.names).rows.size();
         },
         {}},
        {"parse + measurement_view_status(7)",
         [&] {
             const json report = json::parse(route_text);
             sink += tarvisko::measurement_view_status(7, report, names).rows.size();
         },
         {}},
        {"parse echo report", [&] { sink += json::parse(echo_text).size(); }, {}},
        {"parse + build_icmp_latency_table",
         [&] {
             const json report = json::parse(echo_text);
             sink += tarvisko::build_icmp_latency_table(report["mtr_samples"]).rows.size();
         },
         {}},
        {"parse full-test report", [&] { sink += json::parse(full_text).size(); }, {}},
        {"parse + render_session_summary",
         [&] { sink += tarvisko::render_session_summary(json::parse(full_text)).size(); },
         {}},
        {"parse + build_results_view",
         [&] {
             sink += tarvisko::build_results_view(json::parse(full_text)).download_series.size();
         },
         {}},
        {"parse + view + details pages 1-5",
         [&] {
             const json report = json::parse(full_text);
             const tarvisko::SummaryModel model = tarvisko::build_results_view(report);
             for (int page = 1; page <= 5; ++page) {
                 sink += tarvisko::build_report_details_table(page, report, model).rows.size();
             }
         },
         {}},
        {"parse + throughput_report_text",
         [&] { sink += tarvisko::throughput_report_text(json::parse(full_text)).size(); },
         {}},
        {"parse + hop table + export CSV", [&] { sink += export_hops(full_text, csv); }, {}},
        {"parse + hop table + export JSON", [&] { sink += export_hops(full_text, as_json); }, {}},
        {"parse + hop table + export text", [&] { sink += export_hops(full_text, text); }, {}},
        {"paint one gauge (radius 100 px)", [&] { canvas.paint(); }, {}},
    };
    // The bare parse each step is compared with: the route, the echo run, the full test; none
    // for the gauge.
    const std::vector<int> bases = {0, 0, 0, 3, 3, 5, 5, 5, 5, 5, 5, 5, 5, -1};
    const std::vector<double> ms = median_ms(steps, runs);

    std::printf(
        "%d probe samples, %d hops, 4 phases (%zu bytes); echo series %d samples (%zu "
        "bytes); full test with the same route samples (%zu bytes); median of %d runs\n",
        sample_count, hop_count, route_text.size(), sample_count, echo_text.size(),
        full_text.size(), runs);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const int base = bases[i];
        std::printf("  %-36s %8.3f ms", steps[i].name, ms[i]);
        if (base >= 0 && static_cast<std::size_t>(base) != i) {
            std::printf("  %5.2fx", ms[i] / ms[static_cast<std::size_t>(base)]);
        }
        std::printf("\n");
    }
    return sink == 0 ? 1 : 0;
}
