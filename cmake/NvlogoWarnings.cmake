# Warning and sanitizer flags shared by every target of the project.
add_library(nvlogo_compile_options INTERFACE)
target_compile_options(nvlogo_compile_options INTERFACE
    -Wall -Wextra
    $<$<BOOL:${NVLOGO_WERROR}>:-Werror>)
target_compile_definitions(nvlogo_compile_options INTERFACE
    QT_RESTRICTED_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)

if(NVLOGO_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()
