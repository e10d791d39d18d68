// A stand-in for the application in the update tests, built twice: as the running application
// (the program's own version resource, 1.1.18) and as the new version the simulator serves (1.2.0).
//   --install ORIGIN       checks for a release and installs it, as the update job does; then
//                          exits, as the window does after the hand-over
//   --finish-update PID    the update runner
//   --idle EVENT           waits (up to two minutes) until the named event is set
//   (no arguments)         the new version being started: notes its file version and exits
// Outcomes go to files in TARVISKO_UPDATE_TRACE: app.txt, runner.txt, started.txt (and the
// seams' messages.txt and zone copies).

#include <windows.h>

#include <cstdlib>
#include <exception>
#include <string>

#include "engine/common/text.h"
#include "engine/common/version.h"
#include "update/release.h"
#include "update/runner.h"
#include "update/staging.h"
#include "update/update_test_support.h"

namespace {

using namespace tarvisko;

void note(const wchar_t* file, const std::string& line) {
    const std::filesystem::path& trace = test::update_test_seams().trace;
    if (!trace.empty()) test::append_trace_file(trace / file, line);
}

int install(const std::string& origin) {
    try {
        const ReleaseInfo info = load_release_description(to_wide(origin));
        if (!is_newer_version(info, program_version)) {
            note(L"app.txt", "not newer " + info.version);
            return 3;
        }
        install_update(info, to_wide(origin));
        note(L"app.txt", "installed " + info.version);
        return 0;
    } catch (const std::exception& error) {
        note(L"app.txt", std::string("error ") + error.what());
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    test::use_update_test_seams_from_environment();
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--install" && argc == 3) return install(argv[2]);
    if (mode == "--finish-update" && argc == 3) {
        const int code =
            run_finish_update(static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10)));
        note(L"runner.txt", "exit " + std::to_string(code));
        return code;
    }
    if (mode == "--idle" && argc == 3) {
        const HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, to_wide(argv[2]).c_str());
        if (event == nullptr) return 4;
        const DWORD waited = WaitForSingleObject(event, 120000);
        CloseHandle(event);
        return waited == WAIT_OBJECT_0 ? 0 : 5;
    }
    if (argc == 1) {
        try {
            const VersionNumber version = read_file_version(own_module_path());
            note(L"started.txt", "started " + std::to_string(version.major) + "." +
                                     std::to_string(version.minor) + "." +
                                     std::to_string(version.patch));
        } catch (const std::exception& error) {
            note(L"started.txt", std::string("started without a version: ") + error.what());
        }
        return 0;
    }
    return 2;
}
