# Client code for a Wayland protocol, made by wayland-scanner at build time:
# appends the generated header and C tables to the list named by OUT_VAR,
# in OUT_DIR.
find_package(PkgConfig REQUIRED)
pkg_get_variable(TOLLMERE_WAYLAND_SCANNER wayland-scanner wayland_scanner)

function(tollmere_wayland_protocol out_var out_dir name xml)
  add_custom_command(
    OUTPUT ${out_dir}/${name}-client-protocol.h ${out_dir}/${name}-protocol.c
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
    COMMAND ${TOLLMERE_WAYLAND_SCANNER} client-header ${xml} ${out_dir}/${name}-client-protocol.h
    COMMAND ${TOLLMERE_WAYLAND_SCANNER} private-code ${xml} ${out_dir}/${name}-protocol.c
    DEPENDS ${xml}
    COMMENT "Generating the ${name} protocol's client code"
    VERBATIM)
  set(${out_var} ${${out_var}} ${out_dir}/${name}-client-protocol.h ${out_dir}/${name}-protocol.c
      PARENT_SCOPE)
endfunction()
