# Debian packages from the install rules (CPack DEB), one per install
# component:
#   libveze6-1             Runtime      the shared libraries, the simulation
#                                       server module and its registration,
#                                       the translations
#   libveze6-dev           Development  headers, CMake package, pkg-config
#   veze6-tools            Tools        qopc, qopc-inspector, man page, completion
#   qt6-designer-plugin-veze6  Designer the Qt Designer plugin
# Built by scripts/package.sh (a build configured for the prefix /usr).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veze6)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "veze6")
set(CPACK_PACKAGE_CONTACT "veze6 developers <veze6@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Qt 6 components for OPC DA 1.0/2.0 client applications")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The registration file goes to /etc, outside the prefix: the install rules
# then see the prefix /usr and the staging folder as DESTDIR.
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Runtime Development Tools Designer)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://localhost/veze6")
# Dependencies on system libraries from the binaries themselves; between
# our own packages from the component graph, at exactly this version.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# dpkg-shlibdeps finds our own libraries (not yet installed) in the build tree.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  ${PROJECT_BINARY_DIR}/opc ${PROJECT_BINARY_DIR}/core ${PROJECT_BINARY_DIR}/binding
  ${PROJECT_BINARY_DIR}/design)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libveze6-1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# Qt's own texts (message box buttons) in the language of the library's
# translations (share/veze6/translations, in this package).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS "qt6-translations-l10n")
# A shlibs file, so that packages built against these libraries depend on
# this version or later.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The registration file is the administrator's to edit: dpkg keeps changes.
file(WRITE ${PROJECT_BINARY_DIR}/debian-runtime/conffiles
  "/etc/xdg/veze6/servers.d/veze6-simulation-module.conf\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian-runtime/conffiles)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libveze6-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# What the CMake package and the headers need on the user's machine.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "qt6-base-dev, pkg-config")
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME veze6-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_DESIGNER_PACKAGE_NAME qt6-designer-plugin-veze6)
set(CPACK_DEBIAN_DESIGNER_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_DESIGNER_PACKAGE_ENHANCES "designer-qt6")

include(CPack)
cpack_add_component(Runtime DISPLAY_NAME "veze6 libraries"
  DESCRIPTION "The veze6 shared libraries and the simulation server module.")
cpack_add_component(Development DISPLAY_NAME "veze6 development files" DEPENDS Runtime
  DESCRIPTION "Headers, CMake package and pkg-config files of veze6.")
cpack_add_component(Tools DISPLAY_NAME "veze6 tools" DEPENDS Runtime
  DESCRIPTION "qopc, the command-line tool for OPC servers, and the stand-alone OPC Inspector.")
cpack_add_component(Designer DISPLAY_NAME "veze6 Qt Designer plugin" DEPENDS Runtime
  DESCRIPTION "The OPC components on Qt Designer's widget box, with their verbs.")
