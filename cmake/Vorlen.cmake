# A platform's variant of a piece lives in a file of its own beside the others' (Registry-posix.cpp,
# Registry-win32.cpp); vorlen_platform_sources(VAR files...) keeps those of the platform built for.
function(vorlen_platform_sources out)
  if(WIN32)
    list(FILTER ARGN EXCLUDE REGEX "-posix\\.cpp$")
  else()
    list(FILTER ARGN EXCLUDE REGEX "-win32\\.cpp$")
  endif()
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

# vorlen_test(NAME [DEPS...]): one GoogleTest executable of every .cpp in tests/NAME.
function(vorlen_test name)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${name}/*.cpp)
  vorlen_platform_sources(sources ${sources})
  if(NOT sources)
    return()
  endif()
  add_executable(${name}_tests ${sources})
  target_link_libraries(${name}_tests PRIVATE ${ARGN} vorlen_test_support GTest::gtest GTest::gmock
    GTest::gtest_main)
  if(CMAKE_CROSSCOMPILING)
    # Every process under Wine costs a Wine start: one test per suite, not one per case.
    # Wine takes the ANSI code page and the user's locale from LC_ALL: a Bulgarian Windows.
    add_test(NAME ${name} COMMAND ${name}_tests)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_prefix
      ENVIRONMENT "LOCPATH=${VORLEN_LOCALE_DIR};LC_ALL=bg_BG.UTF-8")
  else()
    include(GoogleTest)
    gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60
      PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endif()
endfunction()
