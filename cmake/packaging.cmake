# What `cmake --install` puts in place, and the packages that CPack makes of
# it: a zip for Windows (weigh-<version>-win32.zip) and a Debian package
# (weigh_<version>_<arch>.deb). Only the programs people run, their manual
# pages and their documentation go in: no test or benchmark programs.

set(generated ${PROJECT_BINARY_DIR}/generated)
set(VERSION ${PROJECT_VERSION})
# Directories made while installing get the usual modes, whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  # Everything at the top of the zip: weigh.exe goes where its files are.
  install(TARGETS weigh RUNTIME DESTINATION .)
  if(TARGET scale-sim)
    install(TARGETS scale-sim RUNTIME DESTINATION .)
  endif()
  # Notepad on older Windows shows LF-only text as one long line.
  configure_file(docs/README.txt ${generated}/README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${generated}/README.txt DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME weigh-${PROJECT_VERSION}-win32)
else()
  include(GNUInstallDirs)
  install(TARGETS weigh RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(TARGET scale-sim)
    install(TARGETS scale-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()

  # Manual pages and the Debian changelog, compressed the way Debian keeps
  # them: gzip -9 -n, so that the same sources give the same bytes.
  set(compressed)
  foreach(page weigh.1 scale-sim.1)
    configure_file(docs/man/${page} ${generated}/man/${page} @ONLY)
    list(APPEND compressed man/${page})
  endforeach()
  configure_file(packaging/debian/changelog.in ${generated}/doc/changelog @ONLY)
  list(APPEND compressed doc/changelog)
  set(compressed_outputs)
  foreach(file ${compressed})
    add_custom_command(OUTPUT ${generated}/${file}.gz
                       COMMAND gzip -9 -n -c ${generated}/${file} > ${generated}/${file}.gz
                       DEPENDS ${generated}/${file} VERBATIM)
    list(APPEND compressed_outputs ${generated}/${file}.gz)
  endforeach()
  add_custom_target(compressed_docs ALL DEPENDS ${compressed_outputs})

  install(FILES ${generated}/man/weigh.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  if(TARGET scale-sim)
    install(FILES ${generated}/man/scale-sim.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
  install(FILES README.md docs/operating.md docs/integrating.md packaging/debian/copyright
                ${generated}/doc/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The C library (and whatever else the programs link) from dpkg-shlibdeps,
  # after the libraries they load themselves.
  # GTK 3 is loaded only to show the conflict message, which goes to standard
  # error without it.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libgtk-3-0)
  # weigh --version and --check load libgcrypt for the program file's
  # SHA-256 (every Debian system has it: apt needs it).
  set(CPACK_DEBIAN_PACKAGE_DEPENDS libgcrypt20)
  # The long description; CPack puts the summary line before it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "weigh handles one weighing per start: it reads the serial port name from
Kavrin.inf, asks the scale on that port for the weight, appends a line to
log.txt and hands the weight over in raspuns/cant.txt, never overwriting a
value that is still waiting there. scale-sim, a simulated scale on a
pseudo-terminal, lets you try it without a scale.")
endif()

set(CPACK_PACKAGE_NAME weigh)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "weigh maintainers <maintainers@users.noreply.c-seed-40711874.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "reads one weight from a scale and hands it to another program")
set(CPACK_STRIP_FILES ON)
include(CPack)
