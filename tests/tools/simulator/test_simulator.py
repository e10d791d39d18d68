"""The provider simulator itself: TLS, keep-alive, fault scripting, the record of requests and the
upload endpoints. Runs the simulator in this process against the project's test CA."""
import gzip
import http.client
import json
import os
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sim_harness  # noqa: E402
from sim_harness import call, connect, control  # noqa: E402,F401

SESSION = "6F9619FF-8B86-D011-B42D-00C04FC964FF"
AUTH = {"Authorization": "Bearer " + "t" * 32, "Content-Type": "application/json"}


def setUpModule():
    sim_harness.start(["upload"])


def tearDownModule():
    sim_harness.stop()


class SimulatorTest(unittest.TestCase):
    def setUp(self):
        control("POST", "reset")

    def test_certificate_names_localhost_and_connection_is_kept_alive(self):
        conn = connect()
        try:
            call("PUT", "/api/v1/sessions/" + SESSION, {"session_id": SESSION}, AUTH, conn)
            first = conn.sock
            status, _, _ = call("PUT", "/api/v1/sessions/" + SESSION, {"session_id": SESSION}, AUTH, conn)
            self.assertEqual(200, status)
            self.assertIs(first, conn.sock)  # same TLS connection: HTTP/1.1 keep-alive
            self.assertEqual("localhost", conn.sock.getpeercert()["subjectAltName"][0][1])
        finally:
            conn.close()
        call("PUT", "/api/v1/sessions/" + SESSION, {"session_id": SESSION}, AUTH)  # a new one
        # The simulator counts connections, not requests, and names each request's connection.
        numbers = [r["connection"] for r in control("GET", "requests?prefix=/api/")["requests"]]
        self.assertEqual(3, len(numbers))
        self.assertEqual(numbers[0], numbers[1])
        self.assertNotEqual(numbers[1], numbers[2])
        # Since the reset: the kept-alive one, the single call, and each control call on its own.
        self.assertEqual(4, control("GET", "connections")["accepted"])

    def test_scripted_status_headers_body_count_and_record(self):
        fault = control("POST", "faults", {"path": "/x/", "status": 503, "count": 2,
                                           "headers": {"Retry-After": "120"}, "body_size": 5000})
        replies = [call("PUT", "/x/1", "payload") for _ in range(3)]
        self.assertEqual([503, 503, 404], [r[0] for r in replies])
        self.assertEqual(["120", "120", None], [r[1].get("Retry-After") for r in replies])
        self.assertEqual(5000, len(replies[0][2]))
        requests = control("GET", "requests?prefix=/x/")["requests"]
        self.assertEqual([fault["id"], fault["id"], None], [r["fault"] for r in requests])
        self.assertEqual([503, 503, 404], [r["status"] for r in requests])
        self.assertEqual("payload", requests[0]["body"])
        self.assertEqual(2, control("GET", "faults")["faults"][0]["applied"])

    def test_reply_body_of_any_size_and_retry_after(self):
        control("POST", "faults", {"path": "/y", "match": "exact", "status": 200,
                                   "headers": {"Retry-After": "Wed, 21 Oct 2015 07:28:00 GMT"},
                                   "body": "ab", "body_size": 5})
        status, headers, body = call("GET", "/y")
        self.assertEqual((200, b"ababa"), (status, body))
        self.assertEqual("Wed, 21 Oct 2015 07:28:00 GMT", headers["Retry-After"])

    def test_dropped_connections(self):
        control("POST", "faults", {"path": "/d", "drop": "before_reply"})
        with self.assertRaises((http.client.HTTPException, ConnectionError, ssl.SSLError)):
            call("GET", "/d")
        control("POST", "faults", {"path": "/m", "status": 200, "body_size": 1000, "drop": "mid_reply"})
        with self.assertRaises((http.client.IncompleteRead, ConnectionError, ssl.SSLError)):
            call("GET", "/m")
        dropped = control("GET", "requests")["requests"]
        self.assertEqual([None, None], [r["status"] for r in dropped])

    def test_after_fault_lets_the_endpoint_handle_the_request_and_delays(self):
        control("POST", "faults", {"path": "/api/", "when": "after", "drop": "before_reply"})
        with self.assertRaises((http.client.HTTPException, ConnectionError, ssl.SSLError)):
            call("PUT", "/api/v1/sessions/" + SESSION, {"session_id": SESSION}, AUTH)
        self.assertIn(SESSION, control("GET", "upload/sessions")["sessions"])
        control("POST", "faults", {"path": "/api/", "when": "after", "delay_ms": 300})
        started = time.monotonic()
        status, _, _ = call("PUT", "/api/v1/sessions/" + SESSION, {"session_id": SESSION}, AUTH)
        self.assertEqual(200, status)
        self.assertGreaterEqual(time.monotonic() - started, 0.3)

    def test_random_share_with_seed_is_repeatable(self):
        def run():
            control("POST", "reset")
            control("POST", "faults", {"path": "/r", "count": -1, "probability": 0.5, "seed": 7,
                                       "choices": [{"status": 500}, {"status": 503}]})
            return [call("GET", "/r")[0] for _ in range(20)]
        first = run()
        self.assertEqual(first, run())
        self.assertTrue({500, 503, 404} >= set(first) and 404 in first and len(set(first)) > 1)

    def test_bad_fault_rules_are_refused(self):
        for rule in ({"status": 500}, {"path": "/a", "drop": "sometimes"}, {"path": "/a", "match": "glob"},
                     {"path": "(", "match": "regex"}, {"path": "/a", "choices": []}):
            status, _, _ = call("POST", "/_sim/faults", rule)
            self.assertEqual(400, status, rule)


