# Native (Linux) build: the platform-free core, its unit tests and benchmarks.
option(HK4_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" ON)
if(HK4_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
  # The core is compiled before this file is read: give it the flags too.
  target_compile_options(hk4_core PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                         -fno-sanitize-recover=all)
endif()

find_package(GTest REQUIRED)

file(GLOB HK4_UNIT_TESTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/unit/*.cpp)
add_executable(hk4_unit_tests ${HK4_UNIT_TESTS})
target_link_libraries(hk4_unit_tests PRIVATE hk4_core GTest::gtest GTest::gtest_main)
target_include_directories(hk4_unit_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
include(GoogleTest)
gtest_discover_tests(hk4_unit_tests DISCOVERY_TIMEOUT 60)

file(GLOB HK4_BENCHMARKS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/bench/*.cpp)
find_package(benchmark QUIET)
if(HK4_BENCHMARKS AND benchmark_FOUND)
  add_executable(hk4_bench ${HK4_BENCHMARKS})
  target_link_libraries(hk4_bench PRIVATE hk4_core benchmark::benchmark)
  target_include_directories(hk4_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()

# Figures for the user guide, computed by the plug-in's own code.
add_executable(sensitivity_curve ${PROJECT_SOURCE_DIR}/tools/figures/sensitivity_curve.cpp)
target_link_libraries(sensitivity_curve PRIVATE hk4_core)
target_include_directories(sensitivity_curve PRIVATE ${PROJECT_SOURCE_DIR}/tests)

# The set-up script's paths (an index that fails to download, an install the
# architectures cannot agree on), against stand-ins for the package tools.
add_test(NAME setup_script COMMAND python3 ${PROJECT_SOURCE_DIR}/tests/setup/setup_test.py)
