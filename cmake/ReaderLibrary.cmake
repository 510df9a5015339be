# varnelo_reader_library(<target> DEF <def file> DIR <output dir>)
# Makes <target> a felica_for_vb.dll in <output dir>: the entry points exported under their plain
# names (the def file lists name@n, --kill-at drops the @n), and an import library that keeps the
# @n so that __stdcall callers in C++ link against it.
find_program(VARNELO_DLLTOOL NAMES ${CMAKE_CXX_COMPILER_TARGET}-dlltool i686-w64-mingw32-dlltool dlltool REQUIRED)

function(varnelo_reader_library target)
  cmake_parse_arguments(L "" "DEF;DIR" "" ${ARGN})
  target_sources(${target} PRIVATE ${L_DEF})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME felica_for_vb
    PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${L_DIR}
    ARCHIVE_OUTPUT_DIRECTORY ${L_DIR})
  target_link_options(${target} PRIVATE -Wl,--kill-at)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${VARNELO_DLLTOOL} --kill-at -d ${L_DEF} -D felica_for_vb.dll -l $<TARGET_LINKER_FILE:${target}>)
endfunction()
