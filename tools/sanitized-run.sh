#!/usr/bin/env bash
# Runs one test command under AddressSanitizer and UndefinedBehaviorSanitizer
# and fails when the command fails or any sanitizer reported anything.
#
#   tools/sanitized-run.sh ctest ...              programs built with the sanitizers
#   tools/sanitized-run.sh --python PYTHON ...    an interpreter loading the
#                                                 instrumented extension module
#
# Reports are written to files and printed at the end: pytest captures the
# error stream of each test, and a process halted by a sanitizer would take
# its report down with it. Child processes (the tests' subprocesses) inherit
# the settings, so their reports are collected too.
#
# The interpreter is not instrumented, so the sanitizer runtimes are preloaded
# (ASan must be the first library loaded), and Python's small-object allocator
# is replaced by malloc so that ASan also guards the Python objects the module
# creates and releases. Leak detection stays on for the C++ tests but is off
# for the interpreter: CPython and NumPy keep module-level allocations until
# exit, and attributing them needs full stack unwinding on every malloc, which
# makes the run ten times slower. Leaks of the module show up in
# tests/python/test_leaks.py (reference counts and resident memory) instead.
set -euo pipefail

python_mode=false
if [ "${1:-}" = "--python" ]; then
    python_mode=true
    shift
fi

log_dir=$(mktemp -d)
trap 'rm -rf "$log_dir"' EXIT

common="halt_on_error=1:log_path=$log_dir/report"
export UBSAN_OPTIONS="$common:print_stacktrace=1"
if $python_mode; then
    compiler=${CXX:-c++}
    export LD_PRELOAD="$($compiler -print-file-name=libasan.so) $($compiler -print-file-name=libubsan.so)"
    export ASAN_OPTIONS="$common:detect_leaks=0"
    export PYTHONMALLOC=malloc
else
    export ASAN_OPTIONS="$common:detect_leaks=1:check_initialization_order=1"
fi

status=0
"$@" || status=$?

if compgen -G "$log_dir/report*" >/dev/null; then
    echo "Sanitizer reports:" >&2
    cat "$log_dir"/report* >&2
    exit 1
fi
exit "$status"
