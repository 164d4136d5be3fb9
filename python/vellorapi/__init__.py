"""vellorapi: send mail from Python through libvellorapi (ctypes).

The library's records are declared once here, field for field as in
vellorapi.h. ``send()`` fills one request record from keyword arguments and
makes one VELLOR_Send_Message call; the status callback is any Python
callable ``on_status(status, code, text)``; a failure raises
``VellorError`` carrying the library's error code and text.

The library is found at the path in ``$VELLORAPI_LIBRARY`` (a build tree),
else beside this module (the package ``pip install .`` makes carries it),
else as ``libvellorapi.so.2`` (installed). On Windows it is ``vellorapi.dll``
(``__stdcall``, entered by the plain export names), with kernel32's global
memory.

The library is initialised once per process, at the first send, and never
closed down by the package: a close-down while another thread sends would
end that thread's use of the library. Each send has a request record of its
own, prepared with VELLOR_Initialize_Structure.
"""
import copy
import ctypes
import email.message
import email.utils
import os
import re
import stat
import tempfile
import threading
import unicodedata

try:
    import fcntl as _fcntl  # the claims of other senders; none on Windows
except ImportError:
    _fcntl = None

__all__ = ["send", "Sent", "VellorError", "SendRecord", "InitRecord", "library",
           "STATUS_FAILURE", "STATUS_PROGRESS", "STATUS_DELIVERED", "STATUS_PERCENT", "STATUS_DIALOGUE"]

STATUS_FAILURE, STATUS_PROGRESS, STATUS_DELIVERED, STATUS_PERCENT, STATUS_DIALOGUE = 920, 921, 922, 926, 927
_GHND = 0x0042

c_char, c_i16, c_i32, c_u32, c_void_p = ctypes.c_char, ctypes.c_int16, ctypes.c_int32, ctypes.c_uint32, ctypes.c_void_p


class SendRecord(ctypes.Structure):
    """SMTPSEND_STRUCTURE."""
    _fields_ = [
        ("szServer", c_char * 256), ("szServerIP", c_char * 16), ("szHeloDomain", c_char * 256), ("nPort", c_i32),
        ("szMessageFile", c_char * 260), ("szMsgExtension", c_char * 12), ("bDeleteMessage", c_i16),
        ("szSender", c_char * 256), ("szAuthUser", c_char * 128), ("szAuthPassword", c_char * 128),
        ("bUseEnvFile", c_i16), ("bSingleRecipient", c_i16), ("szRecipient", c_char * 256),
        ("bMultipleRecipients", c_i16), ("hRecipients", c_void_p), ("lpRecipients", c_void_p), ("nRecipients", c_i16),
        ("hMessage", c_void_p), ("dwReserved1", c_u32), ("nMaxMessages", c_i32), ("szMxIPAddress", (c_char * 16) * 8),
        ("szErrorText", c_char * 256), ("nMxIPAddresses", c_i16), ("nMessagesSent", c_i32), ("dwReserved2", c_u32),
        ("nErrorCode", c_i16), ("nWinsockError", c_i16), ("nInitialized", c_i16), ("nAttempt", c_i16),
        ("wReserved3", c_i16), ("bViaMX", c_i16), ("bMessageDirectory", c_i16), ("abReserved", c_char * 6),
    ]


class InitRecord(ctypes.Structure):
    """SMTPINIT_STRUCTURE."""
    _fields_ = [
        ("szApplication", c_char * 128), ("szVersion", c_char * 24), ("szTcpVersion", c_char * 24),
        ("szBuild", c_char * 8), ("szTcpBuild", c_char * 12), ("nLibraryCode", c_i32), ("dwStructRevision", c_u32),
        ("dwTcpStructRevision", c_u32), ("bLibraryInitialized", c_i16), ("nReserved", c_i32), ("dwReserved", c_u32),
    ]


_WINDOWS = os.name == "nt"
STATUS_CALLBACK = (ctypes.WINFUNCTYPE if _WINDOWS else ctypes.CFUNCTYPE)(c_i32, ctypes.POINTER(SendRecord), c_i32, ctypes.c_char_p, c_i32)


class VellorError(Exception):
    """A send that failed: ``code`` is the library's error code, ``text`` the
    first real cause (the first failure report: the failed step, the
    server's reason with only the secrets masked), else the code's text."""

    def __init__(self, code, text, messages_sent=0, remaining=0):
        super().__init__("%d: %s" % (code, text))
        self.code, self.text, self.messages_sent, self.remaining = code, text, messages_sent, remaining


