# GoogleTest built from Debian's sources for the target, and tests that run
# under Wine in the build folder's own prefix with one wineserver for the run.
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(QM_SCRIPTS ${CMAKE_SOURCE_DIR}/scripts)

add_test(NAME wine_prefix_up COMMAND ${QM_SCRIPTS}/wine-prefix.sh ${CMAKE_BINARY_DIR} ${QM_WINE_ARCH} up)
set_tests_properties(wine_prefix_up PROPERTIES FIXTURES_SETUP wine)
add_test(NAME wine_prefix_down COMMAND ${QM_SCRIPTS}/wine-prefix.sh ${CMAKE_BINARY_DIR} ${QM_WINE_ARCH} down)
set_tests_properties(wine_prefix_down PROPERTIES FIXTURES_CLEANUP wine)

# qm_wine_test(NAME name TARGET target [WINVER version] [LOCKS lock...] [ARGS ...])
function(qm_wine_test)
  cmake_parse_arguments(T "" "NAME;TARGET;WINVER" "LOCKS;ARGS" ${ARGN})
  set(program $<TARGET_FILE:${T_TARGET}>)
  set(winver_args)
  if(T_WINVER)
    # The version is set per program file name, so such a run gets a copy
    # of its own.
    set(copy ${CMAKE_BINARY_DIR}/bin/${T_TARGET}-${T_WINVER}.exe)
    add_custom_command(TARGET ${T_TARGET} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${T_TARGET}> ${copy})
    set(program ${copy})
    set(winver_args --winver ${T_WINVER})
  endif()
  add_test(NAME ${T_NAME}
    COMMAND ${QM_SCRIPTS}/wine-test.sh ${CMAKE_BINARY_DIR} ${QM_WINE_ARCH} ${winver_args} ${program} ${T_ARGS})
  set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300)
  if(T_LOCKS)
    set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
endfunction()

# qm_wine_x_test(NAME name TARGET target [LOCKS lock...] [ARGS ...]): a test
# whose windows are drawn on a virtual X screen, in the prefix kept for them.
function(qm_wine_x_test)
  cmake_parse_arguments(T "" "NAME;TARGET" "LOCKS;ARGS" ${ARGN})
  add_test(NAME ${T_NAME}
    COMMAND ${QM_SCRIPTS}/wine-x-test.sh ${CMAKE_BINARY_DIR} ${QM_WINE_ARCH} $<TARGET_FILE:${T_TARGET}> ${T_ARGS})
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT 300 RESOURCE_LOCK "wine_x;${T_LOCKS}")
endfunction()
