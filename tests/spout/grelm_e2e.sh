#!/usr/bin/env bash
# Grelm end to end under Wine, driven by hostctl against the test sender publishing a
# record whose handle Wine cannot open: "connecting", then "error" / "connecting" once a
# second; set_quality and a "quality" field change nothing; shutdown ends with
# "disconnected" and exit code 0.
#   grelm_e2e.sh EMULATOR... BIN_DIR   (the last argument is the bin folder)
set -u
bin="${*: -1}"
emulator=("${@:1:$#-1}")
name="GrelmE2E_$$"
script="$(mktemp)"
log="$(mktemp)"
trap 'rm -f "$script" "$log"' EXIT
cat >"$script" <<SCRIPT
wait_for host_ready
{"type":"set_source","name":"$name","quality":"low"}
wait 1200
{"type":"set_quality","quality":"high"}
wait 1800
{"type":"shutdown"}
SCRIPT

win_bin="Z:${bin//\//\\}"
# One Wine session for both programs: cmd starts the sender in the background and runs
# hostctl (Grelm keeps polling until the record appears). Output goes through a file.
"${emulator[@]}" cmd.exe /c "start \"\" /b $win_bin\\spout_sender.exe --name=$name \
--size=640x360 --handle=0x1234 --run=9000 >NUL 2>&1 & \
$win_bin\\hostctl.exe --script=Z:${script//\//\\} $win_bin\\Grelm.exe" >"$log" 2>&1
code=$?
out="$(cat "$log")"
echo "$out"

states="$(echo "$out" | grep -o '"state":"[a-z]*","source":"[^"]*"')"
fail() { echo "FAIL: $*"; exit 1; }
[ "$code" -eq 0 ] || fail "hostctl exit code $code"
[ "$(echo "$states" | head -1)" = "\"state\":\"connecting\",\"source\":\"$name\"" ] ||
  fail "first status is not connecting"
[ "$(echo "$states" | sed -n 2p)" = '"state":"error","source":"Cannot open shared texture"' ] ||
  fail "no open error after connecting"
[ "$(echo "$states" | grep -c connecting)" -ge 2 ] || fail "no retry after the error"
[ "$(echo "$states" | tail -1)" = '"state":"disconnected","source":""' ] ||
  fail "last status is not disconnected"
echo "$states" | grep -v -e connecting -e '"error","source":"Cannot open' -e disconnected &&
  fail "unexpected status"
echo PASS
