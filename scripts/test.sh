#!/usr/bin/env bash
# Installs what the build needs, builds everything and runs the whole test suite; under CI
# (CI=true) the service's tests then run once more built with ThreadSanitizer.
# With --sanitize the build uses AddressSanitizer and UndefinedBehaviorSanitizer; with --tsan
# only the service's tests are built, with ThreadSanitizer, and run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)

# The service and its tests under ThreadSanitizer, in build-tsan/. Every process writes its
# reports to a file of its own (the tests start the service as a process of its own); any
# report fails the run.
thread_sanitized_service_tests() {
    local tsan="$top/build-tsan"
    local reports="$tsan/tsan-reports"
    cmake -S "$top" -B "$tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTERTULIA_TSAN=ON \
        -DTERTULIA_DESKTOP=OFF
    cmake --build "$tsan" -j"$(nproc)" --target tertulia-service service_tests
    rm -rf "$reports"
    mkdir -p "$reports"
    TSAN_OPTIONS="log_path=$reports/report" \
        ctest --test-dir "$tsan" -L service --output-on-failure -j"$(nproc)"
    if compgen -G "$reports/report*" >/dev/null; then
        cat "$reports"/report*
        echo "ThreadSanitizer reported the races above" >&2
        return 1
    fi
}

case "${1:-}" in
--sanitize)
    build="$top/build-sanitize"
    options=(-DCMAKE_BUILD_TYPE=Debug -DTERTULIA_SANITIZE=ON)
    ;;
--tsan)
    "$top/scripts/install-deps.sh"
    thread_sanitized_service_tests
    exit
    ;;
esac
"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$build" "${options[@]}"
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
if [ "${CI:-}" = "true" ] && [ "${1:-}" != "--sanitize" ]; then
    thread_sanitized_service_tests
fi
