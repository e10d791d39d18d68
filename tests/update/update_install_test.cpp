// install_update against the simulator over TLS, with this test program as the application:
// every refusal, and a runner that never confirms readiness, leave no staging folder behind.
// Started as the runner ("--finish-update PID"), this program exits at once with 1.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>

#include "engine/common/text.h"
#include "support/simulator_client.h"
#include "support/test_support.h"
#include "update/release.h"
#include "update/staging.h"
#include "update/update_test_support.h"

namespace tarvisko {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::error_text;
using test::folder_names;
using test::simulator_control;
using test::update_test_seams;

const char* const kInstaller = "/pobierz/QUORVEL-Sondaro.exe";

void configure(const json& settings) { simulator_control("POST", "portal/config", settings); }

TEST(InstallUpdate, RefusalsLeaveNoStagingFolder) {
    const char* farm = std::getenv("TARVISKO_LINK_FARM");
    ASSERT_NE(farm, nullptr) << "run under tests/update/with-links";
    const std::wstring origin = to_wide(test::simulator_origin());
    const std::string zeros(64, '0');
    const std::string certificate =
        simulator_control("GET", "portal/release-key")["certificate"].get<std::string>();

    enum class Root { temporary, link, under_a_file, unavailable };
    struct Case {
        const char* name;
        json before;                                    // simulator settings for the check
        std::function<json(const ReleaseInfo&)> after;  // settings changed after the check
        json fault;                                     // a fault rule, or null
        Root root;
        bool elevated;
        bool kill_runner;
        bool installer_asked;
        std::vector<const char*> expected;  // the message holds one of these
    };
    const auto none = [](const ReleaseInfo&) { return json::object(); };
    const Case cases[] = {
        {"description changed since the check",
         json::object(),
         [](const ReleaseInfo&) {
             return json{{"release_version", "1.3.0"}};
         },
         nullptr,
         Root::temporary,
         false,
         false,
         false,
         {"Wydanie zmieniło się. Sprawdź aktualizacje ponownie."}},
        {"hash changed since the check",
         json::object(),
         [&](const ReleaseInfo&) {
             return json{{"release_fields", {{"sha256", zeros}}}};
         },
         nullptr,
         Root::temporary,
         false,
         false,
         false,
         {"Wydanie zmieniło się. Sprawdź aktualizacje ponownie."}},
        {"description no longer signed",
         json::object(),
         [](const ReleaseInfo&) {
             return json{{"release_tamper", {{"size", 1}}}};
         },
         nullptr,
         Root::temporary,
         false,
         false,
         false,
         {"Podpis opisu wydania jest nieprawidłowy."}},
        {"installer of another size",
         {{"release_fields", {{"size", 4095}}}},
         none,
         nullptr,
         Root::temporary,
         false,
         false,
         true,
         {"Błąd integralności pobranego pliku."}},
        {"installer of another hash",
         {{"release_fields", {{"sha256", zeros}}}},
         none,
         nullptr,
         Root::temporary,
         false,
         false,
         true,
         {"Błąd integralności pobranego pliku."}},
        {"installer over the limit",
         json::object(),
         [](const ReleaseInfo& shown) {
             return json{{"installer_size", 33554433},
                         {"release_fields", {{"size", shown.size}, {"sha256", shown.sha256}}}};
         },
         nullptr,
         Root::temporary,
         false,
         false,
         true,
         {"Przekroczono limit pobierania aktualizacji."}},
        {"installer cut short",
         {{"installer_size", 1048576}},
         none,
         {{"path", kInstaller}, {"drop", "mid_reply"}},
         Root::temporary,
         false,
         false,
         true,
         {"winhttp_", "Błąd integralności pobranego pliku."}},
        {"elevated",
         json::object(),
         none,
         nullptr,
         Root::temporary,
         true,
         false,
         true,
         {"Otwórz aplikację jako zwykły użytkownik, aby ją zaktualizować."}},
        {"staging root a link",
         json::object(),
         none,
         nullptr,
         Root::link,
         false,
         false,
         true,
         {"Nie można utworzyć katalogu aktualizacji."}},
        {"staging root not creatable",
         json::object(),
         none,
         nullptr,
         Root::under_a_file,
         false,
         false,
         true,
         {"create_directories"}},
        {"no local application data",
         json::object(),
         none,
         nullptr,
         Root::unavailable,
         false,
         false,
         true,
         {"Brak katalogu profilu Windows."}},
        {"runner exits at once",
         json::object(),
         none,
         nullptr,
         Root::temporary,
         false,
         false,
         true,
         {"Instalator nie potwierdził gotowości."}},
        {"runner killed before it is ready",
         json::object(),
         none,
         nullptr,
         Root::temporary,
         false,
         true,
         true,
         {"Instalator nie potwierdził gotowości."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir temp;
        test::simulator_reset();
        update_test_seams() = {};
        update_test_seams().certificate = certificate;
        update_test_seams().trace = temp.path();
        update_test_seams().local_app_data = temp.path();
        test::use_update_test_seams();

        configure({{"release_version", "1.2.0"}});
        configure(c.before);
        const ReleaseInfo shown = load_release_description(origin);
        configure(c.after(shown));
        if (!c.fault.is_null()) test::simulator_add_fault(c.fault);

        const fs::path outside = test::wine_path(std::string(farm) + "/outside");
        switch (c.root) {
            case Root::temporary:
                break;
            case Root::link:
                update_test_seams().local_app_data =
                    test::wine_path(std::string(farm) + "/linked-appdata");
                break;
            case Root::under_a_file:
                write_staged_file(temp.path() / L"file", "x");
                update_test_seams().local_app_data = temp.path() / L"file";
                break;
            case Root::unavailable:
                update_test_seams().local_app_data.clear();
                break;
        }
        update_test_seams().elevated = c.elevated;
        update_test_seams().kill_runner_at_start = c.kill_runner;

        const std::string message = error_text([&] { install_update(shown, origin); });
        bool matched = false;
        for (const char* expected : c.expected) {
            matched = matched || message.find(expected) != std::string::npos;
        }
        EXPECT_TRUE(matched) << message;
        // A runner that gives up is noticed when its process ends, not when the 15 s pass.
        const bool runner_started =
            std::strcmp(c.expected.front(), "Instalator nie potwierdził gotowości.") == 0;
        if (runner_started) {
            EXPECT_EQ(update_test_seams().runner_wait_limit, 15000u);
            EXPECT_EQ(update_test_seams().runner_wait_result, WAIT_OBJECT_0 + 1);
        } else {
            EXPECT_EQ(update_test_seams().runner_wait_limit, 0u) << "no runner to wait for";
        }
        EXPECT_EQ(test::simulator_requests(kInstaller).size(), c.installer_asked ? 1u : 0u);
        EXPECT_EQ(folder_names(temp.path() / L"QUORVEL-Portable-Updates"),
                  std::vector<std::wstring>{});
        EXPECT_EQ(folder_names(outside), std::vector<std::wstring>{L"runner.exe"});
    }
}

}  // namespace
}  // namespace tarvisko

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--finish-update") == 0) return 1;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
