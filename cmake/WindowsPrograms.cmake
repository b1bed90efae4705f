# Flags and helpers for the shipped Windows programs: built for size, no C
# runtime start-up code, no exceptions or RTTI, importing system DLLs only.

# The 64-bit build (preset win64) exists only to run the same tests under
# 64-bit Wine where 32-bit programs cannot start; the shipped programs are
# the 32-bit ones, and only they are laid out and compacted for size.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(STUBKIT_WINDOWS_64 ON)
    set(STUBKIT_WINE_ARCH_OPTION --win64)
else()
    set(STUBKIT_WINDOWS_64 OFF)
    set(STUBKIT_WINE_ARCH_OPTION)
endif()

set(STUBKIT_WINE_RUN ${CMAKE_SOURCE_DIR}/cmake/wine-run)
set(STUBKIT_WINE_DIR ${CMAKE_BINARY_DIR}/wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${STUBKIT_WINE_RUN} ${STUBKIT_WINE_ARCH_OPTION} --wine-dir ${STUBKIT_WINE_DIR})

# No -fdata-sections: with it, mingw's gcc puts zero-filled variables into
# .data$ sections whose zeros are stored in the file, so the decoder's 4 MiB
# window and the reader's buffers would make the stub megabytes long.
function(stubkit_size_flags target)
    target_compile_options(${target} PRIVATE
        -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
        -fno-unwind-tables -ffunction-sections
        -fno-stack-protector -fno-ident -fomit-frame-pointer
        -fno-threadsafe-statics -Wall -Wextra)
endfunction()

# Moves the rules of one output section of a linker script into another,
# right after the line `anchor`, and removes the section: an empty one
# left behind would still be counted when the linker sizes the headers.
function(stubkit_move_section_rules script_var section anchor)
    set(script "${${script_var}}")
    string(REGEX MATCH "\n  \\${section} BLOCK\\(__section_alignment__\\) :\n  {\n([^}]*)}" block "${script}")
    set(rules "${CMAKE_MATCH_1}")
    string(REPLACE "${block}" "" moved "${script}")
    string(REPLACE "${anchor}" "${anchor}\n${rules}" moved "${moved}")
    string(LENGTH "${script}" before)
    string(LENGTH "${moved}" after)
    if(NOT block OR before EQUAL after)
        message(FATAL_ERROR "the default linker script has no ${section} rule to move behind '${anchor}'")
    endif()
    set(${script_var} "${moved}" PARENT_SCOPE)
endfunction()

# The linker's own script with the read-only data moved into the code section
# and the few initialised variables (handles that start invalid, pointers into
# buffers) behind the import tables, which are writable too. A small program
# then needs two sections fewer, which keeps its headers within one 512-byte
# block of the file even with a relocation section, and spares a whole block
# for a few words of data.
function(stubkit_write_merged_linker_script path)
    execute_process(COMMAND ${CMAKE_LINKER} --verbose OUTPUT_VARIABLE verbose RESULT_VARIABLE failed)
    set(rule "==================================================")
    string(FIND "${verbose}" "${rule}\n" start)
    string(FIND "${verbose}" "\n${rule}" end REVERSE)
    if(failed OR start EQUAL -1 OR end EQUAL -1)
        message(FATAL_ERROR "${CMAKE_LINKER} --verbose printed no default linker script")
    endif()
    string(LENGTH "${rule}\n" rule_length)
    math(EXPR start "${start} + ${rule_length}")
    math(EXPR length "${end} - ${start}")
    string(SUBSTRING "${verbose}" ${start} ${length} script)
    stubkit_move_section_rules(script .rdata "*(.gnu.linkonce.t.*)")
    stubkit_move_section_rules(script .data "KEEP (SORT(*)(.idata$7))")
    file(WRITE ${path} "${script}")
endfunction()

set(STUBKIT_LINKER_SCRIPT ${CMAKE_BINARY_DIR}/stubkit-programs.ld)
stubkit_write_merged_linker_script(${STUBKIT_LINKER_SCRIPT})

# A GUI-subsystem program with its own entry point `entry` (stdcall, no
# arguments, so the decorated symbol is _<entry>@0 on 32-bit Windows; x64 has
# one calling convention and no decoration). Marked NX-compatible and
# relocatable, so the system can place it at a random address.
function(stubkit_windows_program target entry)
    stubkit_size_flags(${target})
    set_target_properties(${target} PROPERTIES SUFFIX ".exe")
    target_link_options(${target} PRIVATE
        -nostartfiles -nostdlib -mwindows -s
        -Wl,--gc-sections -Wl,--file-alignment,512
        -Wl,--no-insert-timestamp
        -Wl,--dynamicbase -Wl,--nxcompat -Wl,--enable-reloc-section
        $<IF:$<BOOL:$<TARGET_PROPERTY:STUBKIT_MERGED_SECTIONS>>,-Wl$<COMMA>-T$<COMMA>${CMAKE_SOURCE_DIR}/cmake/merged-sections.ld,-Wl$<COMMA>-T$<COMMA>${STUBKIT_LINKER_SCRIPT}>)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${STUBKIT_LINKER_SCRIPT})
    target_link_libraries(${target} PRIVATE ${ARGN} msvcrt gcc)
    if(STUBKIT_WINDOWS_64)
        target_link_options(${target} PRIVATE -Wl,-e,${entry})
        return()
    endif()
    target_link_options(${target} PRIVATE -Wl,-e,_${entry}@0 -Wl,--enable-stdcall-fixup)
    # Without the DOS stub program the headers of a four-section program fit
    # one 512-byte block instead of two. A program laid out by the merged
    # script also has its resources and relocations moved behind its code
    # when that saves blocks.
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND perl ${CMAKE_SOURCE_DIR}/cmake/compact_pe_headers.pl
            $<$<BOOL:$<TARGET_PROPERTY:STUBKIT_MERGED_SECTIONS>>:--fold> $<TARGET_FILE:${target}>
        VERBATIM)
endfunction()

# Code, constants and import tables in one section (see the script), for a
# program whose file size is fixed.
function(stubkit_merged_sections target)
    # The script is written for 32-bit images only.
    if(NOT STUBKIT_WINDOWS_64)
        set_target_properties(${target} PROPERTIES STUBKIT_MERGED_SECTIONS ON
            LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/merged-sections.ld)
    endif()
endfunction()

# The application manifest both shipped programs carry, as a resource object
# of its own beside any other resource file of the program.
function(stubkit_application_manifest target)
    set(resource ${CMAKE_SOURCE_DIR}/common/application_manifest.rc)
    set_source_files_properties(${resource} PROPERTIES
        OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/common/application.manifest)
    target_sources(${target} PRIVATE ${resource})
endfunction()

# GoogleTest, cross-compiled from the system's sources for the Windows tests.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# A Windows test executable, run under Wine by ctest (one process per file).
function(stubkit_windows_test target)
    add_executable(${target} ${ARGN})
    target_link_libraries(${target} PRIVATE GTest::gtest_main stubkit_test_driver)
    target_link_options(${target} PRIVATE -static)
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES TIMEOUT 600)
endfunction()
