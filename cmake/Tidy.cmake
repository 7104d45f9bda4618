# The "tidy" target: clang-tidy, as .clang-tidy configures it, over every project source in this
# build's compile_commands.json (generated sources of the build folder left out). Not part of the
# build and not a test: run it with `cmake --build BUILD --target tidy`. KELMDESK_TIDY_JOBS sets
# how many files it checks at once.
find_program(KELMDESK_RUN_CLANG_TIDY NAMES run-clang-tidy run-clang-tidy-14)
find_program(KELMDESK_CLANG_TIDY NAMES clang-tidy clang-tidy-14)
cmake_host_system_information(RESULT kelmdeskCores QUERY NUMBER_OF_LOGICAL_CORES)
set(KELMDESK_TIDY_JOBS ${kelmdeskCores} CACHE STRING "Files the tidy target checks at once")

if(KELMDESK_RUN_CLANG_TIDY AND KELMDESK_CLANG_TIDY)
  string(REGEX REPLACE "([][+.*()^$?|\\\\])" "\\\\\\1" sourceDirRegex "${CMAKE_SOURCE_DIR}")
  # The commands are the compiler's: clang-tidy skips the options only GCC knows, and its own
  # warnings stay warnings under -Werror, so the checks report instead of the compile failing.
  add_custom_target(tidy
    COMMAND ${KELMDESK_RUN_CLANG_TIDY} -clang-tidy-binary ${KELMDESK_CLANG_TIDY} -p ${CMAKE_BINARY_DIR} -quiet
            -j ${KELMDESK_TIDY_JOBS} -extra-arg=-Wno-unknown-warning-option -extra-arg=-Wno-error
            "^${sourceDirRegex}/(app|bench|core|editor|framework|fuzz|kernel|model|monitor|res|sim|statement|tests|vmsg)/"
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    USES_TERMINAL
    COMMENT "clang-tidy over the sources (.clang-tidy)"
    VERBATIM)
else()
  add_custom_target(tidy
    COMMAND ${CMAKE_COMMAND} -E echo "The tidy target needs clang-tidy and run-clang-tidy (Debian: clang-tidy)."
    COMMAND ${CMAKE_COMMAND} -E false
    VERBATIM)
endif()
