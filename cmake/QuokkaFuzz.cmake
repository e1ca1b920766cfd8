# quokka_add_fuzz_target(NAME SOURCES ... [INCLUDES ...] [DEPENDS ...] [QT_CORE] [DICT file]
#                        [MAX_LEN n] [SECONDS n])
# A libFuzzer target, compiled by clang on its own (with AddressSanitizer and
# UndefinedBehaviorSanitizer) so the rest of the build keeps its compiler. CTest runs it for
# SECONDS (default 5) from a fixed seed, starting each time from the committed corpus in
# tests/fuzz/NAME/; what it finds on the way goes to the build tree, never to that folder, and
# an input that fails is kept in the build tree as NAME.failures/.
# Relative SOURCES, INCLUDES and DICT are taken from the calling folder.
find_program(QUOKKA_CLANGXX NAMES clang++-14 clang++)

function(quokka_add_fuzz_target name)
  cmake_parse_arguments(F "QT_CORE" "DICT;MAX_LEN;SECONDS" "SOURCES;INCLUDES;DEPENDS" ${ARGN})
  if(NOT QUOKKA_CLANGXX)
    add_test(NAME ${name} COMMAND sh -c "echo 'clang++ is not installed: no fuzzing'; exit 77")
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
    return()
  endif()
  if(NOT F_SECONDS)
    set(F_SECONDS 5)
  endif()
  if(NOT F_MAX_LEN)
    set(F_MAX_LEN 4096)
  endif()
  set(sources "")
  foreach(source ${F_SOURCES})
    get_filename_component(source ${source} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    list(APPEND sources ${source})
  endforeach()
  set(include_flags "")
  foreach(dir ${F_INCLUDES})
    get_filename_component(dir ${dir} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    list(APPEND include_flags -I${dir})
  endforeach()
  set(qt_flags "")
  if(F_QT_CORE)
    set(qt_flags "-isystem$<JOIN:$<TARGET_PROPERTY:Qt6::Core,INTERFACE_INCLUDE_DIRECTORIES>,$<SEMICOLON>-isystem>"
                 $<TARGET_LINKER_FILE:Qt6::Core>)
  endif()
  set(warning_flags -Wall -Wextra -Wpedantic ${QUOKKA_PROGRAM_WARNINGS})
  if(QUOKKA_WERROR)
    list(APPEND warning_flags -Werror)
  endif()
  # Not named as the target itself: a generator may not have a file and a target of one name.
  set(binary ${CMAKE_CURRENT_BINARY_DIR}/${name}-fuzzer)
  add_custom_command(OUTPUT ${binary}
    COMMAND ${QUOKKA_CLANGXX} -std=c++20 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined
            -fno-sanitize-recover=all ${warning_flags} ${include_flags} ${sources} ${qt_flags}
            -o ${binary}
    DEPENDS ${sources} ${F_DEPENDS}
    IMPLICIT_DEPENDS CXX ${sources}
    COMMAND_EXPAND_LISTS VERBATIM
    COMMENT "Building the fuzz target ${name} with clang")
  add_custom_target(${name} ALL DEPENDS ${binary})

  set(arguments -seed=1 -max_total_time=${F_SECONDS} -timeout=10 -rss_limit_mb=2048
                -max_len=${F_MAX_LEN} -print_final_stats=1)
  if(F_DICT)
    get_filename_component(dict ${F_DICT} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    list(APPEND arguments -dict=${dict})
  endif()
  add_test(NAME ${name} COMMAND ${CMAKE_COMMAND}
    -DFUZZER=${binary} -DWORK=${CMAKE_CURRENT_BINARY_DIR}/${name}.corpus
    -DARTIFACTS=${CMAKE_CURRENT_BINARY_DIR}/${name}.failures
    -DSEEDS=${PROJECT_SOURCE_DIR}/tests/fuzz/${name} "-DARGUMENTS=${arguments}"
    -P ${PROJECT_SOURCE_DIR}/cmake/run_fuzz.cmake)
  # A fuzzer keeps one processor busy for its few seconds, as a unit test does.
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 300)
endfunction()
