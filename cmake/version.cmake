# The one place the version is spelled is project() in the top-level
# CMakeLists.txt; this puts it into a header for the code, the resource and
# the tests.
if(NOT PROJECT_VERSION_PATCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "project version must have three numeric parts, got '${PROJECT_VERSION}'")
endif()
set(HK4_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/src/plugin/version.h.in ${HK4_GENERATED_DIR}/hk4_version.h @ONLY)
target_include_directories(hk4_core PUBLIC ${HK4_GENERATED_DIR})
