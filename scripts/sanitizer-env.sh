# Sourced by the scripts that run sanitized builds: the options each sanitizer runs with.
# NOVARO_SANITIZER names it (address or thread); the project's top folder is $top.
# Suppressions cover system libraries only, never the project's own code.
case "${NOVARO_SANITIZER:-}" in
  thread)
    # Every race is reported and the process goes on; it then ends with status 66.
    export TSAN_OPTIONS="second_deadlock_stack=1:history_size=4:suppressions=$top/scripts/tsan.supp${TSAN_OPTIONS:+:$TSAN_OPTIONS}"
    ;;
  address)
    # Leak checking is off: Mesa, the X libraries and OpenAL keep their allocations until exit.
    export ASAN_OPTIONS="detect_leaks=0:halt_on_error=1:detect_stack_use_after_return=0:check_initialization_order=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$top/scripts/ubsan.supp"
    ;;
esac
