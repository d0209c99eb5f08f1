#!/usr/bin/python3
"""A real FTP server for tests, the demo and the benchmark (pyftpdlib).

Serves one folder, read-only, to the given accounts on 127.0.0.1 (or the
given address) in active and passive mode. The port is fixed (--port 21) or
chosen by the system (--port 0, the default); the chosen port is printed as
"listening on HOST:PORT" and written to --port-file once the server accepts
connections.

Commands:
  run    serve in the foreground until SIGTERM or SIGINT
  start  serve in the background: returns once the server listens, leaving
         STATE/port (the port number), STATE/pid and STATE/server.log
  stop   stop the server that "start" left in STATE (waits for its end)

Options shared by run and start (see --help):
  --root DIR                 folder served (created when missing)
  --user NAME:PASSWORD       an account (repeat for more); all share the root
  --file PATH=SIZE           create PATH (relative to the root) with SIZE
                             bytes of deterministic content (repeatable;
                             SIZE may end in K, M or G)
  --dir PATH                 create an empty folder under the root
  --nlst-dots                names-only listings begin with "." and ".."
  --nlst-suffix NAME=TEXT    NAME is listed by NLST followed by TEXT, e.g.
                             trailing blanks (escapes \\t \\r \\x20 allowed)
  --nlst-eol crlf|lf         line end of names-only listings (default crlf)
  --nlst-extra NAME          names-only listings of a folder hold NAME
                             (sorted in with the others) whether or not it
                             exists there (repeatable), e.g. a name with a
                             sub-folder part
  --delay-login SECONDS      answer USER only after that pause (the client
                             shows its "connected" state meanwhile)
  --log-commands             the log (--log, or STATE/server.log) also holds
                             every command received and every reply sent
  --refuse NAME              RETR of a file of that name is answered 550
  --throttle BYTES_PER_SEC   slow data transfers down to about that rate
  --throttle-only NAME       throttle only RETR of that name (repeatable)
  --passive-ports LO-HI      range for passive data connections
  --cut NAME:BYTES:DELAY:REPLY
                             RETR of NAME sends only BYTES bytes (from the
                             REST offset, if any),
                             closes the data connection as if the file had
                             ended, and answers REPLY (e.g. "426 Connection
                             closed; transfer aborted.") DELAY seconds later
                             instead of 226 (repeatable)
  --cut-first NAME:BYTES:DELAY:REPLY
                             as --cut, for the first RETR of NAME only: the
                             next one (a resumed transfer) goes as usual
  --die-after NAME:BYTES     RETR of NAME sends its first BYTES bytes, then
                             the whole server process ends at once (its
                             sockets close as the system closes them), as a
                             server that dies in the middle of a file
  --refuse-sessions REPLY    every session is greeted with REPLY (e.g. "421
                             Too many users") and closed
  --reply-421 NAME           RETR of NAME is answered "421 Service not
                             available, closing control connection." and the
                             session closed (repeatable)
  --nlst-root-reply REPLY    a names-only listing of the login folder is
                             answered REPLY (e.g. "450 No files found")
  --race-data-from ADDR      a second host: on every PORT command, before the
                             server answers it, a connection from ADDR (e.g.
                             127.0.0.2) reaches the named port first, sends
                             20,000 bytes ("evil.dll" lines) and closes

Exit status: 0 after a clean stop, 2 on usage errors, 1 when the server could
not start (the reason is printed).
"""
import argparse
import logging
import os
import random
import signal
import sys
import zlib

import background

DEFAULT_HOST = '127.0.0.1'


# ---- served files -------------------------------------------------------

def sample_bytes(name, size):
    """Deterministic content for a served file: a 1 MiB random block seeded by
    the file's name, every further MiB rotated differently, so that a block
    written at a wrong offset or twice never matches."""
    block_size = 1 << 20
    base = random.Random(zlib.crc32(name.encode())).randbytes(block_size)
    out = bytearray()
    index = 0
    while len(out) < size:
        shift = (index * 4099) % block_size
        out += base[shift:] + base[:shift]
        index += 1
    del out[size:]
    return bytes(out)


