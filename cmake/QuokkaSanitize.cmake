# Two build trees meet here. A tree configured with QUOKKA_SANITIZE builds everything with
# AddressSanitizer and UndefinedBehaviorSanitizer; any report ends the process with a failure.
# It lists the tests that run sanitized (the cores' unit tests, the WHOIS exchanges and one
# whole-program namespace scenario; the windows' tests run in the normal tree alone) in
# sanitized_tests.cmake, under names starting "asan.", and builds only what those need
# (target quokka_sanitized_tests). A normal tree configured with QUOKKA_SANITIZER_TREE runs that
# list as part of its own CTest run, so one summary covers both trees. The list begins with
# asan.build, which builds the sanitizer tree: the sanitized tests wait for it, and the normal
# tree's tests that wait mostly on the clock (whole-program scenarios at the program's pace)
# run meanwhile. The fuzz targets are sanitized in every tree (cmake/QuokkaFuzz.cmake), so
# their seed runs are not repeated here.
#
# Tests whose verdict rests on a pace or a race (timed tests) each take one of two locks,
# QUOKKA_TIMED_A or QUOKKA_TIMED_B, so at most two of them, which mostly wait on the
# program's pace, run at once. The tests that keep both processors busy (that build, the
# package's) run at the lowest priority (QUOKKA_IN_BACKGROUND): they take what processor time
# the others leave, and a timed scenario beside them is not held up. Benchmarks have the
# machine to themselves (RUN_SERIAL).
set(QUOKKA_TIMED_A quokka_timing_a)
set(QUOKKA_TIMED_B quokka_timing_b)
set(QUOKKA_IN_BACKGROUND nice -n 19)
option(QUOKKA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
set(QUOKKA_SANITIZER_TREE "" CACHE PATH "A build tree configured with QUOKKA_SANITIZE whose tests CTest runs here too")

set(QUOKKA_SANITIZER_ENV
  "ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
  "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1"
  "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan.supp:print_suppressions=0")

if(QUOKKA_SANITIZE)
  add_compile_options(-O0 -g1 -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  # The instrumentation leads GCC's flow analysis to report uninitialised reads inside the
  # standard library (std::function in std::regex) that are not there; the release tree keeps
  # the warning.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
  add_link_options(-fsanitize=address,undefined)
  add_custom_target(quokka_sanitized_tests)
endif()

# quokka_sanitized_test(NAME [COMMAND command...] [DEPENDS targets...])
# Called by quokka_add_test for every test that is not a GUI test, and by test folders for tests
# that should also run sanitized (COMMAND when the test's command is not the target NAME). In a
# sanitizer tree the test joins the list once its folder has set all its properties;
# benchmarks stay out (figures under a sanitizer mean nothing).
function(quokka_sanitized_test name)
  if(QUOKKA_SANITIZE)
    set(arguments "")
    foreach(argument ${name} ${ARGN})
      string(APPEND arguments " [==[${argument}]==]")
    endforeach()
    cmake_language(EVAL CODE "cmake_language(DEFER CALL _quokka_sanitized_test_entry ${arguments})")
  endif()
endfunction()

function(_quokka_sanitized_test_entry name)
  cmake_parse_arguments(S "" "" "COMMAND;DEPENDS" ${ARGN})
  if(NOT S_COMMAND)
    set(S_COMMAND "$<TARGET_FILE:${name}>")
    list(APPEND S_DEPENDS ${name})
  endif()
  get_test_property(${name} LABELS labels)
  if("bench" IN_LIST labels)
    return()
  endif()
  get_test_property(${name} ENVIRONMENT environment)
  get_test_property(${name} TIMEOUT timeout)
  if(NOT environment)
    set(environment "")
  endif()
  if(NOT timeout)
    set(timeout 900)
  endif()
  list(APPEND environment ${QUOKKA_SANITIZER_ENV})
  set(command "")
  foreach(argument ${S_COMMAND})
    string(APPEND command " [[${argument}]]")
  endforeach()
  # The tests that run the sanitized program itself take longest: once the tree is built, they
  # start first, so that the run does not end waiting on one that started last.
  set(added "")
  if(TARGET ${name})
    get_target_property(added ${name} MANUALLY_ADDED_DEPENDENCIES)
  endif()
  set(cost 0)
  if("quokka-quokka" IN_LIST S_DEPENDS OR "quokka-quokka" IN_LIST added)
    set(cost 50)
  endif()
  set(entry "add_test([[asan.${name}]]${command})\n")
  string(APPEND entry "set_tests_properties([[asan.${name}]] PROPERTIES ENVIRONMENT [[${environment}]]"
         " WORKING_DIRECTORY [[${CMAKE_CURRENT_BINARY_DIR}]] SKIP_RETURN_CODE 77 TIMEOUT ${timeout}"
         " COST ${cost} LABELS sanitizer FIXTURES_REQUIRED quokka_sanitizer_tree)\n")
  set_property(GLOBAL APPEND_STRING PROPERTY QUOKKA_SANITIZED_TEST_LIST "${entry}")
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT ${QUOKKA_SANITIZER_ENV})
  if(S_DEPENDS)
    add_dependencies(quokka_sanitized_tests ${S_DEPENDS})
  endif()
endfunction()

# Runs at the end of the top folder, after every test folder has been read.
function(_quokka_write_sanitized_tests)
  get_property(entries GLOBAL PROPERTY QUOKKA_SANITIZED_TEST_LIST)
  cmake_host_system_information(RESULT cores QUERY NUMBER_OF_LOGICAL_CORES)
  list(JOIN QUOKKA_IN_BACKGROUND "]] [[" background)
  # The lock is the one `make test` holds while it starts this build early: asan.build waits
  # for that build and then finishes it (or shows why it failed).
  string(CONCAT build "add_test([[asan.build]] flock [[${CMAKE_BINARY_DIR}/build.lock]] [[${background}]]"
         " [[${CMAKE_COMMAND}]] --build [[${CMAKE_BINARY_DIR}]]"
         " --target quokka_sanitized_tests --parallel ${cores})\n"
         "set_tests_properties([[asan.build]] PROPERTIES FIXTURES_SETUP quokka_sanitizer_tree"
         " COST 10000 TIMEOUT 3600 LABELS sanitizer)\n")
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/sanitized_tests.cmake
       CONTENT "# The tests of the cores and one whole-program scenario, built with sanitizers.\n${build}${entries}")
endfunction()

if(QUOKKA_SANITIZE)
  cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL _quokka_write_sanitized_tests)
endif()

if(QUOKKA_SANITIZER_TREE)
  set(list_file "${QUOKKA_SANITIZER_TREE}/sanitized_tests.cmake")
  file(WRITE ${CMAKE_BINARY_DIR}/sanitizer_tree_tests.cmake
"if(EXISTS [[${list_file}]])
  include([[${list_file}]])
else()
  add_test(asan.tree_missing ${CMAKE_COMMAND} -E echo [[the sanitizer tree ${QUOKKA_SANITIZER_TREE} is not configured; make test configures it]])
  set_tests_properties(asan.tree_missing PROPERTIES WILL_FAIL TRUE)
endif()
")
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY TEST_INCLUDE_FILES
               ${CMAKE_BINARY_DIR}/sanitizer_tree_tests.cmake)
endif()
