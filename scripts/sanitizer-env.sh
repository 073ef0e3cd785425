# Sourced: the run-time options of the sanitizer builds. Argument: the folder
# for the reports (one file per process), or none for standard error.
# A report ends the process with a failure, so a test cannot pass over it.
here_env="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
log=""
[ -n "${1:-}" ] && log=":log_path=$1/report"
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:strict_string_checks=1${log}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${log}"
export LSAN_OPTIONS="suppressions=$here_env/sanitizers/lsan.supp${log}"
# force_seq_cst_atomics: Qt decides copy-on-write with relaxed loads of a
# block's reference count (a hand-over the sanitizer would not see); the
# project's own code uses no relaxed atomics, so nothing of ours is hidden.
# ignore_noninstrumented_modules: the C library calls that Qt and the C
# library make themselves (Qt's thread pool copying its queue, the image
# conversions it splits over that pool, glibc's time zone state kept under
# glibc's own lock) hand over through locks inside those libraries that the
# sanitizer cannot see; only those calls are left out. Every access and every
# C library call of the project's own code (and of the Qt templates compiled
# into it) is still checked.
export TSAN_OPTIONS="halt_on_error=0:second_deadlock_stack=1:force_seq_cst_atomics=1:ignore_noninstrumented_modules=1:suppressions=$here_env/sanitizers/tsan.supp${log}"
unset here_env log
