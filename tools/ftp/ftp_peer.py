#!/usr/bin/python3
"""A scripted FTP peer: plays one scenario of exact bytes against a client.

The peer listens on 127.0.0.1, accepts the client's control connection and
runs the scenario's steps in order: send given bytes, expect a command line,
stay silent, close, run a data connection in passive or active mode. It stops
at the first step that fails and says which one and why. Its verdict is PASS
or FAIL.

Commands:
  run SCENARIO   play one scenario file; prints "listening on 127.0.0.1:PORT"
                 (and writes --port-file) once the client may connect; exit
                 status 0 = PASS, 1 = FAIL, 2 = the scenario cannot be read.
                 The step log goes to --log (default: standard error).
  serve          a service that plays scenarios on request over a control
                 connection (for test programs that start many peers):
                   -> RUN <name>          scenario <name>.peer of --scenarios
                   -> SCRIPT <length>     followed by that many bytes of
                                          scenario text
                   <- PORT <port>         the peer listens there
                   <- ERROR <text>        the scenario could not be read
                   -> WAIT [<seconds>]    wait for the verdict
                   <- PASS | FAIL <text>, then the log lines each prefixed
                      "| " and a line "."
                 One scenario at a time per control connection; closing the
                 control connection ends the scenario it runs.
  start, stop    "serve" in the background (STATE/port holds the control
                 port), for ctest fixtures.

Scenario format: one step per line; "#" starts a comment. Texts are in double
quotes with the escapes \\r \\n \\t \\\\ \\" \\xHH (any byte); a line received
from the client is compared without its CR LF and with Telnet commands (IAC
sequences) taken out. In texts sent, {h1} {h2} {h3} {h4} {p1} {p2} {port}
stand for the address of the last "pasv" or PORT command. Seconds may have
decimals. Steps:

  timeout SECONDS            default limit of the waiting steps (initially 10)
  accept [SECONDS]           accept a (further) control connection; the first
                             one is accepted without this step
  refuse                     first step only: nothing listens on the port
                             announced, so connecting is refused
  send TEXT                  send the bytes as they are
  reply TEXT                 send TEXT followed by CR LF
  send-repeat TEXT COUNT     send TEXT COUNT times (floods)
  send-slow TEXT N SECONDS   send TEXT N times, pausing between sends; ends
                             early, without failing, once the client has
                             closed the control connection (a following
                             expect-close then passes)
  expect TEXT [SECONDS]      the next line is TEXT
  expect-prefix TEXT [S]     the next line begins with TEXT
  expect-re REGEX [S]        the next line matches REGEX (Python, whole line)
  expect-any [SECONDS]       any one line
  expect-port [SECONDS]      the next line is "PORT h1,h2,h3,h4,p1,p2"; its
                             address is kept for data-connect
  expect-silence SECONDS     nothing at all arrives for that long
  expect-close [SECONDS]     the client closes the control connection (with
                             nothing more sent before)
  sleep SECONDS              stay silent (bytes that arrive wait unread)
  close                      close the control connection
  pasv TEXT                  listen on a new port, then reply TEXT
  pasv-refused TEXT          reply TEXT naming a port where nothing listens
  data-accept [SECONDS]      accept the client's data connection (passive)
  data-connect [SECONDS]     connect to the last PORT address (active)
  data-intrude TEXT [S]      another host (127.0.0.2) connects to the last
                             PORT address first and sends TEXT there; the
                             client must close that connection within S
  data-send TEXT             send on the data connection
  data-send-repeat TEXT N    send TEXT N times on the data connection
  data-send-slow TEXT N SECONDS  send TEXT N times, pausing between sends
  data-close                 close the data connection
  data-reset                 close it with a reset (RST)
  data-expect-close [S]      the client closes the data connection (data it
                             sends is discarded)
  data-expect-none SECONDS   no data connection arrives at the "pasv" port
                             for that long
"""
import argparse
import ast
import os
import re
import select
import socket
import struct
import sys
import threading
import time

import background

HOST = '127.0.0.1'
# A second host on the same network: the whole of 127/8 is this machine's.
INTRUDER_HOST = '127.0.0.2'
IAC, WILL, WONT, DO, DONT, SB, SE = 255, 251, 252, 253, 254, 250, 240


class ScenarioError(Exception):
    """The scenario text cannot be read."""


