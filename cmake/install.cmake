# Installation (GNUInstallDirs) and the Debian package (cpack -G DEB).
#
#   cmake --install build --prefix /usr/local
#   cd build && cpack -G DEB     # tovik_<version>_amd64.deb

# Installing and packaging build nothing themselves: build the programs (and the
# compressed_docs target) first, so that packaging does not wait for the tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

install(TARGETS tovik wendle RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${PROJECT_SOURCE_DIR}/data/tovik.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/icons/tovik.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 32 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/data/icons/tovik-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME tovik.png)
endforeach()

# Manual pages and the changelog go in compressed, as Debian wants
# them (gzip -n: no name or time stamp, so builds repeat byte for byte).
find_program(GZIP_PROGRAM gzip REQUIRED)
set(compressed)
foreach(source man/tovik.1 man/wendle.1 data/changelog)
  get_filename_component(name ${source} NAME)
  set(output ${PROJECT_BINARY_DIR}/compressed/${name}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/compressed
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${PROJECT_SOURCE_DIR}/${source} > ${output}
    DEPENDS ${PROJECT_SOURCE_DIR}/${source} VERBATIM)
  list(APPEND compressed ${output})
endforeach()
add_custom_target(compressed_docs ALL DEPENDS ${compressed})
install(FILES ${PROJECT_BINARY_DIR}/compressed/tovik.1.gz ${PROJECT_BINARY_DIR}/compressed/wendle.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
              ${PROJECT_SOURCE_DIR}/data/copyright ${PROJECT_BINARY_DIR}/compressed/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/contrib/tovik-update.service
              ${PROJECT_SOURCE_DIR}/contrib/tovik-update.timer
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/contrib)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tovik)
set(CPACK_PACKAGE_VENDOR "the tovik authors")
set(CPACK_PACKAGE_CONTACT "tovik maintainers <maintainers@tovik.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop webcomic reader and plugin generator")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # tovik_<version>_amd64.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "tovik maintainers <maintainers@tovik.example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
# The synopsis is the summary above; CPack indents these lines and marks the
# empty one as a paragraph break.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "tovik follows webcomics described by small plugin files, crawls each
site by its next links, keeps every strip and your place in one file, and
shows the strips in a window. It also updates the comics without a window,
from a timer.

wendle is a console dialogue that probes a comic's site and writes its plugin.")
# Libraries from the binaries, plus what the programs open at run time.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ttf-bitstream-vera, ca-certificates")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