def write_sample_file(path, name, size):
    block = 64 << 20
    with open(path, 'wb') as f:
        if size <= block:
            f.write(sample_bytes(name, size))
            return
        # Large files: the same scheme, generated in pieces.
        base = random.Random(zlib.crc32(name.encode())).randbytes(1 << 20)
        written, index = 0, 0
        while written < size:
            shift = (index * 4099) % (1 << 20)
            piece = base[shift:] + base[:shift]
            piece = piece[:size - written]
            f.write(piece)
            written += len(piece)
            index += 1


def parse_size(text):
    units = {'K': 1 << 10, 'M': 1 << 20, 'G': 1 << 30}
    text = text.strip()
    if text and text[-1].upper() in units:
        return int(text[:-1]) * units[text[-1].upper()]
    return int(text)


def unescape(text):
    return text.encode('latin-1').decode('unicode_escape')


# ---- the server ---------------------------------------------------------

def make_handler(options):
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler

    authorizer = DummyAuthorizer()
    for user, password in options.users:
        authorizer.add_user(user, password, options.root, perm='elr')

    suffixes = dict(options.nlst_suffix)
    eol = '\r\n' if options.nlst_eol == 'crlf' else '\n'
    refused = set(options.refuse)
    closing_retr = set(options.reply_421)
    root_reply = options.nlst_root_reply
    race_from = options.race_data_from
    real_root = os.path.realpath(options.root)
    throttle_only = set(options.throttle_only)
    extra_names = list(options.nlst_extra)
    login_delay = options.delay_login
    # name -> (bytes sent, what happens when they are out)
    faults = {name: (size, ('reply', delay, reply)) for name, size, delay, reply in options.cut}
    once = set()
    for name, size, delay, reply in options.cut_first:
        faults[name] = (size, ('reply', delay, reply))
        once.add(name)
    faults.update({name: (size, ('die',)) for name, size in options.die_after})

    class Handler(FTPHandler):
        banner = 'Test FTP server ready.'
        throttle_current = False

        def handle(self):
            if options.refuse_sessions:
                self.respond(options.refuse_sessions)
                self.close_when_done()
                return
            super().handle()

        def ftp_PORT(self, line):
            if race_from:
                self.race_to(line)
            return super().ftp_PORT(line)

        def race_to(self, line):
            """Another host on the network connects to the client's data
            port before the server does, and sends its own bytes."""
            import socket
            try:
                numbers = [int(x) for x in line.split(',')]
                address = ('%d.%d.%d.%d' % tuple(numbers[:4]), numbers[4] * 256 + numbers[5])
                intruder = socket.socket()
                intruder.settimeout(3)
                intruder.bind((race_from, 0))
                intruder.connect(address)
                try:
                    intruder.sendall(b'evil.dll\r\n' * 2000)
                except OSError:
                    pass  # the client shut it out in the middle
                intruder.close()
                logging.getLogger().info('raced the server to %s:%d from %s', address[0], address[1], race_from)
            except (OSError, ValueError, IndexError) as err:
                logging.getLogger().info('could not race the server to %s: %s', line, err)
        # What ends the RETR under way instead of its 226 (see --cut and
        # --die-after); None for a normal transfer.
        pending_fault = None

        def ftp_NLST(self, path):
            from pyftpdlib.filesystems import FilesystemError
            self.pending_fault = None
            if root_reply and os.path.realpath(path) == real_root:
                self.respond(root_reply)
                return None
            try:
                if self.fs.isdir(path):
                    listing = sorted(self.run_as_current_user(self.fs.listdir, path) + extra_names)
                    if options.nlst_dots:
                        listing = ['.', '..'] + listing
                else:
                    self.fs.lstat(path)
                    listing = [os.path.basename(path)]
            except (OSError, FilesystemError) as err:
                self.respond('550 %s.' % (err.strerror or str(err)))
                return None
            data = ''.join(name + suffixes.get(name, '') + eol for name in listing)
            self.push_dtp_data(data.encode('utf8', 'replace'), cmd='NLST')
            return path

        def process_command(self, cmd, *args, **kwargs):
            if cmd == 'USER' and login_delay > 0:
                self.ioloop.call_later(login_delay, FTPHandler.process_command, self, cmd, *args, **kwargs)
                return
            FTPHandler.process_command(self, cmd, *args, **kwargs)

        def ftp_RETR(self, file):
            from pyftpdlib.filesystems import FilesystemError
            name = os.path.basename(file)
            if name in refused:
                self.respond('550 %s: permission denied.' % name)
                return None
            if name in closing_retr:
                self.respond('421 Service not available, closing control connection.')
                self.close_when_done()
                return None
            self.throttle_current = not throttle_only or name in throttle_only
            # A fault belongs to its own transfer only (one whose data
            # connection never stood leaves none behind).
            self.pending_fault = None
            if name not in faults:
                return super().ftp_RETR(file)
            size, ending = faults[name]
            if name in once:
                del faults[name]
            # A REST before it counts here as for any RETR, and only here.
            rest = self._restart_position
            self._restart_position = 0
            try:
                with self.run_as_current_user(self.fs.open, file, 'rb') as f:
                    f.seek(rest)
                    head = f.read(size)
            except (OSError, FilesystemError) as err:
                self.respond('550 %s.' % (err.strerror or str(err)))
                return None
            self.pending_fault = ending
            self.push_dtp_data(head, cmd='RETR')
            return file

        def fault_reply(self, text):
            if self.connected:
                self.respond(text)

    Handler.authorizer = authorizer
    Handler.permit_privileged_ports = True
    if options.passive_ports:
        low, high = options.passive_ports
        Handler.passive_ports = range(low, high + 1)

    if options.throttle:
        rate = options.throttle

        class SlowDTP(ThrottledDTPHandler):
            @property
            def write_limit(self):
                return rate if self.cmd_channel.throttle_current else 0

        Handler.dtp_handler = SlowDTP

    if faults:
        class FaultyDTP(Handler.dtp_handler):
            """Ends a transfer whose RETR has a fault the way the fault says,
            once the bytes it sends are out."""

            def close(self):
                channel = self.cmd_channel
                ending = channel.pending_fault
                if self._closed or ending is None:
                    return super().close()
                channel.pending_fault = None
                if ending[0] == 'die':
                    logging.getLogger().info('dying in the middle of a file, as asked')
                    logging.shutdown()
                    os._exit(3)
                # The data connection closes as at the end of the file, and
                # the reply is the fault's, not 226.
                self._resp = None
                super().close()
                _, delay, reply = ending
                if delay > 0:
                    channel.ioloop.call_later(delay, channel.fault_reply, reply)
                else:
                    channel.fault_reply(reply)

        Handler.dtp_handler = FaultyDTP
    return Handler


