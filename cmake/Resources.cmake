# The "res" data files next to the executable (the program looks for them
# in "res" beside itself):
#  - every file of res/ except const.dat (which sits beside the executable)
#    and the files of res/images/, copied;
#  - res/flag_short/<CODE>.PNG, 48 x 48, generated from Debian's ISO flag
#    pictures (package iso-flags-png-320x240), plus UN.PNG;
#  - the product pictures splash, about, update, popup_bg and logo under
#    res/images/, rendered from their vector sources in res/art/ at 1x
#    ("<name>.png") and 2x ("<name>@2x.png"), unless res/images/ holds a
#    drawn one of that name;
#  - the skins' own small pictures (spin-box arrows, ticks), rendered from
#    skins/images/*.svg at 1x and 2x and compiled in under ":/skins/images/".
set(VG_RES_DIR ${CMAKE_BINARY_DIR}/res)
set(VG_FLAG_SOURCE /usr/share/iso-flags-png-320x240 CACHE PATH
    "Folder of ISO flag pictures (<code>.png, Debian package iso-flags-png-320x240)")

# The generator runs at build time, so a cross build takes the one of a
# native build (VG_HOST_RESGEN, by default the default preset's).
if(CMAKE_CROSSCOMPILING)
  find_program(VG_HOST_RESGEN vg_resgen PATHS ${CMAKE_SOURCE_DIR}/build/default NO_DEFAULT_PATH
               NO_CMAKE_FIND_ROOT_PATH)
  if(NOT VG_HOST_RESGEN)
    message(FATAL_ERROR "A cross build draws its pictures with a native vg_resgen: build the "
                        "default preset first (scripts/build) or set VG_HOST_RESGEN")
  endif()
  set(VG_RESGEN ${VG_HOST_RESGEN})
else()
  find_package(Qt6 REQUIRED COMPONENTS Gui Svg)
  add_executable(vg_resgen ${CMAKE_SOURCE_DIR}/tools/resgen/resgen.cpp)
  target_link_libraries(vg_resgen PRIVATE Qt6::Gui Qt6::Svg)
  set(VG_RESGEN vg_resgen)
endif()

set(VG_RES_OUTPUTS)

file(GLOB VG_RES_PLAIN LIST_DIRECTORIES false CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/res/*)
list(FILTER VG_RES_PLAIN EXCLUDE REGEX "/const\\.dat$")
file(GLOB VG_RES_IMAGES LIST_DIRECTORIES false CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/res/images/*)
foreach(src IN LISTS VG_RES_PLAIN VG_RES_IMAGES)
  file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR}/res ${src})
  add_custom_command(OUTPUT ${VG_RES_DIR}/${rel}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${src} ${VG_RES_DIR}/${rel}
    DEPENDS ${src}
    COMMENT "Copying res/${rel}")
  list(APPEND VG_RES_OUTPUTS ${VG_RES_DIR}/${rel})
endforeach()

set(VG_GENERATED_IMAGES)
foreach(name splash about update popup_bg logo)
  if(NOT EXISTS ${CMAKE_SOURCE_DIR}/res/images/${name}.png)
    list(APPEND VG_GENERATED_IMAGES ${name})
  endif()
endforeach()
# A picture rendered from its vector source at 1x and 2x into a folder; the
# two files are added to the list named by out.
function(vg_render_svg out folder src)
  get_filename_component(name ${src} NAME_WE)
  set(outputs ${folder}/${name}.png ${folder}/${name}@2x.png)
  add_custom_command(OUTPUT ${outputs}
    COMMAND ${VG_RESGEN} svg ${folder} ${src}
    DEPENDS ${VG_RESGEN} ${src}
    COMMENT "Rendering ${name} from its vector source")
  set(${out} ${${out}} ${outputs} PARENT_SCOPE)
endfunction()
foreach(name IN LISTS VG_GENERATED_IMAGES)
  vg_render_svg(VG_RES_OUTPUTS ${VG_RES_DIR}/images ${CMAKE_SOURCE_DIR}/res/art/${name}.svg)
endforeach()

# The skins' pictures, compiled into the program.
set(VG_SKIN_IMAGE_DIR ${CMAKE_BINARY_DIR}/skin_images)
file(GLOB VG_SKIN_SVGS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/skins/images/*.svg)
set(VG_SKIN_IMAGES)
foreach(src IN LISTS VG_SKIN_SVGS)
  vg_render_svg(VG_SKIN_IMAGES ${VG_SKIN_IMAGE_DIR}/images ${src})
endforeach()
if(VG_SKIN_IMAGES AND TARGET vg_qt)
  set_source_files_properties(${VG_SKIN_IMAGES} PROPERTIES GENERATED TRUE)
  qt_add_resources(vg_qt "vg_skin_images" PREFIX "/skins" BASE ${VG_SKIN_IMAGE_DIR}
                   FILES ${VG_SKIN_IMAGES})
endif()

if(EXISTS ${VG_FLAG_SOURCE}/_united_nations.png)
  # UN.PNG stands for the whole set: every flag is written in the same run.
  add_custom_command(OUTPUT ${VG_RES_DIR}/flag_short/UN.PNG
    COMMAND ${VG_RESGEN} flags ${VG_FLAG_SOURCE} ${VG_RES_DIR}/flag_short
    DEPENDS ${VG_RESGEN} ${VG_FLAG_SOURCE}/_united_nations.png
    COMMENT "Generating the 48 x 48 flags from ${VG_FLAG_SOURCE}")
  list(APPEND VG_RES_OUTPUTS ${VG_RES_DIR}/flag_short/UN.PNG)
else()
  message(WARNING "No ISO flag pictures in ${VG_FLAG_SOURCE} (install iso-flags-png-320x240 "
                  "with scripts/deps): the build ships no flags")
endif()

add_custom_target(vg_res_files ALL DEPENDS ${VG_RES_OUTPUTS})
