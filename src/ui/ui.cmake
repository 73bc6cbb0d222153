# The window client twprinter (Qt 6 Widgets). Without Qt the rest still builds.
find_package(Qt6 QUIET COMPONENTS Widgets Test)
if(NOT Qt6_FOUND OR NOT TARGET Qt6::Widgets)
  message(STATUS "Qt 6 Widgets not found: building without the window client twprinter")
  return()
endif()

set(UI_DIR ${CMAKE_CURRENT_LIST_DIR})
file(GLOB UI_SOURCES CONFIGURE_DEPENDS ${UI_DIR}/*.cpp)
list(REMOVE_ITEM UI_SOURCES ${UI_DIR}/main.cpp)

# The window code as a library, so that the tests drive the very same code.
add_library(twui STATIC ${UI_SOURCES} ${UI_DIR}/ui.qrc)
set_target_properties(twui PROPERTIES AUTOMOC ON AUTORCC ON)
target_include_directories(twui PUBLIC ${UI_DIR} ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(twui PUBLIC tw_session Qt6::Widgets)

add_executable(twprinter ${UI_DIR}/main.cpp)
set_target_properties(twprinter PROPERTIES AUTOMOC ON)
target_link_libraries(twprinter PRIVATE twui)

include(GNUInstallDirs)
install(TARGETS twprinter RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/help/ DESTINATION ${CMAKE_INSTALL_DATADIR}/twprinter/help)
install(FILES ${UI_DIR}/icons/twprinter.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${UI_DIR}/desktop/twprinter.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${UI_DIR}/desktop/twprinter.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)

if(TWPRINTER_TESTS AND TARGET Qt6::Test)
  enable_testing()
  file(GLOB UI_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/ui/*_test.cpp)
  foreach(src ${UI_TEST_SOURCES})
    get_filename_component(name ${src} NAME_WE)
    set(name ui_${name})
    add_executable(${name} ${src} ${CMAKE_SOURCE_DIR}/tests/ui/uitestutil.cpp
                   ${CMAKE_SOURCE_DIR}/tests/testutil.cpp)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/tests/ui)
    target_link_libraries(${name} PRIVATE twui Qt6::Test)
    target_compile_definitions(${name} PRIVATE
      HOSTSIM_PATH="$<TARGET_FILE_DIR:twprinterd>/hostsim"
      TWPRINTERD_PATH="$<TARGET_FILE:twprinterd>"
      TWPRINTER_PATH="$<TARGET_FILE:twprinter>"
      TWPRINTER_HELP="${CMAKE_SOURCE_DIR}/help/twprinter.html"
      TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data"
      SAMPLES_DIR="${CMAKE_SOURCE_DIR}/samples")
    if(TARGET hostsim)
      add_dependencies(${name} hostsim)
    endif()
    add_dependencies(${name} twprinter twprinterd)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endforeach()
endif()
