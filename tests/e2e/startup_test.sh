#!/usr/bin/env bash
# Start-up of the real QuotivaUpgrade.exe under Wine, driven by ui_driver.
#
# Usage: startup_test.sh <QuotivaUpgrade.exe> <ui_driver.exe> <this folder>
#
# QV_E2E_DPI names the DPI the prefix's display is set to (default 96;
# tests/support/run_at_dpi.sh makes a prefix at another): the window's
# layout is checked for it, and at another DPI than 96 only the layout and
# the keyboard cases run.
#
# Each case points the drive links D: to I: of the prefix (WINEPREFIX) at
# fresh temporary folders and lays out installations there. C: stays the
# prefix's own drive_c (Wine needs its windows folder): a case that installs
# on C: creates drive_c/Zentra and the script removes it again. Every link
# and folder is restored on exit, also after a failure.
set -u

EXE_UNIX=$1
DRIVER=$2
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEDEBUG=${WINEDEBUG:--all}

# A quoted word of the driver's scripts (backslashes doubled): the path may
# hold blanks.
EXE=\"$(winepath -w "$EXE_UNIX" 2>/dev/null | sed 's/\\/\\\\/g')\"
DOS=$WINEPREFIX/dosdevices
ZENTRA_C=$WINEPREFIX/drive_c/Zentra
LETTERS="d e f g h i"
WORK=$(mktemp -d /tmp/qv-e2e-startup.XXXXXX)

if [ -e "$ZENTRA_C" ] && [ ! -e "$ZENTRA_C/.qv-e2e" ]; then
  echo "refusing to run: $ZENTRA_C exists and was not made by this test" >&2
  exit 1
fi

# Remember the drive links as they are.
for l in $LETTERS; do
  if [ -L "$DOS/$l:" ]; then echo "$l $(readlink "$DOS/$l:")" >>"$WORK/links"; fi
done
touch "$WORK/links"

restore() {
  for l in $LETTERS; do rm -f "$DOS/$l:"; done
  while read -r l target; do ln -s "$target" "$DOS/$l:"; done <"$WORK/links"
  if [ -e "$ZENTRA_C/.qv-e2e" ]; then rm -rf "$ZENTRA_C"; fi
  rm -rf "$WORK"
}
trap restore EXIT

# Fresh, empty drives D: to I:, no installation on C:.
fresh_drives() {
  local case=$1
  rm -rf "$ZENTRA_C"
  for l in $LETTERS; do
    mkdir -p "$WORK/$case/$l"
    ln -sfn "$WORK/$case/$l" "$DOS/$l:"
  done
}

# install <drive letter> [path below the drive, default Zentra/main/QVX.exe]
install() {
  local l=$1 path=${2:-Zentra/main/QVX.exe} root
  if [ "$l" = c ]; then
    root=$WINEPREFIX/drive_c
    mkdir -p "$ZENTRA_C"
    touch "$ZENTRA_C/.qv-e2e"
  else
    root=$(readlink "$DOS/$l:")
  fi
  mkdir -p "$root/$(dirname "$path")"
  echo "installed" >"$root/$path"
}

DPI=${QV_E2E_DPI:-96}
# scaled <length at 96 DPI>: the length at the display's DPI, rounded.
scaled() { echo $((($1 * DPI + 48) / 96)); }

passed=0
failed=0
failures=()

# run_case <name>: the driver script comes on standard input.
run_case() {
  local name=$1 script=$WORK/$1.drv out=$WORK/$1.out
  cat >"$script"
  # Output goes to a file: Wine's desktop process keeps pipes open.
  wine "$DRIVER" "$(winepath -w "$script" 2>/dev/null)" >"$out" 2>&1
  local rc=$?
  if [ $rc = 0 ]; then
    passed=$((passed + 1))
    echo "PASS $name"
  else
    failed=$((failed + 1))
    failures+=("$name")
    echo "FAIL $name (driver exit code $rc)"
    sed 's/^/    /' "$out"
  fi
}

# ---- cases ----------------------------------------------------------------

# The window laid out for the display's DPI: the client area and every
# control but the labels (they size themselves to their texts) where the
# design puts them, scaled, within a pixel.
fresh_drives layout
install d
rect() { echo "expect-rect $1 $(scaled "$2") $(scaled "$3") $(scaled "$4") $(scaled "$5") 1"; }
run_case "layout_at_${DPI}_dpi" <<EOF
start $EXE
wait-window GetUpdateFile
expect-text StatusBar1 "D:\\\\Zentra\\\\main\\\\"
expect-rect . 0 0 $(scaled 506) $(scaled 334)
$(rect ProgramIcon 16 12 33 33)
$(rect InfoMemo 16 104 209 137)
$(rect Memo1 280 104 201 137)
$(rect StatusBar1 72 256 409 19)
$(rect btnDownload 16 296 90 25)
$(rect UsePassiveMode 120 300 121 17)
$(rect UseSpareSystem 256 300 121 17)
$(rect btnCancel 396 296 90 25)
click btnCancel
wait-exit
EOF

