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
export TSAN_OPTIONS="halt_on_error=0:second_deadlock_stack=1:force_seq_cst_atomics=1:suppressions=$here_env/sanitizers/tsan.supp${log}"
unset here_env log