class UploadEndpointTest(unittest.TestCase):
    def setUp(self):
        control("POST", "reset")

    def put(self, suffix, body, gz=False, headers=AUTH):
        headers = dict(headers)
        if gz:
            body = gzip.compress(body.encode())
            headers["Content-Encoding"] = "gzip"
        return call("PUT", "/api/v1/sessions/" + SESSION + suffix, body, headers)

    def test_whole_session_with_repeats_is_stored_once_in_order(self):
        opening = '{"schema_version":1,"session_id":"%s"}' % SESSION
        self.assertEqual(201, self.put("", opening)[0])
        self.assertEqual(200, self.put("", opening)[0])
        chunk0 = '{"schema_version":1,"samples":[{"a":1},{"a":2}]}'
        chunk1 = '{"schema_version":1,"samples":[{"a":3}]}'
        for suffix, body in (("/chunks/0", chunk0), ("/chunks/0", chunk0), ("/chunks/1", chunk1)):
            self.assertEqual(204, self.put(suffix, body, gz=True)[0])
        ending = '{"schema_version":1,"state":"completed","ended_at":"x","chunk_count":2}'
        status, _, body = self.put("/completion", ending)
        self.assertEqual(200, status)
        self.assertEqual({"session_id": SESSION, "state": "completed"}, json.loads(body))
        self.assertEqual(200, self.put("/completion", ending)[0])
        stored = control("GET", "upload/sessions")["sessions"][SESSION]
        self.assertEqual([{"a": 1}, {"a": 2}, {"a": 3}], stored["samples"])
        self.assertEqual(opening, stored["opening_text"])
        self.assertEqual({"opening": 2, "chunks": 3, "completion": 2}, stored["puts"])
        self.assertTrue(stored["completed"])

    def test_refusals(self):
        opening = '{"session_id":"%s"}' % SESSION.lower()
        self.assertEqual(401, self.put("", opening, headers={})[0])
        self.assertEqual(404, self.put("/chunks/0", '{"samples":[]}', gz=True)[0])
        self.assertEqual(400, self.put("", "not json")[0])
        self.assertEqual(422, self.put("", '{"session_id":"other"}')[0])
        self.assertEqual(201, self.put("", opening)[0])
        self.assertEqual(409, self.put("", '{"session_id":"%s","x":1}' % SESSION)[0])
        self.assertEqual(409, self.put("/chunks/1", '{"samples":[]}', gz=True)[0])
        self.assertEqual(400, self.put("/chunks/0", "garbage", headers=dict(AUTH, **{"Content-Encoding": "gzip"}))[0])
        self.assertEqual(204, self.put("/chunks/0", '{"samples":[1]}', gz=True)[0])
        self.assertEqual(409, self.put("/chunks/0", '{"samples":[2]}', gz=True)[0])
        self.assertEqual(409, self.put("/completion", '{"state":"completed","chunk_count":2}')[0])


class MakeCaTest(unittest.TestCase):
    def test_relative_folder_is_filled_and_a_second_call_keeps_it(self):
        make_ca = os.path.join(sim_harness.TOP, "tools", "simulator", "make-ca")
        with tempfile.TemporaryDirectory() as work:
            subprocess.run([make_ca, "certs/ca"], cwd=work, check=True)
            folder = os.path.join(work, "certs", "ca")
            names = ["ca.der", "ca.key", "ca.pem", "server.key", "server.pem"]
            self.assertEqual(names, sorted(os.listdir(folder)))  # no scratch folder left
            before = open(os.path.join(folder, "server.pem"), "rb").read()
            subprocess.run([make_ca, "certs/ca"], cwd=work, check=True)
            self.assertEqual(before, open(os.path.join(folder, "server.pem"), "rb").read())
            server = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)  # the pair loads: key matches
            server.load_cert_chain(os.path.join(folder, "server.pem"), os.path.join(folder, "server.key"))


if __name__ == "__main__":
    unittest.main()
