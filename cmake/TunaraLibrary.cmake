# tunara_library(NAME DEPS dep...) builds every .cpp of the calling folder into
# one static library. Include paths start at the repository root:
# #include "engine/MediaSource.h".
function(tunara_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# tunara_test(DIR LIB...) makes test_DIR from tests/DIR/*.cpp, if any.
function(tunara_test dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(test_${dir} ${srcs})
  target_link_libraries(test_${dir} PRIVATE ${ARGN} GTest::gtest_main GTest::gmock Threads::Threads)
  target_include_directories(test_${dir} PRIVATE ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(test_${dir} PRIVATE
    TUNARA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TUNARA_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(test_${dir} DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${dir} ENVIRONMENT "TUNARA_AUDIO=null:fast")
endfunction()
