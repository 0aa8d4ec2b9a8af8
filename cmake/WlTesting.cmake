# Build and test helpers shared by the CMake files of the tree.

# wl_ship(TARGET): the target's file becomes the deliverable as shipped, with
# no debugging sections and no symbol table (on a PE file both serve only
# debuggers); they go into FILE.debug beside it, which the file names in its
# .gnu_debuglink, so addr2line resolves an author's crash address through it.
# Done at link time so that every test runs against the shipped bytes.
# objcopy writes a PE file's time stamp anew, from SOURCE_DATE_EPOCH when set:
# 0, as the linker leaves it (--no-insert-timestamp), so both files are the
# same bytes in every build of a commit.
function(wl_ship target)
  set(file $<TARGET_FILE:${target}>)
  set(objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY})
  add_custom_command(TARGET ${target} POST_BUILD
                     COMMAND ${objcopy} --only-keep-debug ${file} ${file}.debug
                     COMMAND ${objcopy} --strip-all --add-gnu-debuglink=${file}.debug ${file}
                     VERBATIM)
endfunction()

# wl_add_plugin(NAME EDITION_LIB [RC_FILE]): NAME.nbp in the output folder,
# its export directory naming it NAME.dll, linked statically, shipped
# stripped: the frame's entry points over the edition's table (EDITION_LIB
# brings what the edition is built on: the comm engine, or the wire library).
function(wl_add_plugin name edition_lib)
  set(EDITION_NAME ${name})
  configure_file(${CMAKE_SOURCE_DIR}/plugin/exports.def.in ${CMAKE_CURRENT_BINARY_DIR}/${name}.def @ONLY)
  add_library(${name} SHARED ${CMAKE_SOURCE_DIR}/plugin/exports.cpp ${ARGN}
              ${CMAKE_CURRENT_BINARY_DIR}/${name}.def)
  target_link_libraries(${name} PRIVATE -Wl,--whole-archive ${edition_lib} -Wl,--no-whole-archive wlframe)
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".nbp" OUTPUT_NAME ${name}
                        RUNTIME_OUTPUT_DIRECTORY ${WL_OUT_DIR} LIBRARY_OUTPUT_DIRECTORY ${WL_OUT_DIR})
  wl_ship(${name})
endfunction()

# The Wine side of the rig: a prefix kept in the build folder, and the
# wine-run wrapper through which CTest runs every Windows program.
macro(wl_setup_wine)
  set(WL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(WL_RIG_DIR ${CMAKE_BINARY_DIR}/rig)
  configure_file(${CMAKE_SOURCE_DIR}/tests/rig/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                 WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
endmacro()

# wl_find_debian_python(): WL_DEBIAN_PYTHON, Debian's own interpreter with
# python3-markdown (the guide's page, the documents' code blocks). Not a
# python3 found first on PATH: a pyenv or a virtual environment does not
# see Debian's packages.
macro(wl_find_debian_python)
  find_program(WL_DEBIAN_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
  execute_process(COMMAND ${WL_DEBIAN_PYTHON} -c "import markdown" RESULT_VARIABLE no_markdown
                  OUTPUT_QUIET ERROR_QUIET)
  if(NOT WL_DEBIAN_PYTHON OR no_markdown)
    message(FATAL_ERROR "the guide needs /usr/bin/python3 with python3-markdown: run tools/deps.sh")
  endif()
endmacro()

# Each suite's time limit in seconds; the long soak sets a larger one.
set(WL_TEST_TIMEOUT 300 CACHE STRING "time limit of each test suite, in seconds")

# wl_add_gtest(NAME SOURCES... LIBS... [PTYS]): a GoogleTest program with one
# CTest test per test suite found in its sources (TEST(Suite, ...) and
# TEST_F(Suite, ...)). Under Wine the tests need the rig (prefix, ptys); PTYS
# makes them take the pty pairs one suite at a time.
function(wl_add_gtest name)
  cmake_parse_arguments(T "PTYS" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  set(suites "")
  foreach(src ${T_SOURCES})
    file(READ ${src} text)
    string(REGEX MATCHALL "TEST(_F|_P)?\\([A-Za-z0-9_]+," found "${text}")
    foreach(f ${found})
      string(REGEX REPLACE "TEST(_F|_P)?\\(([A-Za-z0-9_]+)," "\\2" suite "${f}")
      list(APPEND suites ${suite})
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES suites)
  foreach(suite ${suites})
    add_test(NAME ${name}.${suite} COMMAND ${name} --gtest_filter=${suite}.*:*/${suite}.*
             WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    set_tests_properties(${name}.${suite} PROPERTIES TIMEOUT ${WL_TEST_TIMEOUT})
    if(WIN32)
      set_tests_properties(${name}.${suite} PROPERTIES FIXTURES_REQUIRED wine)
      if(T_PTYS)
        set_tests_properties(${name}.${suite} PROPERTIES RESOURCE_LOCK ptys)
      endif()
    endif()
  endforeach()
endfunction()
