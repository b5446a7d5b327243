# The version is written once, in VERSION (MAJOR.MINOR.PATCH). It is
# configured into corvane_version.h in the build tree, which the version
# resource and corvane-check --version include.
file(READ ${CMAKE_SOURCE_DIR}/VERSION CORVANE_VERSION)
string(STRIP "${CORVANE_VERSION}" CORVANE_VERSION)
# Each part is one 16-bit word of the version resource.
set(part "(0|[1-9][0-9]?[0-9]?[0-9]?[0-9]?)")
if(NOT CORVANE_VERSION MATCHES "^${part}\\.${part}\\.${part}$")
  message(FATAL_ERROR "VERSION must hold MAJOR.MINOR.PATCH (decimal, no leading zeros), not '${CORVANE_VERSION}'")
endif()
set(CORVANE_VERSION_MAJOR ${CMAKE_MATCH_1})
set(CORVANE_VERSION_MINOR ${CMAKE_MATCH_2})
set(CORVANE_VERSION_PATCH ${CMAKE_MATCH_3})
foreach(number ${CORVANE_VERSION_MAJOR} ${CORVANE_VERSION_MINOR} ${CORVANE_VERSION_PATCH})
  if(number GREATER 65535)
    message(FATAL_ERROR "VERSION '${CORVANE_VERSION}': each part must be at most 65535")
  endif()
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/VERSION)
configure_file(${CMAKE_CURRENT_LIST_DIR}/corvane_version.h.in ${CMAKE_BINARY_DIR}/generated/corvane_version.h @ONLY)
include_directories(${CMAKE_BINARY_DIR}/generated)
