#!/bin/bash
# The desk's command line and its scripts as a user meets them: exit statuses and the first
# line of the reason on standard error. Usage: command_line_test.sh PATH-TO-padwarden
set -u
padwarden=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config

# check NAME WANT-STATUS WANT-STDERR-LINE-1 WANT-STDOUT-GREP -- ARGS...  (stdin from $work/in)
check() {
  local name=$1 want_status=$2 want_error=$3 want_out=$4
  shift 5
  "$padwarden" "$@" <"$work/in" >"$work/out" 2>"$work/err"
  local status=$? error
  error=$(head -n 1 "$work/err")
  if [[ $status != "$want_status" || $error != "$want_error" ]] ||
     { [[ -n $want_out ]] && ! grep -qF -- "$want_out" "$work/out"; }; then
    echo "FAIL $name: status $status (want $want_status), stderr \"$error\" (want \"$want_error\")"
    [[ -n $want_out ]] && echo "     stdout lacks \"$want_out\":" && head -n 5 "$work/out"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}
: >"$work/in"

check "script is a folder" 2 "padwarden: cannot read the script $work: Is a directory" "" -- --script "$work"
check "script missing" 2 "padwarden: cannot read the script $work/none: No such file or directory" "" -- --script "$work/none"
if [[ $(id -u) != 0 ]]; then
  echo "plug kb1" >"$work/secret.pw" && chmod 000 "$work/secret.pw"
  check "script unreadable" 2 "padwarden: cannot read the script $work/secret.pw: Permission denied" "" -- --script "$work/secret.pw"
fi
check "script without a file" 2 "padwarden: --script needs the script's file (or - for standard input): padwarden --script FILE" "" -- --script
check "icons without a folder" 2 "padwarden: --icons needs the folder to write the PNG files into: padwarden --icons DIR" "" -- --icons
echo "not a folder" >"$work/file"
check "icons into a file" 2 "padwarden: cannot write the status icons into $work/file: it is not a folder" "" -- --icons "$work/file"
check "icons below a file" 2 "padwarden: cannot create the folder $work/file/below: Not a directory" "" -- --icons "$work/file/below"
[[ $(cat "$work/file") == "not a folder" ]] || { echo "FAIL icons: the file was changed"; failures=$((failures + 1)); }

printf '\xef\xbb\xbfplug kb1\nlaunch\ntap kb1 a\nexpect line Mapping: active\n' >"$work/bom.pw"
check "byte-order mark" 0 "" "> plug kb1" -- --script "$work/bom.pw"

printf 'help\nplug kb1\nlaunch\ntap kb1 a\nexit\nexpect line no such line\n' >"$work/exit.pw"
check "help and exit in a script" 0 "" "expect typed NAME KEY...|none" -- --script "$work/exit.pw"
grep -q "^Usage:" "$work/out" && { echo "FAIL help prints the command line's usage"; failures=$((failures + 1)); }

printf 'plug kb1\nlaunch\ntap kb1 a\npress kb1 kp8\nexit\n' >"$work/held.pw"
check "exit with a quit held back" 0 "" "Padwarden is still waiting for keyboard cleanup; the desk stops it." -- --script "$work/held.pw"
printf 'plug kb1\nlaunch\ntap kb1 a\npress kb1 kp8\nrelease kb1 kp8\nexit\n' >"$work/released.pw"
"$padwarden" --script "$work/released.pw" >"$work/out" 2>&1
grep -q "still waiting" "$work/out" && { echo "FAIL exit after the release"; failures=$((failures + 1)); }

# What a line answers after "plug kb1", "launch", "tap kb1 a": the script's status (2 an error,
# 1 an expectation failed) and a text of the reason printed under the line.
while IFS='|' read -r want_status line said; do
  printf 'plug kb1\nlaunch\ntap kb1 a\n%b\n' "$line" >"$work/line.pw"
  "$padwarden" --script "$work/line.pw" >/dev/null 2>"$work/err"
  status=$?
  if [[ $status != "$want_status" ]] || ! sed -n 2p "$work/err" | grep -qF -- "$said"; then
    echo "FAIL \"$line\": status $status (want $want_status), stderr:" && cat "$work/err"
    failures=$((failures + 1))
  fi
