#!/usr/bin/env bash
# Runs a test program's accessibility test as a screen reader would meet it: a virtual screen,
# a private session bus with the accessibility bus and registry that it starts on demand, and
# Qt's screen-reader bridge switched on.
#
# usage: accessibility_walk.sh TEST-PROGRAM WALKER GTEST-FILTER
set -euo pipefail

program=$1
walker=$2
filter=$3

# shellcheck source=desktop_test_support.sh
. "$(dirname "$0")/desktop_test_support.sh"
command -v Xvfb >/dev/null || skip "Xvfb is not installed"
command -v dbus-daemon >/dev/null || skip "dbus-daemon is not installed"
[ -x /usr/libexec/at-spi-bus-launcher ] || skip "at-spi2-core is not installed"
/usr/bin/python3 -c 'import dbus' 2>/dev/null || skip "python3-dbus is not installed"

# shellcheck source=../../scripts/work-folder.sh
. "$(dirname "$0")/../../scripts/work-folder.sh"

source "$(dirname "$0")/../../scripts/headless-display.sh"
start_headless_display "$work" || skip "Xvfb did not start"

# The accessibility bus's socket goes into the private runtime folder of the session bus.
start_session_bus || skip "dbus-daemon did not start"

export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 SDL_AUDIODRIVER=dummy
export PYTHONIOENCODING=utf-8 TERTULIA_ACCESSIBILITY_WALKER=$walker
"$program" --gtest_filter="$filter"
