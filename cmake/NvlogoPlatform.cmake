# nvlogo_platform_source(<target> <stem> <what>)
#
# Platform code sits behind one header with one file per platform: adds <stem>_unix.cpp to
# <target> on Unix, and stops the configuration elsewhere, naming the file to write.
function(nvlogo_platform_source target stem what)
    if(UNIX)
        target_sources(${target} PRIVATE ${stem}_unix.cpp)
    else()
        message(FATAL_ERROR "${target}: no ${what} for ${CMAKE_SYSTEM_NAME} (add a ${stem}_<platform>.cpp)")
    endif()
endfunction()
