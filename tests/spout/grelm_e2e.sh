#!/usr/bin/env bash
# Grelm end to end under Wine, driven by hostctl against the test sender publishing a
# record whose handle Wine cannot open: "connecting", then "error" / "connecting" once a
# second; set_quality and a "quality" field change nothing (the worker is never restarted:
# no "disconnected" until the end); shutdown ends with "disconnected" and exit code 0.
#   grelm_e2e.sh EMULATOR... BIN_DIR   (the last argument is the bin folder)
set -u
bin="${*: -1}"
emulator=("${@:1:$#-1}")
name="GrelmE2E_$$"
script="$(mktemp)"
log="$(mktemp)"
trap 'rm -f "$script" "$log"' EXIT
# set_quality goes out once the first open has failed; 2.5 s later the worker has retried
# at least once (its pause is 1 s).
cat >"$script" <<SCRIPT
wait_for host_ready
{"type":"set_source","name":"$name","quality":"low"}
wait_until 20000 "Cannot open shared texture"
{"type":"set_quality","quality":"high"}
wait 2500
{"type":"shutdown"}
SCRIPT

win_bin="Z:${bin//\//\\}"
# One Wine session for both programs: cmd starts the sender in the background, runs
# hostctl (Grelm keeps polling until the record appears), then ends the sender (the only
# one in this prefix) and passes on hostctl's exit code. Output goes through a file.
"${emulator[@]}" cmd.exe /v:on /c "start \"\" /b $win_bin\\spout_sender.exe --name=$name \
--size=640x360 --handle=0x1234 --run=60000 >NUL 2>&1 & \
$win_bin\\hostctl.exe --script=Z:${script//\//\\} $win_bin\\Grelm.exe & set code=!errorlevel! & \
taskkill /f /im spout_sender.exe >NUL 2>&1 & exit !code!" >"$log" 2>&1
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
# Every status after the first set_quality line belongs to the same worker's retries.
after="$(echo "$out" | sed -n '/-> {"type":"set_quality"/,$p' |
  grep -o '"state":"[a-z]*","source":"[^"]*"')"
[ "$(echo "$after" | grep -c '"connecting"')" -ge 1 ] || fail "no retry after set_quality"
[ "$(echo "$states" | grep -c disconnected)" -eq 1 ] || fail "the worker was restarted"
[ "$(echo "$states" | tail -1)" = '"state":"disconnected","source":""' ] ||
  fail "last status is not disconnected"
echo "$states" | grep -v -e "\"connecting\",\"source\":\"$name\"" \
  -e '"error","source":"Cannot open shared texture"' -e disconnected &&
  fail "unexpected status"
echo PASS
