# The Windows window (plain Win32): one statically linked velmora.exe with its
# resources, and a zip to hand to players.

add_library(velmora_window STATIC form1_win32.cpp form1_win32.h form1_win32_notice.cpp taskbar_win32.cpp)
target_link_libraries(velmora_window PUBLIC velmora_launcher velmora_commands ole32 uuid)

# The manifest carries the project's version; windres finds it in the build
# folder through the include path.
configure_file(velmora.exe.manifest.in ${CMAKE_CURRENT_BINARY_DIR}/velmora.exe.manifest @ONLY)
add_executable(velmora WIN32 main_win32.cpp velmora.rc)
target_include_directories(velmora PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
target_link_libraries(velmora PRIVATE velmora_window velmora_remembered_game ole32 uuid)
# The link map names every static library velmora.exe holds, for the test
# that each has its notice.
target_link_options(velmora PRIVATE -Wl,-Map=${CMAKE_CURRENT_BINARY_DIR}/velmora.map)
# Small: unused code dropped and no symbols kept.
target_compile_options(velmora_window PRIVATE -ffunction-sections -fdata-sections)
target_link_options(velmora PRIVATE -s -Wl,--gc-sections)
# No link time in the header, so that two builds of one commit are the same
# bytes; marked terminal-server aware, as Windows' own programs are.
target_link_options(velmora PRIVATE -Wl,--no-insert-timestamp -Wl,--tsaware)
set_source_files_properties(velmora.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_CURRENT_BINARY_DIR}/velmora.exe.manifest;${CMAKE_CURRENT_SOURCE_DIR}/assets/velmora.ico;${CMAKE_CURRENT_SOURCE_DIR}/assets/background.bmp")

# The player's texts with CR LF line ends, which every Notepad shows.
function(velmora_windows_text in out)
  file(READ ${in} text)
  string(CONFIGURE "${text}" text @ONLY)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${out} "${text}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${in})
endfunction()
velmora_windows_text(how-to-use-win32.txt "${CMAKE_CURRENT_BINARY_DIR}/How to use.txt")
velmora_windows_text(${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt)
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/THIRD-PARTY-NOTICES.txt
  COMMAND python3 ${PROJECT_SOURCE_DIR}/tools/make_notices.py ${CMAKE_CURRENT_BINARY_DIR}/THIRD-PARTY-NOTICES.txt
  DEPENDS ${PROJECT_SOURCE_DIR}/tools/make_notices.py)
add_custom_target(notices ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/THIRD-PARTY-NOTICES.txt)

install(TARGETS velmora RUNTIME DESTINATION .)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/How to use.txt" ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt
              ${CMAKE_CURRENT_BINARY_DIR}/THIRD-PARTY-NOTICES.txt DESTINATION .)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME velmora-${PROJECT_VERSION}-win32)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)

velmora_test(window_tests form1_win32_test.cpp LIBS velmora_window oleacc ole32 oleaut32 uuid)
