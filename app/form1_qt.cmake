# The Linux window (Qt 6 Widgets), its tests, and the Debian package.
find_package(Qt6 REQUIRED COMPONENTS Widgets DBus Test)
qt_standard_project_setup()

add_library(velmora_window STATIC form1_qt.cpp form1_qt.h notice_dialog_qt.cpp app_icon.h game_chooser_qt.cpp launcher_entry_qt.cpp)
target_link_libraries(velmora_window PUBLIC Qt6::Widgets Qt6::DBus velmora_launcher velmora_commands)
qt_add_resources(velmora_window "assets" PREFIX "/" BASE assets FILES
  assets/background.bmp
  assets/icon-16.png
  assets/icon-32.png
  assets/icon-48.png
  assets/icon-72.png)

qt_add_executable(velmora main_qt.cpp platform_choice.cpp)
target_link_libraries(velmora PRIVATE velmora_window velmora_remembered_game)
# The compiler's name and version tell a user nothing.
add_custom_command(TARGET velmora POST_BUILD
  COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment $<TARGET_FILE:velmora>)

velmora_test(platform_choice_tests platform_choice_test.cpp platform_choice.cpp LIBS velmora_commands)
velmora_test(window_tests form1_qt_test.cpp notice_dialog_qt_test.cpp form1_qt_test_main.cpp
  LIBS velmora_window Qt6::Test ENV QT_QPA_PLATFORM=offscreen OWN_MAIN)

include(GNUInstallDirs)
install(TARGETS velmora RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES velmora.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# On a folder's context menu in Dolphin and Nemo, without becoming a handler
# of folders that xdg-open or a browser's "show in folder" would start.
install(FILES desktop/velmora-servicemenu.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/kio/servicemenus
        RENAME velmora.desktop)
install(FILES desktop/velmora.nemo_action DESTINATION ${CMAKE_INSTALL_DATADIR}/nemo/actions)
foreach(size 16 32 48 72 128 256)
  install(FILES assets/icon-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME velmora.png)
endforeach()

# The Debian package: the program stripped, with its copyright and changelog
# where Debian expects them.
set(package velmora-config)
# Debian wants a name and a working e-mail address here and in every
# changelog entry; a release sets the team's own.
set(VELMORA_MAINTAINER "Velmora developers <dev@velmora.invalid>" CACHE STRING
    "The .deb's maintainer: a name and a real e-mail address")
set(CPACK_PACKAGE_CONTACT "${VELMORA_MAINTAINER}")
include(${PROJECT_SOURCE_DIR}/cmake/changelog.cmake)
velmora_debian_changelog(${PROJECT_SOURCE_DIR}/CHANGELOG.md ${package} "${CPACK_PACKAGE_CONTACT}"
                         ${CMAKE_CURRENT_BINARY_DIR}/changelog)
configure_file(debian/velmora.1.in ${CMAKE_CURRENT_BINARY_DIR}/velmora.1 @ONLY)
foreach(file changelog velmora.1)
  add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${file}.gz
    COMMAND gzip -9nf -k ${CMAKE_CURRENT_BINARY_DIR}/${file}
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${file})
endforeach()
add_custom_target(debian_docs ALL
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz ${CMAKE_CURRENT_BINARY_DIR}/velmora.1.gz)
install(FILES debian/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/velmora.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME ${package})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration utility for the Velmora racing game add-on")
set(CPACK_PACKAGE_DESCRIPTION "Started in the game's folder (from a terminal, or from the folder's
context menu in a file manager), it fills the add-on's season folder from the
game's track files, writes the add-on's configuration file from the game's
own, and starts the game on it, through Wine for the Windows game.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The game is a Windows program: without wine, "Run Velmora" starts nothing.
# In a Wayland session with no X server the window needs Qt's Wayland plugin.
# Qt's own words (OK, Cancel, the folder chooser) in the player's language.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "wine, qt6-wayland, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
include(CPack)
