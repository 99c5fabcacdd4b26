#!/usr/bin/env bash
# Builds everything, stages the bundled example installation under
# build/example-install (bin, etc, var/log, product-info.mf) and runs a few
# logins through cvshell there, the way an SSH server starts it, then shows
# the log lines they wrote.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"
"$top/scripts/build.sh" "$top/build" normal

stage="$top/build/example-install"
rm -rf "$stage"
cmake --install "$top/build" --prefix "$stage" >/dev/null
echo "Staged installation: $stage"
shell="$stage/bin/cvshell"
log="$stage/var/log/corvane-cvshell.log"

# What sshd hands a login: a clean environment with the user and the client.
login_env=(env -i "PATH=/usr/local/bin:/usr/bin:/bin" "USER=transfer" "HOME=/tmp"
           "SSH_CONNECTION=203.0.113.5 50122 198.51.100.10 22")

login() {
    local title=$1
    shift
    echo
    echo "== $title"
    printf '$'
    printf ' %q' "$@"
    echo
    set +e
    "$@"
    local status=$?
    set -e
    echo "(exit status $status)"
}

login "Login shell running a transfer tool command" \
    "${login_env[@]}" "$shell" -c "cvcp -S. -V1" < <(printf 'example payload\n')
login "Forced command: the client's command comes from SSH_ORIGINAL_COMMAND" \
    "${login_env[@]}" "SSH_ORIGINAL_COMMAND=cvcp4 -S." "$shell" -t </dev/null
login "A command that is not accepted" \
    "${login_env[@]}" "$shell" -c "sh -c id" </dev/null
login "An interactive login (no command)" \
    "${login_env[@]}" "$shell" </dev/null

echo
echo "== The log: $log"
cat "$log"
