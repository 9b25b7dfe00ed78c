# tunara_library(NAME [QT] DEPS dep... [PRIVATE_HEADERS file.h...]) builds every .cpp
# of the calling folder into one static library. Include paths start at the
# repository root: #include "engine/MediaSource.h".
#
# A user of the library sees only its public headers: every header of the folder
# except PRIVATE_HEADERS. Each library gets two generated include trees in the
# build folder, holding one-line forwarding headers: include/NAME (public, for
# its users) and include-private/NAME (all of its own headers, for itself).
#
# QT: the folder is a Qt library. Its headers and .qrc files join the sources
# and moc/rcc run on them (AUTOMOC, AUTORCC); the caller finds Qt and names the
# Qt libraries in DEPS.

# Writes a header at `out` that includes `target`; untouched when unchanged, so
# a configure run does not rebuild everything.
function(_tunara_forward out target)
  file(CONFIGURE OUTPUT ${out} CONTENT "#include \"${target}\"\n" @ONLY)
endfunction()

# Forwarders for the headers of folder SRCDIR: all of them under
# include-private/TREE, the public ones under include/TREE when PUBLIC_TREE is on.
function(_tunara_header_trees tree srcdir private_headers public_tree)
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${srcdir})
  file(GLOB headers CONFIGURE_DEPENDS ${srcdir}/*.h)
  foreach(h ${headers})
    get_filename_component(f ${h} NAME)
    _tunara_forward(${PROJECT_BINARY_DIR}/include-private/${tree}/${folder}/${f} ${h})
    if(public_tree AND NOT f IN_LIST private_headers)
      _tunara_forward(${PROJECT_BINARY_DIR}/include/${tree}/${folder}/${f} ${h})
    endif()
  endforeach()
  foreach(p ${private_headers})
    if(NOT EXISTS ${srcdir}/${p})
      message(FATAL_ERROR "${tree}: private header ${p} does not exist")
    endif()
  endforeach()
endfunction()

function(tunara_library name)
  cmake_parse_arguments(ARG "QT" "" "DEPS;PRIVATE_HEADERS" ${ARGN})
  _tunara_header_trees(${name} ${CMAKE_CURRENT_SOURCE_DIR} "${ARG_PRIVATE_HEADERS}" ON)
  set(public_dir ${PROJECT_BINARY_DIR}/include/${name})
  set(private_dir ${PROJECT_BINARY_DIR}/include-private/${name})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(ARG_QT)
    file(GLOB qt_extra CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h
         ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
    list(APPEND srcs ${qt_extra})
  endif()
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${public_dir} PRIVATE ${private_dir})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    if(ARG_QT)
      set_target_properties(${name} PROPERTIES AUTOMOC ON AUTORCC ON)
    endif()
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${public_dir})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# tunara_qt_library(NAME DEPS ...): tunara_library with QT.
function(tunara_qt_library name)
  tunara_library(${name} QT ${ARGN})
endfunction()

# tunara_program_headers(TARGET [SUBFOLDER...]): an executable sees the headers
# of its folder (or of the named subfolders) and the public ones of what it
# links, not the whole repository.
function(tunara_program_headers target)
  set(dirs ${ARGN})
  if(NOT dirs)
    set(dirs .)
  endif()
  foreach(d ${dirs})
    get_filename_component(abs ${CMAKE_CURRENT_SOURCE_DIR}/${d} ABSOLUTE)
    _tunara_header_trees(${target} ${abs} "" OFF)
  endforeach()
  target_include_directories(${target} PRIVATE ${PROJECT_BINARY_DIR}/include-private/${target})
endfunction()

# tunara_test(DIR LIB...) makes test_DIR from tests/DIR/*.cpp, if any; a DIR
# with a slash (ui/qt) gives test_ui_qt and the label ui_qt. Tests see the
# whole repository, private headers included.
function(tunara_test dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  string(REPLACE "/" "_" label ${dir})
  set(name test_${label})
  add_executable(${name} ${srcs})
  # Every suite may record what reaches the user or make a file save fail.
  target_link_libraries(${name} PRIVATE ${ARGN} tunara_platform_ui_testing tunara_platform_io_testing
    GTest::gtest_main GTest::gmock Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE
    TUNARA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TUNARA_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${label} ENVIRONMENT "TUNARA_AUDIO=null:fast")
  # Suites that wait on wall-clock time (GStreamer, windows, the program run as
  # a process) also carry "slow"; they stay in the default run. The label is
  # added once discovery has listed the tests.
  if(label IN_LIST TUNARA_SLOW_TEST_LABELS)
    set(slow_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_slow.cmake)
    file(WRITE ${slow_file}
      "foreach(t IN LISTS ${name}_TESTS)\n"
      "  set_tests_properties(\"\${t}\" PROPERTIES LABELS \"${label};slow\")\n"
      "endforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${slow_file})
  endif()
endfunction()
