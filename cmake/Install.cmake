# `cmake --install`: the programs, the platform libraries in a folder of
# their own, every business module, the back office's unit and configuration,
# the client configuration and the desktop entry with its icon. Every RPATH is
# relative to the file itself, so the prefix can move:
#   bin/                     the programs        RPATH $ORIGIN/../lib/mpay
#   lib/mpay/                platform libraries  RPATH $ORIGIN (when they need one)
#   lib/mpay/modules/        business modules    RPATH $ORIGIN/..
#   lib/systemd/system/      mpay-backoffice.service
#   etc/mpay/                backoffice.conf
#   etc/tmclient/            brokers.conf
#   share/applications/      mpay-host.desktop
#   share/icons/hicolor/scalable/apps/  mpay-host.svg
# The libraries are the programs' own, not for other software: they have no
# version in their names and stay out of the loader's search path.
# The target install-programs builds what is installed, and only that.
include(GNUInstallDirs)
set(MPAY_LIBS_INSTALL_DIR lib/mpay)
set(MPAY_MODULES_INSTALL_DIR ${MPAY_LIBS_INSTALL_DIR}/modules)
add_custom_target(install-programs)

# mpay_install(DESTINATION RPATH TARGETS...): the targets that this
# configuration builds, with their install RPATH.
# Installed as plain files, so that CMake never pads the build tree's RUNPATH
# with empty entries to make room for the installed one (the loader reads an
# empty entry as the current folder). The installed copy's RUNPATH, when the
# build gave it one, is rewritten in place: the build tree's absolute folders
# are always longer than the relative path that replaces them.
function(mpay_install destination rpath)
  string(REPLACE "$" "\\$" escaped_rpath "${rpath}")
  foreach(target IN LISTS ARGN)
    if(TARGET ${target})
      add_dependencies(install-programs ${target})
      install(PROGRAMS $<TARGET_FILE:${target}> DESTINATION ${destination})
      install(CODE "
        set(installed \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}/$<TARGET_FILE_NAME:${target}>\")
        set(runpath \"\")
        file(READ_ELF \"\${installed}\" RUNPATH runpath)
        if(runpath)
          file(RPATH_SET FILE \"\${installed}\" NEW_RPATH \"${escaped_rpath}\")
        endif()")
    endif()
  endforeach()
endfunction()

# The modules are the shared libraries built into the build tree's modules
# folder (where a host run from the build tree finds them), whichever folder
# of the sources defines them.
mpay_all_targets(all_targets)
set(module_targets "")
foreach(target IN LISTS all_targets)
  get_target_property(type ${target} TYPE)
  if(type MATCHES "^(SHARED_LIBRARY|MODULE_LIBRARY)$")
    get_target_property(output ${target} LIBRARY_OUTPUT_DIRECTORY)
    if(NOT output)
      get_target_property(output ${target} BINARY_DIR)
    endif()
    if(output STREQUAL "${PROJECT_BINARY_DIR}/module")
      list(APPEND module_targets ${target})
    endif()
  endif()
endforeach()

mpay_install(${CMAKE_INSTALL_BINDIR} "$ORIGIN/../${MPAY_LIBS_INSTALL_DIR}"
             mpay-host mpay-table mpay-backoffice mpay-query tmdump)
mpay_install(${MPAY_LIBS_INSTALL_DIR} "$ORIGIN"
             toolkit tmclient tmclient_nats tmclient_tls tmguicommon tradekit ledgerkit)
mpay_install(${MPAY_MODULES_INSTALL_DIR} "$ORIGIN/.." ${module_targets})

if(TARGET tmclient)
  install(FILES ${PROJECT_SOURCE_DIR}/config/brokers.conf
          DESTINATION ${CMAKE_INSTALL_SYSCONFDIR}/tmclient)
endif()
if(TARGET mpay-host)
  install(FILES ${PROJECT_SOURCE_DIR}/host/mpay-host.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/host/mpay-host.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# The back office's systemd unit, naming the programs' folder and the
# configuration file of the prefix actually installed to (which
# `cmake --install --prefix` may change).
if(TARGET mpay-backoffice)
  install(FILES ${PROJECT_SOURCE_DIR}/config/backoffice.conf
          DESTINATION ${CMAKE_INSTALL_SYSCONFDIR}/mpay)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_SYSCONFDIR}")
    set(config "${CMAKE_INSTALL_SYSCONFDIR}/mpay/backoffice.conf")
  else()
    set(config "\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SYSCONFDIR}/mpay/backoffice.conf")
  endif()
  install(CODE "
    set(MPAY_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    set(MPAY_CONFIG \"${config}\")
    set(unit \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system/mpay-backoffice.service\")
    message(STATUS \"Installing: \${unit}\")
    configure_file(\"${PROJECT_SOURCE_DIR}/config/mpay-backoffice.service\" \"\${unit}\" @ONLY)")
endif()
