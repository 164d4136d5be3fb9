#!/usr/bin/python3
# The Python package against the aiosmtpd capture server: a message from
# memory with a login, a recipient list, the status callback, an exception
# carrying the library's code, a DKIM signature checked by python3-dkim, and
# the README's Python example run as written.
# Usage: test_python.py SOURCE-DIR LIBRARY-PATH
import base64
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE, LIBRARY = os.path.abspath(sys.argv.pop(1)), os.path.abspath(sys.argv.pop(1))
sys.path.insert(0, os.path.join(SOURCE, "python"))
os.environ["VELLORAPI_LIBRARY"] = LIBRARY
import vellorapi  # noqa: E402
sys.path.insert(0, os.path.join(SOURCE, "tests", "servers"))
from launch import free_port, start_capture  # noqa: E402


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

    def test_send_with_login_list_and_callback(self):
        before = len(self.stored())
        seen = []
        sent = vellorapi.send(sender="py@x.test", to=["a@b.test", "c@d.test"], server_ip="127.0.0.1", port=self.port,
                              user="demo", password="s3cret", message="Subject: py\r\n\r\nfrom python\r\n",
                              on_status=lambda status, code, text: seen.append((status, code, text)))
        self.assertEqual(sent, 1)
        self.assertEqual(len(self.stored()), before + 1)
        self.assertIn((922, 0, "Send of 1 message(s) completed"), seen)

    def test_token_and_options(self):
        before, seen = len(self.stored()), []
        sent = vellorapi.send(sender="py@x.test", to="a@b.test", server_ip="127.0.0.1", port=self.port, user="demo",
                              oauth2_token="good-token", options={"AuthMechanism": "OAUTHBEARER", "Transcript": True},
                              message="Subject: t\r\n\r\nx\r\n", on_status=lambda *r: seen.append(r))
        self.assertEqual((sent, len(self.stored())), (1, before + 1))
        self.assertIn((927, 0, "AUTH OAUTHBEARER ****"), seen)
        self.assertFalse([r for r in seen if "good-token" in r[2]])
        with self.assertRaises(vellorapi.VellorError) as caught:  # a refused token: 917, nothing sent
            vellorapi.send(sender="py@x.test", to="a@b.test", server_ip="127.0.0.1", port=self.port, user="demo",
                           oauth2_token="stale-token", message="x\r\n")
        self.assertEqual((caught.exception.code, len(self.stored())), (917, before + 1))
        with self.assertRaises(ValueError):
            vellorapi.send(sender="py@x.test", to="a@b.test", options={"SecureConnection": 5}, message="x")

    def test_dkim_signs_a_message_from_memory(self):
        key, before = os.path.join(self.dir, "dkim.pem"), len(self.stored())
        subprocess.run(["openssl", "genpkey", "-algorithm", "ed25519", "-out", key], check=True, timeout=30)
        der = subprocess.run(["openssl", "pkey", "-in", key, "-pubout", "-outform", "DER"], check=True,
                             capture_output=True, timeout=30).stdout
        record = b"v=DKIM1; k=ed25519; p=" + base64.b64encode(der[-32:])  # the raw key ends the DER form
        vellorapi.send(sender="py@x.test", to="a@b.test", server_ip="127.0.0.1", port=self.port,
                       message="From: py@x.test\r\nSubject: signed\r\n\r\nfrom memory \r\n\r\n",
                       dkim={"domain": "x.test", "selector": "s1", "key_file": key})
        message = open(os.path.join(self.capture, "Maildir", "new", self.stored()[before]), "rb").read()
        import dkim
        lookup = lambda name, **_: record if name.rstrip(b".") == b"s1._domainkey.x.test" else None
        self.assertTrue(dkim.verify(message, dnsfunc=lookup), message)

    def test_values_refused_before_the_call_never_cut_or_split(self):
        before = len(self.stored())
        for bad in (dict(sender="x" * 300), dict(to=["a@b.test", "c@d.test e@f.test"]), dict(to=["a@b.test\0x", "c@d.test"]),
                    dict(to=["a@b.test", "r" * 250 + "@d.test"]), dict(to=""), dict(message="Subject: x\r\n\r\na\0b\r\n"),
                    dict(port=65536 + self.port), dict(app="a" * 128), dict(to="a\x85@b.test"),
                    dict(to="a\u2028@b.test"), dict(sender="p\u2029y@x.test"), dict(sender="p\x9by@x.test"),
                    dict(dkim={"domain": "x.test", "key": "k.pem"})):
            with self.subTest(bad=bad), self.assertRaises(ValueError):
                vellorapi.send(**dict(dict(sender="py@x.test", to="a@b.test", server_ip="127.0.0.1", port=self.port,
                                           message="Subject: x\r\n\r\nx\r\n"), **bad))
        self.assertEqual(len(self.stored()), before)

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
