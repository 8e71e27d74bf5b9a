# Every layer of the source tree (platform, core, ui, picture, render, app) is one static library made of the
# .cpp files directly in its folders, so that new files need no edit here. Nothing may rely on static
# initialisers to register itself: a static archive drops objects nobody references, so unit start-up is an
# explicit call.
#
# Includes name the layer's folder ("picture/Graphics.h"). A layer's public include path exposes only its own
# folder (build/include/<layer>/<layer> links to the source folder), and a library sees the layers it links
# to, so a layer that includes from a layer above it fails to build.
function(ds_library name)
  cmake_parse_arguments(ARG "" "LAYER" "DIRS;DEPS;EXCLUDE" ${ARGN})
  set(srcs)
  foreach(dir ${ARG_DIRS})
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_SOURCE_DIR}/${dir}/*.c)
    list(APPEND srcs ${found})
  endforeach()
  foreach(ex ${ARG_EXCLUDE})
    list(REMOVE_ITEM srcs ${CMAKE_SOURCE_DIR}/${ex})
  endforeach()
  set(root ${CMAKE_BINARY_DIR}/include/${ARG_LAYER})
  file(MAKE_DIRECTORY ${root})
  if(NOT EXISTS ${root}/${ARG_LAYER})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${ARG_LAYER} ${root}/${ARG_LAYER} SYMBOLIC)
  endif()
  if(NOT srcs)
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${root})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${root})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# Checks that the layering holds: a file compiled with a layer's include path must find the layer's own
# headers and those below it, and must not find the headers of the layer above.
function(ds_layer_check name lib header expect_failure)
  set(probe ${CMAKE_BINARY_DIR}/layer-checks/${name}.cpp)
  file(WRITE ${probe} "#include \"${header}\"\n")
  add_test(NAME layers/${name}
           COMMAND ${CMAKE_CXX_COMPILER} -std=c++17 -fsyntax-only
                   "-I$<JOIN:$<TARGET_PROPERTY:${lib},INCLUDE_DIRECTORIES>,;-I>" ${probe}
           COMMAND_EXPAND_LISTS)
  if(expect_failure)
    set_tests_properties(layers/${name} PROPERTIES WILL_FAIL TRUE)
  endif()
endfunction()

# One test program per tests/<dir>/*_test.cpp, so a suite can be built and run on its own.
function(ds_tests dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${dir}/*_test.cpp)
  if(NOT TARGET ds_test_support)
    # The shared fixtures, compiled once for every test program.
    file(GLOB helpers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
    add_library(ds_test_support STATIC ${helpers})
    target_link_libraries(ds_test_support PUBLIC ds_app GTest::gtest GTest::gmock)
    target_include_directories(ds_test_support PUBLIC ${CMAKE_SOURCE_DIR}/tests)
    if(TARGET PkgConfig::DS_XTST)
      target_link_libraries(ds_test_support PUBLIC PkgConfig::DS_XTST)
    endif()
  endif()
  foreach(src ${srcs})
    get_filename_component(base ${src} NAME_WE)
    set(exe test_${dir}_${base})
    add_executable(${exe} ${src})
    target_link_libraries(${exe} PRIVATE ds_test_support ds_app GTest::gtest GTest::gtest_main GTest::gmock)
    # Reference decoders some tests compare against (guarded in the tests with __has_include).
    if(TARGET PkgConfig::DS_LIBPNG)
      target_link_libraries(${exe} PRIVATE PkgConfig::DS_LIBPNG)
    endif()
    target_include_directories(${exe} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    target_compile_definitions(${exe} PRIVATE
      DS_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
      DS_CORPORA_DIR="${CMAKE_SOURCE_DIR}/tests/data")
    add_test(NAME ${dir}/${base} COMMAND ${exe})
    set_tests_properties(${dir}/${base} PROPERTIES WORKING_DIRECTORY ${CMAKE_BINARY_DIR} TIMEOUT 600)
  endforeach()
endfunction()

# System libraries the real-services backend calls into (DDraw.dll is loaded at run time, not linked).
set(DS_WIN32_SYSTEM_LIBS winmm gdi32 user32 advapi32)

# Version resource and icon of a Windows program; the version numbers come from project().
function(ds_windows_resources target rc)
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/${rc})
  set_source_files_properties(${CMAKE_SOURCE_DIR}/${rc} PROPERTIES COMPILE_DEFINITIONS
    "DS_VERSION_MAJOR=${PROJECT_VERSION_MAJOR};DS_VERSION_MINOR=${PROJECT_VERSION_MINOR};DS_VERSION_PATCH=${PROJECT_VERSION_PATCH}")
  # A desktop decoration opens no console window.
  set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE ON)
endfunction()
