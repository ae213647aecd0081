# `cmake --install`: the host, the module in the host's modules folder, the
# platform libraries, the back office and the desktop entry. Every RPATH is
# relative to the file itself, so the prefix can move:
#   bin/                     the programs        RPATH $ORIGIN/../lib
#   lib/                     platform libraries  RPATH $ORIGIN (when they need one)
#   lib/mpay/modules/        business modules    RPATH $ORIGIN/../..
#   share/applications/      mpay-host.desktop
#   lib/systemd/system/      mpay-backoffice.service
include(GNUInstallDirs)
set(MPAY_MODULES_INSTALL_DIR lib/mpay/modules)

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

mpay_install(bin "$ORIGIN/../lib" mpay-host mpay-table mpay-backoffice mpay-query tmdump)
mpay_install(lib "$ORIGIN" toolkit tmclient tmclient_nats tmclient_tls tmguicommon tradekit ledgerkit)
mpay_install(${MPAY_MODULES_INSTALL_DIR} "$ORIGIN/../.." micropaylog)
if(TARGET mpay-host)
  install(FILES ${PROJECT_SOURCE_DIR}/host/mpay-host.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()

# The back office's systemd unit, naming the programs' folder of the prefix
# actually installed to (which `cmake --install --prefix` may change).
if(TARGET mpay-backoffice)
  install(CODE "
    set(MPAY_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    set(unit \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system/mpay-backoffice.service\")
    message(STATUS \"Installing: \${unit}\")
    configure_file(\"${PROJECT_SOURCE_DIR}/config/mpay-backoffice.service\" \"\${unit}\" @ONLY)")
endif()
