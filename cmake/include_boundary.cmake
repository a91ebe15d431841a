# kestrave_refuse_includes(name FROM dir FORBIDDEN dir...): the files under FROM may not include
# any header that lives under a FORBIDDEN folder, by bare name or by a relative path. The check
# runs at every build, before the libraries of those folders are compiled (name the target
# `name` and make them depend on it), so an include across a boundary stops the build.
function(kestrave_refuse_includes name)
  cmake_parse_arguments(ARG "" "FROM" "FORBIDDEN" ${ARGN})
  add_custom_target(${name}
                    COMMAND ${CMAKE_COMMAND} -DFROM=${ARG_FROM} "-DFORBIDDEN=${ARG_FORBIDDEN}"
                            -P ${PROJECT_SOURCE_DIR}/cmake/check_includes.cmake
                    COMMENT "Checking that ${ARG_FROM} includes nothing of ${ARG_FORBIDDEN}"
                    VERBATIM)
endfunction()
