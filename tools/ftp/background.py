"""Starting and stopping the test servers in the background.

"start" runs the server's own "run" command as a detached process and returns
once it listens: STATE/port then holds the port number, STATE/pid the process
id, STATE/stdout.log its output. "stop" ends that process. ctest fixtures,
shell scripts and the benchmark all use this pair.
"""
import os
import signal
import subprocess
import sys
import time


def write_atomically(path, text):
    tmp = path + '.tmp'
    with open(tmp, 'w') as f:
        f.write(text)
    os.replace(tmp, path)


def start(script, state, run_args, timeout):
    os.makedirs(state, exist_ok=True)
    port_file = os.path.join(state, 'port')
    pid_file = os.path.join(state, 'pid')
    if os.path.exists(pid_file):
        stop(state, quiet=True)
    if os.path.exists(port_file):
        os.remove(port_file)
    argv = [sys.executable, os.path.abspath(script)] + run_args + ['--port-file', port_file]
    with open(os.path.join(state, 'stdout.log'), 'w') as out:
        child = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out,
                                 stderr=subprocess.STDOUT, start_new_session=True)
    write_atomically(pid_file, '%d\n' % child.pid)
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if os.path.exists(port_file):
            port = open(port_file).read().strip()
            print('listening on port %s (pid %d)' % (port, child.pid), flush=True)
            return 0
        if child.poll() is not None:
            break
        time.sleep(0.05)
    print('%s did not start; its output:' % os.path.basename(script), file=sys.stderr)
    sys.stderr.write(open(os.path.join(state, 'stdout.log')).read())
    if child.poll() is None:
        child.kill()
        child.wait()
    os.remove(pid_file)
    return 1


def alive(pid):
    """True while the process runs (a finished one waiting to be reaped by
    whoever adopted it counts as ended)."""
    try:
        with open('/proc/%d/stat' % pid) as f:
            return f.read().rsplit(')', 1)[1].split()[0] != 'Z'
    except OSError:
        return False


def stop(state, quiet=False):
    pid_file = os.path.join(state, 'pid')
    try:
        pid = int(open(pid_file).read())
    except (OSError, ValueError):
        if not quiet:
            print('nothing recorded in %s' % state, file=sys.stderr)
        return 0
    try:
        os.kill(pid, signal.SIGTERM)
        for _ in range(100):
            if not alive(pid):
                break
            time.sleep(0.05)
        else:
            os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    for name in ('pid', 'port'):
        path = os.path.join(state, name)
        if os.path.exists(path):
            os.remove(path)
    return 0
