# The source fetch on a small package of its own: it unpacks the named member of a tarball that
# matches the pinned integrity hash, and refuses one that does not, whether it lies in the
# cache or comes from the registry (here a stand-in `npm` that hands out a given tarball).
#   cmake -DFETCH=.../fetch_source.cmake -DWORK=dir -DPYTHON=python3 -P fetch_source_test.cmake
file(REMOVE_RECURSE "${WORK}")
file(WRITE "${WORK}/good/package/table.csv" "1,2,3,x\n")
file(WRITE "${WORK}/tampered/package/table.csv" "1,2,3,y\n")
foreach(kind good tampered)
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar czf "${WORK}/${kind}.tgz" package
                  WORKING_DIRECTORY "${WORK}/${kind}")
endforeach()
# The pinned hash in npm's form, computed apart from the script under test.
execute_process(
  COMMAND ${PYTHON} -c "import base64, hashlib, sys; print('sha512-' + base64.b64encode(hashlib.sha512(open(sys.argv[1], 'rb').read()).digest()).decode(), end='')"
          "${WORK}/good.tgz"
  OUTPUT_VARIABLE integrity)
file(WRITE "${WORK}/bin/npm" "#!/bin/sh\n[ -f \"$QUOKKA_FAKE_PACKAGE\" ] && cp \"$QUOKKA_FAKE_PACKAGE\" example-table-1.0.tgz\n")
file(CHMOD "${WORK}/bin/npm" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

set(failures 0)
# Each row: what, the cached tarball, the one the registry hands out, the member, the outcome.
foreach(row
    "fresh fetch|none|good|package/table.csv|1,2,3,x"
    "cache used|good|tampered|package/table.csv|1,2,3,x"
    "tampered cache fetched anew|tampered|good|package/table.csv|1,2,3,x"
    "tampered registry|none|tampered|package/table.csv|does not match"
    "tampered both|tampered|tampered|package/table.csv|does not match"
    "registry fails|none|none|package/table.csv|npm pack"
    "member missing|good|none|package/other.csv|package/other.csv")
  string(REPLACE "|" ";" row "${row}")
  list(GET row 0 what)
  list(GET row 1 cached)
  list(GET row 2 served)
  list(GET row 3 member)
  list(GET row 4 outcome)
  file(REMOVE_RECURSE "${WORK}/cache" "${WORK}/out.csv")
  file(MAKE_DIRECTORY "${WORK}/cache")
  if(NOT cached STREQUAL "none")
    file(COPY_FILE "${WORK}/${cached}.tgz" "${WORK}/cache/example-table-1.0.tgz")
  endif()
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env "PATH=${WORK}/bin:$ENV{PATH}" "QUOKKA_FAKE_PACKAGE=${WORK}/${served}.tgz"
            ${CMAKE_COMMAND} -DPACKAGE=@example/table@1.0 -DINTEGRITY=${integrity} -DDIR=${WORK}/cache
            -DMEMBER=${member} -DOUTPUT=${WORK}/out.csv -P ${FETCH}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  file(GLOB leftovers "${WORK}/cache/fetch-*")
  if(leftovers)
    message(SEND_ERROR "${what}: the fetch left ${leftovers} in the cache")
  endif()
  set(got "")
  if(EXISTS "${WORK}/out.csv")
    file(READ "${WORK}/out.csv" got)
  endif()
  if(outcome MATCHES "^1,")
    if(NOT rc EQUAL 0 OR NOT got STREQUAL "${outcome}\n")
      message(SEND_ERROR "${what}: expected ${outcome}, got exit ${rc}, output '${got}': ${err}")
    endif()
  else()
    string(FIND "${err}" "${outcome}" found)
    if(rc EQUAL 0 OR found EQUAL -1 OR EXISTS "${WORK}/out.csv")
      message(SEND_ERROR "${what}: expected a refusal (${outcome}), got exit ${rc}: ${err}")
    endif()
    if(outcome STREQUAL "does not match" AND EXISTS "${WORK}/cache/example-table-1.0.tgz")
      message(SEND_ERROR "${what}: the refused tarball was kept")
    endif()
  endif()
endforeach()
file(REMOVE_RECURSE "${WORK}")
