# SPDX-License-Identifier: MIT
# The report texts, the remote query's parsing and the version data are pure:
# tested in an executable of their own that needs no window system.
add_executable(console_report_text_tests
  ${CMAKE_CURRENT_LIST_DIR}/report_columns_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report_text_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report_version_test.cpp)
target_compile_definitions(console_report_text_tests PRIVATE
    KORVEL_PROJECT_VERSION="${PROJECT_VERSION}"
    KORVEL_DESKTOP_ENTRY="${PROJECT_SOURCE_DIR}/res/korvel.desktop"
    KORVEL_ABOUT_XRC="${PROJECT_SOURCE_DIR}/res/about.xrc")
target_link_libraries(console_report_text_tests PRIVATE korvel_reports korvel_ws_tabs GTest::gtest_main)
gtest_discover_tests(console_report_text_tests DISCOVERY_TIMEOUT 30)

# The executable carries its version block where readelf finds it.
find_program(KORVEL_READELF readelf)
if(KORVEL_READELF)
  add_test(NAME korvel_version_block COMMAND ${KORVEL_READELF} -p .korvel.version $<TARGET_FILE:korvel>)
  set_tests_properties(korvel_version_block PROPERTIES
    PASS_REGULAR_EXPRESSION "FileVersion=1, 0, 0, 1.*FileDescription=Korvel MFC Application.*OriginalFilename=Korvel.EXE.*ProductName=Korvel Application")
endif()

# The desktop entry passes the freedesktop validator.
find_program(KORVEL_DESKTOP_FILE_VALIDATE desktop-file-validate)
if(KORVEL_DESKTOP_FILE_VALIDATE)
  add_test(NAME korvel_desktop_entry COMMAND ${KORVEL_DESKTOP_FILE_VALIDATE} ${PROJECT_SOURCE_DIR}/res/korvel.desktop)
endif()
