// The program's entry: one executable for the update runner, the per-process traffic counter
// and the interactive application.
#include <windows.h>

#include "app/entry.h"
#include "traffic/traffic_counter.h"
#include "update/runner.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR command_line,
                    int show_command) {
    using namespace tarvisko;
    const StartMode mode = start_mode(command_line != nullptr ? command_line : L"");
    switch (mode.role) {
        case StartRole::finish_update:
            return run_finish_update(mode.pid);
        case StartRole::bad_finish_update:
            return 2;
        case StartRole::process_traffic:
            return run_process_traffic_child(mode.traffic_arguments);
        case StartRole::application:
            break;
    }
    return run_application(instance, show_command);
}
