# corvane_version_resource(<target> <description>): the project's version for a
# program of the package. Its sources find "corvane_version.h"; on Windows the
# file also carries a version resource (file and product version, product name,
# description, original file name) that Windows shows in the file's properties.
# The resource adds data only: no code and no imports.
function(corvane_version_resource target description)
  target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/generated)
  if(NOT WIN32)
    return()
  endif()
  get_target_property(_type ${target} TYPE)
  if(_type STREQUAL "SHARED_LIBRARY")
    set(CORVANE_RC_FILE_TYPE 0x2)
    set(CORVANE_RC_FILE_NAME ${target}.dll)
  else()
    set(CORVANE_RC_FILE_TYPE 0x1)
    set(CORVANE_RC_FILE_NAME ${target}.exe)
  endif()
  set(CORVANE_RC_TARGET ${target})
  set(CORVANE_RC_DESCRIPTION "${description}")
  set(_rc ${CMAKE_BINARY_DIR}/generated/${target}_version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${_rc} @ONLY)
  target_sources(${target} PRIVATE ${_rc})
endfunction()
