# Setup's icon, header bitmap and licence documents, made at build time by tools
# built for the build machine (tools/make_art, tools/make_licence; the external
# project qg_host_tools of cmake/kernel-driver.cmake). Included by setup/CMakeLists.txt.
# Defines the target qg_setup_art and the absolute paths QG_SETUP_ICON,
# QG_HEADER_BITMAP, QG_LICENCE_1033, QG_LICENCE_1041 and QG_LICENCE_2052.
set(QG_MAKE_ART ${CMAKE_BINARY_DIR}/host-tools/make_art)
set(QG_MAKE_LICENCE ${CMAKE_BINARY_DIR}/host-tools/make_licence)
set(QG_ART_DIR ${CMAKE_BINARY_DIR}/setup/art)

set(QG_SETUP_ICON ${QG_ART_DIR}/setup.ico)
set(QG_HEADER_BITMAP ${QG_ART_DIR}/header.bmp)
add_custom_command(OUTPUT ${QG_SETUP_ICON} ${QG_HEADER_BITMAP}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QG_ART_DIR}
    COMMAND ${QG_MAKE_ART} ${QG_SETUP_ICON} ${QG_HEADER_BITMAP}
    DEPENDS ${QG_MAKE_ART}
    COMMENT "Drawing setup's icon and header bitmap"
    VERBATIM)

set(QG_LICENCES)
foreach(language IN ITEMS 1033 1041 2052)
    set(QG_LICENCE_${language} ${QG_ART_DIR}/licence_${language}.rtf)
    set(source ${CMAKE_CURRENT_LIST_DIR}/licence_${language}.txt)
    add_custom_command(OUTPUT ${QG_LICENCE_${language}}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${QG_ART_DIR}
        COMMAND ${QG_MAKE_LICENCE} ${language} ${source} ${QG_LICENCE_${language}}
        DEPENDS ${QG_MAKE_LICENCE} ${source}
        COMMENT "Writing the licence document ${language}"
        VERBATIM)
    list(APPEND QG_LICENCES ${QG_LICENCE_${language}})
endforeach()

add_custom_target(qg_setup_art DEPENDS ${QG_SETUP_ICON} ${QG_HEADER_BITMAP} ${QG_LICENCES})
add_dependencies(qg_setup_art qg_host_tools)
