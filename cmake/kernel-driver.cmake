# Kernel code generation and the one way a kernel driver image is linked here,
# shared by quilldrv and the test suite's own drivers.
if(NOT WIN32)
    return()
endif()

# No runtime, no exceptions, no stack probes; shipped optimised whatever the build type.
set(QG_KERNEL_FLAGS -ffreestanding -fno-exceptions -fno-rtti -fno-threadsafe-statics
                    -fno-stack-protector -mno-stack-arg-probe -nostdlib -O2)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(QG_DRIVER_ARCH x64)
    set(QG_DRIVER_SUBSYSTEM native:6.1) # Windows 7 and later
    set(QG_DRIVER_ENTRY DriverEntry)
else()
    set(QG_DRIVER_ARCH x86)
    set(QG_DRIVER_SUBSYSTEM native:5.1) # Windows XP and later
    set(QG_DRIVER_ENTRY _DriverEntry@8)
    # x86 kernels unwind with frame chains; x64 keeps its .pdata/.xdata tables.
    list(APPEND QG_KERNEL_FLAGS -fno-asynchronous-unwind-tables)
endif()

# Tools built for this machine: the post-link checksum, setup's pictures and licences.
include(ExternalProject)
ExternalProject_Add(qg_host_tools
    SOURCE_DIR ${CMAKE_SOURCE_DIR}/tools
    BINARY_DIR ${CMAKE_BINARY_DIR}/host-tools
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${CMAKE_BINARY_DIR}/host-tools/pe_checksum
                     ${CMAKE_BINARY_DIR}/host-tools/make_art
                     ${CMAKE_BINARY_DIR}/host-tools/make_licence)
set(QG_PE_CHECKSUM ${CMAKE_BINARY_DIR}/host-tools/pe_checksum)

# qg_kernel_driver(name SOURCES ... [LIBS ...]): name.sys, linked as an image of its
# own (not a DLL: no export directory, relocatable), against ntoskrnl only, with
# its PE checksum set after the link, then signed.
function(qg_kernel_driver name)
    cmake_parse_arguments(K "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${K_SOURCES})
    # The DDK headers include each other by bare name.
    target_include_directories(${name} SYSTEM PRIVATE /usr/${QG_MINGW_TRIPLE}/include/ddk)
    target_link_libraries(${name} PRIVATE ${K_LIBS} ntoskrnl)
    target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${QG_KERNEL_FLAGS}>)
    target_link_options(${name} PRIVATE
        -nostdlib -nostartfiles -s
        -Wl,--subsystem,${QG_DRIVER_SUBSYSTEM}
        -Wl,--entry,${QG_DRIVER_ENTRY}
        -Wl,--exclude-all-symbols
        -Wl,--dynamicbase -Wl,--nxcompat
        -Wl,--file-alignment,0x200 -Wl,--section-alignment,0x1000
        # Symbols for a crash dump's analysis and for the hardware submission.
        -Wl,--pdb=$<TARGET_FILE_DIR:${name}>/${name}.pdb)
    set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".sys" OUTPUT_NAME ${name})
    add_dependencies(${name} qg_host_tools)
    add_custom_command(TARGET ${name} POST_BUILD
        COMMAND ${QG_PE_CHECKSUM} $<TARGET_FILE:${name}>
        VERBATIM)
    qg_sign(${name})
endfunction()
