#!/usr/bin/python3
"""SMTP sink for tests: accepts every message on 127.0.0.1 and stores it.

Usage: smtp_sink.py DIR [PORT [store|discard [OPTION...]]]. Listens on PORT
(default: a free port; 0 also means one), and with "discard" accepts messages
without storing them (for benchmarks that time the client, not the disk).
Options: "starttls=CERT,KEY" offers STARTTLS, "tls=CERT,KEY" speaks TLS from
the first byte, "auth=USER,PASSWORD" requires AUTH (PLAIN or LOGIN) before
MAIL; each AUTH attempt is a line "tls|plain USER ok|refused" in DIR/auth.log,
so tests see whether a password ever crossed an unencrypted session.
It writes the port number to DIR/port once it accepts connections, and
unless discarding stores message N as
  DIR/N.eml       the data as received (dot-stuffing removed),
  DIR/N.subject   the Subject header decoded to UTF-8,
  DIR/N.body      the body decoded (transfer encoding and charset) to UTF-8,
  DIR/N.envelope  "MAIL FROM:<a>" and one "RCPT TO:<b>" line per recipient,
written last, so a message counts once its .envelope file exists.
Recipients whose local part starts with "reject" are refused with 550, so
tests can see a server refuse delivery.
Stops on SIGTERM or when its standard input closes (the test process died).
Needs Debian's python3-aiosmtpd, so it runs under /usr/bin/python3.
"""
import asyncio
import email
import email.policy
import logging
import os
import signal
import ssl
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def write_file(path, data):
    temp = path + ".tmp"
    with open(temp, "wb") as out:
        out.write(data)
    os.replace(temp, path)


class StoreHandler:
    def __init__(self, directory, store=True):
        self.directory = directory
        self.store = store
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower().startswith("reject"):
            return "550 5.1.1 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        if not self.store:
            return "250 Message accepted for delivery"
        base = os.path.join(self.directory, "%05d" % self.count)
        data = envelope.original_content or envelope.content
        write_file(base + ".eml", data)
        try:
            message = email.message_from_bytes(data, policy=email.policy.default)
            subject = str(message.get("subject", ""))
            body = message.get_content() if not message.is_multipart() else ""
        except Exception as error:  # keep the raw data even if parsing fails
            subject, body = "", "unparsable: %s" % error
        write_file(base + ".subject", subject.encode("utf-8", "surrogateescape"))
        write_file(base + ".body", body.encode("utf-8", "surrogateescape"))
        lines = ["MAIL FROM:<%s>" % envelope.mail_from]
        lines += ["RCPT TO:<%s>" % rcpt for rcpt in envelope.rcpt_tos]
        write_file(base + ".envelope", ("\n".join(lines) + "\n").encode("utf-8"))
        return "250 Message accepted for delivery"


def tls_context(files):
    cert, key = files.split(",", 1)
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
    return context


class Authenticator:
    def __init__(self, directory, user, password):
        self.log = os.path.join(directory, "auth.log")
        self.user = user.encode()
        self.password = password.encode()

    def __call__(self, server, session, envelope, mechanism, auth_data):
        encrypted = server.transport.get_extra_info("ssl_object") is not None
        good = (isinstance(auth_data, LoginPassword) and auth_data.login == self.user
                and auth_data.password == self.password)
        login = auth_data.login.decode(errors="replace") if isinstance(auth_data, LoginPassword) else "?"
        with open(self.log, "a") as out:
            out.write("%s %s %s\n" % ("tls" if encrypted else "plain", login,
                                      "ok" if good else "refused"))
        return AuthResult(success=good, handled=False)


async def main(directory, port, store, options):
    # A sink that takes a password in clear on purpose needs no warning.
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    loop = asyncio.get_running_loop()
    handler = StoreHandler(directory, store)
    settings = {"hostname": "sink.test"}
    listen_tls = None
    for option in options:
        name, _, value = option.partition("=")
        if name == "starttls":
            settings["tls_context"] = tls_context(value)
        elif name == "tls":
            listen_tls = tls_context(value)
        elif name == "auth":
            user, _, password = value.partition(",")
            settings["authenticator"] = Authenticator(directory, user, password)
            settings["auth_required"] = True
    if "authenticator" in settings:
        # Refused before STARTTLS when STARTTLS is offered; an implicit TLS
        # session is encrypted from the start; without either the sink takes
        # a password in clear, as a careless server would.
        settings["auth_require_tls"] = "tls_context" in settings
    server = await loop.create_server(
        lambda: SMTP(handler, **settings), host="127.0.0.1", port=port,
        reuse_address=True, ssl=listen_tls)
    port = server.sockets[0].getsockname()[1]
    write_file(os.path.join(directory, "port"), str(port).encode())

    stop = asyncio.Event()
    loop.add_signal_handler(signal.SIGTERM, stop.set)
    loop.add_signal_handler(signal.SIGINT, stop.set)
    loop.add_reader(sys.stdin.fileno(),
                    lambda: None if os.read(sys.stdin.fileno(), 4096) else stop.set())
    await stop.wait()
    server.close()
    await server.wait_closed()


if __name__ == "__main__":
    asyncio.run(main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 0,
                     not (len(sys.argv) > 3 and sys.argv[3] == "discard"), sys.argv[4:]))
