#!/bin/sh
# Runs a test program in a session of its own as a screen reader has it: a display, a session
# bus, the accessibility bus with the screen reader switched on. All of it ends with the program,
# or after ATSPI_SESSION_SECONDS (110).
set -eu
# shellcheck disable=SC2016 # the inner shell expands its variables
exec timeout -k 5 "${ATSPI_SESSION_SECONDS:-110}" xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- sh -c '
    /usr/libexec/at-spi-bus-launcher --launch-immediately &
    launcher=$!
    trap "kill $launcher" EXIT
    tries=0
    until dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
            org.freedesktop.DBus.Properties.Set string:org.a11y.Status \
            string:ScreenReaderEnabled variant:boolean:true >/dev/null 2>&1; do
        tries=$((tries + 1))
        [ $tries -lt 50 ] || { echo "no accessibility bus" >&2; exit 1; }
        sleep 0.1
    done
    QT_QPA_PLATFORM=xcb QT_ACCESSIBILITY=1 "$@"
' atspi-session "$@"
