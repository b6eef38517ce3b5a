# Run by `cmake --install`: writes the unit, the sysusers.d and tmpfiles.d
# entries and the default configuration with the paths of this installation
# and installs them. Configuration files already present are kept, so an
# administrator's settings survive a reinstallation.
function(vigilo_full out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

vigilo_full(VIGILO_SBIN_DIR "${VIGILO_SBIN_DEST}")
vigilo_full(VIGILO_SYSCONF_DIR "${VIGILO_SYSCONF_DEST}")
vigilo_full(VIGILO_CONFIG_DIR "${VIGILO_CONFIG_DEST}")
vigilo_full(VIGILO_STATE_DIR "${VIGILO_STATE_DEST}")
vigilo_full(unit_dir "${VIGILO_SYSTEMD_UNIT_DEST}")
vigilo_full(sysusers_dir "${VIGILO_SYSUSERS_DEST}")
vigilo_full(tmpfiles_dir "${VIGILO_TMPFILES_DEST}")

set(src "${VIGILO_PACKAGING_SOURCE}")
set(out "${VIGILO_PACKAGING_BINARY}")
file(MAKE_DIRECTORY "${out}")
configure_file("${src}/vgservice.service.in" "${out}/vgservice.service" @ONLY)
configure_file("${src}/vigilo.sysusers.in" "${out}/sysusers/vigilo.conf" @ONLY)
configure_file("${src}/vigilo.tmpfiles.in" "${out}/tmpfiles/vigilo.conf" @ONLY)
configure_file("${src}/vigtab.ini.in" "${out}/vigtab.ini" @ONLY)
configure_file("${src}/mapi.ini.in" "${out}/mapi.ini" @ONLY)

file(INSTALL "${out}/vgservice.service" DESTINATION "${unit_dir}")
file(INSTALL "${out}/sysusers/vigilo.conf" DESTINATION "${sysusers_dir}")
file(INSTALL "${out}/tmpfiles/vigilo.conf" DESTINATION "${tmpfiles_dir}")
file(MAKE_DIRECTORY "$ENV{DESTDIR}${VIGILO_STATE_DIR}")

# Configuration: installed once, never over an administrator's copy.
if(NOT EXISTS "$ENV{DESTDIR}${VIGILO_CONFIG_DIR}/vigtab.ini")
  file(INSTALL "${out}/vigtab.ini" DESTINATION "${VIGILO_CONFIG_DIR}")
endif()
if(NOT EXISTS "$ENV{DESTDIR}${VIGILO_CONFIG_DIR}/mapi.ini")
  file(INSTALL "${out}/mapi.ini" DESTINATION "${VIGILO_CONFIG_DIR}"
       PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)
endif()
if(NOT EXISTS "$ENV{DESTDIR}${VIGILO_SYSCONF_DIR}/default/vgservice")
  file(INSTALL "${src}/default.vgservice" DESTINATION "${VIGILO_SYSCONF_DIR}/default"
       RENAME vgservice)
endif()