# The keyboard: Tab walks the controls in their Tab order (out of the
# multi-line text boxes too, which keep no tab character), Space ticks the
# focused check box, Esc acts as Cancel from any control, Enter presses the
# focused button.
fresh_drives keys
install d
run_case tab_order_and_esc <<EOF
start $EXE
wait-window GetUpdateFile
expect-focus InfoMemo
key TAB
expect-focus btnCancel
key TAB
expect-focus btnDownload
key TAB
expect-focus Memo1
key TAB
expect-focus UseSpareSystem
key SPACE
expect-checked UseSpareSystem 1
key TAB
expect-focus UsePassiveMode
key TAB
expect-focus InfoMemo
expect-text InfoMemo ""
expect-text Memo1 ""
key TAB
key TAB
expect-focus btnDownload
expect-no-msgbox 200
key ESC
wait-exit
expect-exit-code 0
EOF

run_case enter_on_cancel <<EOF
start $EXE
wait-window GetUpdateFile
key TAB
expect-focus btnCancel
key ENTER
wait-exit
expect-exit-code 0
EOF

if [ "$DPI" != 96 ]; then
  echo "startup at $DPI DPI: $passed passed, $failed failed"
  [ $failed = 0 ]
  exit
fi

fresh_drives none
run_case no_installation <<EOF
start $EXE
expect-msgbox "找不到<Quotiva9.1>!"
expect-msgbox-caption "Quotiva Internet Upgrading System"
answer-msgbox OK
wait-exit
expect-exit-code 0
EOF

fresh_drives elsewhere
install i
install d Zentra/other/QVX.exe
install e Quotiva/main/QVX.exe
run_case installed_only_on_i_or_elsewhere <<EOF
start $EXE
expect-msgbox "找不到<Quotiva9.1>!"
answer-msgbox OK
wait-exit
EOF

fresh_drives c_and_e
install c
install e
run_case c_wins_over_e <<EOF
start $EXE
wait-window GetUpdateFile
expect-text StatusBar1 "C:\\\\Zentra\\\\main\\\\"
expect-no-msgbox 300
click btnCancel
wait-exit
EOF

fresh_drives folder_on_d
mkdir -p "$WORK/folder_on_d/d/Zentra/main/QVX.exe"
install e
run_case folder_named_like_the_file_does_not_count <<EOF
start $EXE
wait-window GetUpdateFile
expect-text StatusBar1 "E:\\\\Zentra\\\\main\\\\"
click btnCancel
wait-exit
EOF

fresh_drives only_h
install h
run_case last_drive_h <<EOF
start $EXE
wait-window GetUpdateFile
expect-text StatusBar1 "H:\\\\Zentra\\\\main\\\\"
close
wait-exit
expect-exit-code 0
EOF

fresh_drives texts
install d
run_case chinese_texts_after_start <<EOF
start $EXE
wait-window GetUpdateFile
expect-text . "Quotiva網上升級系統"
expect-text Label3 "【超級】Quotiva 網上升級系統"
expect-text Label2 "下載軟件升級所需檔案"
expect-text Label4 "檔案列表"
expect-text Label5 "成功下載之檔案"
expect-text Label1 "工作狀態:"
expect-text btnDownload "下載檔案"
expect-text btnCancel "取消"
expect-text UseSpareSystem "使用後備系統"
expect-text UsePassiveMode "Use Passive Mode"
expect-text StatusBar1 "D:\\\\Zentra\\\\main\\\\"
expect-text InfoMemo ""
expect-text Memo1 ""
expect-checked UsePassiveMode 0
expect-checked UseSpareSystem 0
click UseSpareSystem
expect-checked UseSpareSystem 1
click UseSpareSystem
expect-checked UseSpareSystem 0
click btnCancel
wait-exit
expect-exit-code 0
EOF

fresh_drives close_box
install d
run_case close_box_ends_the_program <<EOF
start $EXE
wait-window GetUpdateFile
expect-text . "Quotiva網上升級系統"
close
wait-exit
expect-exit-code 0
EOF

echo "startup: $passed passed, $failed failed"
[ $failed = 0 ]
