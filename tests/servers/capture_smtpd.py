#!/usr/bin/python3
"""A capture SMTP server for the tests and the demo, on aiosmtpd.

HELO also allows AUTH (LOGIN and PLAIN, without TLS). Every accepted message
is stored byte for byte in a Maildir (new/), with its envelope beside it in a
JSON file; every connection and every login is written to events.jsonl.
A recipient whose address starts with "refused" is answered 550, one that
starts with "later" 451, and a
message holding the text REFUSE-ME is answered 554 after its data, so tests
can make a real server refuse one message among others.
With $CAPTURE_REFUSE_LOGIN set, AUTH LOGIN is not offered and AUTH PLAIN
takes the login as the library's relay login sends it there: the user name
and the password as two plain lines, each answered.
Usage: capture_smtpd.py HOST PORT DIR [USER PASSWORD]
"""
import json
import os
import sys
import time
import uuid

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult
from serve import serve

host, port, root = sys.argv[1], int(sys.argv[2]), sys.argv[3]
user = sys.argv[4].encode() if len(sys.argv) > 4 else None
password = sys.argv[5].encode() if len(sys.argv) > 5 else None
for sub in ("new", "cur", "tmp"):
    os.makedirs(os.path.join(root, "Maildir", sub), exist_ok=True)
events_path = os.path.join(root, "events.jsonl")


def event(**kw):
    with open(events_path, "a") as f:
        f.write(json.dumps(kw) + "\n")


class HeloAuthSMTP(SMTP):
    def connection_made(self, transport):
        event(event="connect")
        super().connection_made(transport)

    async def smtp_HELO(self, hostname):
        await super().smtp_HELO(hostname)
        self.session.extended_smtp = True  # lets AUTH follow HELO
        event(event="helo", name=hostname)

    async def auth_PLAIN(self, _, args):
        if not os.environ.get("CAPTURE_REFUSE_LOGIN"):
            return await super().auth_PLAIN(_, args)
        await self.push("334 ")
        login = (await self._reader.readline()).rstrip(b"\r\n")
        await self.push("334 ")
        secret = (await self._reader.readline()).rstrip(b"\r\n")
        ok = login == user and secret == password
        event(event="auth", mechanism="PLAIN", login=login.decode("latin-1"), success=ok)
        return AuthResult(success=ok, handled=False)


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = user is None or (auth_data.login == user and auth_data.password == password)
    event(event="auth", mechanism=mechanism, login=auth_data.login.decode("latin-1"), success=ok)
    return AuthResult(success=ok, handled=False)


class MaildirHandler:
    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.startswith("refused"):
            event(event="refused", to=address)
            return "550 recipient refused"
        if address.startswith("later"):
            return "451 try again later"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if b"REFUSE-ME" in envelope.original_content:
            event(event="refused-data")
            return "554 message refused"
        name = "%d.%s" % (time.time_ns(), uuid.uuid4().hex)
        path = os.path.join(root, "Maildir", "new", name)
        with open(path + ".tmp", "wb") as f:
            f.write(envelope.original_content)
        with open(path + ".json", "w") as f:
            json.dump({"from": envelope.mail_from, "to": envelope.rcpt_tos}, f)
        os.rename(path + ".tmp", path)
        event(event="message", file=name, to=envelope.rcpt_tos)
        return "250 Message accepted for delivery"


class HeloAuthController(Controller):
    def factory(self):
        return HeloAuthSMTP(self.handler, authenticator=authenticator, auth_require_tls=False,
                            auth_exclude_mechanism=["LOGIN"] if os.environ.get("CAPTURE_REFUSE_LOGIN") else [],
                            decode_data=False)


controller = HeloAuthController(MaildirHandler(), hostname=host, port=port)
serve(controller, root)
