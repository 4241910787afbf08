# The program's icon, drawn as SVG in dist/ and rendered to PNGs at build
# time (rsvg-convert, Debian package librsvg2-bin):
#  - veilgate.svg: the mark, used for the windows, the desktop entry and the
#    tray while hiding;
#  - veilgate-direct.svg: the tray picture while the connection goes direct.
# The pictures are compiled into the program as Qt resources (":/icons/...")
# and the mark's PNGs are installed into the hicolor theme.
set(VG_ICON_DIR ${CMAKE_BINARY_DIR}/icons)
set(VG_ICON_SIZES 16 22 24 32 48 64 128 256)
find_program(VG_RSVG_CONVERT rsvg-convert)

set(VG_ICON_OUTPUTS)
if(VG_RSVG_CONVERT)
  foreach(name veilgate veilgate-direct)
    foreach(size IN LISTS VG_ICON_SIZES)
      set(out ${VG_ICON_DIR}/${name}-${size}.png)
      add_custom_command(OUTPUT ${out}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${VG_ICON_DIR}
        COMMAND ${VG_RSVG_CONVERT} -w ${size} -h ${size} -o ${out}
                ${CMAKE_SOURCE_DIR}/dist/${name}.svg
        DEPENDS ${CMAKE_SOURCE_DIR}/dist/${name}.svg
        COMMENT "Rendering ${name} at ${size} x ${size}")
      list(APPEND VG_ICON_OUTPUTS ${out})
    endforeach()
  endforeach()
  qt_add_resources(vg_qt "vg_icons" PREFIX "/icons" BASE ${VG_ICON_DIR} FILES ${VG_ICON_OUTPUTS})
else()
  message(WARNING "rsvg-convert not found (install librsvg2-bin with scripts/deps): the program "
                  "shows a stock icon and the install ships no PNG icons")
endif()
add_custom_target(vg_icon_files ALL DEPENDS ${VG_ICON_OUTPUTS})
