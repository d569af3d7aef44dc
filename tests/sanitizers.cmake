# Read by ctest in the sanitizer build: the options every test process gets.
# umockdev-wrapper preloads libumockdev-preload ahead of the sanitizer runtime,
# which is harmless here, so the runtime must not insist on coming first.
# Leaks that third-party libraries keep on purpose are listed in lsan.supp.
# Options already in the environment come last and so take precedence.
set(ENV{ASAN_OPTIONS} "verify_asan_link_order=0:detect_leaks=1:$ENV{ASAN_OPTIONS}")
set(ENV{LSAN_OPTIONS} "suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan.supp:$ENV{LSAN_OPTIONS}")
set(ENV{UBSAN_OPTIONS} "halt_on_error=1:print_stacktrace=1:$ENV{UBSAN_OPTIONS}")