class Sent(int):
    """The number of messages sent; ``remaining`` counts a queue directory's
    messages that this pass left (it stops at ``max_messages``, 250 by
    default)."""

    def __new__(cls, sent, remaining=0):
        self = super().__new__(cls, sent)
        self.remaining = remaining
        return self


_lib = None
_started = threading.Lock()
_init = None  # the library record of the process, once initialised


def _carried(name):
    """The library the package carries (``pip install .``), else the system's."""
    here = os.path.join(os.path.dirname(os.path.abspath(__file__)), name)
    return here if os.path.exists(here) else name


def library():
    """The loaded library, its calls declared."""
    global _lib
    if _lib is None:
        if _WINDOWS:
            lib = ctypes.WinDLL(os.environ.get("VELLORAPI_LIBRARY") or _carried("vellorapi.dll"))
            memory = ctypes.WinDLL("kernel32")
        else:
            if not os.environ.get("VELLORAPI_LIBRARY") and _carried("libkorvexapi.so.2") != "libkorvexapi.so.2":
                ctypes.CDLL(_carried("libkorvexapi.so.2"), mode=ctypes.RTLD_GLOBAL)  # the companion it needs
            lib = memory = ctypes.CDLL(os.environ.get("VELLORAPI_LIBRARY") or _carried("libvellorapi.so.2"))
        lib.VELLOR_Initialize_Library.argtypes = [ctypes.POINTER(InitRecord), c_u32, ctypes.c_char_p]
        lib.VELLOR_Closedown_Library.argtypes = [ctypes.POINTER(InitRecord), ctypes.c_char_p]
        lib.VELLOR_Initialize_Structure.argtypes = [ctypes.POINTER(InitRecord), ctypes.POINTER(SendRecord)]
        lib.VELLOR_Send_Message.argtypes = [ctypes.c_char_p, ctypes.POINTER(SendRecord), STATUS_CALLBACK]
        lib.VELLOR_Send_Message.restype = c_i32
        lib.VELLOR_Get_Error_Details.argtypes = [ctypes.POINTER(SendRecord)]
        lib.VELLOR_Set_Request_Option.argtypes = [ctypes.POINTER(SendRecord), ctypes.c_char_p, ctypes.c_char_p]
        lib.VELLOR_Set_Request_Option.restype = c_i32
        memory.GlobalAlloc.argtypes, memory.GlobalAlloc.restype = [ctypes.c_uint, ctypes.c_size_t], c_void_p
        memory.GlobalLock.argtypes, memory.GlobalLock.restype = [c_void_p], c_void_p
        memory.GlobalUnlock.argtypes = [c_void_p]
        memory.GlobalFree.argtypes, memory.GlobalFree.restype = [c_void_p], c_void_p
        memory.GlobalFlags.argtypes, memory.GlobalFlags.restype = [c_void_p], ctypes.c_uint
        lib.memory = memory
        _lib = lib
    return _lib


def _initialised(lib):
    """The process's library record: the library initialised at the first call, once."""
    global _init
    with _started:
        if _init is None:
            init = InitRecord()
            lib.VELLOR_Initialize_Library(ctypes.byref(init), 0, b"python")
            if not init.bLibraryInitialized:
                raise VellorError(-1, "the library could not be initialised")
            _init = init
    return _init


def _bytes(value):
    return value.encode() if isinstance(value, str) else bytes(value)


def _field(value, size, name):
    """A value for a fixed field: whole, or refused (never cut)."""
    data = _bytes(value)
    if len(data) >= size:
        raise ValueError("%s is longer than %d bytes" % (name, size - 1))
    if b"\0" in data:
        raise ValueError("%s holds a NUL byte, where it would be cut" % name)
    return data


def _address(value, name):
    """One address: never split at a blank, cut or empty; no control
    character (C0, DEL, C1), no format character, no separator (a blank,
    U+2028, U+2029) and no angle bracket (it would end or open the path of
    the command) anywhere in it."""
    data = _field(value, 256, name)
    text = data.decode("utf-8", "replace")
    if not data or any(c.isspace() or c in "<>" or unicodedata.category(c) in ("Cc", "Cf", "Zs", "Zl", "Zp")
                       for c in text):
        raise ValueError("%s: %r is not one address (empty, or holds a blank or control character)" % (name, value))
    return data


