# One small helper per target kind. Sources are listed by the caller; Qt targets get moc/rcc.

# tessel_static_library(NAME [QT] SOURCES ... [LIBS ...])
function(tessel_static_library name)
  cmake_parse_arguments(A "QT" "" "SOURCES;LIBS;INCLUDES" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  if(A_QT)
    set_target_properties(${name} PROPERTIES AUTOMOC ON AUTORCC ON)
  endif()
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR} ${A_INCLUDES})
  target_link_libraries(${name} PUBLIC ${A_LIBS})
endfunction()

# tessel_executable(NAME [QT] SOURCES ... [LIBS ...]) -> bin/NAME
function(tessel_executable name)
  cmake_parse_arguments(A "QT" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  if(A_QT)
    set_target_properties(${name} PROPERTIES AUTOMOC ON AUTORCC ON)
  endif()
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${A_LIBS})
endfunction()

# tessel_plugin(NAME OUTPUT_DIR DIR SOURCES ... [LIBS ...])
# A loadable module without the "lib" prefix, e.g. plugins/Deltamaker/Deltamaker.so.
function(tessel_plugin name)
  cmake_parse_arguments(A "" "OUTPUT_DIR" "SOURCES;LIBS" ${ARGN})
  add_library(${name} MODULE ${A_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY ${A_OUTPUT_DIR})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${A_LIBS})
  target_link_options(${name} PRIVATE -Wl,--no-undefined)
endfunction()

# tessel_gtest(NAME SOURCES ... [LIBS ...] [QT]) -> bin/NAME, every case registered with CTest.
# QT tests run offscreen with the recording dialog presenter installed by the shared main.
function(tessel_gtest name)
  cmake_parse_arguments(A "QT" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE
    TESSEL_BUILD_DIR_DEFAULT="${CMAKE_BINARY_DIR}" TESSEL_SOURCE_DIR_DEFAULT="${CMAKE_SOURCE_DIR}")
  target_compile_options(${name} PRIVATE -include ${CMAKE_SOURCE_DIR}/tests/support/qt_printers.h)
  target_link_libraries(${name} PRIVATE Qt5::Core)
  if(A_QT)
    target_link_libraries(${name} PRIVATE ${A_LIBS} tessel_test_qt_main GTest::gtest)
  else()
    target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gtest GTest::gtest_main)
  endif()
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    PROPERTIES TIMEOUT ${A_TIMEOUT}
               ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TESSEL_BUILD_DIR=${CMAKE_BINARY_DIR};TESSEL_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()

# tessel_xvfb_test(TARGET FILTER) -> CTest tests TARGET.xcb_1366x768 and TARGET.xcb_1920x1080:
# the GoogleTest cases matching FILTER on a real X server (xcb on Xvfb) at both screen sizes.
# Skipped, not failed, where xvfb-run is missing.
function(tessel_xvfb_test target filter)
  foreach(size 1366x768 1920x1080)
    add_test(NAME ${target}.xcb_${size}
      COMMAND ${CMAKE_SOURCE_DIR}/tests/support/on_xvfb.sh ${size} $<TARGET_FILE:${target}>
              --gtest_filter=${filter}
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    set_tests_properties(${target}.xcb_${size} PROPERTIES
      TIMEOUT 1200 SKIP_RETURN_CODE 77 RESOURCE_LOCK xvfb
      ENVIRONMENT "TESSEL_BUILD_DIR=${CMAKE_BINARY_DIR};TESSEL_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  endforeach()
endfunction()
