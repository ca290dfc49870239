# nvlogo_add_qtest(<name> SOURCES <files...> [LIBRARIES <targets...>]
#                  [ENVIRONMENT <VAR=value...>] [FIXTURES <fixture...>] [LABELS <labels...>])
#
# Builds one Qt Test executable and registers it with CTest. Widgets run on the offscreen
# platform so that no display is needed.
function(nvlogo_add_qtest name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;ENVIRONMENT;FIXTURES;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test nvlogo_compile_options ${ARG_LIBRARIES})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=0;${ARG_ENVIRONMENT}"
        TIMEOUT 300)
    if(ARG_FIXTURES)
        set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${ARG_FIXTURES}")
    endif()
    if(ARG_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
endfunction()