def _recipient(value):
    return _address(value, "to")


def _block(lib, data):
    handle = lib.memory.GlobalAlloc(_GHND, len(data) + 1)
    if not handle:
        raise MemoryError("GlobalAlloc failed")
    ctypes.memmove(lib.memory.GlobalLock(handle), data, len(data))
    lib.memory.GlobalUnlock(handle)
    return handle


def _set_options(lib, req, options):
    for name, value in options:
        value = str(int(value)) if isinstance(value, bool) else str(value)
        shown = "the token" if name.lower() == "oauth2token" else name
        if "\0" in name or "\0" in value:  # the library reads C strings: it would take the part before it
            raise ValueError("%s holds a NUL byte, where it would be cut" % shown)
        if lib.VELLOR_Set_Request_Option(ctypes.byref(req), name.encode(), value.encode()) != 0:
            raise ValueError("%s: %s" % (shown, req.szErrorText.decode("latin-1")))


def _from_email(msg, sender, to):
    """An email.message.Message as send_message takes it: the recipients
    from To, Cc and Bcc unless ``to`` is given, the sender from Sender or
    From unless given, and the bytes with CR LF line ends and without Bcc."""
    if not to:
        fields = sum((msg.get_all(name, []) for name in ("To", "Cc", "Bcc")), [])
        to = [address for _, address in email.utils.getaddresses(fields) if address]
    if sender is None:
        found = email.utils.getaddresses(msg.get_all("Sender", []) or msg.get_all("From", []))
        if len(found) != 1 or not found[0][1]:
            raise ValueError("no sender: give sender, or one address in the message's From")
        sender = found[0][1]
    msg = copy.copy(msg)
    del msg["Bcc"]
    return msg.as_bytes(policy=msg.policy.clone(linesep="\r\n")), sender, to


_IDENTIFIED = re.compile(r"(\d+) message(?:s|\(s\)) have been identified as waiting")
_UNPREFIXED = re.compile(r"^VellorAPI \[[^]]*\] - (\[\d+\] - )?")  # a report's own prefix
_timeout_turn = threading.Lock()  # the environment is the process's: sends with a timeout take turns


def _with_crlf(data):
    """Bare LF line ends become CR LF (the DotStuffing option stuffs the dots)."""
    return re.sub(rb"(?<!\r)\n", b"\r\n", data)


def _message_source(message, message_file, raw):
    """The text to send from memory (or None) and the absolute file or queue
    path (or ""); a missing path raises VellorError 910 naming it."""
    body = None if message is None else _bytes(message)
    if message_file and b"\0" in _bytes(os.fsencode(message_file)):
        raise ValueError("message_file holds a NUL byte, where it would be cut")
    path = os.path.abspath(message_file) if message_file else ""
    if path and not os.path.exists(path):
        raise VellorError(910, "no such message file or queue directory: %s" % message_file)
    if path and os.path.isfile(path) and body is None and not raw:
        try:
            with open(path, "rb") as f:
                body = f.read()
        except OSError as e:
            raise VellorError(910, "the message file %s cannot be read: %s" % (message_file, e.strerror)) from None
    if body is not None and not raw:
        body = _with_crlf(body)
    return body, path


def _login_options(user, password, oauth2_token, options):
    """A login asked for greets with EHLO and must succeed before MAIL FROM."""
    if oauth2_token and not user:
        raise ValueError("oauth2_token logs in as user: give user")
    if user and not password and not oauth2_token:
        raise ValueError("user needs a password or an oauth2_token to log in")
    forced = any(name.lower() == "authmechanism" for name in options)
    return [("AuthMechanism", "ANY")] if user and not forced else []


def _queue_files(path, options):
    """The queue directory's message files of its extension (MsgExtension, else txt)."""
    ext = str(dict((k.lower(), v) for k, v in options.items()).get("msgextension") or "txt").lower()
    return [os.path.join(path, n) for n in sorted(os.listdir(path))
            if n.lower().endswith("." + ext) and os.path.isfile(os.path.join(path, n))]