class StepFailed(Exception):
    """A step did not go as the scenario says."""


# ---- scenario text --------------------------------------------------------

def tokenize(text, line_no):
    tokens = []
    i = 0
    while i < len(text):
        c = text[i]
        if c.isspace():
            i += 1
        elif c == '#':
            break
        elif c == '"':
            j = i + 1
            while j < len(text) and text[j] != '"':
                j += 2 if text[j] == '\\' else 1
            if j >= len(text):
                raise ScenarioError('line %d: text without closing quote' % line_no)
            literal = text[i:j + 1]
            try:
                tokens.append(ast.literal_eval('b' + literal))
            except (SyntaxError, ValueError) as err:
                raise ScenarioError('line %d: bad text %s: %s' % (line_no, literal, err))
            i = j + 1
        else:
            j = i
            while j < len(text) and not text[j].isspace():
                j += 1
            tokens.append(text[i:j])
            i = j
    return tokens


# step name -> argument kinds: 'b' bytes, 'n' count, 's' seconds; '?' optional
STEPS = {
    'timeout': 's', 'accept': 's?', 'refuse': '', 'send': 'b', 'reply': 'b',
    'send-repeat': 'bn', 'send-slow': 'bns', 'data-intrude': 'bs?', 'expect': 'bs?', 'expect-prefix': 'bs?', 'expect-re': 'bs?',
    'expect-any': 's?', 'expect-port': 's?', 'expect-silence': 's', 'expect-close': 's?',
    'sleep': 's', 'close': '', 'pasv': 'b', 'pasv-refused': 'b', 'data-accept': 's?',
    'data-connect': 's?', 'data-send': 'b', 'data-send-repeat': 'bn',
    'data-send-slow': 'bns', 'data-close': '', 'data-reset': '', 'data-expect-close': 's?',
    'data-expect-none': 's',
}


class Step:
    def __init__(self, index, line_no, source, name, args):
        self.index, self.line_no, self.source, self.name, self.args = index, line_no, source, name, args

    def describe(self):
        return 'step %d (line %d: %s)' % (self.index, self.line_no, self.source)


def parse_scenario(text):
    steps = []
    for line_no, raw in enumerate(text.splitlines(), 1):
        tokens = tokenize(raw, line_no)
        if not tokens:
            continue
        name, args = tokens[0], tokens[1:]
        if not isinstance(name, str) or name not in STEPS:
            raise ScenarioError('line %d: unknown step %r' % (line_no, name))
        kinds = STEPS[name]
        required = [k for k in kinds if k != '?']
        optional = kinds.endswith('?')
        if not (len(required) - optional <= len(args) <= len(required)):
            raise ScenarioError('line %d: %s takes %s' % (line_no, name, kinds or 'no arguments'))
        converted = []
        for kind, arg in zip(required, args):
            if kind == 'b':
                if not isinstance(arg, bytes):
                    raise ScenarioError('line %d: %s needs a quoted text' % (line_no, name))
                converted.append(arg)
            else:
                try:
                    value = int(arg) if kind == 'n' else float(arg)
                except (TypeError, ValueError):
                    raise ScenarioError('line %d: %s: %r is not a number' % (line_no, name, arg))
                converted.append(value)
        if name == 'expect-re':
            try:
                converted[0] = re.compile(converted[0])
            except re.error as err:
                raise ScenarioError('line %d: bad regular expression: %s' % (line_no, err))
        if name == 'refuse' and steps:
            raise ScenarioError('line %d: refuse must be the first step' % line_no)
        steps.append(Step(len(steps) + 1, line_no, raw.strip(), name, converted))
    return steps


# ---- playing a scenario ---------------------------------------------------

def strip_telnet(data, notes):
    """Removes Telnet commands from a received line: IAC IAC stands for the
    byte 255, option negotiation and other commands are noted and dropped."""
    out = bytearray()
    i = 0
    while i < len(data):
        b = data[i]
        if b != IAC:
            out.append(b)
            i += 1
            continue
        if i + 1 >= len(data):
            notes.append('IAC at the end of the line')
            break
        cmd = data[i + 1]
        if cmd == IAC:
            out.append(IAC)
            i += 2
        elif cmd in (WILL, WONT, DO, DONT) and i + 2 < len(data):
            notes.append('IAC %s %d' % ({WILL: 'WILL', WONT: 'WONT', DO: 'DO', DONT: 'DONT'}[cmd], data[i + 2]))
            i += 3
        else:
            notes.append('IAC %d' % cmd)
            i += 2
    return bytes(out)


