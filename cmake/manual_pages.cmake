# Manual pages: installed as they are, or gzipped as a Debian package wants
# them (SORVANITE_GZIP_MANUALS, set by the "package" preset).
option(SORVANITE_GZIP_MANUALS "Install the manual pages gzipped" OFF)

function(sorvanite_install_manual page)
  if(WIN32)
    return()
  endif()
  if(NOT SORVANITE_GZIP_MANUALS)
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    return()
  endif()
  get_filename_component(name ${page} NAME)
  set(gzipped ${PROJECT_BINARY_DIR}/doc/${name}.gz)
  # -n: no name or time in the header, so the same page packs the same.
  add_custom_command(OUTPUT ${gzipped}
    COMMAND gzip -9n -c ${page} > ${gzipped}
    DEPENDS ${page} VERBATIM)
  add_custom_target(manual-${name} ALL DEPENDS ${gzipped})
  install(FILES ${gzipped} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
