#include "engine/inventory/system_description.h"

#include <windows.h>

#include "engine/common/envelope.h"
#include "engine/common/system.h"
#include "engine/common/text.h"
#include "engine/inventory/registry_text.h"

namespace tarvisko {

namespace {

// IsWow64Process2's native machine, or 0 where the call is missing (older Windows) or fails.
std::uint16_t native_machine_of_this_process() {
    using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return 0;
    const auto is_wow64_process2 = reinterpret_cast<IsWow64Process2Function>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process2")));
    if (is_wow64_process2 == nullptr) return 0;
    USHORT process_machine = 0;
    USHORT native_machine = 0;
    if (!is_wow64_process2(GetCurrentProcess(), &process_machine, &native_machine)) return 0;
    return native_machine;
}

}  // namespace

std::uint16_t native_architecture(std::uint16_t system_info_architecture,
                                  std::uint16_t native_machine) {
    switch (native_machine) {
        case IMAGE_FILE_MACHINE_AMD64:
            return PROCESSOR_ARCHITECTURE_AMD64;
        case IMAGE_FILE_MACHINE_ARM64:
            return PROCESSOR_ARCHITECTURE_ARM64;
        case IMAGE_FILE_MACHINE_I386:
            return PROCESSOR_ARCHITECTURE_INTEL;
        default:
            return system_info_architecture;
    }
}

SystemReadings read_system() {
    SystemReadings readings;
    SYSTEM_INFO info{};
    // The native architecture, also when this x64 program runs under emulation on ARM64.
    GetNativeSystemInfo(&info);
    readings.architecture =
        native_architecture(info.wProcessorArchitecture, native_machine_of_this_process());
    readings.native_processor_count = info.dwNumberOfProcessors;
    readings.windows_version = windows_version_text();
    readings.processor_name = read_registry_text(
        HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
        L"ProcessorNameString");
    MEMORYSTATUSEX memory{};
    memory.dwLength = sizeof memory;
    if (GlobalMemoryStatusEx(&memory)) {
        readings.memory_read = true;
        readings.total_memory = memory.ullTotalPhys;
        readings.available_memory = memory.ullAvailPhys;
    } else {
        readings.memory_error = GetLastError();
    }
    readings.active_processor_count = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    return readings;
}

nlohmann::json describe_system(const SystemReadings& readings) {
    std::string architecture = "windows_machine_" + std::to_string(readings.architecture);
    if (readings.architecture == PROCESSOR_ARCHITECTURE_AMD64) architecture = "x64";
    if (readings.architecture == PROCESSOR_ARCHITECTURE_ARM64) architecture = "arm64";
    if (readings.architecture == PROCESSOR_ARCHITECTURE_INTEL) architecture = "x86";

    nlohmann::json system = nlohmann::json::object();
    system["windows"] = readings.windows_version.empty() ? json_unavailable("RtlGetVersion")
                                                         : json_value_ok(readings.windows_version);
    system["architecture"] = architecture;
    system["logical_processors"] = readings.active_processor_count != 0
                                       ? readings.active_processor_count
                                       : readings.native_processor_count;
    system["cpu_model"] = readings.processor_name.empty()
                              ? json_unavailable("ProcessorNameString_missing")
                              : json_value_ok(reading_to_utf8(readings.processor_name));
    system["memory"] =
        readings.memory_read
            ? json_value_ok({{"total_bytes", readings.total_memory},
                             {"available_bytes", readings.available_memory}})
            : json_unavailable("GlobalMemoryStatusEx:" + std::to_string(readings.memory_error));
    return system;
}

nlohmann::json collect_system() { return describe_system(read_system()); }

}  // namespace tarvisko
