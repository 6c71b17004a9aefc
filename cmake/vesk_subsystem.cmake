# One static library per subsystem folder; sources, tests and benchmarks are
# picked up by name so that adding a file never needs a build-file edit.
#
#   vesk_subsystem(<name> DEPS <other vesk_ libraries> [SUBDIRS <folders>])
#
# builds vesk_<name> from <folder>/*.cpp, the test program
# vesk_<name>_tests from <folder>/tests/*.cpp and, with VESK_BUILD_BENCH,
# vesk_<name>_bench from <folder>/bench/*.cpp. Each SUBDIRS folder adds its
# own *.cpp, tests/*.cpp and bench/*.cpp to the same three targets.
function(vesk_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPS;SUBDIRS" ${ARGN})
  set(dirs ${CMAKE_CURRENT_SOURCE_DIR})
  foreach(sub IN LISTS ARG_SUBDIRS)
    list(APPEND dirs ${CMAKE_CURRENT_SOURCE_DIR}/${sub})
  endforeach()
  list(TRANSFORM dirs APPEND /*.cpp OUTPUT_VARIABLE lib_globs)
  list(TRANSFORM dirs APPEND /tests/*.cpp OUTPUT_VARIABLE test_globs)
  list(TRANSFORM dirs APPEND /bench/*.cpp OUTPUT_VARIABLE bench_globs)
  file(GLOB lib_sources CONFIGURE_DEPENDS ${lib_globs})
  list(FILTER lib_sources EXCLUDE REGEX "/main\\.cpp$")
  if(lib_sources)
    add_library(vesk_${name} STATIC ${lib_sources})
    target_include_directories(vesk_${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(vesk_${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(vesk_${name} INTERFACE)
    target_include_directories(vesk_${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(vesk_${name} INTERFACE ${ARG_DEPS})
  endif()

  if(VESK_BUILD_TESTS)
    file(GLOB test_sources CONFIGURE_DEPENDS ${test_globs})
    if(test_sources)
      # The test programs' posix() takes the library's place (one a test can
      # replace: testing/posix_seam.h).
      add_executable(vesk_${name}_tests ${test_sources} ${CMAKE_SOURCE_DIR}/testing/posix_seam.cpp)
      target_include_directories(vesk_${name}_tests PRIVATE ${CMAKE_SOURCE_DIR}
                                 ${CMAKE_SOURCE_DIR}/testing)
      target_link_libraries(vesk_${name}_tests PRIVATE vesk_${name} GTest::gtest_main)
      target_compile_definitions(vesk_${name}_tests PRIVATE
                                 VESK_SAMPLES_DIR="${VESK_SAMPLES_DIR}")
      gtest_discover_tests(vesk_${name}_tests
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "TZ=UTC;LANG=C.UTF-8" TIMEOUT 600)
    endif()
  endif()

  if(VESK_BUILD_BENCH)
    file(GLOB bench_sources CONFIGURE_DEPENDS ${bench_globs})
    if(bench_sources)
      add_executable(vesk_${name}_bench ${bench_sources})
      target_include_directories(vesk_${name}_bench PRIVATE ${CMAKE_SOURCE_DIR}
                                 ${CMAKE_SOURCE_DIR}/testing)
      target_link_libraries(vesk_${name}_bench PRIVATE vesk_${name} benchmark::benchmark_main)
    endif()
  endif()
endfunction()
