# Shared helpers for the project's targets.

# sonvera_warnings(target): the project's warning level, -Werror when asked for.
function(sonvera_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(SONVERA_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# sonvera_library(name [LINKS lib...]): one static library per layer folder,
# built from the .cpp files of that folder. Headers are included as
# "folder/file.h" from the project root.
function(sonvera_library name)
  cmake_parse_arguments(ARG "" "" "LINKS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_library(${name} STATIC ${sources} ${headers})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LINKS})
  sonvera_warnings(${name})
endfunction()

# sonvera_test(name SOURCES file... LINKS lib...): one GoogleTest executable,
# its tests registered with CTest one by one.
function(sonvera_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LINKS} GTest::gtest GTest::gtest_main)
  sonvera_warnings(${name})
  # A home of the build's own: whatever a test starts without --config finds its
  # per-user configuration there, never in the real home.
  set(test_home ${CMAKE_BINARY_DIR}/test-home)
  file(MAKE_DIRECTORY ${test_home})
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;HOME=${test_home};XDG_CONFIG_HOME=${test_home}/.config;${ARG_ENV}"
               TIMEOUT 300)
endfunction()

# sonvera_test_folder(LINKS lib... [ENV VAR=value...]): every *_test.cpp of the
# calling folder becomes one test executable linked with the given libraries.
function(sonvera_test_folder)
  cmake_parse_arguments(ARG "" "" "LINKS;ENV" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  foreach(src ${tests})
    get_filename_component(stem ${src} NAME_WE)
    sonvera_test(${folder}_${stem} SOURCES ${src} LINKS ${ARG_LINKS} ENV ${ARG_ENV})
  endforeach()
endfunction()
