# Test programs are Windows executables; ctest runs them through Wine in a
# prefix that belongs to this build directory and never the user's own.
find_program(QUILLON_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT QUILLON_WINE)
  find_program(QUILLON_WINE NAMES wine64 wine REQUIRED)
endif()
set(QUILLON_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
               @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
               GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)

# quillon_add_wine_test(NAME SOURCES ... [LIBS ...] [LOCKS ...] [ENV ...]
#                       [DIR subdir] [TIMEOUT s])
# Builds a GoogleTest program and registers it as one ctest test that runs
# under Wine once the build's prefix is ready. LOCKS names shared resources
# (machine-wide kernel object names, registry values, the SCM) that tests of
# different programs must not use at the same time.
function(quillon_add_wine_test name)
  cmake_parse_arguments(T "" "DIR;TIMEOUT" "SOURCES;LIBS;LOCKS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  if(T_DIR)
    set_target_properties(${name} PROPERTIES
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/${T_DIR})
  endif()
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED wineprefix TIMEOUT ${T_TIMEOUT})
  if(T_LOCKS)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
  if(T_ENV)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENV}")
  endif()
  quillon_check_no_imports(${name} ${T_LIBS})
endfunction()

# After linking, the program must import none of the functions that the
# simulated pieces among LIBS replace (tests/simulated/CMakeLists.txt).
function(quillon_check_no_imports target)
  set(replaced)
  foreach(lib ${ARGN})
    if(TARGET ${lib})
      get_target_property(functions ${lib} QUILLON_SIM_REPLACES)
      if(functions)
        list(APPEND replaced ${functions})
      endif()
    endif()
  endforeach()
  if(replaced)
    string(REPLACE ";" "," replaced "${replaced}")
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:${target}>
              -DOBJDUMP=${CMAKE_OBJDUMP} -DFUNCTIONS=${replaced}
              -P ${PROJECT_SOURCE_DIR}/cmake/CheckNoImports.cmake
      COMMENT "Checking that ${target} imports nothing its simulations replace"
      VERBATIM)
  endif()
endfunction()

# The prefix is created once (wineboot) and a persistent wineserver keeps it
# warm for the run; the cleanup fixture ends every Wine process of the prefix.
function(quillon_add_wineprefix_fixture)
  set(script ${PROJECT_SOURCE_DIR}/scripts/wine-prefix)
  add_test(NAME wineprefix_setup COMMAND ${script} start ${QUILLON_WINEPREFIX})
  add_test(NAME wineprefix_cleanup COMMAND ${script} stop ${QUILLON_WINEPREFIX})
  set_tests_properties(wineprefix_setup PROPERTIES FIXTURES_SETUP wineprefix TIMEOUT 300)
  set_tests_properties(wineprefix_cleanup PROPERTIES FIXTURES_CLEANUP wineprefix)
endfunction()
