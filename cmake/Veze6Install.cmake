# What `cmake --install` puts into the prefix, the CMake package and the
# pkg-config files. Kept in one place, apart from the folders' build rules,
# so that moving or splitting files there needs no change here: the headers
# are taken from each folder as they are found.
#
# The prefix then holds
#   lib/<arch>/libveze6opc.so.1.40 ...     the libraries (SONAME .so.1)
#   lib/<arch>/veze6/libveze6simmodule.so  the simulation server module
#   lib/<arch>/cmake/Veze6/                the CMake package
#   lib/<arch>/pkgconfig/veze6*.pc         pkg-config files
#   lib/<arch>/qt6/plugins/designer/       the Qt Designer plugin
#   include/veze6/{opc,core,binding,...}/  the public headers
#   bin/qopc, bin/qopc-inspector           the tools, with man page and completion
#   bin/qopcd, lib/systemd/system/         the host daemon and its systemd unit
#   etc/xdg/veze6/servers.d/               the module's registration file (/etc for /usr)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VEZE6_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Veze6)
set(VEZE6_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/veze6)
set(VEZE6_INSTALL_MODULEDIR ${CMAKE_INSTALL_LIBDIR}/veze6)
# Qt's own plugin folder below the prefix, so that Designer finds the plugin
# without QT_PLUGIN_PATH when the prefix is Qt's.
if(QT6_INSTALL_PLUGINS)
  set(VEZE6_INSTALL_DESIGNERDIR ${QT6_INSTALL_PLUGINS}/designer)
else()
  set(VEZE6_INSTALL_DESIGNERDIR ${CMAKE_INSTALL_LIBDIR}/qt6/plugins/designer)
endif()

# Installed programs and modules find the libraries beside them in any
# prefix; on /usr the path points to where the loader looks anyway.
file(RELATIVE_PATH _veze6_bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
file(RELATIVE_PATH _veze6_module_to_lib /${VEZE6_INSTALL_MODULEDIR} /${CMAKE_INSTALL_LIBDIR})
file(RELATIVE_PATH _veze6_plugin_to_lib /${VEZE6_INSTALL_DESIGNERDIR} /${CMAKE_INSTALL_LIBDIR})

# The exported targets: Veze6::Opc, Veze6::Core, Veze6::Widgets,
# Veze6::Design, Veze6::Simulator (static, for applications that register
# the simulation server by code).
set(_veze6_exported
  veze6opc Opc
  veze6core Core
  veze6 Widgets
  veze6design Design
  veze6sim Simulator)
while(_veze6_exported)
  list(POP_FRONT _veze6_exported target name)
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${name})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    # Each library finds the others beside it, wherever the prefix is.
    set_target_properties(${target} PROPERTIES VERSION ${PROJECT_VERSION}
                                               SOVERSION ${PROJECT_VERSION_MAJOR}
                                               INSTALL_RPATH "$ORIGIN")
  endif()
  # In the build tree the folders' own include paths; installed, only
  # include/veze6, where every header is named by its folder ("core/...").
  get_target_property(dirs ${target} INTERFACE_INCLUDE_DIRECTORIES)
  set(wrapped "")
  foreach(dir IN LISTS dirs)
    if(dir MATCHES "^\\$<")
      list(APPEND wrapped "${dir}")
    else()
      list(APPEND wrapped "$<BUILD_INTERFACE:${dir}>")
    endif()
  endforeach()
  list(APPEND wrapped "$<INSTALL_INTERFACE:${VEZE6_INSTALL_INCLUDEDIR}>")
  list(REMOVE_DUPLICATES wrapped)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${wrapped}")
endwhile()

# In the build tree the same names, so that a project added with
# add_subdirectory links as it does against the package. (Veze6::Core,
# Veze6::Widgets and Veze6::Design are declared beside the options in the
# top-level CMakeLists.txt.)
if(NOT TARGET Veze6::Opc)
  add_library(Veze6::Opc ALIAS veze6opc)
endif()
if(NOT TARGET Veze6::Simulator)
  add_library(Veze6::Simulator ALIAS veze6sim)
endif()

foreach(component IN ITEMS Core Widgets Design Simulator)
  if(component STREQUAL "Core")
    set(targets veze6opc veze6core)
  elseif(component STREQUAL "Widgets")
    set(targets veze6)
  elseif(component STREQUAL "Design")
    set(targets veze6design)
  else()
    set(targets veze6sim)
  endif()
  install(TARGETS ${targets} EXPORT Veze6${component}Targets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime
            NAMELINK_COMPONENT Development
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
    INCLUDES DESTINATION ${VEZE6_INSTALL_INCLUDEDIR})
  install(EXPORT Veze6${component}Targets NAMESPACE Veze6:: DESTINATION ${VEZE6_INSTALL_CMAKEDIR}
    COMPONENT Development)
endforeach()

# Public headers: every header of the library folders except the private
# "_p.h" ones.
foreach(folder IN ITEMS opc core binding dialogs design simulator)
  file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.h)
  list(FILTER headers EXCLUDE REGEX "_p\\.h$")
  install(FILES ${headers} DESTINATION ${VEZE6_INSTALL_INCLUDEDIR}/${folder}
    COMPONENT Development)
