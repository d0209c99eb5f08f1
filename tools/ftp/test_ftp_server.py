#!/usr/bin/python3
"""Checks the pyftpdlib runner as tests and scripts use it: background start
with the port in a file, accounts, read-only serving, both data modes, the
listing extras, the refused file, throttling, the faults (a file cut short
with an error reply, a server that dies in the middle of a file) and stop."""
import ftplib
import io
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, 'ftp_server.py')
sys.path.insert(0, HERE)
from ftp_server import sample_bytes  # noqa: E402


class Runner(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.root = os.path.join(cls.dir.name, 'root')
        cls.state = os.path.join(cls.dir.name, 'state')
        subprocess.run(
            [sys.executable, SERVER, 'start', '--state', cls.state, '--root', cls.root,
             '--user', 'qvmain:kd52wm71', '--user', 'qvspare:qrt418',
             '--file', 'QVX_upgrade/QVX.exe=300K', '--file', 'QVX_upgrade/data.dat=1000',
             '--file', 'QVX_upgrade/secret.bin=10', '--file', 'QVX_upgrade/slow.bin=192K',
             '--file', 'big.bin=3M', '--dir', 'empty',
             '--nlst-dots', '--nlst-suffix', 'data.dat=  \\t', '--refuse', 'secret.bin',
             '--throttle', '64K', '--throttle-only', 'slow.bin'],
            check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(cls.state, 'port')) as f:
            cls.port = int(f.read())

    @classmethod
    def tearDownClass(cls):
        subprocess.run([sys.executable, SERVER, 'stop', '--state', cls.state], check=True)
        cls.dir.cleanup()

    def connect(self, user='qvmain', password='kd52wm71', passive=True):
        ftp = ftplib.FTP()
        ftp.connect('127.0.0.1', self.port, timeout=30)
        ftp.login(user, password)
        ftp.set_pasv(passive)
        self.addCleanup(ftp.close)
        return ftp

    def retr(self, ftp, name, rest=None):
        out = io.BytesIO()
        ftp.retrbinary('RETR ' + name, out.write, rest=rest)
        return out.getvalue()

    def test_files_are_made_with_their_sizes_and_deterministic_content(self):
        for rel, size in (('QVX_upgrade/QVX.exe', 300 << 10), ('big.bin', 3 << 20), ('QVX_upgrade/data.dat', 1000)):
            with open(os.path.join(self.root, rel), 'rb') as f:
                data = f.read()
            self.assertEqual(len(data), size)
            self.assertEqual(data, sample_bytes(os.path.basename(rel), size))
        # Every MiB differs, so a block at a wrong offset shows.
        big = sample_bytes('big.bin', 3 << 20)
        self.assertNotEqual(big[:1 << 20], big[1 << 20:2 << 20])
        self.assertNotEqual(sample_bytes('a', 100), sample_bytes('b', 100))

    def test_both_accounts_and_a_wrong_password(self):
        for user, password in (('qvmain', 'kd52wm71'), ('qvspare', 'qrt418')):
            self.assertEqual(self.connect(user, password).pwd(), '/')
        with self.assertRaises(ftplib.error_perm) as caught:
            self.connect('qvmain', 'wrong')
        self.assertTrue(str(caught.exception).startswith('530'))

    def test_downloads_in_passive_and_active_mode_with_restart(self):
        expected = sample_bytes('big.bin', 3 << 20)
        for passive in (True, False):
            with self.subTest(passive=passive):
                ftp = self.connect(passive=passive)
                self.assertEqual(self.retr(ftp, 'big.bin'), expected)
                self.assertEqual(self.retr(ftp, 'big.bin', rest=1234567), expected[1234567:])
                reply = ftp.sendcmd('PASV') if passive else ''
                if passive:
                    self.assertTrue(reply.startswith('227 Entering passive mode (127,0,0,1,'), reply)

    def test_double_slash_folder_and_names_only_listing_extras(self):
        ftp = self.connect()
        self.assertTrue(ftp.cwd('//QVX_upgrade').startswith('250'))
        self.assertEqual(ftp.pwd(), '/QVX_upgrade')
        raw = io.BytesIO()
        ftp.retrbinary('NLST', raw.write)
        self.assertEqual(raw.getvalue(),
                         b'.\r\n..\r\nQVX.exe\r\ndata.dat  \t\r\nsecret.bin\r\nslow.bin\r\n')
        full = []
        ftp.retrlines('LIST', full.append)
        self.assertEqual(len(full), 4)  # LIST stays as it was
        self.assertEqual(self.retr(ftp, 'data.dat'), sample_bytes('data.dat', 1000))
        empty = io.BytesIO()
        ftp.retrbinary('NLST /empty', empty.write)
        self.assertEqual(empty.getvalue(), b'.\r\n..\r\n')

    def test_refused_missing_and_write_attempts_are_550(self):
        ftp = self.connect()
        ftp.cwd('/QVX_upgrade')
        for command in ('RETR secret.bin', 'RETR missing.bin', 'CWD /missing'):
            with self.subTest(command=command):
                with self.assertRaises(ftplib.error_perm) as caught:
                    if command.startswith('RETR'):
                        self.retr(ftp, command[5:])
                    else:
                        ftp.sendcmd(command)
                self.assertTrue(str(caught.exception).startswith('550'), caught.exception)
        with self.assertRaises(ftplib.error_perm) as caught:
            ftp.storbinary('STOR new.bin', io.BytesIO(b'x'))
        self.assertTrue(str(caught.exception).startswith('550'))
        self.assertFalse(os.path.exists(os.path.join(self.root, 'QVX_upgrade', 'new.bin')))

    def test_throttled_file_arrives_whole_but_slowly(self):
        # 192 KiB at 64 KiB/s cannot arrive in under a second; the check is
        # on the throttle working at all, not on any speed.
        ftp = self.connect()
        ftp.cwd('/QVX_upgrade')
        started = time.monotonic()
        data = self.retr(ftp, 'slow.bin')
        elapsed = time.monotonic() - started
        self.assertEqual(data, sample_bytes('slow.bin', 192 << 10))
        self.assertGreater(elapsed, 1.0)


class ExtraNamesAndLoginDelay(unittest.TestCase):
    """A listed name that is not in the folder (here with a sub-folder part),
    a pause before USER is answered, and the commands in the log."""

    def test_extra_name_ends_the_listing_and_user_is_answered_late(self):
        with tempfile.TemporaryDirectory() as d:
            state = os.path.join(d, 'state')
            subprocess.run(
                [sys.executable, SERVER, 'start', '--state', state, '--root', os.path.join(d, 'root'),
                 '--user', 'qvmain:kd52wm71', '--file', 'QVX_upgrade/a.dat=10',
                 '--file', 'QVX_upgrade/z.dat=10', '--nlst-extra', 'sub/new.dll',
                 '--delay-login', '0.6', '--log-commands'],
                check=True, stdout=subprocess.DEVNULL)
            try:
                with open(os.path.join(state, 'port')) as f:
                    port = int(f.read())
                ftp = ftplib.FTP()
                ftp.connect('127.0.0.1', port, timeout=30)
                self.addCleanup(ftp.close)
                started = time.monotonic()
                self.assertTrue(ftp.sendcmd('USER qvmain').startswith('331'))
                self.assertGreater(time.monotonic() - started, 0.5)
                self.assertTrue(ftp.sendcmd('PASS kd52wm71').startswith('230'))
                ftp.cwd('/QVX_upgrade')
                raw = io.BytesIO()
                ftp.retrbinary('NLST', raw.write)
                self.assertEqual(raw.getvalue(), b'a.dat\r\nsub/new.dll\r\nz.dat\r\n')
                ftp.quit()
            finally:
                subprocess.run([sys.executable, SERVER, 'stop', '--state', state], check=True,
                               stdout=subprocess.DEVNULL)
            with open(os.path.join(state, 'server.log')) as f:
                log = f.read()
            self.assertIn('<- PASV', log)
            self.assertIn('<- NLST', log)


def start_server(test, *args):
    """A background server for one test, stopped after it; returns its state
    folder and port."""
    d = tempfile.TemporaryDirectory()
    test.addCleanup(d.cleanup)
    state = os.path.join(d.name, 'state')
    subprocess.run([sys.executable, SERVER, 'start', '--state', state, '--root', os.path.join(d.name, 'root'),
                    '--user', 'qvmain:kd52wm71', '--log-commands'] + list(args),
                   check=True, stdout=subprocess.DEVNULL)
    test.addCleanup(subprocess.run, [sys.executable, SERVER, 'stop', '--state', state], check=True,
                    stdout=subprocess.DEVNULL)
    with open(os.path.join(state, 'port')) as f:
        return state, int(f.read())


def login(test, port):
    ftp = ftplib.FTP()
    ftp.connect('127.0.0.1', port, timeout=30)
    test.addCleanup(ftp.close)
    ftp.login('qvmain', 'kd52wm71')
    ftp.voidcmd('TYPE I')
    return ftp


def receive(ftp, command):
    """The bytes of a data connection, and when it ended."""
    conn = ftp.transfercmd(command)
    data = b''
    while True:
        block = conn.recv(65536)
        if not block:
            break
        data += block
    ended = time.monotonic()
    conn.close()
    return data, ended


class Faults(unittest.TestCase):
    def test_a_cut_file_ends_its_data_early_and_gets_the_error_reply_given(self):
        _, port = start_server(
            self, '--file', 'QVX.exe=300K', '--file', 'late.bin=100K', '--file', 'whole.dat=5000',
            '--cut', 'QVX.exe:1000:0:426 Connection closed; transfer aborted.',
            '--cut', 'late.bin:64K:0.3:451 Local error in processing.')
        for passive in (True, False):
            with self.subTest(passive=passive):
                ftp = login(self, port)
                ftp.set_pasv(passive)
                data, _ = receive(ftp, 'RETR QVX.exe')
                self.assertEqual(data, sample_bytes('QVX.exe', 300 << 10)[:1000])
                with self.assertRaises(ftplib.error_temp) as caught:
                    ftp.voidresp()
                self.assertEqual(str(caught.exception), '426 Connection closed; transfer aborted.')
                data, ended = receive(ftp, 'RETR late.bin')
                self.assertEqual(data, sample_bytes('late.bin', 100 << 10)[:64 << 10])
                with self.assertRaises(ftplib.error_temp) as caught:
                    ftp.voidresp()
                # The reply comes well after the data connection ended.
                self.assertGreater(time.monotonic() - ended, 0.2)
                self.assertEqual(str(caught.exception), '451 Local error in processing.')
                # Other files, and the cut ones again, as before.
                self.assertEqual(receive(ftp, 'RETR whole.dat')[0], sample_bytes('whole.dat', 5000))
                self.assertTrue(ftp.voidresp().startswith('226'))
                self.assertEqual(len(receive(ftp, 'RETR QVX.exe')[0]), 1000)
                with self.assertRaises(ftplib.error_temp):
                    ftp.voidresp()

    def test_a_fault_option_that_cannot_be_read_is_a_usage_error(self):
        for option in ('--cut=QVX.exe:1000:426 no delay', '--cut=QVX.exe:1000:0:no code', '--die-after=QVX.exe'):
            with self.subTest(option=option):
                r = subprocess.run([sys.executable, SERVER, 'run', '--root', '.', '--user', 'u:p', option],
                                   capture_output=True, text=True)
                self.assertEqual(r.returncode, 2, r.stderr)

    def test_the_server_dies_in_the_middle_of_a_file(self):
        state, port = start_server(self, '--file', 'QVX.exe=2M', '--file', 'a.dat=10',
                                   '--die-after', 'QVX.exe:300000')
        ftp = login(self, port)
        ftp.set_pasv(True)
        self.assertEqual(receive(ftp, 'RETR a.dat')[0], sample_bytes('a.dat', 10))
        self.assertTrue(ftp.voidresp().startswith('226'))
        data, _ = receive(ftp, 'RETR QVX.exe')
        self.assertEqual(data, sample_bytes('QVX.exe', 2 << 20)[:300000])
        # The control connection ends without a reply: the process has
        # ended, and nothing listens any more.
        with self.assertRaises(EOFError):
            ftp.voidresp()
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(('127.0.0.1', port), timeout=5)
        with open(os.path.join(state, 'server.log')) as f:
            self.assertIn('dying in the middle of a file', f.read())


class Hostile(unittest.TestCase):
    def test_refused_sessions_and_a_421_to_retr(self):
        _, port = start_server(self, '--refuse-sessions', '421 Too many users')
        with self.assertRaises(ftplib.error_temp) as caught:
            ftplib.FTP().connect('127.0.0.1', port, timeout=10)
        self.assertEqual(str(caught.exception), '421 Too many users')
        _, port = start_server(self, '--file', 'QVX.exe=1000', '--reply-421', 'QVX.exe')
        ftp = login(self, port)
        with self.assertRaises(ftplib.error_temp) as caught:
            ftp.transfercmd('RETR QVX.exe')
        self.assertTrue(str(caught.exception).startswith('421 '))
        with self.assertRaises((EOFError, ConnectionError)):
            ftp.voidcmd('NOOP')

    def test_the_login_folder_listing_answer_and_a_racing_second_host(self):
        state, port = start_server(self, '--file', 'QVX_upgrade/QVX.exe=1000', '--nlst-root-reply',
                                   '450 No files found', '--race-data-from', '127.0.0.2')
        ftp = login(self, port)
        with self.assertRaises(ftplib.error_temp) as caught:
            ftp.nlst()
        self.assertEqual(str(caught.exception), '450 No files found')
        # Active mode: the first connection to the named port comes from the
        # second host with its own bytes; the server's follows.
        listener = socket.socket()
        listener.bind(('127.0.0.1', 0))
        listener.listen(5)
        listener.settimeout(10)
        host, p = listener.getsockname()
        ftp.sendport(host, p)
        first, peer = listener.accept()
        self.assertEqual(peer[0], '127.0.0.2')
        first.settimeout(10)
        self.assertTrue(read_all(first).startswith(b'evil.dll\r\n'))
        first.close()
        ftp.sendcmd('CWD QVX_upgrade')
        ftp.voidcmd('TYPE I')
        ftp.putcmd('RETR QVX.exe')
        second, peer = listener.accept()
        self.assertEqual(peer[0], '127.0.0.1')
        second.settimeout(10)
        self.assertEqual(read_all(second), sample_bytes('QVX.exe', 1000))
        second.close()
        listener.close()
        with open(os.path.join(state, 'server.log')) as f:
            self.assertIn('raced the server to 127.0.0.1:%d from 127.0.0.2' % p, f.read())


def read_all(sock):
    data = b''
    while True:
        block = sock.recv(65536)
        if not block:
            return data
        data += block


class RunAndStop(unittest.TestCase):
    def test_fixed_port_foreground_run_and_stop(self):
        with tempfile.TemporaryDirectory() as d:
            probe = socket.socket()
            probe.bind(('127.0.0.1', 0))
            port = probe.getsockname()[1]
            probe.close()
            port_file = os.path.join(d, 'port')
            proc = subprocess.Popen([sys.executable, SERVER, 'run', '--root', d, '--user', 'u:p',
                                     '--port', str(port), '--port-file', port_file],
                                    stdout=subprocess.PIPE, text=True)
            self.addCleanup(proc.stdout.close)
            self.addCleanup(lambda: proc.poll() is None and proc.kill())
            self.assertEqual(proc.stdout.readline(), 'listening on 127.0.0.1:%d\n' % port)
            with open(port_file) as f:
                self.assertEqual(int(f.read()), port)
            socket.create_connection(('127.0.0.1', port), timeout=5).close()
            proc.terminate()
            self.assertEqual(proc.wait(timeout=10), 0)
            with self.assertRaises(ConnectionRefusedError):
                socket.create_connection(('127.0.0.1', port), timeout=5)

    def test_start_without_user_or_on_a_taken_port_fails(self):
        with tempfile.TemporaryDirectory() as d:
            r = subprocess.run([sys.executable, SERVER, 'run', '--root', d], capture_output=True, text=True)
            self.assertEqual(r.returncode, 2)
            self.assertIn('--user', r.stderr)
            taken = socket.socket()
            taken.bind(('127.0.0.1', 0))
            taken.listen(1)
            r = subprocess.run([sys.executable, SERVER, 'start', '--state', os.path.join(d, 's'), '--root', d,
                                '--user', 'u:p', '--port', str(taken.getsockname()[1])],
                               capture_output=True, text=True)
            taken.close()
            self.assertEqual(r.returncode, 1)
            self.assertIn('cannot listen', r.stderr)


if __name__ == '__main__':
    unittest.main()