def prepare_root(options):
    os.makedirs(options.root, exist_ok=True)
    for rel in options.dirs:
        os.makedirs(os.path.join(options.root, rel), exist_ok=True)
    for rel, size in options.files:
        path = os.path.join(options.root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        write_sample_file(path, os.path.basename(rel), size)


def serve(options):
    from pyftpdlib.servers import FTPServer

    prepare_root(options)
    if options.log:
        logging.basicConfig(filename=options.log,
                            level=logging.DEBUG if options.log_commands else logging.INFO,
                            format='%(asctime)s %(message)s')
    else:
        logging.basicConfig(level=logging.ERROR)
    try:
        server = FTPServer((options.host, options.port), make_handler(options))
    except OSError as err:
        print('cannot listen on %s:%d: %s' % (options.host, options.port, err), file=sys.stderr)
        return 1
    server.max_cons = 256
    port = server.socket.getsockname()[1]

    def stop(signum, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, stop)
    # A stop may come as soon as the port is known, even while the line
    # below is still being written: it ends the server like any other stop.
    try:
        if options.port_file:
            background.write_atomically(options.port_file, '%d\n' % port)
        print('listening on %s:%d' % (options.host, port), flush=True)
        server.serve_forever(handle_exit=False)
    except KeyboardInterrupt:
        pass
    finally:
        server.close_all()
    return 0


# ---- command line ---------------------------------------------------------

def add_server_options(p):
    p.add_argument('--root', required=True)
    p.add_argument('--user', dest='users', action='append', default=[], metavar='NAME:PASSWORD',
                   type=lambda s: tuple(s.split(':', 1)) if ':' in s else
                   (_ for _ in ()).throw(argparse.ArgumentTypeError('expected NAME:PASSWORD')))
    p.add_argument('--host', default=DEFAULT_HOST)
    p.add_argument('--port', type=int, default=0)
    p.add_argument('--file', dest='files', action='append', default=[], metavar='PATH=SIZE',
                   type=lambda s: (s.split('=', 1)[0], parse_size(s.split('=', 1)[1])))
    p.add_argument('--dir', dest='dirs', action='append', default=[])
    p.add_argument('--nlst-dots', action='store_true')
    p.add_argument('--nlst-suffix', action='append', default=[], metavar='NAME=TEXT',
                   type=lambda s: (s.split('=', 1)[0], unescape(s.split('=', 1)[1])))
    p.add_argument('--nlst-eol', choices=('crlf', 'lf'), default='crlf')
    p.add_argument('--nlst-extra', action='append', default=[])
    p.add_argument('--delay-login', type=float, default=0)
    p.add_argument('--log-commands', action='store_true')
    p.add_argument('--refuse', action='append', default=[])
    p.add_argument('--throttle', type=parse_size, default=0)
    p.add_argument('--throttle-only', action='append', default=[])
    p.add_argument('--passive-ports', default=None,
                   type=lambda s: tuple(int(x) for x in s.split('-', 1)))
    p.add_argument('--cut', action='append', default=[], metavar='NAME:BYTES:DELAY:REPLY', type=parse_cut)
    p.add_argument('--cut-first', action='append', default=[], metavar='NAME:BYTES:DELAY:REPLY', type=parse_cut)
    p.add_argument('--die-after', action='append', default=[], metavar='NAME:BYTES', type=parse_die_after)
    p.add_argument('--refuse-sessions', default=None, metavar='REPLY')
    p.add_argument('--reply-421', action='append', default=[], metavar='NAME')
    p.add_argument('--nlst-root-reply', default=None, metavar='REPLY')
    p.add_argument('--race-data-from', default=None, metavar='ADDR')


def parse_cut(text):
    parts = text.split(':', 3)
    if len(parts) != 4 or not parts[0] or not parts[3][:3].isdigit():
        raise argparse.ArgumentTypeError('expected NAME:BYTES:DELAY:REPLY, e.g. "QVX.exe:1000:0:426 Aborted."')
    return parts[0], parse_size(parts[1]), float(parts[2]), parts[3]


def parse_die_after(text):
    name, _, size = text.partition(':')
    if not name or not size:
        raise argparse.ArgumentTypeError('expected NAME:BYTES')
    return name, parse_size(size)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    sub = parser.add_subparsers(dest='command', required=True)
    run = sub.add_parser('run')
    add_server_options(run)
    run.add_argument('--port-file')
    run.add_argument('--log')
    start = sub.add_parser('start')
    start.add_argument('--state', required=True)
    start.add_argument('--start-timeout', type=float, default=120)
    add_server_options(start)
    stop = sub.add_parser('stop')
    stop.add_argument('--state', required=True)

    options = parser.parse_args(argv)
    if options.command == 'stop':
        return background.stop(options.state)
    if not options.users:
        parser.error('at least one --user NAME:PASSWORD is needed')
    if options.command == 'run':
        return serve(options)
    # Hand the server options on to the background "run" unchanged.
    rest = list(argv[1:])
    for flag in ('--state', '--start-timeout'):
        while flag in rest:
            i = rest.index(flag)
            del rest[i:i + 2]
        rest = [a for a in rest if not a.startswith(flag + '=')]
    run_args = ['run', '--log', os.path.join(options.state, 'server.log')] + rest
    return background.start(__file__, options.state, run_args, options.start_timeout)


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
