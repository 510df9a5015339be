# varnelo_version_info(<target> FILENAME <name> DESCRIPTION <text> [DLL])
# Gives <target> a version resource: product, file and product version from project(), the
# copyright and licence line, its original file name and a description that tells it apart; and
# a link map, <file>.map.
function(varnelo_version_info target)
  cmake_parse_arguments(VI "DLL" "FILENAME;DESCRIPTION" "" ${ARGN})
  set(VI_FILETYPE VFT_APP)
  if(VI_DLL)
    set(VI_FILETYPE VFT_DLL)
  endif()
  get_filename_component(VI_INTERNAL ${VI_FILENAME} NAME_WE)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  # A shipped binary: its link map beside it names every library member linked in, which the
  # release test checks the third-party notices against.
  target_link_options(${target} PRIVATE "-Wl,-Map=$<TARGET_FILE:${target}>.map")
endfunction()
