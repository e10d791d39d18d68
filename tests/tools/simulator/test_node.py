"""The simulator's node and portal modules, and the streamed and bulk bodies they rely on. Runs
the simulator in this process against the project's test CA."""
import json
import os
import sys
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sim_harness  # noqa: E402
from sim_harness import call, connect, control  # noqa: E402,F401

SID = "6F9619FF-8B86-D011-B42D-00C04FC964FF"
BASE = "/measure/v1/runs/" + SID
TOKEN = {"Authorization": "Bearer " + "t" * 32}


def setUpModule():
    sim_harness.start(["node", "portal"])


def tearDownModule():
    sim_harness.stop()


class NodeTest(unittest.TestCase):
    def setUp(self):
        control("POST", "reset")

    def reserve(self, path=BASE):
        status, _, body = call("POST", path, headers=TOKEN)
        self.assertEqual(201, status)
        reply = json.loads(body)
        return reply, {"Authorization": "Bearer " + reply["ticket"]}

    def test_reservation_modes_and_session_id_case(self):
        reply, _ = self.reserve()
        self.assertEqual(SID.lower(), reply["session_id"])
        self.assertEqual({"mode", "bytes", "rate_bps", "deadline_s"}, set(reply["profile"]))
        control("POST", "node/config", {"session_id_case": "upper", "reply": {"node_id": "x" * 65}})
        reply, _ = self.reserve("/api/v1/portal/runs/" + SID + "?profile=capacity")
        self.assertEqual(SID, reply["session_id"])
        self.assertEqual("x" * 65, reply["node_id"])
        self.assertEqual(400, call("POST", "/api/v1/portal/runs/" + SID + "?profile=x", headers=TOKEN)[0])
        self.assertEqual(401, call("POST", BASE, headers={"Authorization": "Bearer short"})[0])
        self.assertEqual(400, control_status("POST", "node/config", {"no_such": 1}))

    def test_ticket_is_required_after_reservation(self):
        self.assertEqual(404, call("HEAD", BASE + "/latency", headers=TOKEN)[0])
        _, ticket = self.reserve()
        self.assertEqual(401, call("HEAD", BASE + "/latency", headers=TOKEN)[0])
        self.assertEqual(204, call("HEAD", BASE + "/latency", headers=ticket)[0])
        self.assertEqual(204, call("POST", BASE + "/finish", headers=ticket)[0])
        stats = control("GET", "node/stats")["sessions"][SID]
        self.assertEqual((1, True), (stats["latency"], stats["finished"]))

    def test_whole_download_streams_exact_extra_and_short_bodies(self):
        control("POST", "node/config", {"profile": {"mode": "whole", "bytes": 3 * 1048576 + 7,
                                                    "rate_bps": 1000000, "deadline_s": 30}})
        _, ticket = self.reserve()
        status, headers, body = call("GET", BASE + "/download", headers=ticket)
        self.assertEqual((200, 3 * 1048576 + 7), (status, len(body)))
        self.assertEqual(str(len(body)), headers["Content-Length"])
        report = json.loads(call("GET", BASE + "/status", headers=ticket)[2])["download"]
        self.assertEqual((3 * 1048576 + 7, True), (report["bytes"], report["complete"]))
        for setting, size in (("extra_bytes", 3 * 1048576 + 8), ("missing_bytes", 3 * 1048576 + 6)):
            control("POST", "node/config", {"extra_bytes": 0, "missing_bytes": 0, setting: 1})
            self.assertEqual(size, len(call("GET", BASE + "/download", headers=ticket)[2]))

    def test_bulk_upload_is_counted_not_recorded_and_keeps_the_connection(self):
        control("POST", "node/config", {"report_bytes_delta": -1})
        _, ticket = self.reserve()
        conn = connect()
        try:
            status, _, body = call("POST", BASE + "/upload", b"u" * 2000000, ticket, conn)
            self.assertEqual(200, status)
            self.assertEqual(2000000 - 1, json.loads(body)["bytes"])
            # A refused block (bad ticket) leaves its body unread by the endpoint; the connection
            # must still carry the next request.
            self.assertEqual(401, call("POST", BASE + "/blocks/upload/0?n=70000", b"v" * 70000, TOKEN, conn)[0])
            self.assertEqual(204, call("POST", BASE + "/blocks/upload/1?n=70000", b"v" * 70000, ticket, conn)[0])
        finally:
            conn.close()
        recorded = control("GET", "requests?prefix=" + BASE + "/upload")["requests"][0]
        self.assertEqual((2000000, None, ""), (recorded["body_size"], recorded["body"], recorded["body_base64"]))
        commit = json.loads(call("POST", BASE + "/commit/upload", headers=ticket)[2])
        self.assertTrue(commit["complete"])

    def test_windowed_blocks_and_commit(self):
        _, ticket = self.reserve()
        for seq, count in ((0, 65536), (1, 131072)):
            status, _, body = call("GET", "%s/blocks/download/%d?n=%d" % (BASE, seq, count), headers=ticket)
            self.assertEqual((200, count), (status, len(body)))
        control("POST", "node/config", {"report_complete": False})
        commit = json.loads(call("POST", BASE + "/commit/download", headers=ticket)[2])
        self.assertEqual((196608, False), (commit["bytes"], commit["complete"]))
        blocks = control("GET", "node/stats")["sessions"][SID]["blocks"]
        self.assertEqual([0, 1], [b["seq"] for b in blocks])

    def test_held_report_waits_until_released(self):
        _, ticket = self.reserve()
        control("POST", "node/config", {"hold_report_ms": 60000})
        replies = []
        uploader = threading.Thread(target=lambda: replies.append(
            call("POST", BASE + "/upload", b"u" * 1048576, ticket)))
        uploader.start()
        try:
            # The body arrives whole, then the report is held: nothing has answered yet.
            for _ in range(3000):
                if control("GET", "node/stats")["sessions"][SID]["held_reports"]:
                    break
                uploader.join(0.01)
            self.assertEqual([], replies)
            stats = control("GET", "node/stats")["sessions"][SID]
            self.assertEqual(1048576, stats["upload_received"])
        finally:
            control("POST", "node/config", {"hold_report_ms": 0})  # releases the held report
            uploader.join(30)
        self.assertFalse(uploader.is_alive())
        status, _, body = replies[0]
        self.assertEqual((200, True), (status, json.loads(body)["complete"]))


class PortalTest(unittest.TestCase):
    def setUp(self):
        control("POST", "reset")

    def test_registration_catalog_and_update_files(self):
        status, _, body = call("POST", "/api/v1/portal/clients")
        self.assertEqual(201, status)
        self.assertEqual(48, len(json.loads(body)["token"]))
        self.assertEqual(1, json.loads(call("GET", "/api/v1/portal/game-profiles")[2])["version"])
        control("POST", "portal/config", {"release_size": 8193, "installer_size": 100000})
        self.assertEqual(8193, len(call("GET", "/pobierz/windows-release.json")[2]))
        installer = call("GET", "/pobierz/QUORVEL-Sondaro.exe")[2]
        self.assertEqual((100000, b"MZ"), (len(installer), installer[:2]))


def control_status(method, path, body=None):
    return call(method, "/_sim/" + path, body)[0]


if __name__ == "__main__":
    unittest.main()
