# The message catalog (po/): each language's translations checked against
# the messages of the code, then compiled: for the C library's gettext on
# Linux, installed where gettext looks (share/locale) and kept beside the
# program in the build; as tables built into velmora.exe on Windows.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(MSGFMT msgfmt REQUIRED)
find_program(XGETTEXT xgettext REQUIRED)

set(po_folder ${CMAKE_CURRENT_SOURCE_DIR}/po)
file(STRINGS ${po_folder}/LINGUAS linguas REGEX "^[^#]")
string(REPLACE " " ";" catalog_languages "${linguas}")
set(po_files)
foreach(language ${catalog_languages})
  list(APPEND po_files ${po_folder}/${language}.po)
endforeach()
file(GLOB message_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
list(FILTER message_sources EXCLUDE REGEX "_test(_main)?\\.cpp$")
set(catalog_tools ${PROJECT_SOURCE_DIR}/tools/catalog.py ${PROJECT_SOURCE_DIR}/tools/check_catalog.py)

# The build fails when a message of the code has no translation, when a
# translation's placeholders differ from the English, or a plural form is
# missing.
set(catalog_checked ${CMAKE_CURRENT_BINARY_DIR}/catalog.checked)
add_custom_command(OUTPUT ${catalog_checked}
  COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/check_catalog.py ${po_folder} ${catalog_checked}
          ${message_sources}
  DEPENDS ${po_files} ${po_folder}/LINGUAS ${message_sources} ${catalog_tools}
  COMMENT "Checking the message catalog against the code")

if(WIN32)
  set(catalog_table ${CMAKE_CURRENT_BINARY_DIR}/catalog_table.cpp)
  add_custom_command(OUTPUT ${catalog_table}
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/make_catalog_table.py ${po_folder} ${catalog_table}
    DEPENDS ${po_files} ${po_folder}/LINGUAS ${catalog_checked} ${PROJECT_SOURCE_DIR}/tools/make_catalog_table.py
            ${PROJECT_SOURCE_DIR}/tools/catalog.py
    COMMENT "Writing the message catalog's tables")
  target_sources(velmora_commands PRIVATE catalog_win32.cpp ${catalog_table})
else()
  set(mo_files)
  foreach(language ${catalog_languages})
    set(mo ${CMAKE_CURRENT_BINARY_DIR}/locale/${language}/LC_MESSAGES/velmora.mo)
    add_custom_command(OUTPUT ${mo}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/locale/${language}/LC_MESSAGES
      COMMAND ${MSGFMT} --check -o ${mo} ${po_folder}/${language}.po
      DEPENDS ${po_folder}/${language}.po ${catalog_checked})
    list(APPEND mo_files ${mo})
    install(FILES ${mo} DESTINATION ${CMAKE_INSTALL_DATADIR}/locale/${language}/LC_MESSAGES)
  endforeach()
  add_custom_target(catalog ALL DEPENDS ${mo_files})
  target_sources(velmora_commands PRIVATE catalog_gettext.cpp)
endif()

if(VELMORA_TESTS)
  # The check itself: a catalog made faulty each way fails it.
  add_test(NAME catalog_check_finds_faults
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/check_catalog_test.py ${po_folder} ${message_sources})
endif()
