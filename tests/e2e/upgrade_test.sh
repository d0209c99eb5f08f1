#!/usr/bin/env bash
# The upgrade run of the real QuotivaUpgrade.exe under Wine, end to end:
# a private network namespace where the two deployment host names lead to a
# real FTP server (pyftpdlib on port 21), an installation on D:, and the UI
# driver pressing the buttons and reading what the window shows.
#
# Usage: upgrade_test.sh <QuotivaUpgrade.exe> <ui_driver.exe> <state folder>
#                        <main server name> <spare server name> [case ...]
#
# WINEPREFIX names the test prefix; every namespace works in a copy of it.
# The cases run in QV_E2E_GROUPS namespaces side by side (default 3), each
# with its own wineserver, prefix copy and port 21. Without root (or where
# unshare is refused) the test says why and exits 77, which ctest reports
# as skipped.
#
# In the namespace the main server's name maps to 127.0.0.1 and the spare
# server's to 127.0.0.2; a server started for the spare cases listens on
# 127.0.0.2 only, so a run that went to the wrong server cannot pass.
set -u

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
QV_ROOT=$(cd "$HERE/../.." && pwd)
# shellcheck source=../../scripts/sandbox.sh
source "$QV_ROOT/scripts/sandbox.sh"

ALL_CASES=(
  main_active_two_files
  spare_passive
  wrong_password
  no_upgrade_folder
  empty_upgrade_folder
  refused_file_among_others
  cancel_during_large_file
  close_box_during_large_file
  name_in_missing_subfolder
  dots_in_listing
  unknown_server_name
  switching_server_while_connected
  cut_then_426_among_others
  cut_then_451_late_among_others
  only_file_cut_short
  server_dies_mid_file
  disk_full_on_d
  long_file_name
  refused_connection
  active_data_from_another_host
  greeting_421
  retr_421
  names_one_file_on_windows
  login_folder_listing_450
  files_in_use_retry
  files_in_use_cancel
  kill_during_download
  kill_at_commit_changes_1
  kill_at_commit_changes_2
  kill_at_commit_changes_3
  signed_upgrade_then_current
  signed_changed_byte_in_a_file
  signed_other_key
  signed_manifest_edited
  signed_older_version
  required_signature_without_manifest
  signed_resume_after_a_cut
  signed_upgrade_pure_ftpd
  quiet_upgraded
  quiet_nothing_to_upgrade
  quiet_not_installed
  quiet_login_refused
  quiet_server_unreachable
  quiet_file_failed
  quiet_files_in_use
  quiet_not_verified
  auto_presses_download
  usage
)

