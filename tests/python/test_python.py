#!/usr/bin/python3
# The Python package against the aiosmtpd capture server: a message from
# memory to a recipient list with a token, options and a DKIM signature
# (checked by python3-dkim), IPv6 relays and exchangers (a capture server on
# ::1, names from dnsmasq), an exception carrying the library's code,
# values refused before the call, and the README's Python example (a login
# and the status callback) run as written.
# Usage: test_python.py SOURCE-DIR LIBRARY-PATH
import base64
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import threading
import unittest

SOURCE, LIBRARY = os.path.abspath(sys.argv.pop(1)), os.path.abspath(sys.argv.pop(1))
sys.path.insert(0, os.path.join(SOURCE, "python"))
os.environ["VELLORAPI_LIBRARY"] = LIBRARY
import vellorapi  # noqa: E402
sys.path.insert(0, os.path.join(SOURCE, "tests", "servers"))
from launch import dns_answers, free_port, start, start_capture  # noqa: E402


def read(path):
    with open(path) as f:
        return f.read()


class Python(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="vellor-py-")
        os.environ.update(VELLORAPI_SYSTEM_DIR=cls.dir, VELLORAPI_REGISTRY=os.path.join(cls.dir, "none.reg"),
                          KORVEXAPI_TIMEOUT_MS="3000")
        cls.port = free_port()
        cls.capture = os.path.join(cls.dir, "capture")
        cls.server = start_capture(cls.capture, cls.port)

    @classmethod
    def tearDownClass(cls):
        cls.server.terminate()
        cls.server.wait(timeout=10)
        shutil.rmtree(cls.dir, ignore_errors=True)

    def stored(self):
        new = os.path.join(self.capture, "Maildir", "new")
        return sorted(n for n in os.listdir(new) if not n.endswith(".json"))

    def send(self, **kw):  # a send to the capture server; KW over the defaults
        return vellorapi.send(**dict(dict(sender="py@x.test", to="a@b.test", server_ip="127.0.0.1", port=self.port,
                                          message="Subject: x\r\n\r\nx\r\n"), **kw))

    def test_list_token_options_and_dkim_from_memory(self):
        key, before, seen = os.path.join(self.dir, "dkim.pem"), len(self.stored()), []
        subprocess.run(["openssl", "genpkey", "-algorithm", "ed25519", "-out", key], check=True, timeout=30)
        der = subprocess.run(["openssl", "pkey", "-in", key, "-pubout", "-outform", "DER"], check=True,
                             capture_output=True, timeout=30).stdout
        record = b"v=DKIM1; k=ed25519; p=" + base64.b64encode(der[-32:])  # the raw key ends the DER form
        sent = self.send(to=["a@b.test", "c@d.test"], user="demo", oauth2_token="good-token",
                         on_status=lambda *r: seen.append(r), options={"AuthMechanism": "OAUTHBEARER", "Transcript": 1},
                         message="From: py@x.test\r\nSubject: signed\r\n\r\nfrom memory \r\n\r\n",
                         dkim={"domain": "x.test", "selector": "s1", "key_file": key})
        self.assertEqual((sent, len(self.stored())), (1, before + 1))
        self.assertIn((927, 0, "RCPT TO: <c@d.test>"), seen)
        self.assertIn((927, 0, "AUTH OAUTHBEARER ****"), seen)
        message = open(os.path.join(self.capture, "Maildir", "new", self.stored()[before]), "rb").read()
        import dkim
        lookup = lambda name, **_: record if name.rstrip(b".") == b"s1._domainkey.x.test" else None
        self.assertTrue(dkim.verify(message, dnsfunc=lookup), message)
        with self.assertRaises(vellorapi.VellorError) as caught:  # a refused token: 917, nothing sent
            self.send(user="demo", oauth2_token="stale-token")
        self.assertEqual((caught.exception.code, len(self.stored())), (917, before + 1))
        with self.assertRaises(ValueError):
            self.send(options={"SecureConnection": 5})

    def test_an_email_message_goes_to_to_cc_and_bcc_from_its_from_without_bcc_and_dot_stuffed(self):
        from email.message import EmailMessage
        msg, before = EmailMessage(), len(self.stored())
        msg["From"], msg["To"], msg["Cc"], msg["Bcc"] = "Py <py@x.test>", "a@b.test, B <b@b.test>", "c@d.test", "e@f.test"
        msg["Subject"] = "mime"
        msg.set_content("line\n.\nend\n")
        self.assertEqual(vellorapi.send(message=msg, server_ip="127.0.0.1", port=self.port), 1)
        name = os.path.join(self.capture, "Maildir", "new", self.stored()[before])
        text, envelope = open(name, "rb").read(), open(name + ".json").read()
        self.assertIn(b"\r\nline\r\n.\r\nend\r\n", text)
        self.assertNotIn(b"e@f.test", text)
        self.assertEqual(json.loads(envelope), {"from": "py@x.test", "to": ["a@b.test", "b@b.test", "c@d.test", "e@f.test"]})

    def test_keep_connection_works_since_the_package_keeps_the_library_initialised(self):
        seen = []
        for _ in range(2):
            self.assertEqual(self.send(message="Subject: kept\n\nx\n", options={"KeepConnection": 30},
                                       on_status=lambda *r: seen.append(r)), 1)
        self.assertTrue(any("kept open by an earlier call reused" in r[2] for r in seen), seen)

    def test_ipv6_literal_aaaa_only_relay_and_exchangers(self):
        """A relay by IPv6 literal and by an AAAA-only name, MX to an AAAA-only exchanger and to one whose IPv4
        port is closed, under the default family (auto) and under any."""
        server6 = start_capture(self.capture, self.port, host="::1")
        dns_port, conf = free_port(socket.SOCK_DGRAM), os.path.join(self.dir, "dnsmasq.conf")
        with open(conf, "w") as f:
            f.write("no-resolv\nno-hosts\nbind-interfaces\nlisten-address=127.0.0.1\nport=%d\nlocal=/test/\n"
                    "host-record=six.py.test,::1\nhost-record=dual.py.test,127.0.0.2,::1\n"
                    "mx-host=v6.py.test,six.py.test,10\nmx-host=dual.py.test,dual.py.test,10\n" % dns_port)
        dnsmasq = start(["/usr/sbin/dnsmasq", "--conf-file=" + conf, "--keep-in-foreground", "--pid-file="] +
                        (["--user=root"] if os.getuid() == 0 else []))
        os.environ["KORVEXAPI_DNS_SERVERS"] = "127.0.0.1:%d" % dns_port
        try:
            self.assertTrue(dns_answers(dns_port), "dnsmasq does not answer")
            before = len(self.stored())
            for kw in (dict(server="::1"), dict(server="[::1]", options={"AddressFamily": "6"}),
                       dict(server="six.py.test"), dict(to="a@v6.py.test"), dict(to="a@dual.py.test"),
                       dict(to="a@dual.py.test", options={"AddressFamily": "any"})):
                with self.subTest(**kw):
                    self.assertEqual(self.send(server_ip="", **kw), 1)
            self.assertEqual(len(self.stored()), before + 6)
        finally:
            del os.environ["KORVEXAPI_DNS_SERVERS"]
            for p in (server6, dnsmasq):
                p.terminate()
                p.wait(timeout=10)

    def test_dsn_values_reach_a_server_offering_dsn_as_xtext(self):
        dump, port = tempfile.mkdtemp(prefix="vellor-sink-"), free_port()
        os.chmod(dump, 0o777)  # smtp-sink drops to nobody when run as root (the class folder is private)
        sink = start(["/usr/sbin/smtp-sink", "-d", dump + "/%M."] + (["-u", "nobody"] if os.getuid() == 0 else []) +
                     ["127.0.0.1:%d" % port, "10"])
        try:
            for _ in range(100):  # until it listens, at most 10 s
                with socket.socket() as probe:
                    if probe.connect_ex(("127.0.0.1", port)) == 0:
                        break
                time.sleep(0.1)
            self.assertEqual(self.send(to="a+b@b.test", port=port,
                                       dsn={"notify": "success,failure", "return": "hdrs", "envid": "id+1=x"}), 1)
            for _ in range(100):  # the dump is written as the transaction ends
                text = "".join(read(os.path.join(dump, n)) for n in os.listdir(dump))
                if "X-Rcpt-Args" in text:
                    break
                time.sleep(0.1)
            self.assertIn("X-Mail-Args: <py@x.test> RET=HDRS ENVID=id+2B1+3Dx\n", text)
            self.assertIn("X-Rcpt-Args: <a+b@b.test> NOTIFY=SUCCESS,FAILURE ORCPT=rfc822;a+2Bb@b.test\n", text)
        finally:
            sink.terminate()
            sink.wait(timeout=10)
            shutil.rmtree(dump, ignore_errors=True)

    def test_values_refused_before_the_call_never_cut_or_split(self):
        before = len(self.stored())
        for bad in (dict(sender="x" * 300), dict(to=["a@b.test", "c@d.test e@f.test"]), dict(to=["a@b.test\0x"]),
                    dict(to=""), dict(message="Subject: x\r\n\r\na\0b\r\n"), dict(port=65536 + self.port),
                    dict(app="a" * 128), dict(to="a\x85@b.test"), dict(sender="p\u2029y@x.test"),
                    dict(dkim={"domain": "x.test", "key": "k.pem"}), dict(to=["a@b.test", "c@y.test>d@z.test"]),
                    dict(options={"logfile": os.path.join(self.dir, "log\0x")}), dict(user="demo", oauth2_token="to\0k"),
                    dict(dkim={"domain": "x.test", "selector": "s1", "key_file": "k.pem\0x"}),
                    dict(message=None, message_file=os.path.join(self.dir, "capture\0x")),
                    dict(dsn={"notify": "never,delay"})):
            with self.subTest(bad=bad), self.assertRaises(ValueError):
                self.send(**bad)
        self.assertEqual(len(self.stored()), before)

    def test_crlf_login_before_mail_queue_limits_and_causes(self):
        before, queue = len(self.stored()), os.path.join(self.dir, "queue")
        self.send(message="Subject: lf\n\nbefore\n.\n..two\n")  # CR LF, dot-stuffed
        stored = open(os.path.join(self.capture, "Maildir", "new", self.stored()[-1]), "rb").read()
        self.assertEqual(stored, b"Subject: lf\r\n\r\nbefore\r\n.\r\n..two\r\n\r\n")
        for bad in (dict(oauth2_token="good-token"), dict(user="demo")):  # a login that cannot be made
            with self.subTest(bad=bad), self.assertRaises(ValueError):
                self.send(**bad)
        with self.assertRaises(vellorapi.VellorError) as caught:  # refused: nothing sent, the reason shown
            self.send(user="demo", password="nope")
        self.assertEqual(caught.exception.text, "SMTP AUTH PLAIN login was refused by server: 535 5.7.8 "
                                                "Authentication credentials invalid")
        with self.assertRaises(vellorapi.VellorError) as caught:
            self.send(message=None, message_file="no-such-queue")
        self.assertIn("no such message file or queue directory: no-such-queue", caught.exception.text)
        os.makedirs(queue)
        for n in range(3):
            with open(os.path.join(queue, "%d.txt" % n), "w") as f:
                f.write("Subject: q%d\n\nx\n.\n" % n)
        sent = self.send(message=None, message_file=queue, max_messages=2, parallel=2, timeout=5, delete=True)
        self.assertEqual((sent, sent.remaining, len(self.stored())), (2, 1, before + 3))
        stored = open(os.path.join(self.capture, "Maildir", "new", self.stored()[-1]), "rb").read()
        self.assertRegex(stored, rb"^Subject: q\d\r\n\r\nx\r\n\.\r\n\r\n$")
        with socket.create_server(("127.0.0.1", 0)) as silent, self.assertRaises(vellorapi.VellorError):
            self.send(port=silent.getsockname()[1], timeout=1)

    def test_a_link_in_a_queue_is_not_made_a_copy_of_the_private_file_it_names(self):
        # Another local user's link in a shared queue, naming a file of the sender's with LF line ends: the
        # CR LF rewrite replaced the link by a copy of that file, which the library then sent.
        queue, private = os.path.join(self.dir, "linkq"), os.path.join(self.dir, "private")
        os.makedirs(queue)
        for name, text in ((private, "Subject: private\n\nnot for mail\n"), (os.path.join(queue, "b.txt"), "Subject: b\n\nx\n")):
            with open(name, "w") as f:
                f.write(text)
        os.symlink(private, os.path.join(queue, "a.txt"))
        self.send(message=None, message_file=queue)
        new = os.path.join(self.capture, "Maildir", "new")
        self.assertTrue(os.path.islink(os.path.join(queue, "a.txt")))
        self.assertNotIn("not for mail", "".join(read(os.path.join(new, n)) for n in self.stored()))

    def test_two_threads_never_send_the_starttls_side_in_the_clear(self):
        # One thread requires STARTTLS of a server that does not offer it, the
        # other sends plainly at once: the strict side always fails (907),
        # never logging in or sending in the clear.
        before, failures, stop = len(self.stored()), [], threading.Event()
        logins = lambda: read(os.path.join(self.capture, "events.jsonl")).count('"auth"')
        logins_before = logins()

        def plain():
            while not stop.is_set():
                self.send(sender="plain@x.test")

        other = threading.Thread(target=plain)
        other.start()
        try:
            for _ in range(1500):
                try:
                    self.send(sender="strict@x.test", user="demo", password="s3cret",
                              options={"SecureConnection": 1})
                    failures.append("sent")
                except vellorapi.VellorError as e:
                    if e.code != 907:
                        failures.append(e.code)
        finally:
            stop.set()
            other.join(timeout=60)
        new = os.path.join(self.capture, "Maildir", "new")
        strict = [n for n in self.stored()[before:] if "strict" in read(os.path.join(new, n + ".json"))]
        self.assertEqual((failures, strict, logins()), ([], [], logins_before))

    def test_the_last_connection_keeps_its_code_when_a_limited_one_ends_later(self):
        # Every MAIL FROM answered 451 4.7.1; the first connection refused gives its message back and ends,
        # its QUIT answered late, after the last connection failed its messages: the pass keeps 902, not the
        # limited connection's cleared 0.
        queue, mails, lock = os.path.join(self.dir, "limitq"), [], threading.Lock()
        os.makedirs(queue)
        for n in range(2):
            with open(os.path.join(queue, "m%d.txt" % n), "wb") as f:
                f.write(b"Subject: m\r\n\r\nx\r\n")

        def serve(conn):
            first = False
            with conn, conn.makefile("rb") as lines:
                conn.sendall(b"220 hi\r\n")
                for line in lines:
                    reply = b"250 ok"
                    if line.startswith(b"MAIL"):
                        with lock:
                            mails.append(line)
                            first = first or len(mails) == 1
                            time.sleep(0 if first or len(mails) > 2 else 0.2)
                        reply = b"451 4.7.1 slow down"
                    elif line.startswith(b"QUIT"):
                        time.sleep(0.6 if first else 0)
                        reply = b"221 bye"
                    conn.sendall(reply + b"\r\n")

        with socket.create_server(("127.0.0.1", 0)) as listener:
            threading.Thread(target=lambda: [threading.Thread(target=serve, args=(listener.accept()[0],)).start()
                                             for _ in range(2)], daemon=True).start()
            lib, byref = vellorapi.library(), vellorapi.ctypes.byref
            req = vellorapi.SendRecord()
            lib.VELLOR_Initialize_Structure(byref(vellorapi._initialised(lib)), byref(req))
            req.szServerIP, req.nPort, req.szSender = b"127.0.0.1", listener.getsockname()[1], b"py@x.test"
            req.szRecipient, req.bSingleRecipient, req.bDeleteMessage = b"a@b.test", 1, 1
            req.szMessageFile = queue.encode()
            for name, value in ((b"MsgExtension", b"txt"), (b"QueueConnections", b"2")):
                lib.VELLOR_Set_Request_Option(byref(req), name, value)
            result = lib.VELLOR_Send_Message(b"py", byref(req), vellorapi.STATUS_CALLBACK(lambda *a: 0))
        self.assertEqual((result, req.nMessagesSent, req.nErrorCode, len(os.listdir(queue))), (-1, 0, 902, 2))

    def test_readme_example_runs_as_written(self):
        readme = open(os.path.join(SOURCE, "README.md")).read()
        example = re.search(r"```python\n(.*?)```", readme, re.S).group(1)
        env = dict(os.environ, PYTHONPATH=os.path.join(SOURCE, "python"), SMTP_PORT=str(self.port),
                   SMTP_PASSWORD="s3cret")
        r = subprocess.run(["/usr/bin/python3", "-c", example], env=env, capture_output=True, text=True, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("sent 1", r.stdout)


if __name__ == "__main__":
    unittest.main(verbosity=2)
