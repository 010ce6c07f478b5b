# The one rule for platform files: a platform's variant of a piece lives in a file of its own whose
# name ends in the platform's suffix or in that of the system library it is written on
# (Registry-posix.cpp / Registry-win32.cpp, XmlParser-libxml2.cpp / XmlParser-xmllite.cpp,
# Crc32-isal.cpp / Crc32-win32.cpp). vorlen_platform_sources(VAR files...) keeps the files of the
# platform built for and those without such a suffix.
set(VORLEN_POSIX_SUFFIXES posix libxml2 curl isal)
set(VORLEN_WIN32_SUFFIXES win32 xmllite wininet)
function(vorlen_platform_sources out)
  if(WIN32)
    set(others ${VORLEN_POSIX_SUFFIXES})
  else()
    set(others ${VORLEN_WIN32_SUFFIXES})
  endif()
  list(JOIN others "|" others)
  list(FILTER ARGN EXCLUDE REGEX "-(${others})\\.cpp$")
  set(${out} ${ARGN} PARENT_SCOPE)
endfunction()

# vorlen_library(NAME [DEPS...]): a static library of every .cpp in the calling folder.
function(vorlen_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  vorlen_platform_sources(sources ${sources})
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# Compiles through ccache when it is installed (VORLEN_CCACHE). The cache is keyed on paths relative
# to the checkout and ignores the build folder, so a new build folder or a second checkout hits
# what another one compiled.
function(vorlen_use_compiler_cache)
  option(VORLEN_CCACHE "Compile through ccache when it is installed" ON)
  find_program(VORLEN_CCACHE_PROGRAM ccache)
  if(NOT VORLEN_CCACHE OR NOT VORLEN_CCACHE_PROGRAM OR CMAKE_CXX_COMPILER_LAUNCHER)
    return()
  endif()
  set(launcher /usr/bin/env CCACHE_BASEDIR=${PROJECT_SOURCE_DIR} CCACHE_NOHASHDIR=1
      ${VORLEN_CCACHE_PROGRAM})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${launcher} PARENT_SCOPE)
  set(CMAKE_C_COMPILER_LAUNCHER ${launcher} PARENT_SCOPE)
endfunction()

# Test programs are most of the compile time, so they compile without optimisation (-O1 costs them
# 1.7 times as much; the work they time or repeat is done in the libraries, which keep the build
# type's flags) and up to eight files of a suite as one unit, which halves the time spent reading
# GoogleTest's and the standard library's headers again for every file.
function(vorlen_test_target_options target)
  if(CMAKE_BUILD_TYPE MATCHES "Rel")
    target_compile_options(${target} PRIVATE -O0)
  endif()
  set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
endfunction()

# vorlen_test(NAME [DEPS...]): one GoogleTest executable of every .cpp in tests/NAME; a NAME with a
# folder (app/qt) gives the suite app_qt.
function(vorlen_test name)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${name}/*.cpp)
  vorlen_platform_sources(sources ${sources})
  if(NOT sources)
    return()
  endif()
  string(REPLACE "/" "_" name ${name})
  add_executable(${name}_tests ${sources})
  vorlen_test_target_options(${name}_tests)
  target_link_libraries(${name}_tests PRIVATE ${ARGN} vorlen_test_support GTest::gtest GTest::gmock
    GTest::gtest_main)
  if(CMAKE_CROSSCOMPILING)
    # Every process under Wine costs a Wine start: one test per suite, not one per case; the
    # runner names the cases skipped inside it.
    # Wine takes the ANSI code page and the user's locale from LC_ALL: a Bulgarian Windows.
    add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/tests/support/wine-suite-run
      ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}_tests>)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_prefix
      ENVIRONMENT "LOCPATH=${VORLEN_LOCALE_DIR};LC_ALL=bg_BG.UTF-8")
  else()
    include(GoogleTest)
    # Labelled by suite, so that ctest -L picks suites (scripts/test-sanitizers does).
    gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60
      PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" LABELS ${name})
  endif()
endfunction()
