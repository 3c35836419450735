# Windows programs under Wine: one throw-away prefix (and one X display for message
# boxes) shared by every test of a ctest run, made by a setup test and removed after.
set(PLAINRUN_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
# A display number of this build tree's own, so that two trees can test side by side.
string(MD5 tree_hash "${CMAKE_BINARY_DIR}")
string(SUBSTRING "${tree_hash}" 0 2 tree_hash)
math(EXPR display_number "100 + 0x${tree_hash}" OUTPUT_FORMAT DECIMAL)
set(PLAINRUN_DISPLAY :${display_number})
set(PLAINRUN_WINE_ENV "WINEPREFIX=${PLAINRUN_WINEPREFIX};DISPLAY=${PLAINRUN_DISPLAY};WINEDEBUG=-all")

add_executable(outlook_standin WIN32 ${CMAKE_CURRENT_SOURCE_DIR}/stubs/outlook_standin.cpp)
set_target_properties(outlook_standin PROPERTIES OUTPUT_NAME OUTLOOK)
target_link_options(outlook_standin PRIVATE -municode -static)
add_library(stub_mapi SHARED ${CMAKE_CURRENT_SOURCE_DIR}/stubs/mapi_stub.cpp)
set_target_properties(stub_mapi PROPERTIES PREFIX "" OUTPUT_NAME mapistub)
target_link_options(stub_mapi PRIVATE -static)
add_library(stub_three_exports SHARED ${CMAKE_CURRENT_SOURCE_DIR}/stubs/recording_log.cpp)
target_compile_definitions(stub_three_exports PRIVATE THREE_EXPORTS)
set_target_properties(stub_three_exports PROPERTIES PREFIX "" OUTPUT_NAME three_exports)
target_link_options(stub_three_exports PRIVATE -static)
add_library(stub_recording_log SHARED ${CMAKE_CURRENT_SOURCE_DIR}/stubs/recording_log.cpp)
set_target_properties(stub_recording_log PROPERTIES PREFIX "" OUTPUT_NAME recording_log)
target_link_options(stub_recording_log PRIVATE -static)

add_test(NAME wine_prefix_setup
         COMMAND bash ${CMAKE_SOURCE_DIR}/tools/wine_prefix.sh setup ${PLAINRUN_WINEPREFIX} ${PLAINRUN_DISPLAY})
add_test(NAME wine_prefix_cleanup
         COMMAND bash ${CMAKE_SOURCE_DIR}/tools/wine_prefix.sh cleanup ${PLAINRUN_WINEPREFIX} ${PLAINRUN_DISPLAY})
set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wine TIMEOUT 120)
set_tests_properties(wine_prefix_cleanup PROPERTIES FIXTURES_CLEANUP wine)

# plainrun_wine_test(name command...): a test that needs the prefix. Such tests take turns
# with it; the tests that need no Wine run beside them.
function(plainrun_wine_test name)
  add_test(NAME ${name} COMMAND ${ARGN})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${PLAINRUN_WINE_ENV}" TIMEOUT 300
                       RESOURCE_LOCK wineprefix)
endfunction()

# The whole-run table against the real program: the table's runner, built for Windows, plays
# every row that needs no injected fault. Wine writes its trace of each run (a box's icon,
# debugger output) to the runner's standard error, which the runner reads back.
add_executable(scenario_test ${CMAKE_CURRENT_SOURCE_DIR}/scenario_test.cpp ${CMAKE_CURRENT_SOURCE_DIR}/support/real_machine.cpp)
target_link_libraries(scenario_test PRIVATE GTest::gtest_main)
target_include_directories(scenario_test PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(scenario_test PRIVATE -static)
target_compile_definitions(scenario_test PRIVATE
  TRACELIB_MODULE="Z:$<TARGET_FILE:tracelib>" THREE_EXPORTS_MODULE="Z:$<TARGET_FILE:stub_three_exports>"
  RECORDING_LOG_MODULE="Z:$<TARGET_FILE:stub_recording_log>"
  MAPI_STUB_MODULE="Z:$<TARGET_FILE:stub_mapi>" OUTLOOK_EXE="Z:$<TARGET_FILE:outlook_standin>"
  PLAINRUNCTL_EXE="Z:$<TARGET_FILE:plainrunctl>" DATA_DIR="Z:${CMAKE_SOURCE_DIR}/data"
  SCENARIOS_FILE="Z:${CMAKE_CURRENT_SOURCE_DIR}/scenarios/runs.txt")
add_dependencies(scenario_test plainrunctl tracelib stub_three_exports stub_recording_log stub_mapi outlook_standin)
plainrun_wine_test(e2e_scenarios sh -c "PLAINRUN_TRACE=\"$1\" wine \"$0\" 2>\"$1\""
  $<TARGET_FILE:scenario_test> ${CMAKE_CURRENT_BINARY_DIR}/scenario-trace.txt)

# The installer test: an older package of this build is upgraded to the current one, which
# a rebuild of the same version (packed at another time) then finds installed.
plainrun_add_msi(e2e_msi_older 0.9.0 ${CMAKE_CURRENT_BINARY_DIR}/plainrunctl-older.msi ALL)
plainrun_add_msi(e2e_msi_current ${PROJECT_VERSION} ${CMAKE_CURRENT_BINARY_DIR}/plainrunctl-current.msi ALL)
plainrun_add_msi(e2e_msi_rebuilt ${PROJECT_VERSION} ${CMAKE_CURRENT_BINARY_DIR}/plainrunctl-rebuilt.msi ALL EPOCH 1600000000)
plainrun_wine_test(e2e_msi bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/msi_test.sh
  ${CMAKE_CURRENT_BINARY_DIR}/plainrunctl-current.msi ${CMAKE_CURRENT_BINARY_DIR}/plainrunctl-older.msi
  ${CMAKE_SOURCE_DIR}/data ${CMAKE_CURRENT_BINARY_DIR}/plainrunctl-rebuilt.msi)

# Two clean builds in differently named folders give byte-identical programs.
add_test(NAME reproducible_build COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/reproducible_test.sh ${CMAKE_SOURCE_DIR}
  ${CMAKE_CURRENT_BINARY_DIR}/reproducible)
set_tests_properties(reproducible_build PROPERTIES TIMEOUT 600)

# The release, signed with a throw-away certificate, checked and installed from its package.
plainrun_wine_test(e2e_release bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/release_test.sh
  ${CMAKE_COMMAND} ${PLAINRUN_RELEASE_SETTINGS} ${PLAINRUN_RELEASE_SCRIPT}
  ${CMAKE_CURRENT_BINARY_DIR}/plainrunctl-older.msi ${CMAKE_SOURCE_DIR}/data ${CMAKE_CURRENT_BINARY_DIR}/plainrunctl-current.msi)
