# The launcher's tests that need real Windows programs: the window driven
# under Wine and Xvfb, the resources read back from the built program, and
# the imports of both programs.
enable_testing()

set(launcher_wine_dir ${PROJECT_SOURCE_DIR}/tests/wine)

find_program(Q8R_OBJDUMP NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-objdump objdump)
if(Q8R_OBJDUMP)
  add_test(NAME launcher_imports_only_system_dlls
    COMMAND ${launcher_wine_dir}/launcher_imports.sh ${Q8R_OBJDUMP}
            $<TARGET_FILE:Q8RLauncher> $<TARGET_FILE:Q8RPatcher>)
endif()

# The rest runs the programs under Wine.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  return()
endif()

add_executable(launcher_stand_in_game ${launcher_wine_dir}/launcher_stand_in_game.cpp)
set_target_properties(launcher_stand_in_game PROPERTIES OUTPUT_NAME thief2)
add_executable(launcher_driver ${launcher_wine_dir}/launcher_driver.cpp)
target_include_directories(launcher_driver PRIVATE ${PROJECT_SOURCE_DIR}/launcher)
target_link_libraries(launcher_driver PRIVATE user32 gdi32 version)

add_test(NAME launcher_window_under_wine
  COMMAND ${launcher_wine_dir}/launcher_window.sh
          ${PROJECT_SOURCE_DIR}/scripts/wine-run ${CMAKE_BINARY_DIR}/wineprefix-window
          $<TARGET_FILE:launcher_driver> $<TARGET_FILE:Q8RLauncher> $<TARGET_FILE:launcher_stand_in_game>
          $<TARGET_FILE:Q8RPatcher> $<TARGET_FILE:q8r_tests> ${CMAKE_CURRENT_BINARY_DIR}/launcher-window)
# Its own display and its own Wine prefix: it can run beside the other tests.
set_tests_properties(launcher_window_under_wine PROPERTIES TIMEOUT 280)
