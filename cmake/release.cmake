# What ships (the plug-in and the simulator) is built so that it can be
# rebuilt bit for bit and is small:
# - debug information is compiled in, then moved into NAME.debug beside the
#   binary, which keeps only a link to it (name and checksum), so a crash
#   address from a user's machine can still be resolved;
# - unused functions and data are dropped by the linker;
# - no build time or build path is left in the output.

set(HK4_RELEASE_TARGETS HalvexK4 hostsim pendantcheck)

# widl writes the time of day into the type library the DLL embeds.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_custom_command(OUTPUT ${HK4_TLB} APPEND
  COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/tlb_fixed_time.py ${HK4_TLB}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/tlb_fixed_time.py)

# Paths in debug information and in __FILE__ become relative to the source
# tree ("src/input/decoder.cpp"), and the compiler's working directory (the
# build tree) becomes "."; the last matching map wins, so the build tree's
# comes after the source tree's, which usually holds it.
set(HK4_PATH_MAPS -ffile-prefix-map=${PROJECT_SOURCE_DIR}/= -ffile-prefix-map=${PROJECT_BINARY_DIR}=.)
set(HK4_RELEASE_COMPILE -g -ffunction-sections -fdata-sections ${HK4_PATH_MAPS})
target_compile_options(hk4_core PRIVATE ${HK4_RELEASE_COMPILE})

# objcopy writes the current time into the PE header it rewrites unless
# SOURCE_DATE_EPOCH says otherwise; 0 is what the linker writes.
set(HK4_OBJCOPY ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY})

foreach(target ${HK4_RELEASE_TARGETS})
  target_compile_options(${target} PRIVATE ${HK4_RELEASE_COMPILE})
  # No time stamp in the PE header: the same sources give the same file.
  target_link_options(${target} PRIVATE -Wl,--gc-sections -Wl,--no-insert-timestamp)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${HK4_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.debug
    COMMAND ${HK4_OBJCOPY} --strip-all $<TARGET_FILE:${target}>
    COMMAND ${HK4_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug $<TARGET_FILE:${target}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    COMMENT "Debug information of ${target} into $<TARGET_FILE_NAME:${target}>.debug"
    VERBATIM)
endforeach()

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The static checks of the shipping DLL fail on what they guard against.
  add_test(NAME static_checks_selftest_win32
           COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/static/check_dll_selftest.py
                   --objdump ${HK4_MINGW_PREFIX}-objdump --objcopy ${CMAKE_OBJCOPY}
                   --version ${PROJECT_VERSION} $<TARGET_FILE:HalvexK4>)
endif()
