#!/usr/bin/python3
"""A TLS capture SMTP server for the tests, on aiosmtpd.

MODE is one of:
  starttls    STARTTLS offered and required before AUTH and MAIL
  implicit    TLS from the first byte (port 465 style)
  nostarttls  no STARTTLS offered at all
  refuse      STARTTLS offered, but answered "454 TLS not available"
Every command verb the server receives is appended to DIR/commands.txt, so
a test can show that no AUTH and no MAIL FROM reached it; accepted messages
are stored byte for byte in DIR/Maildir/new.
Usage: tls_smtpd.py HOST PORT DIR CERT KEY MODE [USER PASSWORD]
"""
import os
import ssl
import sys
import time
import uuid

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult
from serve import serve

host, port, root, cert, key, mode = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5], sys.argv[6]
user = sys.argv[7].encode() if len(sys.argv) > 7 else None
password = sys.argv[8].encode() if len(sys.argv) > 8 else None
os.makedirs(os.path.join(root, "Maildir", "new"), exist_ok=True)
context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
context.load_cert_chain(cert, key)


def note(verb):
    with open(os.path.join(root, "commands.txt"), "a") as f:
        f.write(verb + "\n")


class RecordingSMTP(SMTP):
    async def smtp_EHLO(self, arg):
        note("EHLO")
        await super().smtp_EHLO(arg)

    async def smtp_HELO(self, arg):
        note("HELO")
        await super().smtp_HELO(arg)

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
        await super().smtp_MAIL(arg)


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = user is None or (auth_data.login == user and auth_data.password == password)
    note("AUTH-OK" if ok else "AUTH-BAD")
    return AuthResult(success=ok, handled=False)


class MaildirHandler:
    async def handle_DATA(self, server, session, envelope):
        path = os.path.join(root, "Maildir", "new", "%d.%s" % (time.time_ns(), uuid.uuid4().hex))
        with open(path + ".tmp", "wb") as f:
            f.write(envelope.original_content)
        os.rename(path + ".tmp", path)
        return "250 Message accepted for delivery"


class TlsController(Controller):
    def factory(self):
        starttls = mode in ("starttls", "refuse")
        return RecordingSMTP(self.handler, tls_context=context if starttls else None,
                             require_starttls=mode == "starttls", auth_require_tls=mode in ("starttls", "refuse"),
                             authenticator=authenticator, auth_exclude_mechanism=[], decode_data=False)


kwargs = {"ssl_context": context} if mode == "implicit" else {}
controller = TlsController(MaildirHandler(), hostname=host, port=port, **kwargs)
serve(controller, root)
