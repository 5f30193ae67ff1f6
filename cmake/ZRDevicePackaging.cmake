# Debian packages, one for each install component: scripts/package.sh configures a tree for /usr,
# runs cpack -G DEB and checks the packages with lintian.
#   libzrdevice<SOVERSION>  runtime: the SDK library, the cut-file library, the plugin, translations
#   libzrdevice-dev         dev: headers, CMake package, pkg-config files, the guide and examples
#   zrdevice-tools          tools: zrhost (with the panel), zrsim, zrcloud, the service's units
# The runtime package is named after the libraries' SONAME (libzrdevice.so.2), as Debian wants,
# so that two major versions can be installed side by side.
set(ZRDEVICE_RUNTIME_PACKAGE libzrdevice${PROJECT_VERSION_MAJOR})
set(ZRDEVICE_DEV_PACKAGE libzrdevice-dev)
set(ZRDEVICE_TOOLS_PACKAGE zrdevice-tools)

# What Debian wants in every package's documentation folder: the copyright and the changelog.
# A release adds its entry to cmake/debian/changelog (scripts/package.sh checks its version).
set(changelog ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/cmake/debian/changelog > ${changelog}
    DEPENDS ${PROJECT_SOURCE_DIR}/cmake/debian/changelog)
add_custom_target(zrdevice_changelog ALL DEPENDS ${changelog})
foreach(component runtime dev tools)
    string(TOUPPER ${component} upper)
    install(FILES cmake/debian/copyright ${changelog}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${ZRDEVICE_${upper}_PACKAGE} COMPONENT ${component})
endforeach()
install(FILES docs/sdk.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${ZRDEVICE_DEV_PACKAGE} COMPONENT dev)
install(DIRECTORY examples DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${ZRDEVICE_DEV_PACKAGE} COMPONENT dev)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${ZRDEVICE_TOOLS_PACKAGE} COMPONENT tools)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zrdevice)
# Each package's description below has a first line of its own.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(NOT CPACK_PACKAGE_CONTACT)
    set(CPACK_PACKAGE_CONTACT
        "ZR-TX4150V SDK maintainers <maintainers@users.noreply.c-seed-1932d465.example>")
endif()
set(CPACK_COMPONENTS_ALL runtime dev tools)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries' dependencies are found by dpkg-shlibdeps; it finds this project's own libraries
# in the build tree, and the packages that hold them are named below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/lib)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(same_version "(= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${ZRDEVICE_RUNTIME_PACKAGE})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The dynamic linker's cache is renewed once for every package that brings libraries.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/runtime/triggers)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "ZR-TX4150V device plugin and host SDK: libraries and plugin
The libraries a host application links to drive the ZR-TX4150V rotary-knife
flatbed cutter over USB or TCP (libzrdevice), and to read, place, order and
write its cut files (libzrcutfile), with the model's plugin module and its
Japanese and English translations.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${ZRDEVICE_DEV_PACKAGE})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
    "${ZRDEVICE_RUNTIME_PACKAGE} ${same_version}, qtbase5-dev, libqt5websockets5-dev")
set(CPACK_DEBIAN_DEV_DESCRIPTION "ZR-TX4150V device plugin and host SDK: development files
What a host application builds against: the headers (in include/zrdevice),
the CMake package ZRDevice (targets ZRDevice::zrdevice and ZRDevice::cutfile)
and the pkg-config modules zrdevice and zrcutfile, with the SDK guide and its
examples.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${ZRDEVICE_TOOLS_PACKAGE})
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
# The machine service keeps its jobs in SQLite through Qt's plugin, which dpkg-shlibdeps cannot see.
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${ZRDEVICE_RUNTIME_PACKAGE} ${same_version}, libqt5sql5-sqlite")
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/cmake/debian/tools/postinst
    ${PROJECT_SOURCE_DIR}/cmake/debian/tools/prerm
    ${PROJECT_SOURCE_DIR}/cmake/debian/tools/postrm)
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "ZR-TX4150V host tools: zrhost, zrsim, zrcloud
zrhost drives a ZR-TX4150V cutter from the command line: parameters, cutting
jobs from SVG, DXF or HP-GL files with progress, jogging, a parameter panel
window, and the machine service (zrhost serve) that holds the machine for many
clients, with systemd units for the computer and for a user. zrsim simulates
the machine and zrcloud is a local cloud service, for trying things out.")

include(CPack)
