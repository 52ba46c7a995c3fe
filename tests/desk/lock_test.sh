#!/bin/bash
# The per-user instance lock, tested on the real program: each start's message on standard
# error and its exit status. Usage: lock_test.sh PATH-TO-padwarden
set -u
padwarden=$1
work=$(mktemp -d)
trap 'exec 3>&- 2>/dev/null; rm -rf "$work"' EXIT
failures=0

# Runs padwarden with its support folder at $1 (stdin closed: it quits at once when it starts)
# and checks the status, the first line on standard error, and that a refused start never runs.
check() {
  local name=$1 data=$2 want_status=$3 want_error=$4
  XDG_DATA_HOME=$data XDG_CONFIG_HOME=$work/config "$padwarden" </dev/null >"$work/out" 2>"$work/err"
  local status=$?
  local error named ran=no
  error=$(head -n 1 "$work/err")
  named=$(sed -n 2p "$work/err")
  grep -q "Padwarden is running" "$work/out" && ran=yes
  # A failure to take the lock names the file on the next line.
  local want_named="" want_ran=yes
  [[ $want_status == 2 ]] && want_named="The lock file is $data/Padwarden/instance.lock"
  [[ -n $want_error ]] && want_ran=no
  if [[ $status != "$want_status" || $error != "$want_error" || $named != "$want_named" ||
        $ran != "$want_ran" ]]; then
    echo "FAIL $name: status $status (want $want_status), stderr \"$error\" (want \"$want_error\")"
    echo "     then \"$named\" (want \"$want_named\"); ran $ran (want $want_ran)"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}
lock_error() { echo "Padwarden could not acquire its per-user instance lock: $1."; }

# A first start creates the folder and the lock file; a file left behind does not block.
check "first start" "$work/a" 0 ""
[[ $(stat -c %a "$work/a/Padwarden/instance.lock") == 600 ]] ||
  { echo "FAIL no lock file readable and writable by its owner only"; failures=$((failures + 1)); }
check "stale lock file" "$work/a" 0 ""

# A second start while the first runs.
mkfifo "$work/input"
XDG_DATA_HOME=$work/a XDG_CONFIG_HOME=$work/config "$padwarden" <"$work/input" >"$work/first" 2>&1 &
first=$!
exec 3>"$work/input"
# Wait until the first copy says it runs (probing the lock ourselves could make it fail).
for _ in $(seq 200); do
  grep -q "Padwarden is running" "$work/first" && break
  sleep 0.05
done
check "second start" "$work/a" 0 "Padwarden is already running."
exec 3>&-
wait $first
echo "     first copy ended with status $?"

# What is not a lock file of ours.
mkdir -p "$work/b/Padwarden" && ln -s "$work/elsewhere" "$work/b/Padwarden/instance.lock"
check "symbolic link" "$work/b" 2 "$(lock_error "Too many levels of symbolic links")"
mkdir -p "$work/c/Padwarden" && mkfifo "$work/c/Padwarden/instance.lock"
check "named pipe" "$work/c" 2 "$(lock_error "Permission denied")"
mkdir -p "$work/d" && touch "$work/d/Padwarden"
check "plain file named Padwarden" "$work/d" 2 "$(lock_error "Permission denied")"
check "folder cannot be created" "/proc/padwarden-test" 2 "$(lock_error "Permission denied")"
if [[ $(id -u) == 0 ]]; then
  mkdir -p "$work/e/Padwarden" && touch "$work/e/Padwarden/instance.lock"
  chown 65534 "$work/e/Padwarden/instance.lock"
  check "lock file of another user" "$work/e" 2 "$(lock_error "Permission denied")"
fi

exit $((failures > 0))
