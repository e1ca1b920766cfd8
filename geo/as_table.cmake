# The AS table, from the pinned source in the build tree, checked before it is linked in
# (included by geo_table.cmake, which links both tables into the program).
# The source: RouteViews, the regional registries' statistics (NRO) and DB-IP's ASN Lite
# (each CC BY 4.0), merged and published on the npm registry; IPv4 ranges as numbers.
set(QUOKKA_AS_SOURCE_VERSION 2.3.2026061719)
set(QUOKKA_AS_SOURCE_PACKAGE "@ip-location-db/asn@${QUOKKA_AS_SOURCE_VERSION}")
set(QUOKKA_AS_SOURCE_INTEGRITY
  "sha512-PpqYi7wyEyWwunXBtl+y3Vi403SvNywotWwvmiYCOUtE0SVol/Sf492Ee+eErEznmGapxEQB2SAfrpXuZ9a+vQ==")

set(as_source_csv "${QUOKKA_GEO_DATA_DIR}/asn-ipv4-num-${QUOKKA_AS_SOURCE_VERSION}.csv")
set(as_table "${CMAKE_CURRENT_BINARY_DIR}/quokka_as_table.bin")
set(as_table_checked "${CMAKE_CURRENT_BINARY_DIR}/quokka_as_table.checked")

add_custom_command(OUTPUT ${as_source_csv}
  COMMAND ${CMAKE_COMMAND} -DPACKAGE=${QUOKKA_AS_SOURCE_PACKAGE}
          -DINTEGRITY=${QUOKKA_AS_SOURCE_INTEGRITY} -DDIR=${QUOKKA_GEO_DATA_DIR}
          -DMEMBER=package/asn-ipv4-num.csv -DOUTPUT=${as_source_csv} -P ${fetch_source}
  DEPENDS ${fetch_source}
  COMMENT "Fetching and verifying the AS source"
  VERBATIM)

add_custom_command(OUTPUT ${as_table}
  COMMAND quokka-astable --build ${as_source_csv} ${as_table}
  DEPENDS quokka-astable ${as_source_csv}
  COMMENT "Building the AS table"
  VERBATIM)

# A table that fails the checker leaves no stamp, so the build fails now and on every retry.
add_custom_command(OUTPUT ${as_table_checked}
  COMMAND quokka-astable --check ${as_table}
  COMMAND ${CMAKE_COMMAND} -E touch ${as_table_checked}
  DEPENDS quokka-astable ${as_table}
  COMMENT "Checking the AS table"
  VERBATIM)

# For the tests that compare the built table with its source.
set_property(GLOBAL PROPERTY QUOKKA_AS_TABLE_FILE ${as_table})
set_property(GLOBAL PROPERTY QUOKKA_AS_SOURCE_CSV ${as_source_csv})
