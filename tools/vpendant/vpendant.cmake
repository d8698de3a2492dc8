# The virtual pendant (tools/vpendant): its two drivers, the control program
# and the installer, for the width of this build, all in vpendant/ of the
# build folder with the INF. The drivers are linked with the compiler alone,
# without the C runtime or CMake's default system libraries: a kernel driver
# imports ntoskrnl.exe (and hidclass.sys) only.
set(HK4_VP_DIR ${CMAKE_CURRENT_BINARY_DIR}/vpendant)
set(HK4_VP_SRC ${PROJECT_SOURCE_DIR}/tools/vpendant)
file(MAKE_DIRECTORY ${HK4_VP_DIR})
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(HK4_VP_ENTRY _DriverEntry@8)
else()
  set(HK4_VP_ENTRY DriverEntry)
endif()
set(HK4_VP_DRIVER_FLAGS -O2 -Wall -Wextra -std=gnu11 -ffreestanding -fno-builtin -nostdlib -shared
    -Wl,--subsystem,native -Wl,--entry,${HK4_VP_ENTRY} -Wl,--no-insert-timestamp)
foreach(driver vpbus vphid)
  set(libs -lntoskrnl)
  if(driver STREQUAL vphid)
    set(libs -lhidclass -lntoskrnl)
  endif()
  add_custom_command(
    OUTPUT ${HK4_VP_DIR}/${driver}.sys
    COMMAND ${CMAKE_C_COMPILER} ${HK4_VP_DRIVER_FLAGS} -o ${HK4_VP_DIR}/${driver}.sys
            ${HK4_VP_SRC}/${driver}.c ${HK4_VP_SRC}/kernel_runtime.c ${libs} -lgcc
    DEPENDS ${HK4_VP_SRC}/${driver}.c ${HK4_VP_SRC}/kernel_runtime.c ${HK4_VP_SRC}/vpendant_ioctl.h
            ${HK4_VP_SRC}/vpendant_hid.h
    COMMENT "Virtual pendant driver ${driver}.sys")
endforeach()
add_custom_command(
  OUTPUT ${HK4_VP_DIR}/vpendant.inf
  COMMAND ${CMAKE_COMMAND} -E copy ${HK4_VP_SRC}/vpendant.inf ${HK4_VP_DIR}/vpendant.inf
  DEPENDS ${HK4_VP_SRC}/vpendant.inf)
add_custom_target(vpendant_drivers ALL
  DEPENDS ${HK4_VP_DIR}/vpbus.sys ${HK4_VP_DIR}/vphid.sys ${HK4_VP_DIR}/vpendant.inf)

add_executable(vpctl ${HK4_VP_SRC}/vpctl.c)
add_executable(vpinstall ${HK4_VP_SRC}/vpinstall.c)
target_link_libraries(vpinstall PRIVATE setupapi newdev)
target_link_libraries(vpctl PRIVATE setupapi)
foreach(t vpctl vpinstall)
  target_compile_options(${t} PRIVATE -Wall -Wextra)
  target_link_options(${t} PRIVATE -static -static-libgcc)
  set_target_properties(${t} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${HK4_VP_DIR})
endforeach()

# Tests on Wine's own HID stack: the unmodified plug-in in hostsim
# --real-pendant, in the prefix with the virtual pendant (scripts/test.sh
# installs it first). 77: no virtual pendant answers there, skipped.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(HK4_HID_ENV HK4_WINE_BITS=32 WINEPREFIX=${PROJECT_SOURCE_DIR}/build/wineprefix32-hid)
  set(HK4_HID_WINE /usr/lib/wine/wine)
else()
  set(HK4_HID_ENV HK4_WINE_BITS=64 WINEPREFIX=${PROJECT_SOURCE_DIR}/build/wineprefix-hid)
  set(HK4_HID_WINE /usr/lib/wine/wine64)
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
file(GLOB HK4_REAL_TESTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/realstack/*.real)
foreach(script ${HK4_REAL_TESTS})
  get_filename_component(name ${script} NAME_WE)
  add_test(NAME realstack_${name}
           COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/realstack/realstack.py
                   --wine ${HK4_HID_WINE} --build ${CMAKE_CURRENT_BINARY_DIR} ${script}
           WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  set_tests_properties(realstack_${name} PROPERTIES SKIP_RETURN_CODE 77 LABELS realstack
                       ENVIRONMENT "${HK4_HID_ENV};WINEDEBUG=-all" TIMEOUT 300)
endforeach()
