# The Windows trees are sub-builds of the host tree: one build and one CTest run
# cover every toolchain. Each tree has its own Wine prefix.
include(ExternalProject)

# qg_windows_tree(name toolchain [DEPENDS tree] [ARGS -D...])
function(qg_windows_tree name toolchain)
    cmake_parse_arguments(T "" "" "DEPENDS;ARGS" ${ARGN})
    set(dir ${CMAKE_BINARY_DIR}/${name})
    ExternalProject_Add(${name}
        SOURCE_DIR ${CMAKE_SOURCE_DIR}
        BINARY_DIR ${dir}
        CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/${toolchain}
                   -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
                   -DQG_DIST_DIR=${QG_DIST_DIR}
                   ${QG_SIGNING_ARGS}
                   ${T_ARGS}
        DEPENDS ${T_DEPENDS}
        INSTALL_COMMAND ""
        BUILD_ALWAYS ON
        USES_TERMINAL_BUILD ON)
    # CTest runs the tree's tests together with the host's.
    file(WRITE ${CMAKE_BINARY_DIR}/${name}-tests.cmake
         "if(EXISTS \"${dir}/CTestTestfile.cmake\")\n  subdirs(\"${dir}\")\nendif()\n")
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY TEST_INCLUDE_FILES
                 ${CMAKE_BINARY_DIR}/${name}-tests.cmake)
endfunction()

# Setup carries the x86 driver: the x86 tree builds first and hands it over.
qg_windows_tree(windows-x86 toolchain-mingw-i686.cmake)
qg_windows_tree(windows-x64 toolchain-mingw-x86_64.cmake DEPENDS windows-x86
                ARGS -DQG_X86_DRIVER=${CMAKE_BINARY_DIR}/windows-x86/driver/quilldrv.sys)

# Every image in dist/, once both trees have built, is signed and checksummed.
find_program(QG_MINGW_OBJDUMP x86_64-w64-mingw32-objdump REQUIRED)
add_test(NAME ${QG_TEST_PREFIX}DistImagesAreSignedWithValidChecksums
         COMMAND ${CMAKE_SOURCE_DIR}/cmake/check-signed-images ${QG_OSSLSIGNCODE}
                 ${CMAKE_BINARY_DIR}/windows-x64/host-tools/pe_checksum ${QG_MINGW_OBJDUMP}
                 "${QG_SIGNING_ROOT}" ${QG_DIST_DIR})
set_tests_properties(${QG_TEST_PREFIX}DistImagesAreSignedWithValidChecksums PROPERTIES TIMEOUT 120)
