# shellcheck shell=bash
# Sourced by the tests that run Debian's Kodi in the test box with the package's files in place:
# puts those files where the package puts them, starts the media centre headless with a fresh
# profile (scripts/kodi-headless run --bare) and waits for it, and talks to it. The caller sets NAME.
[ -f /run/quorvant-box/marker ] || { echo "$NAME: run me in the box" >&2; exit 2; }
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
KODI_PROFILE=${KODI_PROFILE:-/tmp/kodi-home}
KODI_PID=
KODI_LINK_PID=

# What debian/quorvant.install puts under /usr/share/kodi, put there the same way (the box's / is a
# throw-away overlay).
install_kodi_files() {
    local source target
    while read -r source target; do
        case "$source" in
            packaging/kodi/*)
                mkdir -p "/$target"
                rm -rf "/${target:?}/$(basename "$source")"
                cp -r "$top/$source" "/$target/"
                ;;
        esac
    done < "$top/debian/quorvant.install"
}

# However long the media centre takes to open its port: scripts/kodi-headless waits up to its own
# generous bound (KODI_START_BOUND) and says so when that runs out; nothing is checked then.
start_kodi() {
    rm -rf "$KODI_PROFILE"
    "$top/scripts/kodi-headless" run --bare "$KODI_PROFILE" > /tmp/kodi-headless.log 2>&1 &
    KODI_PID=$!
    trap stop_kodi EXIT
    while ! grep -q '^ready' /tmp/kodi-headless.log; do
        if ! kill -0 "$KODI_PID" 2>/dev/null; then
            echo "$NAME: the media centre did not start, so nothing was checked:" >&2
            sed 's/^/  /' /tmp/kodi-headless.log >&2
            exit 1
        fi
        sleep 0.2
    done
    echo "$NAME: $(grep '^ready' /tmp/kodi-headless.log)"
    open_link
}

# One connection for all requests, as the daemon keeps one (tests/package/kodi-link says why). Plain
# descriptors on FIFOs, not a coprocess: the requests in pipelines run in subshells, which keep them.
open_link() {
    local fifos; fifos=$(mktemp -d)
    mkfifo "$fifos/requests" "$fifos/replies"
    python3 "$top/tests/package/kodi-link" 9999 < "$fifos/requests" > "$fifos/replies" &
    KODI_LINK_PID=$!
    exec {KODI_LINK_IN}> "$fifos/requests" {KODI_LINK_OUT}< "$fifos/replies"
    rm -r "$fifos"
}

# Stops the test when the media centre is gone (a crash), with the end of what it logged.
need_kodi() {
    kill -0 "$KODI_PID" 2>/dev/null && return 0
    echo "FAILED: the media centre quit; the rest was not checked:" >&2
    sed 's/^/  /' /tmp/kodi-headless.log >&2
    tail -5 "$KODI_PROFILE/.kodi/temp/kodi.log" 2>/dev/null | sed 's/^/  kodi.log: /' >&2
    exit 1
}

# The media centre goes first, so that the link's close cannot meet a notice.
stop_kodi() {
    if [ -n "$KODI_PID" ]; then
        kill "$KODI_PID" 2>/dev/null || true
        wait "$KODI_PID" 2>/dev/null || true
        KODI_PID=
    fi
    if [ -n "$KODI_LINK_PID" ]; then
        exec {KODI_LINK_IN}>&- {KODI_LINK_OUT}<&-
        wait "$KODI_LINK_PID" 2>/dev/null || true
        KODI_LINK_PID=
    fi
}

# Prints the media centre's reply to the request $1 (one line of JSON with an id); fails when none
# came within kodi-link's bound.
request() {
    local reply
    printf '%s\n' "$1" >&"$KODI_LINK_IN"
    IFS= read -r reply <&"$KODI_LINK_OUT" || return 1
    [ -n "$reply" ] || { echo "$NAME: no reply to $1" >&2; return 1; }
    printf '%s' "$reply"
}