done <<'EOF'
2|wait -1|from 0 to 10000000
2|wait 10000001|from 0 to 10000000
2|expect typed kb1 kp8 bogus|unknown key "bogus"
2|expect typed kb1 up 0x7:0x4|unknown key "0x7:0x4"
1|expect typed kb1 up|expected up, found a
1|expect typed kb1 0xc:0xe9|found a
2|expect writes kb2 0|kb2 was never plugged in
2|expect lease kb2 no|kb2 was never plugged in
1|expect writes kb1 0|expected 0 mapping writes, found 1
2|help extra|usage: help
2|exit now|usage: exit
2|click \x1b[2J|not UTF-8: click ^[[2J
EOF

printf 'plug kb1\nlaunch\ntap kb1 a\nexpect typed kb1 kp88\n' >"$work/key.pw"
check "unknown key in expect typed" 2 "$work/key.pw:4: expect typed kb1 kp88" "" -- --script "$work/key.pw"

printf 'plug kb1\nclick \x1b]0;title\x07\n' >"$work/control.pw"
check "control characters" 2 "$work/control.pw:2: click ^[]0;title^G" "" -- --script "$work/control.pw"

# At the desk with standard input not a terminal: no prompt, and 1 when a command failed.
printf 'tap kb1 a\nexpect line Mapping: active\nexit\n' >"$work/in"
check "input not a terminal" 0 "" "ok" --
grep -q "^> " "$work/out" && { echo "FAIL a prompt was printed"; failures=$((failures + 1)); }
printf 'tap kb1 a\nfrobnicate\nexpect line Mapping: active\n' >"$work/in"
check "a command failed" 1 "" "line 2: error: unknown command \"frobnicate\" (try help)" --
printf 'tap kb1 a\nexpect line Mapping: gone\n' >"$work/in"
check "an expectation failed" 1 "" "line 2: expectation failed: expected a line \"Mapping: gone\"" --
# An overlong line is refused with its length and never echoed; a mouse types nothing.
{ printf 'plug m1 mouse\ntap m1 a\n'; head -c 100000 /dev/zero | tr '\0' 'a'; printf '\n'; } >"$work/in"
check "an overlong line" 1 "" "line 3: error: the line is 100000 bytes long; a command is at most 4096" --
grep -q "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa" "$work/out" &&
  { echo "FAIL the overlong line was echoed"; failures=$((failures + 1)); }
grep -qF "m1 typed: (nothing)" "$work/out" || { echo "FAIL a mouse typed"; failures=$((failures + 1)); }
: >"$work/in"
check "an unknown argument" 2 "padwarden: unknown argument \"--bogus\"; see padwarden --help" "" -- --bogus
check "an argument too many" 2 "padwarden: unknown argument \"more\"; see padwarden --help" "" -- --script "$work/in" more

# Ctrl-C during a long wait stops the wait; the next line runs as usual.
{ printf 'wait 10000000\n'; sleep 3; printf 'tap kb1 a\nexit\n'; } | "$padwarden" >"$work/out" 2>&1 &
# (Only once it is running, with its own SIGINT handler: its first line says so.)
for _ in $(seq 50); do grep -q "Padwarden is running at the desk" "$work/out" && break; sleep 0.1; done
for _ in $(seq 20); do pkill -INT -x padwarden -P $$ 2>/dev/null; sleep 0.2; grep -q "the wait stopped" "$work/out" && break; done
wait
if grep -q "the wait stopped after" "$work/out" && grep -q "kb1 typed: a" "$work/out"; then
  echo "ok   Ctrl-C stops a wait"
else
  echo "FAIL Ctrl-C stops a wait:" && tail -n 5 "$work/out"; failures=$((failures + 1))
fi

exit $((failures > 0))