class Player:
    """Plays one scenario on its own listening socket."""

    def __init__(self, steps, log_line=None, port=0):
        self.steps = steps
        self.default_timeout = 10.0
        self.log_lines = []
        self.log_line = log_line
        self.started = time.monotonic()
        self.control = None
        self.inbox = b''
        self.data = None
        self.data_listener = None
        self.address = None  # (host, port) of the last pasv or PORT
        self.stopping = threading.Event()
        self.refused = bool(steps) and steps[0].name == 'refuse'
        if self.refused:
            # Reserve a port and close it again: nothing listens there.
            probe = socket.socket()
            probe.bind((HOST, port))
            self.port = probe.getsockname()[1]
            probe.close()
            self.listener = None
        else:
            self.listener = socket.socket()
            self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            self.listener.bind((HOST, port))
            self.listener.listen(5)
            self.port = self.listener.getsockname()[1]

    # -- log --
    def log(self, text):
        line = '%7.3f %s' % (time.monotonic() - self.started, text)
        self.log_lines.append(line)
        if self.log_line:
            self.log_line(line)

    # -- helpers --
    def client_closed(self, sock):
        """Whether the client has closed the control connection (bytes it
        sent meanwhile stay in the inbox)."""
        r, _, _ = select.select([sock], [], [], 0)
        if not r:
            return False
        try:
            chunk = sock.recv(65536)
        except OSError:
            return True
        if not chunk:
            return True
        self.inbox += chunk
        return False

    def wait_readable(self, sock, timeout):
        deadline = time.monotonic() + timeout
        while True:
            if self.stopping.is_set():
                raise StepFailed('the scenario was stopped')
            left = deadline - time.monotonic()
            if left <= 0:
                return False
            r, _, _ = select.select([sock], [], [], min(left, 0.2))
            if r:
                return True

    def read_until_close(self, sock, what, timeout, deadline=None):
        """The next bytes the client sends on sock before the deadline (by
        default timeout from now): b'' when it closed (or reset) the
        connection. StepFailed names `what` and the step's timeout when the
        connection is still open and silent at the deadline."""
        if deadline is None:
            deadline = time.monotonic() + timeout
        if not self.wait_readable(sock, max(0.0, deadline - time.monotonic())):
            raise StepFailed('the client kept %s open for %g s' % (what, timeout))
        try:
            return sock.recv(65536)
        except ConnectionResetError:
            return b''

    def need_control(self, step):
        if self.control is None:
            raise StepFailed('no control connection is open')
        return self.control

    def need_data(self):
        if self.data is None:
            raise StepFailed('no data connection is open')
        return self.data

    def accept_control(self, timeout):
        if self.listener is None:
            raise StepFailed('nothing listens in a "refuse" scenario')
        if self.control is not None:
            self.close_control()
        if not self.wait_readable(self.listener, timeout):
            raise StepFailed('no control connection within %g s' % timeout)
        self.control, peer = self.listener.accept()
        self.inbox = b''
        self.log('control connection from %s:%d' % peer)

    def close_control(self):
        if self.control is not None:
            try:
                self.control.close()
            finally:
                self.control = None

    def close_data(self, reset=False):
        if self.data is not None:
            if reset:
                self.data.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
            self.data.close()
            self.data = None

    def send_all(self, sock, data, what):
        try:
            sock.sendall(data)
        except OSError as err:
            raise StepFailed('sending on the %s connection failed: %s' % (what, err))

    def read_line(self, timeout):
        sock = self.control
        deadline = time.monotonic() + timeout
        while b'\n' not in self.inbox:
            left = deadline - time.monotonic()
            if left <= 0 or not self.wait_readable(sock, left):
                if self.inbox:
                    raise StepFailed('no line end within %g s; received %r' % (timeout, self.inbox))
                raise StepFailed('nothing received within %g s' % timeout)
            try:
                chunk = sock.recv(65536)
            except OSError as err:
                raise StepFailed('control connection failed: %s' % err)
            if not chunk:
                raise StepFailed('the client closed the control connection%s' %
                                 (' after sending %r' % self.inbox if self.inbox else ''))
            self.inbox += chunk
        raw, self.inbox = self.inbox.split(b'\n', 1)
        raw += b'\n'
        notes = []
        line = strip_telnet(raw, notes)
        if line.endswith(b'\r\n'):
            line = line[:-2]
        elif line.endswith(b'\n'):
            line = line[:-1]
            notes.append('line ends in LF without CR')
        self.log('received %r%s' % (raw, ' (%s)' % ', '.join(notes) if notes else ''))
        m = re.fullmatch(rb'PORT (\d+),(\d+),(\d+),(\d+),(\d+),(\d+)', line)
        if m:
            n = [int(x) for x in m.groups()]
            self.address = ('%d.%d.%d.%d' % tuple(n[:4]), n[4] * 256 + n[5])
        return line

    def fill(self, text):
        host, port = self.address if self.address else ('0.0.0.0', 0)
        parts = host.split('.') + [str(port // 256), str(port % 256)]
        values = dict(zip(['h1', 'h2', 'h3', 'h4', 'p1', 'p2'], parts), port=str(port))
        return re.sub(rb'\{(h1|h2|h3|h4|p1|p2|port)\}', lambda m: values[m.group(1).decode()].encode(), text)

    # -- the steps --
    def run_step(self, step):
        name, args = step.name, step.args
        timeout = args[-1] if args and isinstance(args[-1], float) else self.default_timeout
        if name == 'timeout':
            self.default_timeout = args[0]
        elif name == 'refuse':
            self.log('nothing listens on port %d' % self.port)
        elif name == 'accept':
            self.accept_control(timeout)
        elif name in ('send', 'reply', 'send-repeat'):
            data = self.fill(args[0]) + (b'\r\n' if name == 'reply' else b'')
            count = args[1] if name == 'send-repeat' else 1
            self.send_all(self.need_control(step), data * count, 'control')
            self.log('sent %r%s' % (data, ' x %d' % count if count != 1 else ''))
        elif name.startswith('expect') and name not in ('expect-silence', 'expect-close'):
            self.need_control(step)
            line = self.read_line(timeout)
            ok = {
                'expect': lambda: line == args[0],
                'expect-prefix': lambda: line.startswith(args[0]),
                'expect-re': lambda: args[0].fullmatch(line) is not None,
                'expect-any': lambda: True,
                'expect-port': lambda: re.fullmatch(rb'PORT \d+,\d+,\d+,\d+,\d+,\d+', line) is not None,
            }[name]()
            if not ok:
                raise StepFailed('received %r' % line)
        elif name == 'expect-silence':
            sock = self.need_control(step)
            if self.inbox:
                raise StepFailed('received %r' % self.inbox)
            if self.wait_readable(sock, args[0]):
                chunk = sock.recv(65536)
                raise StepFailed('received %r' % chunk if chunk else 'the client closed the control connection')
        elif name == 'expect-close':
            sock = self.need_control(step)
            if self.inbox:
                raise StepFailed('received %r before any close' % self.inbox)
            chunk = self.read_until_close(sock, 'the control connection', timeout)
            if chunk:
                raise StepFailed('received %r instead of a close' % chunk)
            self.log('the client closed the control connection')
            self.close_control()
        elif name == 'sleep':
            deadline = time.monotonic() + args[0]
            while time.monotonic() < deadline and not self.stopping.is_set():
                time.sleep(min(0.1, max(0.0, deadline - time.monotonic())))
        elif name == 'close':
            self.close_control()
            self.log('closed the control connection')
        elif name in ('pasv', 'pasv-refused'):
            if self.data_listener is not None:
                self.data_listener.close()
                self.data_listener = None
            s = socket.socket()
            s.bind((HOST, 0))
            self.address = (HOST, s.getsockname()[1])
            if name == 'pasv':
                s.listen(1)
                self.data_listener = s
                self.log('listening for the data connection on port %d' % self.address[1])
            else:
                s.close()
                self.log('port %d announced, nothing listens there' % self.address[1])
            data = self.fill(args[0]) + b'\r\n'
            self.send_all(self.need_control(step), data, 'control')
            self.log('sent %r' % data)
        elif name == 'data-accept':
            if self.data_listener is None:
                raise StepFailed('no "pasv" step before')
            if not self.wait_readable(self.data_listener, timeout):
                raise StepFailed('no data connection within %g s' % timeout)
            self.close_data()
            self.data, peer = self.data_listener.accept()
            self.log('data connection from %s:%d' % peer)
        elif name == 'data-expect-none':
            if self.data_listener is None:
                raise StepFailed('no "pasv" step before')
            if self.wait_readable(self.data_listener, args[0]):
                conn, peer = self.data_listener.accept()
                conn.close()
                raise StepFailed('a data connection arrived from %s:%d' % peer)
        elif name == 'data-connect':
            if self.address is None:
                raise StepFailed('no PORT command received before')
            self.close_data()
            try:
                self.data = socket.create_connection(self.address, timeout=timeout)
            except OSError as err:
                raise StepFailed('connecting to %s:%d failed: %s' % (self.address + (err,)))
            self.data.settimeout(None)
            self.log('data connection to %s:%d' % self.address)
        elif name in ('data-send', 'data-send-repeat'):
            count = args[1] if name == 'data-send-repeat' else 1
            self.send_all(self.need_data(), args[0] * count, 'data')
            self.log('sent %d bytes on the data connection' % (len(args[0]) * count))
        elif name == 'send-slow':
            sock = self.need_control(step)
            sent = 0
            for i in range(args[1]):
                if self.client_closed(sock):
                    break
                try:
                    sock.sendall(self.fill(args[0]))
                except OSError:
                    break
                sent += 1
                if i + 1 < args[1] and self.stopping.wait(args[2]):
                    raise StepFailed('the scenario was stopped')
            self.log('sent %r x %d slowly%s' % (args[0], sent,
                     '' if sent == args[1] else ', then the client closed the connection'))
        elif name == 'data-intrude':
            if self.address is None:
                raise StepFailed('no PORT command received before')
            try:
                intruder = socket.socket()
                intruder.bind((INTRUDER_HOST, 0))
                intruder.settimeout(timeout)
                intruder.connect(self.address)
                intruder.sendall(args[0])
            except OSError as err:
                raise StepFailed('the intruder could not reach %s:%d: %s' % (self.address + (err,)))
            self.log('an intruder from %s:%d connected to %s:%d and sent %d bytes' %
                     (intruder.getsockname() + self.address + (len(args[0]),)))
            try:
                chunk = self.read_until_close(intruder, 'the intruder\'s connection', timeout)
                if chunk:
                    raise StepFailed('the client sent %r to the intruder' % chunk)
                self.log('the client closed the intruder\'s connection')
            finally:
                intruder.close()
        elif name == 'data-send-slow':
            sock = self.need_data()
            for i in range(args[1]):
                self.send_all(sock, args[0], 'data')
                if i + 1 < args[1]:
                    if self.stopping.wait(args[2]):
                        raise StepFailed('the scenario was stopped')
            self.log('sent %d bytes slowly on the data connection' % (len(args[0]) * args[1]))
        elif name in ('data-close', 'data-reset'):
            self.need_data()
            self.close_data(reset=name == 'data-reset')
            self.log('%s the data connection' % ('reset' if name == 'data-reset' else 'closed'))
        elif name == 'data-expect-close':
            sock = self.need_data()
            deadline = time.monotonic() + timeout
            discarded = 0
            while True:
                chunk = self.read_until_close(sock, 'the data connection', timeout, deadline)
                if not chunk:
                    break
                discarded += len(chunk)
            self.log('the client closed the data connection (%d bytes discarded)' % discarded)
            self.close_data()
        else:  # pragma: no cover - parse_scenario admits known steps only
            raise StepFailed('unknown step')

    def play(self):
        """Runs every step; returns (passed, message)."""
        try:
            if not self.refused and (not self.steps or self.steps[0].name != 'accept'):
                self.accept_control(self.default_timeout_for_first())
            for step in self.steps:
                try:
                    self.run_step(step)
                except StepFailed as err:
                    message = '%s: %s' % (step.describe(), err)
                    self.log('FAIL ' + message)
                    return False, message
            self.log('PASS')
            return True, ''
        except StepFailed as err:
            message = 'before the first step: %s' % err
            self.log('FAIL ' + message)
            return False, message
        finally:
            self.shutdown()

    def default_timeout_for_first(self):
        # A leading "timeout" step also limits the wait for the first client.
        if self.steps and self.steps[0].name == 'timeout':
            self.default_timeout = self.steps[0].args[0]
        return max(self.default_timeout, 20.0)

    def shutdown(self):
        self.close_data()
        self.close_control()
        for s in (self.listener, self.data_listener):
            if s is not None:
                s.close()
        self.listener = self.data_listener = None


# ---- commands -------------------------------------------------------------

def command_run(options):
    try:
        steps = parse_scenario(open(options.scenario, encoding='utf-8').read())
    except (OSError, ScenarioError) as err:
        print('%s: %s' % (options.scenario, err), file=sys.stderr)
        return 2
    log_file = open(options.log, 'w') if options.log else sys.stderr

    def log_line(line):
        log_file.write(line + '\n')
        log_file.flush()

    player = Player(steps, log_line, options.port)
    if options.port_file:
        background.write_atomically(options.port_file, '%d\n' % player.port)
    print('listening on %s:%d' % (HOST, player.port), flush=True)
    passed, message = player.play()
    print('PASS' if passed else 'FAIL ' + message, flush=True)
    return 0 if passed else 1


def serve_connection(conn, scenarios):
    reader = conn.makefile('rb')
    player = None
    result = {}
    thread = None

    def reply(text):
        conn.sendall(text.encode('utf-8', 'replace') + b'\n')

    try:
        while True:
            line = reader.readline()
            if not line:
                break
            words = line.decode('utf-8', 'replace').strip().split(' ', 1)
            command, arg = words[0].upper(), (words[1] if len(words) > 1 else '')
            if command in ('RUN', 'SCRIPT'):
                if thread is not None and thread.is_alive():
                    reply('ERROR a scenario is still running')
                    continue
                try:
                    if command == 'RUN':
                        path = arg if os.path.isabs(arg) else os.path.join(scenarios, arg + '.peer')
                        text = open(path, encoding='utf-8').read()
                    else:
                        text = reader.read(int(arg)).decode('utf-8')
                    steps = parse_scenario(text)
                except (OSError, ValueError, ScenarioError) as err:
                    reply('ERROR %s' % err)
                    continue
                player = Player(steps)
                result = {}
                thread = threading.Thread(target=lambda p=player, r=result: r.update(v=p.play()),
                                          daemon=True)
                thread.start()
                reply('PORT %d' % player.port)
            elif command == 'WAIT':
                if thread is None:
                    reply('ERROR no scenario was started')
                    continue
                thread.join(float(arg) if arg else None)
                if thread.is_alive():
                    player.stopping.set()
                    thread.join()
                passed, message = result['v']
                reply('PASS' if passed else 'FAIL ' + message)
                for log_line in player.log_lines:
                    reply('| ' + log_line)
                reply('.')
                thread = None
            else:
                reply('ERROR unknown command %r' % command)
    except OSError:
        pass
    finally:
        if thread is not None and thread.is_alive():
            player.stopping.set()
        conn.close()


def command_serve(options):
    import signal
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((HOST, options.port))
    listener.listen(16)
    port = listener.getsockname()[1]
    signal.signal(signal.SIGTERM, lambda *a: sys.exit(0))
    if options.port_file:
        background.write_atomically(options.port_file, '%d\n' % port)
    print('control service listening on %s:%d' % (HOST, port), flush=True)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve_connection, args=(conn, options.scenarios), daemon=True).start()


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    sub = parser.add_subparsers(dest='command', required=True)
    run = sub.add_parser('run')
    run.add_argument('scenario')
    run.add_argument('--port', type=int, default=0)
    run.add_argument('--port-file')
    run.add_argument('--log')
    serve = sub.add_parser('serve')
    serve.add_argument('--scenarios', default=os.path.join(os.path.dirname(os.path.abspath(__file__)), 'scenarios'))
    serve.add_argument('--port', type=int, default=0)
    serve.add_argument('--port-file')
    start = sub.add_parser('start')
    start.add_argument('--state', required=True)
    start.add_argument('--scenarios', default=None)
    stop = sub.add_parser('stop')
    stop.add_argument('--state', required=True)
    options = parser.parse_args(argv)
    if options.command == 'run':
        return command_run(options)
    if options.command == 'serve':
        return command_serve(options)
    if options.command == 'start':
        args = ['serve'] + (['--scenarios', os.path.abspath(options.scenarios)] if options.scenarios else [])
        return background.start(__file__, options.state, args, 30)
    return background.stop(options.state)


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
