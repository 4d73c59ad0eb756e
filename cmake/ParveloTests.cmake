# Helpers shared by the module CMakeLists files.
#
# parvelo_pure_library(<name> <sources>... [DEPENDS <pure libraries>...])
#   Platform-free code that both builds compile. The native build also
#   makes <name>_asan, compiled with AddressSanitizer and UBSan, for the
#   sanitized copies of the unit tests.
#
# parvelo_unit_test(<name> SOURCES <files>... [LIBS <pure libraries>...])
#   A GoogleTest executable, registered twice: "unit.*" plain and
#   "asan.*" under the sanitizers (native build only).
#
# parvelo_e2e_tests(<file.py>)
#   Registers every test method of a tests/e2e module as "e2e.<module>.<test>".
#   They run one at a time and alone: they share the Wine prefix, and they
#   judge real-time behaviour (sound against picture, set-up times) that the
#   sanitized unit tests would skew on a small machine.

set(PARVELO_SANITIZE_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer
                           -fno-sanitize-recover=all)

function(parvelo_pure_library name)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  add_library(${name} STATIC ${ARG_UNPARSED_ARGUMENTS})
  target_compile_options(${name} PRIVATE ${PARVELO_WARNINGS})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
  if(NOT WIN32)
    add_library(${name}_asan STATIC ${ARG_UNPARSED_ARGUMENTS})
    target_compile_options(${name}_asan PRIVATE ${PARVELO_WARNINGS} ${PARVELO_SANITIZE_FLAGS})
    target_include_directories(${name}_asan PUBLIC ${CMAKE_SOURCE_DIR}/src)
    foreach(dep IN LISTS ARG_DEPENDS)
      target_link_libraries(${name}_asan PUBLIC ${dep}_asan)
    endforeach()
  endif()
endfunction()

function(parvelo_unit_test name)
  if(WIN32)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  find_package(GTest REQUIRED)
  include(GoogleTest)
  set(asan_libs)
  foreach(lib IN LISTS ARG_LIBS)
    list(APPEND asan_libs ${lib}_asan)
  endforeach()
  foreach(variant plain asan)
    if(variant STREQUAL plain)
      set(target ${name})
      set(libs ${ARG_LIBS})
      set(prefix unit.)
    else()
      set(target ${name}_asan)
      set(libs ${asan_libs})
      set(prefix asan.)
    endif()
    add_executable(${target} ${ARG_SOURCES})
    target_compile_options(${target} PRIVATE ${PARVELO_WARNINGS})
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
    target_link_libraries(${target} PRIVATE ${libs} GTest::gtest GTest::gtest_main Threads::Threads)
    target_compile_definitions(${target} PRIVATE
      PARVELO_SOURCE_DIR="${CMAKE_SOURCE_DIR}" PARVELO_BINARY_DIR="${CMAKE_BINARY_DIR}")
    if(variant STREQUAL asan)
      target_compile_options(${target} PRIVATE ${PARVELO_SANITIZE_FLAGS})
      target_link_options(${target} PRIVATE ${PARVELO_SANITIZE_FLAGS})
    endif()
    gtest_discover_tests(${target} TEST_PREFIX ${prefix} DISCOVERY_TIMEOUT 60
                         PROPERTIES TIMEOUT 600)
  endforeach()
endfunction()

function(parvelo_e2e_tests file)
  get_filename_component(module ${file} NAME_WE)
  file(STRINGS ${file} lines REGEX "^(class [A-Za-z0-9_]+\\(|    def test_)")
  set(class "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^class ([A-Za-z0-9_]+)\\(")
      set(class ${CMAKE_MATCH_1})
    elseif(line MATCHES "def (test_[A-Za-z0-9_]+)")
      set(test ${CMAKE_MATCH_1})
      add_test(NAME e2e.${module}.${test}
               COMMAND ${Python3_EXECUTABLE} -m unittest -v ${module}.${class}.${test}
               WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/e2e)
      set_tests_properties(e2e.${module}.${test} PROPERTIES
        RUN_SERIAL TRUE TIMEOUT 600
        ENVIRONMENT "PARVELO_WIN32_BUILD=${PARVELO_WIN32_BUILD};PARVELO_NATIVE_BUILD=${CMAKE_BINARY_DIR};PYTHONDONTWRITEBYTECODE=1")
    endif()
  endforeach()
endfunction()
