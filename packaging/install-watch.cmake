# Installs the watch file and the units of scheduled scans; run at install
# time (cmake --install, cpack) with KD_WATCH_SOURCE_DIR and KD_WATCH_WORK_DIR
# set. The units are written for the Debian package: /usr/bin/vopal-scan,
# /etc/kestrune-durvane/watch.conf, and the units in /lib/systemd/system,
# where Debian 12 keeps a package's units. So with a prefix ending in /usr
# (the package's, or a copy of its tree under a scratch directory) the files
# go beside that usr: <root>/etc and <root>/lib. Any other prefix (such as
# /usr/local) keeps them inside itself, and the units are rewritten to name
# its program and its watch file, so that no install ever writes a unit or a
# configuration file outside its prefix.
cmake_path(SET kd_prefix NORMALIZE "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "(.)/+$" "\\1" kd_prefix "${kd_prefix}")
if(kd_prefix MATCHES "^(.*)/usr$")
  set(kd_root "${CMAKE_MATCH_1}")
  set(kd_conf_dir "${kd_root}/etc/kestrune-durvane")
  set(kd_unit_dir "${kd_root}/lib/systemd/system")
  set(kd_program "/usr/bin/vopal-scan")
else()
  set(kd_conf_dir "${kd_prefix}/etc/kestrune-durvane")
  set(kd_unit_dir "${kd_prefix}/lib/systemd/system")
  set(kd_program "${kd_prefix}/bin/vopal-scan")
endif()

# Root's alone: it may hold a receiver's secret (the service gets a copy).
file(INSTALL "${KD_WATCH_SOURCE_DIR}/watch.conf" DESTINATION "${kd_conf_dir}"
  PERMISSIONS OWNER_READ OWNER_WRITE)

# Each prefix has its own copies: installs to two prefixes may run at once.
string(MD5 kd_prefix_hash "${kd_prefix}")
set(kd_work_dir "${KD_WATCH_WORK_DIR}/${kd_prefix_hash}")
set(kd_units "")
foreach(unit kestrune-durvane-watch.service kestrune-durvane-watch.timer)
  file(READ "${KD_WATCH_SOURCE_DIR}/${unit}" kd_text)
  set(kd_exec "ExecStart=/usr/bin/vopal-scan --watch %d/watch.conf")
  set(kd_credential "LoadCredential=watch.conf:/etc/kestrune-durvane/watch.conf")
  if(unit MATCHES "[.]service$" AND NOT kd_text MATCHES "\n${kd_exec}\n")
    message(FATAL_ERROR "${unit} has no line ${kd_exec}")
  endif()
  if(unit MATCHES "[.]service$" AND NOT kd_text MATCHES "\n${kd_credential}\n")
    message(FATAL_ERROR "${unit} has no line ${kd_credential}")
  endif()
  if(NOT kd_program STREQUAL "/usr/bin/vopal-scan")
    string(REPLACE "\n${kd_exec}\n" "\nExecStart=${kd_program} --watch %d/watch.conf\n"
      kd_text "${kd_text}")
    string(REPLACE "\n${kd_credential}\n"
      "\nLoadCredential=watch.conf:${kd_conf_dir}/watch.conf\n" kd_text "${kd_text}")
  endif()
  file(WRITE "${kd_work_dir}/${unit}" "${kd_text}")
  list(APPEND kd_units "${kd_work_dir}/${unit}")
endforeach()
file(INSTALL ${kd_units} DESTINATION "${kd_unit_dir}"
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
