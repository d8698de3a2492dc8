# Windows builds: the plug-in DLL (32-bit ships, 64-bit is the test twin),
# the host simulator and the Windows tests.
enable_language(RC)

# Both builds compute alike: no contraction into fused multiply-adds (which
# round once instead of twice), and the 32-bit one uses SSE2 for scalar
# floating point as x64 does, instead of the x87 unit and its excess
# precision. Every PC that runs the host has SSE2. The host calls in with a
# stack aligned to 4 bytes only: functions that keep SSE values on the stack
# realign it.
set(HK4_FP_OPTIONS -ffp-contract=off)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  list(APPEND HK4_FP_OPTIONS -msse2 -mfpmath=sse -mstackrealign)
endif()
add_compile_options(${HK4_FP_OPTIONS})
# The core is compiled before this file is read: give it the options too.
target_compile_options(hk4_core PRIVATE ${HK4_FP_OPTIONS})

set(HK4_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)
target_compile_definitions(hk4_core PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)

# Type library, embedded as resource TYPELIB 1.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(HK4_WIDL_ARCH --win64)
else()
  set(HK4_WIDL_ARCH --win32)
endif()
find_program(HK4_WIDL NAMES ${HK4_MINGW_PREFIX}-widl x86_64-w64-mingw32-widl widl REQUIRED)
set(HK4_TLB ${CMAKE_CURRENT_BINARY_DIR}/HalvexK4.tlb)
add_custom_command(
  OUTPUT ${HK4_TLB}
  COMMAND ${HK4_WIDL} ${HK4_WIDL_ARCH} -t -o ${HK4_TLB} ${PROJECT_SOURCE_DIR}/src/plugin/typelib.idl
  DEPENDS ${PROJECT_SOURCE_DIR}/src/plugin/typelib.idl
  COMMENT "Type library")
set_source_files_properties(${PROJECT_SOURCE_DIR}/src/plugin/plugin.rc PROPERTIES OBJECT_DEPENDS ${HK4_TLB})