endforeach()

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/Veze6Config.cmake.in
  ${PROJECT_BINARY_DIR}/Veze6Config.cmake INSTALL_DESTINATION ${VEZE6_INSTALL_CMAKEDIR})
# 1.41 serves a request for 1.40; 2.x does not.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/Veze6ConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/Veze6Config.cmake ${PROJECT_BINARY_DIR}/Veze6ConfigVersion.cmake
  DESTINATION ${VEZE6_INSTALL_CMAKEDIR} COMPONENT Development)

# pkg-config: one file per library, Requires naming what its headers need.
set(_veze6_pc
  "veze6opc|veze6opc|platform layer and OPC DA declarations||-lveze6opc -ldl -pthread"
  "veze6core|veze6core|OPC DA client components (QtCore)|veze6opc Qt6Core|-lveze6core"
  "veze6|veze6|OPC DA binding component and dialogs (QtWidgets)|veze6core Qt6Widgets|-lveze6"
  "veze6design|veze6design|OPC Inspector and control selection form|veze6 Qt6Widgets|-lveze6design")
# Relocatable: the prefix is found from the file's own place.
file(RELATIVE_PATH VEZE6_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" VEZE6_PC_TO_PREFIX "${VEZE6_PC_TO_PREFIX}")
foreach(entry IN LISTS _veze6_pc)
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 VEZE6_PC_NAME)
  list(GET fields 2 VEZE6_PC_DESCRIPTION)
  list(GET fields 3 VEZE6_PC_REQUIRES)
  list(GET fields 4 VEZE6_PC_LIBS)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/veze6.pc.in
    ${PROJECT_BINARY_DIR}/pkgconfig/${VEZE6_PC_NAME}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${VEZE6_PC_NAME}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)
endforeach()

# The Qt Designer plugin.
set_target_properties(veze6designer PROPERTIES INSTALL_RPATH "$ORIGIN/${_veze6_plugin_to_lib}")
install(TARGETS veze6designer LIBRARY DESTINATION ${VEZE6_INSTALL_DESIGNERDIR} COMPONENT Designer)

# The tools.
set_target_properties(qopc qopc-inspector qopcd PROPERTIES INSTALL_RPATH "$ORIGIN/${_veze6_bin_to_lib}")
install(TARGETS qopc qopc-inspector qopcd RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Tools)
# The host daemon's unit, naming the installed program.
configure_file(${PROJECT_SOURCE_DIR}/apps/qopcd/qopcd.service.in ${PROJECT_BINARY_DIR}/qopcd.service
  @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qopcd.service DESTINATION lib/systemd/system COMPONENT Tools)
install(FILES ${PROJECT_SOURCE_DIR}/apps/qopc/qopc.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME qopc COMPONENT Tools)
# The man page, written from the tool's own help when the tool is built.
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/qopc.1.gz
  COMMAND ${CMAKE_COMMAND} -DQOPC=$<TARGET_FILE:qopc> -DVERSION=${PROJECT_VERSION}
          -DOUTPUT=${PROJECT_BINARY_DIR}/man/qopc.1 -P ${CMAKE_CURRENT_LIST_DIR}/QopcManPage.cmake
  DEPENDS qopc ${CMAKE_CURRENT_LIST_DIR}/QopcManPage.cmake
  COMMENT "Writing the man page of qopc")
add_custom_target(qopc-manpage ALL DEPENDS ${PROJECT_BINARY_DIR}/man/qopc.1.gz)
install(FILES ${PROJECT_BINARY_DIR}/man/qopc.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
  COMPONENT Tools)

# The simulation server module and its registration file. The file goes to
# the system's servers.d folder: /etc/xdg/veze6/servers.d for the prefix
# /usr, <prefix>/etc/xdg/veze6/servers.d otherwise. It is written at install
# time because only then is the prefix known (cmake --install --prefix).
set_target_properties(veze6simmodule PROPERTIES INSTALL_RPATH "$ORIGIN/${_veze6_module_to_lib}")
install(TARGETS veze6simmodule LIBRARY DESTINATION ${VEZE6_INSTALL_MODULEDIR} COMPONENT Runtime
  NAMELINK_SKIP)
install(CODE "
  set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
  if(prefix STREQUAL \"/usr\")
    set(folder /etc/xdg/veze6/servers.d)
  else()
    set(folder \"\${prefix}/etc/xdg/veze6/servers.d\")
  endif()
  set(module \"\${prefix}/${VEZE6_INSTALL_MODULEDIR}/$<TARGET_FILE_NAME:veze6simmodule>\")
  file(READ \"${PROJECT_BINARY_DIR}/servers.d/veze6-simulation-module.conf\" text)
  string(REGEX REPLACE \"\\nModule = [^\\n]*\" \"\\nModule = \${module}\" text \"\${text}\")
  message(STATUS \"Installing: \$ENV{DESTDIR}\${folder}/veze6-simulation-module.conf\")
  file(WRITE \"\$ENV{DESTDIR}\${folder}/veze6-simulation-module.conf\" \"\${text}\")
  " COMPONENT Runtime)
