# The Linux window (Qt 6 Widgets), its tests, and the Debian package.
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
qt_standard_project_setup()

add_library(velmora_window STATIC form1_qt.cpp form1_qt.h app_icon.h)
target_link_libraries(velmora_window PUBLIC Qt6::Widgets velmora_launcher velmora_commands)
qt_add_resources(velmora_window "assets" PREFIX "/" BASE assets FILES
  assets/background.bmp
  assets/icon-16.png
  assets/icon-32.png
  assets/icon-48.png
  assets/icon-72.png)

qt_add_executable(velmora main_qt.cpp)
target_link_libraries(velmora PRIVATE velmora_window)

velmora_test(window_tests form1_qt_test.cpp form1_qt_test_main.cpp
  LIBS velmora_window Qt6::Test ENV QT_QPA_PLATFORM=offscreen OWN_MAIN)

if(VELMORA_TESTS)
  # The real program in a real X server, driven by xdotool.
  add_test(NAME window_end_to_end
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/end_to_end_test.sh linux $<TARGET_FILE:velmora>
            ${PROJECT_SOURCE_DIR}/scripts/make-demo ${CMAKE_CURRENT_BINARY_DIR}/end_to_end)
  set_tests_properties(window_end_to_end PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300 RUN_SERIAL TRUE)
endif()

include(GNUInstallDirs)
install(TARGETS velmora RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES velmora.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 32 48 72)
  install(FILES assets/icon-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME velmora.png)
endforeach()

set(CPACK_PACKAGE_NAME velmora-config)
set(CPACK_PACKAGE_CONTACT "Velmora developers <dev@velmora.invalid>")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
include(CPack)