def _crlf_in_place(name):
    """A queued file with bare LF line ends gets CR LF: a new file beside it,
    synced, renamed over it; left alone while another sender holds it claimed,
    and never read through a link (another user's, naming a private file: its
    copy would be sent) or from a FIFO."""
    flags = os.O_RDONLY | getattr(os, "O_NOFOLLOW", 0) | getattr(os, "O_NONBLOCK", 0) | getattr(os, "O_BINARY", 0)
    try:
        fd = os.open(name, flags)
    except OSError:
        return  # gone, or a link: the library skips it
    with os.fdopen(fd, "rb") as f:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            return
        if _fcntl:
            try:
                _fcntl.flock(f.fileno(), _fcntl.LOCK_EX | _fcntl.LOCK_NB)
            except OSError:
                return
        text = f.read()
        if _with_crlf(text) == text:
            return
        fd, temp = tempfile.mkstemp(prefix=".vellor-", dir=os.path.dirname(name))
        with os.fdopen(fd, "wb") as out:
            out.write(_with_crlf(text))
            out.flush()
            os.fsync(out.fileno())
        os.chmod(temp, os.fstat(f.fileno()).st_mode & 0o7777)
        os.replace(temp, name)


def send(*, sender=None, to=(), message=None, message_file=None, server="", server_ip="", port=25, user="", password="",
         on_status=None, app="python", delete=False, envelope=False, helo="", options=None, oauth2_token=None,
         dkim=None, raw=False, timeout=None, max_messages=0, parallel=None, dsn=None):
    """Sends one message (text or bytes in ``message``, or a file or queue
    directory in ``message_file``) to ``to`` (an address or a list) and
    returns the number of messages sent (a ``Sent``, whose ``remaining``
    counts a queue's messages this pass left: it sends at most
    ``max_messages``, 0 for 250). ``message`` may be an
    ``email.message.EmailMessage``: without ``to`` its To, Cc and Bcc
    addresses are the recipients (the Bcc field is not sent), without
    ``sender`` its From address sends it. A message from memory or a file goes with
    CR LF line ends, dot-stuffed; ``raw=True`` sends the stored bytes.
    ``options`` maps library option names to values for this send only
    (VELLOR_Set_Request_Option); ``oauth2_token`` logs ``user`` in with an
    OAuth 2.0 access token (XOAUTH2 or OAUTHBEARER) instead of a password; a
    login asked for greets with EHLO and fails (917) before MAIL FROM when
    it cannot be made. ``dkim``, a dict of ``domain``, ``selector`` and
    ``key_file``, signs the message with DKIM; ``dsn``, a dict of any of
    ``notify``, ``return`` and ``envid``, asks for delivery status
    notifications where the server offers them. ``timeout`` (seconds) bounds
    each wait (it sets the process's KORVEXAPI_TIMEOUT_MS while the send
    runs); ``parallel`` sends a queue over up to that many connections.
    Raises VellorError on failure (a queue that holds messages and sends
    none included), ValueError for a value or option the library refuses."""
    if isinstance(message, email.message.Message):
        message, sender, to = _from_email(message, sender, to)
    elif sender is None:
        raise ValueError("no sender: give sender")
    recipients = [_recipient(a) for a in ([to] if isinstance(to, str) else list(to))]
    options = dict(options or {})
    body, path = _message_source(message, message_file, raw)
    if body is not None and b"\0" in body:
        raise ValueError("message holds a NUL byte at offset %d, where it would be cut: nothing sent" % body.index(b"\0"))
    if not 0 <= port <= 65535:
        raise ValueError("port %d is not a TCP port" % port)
    if timeout is not None and not 0 < timeout <= 86400:
        raise ValueError("timeout %r is not a number of seconds from 1 to 86400" % (timeout,))
    own = [("DotStuffing", 1)] if not raw else []
    for name in _queue_files(path, options) if body is None and os.path.isdir(path) and not raw else ():
        _crlf_in_place(name)  # a queue's files go CR LF like any message handed over
    own += _login_options(user, password, oauth2_token, options)
    own += [("QueueConnections", parallel)] if parallel is not None else []
    if dsn is not None:
        names = {"notify": "DSNNotify", "return": "DSNReturn", "envid": "DSNEnvelopeId"}
        if not dsn or set(dsn) - set(names):
            raise ValueError("dsn takes notify, return and envid, not %s" % ", ".join(sorted(dsn)))
        own += [(names[k], v) for k, v in sorted(dsn.items())]
    if timeout is None:
        return _send(sender, recipients, body, path, server, server_ip, port, user, password, on_status, app, delete,
                     envelope, helo, own, options, oauth2_token, dkim, max_messages)
    with _timeout_turn:
        before = os.environ.get("KORVEXAPI_TIMEOUT_MS")
        os.environ["KORVEXAPI_TIMEOUT_MS"] = str(int(timeout * 1000))
        try:
            return _send(sender, recipients, body, path, server, server_ip, port, user, password, on_status, app,
                         delete, envelope, helo, own, options, oauth2_token, dkim, max_messages)
        finally:
            if before is None:
                del os.environ["KORVEXAPI_TIMEOUT_MS"]
            else:
                os.environ["KORVEXAPI_TIMEOUT_MS"] = before


