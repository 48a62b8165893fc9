# ondevice_stt_write_service_unit(<template> <binary> <output>): the service unit from its
# template, its ExecStart naming <binary>, an absolute path. Used when the project is configured
# (the build's own units) and when it is installed (the units that name the installed binary).
# The path is written as systemd reads a command line: "%" and "$" would be expanded and white
# space would split it, so they are escaped and such a path is quoted.
function(ondevice_stt_write_service_unit template binary output)
  if(NOT IS_ABSOLUTE "${binary}" OR binary MATCHES "[\n\r]")
    message(FATAL_ERROR "A systemd unit cannot name the binary ${binary}")
  endif()
  set(escaped "${binary}")
  string(REPLACE "\\" "\\\\" escaped "${escaped}")
  string(REPLACE "\"" "\\\"" escaped "${escaped}")
  string(REPLACE "%" "%%" escaped "${escaped}")
  string(REPLACE "$" "$$" escaped "${escaped}")
  if(NOT escaped STREQUAL binary OR binary MATCHES "[ \t']")
    set(escaped "\"${escaped}\"")
  endif()
  set(ONDEVICE_STT_SERVICE_BINARY "${escaped}")
  configure_file("${template}" "${output}" @ONLY)
endfunction()
