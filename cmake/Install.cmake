# Install rules (cmake --install, make install PREFIX=...) and the Debian package (make deb).
include(GNUInstallDirs)
# `make install` and `make deb` build first; installing then packages what is built, without
# building every test again.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(QM_DATA ${CMAKE_SOURCE_DIR}/data)
set(QM_GEN ${CMAKE_BINARY_DIR}/generated)
string(TIMESTAMP QM_DATE "%Y-%m-%d" UTC)

install(TARGETS quillmoss-cli qzone-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The gallery's general thumbnailer (libvips), loaded by the programs when they first need it.
install(TARGETS qm_thumbnailer LIBRARY DESTINATION ${QM_THUMBNAILER_DIR})
# Full RELRO for the installed programs (the GOT read-only after start-up).
foreach(t quillmoss-cli qzone-sim)
  target_link_options(${t} PRIVATE -Wl,-z,relro -Wl,-z,now)
endforeach()

# Man pages carry the version; they are installed gzip-compressed (no timestamps: reproducible).
find_program(QM_GZIP gzip REQUIRED)
set(QM_MAN_PAGES quillmoss-cli qzone-sim)
if(QM_GUI)
  list(APPEND QM_MAN_PAGES quillmoss)
endif()
set(QM_MAN_GZ)
foreach(page ${QM_MAN_PAGES})
  configure_file(${QM_DATA}/man/${page}.1 ${QM_GEN}/man/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${QM_GEN}/man/${page}.1.gz
    COMMAND ${QM_GZIP} -9nf -k ${QM_GEN}/man/${page}.1
    DEPENDS ${QM_GEN}/man/${page}.1)
  list(APPEND QM_MAN_GZ ${QM_GEN}/man/${page}.1.gz)
endforeach()
configure_file(${QM_DATA}/changelog ${QM_GEN}/doc/changelog @ONLY)
add_custom_command(OUTPUT ${QM_GEN}/doc/changelog.gz
  COMMAND ${QM_GZIP} -9nf -k ${QM_GEN}/doc/changelog
  DEPENDS ${QM_GEN}/doc/changelog)
# The terminal program's full description, which its --help names.
configure_file(${CMAKE_SOURCE_DIR}/docs/cli.md ${QM_GEN}/doc/cli.md COPYONLY)
add_custom_command(OUTPUT ${QM_GEN}/doc/cli.md.gz
  COMMAND ${QM_GZIP} -9nf -k ${QM_GEN}/doc/cli.md
  DEPENDS ${QM_GEN}/doc/cli.md)
add_custom_target(qm_docs ALL DEPENDS ${QM_MAN_GZ} ${QM_GEN}/doc/changelog.gz ${QM_GEN}/doc/cli.md.gz)
install(FILES ${QM_MAN_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${QM_DATA}/copyright ${QM_GEN}/doc/changelog.gz ${QM_GEN}/doc/cli.md.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillmoss)

install(FILES ${QM_DATA}/completion/quillmoss-cli.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quillmoss-cli)
install(FILES ${QM_DATA}/completion/_quillmoss-cli DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)

if(QM_GUI)
  install(TARGETS quillmoss RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  target_link_options(quillmoss PRIVATE -Wl,-z,relro -Wl,-z,now)
  install(FILES ${QM_DATA}/quillmoss.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${QM_DATA}/icons/quillmoss.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 48 128 256)
    install(FILES ${QM_DATA}/icons/quillmoss-${size}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME quillmoss.png)
  endforeach()
  configure_file(${QM_DATA}/org.quillmoss.quillmoss.metainfo.xml ${QM_GEN}/org.quillmoss.quillmoss.metainfo.xml @ONLY)
  install(FILES ${QM_GEN}/org.quillmoss.quillmoss.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# The Debian package: build/quillmoss_<version>_<arch>.deb, dependencies from dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmoss)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quillmoss developers")
set(CPACK_PACKAGE_CONTACT "The Quillmoss developers <quillmoss@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "downloader of photo albums of the QQ Zone family")
# The long description: CPack puts the summary first and indents these lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quillmoss lists the photo albums of a QQ number (QZone albums and the pictures
of mood posts), a QQ group or a Tencent Weibo page and downloads the chosen
ones, one folder per album, fetching pictures in parallel and naming them by
your rules.

The package holds the desktop program (quillmoss), the terminal program
(quillmoss-cli) and a loopback simulator of the services (qzone-sim) that
the --demo option of both programs uses.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The completion file for bash is only read with bash-completion installed.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS bash-completion)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/StripForPackage.cmake)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/cpack)
include(CPack)
