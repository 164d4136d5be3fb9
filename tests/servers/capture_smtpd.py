#!/usr/bin/python3
# The capture SMTP server of the tests and the demo, on aiosmtpd.
# HELO also allows AUTH (LOGIN and PLAIN). Accepted messages are stored byte
# for byte in Maildir/new with their envelope beside them in a JSON file;
# connections, HELO, logins and dropped connections go to events.jsonl,
# command verbs (and each MAIL FROM parameter, such as SIZE=56) to
# commands.txt.
# Recipients starting "refused" are answered 550, "later" 451; a message
# holding DROP-ME has its connection dropped after its data, without a
# reply, the first time only. The OAuth 2.0 logins XOAUTH2 and OAUTHBEARER
# (RFC 7628) take the user name with the token "good-token"; another token
# is refused with the mechanism's JSON error in a 334, then 535 (the token
# itself is never written anywhere).
# $CAPTURE_SIZE_LIMIT sets the size limit the server lists (SIZE, 32 MiB
# otherwise); with $CAPTURE_SMTPUTF8 set it offers SMTPUTF8.
# With --tls, MODE is starttls (offered and required before AUTH and MAIL),
# implicit (TLS from the first byte), nostarttls (not offered) or refuse
# (answered "454 TLS not available"). When the server is listening, the file
# "ready" (holding its process id) appears in DIR.
# Usage: capture_smtpd.py HOST PORT DIR [USER PASSWORD] [--tls MODE CERT KEY]
import base64
import json
import os
import ssl
import sys
import time
import uuid

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult

args = sys.argv[1:]
mode, tls = (args[-3], args[-3:]) if "--tls" in args else ("plain", None)
args = args[:args.index("--tls")] if tls else args
host, port, root = args[0], int(args[1]), args[2]
user = args[3].encode() if len(args) > 3 else None
password = args[4].encode() if len(args) > 4 else None
for sub in ("new", "cur", "tmp"):
    os.makedirs(os.path.join(root, "Maildir", sub), exist_ok=True)
context = None
if tls:
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(tls[1], tls[2])
GOOD_TOKEN = "good-token"
dropped = set()  # the DROP-ME messages whose connection was dropped once


def event(**kw):
    with open(os.path.join(root, "events.jsonl"), "a") as f:
        f.write(json.dumps(kw) + "\n")


def note(verb):
    with open(os.path.join(root, "commands.txt"), "a") as f:
        f.write(verb + "\n")


class CaptureSMTP(SMTP):
    def connection_made(self, transport):
        event(event="connect")
        super().connection_made(transport)

    async def smtp_HELO(self, hostname):
        note("HELO")
        await super().smtp_HELO(hostname)
        self.session.extended_smtp = True  # lets AUTH follow HELO
        event(event="helo", name=hostname)

    async def smtp_EHLO(self, arg):
        note("EHLO")
        await super().smtp_EHLO(arg)

    async def smtp_STARTTLS(self, arg):
        note("STARTTLS")
        if mode == "refuse":
            await self.push("454 4.7.0 TLS not available")
            return
        await super().smtp_STARTTLS(arg)

    async def smtp_AUTH(self, arg):
        note("AUTH")
        await super().smtp_AUTH(arg)

    async def smtp_MAIL(self, arg):
        note("MAIL")
        for parameter in (arg or "").partition(">")[2].split():
            note(parameter)
        await super().smtp_MAIL(arg)

    async def token_login(self, mechanism, args, user_of, error):
        if len(args) < 2:
            return AuthResult(success=False, handled=False)
        text = base64.b64decode(args[1]).decode("latin-1")
        fields = dict(f.split("=", 1) for f in text.split("\x01") if "=" in f)
        login = user_of(text)
        ok = login.encode() == user and fields.get("auth") == "Bearer " + GOOD_TOKEN
        event(event="auth", mechanism=mechanism, login=login, success=ok)
        if not ok:
            await self.push("334 " + base64.b64encode(json.dumps(error).encode()).decode())
            await self._reader.readline()  # the client's empty (or 0x01) answer
        return AuthResult(success=ok, handled=False)

    async def auth_XOAUTH2(self, _, args):
        return await self.token_login("XOAUTH2", args, lambda t: t.split("\x01")[0][len("user="):],
                                      {"status": "401", "schemes": "bearer"})

    async def auth_OAUTHBEARER(self, _, args):
        def user_of(t):  # "n,a=USER,^A..."
            head = t.split("\x01")[0].split(",")
            return next((p[2:] for p in head if p.startswith("a=")), "").replace("=2C", ",").replace("=3D", "=")
        return await self.token_login("OAUTHBEARER", args, user_of, {"status": "invalid_token"})


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = user is None or (auth_data.login == user and auth_data.password == password)
    event(event="auth", mechanism=mechanism, login=auth_data.login.decode("latin-1"), success=ok)
    return AuthResult(success=ok, handled=False)


class MaildirHandler:
    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.startswith("refused"):
            return "550 recipient refused"
        if address.startswith("later"):
            return "451 try again later"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if b"DROP-ME" in envelope.original_content and envelope.original_content not in dropped:
            dropped.add(envelope.original_content)
            event(event="dropped")
            server.transport.abort()
            return "421 dropped"
        name = "%d.%s" % (time.time_ns(), uuid.uuid4().hex)
        path = os.path.join(root, "Maildir", "new", name)
        with open(path + ".tmp", "wb") as f:
            f.write(envelope.original_content)
        with open(path + ".json", "w") as f:
            json.dump({"from": envelope.mail_from, "to": envelope.rcpt_tos}, f)
        os.rename(path + ".tmp", path)
        return "250 Message accepted for delivery"


class CaptureController(Controller):
    def factory(self):
        starttls = mode in ("starttls", "refuse")
        return CaptureSMTP(self.handler, authenticator=authenticator, decode_data=False,
                           tls_context=context if starttls else None, require_starttls=mode == "starttls",
                           auth_require_tls=starttls,
                           data_size_limit=int(os.environ.get("CAPTURE_SIZE_LIMIT", 2**25)),
                           enable_SMTPUTF8=bool(os.environ.get("CAPTURE_SMTPUTF8")))


controller = CaptureController(MaildirHandler(), hostname=host, port=port,
                               **({"ssl_context": context} if mode == "implicit" else {}))
controller.start()
with open(os.path.join(root, "ready"), "w") as f:
    f.write(str(os.getpid()))
try:
    time.sleep(10**9)  # until the fixture stops the process
except KeyboardInterrupt:
    pass
finally:
    controller.stop()