file(GLOB HK4_RESOURCE_FILES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/src/*/*.rc ${PROJECT_SOURCE_DIR}/src/*/*.bmp ${PROJECT_SOURCE_DIR}/src/*/*.h)
set_property(SOURCE ${PROJECT_SOURCE_DIR}/src/plugin/plugin.rc APPEND PROPERTY OBJECT_DEPENDS ${HK4_RESOURCE_FILES})

set(HK4_SYSTEM_LIBS ws2_32 ole32 oleaut32 uuid setupapi hid comctl32 user32 gdi32 advapi32 kernel32)

add_library(HalvexK4 SHARED ${HK4_WIN_SOURCES} ${PROJECT_SOURCE_DIR}/src/plugin/plugin.rc
            ${PROJECT_SOURCE_DIR}/src/plugin/plugin.def)
set_target_properties(HalvexK4 PROPERTIES PREFIX "" OUTPUT_NAME HalvexK4)
target_include_directories(HalvexK4 PRIVATE ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_BINARY_DIR})
target_link_libraries(HalvexK4 PRIVATE hk4_core ${HK4_SYSTEM_LIBS})
target_link_options(HalvexK4 PRIVATE ${HK4_STATIC_RUNTIME} -Wl,--kill-at -Wl,--enable-stdcall-fixup)
# The DLL starts no threads and uses no C++ thread library: it links the
# runtime built on Win32 threads, not the one built on the POSIX-thread
# library, which needs GetTickCount64 (Windows Vista) and so would keep the
# DLL from loading on Windows XP. The simulator and the tests keep the
# latter (they use std::thread).
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-libgcc-file-name
                OUTPUT_VARIABLE HK4_LIBGCC OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(HK4_LIBGCC_DIR ${HK4_LIBGCC} DIRECTORY)
string(REGEX REPLACE "-posix$" "-win32" HK4_WIN32_THREADS_RUNTIME ${HK4_LIBGCC_DIR})
if(NOT HK4_WIN32_THREADS_RUNTIME STREQUAL HK4_LIBGCC_DIR AND EXISTS ${HK4_WIN32_THREADS_RUNTIME}/libstdc++.a)
  target_link_options(HalvexK4 PRIVATE -no-pthread -L${HK4_WIN32_THREADS_RUNTIME})
else()
  message(FATAL_ERROR "no C++ runtime on Win32 threads next to ${HK4_LIBGCC_DIR}")
endif()
set_property(TARGET HalvexK4 APPEND PROPERTY RC_INCLUDE_DIRECTORIES ${PROJECT_SOURCE_DIR}/src)
target_include_directories(HalvexK4 PRIVATE ${PROJECT_SOURCE_DIR}/src/settings)

# What every program that plays the host needs: the plug-in's entry points
# and the message line's string allocator. Shared by the simulator and the
# shipped check window.
file(GLOB HK4_HOSTSIDE_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/hostside/*.cpp)

# Host simulator.
file(GLOB HK4_HOSTSIM_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/hostsim/*.cpp)
add_executable(hostsim ${HK4_HOSTSIM_SOURCES} ${HK4_HOSTSIDE_SOURCES})
target_include_directories(hostsim PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tools)
target_link_libraries(hostsim PRIVATE hk4_core ${HK4_SYSTEM_LIBS})
target_link_options(hostsim PRIVATE ${HK4_STATIC_RUNTIME})

# The pendant check window that ships beside the plug-in: a 32-bit GUI
# program for Windows XP SP3 and later, system DLLs only. It plays the host
# with the host-side parts it shares with the simulator and reads the
# pendant through the plug-in's own Win32 HID port; like the DLL it links the
# C++ runtime on Win32 threads (see above), so that it starts on Windows XP.
add_executable(pendantcheck WIN32
  ${PROJECT_SOURCE_DIR}/tools/pendantcheck/pendantcheck.cpp
  ${PROJECT_SOURCE_DIR}/tools/pendantcheck/check_host.cpp
  ${PROJECT_SOURCE_DIR}/tools/pendantcheck/pendant_view.cpp
  ${PROJECT_SOURCE_DIR}/tools/pendantcheck/window_text.cpp
  ${HK4_HOSTSIDE_SOURCES}
  ${PROJECT_SOURCE_DIR}/src/device/hid_port_win32.cpp)
set_target_properties(pendantcheck PROPERTIES OUTPUT_NAME PendantCheck)
target_include_directories(pendantcheck PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tools
                           ${CMAKE_CURRENT_BINARY_DIR}/generated)
target_link_libraries(pendantcheck PRIVATE hk4_core ${HK4_SYSTEM_LIBS})
target_link_options(pendantcheck PRIVATE ${HK4_STATIC_RUNTIME} -no-pthread -L${HK4_WIN32_THREADS_RUNTIME})
# What a test reads of the window: its controls' texts, from another process.
add_executable(checkprobe ${PROJECT_SOURCE_DIR}/tools/pendantcheck/checkprobe.cpp)
target_include_directories(checkprobe PRIVATE ${PROJECT_SOURCE_DIR}/tools)
target_link_options(checkprobe PRIVATE ${HK4_STATIC_RUNTIME})

# GoogleTest from the sources Debian's googletest package installs.
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_CURRENT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(HK4_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh)
# Each build runs under Wine of its own width, in a prefix of its own.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(HK4_WINE_ENV HK4_WINE_BITS=32 WINEPREFIX=${PROJECT_SOURCE_DIR}/build/wineprefix32)
else()
  set(HK4_WINE_ENV HK4_WINE_BITS=64 WINEPREFIX=${PROJECT_SOURCE_DIR}/build/wineprefix)
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # What Windows would see of the shipping DLL before running it.
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME static_checks_win32
           COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/static/check_dll.py
                   --objdump ${HK4_MINGW_PREFIX}-objdump --version ${PROJECT_VERSION} $<TARGET_FILE:HalvexK4>)
  # It loads on Windows XP SP3 and later: its imports against the allow-list.
  add_test(NAME import_check_win32
           COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/static/check_imports.py
                   --objdump ${HK4_MINGW_PREFIX}-objdump
                   --allow ${PROJECT_SOURCE_DIR}/tests/static/imports-win32.txt $<TARGET_FILE:HalvexK4>)
  # So does the pendant check window that ships beside it.
  add_test(NAME import_check_pendantcheck_win32
           COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/static/check_imports.py
                   --objdump ${HK4_MINGW_PREFIX}-objdump
                   --allow ${PROJECT_SOURCE_DIR}/tests/static/imports-pendantcheck-win32.txt
                   $<TARGET_FILE:pendantcheck>)
  add_test(NAME import_check_self_test
           COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/static/check_imports_test.py)
  set_tests_properties(static_checks_win32 import_check_win32 import_check_pendantcheck_win32
                       import_check_self_test PROPERTIES LABELS static)
endif()

file(GLOB HK4_WIN_TESTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/win/*.cpp)
# The simulator's parts, without its main program, are tested here too.
set(HK4_HOSTSIM_PARTS ${HK4_HOSTSIM_SOURCES})
list(FILTER HK4_HOSTSIM_PARTS EXCLUDE REGEX "/main\\.cpp$")
list(APPEND HK4_WIN_TESTS ${HK4_HOSTSIM_PARTS} ${HK4_HOSTSIDE_SOURCES})
# The profile store's Windows side, linked in so that its tests can reach
# the store itself (the DLL keeps its own copy behind the entry points).
foreach(f profile msxml_document file_replace ansi_text)
  list(APPEND HK4_WIN_TESTS ${PROJECT_SOURCE_DIR}/src/settings/${f}_win32.cpp)
endforeach()
# The store's failures are noted through the plug-in's boundary helper.
list(APPEND HK4_WIN_TESTS ${PROJECT_SOURCE_DIR}/src/plugin/boundary_win32.cpp)
# The host the pendant check window plays: its machine, tested on its own.
list(APPEND HK4_WIN_TESTS ${PROJECT_SOURCE_DIR}/tools/pendantcheck/check_host.cpp
     ${PROJECT_SOURCE_DIR}/tools/pendantcheck/window_text.cpp)
# The Win32 HID port is tested on its own against the system's files and events.
list(APPEND HK4_WIN_TESTS ${PROJECT_SOURCE_DIR}/src/device/hid_port_win32.cpp)
add_executable(hk4_win_tests ${HK4_WIN_TESTS})
target_include_directories(hk4_win_tests PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests
                           ${PROJECT_SOURCE_DIR}/tools)
target_link_libraries(hk4_win_tests PRIVATE hk4_core gtest ${HK4_SYSTEM_LIBS})
target_link_options(hk4_win_tests PRIVATE ${HK4_STATIC_RUNTIME})
target_compile_definitions(hk4_win_tests PRIVATE
  HK4_DLL_PATH="$<TARGET_FILE_NAME:HalvexK4>" HK4_HOSTSIM_NAME="$<TARGET_FILE_NAME:hostsim>"
  HK4_PENDANTCHECK_NAME="$<TARGET_FILE_NAME:pendantcheck>")
add_dependencies(hk4_win_tests HalvexK4 hostsim pendantcheck)
add_test(NAME win_tests COMMAND ${HK4_EMULATOR} $<TARGET_FILE:hk4_win_tests>
         WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
set_tests_properties(win_tests PROPERTIES LABELS wine ENVIRONMENT "${HK4_WINE_ENV}")

# End-to-end scenarios: the simulator drives the DLL, traces are compared.
# Each stepped run also keeps the record of its host callbacks in records/,
# which the test command compares between the two builds.
file(GLOB HK4_SCENARIOS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/scenarios/*.scn)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/records)
foreach(scn ${HK4_SCENARIOS})
  get_filename_component(name ${scn} NAME_WE)
  add_test(NAME scenario_${name}
           COMMAND ${HK4_EMULATOR} $<TARGET_FILE:hostsim> --scenario ${scn} --record records/${name}.rec
                   $<TARGET_FILE:HalvexK4>
           WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  # 77: the plug-in does not have what the scenario requires yet.
  set_tests_properties(scenario_${name} PROPERTIES SKIP_RETURN_CODE 77 LABELS wine
                       ENVIRONMENT "${HK4_WINE_ENV}")
endforeach()
include(${PROJECT_SOURCE_DIR}/tools/vpendant/vpendant.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/release.cmake)
