# What the Debian packages hold, and how they are built. orvane-pellwick, the server: the
# gateway, pellwick-pdu, the modem simulator (outside PATH, in /usr/lib/orvane-pellwick),
# the systemd unit and the template of its named instances, the manual pages and the HTML
# manual (rendered from doc/ with pandoc), the demo schemas, and no Qt.
# orvane-pellwick-desktop: the window module and, through it, Qt. scripts/package.sh
# configures a build folder of its own and runs CPack.
include(GNUInstallDirs)
# Everything belongs to the server package unless it says otherwise.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME server)

# The unit files, written by the same code as -install's.
add_executable(pellwick-unit ${PROJECT_SOURCE_DIR}/src/shell/unit/main.cpp ${PROJECT_SOURCE_DIR}/src/shell/ServiceUnit.cpp)
target_include_directories(pellwick-unit PRIVATE ${PROJECT_SOURCE_DIR}/src)
set(PW_UNIT_FILE ${CMAKE_BINARY_DIR}/orvane-pellwick.service)
set(PW_TEMPLATE_UNIT_FILE ${CMAKE_BINARY_DIR}/orvane-pellwick@.service)
add_custom_command(OUTPUT ${PW_UNIT_FILE} ${PW_TEMPLATE_UNIT_FILE}
                   COMMAND pellwick-unit ${PW_UNIT_FILE} ${PW_TEMPLATE_UNIT_FILE} DEPENDS pellwick-unit
                   COMMENT "Writing orvane-pellwick.service and orvane-pellwick@.service")
add_custom_target(service_unit ALL DEPENDS ${PW_UNIT_FILE} ${PW_TEMPLATE_UNIT_FILE})

# The manual: one Markdown page per program. Each page starts with "# NAME: summary" and
# has its sections at level 2; the man pages get that line as their NAME section, the
# HTML manual holds the pages one after the other. The simulator's page is its README.
# The tables that the program's own decide (settings, default statements, status texts)
# are written by pellwick-manual and taken in by doc/include-file.lua.
set(PW_MAN_PAGES
  "pellwick|8|${PROJECT_SOURCE_DIR}/doc/pellwick.8.md"
  "pellwick-pdu|1|${PROJECT_SOURCE_DIR}/doc/pellwick-pdu.1.md"
  "modemsim|1|${PROJECT_SOURCE_DIR}/tools/modemsim/README.md")
set(PW_MANUAL_HTML ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/PellwickManual.html)
set(PW_MAN_OUTPUTS)
set(PW_MAN_SOURCES)
find_program(PANDOC pandoc)
if(PANDOC)
  set(filter ${PROJECT_SOURCE_DIR}/doc/include-file.lua)
  set(generated ${CMAKE_BINARY_DIR}/man/generated)
  set(fragments ${generated}/settings.md ${generated}/statements.md ${generated}/status.md)
  add_custom_command(OUTPUT ${fragments}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}
    COMMAND pellwick-manual ${generated}
    DEPENDS pellwick-manual
    COMMENT "Writing the generated tables of the manual")
  set(footer "Orvane Pellwick ${PROJECT_VERSION}")
  foreach(entry ${PW_MAN_PAGES})
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 name)
    list(GET entry 1 section)
    list(GET entry 2 source)
    list(APPEND PW_MAN_SOURCES ${source})
    file(STRINGS ${source} title LIMIT_COUNT 1)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    if(NOT title MATCHES "^# ([^:]+): (.+)$")
      message(FATAL_ERROR "${source} must start with '# NAME: summary'")
    endif()
    set(name_section ${CMAKE_BINARY_DIR}/man/${name}.name)
    file(WRITE ${name_section} ".SH NAME\n${CMAKE_MATCH_1} \\- ${CMAKE_MATCH_2}\n")
    string(TOUPPER ${name} upper)
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/man/man${section})
    set(page ${CMAKE_BINARY_DIR}/man/man${section}/${name}.${section})
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${PANDOC} --standalone --to man --shift-heading-level-by=-1 --lua-filter=${filter} -M generated=${generated}
              -V title=${upper} -V section=${section} "--variable=header=Orvane Pellwick" "--variable=footer=${footer}"
              --include-before-body=${name_section} -o ${page} ${source}
      COMMAND gzip -n -9 -f ${page}
      DEPENDS ${source} ${filter} ${name_section} ${fragments}
      COMMENT "Rendering ${name}(${section})")
    list(APPEND PW_MAN_OUTPUTS ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  endforeach()
  # Beside the executable, where the Help button looks first.
  add_custom_command(OUTPUT ${PW_MANUAL_HTML}
    COMMAND ${PANDOC} --standalone --to html5 --toc --toc-depth=2 --lua-filter=${filter} -M generated=${generated}
            -M "title=Orvane Pellwick ${PROJECT_VERSION}" -o ${PW_MANUAL_HTML} ${PW_MAN_SOURCES}
    DEPENDS ${PW_MAN_SOURCES} ${filter} ${fragments}
    COMMENT "Rendering PellwickManual.html")
  add_custom_target(manual ALL DEPENDS ${PW_MAN_OUTPUTS} ${PW_MANUAL_HTML})
  install(FILES ${PW_MANUAL_HTML} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orvane-pellwick)
else()
  message(WARNING "pandoc not found: the manual is not built (scripts/setup.sh installs it)")
endif()

install(TARGETS pellwick pellwick-pdu DESTINATION ${CMAKE_INSTALL_BINDIR})
# A test tool, not a command of the server: beside the window module, off the PATH.
install(TARGETS modemsim DESTINATION lib/orvane-pellwick)
# The window module, loaded by pellwick from ../lib/orvane-pellwick when there is a display.
install(TARGETS pellwick-window LIBRARY DESTINATION lib/orvane-pellwick COMPONENT desktop)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orvane-pellwick-desktop
        COMPONENT desktop)
install(FILES ${PW_UNIT_FILE} ${PW_TEMPLATE_UNIT_FILE} DESTINATION /lib/systemd/system)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/doc/schema/ DESTINATION ${CMAKE_INSTALL_DATADIR}/orvane-pellwick/schema)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orvane-pellwick)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvane-pellwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Orvane Pellwick maintainers <pellwick@orvane.invalid>")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL server desktop)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME orvane-pellwick)
set(CPACK_DEBIAN_SERVER_DESCRIPTION "SMS gateway between a database and a GSM modem
Orvane Pellwick sends the messages that applications insert into an outbox table
through a GSM modem (AT commands, PDU mode), writes each result back, and stores
received messages in an inbox table. Databases are reached through ODBC.")
# Loaded at run time, so not seen by the library scan: the maintainer scripts need
# adduser; -install loads the ODBC installer library and uses the SQLite driver.
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser, libodbcinst2")
set(CPACK_DEBIAN_SERVER_PACKAGE_RECOMMENDS "libsqliteodbc")
set(CPACK_DEBIAN_SERVER_PACKAGE_SUGGESTS "odbc-postgresql, odbc-mariadb, orvane-pellwick-desktop")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/prerm ${PROJECT_SOURCE_DIR}/packaging/postrm)

set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME orvane-pellwick-desktop)
set(CPACK_DEBIAN_DESKTOP_DESCRIPTION "SMS gateway between a database and a GSM modem - window
The window of Orvane Pellwick: its status, the configuration pages and the tray icon,
shown when the gateway runs on a desktop. Without it the gateway runs headless.")
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "orvane-pellwick (= ${PROJECT_VERSION})")

set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
