# A private network namespace for running the real program against a local
# FTP server under the deployment host names: shared by the end-to-end
# tests (tests/e2e/upgrade_test.sh) and scripts/demo. Source it after
# env.sh; it defines functions only.
#
# The namespace (unshare --net --mount, root only) has just the loopback
# interface; a hosts file bind-mounted over /etc/hosts maps the two server
# names to loopback addresses. Wine keeps its sockets in the wineserver, so
# the program's server must live in the namespace: TMPDIR points into the
# state folder, where Debian's Wine makes its server folder, and a Wine
# started in the namespace never finds a server outside it. The file system
# is the host's otherwise (a checkout or a state folder under /tmp stays
# visible). The program runs in a copy of the test prefix, since two
# wineservers must never serve one prefix.
#
#   qv_sandbox_check                 true when a namespace can be made here;
#                                    otherwise prints why not
#   qv_sandbox_run <command...>      runs the command in a fresh namespace
#                                    (its exit status is returned); a pid
#                                    namespace too, so that every process
#                                    started in it ends with the command
#   inside the namespace:
#     qv_sandbox_setup <state dir> <main server name> <spare server name>
#                                    loopback up, TMPDIR=<state dir>/tmp
#                                    (exported), /etc/hosts mapping the main
#                                    name to 127.0.0.1 and the spare name to
#                                    127.0.0.2 (a server on one of them is
#                                    not reached through the other)
#   qv_prefix_copy <from> <to>       a private prefix: small files copied,
#                                    the Windows folder hard-linked (Wine
#                                    replaces its files, it does not write
#                                    into them)
#   qv_prefix_drive <prefix> <letter> <folder>
#                                    points a drive letter at a folder
#   qv_ftp_server_start <state dir> <ftp_server.py options...>
#   qv_ftp_server_stop <state dir>
#   qv_sample_installation <folder>  Zentra\main\QVX.exe and a few product
#                                    files below the folder

qv_sandbox_check() {
  if [ "$(id -u)" != 0 ]; then
    echo "not root: a private network namespace cannot be made"
    return 1
  fi
  local why
  if ! why=$(qv_sandbox_run true 2>&1); then
    echo "unshare --net --mount is not allowed here: $why"
    return 1
  fi
  return 0
}

qv_sandbox_run() {
  unshare --net --mount --pid --fork --kill-child --mount-proc --propagation private -- "$@"
}

qv_sandbox_setup() {
  local state=$1 main=$2 spare=$3
  mkdir -p "$state/tmp" || return 1
  ip link set lo up || return 1
  export TMPDIR=$state/tmp
  {
    echo "127.0.0.1 localhost $main"
    echo "127.0.0.2 $spare"
  } >"$state/hosts"
  mount --bind "$state/hosts" /etc/hosts || return 1
}

qv_prefix_copy() {
  local from=$1 to=$2
  [ -f "$from/system.reg" ] || { echo "no Wine prefix at $from" >&2; return 1; }
  rm -rf "$to"
  mkdir -p "$to"
  tar -C "$from" --exclude=./drive_c/windows -cf - . | tar -C "$to" -xf - || return 1
  cp -al "$from/drive_c/windows" "$to/drive_c/windows"
}

qv_prefix_drive() {
  local prefix=$1 letter=$2 folder=$3
  mkdir -p "$folder"
  ln -sfn "$folder" "$prefix/dosdevices/$letter:"
}

qv_ftp_server_start() {
  local state=$1
  shift
  /usr/bin/python3 "$QV_ROOT/tools/ftp/ftp_server.py" start --state "$state" "$@" >/dev/null
}

qv_ftp_server_stop() {
  [ -f "$1/pid" ] || return 0
  /usr/bin/python3 "$QV_ROOT/tools/ftp/ftp_server.py" stop --state "$1" >/dev/null 2>&1
}

qv_sample_installation() {
  local main=$1/Zentra/main
  mkdir -p "$main/data"
  printf 'QVX 9.1.0 (installed)\n' >"$main/QVX.exe"
  printf 'QVXCHART 9.1.0 (installed)\n' >"$main/qvxchart.dll"
  printf '[Quotiva]\nVersion=9.1.0\n' >"$main/quotiva.ini"
  printf 'HSI,0001,0005\n' >"$main/data/symbols.dat"
}
