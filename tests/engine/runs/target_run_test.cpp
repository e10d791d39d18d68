#include "engine/runs/target_run.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <stdexcept>
#include <vector>

#include "engine/common/system.h"

namespace tarvisko {
namespace {

using nlohmann::json;

const std::string address_message = "Podaj pojedynczy adres IPv4, IPv6 lub nazwę DNS.";
const std::string not_allowed_message = "Brak dozwolonego adresu IP dla wybranego celu.";

TargetRunRequest valid_request() {
    TargetRunRequest request;
    request.purpose = "mtr";
    request.target = "192.0.2.7";
    request.profile_name = "MTR";
    request.protocol = "icmp";
    return request;
}

template <typename Error, typename Body>
void expect_error(Body body, const std::string& message) {
    try {
        body();
        ADD_FAILURE() << "no error, expected: " << message;
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), message);
    }
}

TEST(TargetRequestValidation, BoundsAndAlphabet) {
    struct Case {
        const char* name;
        std::function<void(TargetRunRequest&)> change;
        bool valid;
    };
    const std::vector<Case> cases = {
        {"defaults", [](TargetRunRequest&) {}, true},
        {"253 characters", [](TargetRunRequest& r) { r.target = std::string(253, 'a'); }, true},
        {"254 characters", [](TargetRunRequest& r) { r.target = std::string(254, 'a'); }, false},
        {"empty", [](TargetRunRequest& r) { r.target.clear(); }, false},
        {"underscore", [](TargetRunRequest& r) { r.target = "game_server.example"; }, false},
        {"blank", [](TargetRunRequest& r) { r.target = "192.0.2.7 "; }, false},
        {"non-ASCII letter", [](TargetRunRequest& r) { r.target = "serwer-\xC5\x82.pl"; }, false},
        {"IPv6 literal", [](TargetRunRequest& r) { r.target = "2001:DB8::1"; }, true},
        {"attempts 0", [](TargetRunRequest& r) { r.attempts = 0; }, false},
        {"attempts 1", [](TargetRunRequest& r) { r.attempts = 1; }, true},
        {"attempts 3600", [](TargetRunRequest& r) { r.attempts = 3600; }, true},
        {"attempts 3601", [](TargetRunRequest& r) { r.attempts = 3601; }, false},
        {"max_ttl 0", [](TargetRunRequest& r) { r.max_ttl = 0; }, false},
        {"max_ttl 64", [](TargetRunRequest& r) { r.max_ttl = 64; }, true},
        {"max_ttl 65", [](TargetRunRequest& r) { r.max_ttl = 65; }, false},
        {"timeout 99", [](TargetRunRequest& r) { r.timeout_ms = 99; }, false},
        {"timeout 100", [](TargetRunRequest& r) { r.timeout_ms = 100; }, true},
        {"timeout 2000", [](TargetRunRequest& r) { r.timeout_ms = 2000; }, true},
        {"timeout 2001", [](TargetRunRequest& r) { r.timeout_ms = 2001; }, false},
        {"interval 99", [](TargetRunRequest& r) { r.interval_ms = 99; }, false},
        {"interval 5000", [](TargetRunRequest& r) { r.interval_ms = 5000; }, true},
        {"interval 5001", [](TargetRunRequest& r) { r.interval_ms = 5001; }, false},
        {"protocol tcp", [](TargetRunRequest& r) { r.protocol = "tcp"; }, true},
        {"protocol udp", [](TargetRunRequest& r) { r.protocol = "udp"; }, false},
        {"protocol upper case", [](TargetRunRequest& r) { r.protocol = "ICMP"; }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TargetRunRequest request = valid_request();
        c.change(request);
        if (c.valid) {
            EXPECT_NO_THROW(validate_target_request(request));
        } else {
            expect_error<std::invalid_argument>([&] { validate_target_request(request); },
                                                address_message);
        }
    }
}

// A resolver answer built by hand, in the order given.
class FakeResults {
  public:
    explicit FakeResults(const std::vector<std::string>& addresses) {
        storage_.resize(addresses.size());
        nodes_.resize(addresses.size());
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            addrinfo& node = nodes_[i];
            sockaddr_storage& address = storage_[i];
            if (addresses[i].find(':') == std::string::npos) {
                auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
                v4->sin_family = AF_INET;
                inet_pton(AF_INET, addresses[i].c_str(), &v4->sin_addr);
                node.ai_family = AF_INET;
                node.ai_addrlen = sizeof(sockaddr_in);
            } else {
                auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
                v6->sin6_family = AF_INET6;
                inet_pton(AF_INET6, addresses[i].c_str(), &v6->sin6_addr);
                if (addresses[i].rfind("fe80", 0) == 0) v6->sin6_scope_id = 3;
                node.ai_family = AF_INET6;
                node.ai_addrlen = sizeof(sockaddr_in6);
            }
            node.ai_socktype = SOCK_STREAM;
            node.ai_addr = reinterpret_cast<sockaddr*>(&address);
            node.ai_next = i + 1 < addresses.size() ? &nodes_[i + 1] : nullptr;
        }
    }
    const addrinfo* get() const { return nodes_.empty() ? nullptr : nodes_.data(); }

  private:
    std::vector<sockaddr_storage> storage_;
    std::vector<addrinfo> nodes_;
};

