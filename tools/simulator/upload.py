"""Session upload endpoints of the provider simulator.

    PUT /api/v1/sessions/{id}                  the opening document   -> 201 (200 when repeated)
    PUT /api/v1/sessions/{id}/chunks/{n}       one sample chunk, gzip -> 204
    PUT /api/v1/sessions/{id}/completion       the ending document    -> 200
The opening and completion replies are {"session_id": id, "state": ...} ("open" for the opening,
the ending's state for the completion). Delivery is at least once: a repeated PUT with the same
body is accepted again and stored once; a different body for a stored part is refused with 409.
Requests need "Authorization: Bearer <token>" (401 otherwise). Bad JSON or bad gzip: 400. A chunk
or completion for a session that was never opened: 404. A chunk number beyond the next expected
one, or a completion whose chunk_count differs from the chunks received: 409.

Control: GET /_sim/upload/sessions ->
    {"sessions": {id: {"opening": {...}, "opening_text": "...", "chunks": [{...}, ...],
                       "chunk_texts": [...], "samples": [...], "ending": {...} | null,
                       "completed": bool, "puts": {"opening": n, "chunks": n, "completion": n}}}}
"samples" joins the samples of every chunk in order, so a test can check that each recorded
sample arrived exactly once, in order.
"""

import gzip
import json
import zlib

from simulator import Response, json_response

ID = r"([^/]+)"


class _Store:
    def __init__(self):
        self.sessions = {}

    def reset(self):
        self.sessions.clear()


def _authorized(request):
    value = request.headers.get("Authorization", "")
    return value.startswith("Bearer ") and len(value) > len("Bearer ")


def _refuse(status, text):
    return json_response({"error": text}, status)


def register(app):
    store = _Store()
    app.on_reset(store.reset)

    def opening(request, match):
        if not _authorized(request):
            return _refuse(401, "bearer token required")
        session_id = match.group(1)
        try:
            text = request.text()
            document = json.loads(text)
        except (UnicodeDecodeError, ValueError):
            return _refuse(400, "opening is not JSON")
        if not isinstance(document, dict) or str(document.get("session_id", "")).lower() != session_id.lower():
            return _refuse(422, "session_id differs from the path")
        with app.lock:
            session = store.sessions.get(session_id)
            if session is None:
                session = {"opening_text": text, "chunk_texts": [], "ending_text": None,
                           "puts": {"opening": 0, "chunks": 0, "completion": 0}}
                store.sessions[session_id] = session
                status = 201
            elif session["opening_text"] != text:
                return _refuse(409, "a different opening was already stored")
            else:
                status = 200
            session["puts"]["opening"] += 1
        return json_response({"session_id": session_id, "state": "open"}, status)

    def chunk(request, match):
        if not _authorized(request):
            return _refuse(401, "bearer token required")
        session_id, number = match.group(1), int(match.group(2))
        body = request.body
        if request.headers.get("Content-Encoding", "").lower() == "gzip":
            try:
                body = gzip.decompress(body)
            except (OSError, EOFError, zlib.error):
                return _refuse(400, "chunk is not valid gzip")
        try:
            text = body.decode("utf-8")
            json.loads(text)
        except (UnicodeDecodeError, ValueError):
            return _refuse(400, "chunk is not JSON")
        with app.lock:
            session = store.sessions.get(session_id)
            if session is None:
                return _refuse(404, "unknown session")
            chunks = session["chunk_texts"]
            if number < len(chunks):
                if chunks[number] != text:
                    return _refuse(409, "a different chunk was already stored")
            elif number == len(chunks):
                chunks.append(text)
            else:
                return _refuse(409, "chunk out of order")
            session["puts"]["chunks"] += 1
        return Response(204)

    def completion(request, match):
        if not _authorized(request):
            return _refuse(401, "bearer token required")
        session_id = match.group(1)
        try:
            text = request.text()
            ending = json.loads(text)
        except (UnicodeDecodeError, ValueError):
            return _refuse(400, "ending is not JSON")
        if not isinstance(ending, dict):
            return _refuse(400, "ending is not an object")
        with app.lock:
            session = store.sessions.get(session_id)
            if session is None:
                return _refuse(404, "unknown session")
            if ending.get("chunk_count") != len(session["chunk_texts"]):
                return _refuse(409, "chunk_count differs from the chunks received")
            if session["ending_text"] is not None and session["ending_text"] != text:
                return _refuse(409, "a different ending was already stored")
            session["ending_text"] = text
            session["puts"]["completion"] += 1
        return json_response({"session_id": session_id, "state": ending.get("state")}, 200)

    def sessions(request, match):
        with app.lock:
            result = {}
            for session_id, s in store.sessions.items():
                chunks = [json.loads(t) for t in s["chunk_texts"]]
                result[session_id] = {
                    "opening": json.loads(s["opening_text"]),
                    "opening_text": s["opening_text"],
                    "chunks": chunks,
                    "chunk_texts": list(s["chunk_texts"]),
                    "samples": [sample for c in chunks for sample in c.get("samples", [])],
                    "ending": json.loads(s["ending_text"]) if s["ending_text"] else None,
                    "completed": s["ending_text"] is not None,
                    "puts": dict(s["puts"]),
                }
        return json_response({"sessions": result})

    app.route("PUT", r"/api/v1/sessions/" + ID, opening)
    app.route("PUT", r"/api/v1/sessions/" + ID + r"/chunks/(0|[1-9][0-9]{0,8})", chunk)
    app.route("PUT", r"/api/v1/sessions/" + ID + r"/completion", completion)
    app.control("GET", r"upload/sessions", sessions)
