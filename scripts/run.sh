#!/usr/bin/env bash
# Builds the agent and runs it with a throw-away demo set-up under build/demo:
# the agent serves a pseudo-terminal and this terminal is attached to the other end,
# so the logon screen shows at once. Log on as demo, password demo; leave with
# Ctrl-] (the agent is stopped then).
#
# With standard input not a terminal, the input is sent to the agent as it comes
# (line ends included) and the agent's output is printed until a few seconds after
# the input ends, e.g.:  printf 'demo\rdemo\rshow version\rlogoff\r' | scripts/run.sh
# KX_BUILD_DIR names another build directory (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="$root/${KX_BUILD_DIR:-build}"

scripts/setup.sh

echo "== build"
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build"

demo="$build/demo"
pam_wrapper=/usr/lib/x86_64-linux-gnu/libpam_wrapper.so
pam_matrix=/usr/lib/x86_64-linux-gnu/pam_wrapper/pam_matrix.so
for f in "$pam_wrapper" "$pam_matrix" "$build/bin/KxAgent"; do
  [ -e "$f" ] || { echo "run: $f is missing" >&2; exit 1; }
done

echo "== demo installation in $demo"
rm -rf "$demo"
mkdir -p "$demo"/{config,log,dev,system,pam.d,plugins}
# Copies, not links: the agent finds its base directory through its own path.
cp "$build/bin/KxAgent" "$build/bin/KxPowerHelper" "$demo/"
cp -L "$build"/bin/lib*.so* "$demo/"

commands=""
for id in $(seq 0 16); do commands+="        <command id=\"$id\"/>"$'\n'; done
cat >"$demo/config/sysconfig.xml" <<XML
<?xml version="1.0" encoding="UTF-8" standalone="no" ?>
<system-config>
  <system>
    <maxcomport>8</maxcomport>
  </system>
  <comport>
    <port>1</port>
    <speed>9600</speed>
  </comport>
  <output-encoding>Shift_JIS</output-encoding>
  <logon-timeout>600</logon-timeout>
  <eventlog-notification>off</eventlog-notification>
  <execution-improper-command>hidden</execution-improper-command>
  <cpu-monitoring>on</cpu-monitoring>
  <script-plugin-support>off</script-plugin-support>
  <log-setting logdir="$demo/log" logfile-limit="no" logfilemaxsize="10485760" logging="yes">
    <log severity="INFO" logging="yes"/>
    <log severity="WARN" logging="yes"/>
    <log severity="ERROR" logging="yes"/>
    <log severity="DEBUG" logging="yes"/>
  </log-setting>
  <plugin-entry/>
  <logon-account>
    <account id="1" logon="yes" domain="no">
      <account-name>demo</account-name>
      <domain-name></domain-name>
      <allow-commands>
${commands}      </allow-commands>
    </account>
  </logon-account>
</system-config>
XML

# Logons go through pam_wrapper and pam_matrix: no system account is touched.
echo "demo:demo:kxagent" >"$demo/passdb"
for service in kxagent other; do
  printf 'auth required %s passdb=%s\naccount required %s passdb=%s\n' \
    "$pam_matrix" "$demo/passdb" "$pam_matrix" "$demo/passdb" >"$demo/pam.d/$service"
done

agent_pid=""
pair_pid=""
saved_tty=""
cleanup() {
  set +e
  [ -n "$saved_tty" ] && stty "$saved_tty" 2>/dev/null
  if [ -n "$agent_pid" ] && kill -0 "$agent_pid" 2>/dev/null; then
    kill -TERM "$agent_pid"
    for _ in $(seq 50); do kill -0 "$agent_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$agent_pid" 2>/dev/null
  fi
  exec 3>&- 2>/dev/null
  [ -n "$pair_pid" ] && kill "$pair_pid" 2>/dev/null
  wait 2>/dev/null
  echo
  echo "run: agent stopped; its logs are in $demo/log"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# A linked pair of pseudo-terminals: COM1 for the agent, "terminal" for us.
socat "pty,raw,echo=0,link=$demo/dev/COM1" "pty,raw,echo=0,link=$demo/dev/terminal" &
pair_pid=$!
for _ in $(seq 100); do
  [ -e "$demo/dev/COM1" ] && [ -e "$demo/dev/terminal" ] && break
  sleep 0.05
done
[ -e "$demo/dev/terminal" ] || { echo "run: socat did not create the pseudo-terminals" >&2; exit 1; }
# Held open so that the pair stays up between our writes and the terminal program.
exec 3<>"$demo/dev/terminal"

(
  cd "$demo"
  exec env LD_PRELOAD="$pam_wrapper" PAM_WRAPPER=1 PAM_WRAPPER_SERVICE_DIR="$demo/pam.d" \
    KX_BACKEND=emulated KX_SYSTEM_ROOT="$demo/system" "$demo/KxAgent" >"$demo/log/agent-output.txt" 2>&1
) &
agent_pid=$!

# The agent purges its port when it opens it: wait for that before the first line end.
port=$(readlink -f "$demo/dev/COM1")
opened=""
for _ in $(seq 200); do
  if ! kill -0 "$agent_pid" 2>/dev/null; then
    echo "run: the agent ended at start-up:" >&2
    cat "$demo/log/agent-output.txt" >&2
    exit 1
  fi
  if ls -l "/proc/$agent_pid/fd" 2>/dev/null | grep -q -- "-> $port\$"; then opened=1; break; fi
  sleep 0.05
done
[ -n "$opened" ] || { echo "run: the agent did not open $port" >&2; exit 1; }
sleep 0.3
printf '\r' >&3

echo
echo "Kestrix Agent demo: log on as 'demo' with the password 'demo'."
echo "Try: ?   show version   show process   show diskinfo   logoff"
if [ -t 0 ]; then
  echo "Leave with Ctrl-] ."
  echo
  saved_tty=$(stty -g)
  # The agent ends command output lines with LF alone, as the product does;
  # like a terminal emulator set to "implicit CR on LF", this terminal shows
  # each LF as a new line.
  socat "-,rawer,opost=1,onlcr=1,escape=0x1d" "$demo/dev/terminal,rawer" || true
else
  echo "Standard input is not a terminal: sending it to the agent as typed bytes."
  echo
  socat -t 5 - "$demo/dev/terminal,rawer" || true
fi