struct WinsockFixture : ::testing::Test {
    void SetUp() override {
        WSADATA data{};
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    void TearDown() override { WSACleanup(); }
};

using TargetChoice = WinsockFixture;

TEST_F(TargetChoice, PublicAddressRuleOnlyForGamingTargetsThatAreNotUserSupplied) {
    struct Case {
        std::string purpose;
        std::string kind;
        std::vector<std::string> addresses;
        std::string expected;  // empty: no acceptable address
    };
    const std::vector<Case> cases = {
        {"gaming", "official_diagnostic", {"10.1.2.3", "192.168.1.1"}, ""},
        {"gaming", "official_diagnostic", {"10.1.2.3", "11.22.33.44", "12.0.0.1"}, "11.22.33.44"},
        {"gaming", "official_diagnostic", {"fd00::5", "2a00:1450::7"}, "2a00:1450::7"},
        {"gaming", "user_supplied", {"10.1.2.3", "11.22.33.44"}, "10.1.2.3"},
        {"mtr", "official_diagnostic", {"10.1.2.3", "11.22.33.44"}, "10.1.2.3"},
        {"monitor", "user_supplied", {"127.0.0.1", "::1"}, "127.0.0.1"},
        // Results that are no probe target at all are skipped whatever the purpose.
        {"mtr", "user_supplied", {"fe80::1", "0.0.0.0", "::ffff:10.0.0.1", "10.9.8.7"}, "10.9.8.7"},
        {"mtr", "user_supplied", {"fe80::1"}, ""},
        {"mtr", "user_supplied", {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.purpose + "/" + c.kind + "/" + std::to_string(c.addresses.size()));
        const FakeResults results(c.addresses);
        if (c.expected.empty()) {
            expect_error<std::invalid_argument>(
                [&] { (void)choose_target(results.get(), c.purpose, c.kind); },
                not_allowed_message);
        } else {
            EXPECT_EQ(choose_target(results.get(), c.purpose, c.kind).text, c.expected);
        }
    }
}

TEST_F(TargetChoice, ResolvesLiteralsAndLocalhostWithoutTheNetwork) {
    TargetRunRequest request = valid_request();
    request.target = "2001:DB8:0:0::1";
    EXPECT_EQ(resolve_target(request).text, "2001:db8::1");

    request.target = "localhost";
    request.family = 4;
    EXPECT_EQ(resolve_target(request).text, "127.0.0.1");

    request.purpose = "gaming";
    request.target_kind = "official_diagnostic";
    expect_error<std::invalid_argument>([&] { (void)resolve_target(request); },
                                        not_allowed_message);
    request.target = "10.20.30.40";
    expect_error<std::invalid_argument>([&] { (void)resolve_target(request); },
                                        not_allowed_message);
    request.target_kind = "user_supplied";
    EXPECT_EQ(resolve_target(request).text, "10.20.30.40");
}

TEST(MeasurementDescription, HeaderTextAndSortedMeasurement) {
    std::string version = windows_version_text();
    if (version.empty()) version = "unavailable:RtlGetVersion";
    const std::vector<Target> targets = {parse_ip_literal("192.0.2.7")};
    const std::string header =
        probe_run_header(ProbeSettings{"tcp", 250, false}, targets, 20, 16, 400);
    EXPECT_EQ(header, "{\"windows_version\":\"" + version +
                          "\",\"attempts\":20,\"max_ttl\":16,\"timeout_ms\":400,"
                          "\"interval_ms\":250,\"protocol\":\"tcp\",\"phase_control\":false,"
                          "\"targets\":[\"192.0.2.7\"]}");

    TargetRunRequest request = valid_request();
    request.purpose = "gaming";
    request.target = "gra.example";
    request.profile_name = "Strzelanka \xC5\x9Bwiat";
    request.region = "EU";
    request.target_kind = "official_diagnostic";
    request.echo = true;
    const json measurement = target_measurement(header, request);
    EXPECT_EQ(measurement.dump(),
              "{\"attempts\":20,\"interval_ms\":250,\"max_ttl\":16,\"phase_control\":false,"
              "\"profile_name\":\"Strzelanka \xC5\x9Bwiat\",\"protocol\":\"tcp\","
              "\"purpose\":\"gaming\",\"region\":\"EU\",\"target_kind\":\"official_diagnostic\","
              "\"target_name\":\"gra.example\",\"targets\":[\"192.0.2.7\"],\"technique\":\"echo\","
              "\"timeout_ms\":400,\"windows_version\":\"" +
                  version + "\"}");
    request.echo = false;
    EXPECT_EQ(target_measurement(header, request)["technique"], "trace");
}

TEST(TargetRunState, FirstRuleThatHolds) {
    struct Case {
        bool cancelled, unavailable, result;
        const char* expected;
    };
    for (const Case& c : std::vector<Case>{{true, true, true, "cancelled"},
                                           {true, false, false, "cancelled"},
                                           {false, true, true, "partial"},
                                           {false, false, false, "partial"},
                                           {false, true, false, "partial"},
                                           {false, false, true, "completed"}}) {
        EXPECT_EQ(target_run_state(c.cancelled, c.unavailable, c.result), c.expected);
    }
}

}  // namespace
}  // namespace tarvisko
