# What the rooms show each other. Every header keeps its room in its path ("trace/icmp_tracer.h"),
# but a room's targets reach its headers through folders of the build tree, not through the
# source tree:
#   rooms/own/ROOM/ROOM    a link to the room's whole folder: for the room's own targets only;
#   rooms/public/ROOM/ROOM a link to each header the room offers the rooms above it: for every
#                          target that links one of the room's targets.
# So a room's internals cannot be included from another room, and a header that a public
# header includes must be public itself. Tests and tools that check a room's internals say so
# with quokka_room_internals().

# quokka_room(ROOM TARGETS target... PUBLIC_HEADERS header...)
function(quokka_room room)
  cmake_parse_arguments(R "" "" "TARGETS;PUBLIC_HEADERS" ${ARGN})
  set(own ${CMAKE_BINARY_DIR}/rooms/own/${room})
  set(public ${CMAKE_BINARY_DIR}/rooms/public/${room})
  file(MAKE_DIRECTORY ${own} ${public}/${room})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${room} ${own}/${room} SYMBOLIC)
  # A header that is no longer public loses its link.
  file(GLOB links ${public}/${room}/*)
  if(links)
    file(REMOVE ${links})
  endif()
  foreach(header ${R_PUBLIC_HEADERS})
    if(NOT EXISTS ${PROJECT_SOURCE_DIR}/${room}/${header})
      message(FATAL_ERROR "quokka_room(${room}): no header ${header}")
    endif()
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${room}/${header} ${public}/${room}/${header} SYMBOLIC)
  endforeach()
  foreach(target ${R_TARGETS})
    target_include_directories(${target} BEFORE PRIVATE ${own})
    target_include_directories(${target} PUBLIC ${public})
  endforeach()
  set_property(GLOBAL PROPERTY QUOKKA_ROOM_OWN_${room} ${own})
endfunction()

# quokka_room_internals(TARGET ROOM...): TARGET (a test or a tool) may include every header
# of each ROOM.
function(quokka_room_internals target)
  foreach(room ${ARGN})
    get_property(own GLOBAL PROPERTY QUOKKA_ROOM_OWN_${room})
    if(NOT own)
      message(FATAL_ERROR "quokka_room_internals: ${room} is not a room (yet)")
    endif()
    target_include_directories(${target} BEFORE PRIVATE ${own})
  endforeach()
endfunction()

# quokka_program_settings(TARGET...): the string and warning settings of the program's own
# code. Qt strings are made from byte strings only where the code says how (u"..."_s,
# QLatin1StringView, QString::fromUtf8), and string sums build their result once.
set(QUOKKA_PROGRAM_DEFINITIONS QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_USE_QSTRINGBUILDER)
set(QUOKKA_PROGRAM_WARNINGS -Wshadow -Wnon-virtual-dtor -Wsuggest-override)
function(quokka_program_settings)
  foreach(target ${ARGN})
    target_compile_definitions(${target} PRIVATE ${QUOKKA_PROGRAM_DEFINITIONS})
    target_compile_options(${target} PRIVATE ${QUOKKA_PROGRAM_WARNINGS})
  endforeach()
endfunction()

# quokka_program_settings_on_sources([WARNINGS_ONLY] SOURCE...): the same settings for single
# source files of the calling folder, where their target also holds files that do not keep
# them yet; WARNINGS_ONLY for tests that still make Qt strings from byte strings.
function(quokka_program_settings_on_sources)
  cmake_parse_arguments(S "WARNINGS_ONLY" "" "" ${ARGN})
  if(NOT S_WARNINGS_ONLY)
    set_property(SOURCE ${S_UNPARSED_ARGUMENTS} APPEND PROPERTY COMPILE_DEFINITIONS ${QUOKKA_PROGRAM_DEFINITIONS})
  endif()
  set_property(SOURCE ${S_UNPARSED_ARGUMENTS} APPEND PROPERTY COMPILE_OPTIONS ${QUOKKA_PROGRAM_WARNINGS})
endfunction()
