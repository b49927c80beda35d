# SPDX-License-Identifier: MIT
# The installed layout and the helpers that install into it. Every path is relative to the
# prefix, and every installed binary finds the private libraries through a RUNPATH relative
# to itself, so an installed tree runs wherever it is moved and holds no build-tree path.
#
#   bin/                                 xrreport
#   LIBDIR/xrreport/                     the shared libraries of host and plug-ins (private)
#   LIBDIR/xrreport/plugins/*.xrplugin   the plug-in bundles
#   LIBEXECDIR/xrreport/                 helper programs
#   DATADIR/xrreport/                    data files; examples/ holds the machine profiles
#
# Modes do not follow the umask of whoever installs or packages: directories are 755, files 644
# and programs 755 (install() gives files and programs those unless told otherwise).
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(XR_INSTALL_PROGRAM_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(XR_INSTALL_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/xrreport)
set(XR_INSTALL_PLUGINDIR ${XR_INSTALL_PRIVATE_LIBDIR}/plugins)
set(XR_INSTALL_LIBEXECDIR ${CMAKE_INSTALL_LIBEXECDIR}/xrreport)
set(XR_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/xrreport)

# xr_install_relative(VAR FROM TO): the path from install directory FROM to TO, "." when the same.
function(xr_install_relative var from to)
  file(RELATIVE_PATH path ${CMAKE_INSTALL_PREFIX}/${from} ${CMAKE_INSTALL_PREFIX}/${to})
  if(path STREQUAL "")
    set(path .)
  endif()
  set(${var} ${path} PARENT_SCOPE)
endfunction()

# Code that finds parts of an installation from its own executable links xr_install_layout:
# XR_*_FROM_BINDIR lead from bin/ to each directory, XR_FULL_PLUGINDIR is the configured
# absolute plug-in directory for when the executable's own path is unknown.
xr_install_relative(plugins_from_bin ${CMAKE_INSTALL_BINDIR} ${XR_INSTALL_PLUGINDIR})
xr_install_relative(libexec_from_bin ${CMAKE_INSTALL_BINDIR} ${XR_INSTALL_LIBEXECDIR})
xr_install_relative(data_from_bin ${CMAKE_INSTALL_BINDIR} ${XR_INSTALL_DATADIR})
add_library(xr_install_layout INTERFACE)
target_compile_definitions(xr_install_layout INTERFACE
  XR_PLUGINDIR_FROM_BINDIR="${plugins_from_bin}"
  XR_LIBEXECDIR_FROM_BINDIR="${libexec_from_bin}"
  XR_DATADIR_FROM_BINDIR="${data_from_bin}"
  XR_FULL_PLUGINDIR="${CMAKE_INSTALL_PREFIX}/${XR_INSTALL_PLUGINDIR}")

# Gives target, installed into directory, a RUNPATH to the private libraries.
function(xr_install_runpath target directory)
  xr_install_relative(libs ${directory} ${XR_INSTALL_PRIVATE_LIBDIR})
  if(libs STREQUAL ".")
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
  else()
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${libs}")
  endif()
endfunction()

# xr_install_programs(DESTINATION target...): executables, into bin/ or XR_INSTALL_LIBEXECDIR.
function(xr_install_programs destination)
  foreach(target ${ARGN})
    xr_install_runpath(${target} ${destination})
    install(TARGETS ${target} RUNTIME DESTINATION ${destination})
  endforeach()
endfunction()

# xr_install_private_libraries(target...): shared libraries of the host and the plug-ins.
function(xr_install_private_libraries)
  foreach(target ${ARGN})
    xr_install_runpath(${target} ${XR_INSTALL_PRIVATE_LIBDIR})
    install(TARGETS ${target} LIBRARY DESTINATION ${XR_INSTALL_PRIVATE_LIBDIR})
  endforeach()
endfunction()

# xr_install_plugin_bundle(TARGET BUNDLE_DIR): the bundle built in BUNDLE_DIR (NAME.xrplugin,
# holding TARGET's shared object beside its resources), whole, into the plug-in directory.
function(xr_install_plugin_bundle target bundle_dir)
  get_filename_component(bundle ${bundle_dir} NAME)
  set(destination ${XR_INSTALL_PLUGINDIR}/${bundle})
  xr_install_runpath(${target} ${destination})
  install(TARGETS ${target} LIBRARY DESTINATION ${destination})
  install(DIRECTORY ${bundle_dir}/ DESTINATION ${destination} PATTERN "*.so" EXCLUDE)
endfunction()
