#!/usr/bin/python3
"""Checks the scripted FTP peer: every stored scenario played against a small
client written here (what the real client must do), the failure reports of
the peer, and its control service."""
import os
import re
import socket
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
PEER = os.path.join(HERE, 'ftp_peer.py')
SCENARIOS = os.path.join(HERE, 'scenarios')


class Peer:
    """One "ftp_peer.py run" process playing a scenario file or text."""

    def __init__(self, scenario=None, text=None):
        self.dir = tempfile.TemporaryDirectory()
        if text is not None:
            scenario = os.path.join(self.dir.name, 'inline.peer')
            with open(scenario, 'w') as f:
                f.write(text)
        elif not os.path.isabs(scenario):
            scenario = os.path.join(SCENARIOS, scenario + '.peer')
        self.port_file = os.path.join(self.dir.name, 'port')
        self.log_file = os.path.join(self.dir.name, 'log')
        self.proc = subprocess.Popen(
            [sys.executable, PEER, 'run', scenario, '--port-file', self.port_file, '--log', self.log_file],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.port = None
        deadline = time.monotonic() + 10
        while self.port is None and time.monotonic() < deadline:
            if os.path.exists(self.port_file):
                with open(self.port_file) as f:
                    self.port = int(f.read())
            elif self.proc.poll() is not None:
                break
            else:
                time.sleep(0.02)

    def verdict(self, timeout=90):
        out, err = self.proc.communicate(timeout=timeout)
        log = ''
        if os.path.exists(self.log_file):
            with open(self.log_file) as f:
                log = f.read()
        self.dir.cleanup()
        return self.proc.returncode, out, err + log


class Client:
    """The client side, byte-exact: no Telnet decoding, no line joining."""

    def __init__(self, port, host='127.0.0.1'):
        self.sock = socket.create_connection((host, port), timeout=10)
        self.buf = b''

    def line(self, timeout=10):
        self.sock.settimeout(timeout)
        while b'\r\n' not in self.buf:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError('closed; pending %r' % self.buf)
            self.buf += chunk
        line, self.buf = self.buf.split(b'\r\n', 1)
        return line + b'\r\n'

    def raw(self, count, timeout=10):
        self.sock.settimeout(timeout)
        while len(self.buf) < count:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError('closed; pending %r' % self.buf)
            self.buf += chunk
        data, self.buf = self.buf[:count], self.buf[count:]
        return data

    def nothing_for(self, seconds):
        self.sock.settimeout(seconds)
        try:
            chunk = self.sock.recv(65536)
        except socket.timeout:
            return self.buf == b''
        return False if chunk else None  # None: closed

    def closed(self, timeout=10):
        self.sock.settimeout(timeout)
        if self.buf:
            return False
        try:
            return self.sock.recv(65536) == b''
        except ConnectionResetError:
            return True

    def send(self, text):
        self.sock.sendall(text if isinstance(text, bytes) else text.encode() + b'\r\n')

    def close(self):
        self.sock.close()


def login(c):
    assert c.line() == b'220 Ready\r\n'
    c.send('USER test')
    assert c.line().startswith(b'331 ')
    c.send('PASS secret')
    assert c.line() == b'230 Logged in\r\n'


def logout(c):
    c.send('QUIT')
    assert c.line() == b'221 Goodbye\r\n'
    c.close()


def pasv_address(reply):
    m = re.search(rb'\((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\)', reply)
    n = [int(x) for x in m.groups()]
    return '%d.%d.%d.%d' % tuple(n[:4]), n[4] * 256 + n[5]


def read_all(sock):
    data = b''
    while True:
        chunk = sock.recv(65536)
        if not chunk:
            return data
        data += chunk


def passive_listing(c, test):
    c.send('TYPE A')
    test.assertEqual(c.line(), b'200 Type set to A\r\n')
    c.send('PASV')
    reply = c.line()
    test.assertTrue(reply.startswith(b'227 Entering Passive Mode '), reply)
    return reply


# ---- the client's side of each stored scenario ----------------------------

def client_greeting_three_lines(t, port):
    c = Client(port)
    greeting = b'220-Welcome\r\n220-Hello\r\n220 Ready\r\n'
    t.assertEqual(c.raw(len(greeting)), greeting)
    c.send('USER test')
    t.assertEqual(c.line(), b'331 Password required for test\r\n')
    c.send('PASS secret')
    t.assertEqual(c.line(), b'230 Logged in\r\n')
    logout(c)


def client_login_230_after_user(t, port):
    c = Client(port)
    c.line()
    c.send('USER test')
    t.assertEqual(c.line(), b'230 Logged in without password\r\n')
    logout(c)


def client_login_332_acct(t, port):
    c = Client(port)
    c.line()
    c.send('USER test')
    c.line()
    c.send('PASS secret')
    t.assertEqual(c.line(), b'332 Need account for login\r\n')
    c.send('ACCT acct1')
    t.assertEqual(c.line(), b'230 Logged in\r\n')
    logout(c)


def client_login_202(t, port):
    c = Client(port)
    c.line()
    c.send('USER test')
    c.line()
    c.send('PASS secret')
    t.assertEqual(c.line(), b'202 Command not implemented, superfluous at this site\r\n')
    t.assertEqual(c.line(), b'230 Logged in\r\n')
    logout(c)


def client_login_530(t, port):
    c = Client(port)
    c.line()
    c.send('USER test')
    c.line()
    c.send('PASS secret')
    t.assertEqual(c.line(), b'530 Login incorrect.\r\n')
    time.sleep(1.2)  # stays connected, silent, as the client in LoggingIn does
    logout(c)


def client_pwd(expected):
    def run(t, port):
        c = Client(port)
        login(c)
        c.send('PWD')
        t.assertEqual(c.line(), expected)
        logout(c)
    return run


def client_passive_listing_ok(text):
    def run(t, port):
        c = Client(port)
        login(c)
        reply = passive_listing(c, t)
        # The six numbers with or without parentheses; whatever host they
        # name, the data connection goes to the server itself.
        m = re.search(rb'(\d+),(\d+),(\d+),(\d+),(\d+),(\d+)', reply[4:])
        n = [int(x) for x in m.groups()]
        d = socket.create_connection(('127.0.0.1', n[4] * 256 + n[5]), timeout=10)
        c.send('NLST')
        t.assertEqual(c.line(), b'150 Opening data connection\r\n')
        t.assertEqual(read_all(d), text)
        d.close()
        t.assertEqual(c.line(), b'226 Transfer complete\r\n')
        logout(c)
    return run


def client_passive_unusable(t, port):
    c = Client(port)
    login(c)
    c.send('TYPE A')
    c.line()
    c.send('PASV')
    reply = c.line()
    t.assertTrue(reply.startswith(b'227 '))
    time.sleep(1.2)
    logout(c)


def client_data_connection_refused(t, port):
    c = Client(port)
    login(c)
    for _ in range(2):
        host, data_port = pasv_address(passive_listing(c, t))
        with t.assertRaises(ConnectionRefusedError):
            socket.create_connection((host, data_port), timeout=10)
        c.send('NLST')
        t.assertEqual(c.line(), b'425 Cannot open data connection\r\n')
    logout(c)


def client_data_closes_at_once(t, port):
    c = Client(port)
    login(c)
    for kind, command in (('A', 'NLST'), ('I', 'RETR empty.bin')):
        c.send('TYPE ' + kind)
        c.line()
        c.send('PASV')
        d = socket.create_connection(pasv_address(c.line()), timeout=10)
        c.send(command)
        t.assertEqual(read_all(d), b'')
        d.close()
        t.assertEqual(c.line(), b'150 Opening data connection\r\n')
        t.assertEqual(c.line(), b'226 Transfer complete\r\n')
    logout(c)


def client_active_listing(t, port):
    c = Client(port)
    login(c)
    listener = socket.socket()
    listener.bind(('127.0.0.1', 0))
    listener.listen(1)
    p = listener.getsockname()[1]
    c.send('PORT 127,0,0,1,%d,%d' % (p // 256, p % 256))
    t.assertEqual(c.line(), b'200 PORT command successful\r\n')
    c.send('TYPE A')
    c.line()
    c.send('NLST')
    listener.settimeout(10)
    d, _ = listener.accept()
    t.assertEqual(c.line(), b'150 Opening data connection\r\n')
    t.assertEqual(read_all(d), b'a.bin\r\nb.bin\r\n')
    t.assertEqual(c.line(), b'226 Transfer complete\r\n')
    d.close()
    listener.close()
    logout(c)


def client_abort(t, port):
    c = Client(port)
    login(c)
    c.send('TYPE I')
    c.line()
    c.send('PASV')
    d = socket.create_connection(pasv_address(c.line()), timeout=10)
    c.send('RETR big.bin')
    t.assertTrue(c.line().startswith(b'150 '))
    got = b''
    while len(got) < 65536:
        got += d.recv(65536)
    c.send('ABOR')
    t.assertEqual(read_all(d), b'')
    t.assertEqual(got, b'0123456789abcdef' * 4096)
    t.assertEqual(c.line(), b'426 Connection closed; transfer aborted.\r\n')
    t.assertEqual(c.line(), b'226 Abort successful\r\n')
    logout(c)


def client_silence_after_user(t, port):
    c = Client(port)
    c.line()
    c.send('USER test')
    t.assertTrue(c.nothing_for(1.0))
    c.close()  # the client's reset after its timer ran out


def client_silence_after_command(t, port):
    c = Client(port)
    login(c)
    c.send('PWD')
    t.assertTrue(c.nothing_for(1.0))
    logout(c)


def client_421(state):
    """Brings the session into the state, then reads the 421 and closes as
    the client's reset does."""
    def run(t, port):
        c = Client(port)
        if state == 'greeting':
            reply = c.line()
        elif state == 'logging_in':
            c.line()
            c.send('USER test')
            reply = c.line()
        else:
            login(c)
            for command in state:
                c.send(command)
                reply = c.line()
                if reply.startswith(b'421'):
                    break
            else:
                reply = c.line()
        t.assertTrue(reply.startswith(b'421 '), reply)
        c.close()
    return run


def client_telnet(t, port):
    c = Client(port)
    t.assertEqual(c.line(), b'220 Hel\xff\xf1lo \xff\xff wor\xff\xfb\x01ld\r\n')
    c.send(b'\xff\xfe\x01USER test\r\n')  # IAC DONT ECHO before the command
    t.assertEqual(c.line(), b'331 Pass\xff\xf1word required\r\n')
    c.send('PASS secret')
    c.line()
    logout(c)


def client_without_crlf(t, port):
    c = Client(port)
    t.assertEqual(c.raw(9), b'220 Ready')
    time.sleep(1.2)
    t.assertEqual(c.raw(27), b'\n331 Not a line of its own\n')
    time.sleep(1.2)
    t.assertEqual(c.line(), b'\r\n')
    c.send('USER test')
    t.assertEqual(c.raw(13), b'230 Logged in')
    t.assertTrue(c.closed(10))


def client_flood(t, port):
    c = Client(port)
    t.assertEqual(c.line(), b'220-Welcome\r\n')
    flood = b'220-flood of greeting text that does not end for a long while .........\r\n'
    t.assertEqual(c.raw(len(flood) * 600, 30), flood * 600)
    t.assertEqual(c.line(), b'220 Ready\r\n')
    c.send('USER test')
    c.line()
    c.send('PASS secret')
    c.line()
    logout(c)


def client_garbage(t, port):
    c = Client(port)
    while True:
        line = c.line()
        if line == b'220 Ready\r\n':
            break
        t.assertNotRegex(line, rb'^220 ')
    c.send('USER test')
    t.assertEqual(c.line(), b'230 Logged in\r\n')
    logout(c)


def client_refused(t, port):
    with t.assertRaises(ConnectionRefusedError):
        socket.create_connection(('127.0.0.1', port), timeout=10)


CLIENTS = {
    'greeting_three_lines': client_greeting_three_lines,
    'login_230_after_user': client_login_230_after_user,
    'login_332_acct': client_login_332_acct,
    'login_202': client_login_202,
    'login_530': client_login_530,
    'pwd_257_quoted': client_pwd(b'257 "/pub/upgrade" is the current directory.\r\n'),
    'pwd_257_unquoted': client_pwd(b'257 /pub/upgrade is the current directory.\r\n'),
    'pasv_with_parentheses': client_passive_listing_ok(b'a.bin\r\nb.bin\r\n'),
    'pasv_without_parentheses': client_passive_listing_ok(b'a.bin\r\n'),
    'pasv_other_host': client_passive_listing_ok(b'elsewhere.bin\r\n'),
    'pasv_too_few_numbers': client_passive_unusable,
    'pasv_port_zero': client_passive_unusable,
    'data_connection_refused': client_data_connection_refused,
    'data_closes_at_once': client_data_closes_at_once,
    'active_listing': client_active_listing,
    'abort_426_226': client_abort,
    'silence_after_user': client_silence_after_user,
    'silence_after_command': client_silence_after_command,
    'reply_421_greeting': client_421('greeting'),
    'reply_421_logging_in': client_421('logging_in'),
    'reply_421_ready': client_421([]),
    'reply_421_folder_command': client_421(['PWD']),
    'reply_421_listing': client_421(['TYPE A']),
    'reply_421_downloading': client_421(['TYPE I', 'PASV']),
    'telnet_iac_in_reply': client_telnet,
    'reply_without_crlf': client_without_crlf,
    'multiline_flood': client_flood,
    'binary_garbage': client_garbage,
    'control_refused': client_refused,
}


class StoredScenarios(unittest.TestCase):
    def test_every_stored_scenario_has_a_client_here(self):
        stored = sorted(f[:-5] for f in os.listdir(SCENARIOS) if f.endswith('.peer'))
        self.assertEqual(stored, sorted(CLIENTS))

    def test_each_scenario_passes_against_a_faithful_client(self):
        for name, client in sorted(CLIENTS.items()):
            with self.subTest(scenario=name):
                peer = Peer(name)
                self.assertIsNotNone(peer.port, name)
                try:
                    client(self, peer.port)
                finally:
                    code, out, log = peer.verdict()
                self.assertEqual(code, 0, '%s:\n%s%s' % (name, out, log))
                self.assertIn('PASS', out)


class FailureReports(unittest.TestCase):
    """A client that does something else must make the peer fail, naming the
    step and what it got."""

    def play(self, text, client):
        peer = Peer(text=text)
        try:
            client(peer.port)
        finally:
            code, out, log = peer.verdict()
        return code, out, log

    def test_wrong_command_names_the_step_and_the_line(self):
        def client(port):
            c = Client(port)
            c.line()
            c.send('USER other')
            c.nothing_for(0.5)
            c.close()
        code, out, log = self.play('reply "220 Ready"\n\n# comment\nexpect "USER test"\nreply "331 x"\n', client)
        self.assertEqual(code, 1)
        self.assertIn('FAIL step 2 (line 4: expect "USER test"): received b\'USER other\'', out)
        self.assertIn("received b'USER other\\r\\n'", log)

    def test_each_kind_of_expectation_reports_its_failure(self):
        cases = [
            ('timeout 0.5\nexpect "USER test"\n', lambda c: time.sleep(1.0),
             'step 2 (line 2: expect "USER test"): nothing received within 0.5 s'),
            ('expect "USER test" 0.5\n', lambda c: (c.send(b'USER test'), time.sleep(1.0)),
             "no line end within 0.5 s; received b'USER test'"),
            ('expect-prefix "PASS "\n', lambda c: (c.send('USER x'), time.sleep(0.3)),
             "received b'USER x'"),
            ('expect-re "PORT [0-9,]+"\n', lambda c: (c.send('PORT 1,2,3,4,5,x'), time.sleep(0.3)),
             "received b'PORT 1,2,3,4,5,x'"),
            ('expect-port\n', lambda c: (c.send('PORT 1,2,3,4,5'), time.sleep(0.3)),
             "received b'PORT 1,2,3,4,5'"),
            ('expect "USER test"\n', lambda c: c.close(),
             'the client closed the control connection'),
            ('expect-silence 1\n', lambda c: (c.send('NOOP'), time.sleep(0.3)),
             "received b'NOOP\\r\\n'"),
            ('expect-close 0.5\n', lambda c: time.sleep(1.0),
             'the client kept the control connection open for 0.5 s'),
            ('expect-close\n', lambda c: (c.send('QUIT'), time.sleep(0.3)),
             "received b'QUIT\\r\\n' instead of a close"),
            ('accept 0.5\n', None,
             'step 1 (line 1: accept 0.5): no control connection within 0.5 s'),
            ('pasv "227 ({h1},{h2},{h3},{h4},{p1},{p2})"\ndata-accept 0.5\n', lambda c: time.sleep(1.0),
             'step 2 (line 2: data-accept 0.5): no data connection within 0.5 s'),
            ('pasv "227 ({h1},{h2},{h3},{h4},{p1},{p2})"\ndata-expect-none 5\n',
             lambda c: (socket.create_connection(pasv_address(c.line()), timeout=5), time.sleep(0.3)),
             'a data connection arrived from 127.0.0.1'),
            ('data-connect\n', lambda c: time.sleep(0.3), 'no PORT command received before'),
            ('data-send "x"\n', lambda c: time.sleep(0.3), 'no data connection is open'),
        ]
        for text, action, message in cases:
            with self.subTest(text=text):
                def client(port):
                    if action is None:
                        time.sleep(0.8)
                        return
                    c = Client(port)
                    action(c)
                    c.close()
                code, out, log = self.play(text, client)
                self.assertEqual(code, 1, out + log)
                self.assertIn(message, out)
                self.assertIn('FAIL', log)

    def test_placeholders_and_active_connect(self):
        # The PORT address is kept and filled into later replies.
        text = ('expect-port\nreply "200 {h1}.{h2}.{h3}.{h4}:{port} {p1}/{p2}"\n'
                'data-connect\ndata-send "\\x00\\xffdata"\ndata-close\n')
        listener = socket.socket()
        listener.bind(('127.0.0.1', 0))
        listener.listen(1)
        p = listener.getsockname()[1]

        def client(port):
            c = Client(port)
            c.send('PORT 127,0,0,1,%d,%d' % (p // 256, p % 256))
            self.assertEqual(c.line(), ('200 127.0.0.1:%d %d/%d\r\n' % (p, p // 256, p % 256)).encode())
            listener.settimeout(10)
            d, _ = listener.accept()
            self.assertEqual(read_all(d), b'\x00\xffdata')
            c.close()
        code, out, log = self.play(text, client)
        listener.close()
        self.assertEqual(code, 0, out + log)

    def test_an_intruder_reaches_the_port_first_and_must_be_shut_out(self):
        text = 'expect-port\ndata-intrude "evil" 2\nreply "200 ok"\n'
        for shuts_out in (True, False):
            with self.subTest(shuts_out=shuts_out):
                listener = socket.socket()
                listener.bind(('127.0.0.1', 0))
                listener.listen(5)
                p = listener.getsockname()[1]

                def client(port):
                    c = Client(port)
                    c.send('PORT 127,0,0,1,%d,%d' % (p // 256, p % 256))
                    listener.settimeout(10)
                    d, peer = listener.accept()
                    self.assertEqual(peer[0], '127.0.0.2')
                    if shuts_out:
                        d.close()
                        self.assertEqual(c.line(), b'200 ok\r\n')
                    else:
                        time.sleep(3)
                        d.close()
                    c.close()
                code, out, log = self.play(text, client)
                listener.close()
                if shuts_out:
                    self.assertEqual(code, 0, out + log)
                    self.assertIn("the client closed the intruder's connection", log)
                else:
                    self.assertEqual(code, 1, out + log)
                    self.assertIn("kept the intruder's connection open for 2 s", out)

    def test_send_slow_stops_without_failing_once_the_client_has_closed(self):
        def client(port):
            c = Client(port)
            self.assertEqual(c.raw(3), b'xxx')
            c.close()
        code, out, log = self.play('send-slow "x" 50 0.1\nexpect-close 5\n', client)
        self.assertEqual(code, 0, out + log)
        self.assertIn('then the client closed the connection', log)

    def test_bad_scenarios_are_refused_with_their_line(self):
        cases = [
            ('send "x"\nfly away\n', "line 2: unknown step 'fly'"),
            ('send "unterminated\n', 'line 1: text without closing quote'),
            ('send x\n', 'line 1: send needs a quoted text'),
            ('sleep soon\n', "line 1: sleep: 'soon' is not a number"),
            ('send "a" "b"\n', 'line 1: send takes'),
            ('expect-re "("\n', 'line 1: bad regular expression'),
            ('send "x"\nrefuse\n', 'line 2: refuse must be the first step'),
        ]
        for text, message in cases:
            with self.subTest(text=text):
                peer = Peer(text=text)
                code, out, err = peer.verdict()
                self.assertEqual(code, 2)
                self.assertIn(message, err)


class ControlService(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.state = os.path.join(cls.dir.name, 'state')
        subprocess.run([sys.executable, PEER, 'start', '--state', cls.state, '--scenarios', SCENARIOS],
                       check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(cls.state, 'port')) as f:
            cls.port = int(f.read())

    @classmethod
    def tearDownClass(cls):
        subprocess.run([sys.executable, PEER, 'stop', '--state', cls.state], check=True)
        cls.dir.cleanup()

    def control(self):
        s = socket.create_connection(('127.0.0.1', self.port), timeout=30)
        return s, s.makefile('rb')

    def wait(self, s, f):
        s.sendall(b'WAIT 30\n')
        verdict = f.readline().decode().rstrip('\n')
        log = []
        while True:
            line = f.readline().decode().rstrip('\n')
            if line == '.':
                return verdict, log
            self.assertTrue(line.startswith('| '), line)
            log.append(line[2:])

    def test_run_a_stored_scenario_and_read_the_verdict(self):
        s, f = self.control()
        for _ in range(2):  # one control connection runs scenarios one after another
            s.sendall(b'RUN login_230_after_user\n')
            reply = f.readline()
            self.assertRegex(reply, rb'^PORT \d+\n$')
            client_login_230_after_user(self, int(reply.split()[1]))
            verdict, log = self.wait(s, f)
            self.assertEqual(verdict, 'PASS')
            self.assertTrue(any("received b'USER test\\r\\n'" in line for line in log), log)
            self.assertTrue(log[-1].endswith('PASS'))
        s.close()

    def test_inline_script_failure_and_errors(self):
        s, f = self.control()
        script = b'reply "220 Ready"\nexpect "USER test"\n'
        s.sendall(b'SCRIPT %d\n' % len(script) + script)
        port = int(f.readline().split()[1])
        c = Client(port)
        c.line()
        c.send('USER nobody')
        verdict, log = self.wait(s, f)
        self.assertEqual(verdict, 'FAIL step 2 (line 2: expect "USER test"): received b\'USER nobody\'')
        c.close()
        s.sendall(b'RUN no_such_scenario\n')
        self.assertTrue(f.readline().startswith(b'ERROR '))
        s.sendall(b'WAIT\n')
        self.assertEqual(f.readline(), b'ERROR no scenario was started\n')
        s.sendall(b'HELLO\n')
        self.assertTrue(f.readline().startswith(b'ERROR unknown command'))
        s.close()

    def test_wait_with_a_limit_stops_a_stuck_scenario(self):
        s, f = self.control()
        script = b'accept 60\n'
        s.sendall(b'SCRIPT %d\n' % len(script) + script)
        f.readline()
        s.sendall(b'WAIT 0.5\n')
        self.assertEqual(f.readline(), b'FAIL step 1 (line 1: accept 60): the scenario was stopped\n')
        s.close()


if __name__ == '__main__':
    unittest.main()