def _send(sender, recipients, body, path, server, server_ip, port, user, password, on_status, app, delete, envelope,
          helo, own, options, oauth2_token, dkim, max_messages):
    lib = library()
    req = SendRecord()
    name = _bytes(app)
    if len(name) >= 128:
        raise ValueError("app is longer than 127 bytes")
    if b"\0" in name:
        raise ValueError("app holds a NUL byte, where it would be cut")
    sender = _address(sender, "sender")
    own = own + list(options.items()) + ([("OAuth2Token", oauth2_token)] if oauth2_token else [])
    if dkim is not None:
        if sorted(dkim) != ["domain", "key_file", "selector"]:
            raise ValueError("dkim takes domain, selector and key_file, not %s" % ", ".join(sorted(dkim)))
        own += [("DKIMDomain", dkim["domain"]), ("DKIMSelector", dkim["selector"]), ("DKIMKeyFile", dkim["key_file"])]
    init = _initialised(lib)
    lib.VELLOR_Initialize_Structure(ctypes.byref(init), ctypes.byref(req))
    try:
        _set_options(lib, req, own)
    except ValueError:
        lib.VELLOR_Initialize_Structure(ctypes.byref(init), ctypes.byref(req))  # its options end here
        raise
    for field, value in (("szServer", server), ("szServerIP", server_ip), ("szSender", sender),
                         ("szAuthUser", user), ("szAuthPassword", password), ("szHeloDomain", helo),
                         ("szMessageFile", path)):
        setattr(req, field, _field(value, getattr(SendRecord, field).size, field))
    req.nPort, req.bDeleteMessage, req.bUseEnvFile, req.nMaxMessages = port, int(delete), int(envelope), max_messages
    blocks = []
    if len(recipients) == 1:
        req.szRecipient, req.bSingleRecipient = recipients[0], 1
    elif recipients:
        req.hRecipients = _block(lib, b" ".join(recipients))
        req.bMultipleRecipients = 1
        blocks.append(req.hRecipients)
    if body is not None:
        req.hMessage = _block(lib, body)
        blocks.append(req.hMessage)
    seen = {"failure": None, "identified": 0}

    def report(_request, status, text, code):
        text = (text or b"").decode("latin-1")
        if status == STATUS_FAILURE and seen["failure"] is None:
            seen["failure"] = _UNPREFIXED.sub("", text)
        counted = _IDENTIFIED.search(text) if status == STATUS_PROGRESS else None
        if counted:
            seen["identified"] = int(counted.group(1))
        if on_status:
            on_status(status, code, text)
        return 0

    callback = STATUS_CALLBACK(report)
    queued = len(_queue_files(path, options)) if body is None and os.path.isdir(path) else 0  # before delete=
    try:
        result = lib.VELLOR_Send_Message(name, ctypes.byref(req), callback)
        sent = req.nMessagesSent
        queued = max(queued, seen["identified"]) if queued else seen["identified"] if body is None else 0
        if result != 0:
            lib.VELLOR_Get_Error_Details(ctypes.byref(req))
            raise VellorError(req.nErrorCode, seen["failure"] or req.szErrorText.decode("latin-1"), sent,
                              max(0, queued - sent))
        if queued and not sent:
            raise VellorError(req.nErrorCode or 910, seen["failure"] or "the queue %s holds %d message(s) and none "
                              "was sent" % (path, queued), 0, queued)
        return Sent(sent, max(0, queued - sent))
    finally:
        lib.VELLOR_Initialize_Structure(ctypes.byref(init), ctypes.byref(req))  # frees a list the send left locked
        for handle in blocks:
            if lib.memory.GlobalFlags(handle) != 0x8000:  # GMEM_INVALID_HANDLE: already freed
                lib.memory.GlobalFree(handle)
