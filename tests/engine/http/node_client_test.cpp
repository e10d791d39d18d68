// The node client against the provider simulator over real TLS: headers, statuses, reply caps,
// reply shape and the peer guard.
#include "engine/http/node_client.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "engine/common/ids.h"
#include "engine/common/json_document.h"
#include "engine/common/text.h"
#include "support/simulator_client.h"
#include "support/test_support.h"

namespace tarvisko {
namespace {

using test::simulator_add_fault;
using test::simulator_origin;
using test::simulator_requests;

const std::wstring kToken(40, L'k');

std::string error_of(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

class NodeClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::simulator_reset();
        session_id = new_uuid_text();
        client = open_node_client(session_id, to_wide(simulator_origin()));
    }

    // The direct reservation of this test's session; returns the reply.
    nlohmann::json reserve(nlohmann::json* local = nullptr) {
        InternetHandle request = send_node_request(client, L"POST", L"", kToken, 0);
        receive_node_response(client, request.get(), 201, local);
        return read_node_reply(request.get(), 8192);
    }

    std::string base() const { return "/measure/v1/runs/" + session_id; }

    std::string session_id;
    NodeClient client;
};

TEST_F(NodeClientTest, ReservationCarriesFixedHeadersAndFixesPeer) {
    nlohmann::json local;
    const nlohmann::json reply = reserve(&local);
    std::string lower = session_id;
    for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(reply["session_id"], lower);
    EXPECT_EQ(local["status"], "ok");
    EXPECT_TRUE(local["value"] == "127.0.0.1" || local["value"] == "::1") << local.dump();
    EXPECT_TRUE(client.expected_peer == "127.0.0.1" || client.expected_peer == "::1");

    const nlohmann::json seen = simulator_requests(base());
    ASSERT_EQ(seen.size(), 1u);
    const nlohmann::json& headers = seen[0]["headers"];
    EXPECT_EQ(seen[0]["method"], "POST");
    EXPECT_EQ(headers["accept-encoding"], "identity");
    EXPECT_EQ(headers["authorization"], "Bearer " + std::string(40, 'k'));
    EXPECT_EQ(headers["user-agent"], "QUORVEL transfer/1.1.18");
    EXPECT_FALSE(headers.contains("content-type"));
    EXPECT_FALSE(headers.contains("cookie"));

    // The ticket serves the next requests on the same connection and peer.
    const std::wstring ticket = to_wide(reply["ticket"].get<std::string>());
    InternetHandle probe = send_node_request(client, L"HEAD", L"/latency", ticket, 0);
    EXPECT_NO_THROW(receive_node_response(client, probe.get(), 204));
}

TEST_F(NodeClientTest, UnexpectedStatusNamesIt) {
    simulator_add_fault({{"path", base()}, {"match", "exact"}, {"status", 404}});
    EXPECT_EQ(error_of([&] { reserve(); }), "node_http_404");
    // 201 is not "any success": a 200 where 201 is expected fails too.
    simulator_add_fault({{"path", base()}, {"match", "exact"}, {"status", 200}, {"body", "{}"}});
    EXPECT_EQ(error_of([&] { reserve(); }), "node_http_200");
}

TEST_F(NodeClientTest, ReplyCapAndShape) {
    // {"a":"xxx...x"} of exactly n bytes.
    auto object_of = [](std::size_t n) { return "{\"a\":\"" + std::string(n - 8, 'x') + "\"}"; };
    struct Case {
        std::string body;
        const char* expected;
    };
    const Case cases[] = {
        {object_of(8192), "no error"},      {object_of(8193), "node_reply_too_large"},
        {"[1,2,3]", "invalid_node_reply"},  {"\"text\"", "invalid_node_reply"},
        {"not json", "invalid_node_reply"}, {"", "invalid_node_reply"},
        {"{\"a\":1", "invalid_node_reply"},
        // Nesting just inside the depth limit, just beyond it, and trailing bytes after a
        // complete object, a NUL among them.
        {"{\"a\":" + test::nested_arrays(json_depth_limit - 1) + "}", "no error"},
        {"{\"a\":" + test::nested_arrays(json_depth_limit) + "}", "invalid_node_reply"},
        {std::string("{\"a\":1}\0", 8), "invalid_node_reply"},
        {"{\"a\":1}{}", "invalid_node_reply"},
    };
    for (const Case& c : cases) {
        simulator_add_fault(
            {{"path", base()}, {"match", "exact"}, {"status", 201}, {"body", c.body}});
        EXPECT_EQ(error_of([&] { reserve(); }), c.expected) << c.body.size();
    }
}

TEST_F(NodeClientTest, ResponseFromAnotherAddressIsRefused) {
    // As if the first response of this client had come from another node address.
    client.expected_peer = "192.0.2.44";
    EXPECT_EQ(error_of([&] { reserve(); }), "node_address_changed");

    // A client that copied a peer refuses the same way; the one that fixed it passes.
    NodeClient first = open_node_client(session_id, to_wide(simulator_origin()));
    InternetHandle request = send_node_request(first, L"POST", L"", kToken, 0);
    receive_node_response(first, request.get(), 201);
    NodeClient copy = open_node_client(session_id, to_wide(simulator_origin()));
    copy.expected_peer = first.expected_peer == "::1" ? "127.0.0.1" : "::1";
    InternetHandle again = send_node_request(copy, L"POST", L"", kToken, 0);
    EXPECT_EQ(error_of([&] { receive_node_response(copy, again.get(), 201); }),
              "node_address_changed");
}

TEST_F(NodeClientTest, PublicDownloadCarriesNoAuthorization) {
    InternetHandle request =
        send_node_request(client, L"GET", L"", L"", 0, L"/pobierz/windows-release.json");
    receive_node_response(client, request.get(), 200);
    const nlohmann::json seen = simulator_requests("/pobierz/");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_FALSE(seen[0]["headers"].contains("authorization"));
    EXPECT_EQ(seen[0]["headers"]["accept-encoding"], "identity");
}

TEST_F(NodeClientTest, RedirectIsNotFollowed) {
    simulator_add_fault({{"path", base()},
                         {"match", "exact"},
                         {"status", 302},
                         {"headers", {{"Location", "/measure/v1/runs/elsewhere"}}}});
    EXPECT_EQ(error_of([&] { reserve(); }), "node_http_302");
    EXPECT_EQ(simulator_requests("/measure/v1/runs/elsewhere").size(), 0u);
}

TEST_F(NodeClientTest, SilentNodeEndsOnTheReceiveTimeout) {
    const std::wstring ticket = to_wide(reserve()["ticket"].get<std::string>());
    // The node answers only after 6 s; the 4 s receive time-out ends the wait first.
    simulator_add_fault({{"path", base() + "/latency"}, {"status", 204}, {"delay_ms", 6000}});
    InternetHandle probe = send_node_request(client, L"HEAD", L"/latency", ticket, 0);
    EXPECT_EQ(
        error_of([&] { receive_node_response(client, probe.get(), 204); }).rfind("winhttp_", 0),
        0u);
}

TEST(NodeClientTransport, ClosedPortIsAWinhttpError) {
    NodeClient client = open_node_client("S", L"https://localhost:1");
    EXPECT_EQ(error_of([&] { send_node_request(client, L"POST", L"", kToken, 0); }),
              "winhttp_12029");
}

}  // namespace
}  // namespace tarvisko
