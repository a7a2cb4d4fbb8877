# Sourced by the command-line tests that interrupt a running command.
# wait_for_sigint_handler PID: returns once PID catches SIGINT (or has
# ended, or after 30 s). A background job ignores SIGINT until it installs
# its handler, so a Ctrl-C sent during a slow start would be lost.
wait_for_sigint_handler() {
  local caught
  for _ in $(seq 600); do
    caught=$(awk '/^SigCgt:/ {print $2}' "/proc/$1/status" 2>/dev/null) || return 0
    [ -n "$caught" ] && (( 0x$caught & 2 )) && return 0
    sleep 0.05
  done
}