if [ "${1:-}" != --inside ]; then
  # ---- outside: check, split the cases into groups, run, report ---------
  if [ $# -lt 5 ]; then
    echo "usage: $0 <QuotivaUpgrade.exe> <ui_driver.exe> <state folder> <main name> <spare name> [case ...]" >&2
    exit 2
  fi
  EXE_UNIX=$1 DRIVER=$2 STATE=$3 MAIN=$4 SPARE=$5
  shift 5
  if ! reason=$(qv_sandbox_check); then
    echo "SKIPPED: the end-to-end upgrade runs need a private network namespace ($reason)"
    exit 77
  fi
  : "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
  cases=("$@")
  ((${#cases[@]} == 0)) && cases=("${ALL_CASES[@]}")
  groups=${QV_E2E_GROUPS:-3}
  ((groups > ${#cases[@]})) && groups=${#cases[@]}
  rm -rf "$STATE"
  mkdir -p "$STATE"
  pids=()
  for ((g = 0; g < groups; g++)); do
    mine=()
    for ((i = g; i < ${#cases[@]}; i += groups)); do mine+=("${cases[$i]}"); done
    # A pid namespace too: whatever the group leaves running ends with it.
    qv_sandbox_run bash "${BASH_SOURCE[0]}" --inside "$EXE_UNIX" "$DRIVER" "$STATE/group$g" "$MAIN" "$SPARE" "${mine[@]}" \
      >"$STATE/group$g.log" 2>&1 &
    pids+=($!)
  done
  status=0
  for ((g = 0; g < groups; g++)); do
    wait "${pids[$g]}" || status=1
  done
  cat "$STATE"/group*.log
  passed=$(cat "$STATE"/group*.log | grep -c '^PASS ')
  failed=$(cat "$STATE"/group*.log | grep -c '^FAIL ')
  echo "upgrade runs: $passed passed, $failed failed"
  if [ "$passed" != "${#cases[@]}" ]; then status=1; fi
  exit $status
fi

# ---- inside one namespace ------------------------------------------------
shift
EXE_UNIX=$1 DRIVER=$2 GROUP=$3 MAIN=$4 SPARE=$5
shift 5
export WINEDEBUG=-all

mkdir -p "$GROUP"
qv_sandbox_setup "$GROUP" "$MAIN" "$SPARE" || { echo "FAIL setup: the namespace could not be prepared"; exit 1; }
qv_prefix_copy "$WINEPREFIX" "$GROUP/prefix" || { echo "FAIL setup: no prefix copy"; exit 1; }
export WINEPREFIX=$GROUP/prefix
for l in d e f g h i; do rm -f "$WINEPREFIX/dosdevices/$l:"; done
rm -rf "$WINEPREFIX/drive_c/Zentra"

FTP_STATE=
cleanup() {
  [ -n "$FTP_STATE" ] && qv_ftp_server_stop "$FTP_STATE"
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
}
trap cleanup EXIT
wineserver -p
# The desktop process, detached from our output (see design notes on pipes).
setsid wine reg query 'HKCU\Software\Wine\Drivers' </dev/null >/dev/null 2>&1

# A quoted word of the driver's scripts (backslashes doubled): the path may
# hold blanks.
EXE=\"$(winepath -w "$EXE_UNIX" 2>/dev/null | sed 's/\\/\\\\/g')\"

# ---- helpers for the cases -------------------------------------------------
CASE= C= D= OK=1
INSTALLED=      # the installation folder of the case (unix path)
ROOT=           # the FTP server's root of the case

fail() {
  OK=0
  echo "    $*"
}

# ftp_up [ftp_server.py options]: the server for this case on port 21, with
# both accounts unless USERS is set.
ftp_up() {
  local users=(--user qvmain:kd52wm71 --user qvspare:qrt418)
  ((${#USERS[@]} > 0)) && users=("${USERS[@]}")
  FTP_STATE=$C/ftp
  if ! qv_ftp_server_start "$FTP_STATE" --port 21 --root "$ROOT" --log-commands "${users[@]}" "$@"; then
    fail "the FTP server did not start: $(cat "$FTP_STATE/stdout.log" 2>/dev/null)"
    return 1
  fi
}

ftp_down() {
  qv_ftp_server_stop "$FTP_STATE"
  FTP_STATE=
}

# drive: runs the driver script on standard input.
drive() {
  local script=$C/script.drv out=$C/driver.out
  cat >"$script"
  wine "$DRIVER" "$(winepath -w "$script" 2>/dev/null)" >"$out" 2>&1
  local rc=$?
  if [ $rc != 0 ]; then
    fail "driver exit code $rc:"
    sed 's/^/      /' "$out"
  fi
}

served() { echo "$ROOT/QVX_upgrade/$1"; }

# Files as the installation had them before the run, for comparisons.
keep_copy() { cp -a "$INSTALLED" "$C/installed-before"; }
before() { echo "$C/installed-before/$1"; }

expect_same() {
  cmp -s "$1" "$2" || fail "$(basename "$2") differs from $(basename "$1") ($(stat -c %s "$1" 2>/dev/null || echo missing) vs $(stat -c %s "$2" 2>/dev/null || echo missing) bytes)"
}

expect_missing() { [ ! -e "$1" ] || fail "$1 exists"; }

# The program's temporary files: "~qv", four hex digits, ".tmp".
expect_no_staging_files() {
  local left
  left=$(find "$D" -regextype posix-extended -iregex '.*/~qv[0-9a-f]{4}\.tmp')
  [ -z "$left" ] || fail "temporary files left: $left"
}

# The installation holds exactly these files (paths below the installation
# folder), and nothing else: no temporary file of any name.
expect_installation_files() {
  local have want
  have=$(cd "$INSTALLED" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
  want=$(printf '%s\n' "$@" | LC_ALL=C sort)
  [ "$have" = "$want" ] || fail "the installation holds: $(echo $have), expected: $(echo $want)"
}

expect_log() {
  grep -q -- "$1" "$C/ftp/server.log" || fail "the server log holds no \"$1\""
}

expect_no_log() {
  if grep -q -- "$1" "$C/ftp/server.log"; then fail "the server log holds \"$1\""; fi
}

begin_case() {
  CASE=$1
  C=$GROUP/cases/$CASE
  D=$C/d
  INSTALLED=$D/Zentra/main
  ROOT=$C/root
  OK=1
  USERS=()
  rm -rf "$C"
  mkdir -p "$C" "$ROOT"
  qv_prefix_drive "$WINEPREFIX" d "$D"
  qv_sample_installation "$D"
}

end_case() {
  [ -n "$FTP_STATE" ] && ftp_down
  if [ $OK = 1 ]; then echo "PASS $CASE"; else echo "FAIL $CASE"; fi
}

# ---- the cases -----------------------------------------------------------

# Main server, active mode, two files; the second is listed with trailing
# blanks and a tab (every line ends in CR LF) and is shorter than the
# installed file it replaces. The server answers USER only after a pause, so
# the "connected" text stays long enough to be seen, and sends the first file
# slowly (the server's throttle pauses after each 200 KiB), so the progress
# texts are seen.
case_main_active_two_files() {
  head -c 100000 /dev/urandom >"$INSTALLED/qvxchart.dll"
  ftp_up --file QVX_upgrade/QVX.exe=600K --file QVX_upgrade/qvxchart.dll=70000 \
    --nlst-suffix 'qvxchart.dll=  \t' --throttle 200K --throttle-only QVX.exe --delay-login 0.8 || return
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
expect-text StatusBar1 "D:\\\\Zentra\\\\main\\\\"
watch StatusBar1
click btnDownload
expect-msgbox "所需檔案已下載完成"
expect-msgbox-caption "Quotiva Internet Upgrading System"
expect-lines Memo1 "QVX.exe" "qvxchart.dll"
expect-lines InfoMemo "QVX.exe" "qvxchart.dll  \t"
expect-text StatusBar1 "已登出系統"
expect-seen StatusBar1 "請稍候....." "已連接主伺服器" "已成功登入" "Being Login...." "qvxchart.dll 下載完成" "已登出系統"
expect-seen-match StatusBar1 "QVX\\.exe 下載中\\.\\.\\.[0-9]+"
expect-not-seen StatusBar1 "QVX.exe 下載中...0"
answer-msgbox OK
wait-exit
expect-exit-code 0
EOF
  expect_same "$(served QVX.exe)" "$INSTALLED/QVX.exe"
  expect_same "$(served qvxchart.dll)" "$INSTALLED/qvxchart.dll"
  expect_no_staging_files
  expect_log "USER 'qvmain' logged in"
  expect_log "<- CWD //QVX_upgrade"
  expect_log "<- PORT "
  expect_no_log "<- PASV"
  expect_log "<- TYPE I"
  expect_log "<- QUIT"
}

# Spare server in passive mode: the account "qvspare" on the server that
# only the spare name reaches; the status text still names the main server.
case_spare_passive() {
  ftp_up --host 127.0.0.2 --file QVX_upgrade/QVX.exe=200K --delay-login 0.8 || return
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
set-checked UseSpareSystem 1
set-checked UsePassiveMode 1
watch StatusBar1
click btnDownload
expect-msgbox "所需檔案已下載完成"
expect-lines Memo1 "QVX.exe"
expect-seen StatusBar1 "請稍候....." "已連接主伺服器" "已成功登入" "QVX.exe 下載完成"
answer-msgbox OK
wait-exit
expect-exit-code 0
EOF
  expect_same "$(served QVX.exe)" "$INSTALLED/QVX.exe"
  expect_log "USER 'qvspare' logged in"
  expect_no_log "qvmain"
  expect_log "<- PASV"
  expect_no_log "<- PORT "
}

# The server knows another password for qvmain: the error box with the
# reply, owned by the window; the window stays (Timer3 keeps waiting) until
# Cancel, which ends the program.
case_wrong_password() {
  keep_copy
  USERS=(--user qvmain:another --user qvspare:qrt418)
  ftp_up --dir QVX_upgrade --file QVX_upgrade/QVX.exe=1000 || return
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
click btnDownload
expect-msgbox "530 Authentication failed.\r\n"
expect-msgbox-caption "FTP Error: 530"
expect-msgbox-owner .
answer-msgbox OK
expect-no-msgbox 7000
expect-text StatusBar1 "已連接主伺服器"
expect-text Memo1 ""
click btnCancel
wait-exit
expect-exit-code 0
EOF
  expect_same "$(before QVX.exe)" "$INSTALLED/QVX.exe"
  expect_log "<- QUIT"
}

# No upgrade folder: the error box for the folder change; after it the run
# logs out and the window closes without the completion message (a message
# box left open would keep the program from ending).
case_no_upgrade_folder() {
  keep_copy
  ftp_up --dir other || return
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
watch StatusBar1
click btnDownload
expect-msgbox "550 No such file or directory.\r\n"
expect-msgbox-caption "FTP Error: 550"
expect-msgbox-owner .
answer-msgbox OK
wait-exit
expect-exit-code 0
expect-seen StatusBar1 "已成功登入" "已登出系統"
EOF
  expect_log "<- CWD //QVX_upgrade"
  expect_log "<- QUIT"
  diff -r "$C/installed-before" "$INSTALLED" >/dev/null || fail "the installation changed"
}

# An empty upgrade folder: the run ends by itself without any message.
case_empty_upgrade_folder() {
  keep_copy
  ftp_up --dir QVX_upgrade || return
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
watch StatusBar1
click btnDownload
wait-exit
expect-exit-code 0
expect-seen StatusBar1 "已成功登入" "Being Login...." "已登出系統"
EOF
  expect_log "<- NLST"
  expect_log "<- QUIT"
  diff -r "$C/installed-before" "$INSTALLED" >/dev/null || fail "the installation changed"
}

# One file refused (550) between two others: its box, then the others
# arrive; it is not listed and its installed file stays as it was.
case_refused_file_among_others() {
  keep_copy
  printf 'installed b\n' >"$INSTALLED/b.dll"
  cp "$INSTALLED/b.dll" "$C/b.dll.before"
  ftp_up --file QVX_upgrade/a.dat=5000 --file QVX_upgrade/b.dll=6000 --file QVX_upgrade/c.dat=7000 \
    --refuse b.dll || return
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
click btnDownload
expect-msgbox "550 b.dll: permission denied.\r\n"
expect-msgbox-caption "FTP Error: 550"
expect-msgbox-owner .
answer-msgbox OK
expect-msgbox "所需檔案已下載完成"
expect-lines Memo1 "a.dat" "c.dat"
answer-msgbox OK
wait-exit
expect-exit-code 0
EOF
  expect_same "$(served a.dat)" "$INSTALLED/a.dat"
  expect_same "$(served c.dat)" "$INSTALLED/c.dat"
  expect_same "$C/b.dll.before" "$INSTALLED/b.dll"
  expect_no_staging_files
}

# Cancel (or the close box) in the middle of a large, slow file: the program
# ends, the installed file is exactly as it was, no temporary file is left.
large_file_interrupted() {
  local how=$1
  head -c 3000000 /dev/urandom >"$INSTALLED/big.bin"
  keep_copy
  ftp_up --file QVX_upgrade/big.bin=8M --throttle 1M --throttle-only big.bin || return
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
click btnDownload
expect-match StatusBar1 "big\\.bin 下載中\\.\\.\\.[0-9]{6,}"
wait-file "D:\\\\Zentra\\\\main\\\\~qv????.tmp"
expect-text Memo1 ""
$how
wait-exit
expect-exit-code 0
EOF
  expect_same "$(before big.bin)" "$INSTALLED/big.bin"
  expect_no_staging_files
}
case_cancel_during_large_file() {
  large_file_interrupted "click btnCancel"
  expect_log "<- QUIT"
}
case_close_box_during_large_file() {
  large_file_interrupted "close"
  expect_no_log "<- QUIT"
}

# A listed name in a sub-folder that does not exist in the installation:
# the exception report with the file-open message; the run stops there (the
# file after it is not fetched) until Cancel, which installs nothing.
case_name_in_missing_subfolder() {
  keep_copy
  ftp_up --file QVX_upgrade/a.dat=5000 --file QVX_upgrade/z.dat=5000 --nlst-extra sub/new.dll || return
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
click btnDownload
expect-msgbox "Cannot open file D:\\\\Zentra\\\\main\\\\sub/new.dll"
expect-msgbox-caption "Quotiva Internet Upgrading System"
expect-lines Memo1 "a.dat"
answer-msgbox OK
expect-no-msgbox 6000
expect-lines Memo1 "a.dat"
expect-text StatusBar1 "sub/new.dll"
click btnCancel
wait-exit
expect-exit-code 0
EOF
  # a.dat arrived, but Cancel ended the run: nothing is installed.
  diff -r "$C/installed-before" "$INSTALLED" >/dev/null || fail "the installation changed"
  expect_missing "$INSTALLED/sub"
  expect_no_staging_files
  expect_no_log "<- RETR z.dat"
}

# A server that lists "." and "..", and a name reaching out of the folder:
# none of them is taken as a file, the two real files arrive and the run
# completes.
case_dots_in_listing() {
  ftp_up --file QVX_upgrade/QVX.exe=40000 --file QVX_upgrade/data.dat=3000 --nlst-dots \
    --nlst-extra ../outside.dat || return
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
click btnDownload
expect-msgbox "所需檔案已下載完成"
expect-lines InfoMemo "." ".." "../outside.dat" "QVX.exe" "data.dat"
expect-lines Memo1 "QVX.exe" "data.dat"
answer-msgbox OK
wait-exit
expect-exit-code 0
EOF
  expect_same "$(served QVX.exe)" "$INSTALLED/QVX.exe"
  expect_same "$(served data.dat)" "$INSTALLED/data.dat"
  expect_no_staging_files
  expect_no_log "<- RETR \."
  [ ! -e "$INSTALLED/../outside.dat" ] || fail "a file was written outside the installation folder"
}

# The main server's name resolves nowhere (it is taken out of the hosts file
# for this case): the exception report, then the window stays until Cancel.
case_unknown_server_name() {
  keep_copy
  cp "$GROUP/hosts" "$C/hosts.saved"
  grep -v -- "$MAIN" "$C/hosts.saved" >"$GROUP/hosts"
  echo "127.0.0.2 $SPARE" >>"$GROUP/hosts"
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
watch StatusBar1
click btnDownload
expect-msgbox "Cannot resolve destination address"
expect-msgbox-caption "Quotiva Internet Upgrading System"
answer-msgbox OK
expect-no-msgbox 6000
expect-text StatusBar1 "請稍候....."
expect-not-seen StatusBar1 "已連接主伺服器"
click btnCancel
wait-exit
expect-exit-code 0
EOF
  cat "$C/hosts.saved" >"$GROUP/hosts"
  diff -r "$C/installed-before" "$INSTALLED" >/dev/null || fail "the installation changed"
}

# Still connected after a refused login, "Download File" again with the
# spare server ticked: the server cannot be changed on an open connection,
# which the exception report says; Cancel ends the program.
case_switching_server_while_connected() {
  USERS=(--user qvmain:another)
  ftp_up --dir QVX_upgrade || return
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
click btnDownload
expect-msgbox "530 Authentication failed.\r\n"
answer-msgbox OK
set-checked UseSpareSystem 1
click btnDownload
expect-msgbox "Cannot change parameter while socket is connected"
expect-msgbox-caption "Quotiva Internet Upgrading System"
answer-msgbox OK
expect-no-msgbox 2000
click btnCancel
wait-exit
expect-exit-code 0
EOF
  expect_no_log "qvspare"
}

# Three files; the second, QVX.exe, the server cuts short: it sends part of
# it, closes the data connection as if the file had ended and answers with
# an error ($1), at once or $2 seconds later. Its one box comes before the
# third file is fetched; the installed QVX.exe stays byte for byte, the
# other two arrive, and the completion message follows. A temporary file an
# earlier run left behind is removed.
cut_among_others() {
  local reply=$1 delay=$2
  keep_copy
  printf 'left over\n' >"$INSTALLED/~qv0BAD.tmp"
  ftp_up --file QVX_upgrade/Help.chm=5000 --file QVX_upgrade/QVX.exe=2M --file QVX_upgrade/qvxchart.dll=70000 \
    --cut "QVX.exe:300000:$delay:$reply" --throttle 100K --throttle-only QVX.exe || return
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
watch StatusBar1
click btnDownload
expect-msgbox "$reply\r\n"
expect-msgbox-caption "FTP Error: ${reply%% *}"
expect-msgbox-owner .
expect-lines Memo1 "Help.chm"
answer-msgbox OK
expect-msgbox "所需檔案已下載完成"
expect-lines Memo1 "Help.chm" "qvxchart.dll"
expect-lines InfoMemo "Help.chm" "QVX.exe" "qvxchart.dll"
expect-seen-match StatusBar1 "QVX\\.exe 下載中\\.\\.\\.[0-9]+"
expect-not-seen StatusBar1 "QVX.exe 下載完成"
answer-msgbox OK
wait-exit
expect-exit-code 0
EOF
  expect_same "$(served Help.chm)" "$INSTALLED/Help.chm"
  expect_same "$(served qvxchart.dll)" "$INSTALLED/qvxchart.dll"
  expect_same "$(before QVX.exe)" "$INSTALLED/QVX.exe"
  expect_no_staging_files
  expect_installation_files Help.chm QVX.exe qvxchart.dll quotiva.ini data/symbols.dat
  expect_log "<- RETR QVX.exe"
  expect_log "<- RETR qvxchart.dll"
}
case_cut_then_426_among_others() { cut_among_others "426 Connection closed; transfer aborted." 0; }
case_cut_then_451_late_among_others() { cut_among_others "451 Local error in processing." 0.3; }

# The only file is cut short: its box, then the run ends by itself, without
# the completion message (a box left open would keep the program running).
case_only_file_cut_short() {
  keep_copy
  ftp_up --file QVX_upgrade/QVX.exe=2M --cut "QVX.exe:300000:0:426 Connection closed; transfer aborted." || return
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
watch StatusBar1
click btnDownload
expect-msgbox "426 Connection closed; transfer aborted.\r\n"
expect-msgbox-caption "FTP Error: 426"
expect-text Memo1 ""
answer-msgbox OK
wait-exit
expect-exit-code 0
expect-seen StatusBar1 "Being Login...." "已登出系統"
expect-not-seen StatusBar1 "QVX.exe 下載完成"
EOF
  expect_same "$(before QVX.exe)" "$INSTALLED/QVX.exe"
  expect_no_staging_files
  expect_installation_files QVX.exe qvxchart.dll quotiva.ini data/symbols.dat
  expect_log "<- QUIT"
}

# The server process ends in the middle of QVX.exe (both connections close
# as the system closes them): no file is taken for complete. One box says
# the server closed the connection; the run is logged out and waits for
# Cancel; no message says it completed, and Cancel leaves the installation
# exactly as it was (Help.chm had arrived, but is not installed alone).
case_server_dies_mid_file() {
  keep_copy
  ftp_up --file QVX_upgrade/Help.chm=5000 --file QVX_upgrade/QVX.exe=2M --file QVX_upgrade/qvxchart.dll=70000 \
    --die-after QVX.exe:300000 --throttle 100K --throttle-only QVX.exe || return
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
watch StatusBar1
click btnDownload
expect-msgbox "Connection closed by the server"
expect-msgbox-caption "FTP Error: -5"
answer-msgbox OK
expect-text StatusBar1 "已登出系統"
expect-no-msgbox 5000
expect-lines Memo1 "Help.chm"
expect-seen-match StatusBar1 "QVX\\.exe 下載中\\.\\.\\.[0-9]+"
expect-not-seen StatusBar1 "QVX.exe 下載完成"
click btnCancel
wait-exit
expect-exit-code 0
EOF
  # Help.chm arrived, but the run never ended: nothing is installed.
  diff -r "$C/installed-before" "$INSTALLED" >/dev/null || fail "the installation changed"
  expect_no_staging_files
  expect_log "dying in the middle of a file"
  expect_no_log "<- RETR qvxchart.dll"
}

# D: is a small file system of its own: room for the installation and a
# small file, not for the new QVX.exe. Writing fails once: one box, the
# installed QVX.exe unchanged, no temporary file; the next file arrives.
# (The reason in the box is the system's text for a full disk, as Wine
# words it.)
case_disk_full_on_d() {
  if ! mount -t tmpfs -o size=1m tmpfs "$D"; then
    fail "no small file system for D:"
    return
  fi
  qv_sample_installation "$D"
  keep_copy
  ftp_up --file QVX_upgrade/QVX.exe=3M --file QVX_upgrade/data.dat=20000 || { umount "$D"; return; }
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
click btnDownload
expect-msgbox "Cannot write QVX.exe: Disk full"
expect-msgbox-caption "FTP Error: -3"
expect-msgbox-owner .
answer-msgbox OK
expect-msgbox "所需檔案已下載完成"
expect-lines Memo1 "data.dat"
answer-msgbox OK
wait-exit
expect-exit-code 0
EOF
  expect_same "$(before QVX.exe)" "$INSTALLED/QVX.exe"
  expect_same "$(served data.dat)" "$INSTALLED/data.dat"
  expect_no_staging_files
  expect_installation_files QVX.exe data.dat qvxchart.dll quotiva.ini data/symbols.dat
  umount "$D"
}

# A name of 250 characters (the folder holds it; with the folder the path is
# beyond the classic length limit) arrives like any other.
case_long_file_name() {
  local long
  long=quotiva_$(head -c 238 /dev/zero | tr '\0' x).dat
  ftp_up --file QVX_upgrade/QVX.exe=40000 --file "QVX_upgrade/$long=5000" || return
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
click btnDownload
expect-msgbox "所需檔案已下載完成"
expect-lines Memo1 "QVX.exe" "$long"
answer-msgbox OK
wait-exit
expect-exit-code 0
EOF
  expect_same "$(served QVX.exe)" "$INSTALLED/QVX.exe"
  expect_same "$(served "$long")" "$INSTALLED/$long"
  expect_no_staging_files
  expect_installation_files QVX.exe "$long" qvxchart.dll quotiva.ini data/symbols.dat
}

# Nothing listens on port 21: the box with the socket error number and no
# text at once; the window stays (it waits to be logged in) until Cancel.
case_refused_connection() {
  keep_copy
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
watch StatusBar1
click btnDownload
expect-msgbox ""
expect-msgbox-caption "FTP Error: 10061"
expect-msgbox-owner .
answer-msgbox OK
expect-no-msgbox 6000
expect-text StatusBar1 "請稍候....."
expect-text Memo1 ""
expect-not-seen StatusBar1 "已連接主伺服器"
click btnCancel
wait-exit
expect-exit-code 0
EOF
  diff -r "$C/installed-before" "$INSTALLED" >/dev/null || fail "the installation changed"
}

# Active mode with a second host on the network: on every PORT, a
# connection from 127.0.0.2 reaches the program's data port before the
# server's and sends "evil.dll" lines. The program shuts it out and takes
# the server's: the listing and the files are the server's.
case_active_data_from_another_host() {
  ftp_up --file QVX_upgrade/QVX.exe=100000 --file QVX_upgrade/qvxchart.dll=70000 --race-data-from 127.0.0.2 || return
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
click btnDownload
expect-msgbox "所需檔案已下載完成"
expect-lines InfoMemo "QVX.exe" "qvxchart.dll"
expect-lines Memo1 "QVX.exe" "qvxchart.dll"
answer-msgbox OK
wait-exit
expect-exit-code 0
EOF
  expect_same "$(served QVX.exe)" "$INSTALLED/QVX.exe"
  expect_same "$(served qvxchart.dll)" "$INSTALLED/qvxchart.dll"
  expect_missing "$INSTALLED/evil.dll"
  expect_no_staging_files
  expect_log "raced the server to 127.0.0.1:"
  expect_no_log "could not race"
}

# The server greets with 421: the box says so, and the run stands until
# Cancel, the installation untouched.
case_greeting_421() {
  keep_copy
  ftp_up --file QVX_upgrade/QVX.exe=1000 --refuse-sessions "421 Too many users" || return
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
click btnDownload
expect-msgbox "421 Too many users\r\n"
expect-msgbox-caption "FTP Error: 421"
expect-msgbox-owner .
answer-msgbox OK
expect-no-msgbox 6000
expect-text Memo1 ""
click btnCancel
wait-exit
expect-exit-code 0
EOF
  diff -r "$C/installed-before" "$INSTALLED" >/dev/null || fail "the installation changed"
}

# The server answers RETR of the first file with 421 and closes: one box,
# nothing installed, the run stands until Cancel.
case_retr_421() {
  keep_copy
  ftp_up --file QVX_upgrade/QVX.exe=100000 --file QVX_upgrade/qvxchart.dll=70000 --reply-421 QVX.exe || return
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
click btnDownload
expect-msgbox "421 Service not available, closing control connection.\r\n"
expect-msgbox-caption "FTP Error: 421"
answer-msgbox OK
expect-no-msgbox 6000
expect-text Memo1 ""
click btnCancel
wait-exit
expect-exit-code 0
EOF
  expect_log "<- RETR QVX.exe"
  expect_no_log "<- RETR qvxchart.dll"
  diff -r "$C/installed-before" "$INSTALLED" >/dev/null || fail "the installation changed"
  expect_no_staging_files
}

# "QVX.exe", "qvx.EXE" and "QVX.exe." are three files on the server and one
# on Windows: the first name is downloaded, the second is named in a box,
# the third (a name Windows changes) is left out.
case_names_one_file_on_windows() {
  ftp_up --file QVX_upgrade/QVX.exe=100000 --file QVX_upgrade/qvx.EXE=5000 --file "QVX_upgrade/QVX.exe.=3000" \
    --file QVX_upgrade/qvxchart.dll=70000 || return
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
click btnDownload
expect-msgbox "下列檔案在 Windows 上與列表中前面的檔案同名，不會下載：\r\nqvx.EXE"
expect-msgbox-caption "Quotiva Internet Upgrading System"
answer-msgbox OK
expect-msgbox "所需檔案已下載完成"
expect-lines Memo1 "QVX.exe" "qvxchart.dll"
answer-msgbox OK
wait-exit
expect-exit-code 0
EOF
  expect_same "$(served QVX.exe)" "$INSTALLED/QVX.exe"
  expect_same "$(served qvxchart.dll)" "$INSTALLED/qvxchart.dll"
  expect_log "<- RETR QVX.exe"
  expect_no_log "<- RETR qvx.EXE"
  expect_no_log "<- RETR QVX.exe\."
  expect_installation_files QVX.exe qvxchart.dll quotiva.ini data/symbols.dat
  expect_no_staging_files
}

# The login folder's listing is refused ("450 No files found", as some
# servers answer for an empty folder): the run goes on to the upgrade folder.
case_login_folder_listing_450() {
  ftp_up --file QVX_upgrade/QVX.exe=100000 --nlst-root-reply "450 No files found" || return
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
click btnDownload
expect-msgbox "所需檔案已下載完成"
expect-lines Memo1 "QVX.exe"
answer-msgbox OK
wait-exit
expect-exit-code 0
EOF
  expect_same "$(served QVX.exe)" "$INSTALLED/QVX.exe"
  expect_log "450 No files found"
  expect_no_staging_files
}

# Another program holds qvxchart.dll (opened without sharing, as a running
# Quotiva holds its files): nothing is replaced, a box names the file and
# asks to close Quotiva; Retry while it is still held asks again, Retry
# after it is released installs every file.
case_files_in_use_retry() {
  ftp_up --file QVX_upgrade/QVX.exe=100000 --file QVX_upgrade/qvxchart.dll=70000 || return
  drive <<EOF
timeout 40000
hold-file "D:\\\\Zentra\\\\main\\\\qvxchart.dll"
start $EXE
wait-window GetUpdateFile
click btnDownload
expect-msgbox "qvxchart.dll 正在使用中，無法更新。請先關閉 Quotiva，然後按「重試」；按「取消」則保留原有檔案。"
expect-msgbox-caption "Quotiva Internet Upgrading System"
expect-msgbox-owner .
answer-msgbox Retry
expect-msgbox "qvxchart.dll 正在使用中，無法更新。請先關閉 Quotiva，然後按「重試」；按「取消」則保留原有檔案。"
release-file "D:\\\\Zentra\\\\main\\\\qvxchart.dll"
answer-msgbox Retry
expect-msgbox "所需檔案已下載完成"
answer-msgbox OK
wait-exit
expect-exit-code 0
EOF
  expect_same "$(served QVX.exe)" "$INSTALLED/QVX.exe"
  expect_same "$(served qvxchart.dll)" "$INSTALLED/qvxchart.dll"
  expect_installation_files QVX.exe qvxchart.dll quotiva.ini data/symbols.dat
}

# The same, and Cancel: the installation stays exactly as it was, and what
# was staged goes.
case_files_in_use_cancel() {
  keep_copy
  ftp_up --file QVX_upgrade/QVX.exe=100000 --file QVX_upgrade/qvxchart.dll=70000 --file QVX_upgrade/qvxnews.dat=5000 ||
    return
  drive <<EOF
timeout 40000
hold-file "D:\\\\Zentra\\\\main\\\\QVX.exe"
start $EXE
wait-window GetUpdateFile
click btnDownload
expect-msgbox "QVX.exe 正在使用中，無法更新。請先關閉 Quotiva，然後按「重試」；按「取消」則保留原有檔案。"
answer-msgbox Cancel
wait-exit
expect-exit-code 0
EOF
  diff -r "$C/installed-before" "$INSTALLED" >/dev/null || fail "the installation changed"
  expect_installation_files QVX.exe qvxchart.dll quotiva.ini data/symbols.dat
}

# ---- kills ----------------------------------------------------------------
# QuotivaUpgradeKillTest.exe is the program with a way to stop it dead
# (TerminateProcess on itself) at a moment the environment names; the next
# start is the real program's.

KILL_EXE=
if [ -n "${QV_KILL_TEST_EXE:-}" ]; then
  KILL_EXE=\"$(winepath -w "$QV_KILL_TEST_EXE" 2>/dev/null | sed 's/\\/\\\\/g')\"
fi

# The served files of the kill cases, and the installation they make.
kill_server_up() {
  ftp_up --file QVX_upgrade/QVX.exe=300000 --file QVX_upgrade/qvxchart.dll=70000 --file QVX_upgrade/qvxnews.dat=5000
}
new_set() {
  rm -rf "$C/installed-new"
  cp -a "$C/installed-before" "$C/installed-new"
  for f in QVX.exe qvxchart.dll qvxnews.dat; do cp "$(served "$f")" "$C/installed-new/$f"; done
}

# Starts the real program (which finishes or undoes what a kill left at its
# start, before the window shows), and closes it.
next_start() {
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
expect-text StatusBar1 "D:\\\\Zentra\\\\main\\\\"
close
wait-exit
expect-exit-code 0
EOF
}

# "old" or "new" when the installation is exactly that set, else "mixed".
which_set() {
  if diff -r "$C/installed-before" "$INSTALLED" >/dev/null; then
    echo old
  elif diff -r "$C/installed-new" "$INSTALLED" >/dev/null; then
    echo new
  else
    echo mixed
  fi
}

# Killed while the third of three files is being received: the next start
# leaves the installation as it was and removes the temporary files.
case_kill_during_download() {
  [ -n "$KILL_EXE" ] || { fail "QV_KILL_TEST_EXE is not set"; return; }
  keep_copy
  kill_server_up || return
  new_set
  export QV_KILL_ON_TRACE="download qvxnews.dat"
  drive <<EOF
timeout 40000
start $KILL_EXE
wait-window GetUpdateFile
click btnDownload
wait-exit
expect-exit-code 9
EOF
  unset QV_KILL_ON_TRACE
  local left
  left=$(find "$D" -iname '~qv*.tmp' | wc -l)
  [ "$left" -ge 2 ] || fail "the kill left $left temporary files; expected the staged ones"
  next_start
  [ "$(which_set)" = old ] || fail "not the old set after the next start: $(cd "$INSTALLED" && find . -type f | sort | tr '\n' ' ')"
  expect_no_staging_files
  expect_installation_files QVX.exe qvxchart.dll quotiva.ini data/symbols.dat
}

# Killed before each change the installation of the three files makes on
# disk, in turn (this case takes every third one, from its offset): each
# time the next start leaves exactly the old or exactly the new set, and
# nothing of the run. A run with no kill counts the changes first.
kill_at_commit_changes() {
  local offset=$1
  [ -n "$KILL_EXE" ] || { fail "QV_KILL_TEST_EXE is not set"; return; }
  keep_copy
  kill_server_up || return
  new_set
  cp -a "$INSTALLED" "$C/fresh"
  export QV_RUN_TRACE
  QV_RUN_TRACE=$(winepath -w "$C/trace-whole.txt" 2>/dev/null)
  drive <<EOF
timeout 40000
start $KILL_EXE
wait-window GetUpdateFile
click btnDownload
expect-msgbox "所需檔案已下載完成"
answer-msgbox OK
wait-exit
expect-exit-code 0
EOF
  local changes k outcome
  changes=$(grep -c '^change ' "$C/trace-whole.txt" 2>/dev/null)
  [ "${changes:-0}" -ge 8 ] || { fail "the whole run made ${changes:-no} changes"; return; }
  for ((k = offset; k <= changes; k += 3)); do
    rm -rf "$INSTALLED"
    cp -a "$C/fresh" "$INSTALLED"
    QV_RUN_TRACE=$(winepath -w "$C/trace-kill-$k.txt" 2>/dev/null)
    export QV_KILL_AT_CHANGE=$k
    drive <<EOF
timeout 40000
start $KILL_EXE
wait-window GetUpdateFile
click btnDownload
wait-exit
expect-exit-code 9
EOF
    unset QV_KILL_AT_CHANGE
    next_start
    outcome=$(which_set)
    echo "    killed $(grep '^killed' "$C/trace-kill-$k.txt" | cut -c9-): next start: $outcome set"
    [ "$outcome" != mixed ] || fail "killed before change $k: neither the old nor the new set: $(cd "$INSTALLED" && find . -type f | sort | tr '\n' ' ')"
    expect_no_staging_files
    [ -z "$(find "$D" -iname '~qv*')" ] || fail "after the kill before change $k: $(find "$D" -iname '~qv*')"
  done
  unset QV_RUN_TRACE
}
case_kill_at_commit_changes_1() { kill_at_commit_changes 1; }
case_kill_at_commit_changes_2() { kill_at_commit_changes 2; }
case_kill_at_commit_changes_3() { kill_at_commit_changes 3; }

# ---- signed upgrades ----------------------------------------------------------
# The folder signed with the publisher's tool (the demo key unless told).
sign_folder() {
  "$QV_ROOT/scripts/sign-upgrade" "$ROOT/QVX_upgrade" "$@" >"$C/sign.log" 2>&1 ||
    { fail "signing failed: $(cat "$C/sign.log")"; return 1; }
}

signed_server_up() {
  ftp_up --file QVX_upgrade/QVX.exe=300000 --file QVX_upgrade/qvxchart.dll=70000 --file QVX_upgrade/qvxnews.dat=5000 "$@"
}

# What a signed upgrade that installs nothing shows: one message, then the
# program ends without the completion message; the installation and the
# server's files as they were.
expect_signed_refusal() {
  local message=$1 exe=${2:-$EXE}
  drive <<EOF
timeout 40000
start $exe
wait-window GetUpdateFile
click btnDownload
expect-msgbox "$message"
expect-msgbox-caption "Quotiva Internet Upgrading System"
answer-msgbox OK
wait-exit
expect-exit-code 0
EOF
  diff -r "$C/installed-before" "$INSTALLED" >/dev/null || fail "the installation changed"
  expect_no_staging_files
}

# A signed folder installs byte for byte, with its version recorded and
# nothing of the manifest; a second run right after finds every file current
# and fetches none of them.
case_signed_upgrade_then_current() {
  signed_server_up || return
  sign_folder --version 3 || return
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
click btnDownload
expect-msgbox "所需檔案已下載完成"
expect-lines Memo1 "QVX.exe" "qvxchart.dll" "qvxnews.dat"
answer-msgbox OK
wait-exit
expect-exit-code 0
EOF
  for f in QVX.exe qvxchart.dll qvxnews.dat; do expect_same "$(served "$f")" "$INSTALLED/$f"; done
  [ "$(cat "$INSTALLED/QuotivaUpgrade.version" 2>/dev/null)" = "quotiva-installed-version 3" ] ||
    fail "version record: $(cat "$INSTALLED/QuotivaUpgrade.version" 2>/dev/null)"
  expect_installation_files QVX.exe qvxchart.dll qvxnews.dat quotiva.ini data/symbols.dat QuotivaUpgrade.version
  local before
  before=$(grep -c -- "<- RETR" "$C/ftp/server.log")
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
click btnDownload
expect-msgbox "Quotiva 已是最新版本，無需下載任何檔案。"
answer-msgbox OK
wait-exit
expect-exit-code 0
EOF
  local second
  second=$(grep -- "<- RETR" "$C/ftp/server.log" | tail -n +$((before + 1)) | sed 's/.*<- RETR //' | sort | tr '\n' ' ')
  [ "$second" = "upgrade.manifest upgrade.manifest.sig " ] || fail "the second run fetched: $second"
}

# One changed byte in a served file: nothing is installed, one message names
# the file.
case_signed_changed_byte_in_a_file() {
  keep_copy
  signed_server_up || return
  sign_folder || return
  printf 'X' | dd of="$(served qvxchart.dll)" bs=1 seek=1000 conv=notrunc 2>/dev/null
  expect_signed_refusal "qvxchart.dll 與升級清單不符（大小或 SHA-256），未安裝任何檔案。"
}

# Signed with another key, a manifest edited after signing, an older version
# than the installed one: nothing is fetched but the manifest, nothing is
# installed.
case_signed_other_key() {
  keep_copy
  signed_server_up || return
  openssl ecparam -name prime256v1 -genkey -noout -out "$C/other.pem" 2>/dev/null || { fail "no key"; return; }
  sign_folder --key "$C/other.pem" || return
  expect_signed_refusal "此升級未經發行者簽署或已被更改，未安裝任何檔案。"
  expect_no_log "<- RETR QVX.exe"
}

case_signed_manifest_edited() {
  keep_copy
  signed_server_up || return
  sign_folder --version 7 || return
  sed -i 's/^version 7$/version 8/' "$ROOT/QVX_upgrade/upgrade.manifest"
  expect_signed_refusal "此升級未經發行者簽署或已被更改，未安裝任何檔案。"
  expect_no_log "<- RETR QVX.exe"
}

case_signed_older_version() {
  printf 'quotiva-installed-version 5\n' >"$INSTALLED/QuotivaUpgrade.version"
  keep_copy
  signed_server_up || return
  sign_folder --version 4 || return
  expect_signed_refusal "此升級的版本比已安裝的版本舊，未安裝任何檔案。"
  expect_no_log "<- RETR QVX.exe"
}

# A program built to require signed upgrades and a folder without a
# manifest: nothing is fetched or installed.
case_required_signature_without_manifest() {
  keep_copy
  [ -n "${QV_REQUIRE_SIGNED_EXE:-}" ] || { fail "QV_REQUIRE_SIGNED_EXE is not set"; return; }
  signed_server_up || return
  local exe
  exe=\"$(winepath -w "$QV_REQUIRE_SIGNED_EXE" 2>/dev/null | sed 's/\\/\\\\/g')\"
  expect_signed_refusal "升級資料夾中沒有經簽署的清單，未安裝任何檔案。" "$exe"
  expect_no_log "<- RETR"
}

# A 3 MB file cut at half (the server closes the data connection and answers
# 426): the program resumes it with REST from its staged bytes, and the
# second transfer carries the other half only.
case_signed_resume_after_a_cut() {
  ftp_up --file QVX_upgrade/QVX.exe=3145728 --file QVX_upgrade/qvxchart.dll=70000 \
    --cut-first "QVX.exe:1572864:0:426 Connection closed; transfer aborted." || return
  sign_folder || return
  drive <<EOF
timeout 60000
start $EXE
wait-window GetUpdateFile
click btnDownload
expect-msgbox "所需檔案已下載完成"
answer-msgbox OK
wait-exit
expect-exit-code 0
EOF
  expect_same "$(served QVX.exe)" "$INSTALLED/QVX.exe"
  expect_same "$(served qvxchart.dll)" "$INSTALLED/qvxchart.dll"
  expect_log "<- REST 1572864"
  local second
  second=$(grep -E 'RETR .*/QVX\.exe completed=1 bytes=' "$C/ftp/server.log" | tail -1 | sed 's/.*bytes=\([0-9]*\).*/\1/')
  echo "    the resumed transfer carried ${second:-?} of 3145728 bytes"
  [ -n "$second" ] && [ "$second" -le $((3145728 * 55 / 100)) ] || fail "the resumed transfer carried ${second:-no} bytes"
  expect_no_staging_files
}

# Another real server: pure-ftpd (virtual users, chrooted), the same signed
# folder installs byte for byte.
case_signed_upgrade_pure_ftpd() {
  mkdir -p "$ROOT/QVX_upgrade"
  head -c 300000 /dev/urandom >"$ROOT/QVX_upgrade/QVX.exe"
  head -c 70000 /dev/urandom >"$ROOT/QVX_upgrade/qvxchart.dll"
  sign_folder || return
  local state=$C/pure uid gid
  mkdir -p "$state"
  uid=$(id -u nobody) gid=$(id -g nobody)
  chmod -R a+rX "$ROOT" "$C"
  printf 'kd52wm71\nkd52wm71\n' | pure-pw useradd qvmain -f "$state/passwd" -u "$uid" -g "$gid" -d "$ROOT" >/dev/null 2>&1 &&
    pure-pw mkdb "$state/pureftpd.pdb" -f "$state/passwd" >/dev/null 2>&1 ||
    { fail "pure-ftpd's user could not be made"; return; }
  pure-ftpd -S 127.0.0.1,21 -l "puredb:$state/pureftpd.pdb" -E -A -u 1 -p 30000:30100 -g "$state/pid" -B ||
    { fail "pure-ftpd did not start"; return; }
  local tries=0
  until (exec 3<>/dev/tcp/127.0.0.1/21) 2>/dev/null; do
    ((++tries > 50)) && { fail "pure-ftpd does not listen"; return; }
    sleep 0.1
  done
  drive <<EOF
timeout 40000
start $EXE
wait-window GetUpdateFile
click btnDownload
expect-msgbox "所需檔案已下載完成"
expect-lines Memo1 "QVX.exe" "qvxchart.dll"
answer-msgbox OK
wait-exit
expect-exit-code 0
EOF
  kill "$(cat "$state/pid")" 2>/dev/null
  expect_same "$ROOT/QVX_upgrade/QVX.exe" "$INSTALLED/QVX.exe"
  expect_same "$ROOT/QVX_upgrade/qvxchart.dll" "$INSTALLED/qvxchart.dll"
  expect_missing "$INSTALLED/upgrade.manifest"
  expect_no_staging_files
}

# ---- administrators: /auto, /quiet, /? ------------------------------------------
# Runs the program with /quiet and its log in the case's folder; the exit
# code must be the one given, and the log must end with the outcome.
quiet_run() {
  local code=$1 outcome=$2 exe=${3:-$EXE}
  local log=$C/quiet.log
  local winlog
  winlog=$(winepath -w "$log" 2>/dev/null | sed 's/\\/\\\\/g')
  drive <<EOF
timeout 60000
start $exe /quiet "/log:$winlog"
expect-no-msgbox 1500
wait-exit
expect-exit-code $code
EOF
  [ -f "$log" ] || { fail "no log file"; return; }
  grep -qF "outcome: $outcome (exit code $code)" "$log" || fail "the log ends: $(tail -3 "$log")"
}

case_quiet_upgraded() {
  ftp_up --file QVX_upgrade/QVX.exe=100000 --file QVX_upgrade/qvxchart.dll=70000 || return
  quiet_run 0 "upgraded"
  expect_same "$(served QVX.exe)" "$INSTALLED/QVX.exe"
  expect_same "$(served qvxchart.dll)" "$INSTALLED/qvxchart.dll"
  grep -q "box: Quotiva Internet Upgrading System: 所需檔案已下載完成" "$C/quiet.log" ||
    fail "the completion message is not in the log"
  grep -q "run: staged QVX.exe" "$C/quiet.log" || fail "the files are not in the log"
}

case_quiet_nothing_to_upgrade() {
  keep_copy
  ftp_up --dir QVX_upgrade || return
  quiet_run 1 "nothing to upgrade"
  diff -r "$C/installed-before" "$INSTALLED" >/dev/null || fail "the installation changed"
}

case_quiet_not_installed() {
  rm -rf "$INSTALLED"
  quiet_run 2 "Quotiva not installed"
}

case_quiet_login_refused() {
  keep_copy
  USERS=(--user qvmain:another --user qvspare:qrt418)
  ftp_up --dir QVX_upgrade --file QVX_upgrade/QVX.exe=1000 || return
  quiet_run 3 "no session (server unreachable or login refused)"
  grep -q "box: FTP Error: 530" "$C/quiet.log" || fail "the refusal is not in the log"
  diff -r "$C/installed-before" "$INSTALLED" >/dev/null || fail "the installation changed"
}

# No FTP server at the upgrade host: the connection is refused.
case_quiet_server_unreachable() {
  keep_copy
  quiet_run 3 "no session (server unreachable or login refused)"
  grep -q "box: FTP Error: 10061" "$C/quiet.log" || fail "the refused connection is not in the log: $(grep box: "$C/quiet.log")"
  grep -qE "error 10061: .+" "$C/quiet.log" || fail "the log does not say what 10061 means"
  diff -r "$C/installed-before" "$INSTALLED" >/dev/null || fail "the installation changed"
}

case_quiet_file_failed() {
  ftp_up --file QVX_upgrade/a.dat=5000 --file QVX_upgrade/b.dll=6000 --refuse b.dll || return
  quiet_run 4 "a file failed"
  expect_same "$(served a.dat)" "$INSTALLED/a.dat"
  expect_missing "$INSTALLED/b.dll"
}

case_quiet_files_in_use() {
  keep_copy
  ftp_up --file QVX_upgrade/QVX.exe=100000 || return
  local log=$C/quiet.log winlog
  winlog=$(winepath -w "$log" 2>/dev/null | sed 's/\\/\\\\/g')
  drive <<EOF
timeout 60000
hold-file "D:\\\\Zentra\\\\main\\\\QVX.exe"
start $EXE /quiet "/log:$winlog"
wait-exit
expect-exit-code 5
EOF
  grep -q "outcome: files in use, nothing installed (exit code 5)" "$log" || fail "the log ends: $(tail -3 "$log")"
  diff -r "$C/installed-before" "$INSTALLED" >/dev/null || fail "the installation changed"
}

case_quiet_not_verified() {
  keep_copy
  signed_server_up || return
  sign_folder || return
  printf 'X' | dd of="$(served QVX.exe)" bs=1 seek=10 conv=notrunc 2>/dev/null
  quiet_run 6 "upgrade not verified, nothing installed"
  diff -r "$C/installed-before" "$INSTALLED" >/dev/null || fail "the installation changed"
}

# /auto: the window, and "Download File" pressed by itself.
case_auto_presses_download() {
  ftp_up --file QVX_upgrade/QVX.exe=100000 || return
  drive <<EOF
timeout 40000
start $EXE /auto
wait-window GetUpdateFile
expect-msgbox "所需檔案已下載完成"
answer-msgbox OK
wait-exit
expect-exit-code 0
EOF
  expect_same "$(served QVX.exe)" "$INSTALLED/QVX.exe"
}

# /? prints the usage (to the standard output it was started with), and
# an argument the program does not take is an error with the usage.
case_usage() {
  wine "$EXE_UNIX" "/?" >"$C/usage.txt" 2>/dev/null
  local rc=$?
  [ $rc = 0 ] || fail "/? ended with $rc"
  grep -q "QuotivaUpgrade.exe \[/auto | /quiet \[/log:FILE\] | /?\]" "$C/usage.txt" || fail "usage: $(head -2 "$C/usage.txt")"
  grep -q "5 files in use" "$C/usage.txt" || fail "the usage names no exit codes"
  wine "$EXE_UNIX" /frobnicate >"$C/wrong.txt" 2>/dev/null
  rc=$?
  [ $rc = 64 ] || fail "a wrong argument ended with $rc"
  grep -q "Unknown argument: /frobnicate" "$C/wrong.txt" || fail "no word on the wrong argument"
}

for case in "$@"; do
  if ! declare -F "case_$case" >/dev/null; then
    echo "FAIL $case (no such case)"
    continue
  fi
  begin_case "$case"
  "case_$case"
  end_case
done
