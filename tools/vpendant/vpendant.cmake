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
foreach(t vpctl vpinstall)
  target_compile_options(${t} PRIVATE -Wall -Wextra)
  target_link_options(${t} PRIVATE -static -static-libgcc)
  set_target_properties(${t} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${HK4_VP_DIR})
endforeach()
