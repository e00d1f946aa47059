# Refuses, when the build is configured, a source or header of a server layer
# that includes a header of a layer above it. The link already fails on a
# call into a higher layer; this also catches what is only inline or a type.
# Included by server/CMakeLists.txt once the layers' targets exist.
set(server_layers storeserver_storage storeserver_core storeserver_queries storeserver_import storeserver_admin
                  storeserver_app)
# Headers with no source of their own.
set(layer_of_http_types.h 1)
set(layer_of_services.h 1)
set(layer_of_queries/query.h 2)
set(layer_of_admin/page.h 4)
set(layer_of_admin/office_pages.h 4)

set(layer_files)
set(index 0)
foreach(layer IN LISTS server_layers)
  get_target_property(sources ${layer} SOURCES)
  foreach(source IN LISTS sources)
    # Generated sources have absolute paths in the build folder, which may match the pattern too.
    if(IS_ABSOLUTE "${source}" OR NOT source MATCHES "^[a-z_/]+\\.cpp$")
      continue()
    endif()
    string(REGEX REPLACE "\\.cpp$" ".h" header "${source}")
    set(layer_of_${source} ${index})
    list(APPEND layer_files ${source})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${header})
      set(layer_of_${header} ${index})
      list(APPEND layer_files ${header})
    endif()
  endforeach()
  math(EXPR index "${index} + 1")
endforeach()
list(APPEND layer_files http_types.h services.h queries/query.h admin/page.h admin/office_pages.h)

foreach(file IN LISTS layer_files)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${file})
  file(STRINGS ${CMAKE_CURRENT_SOURCE_DIR}/${file} includes REGEX "^#include \"server/")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^#include \"server/([^\"]+)\".*" "\\1" included "${line}")
    if(NOT DEFINED layer_of_${included})
      message(FATAL_ERROR "server/${file} includes server/${included}, which belongs to no layer: add its source "
                          "to a layer's library, or name its layer in server/check_layers.cmake.")
    endif()
    if(layer_of_${included} GREATER layer_of_${file})
      list(GET server_layers ${layer_of_${file}} own)
      list(GET server_layers ${layer_of_${included}} higher)
      message(FATAL_ERROR "server/${file} (${own}) includes server/${included} of ${higher}, a layer above it: "
                          "move what it needs down.")
    endif()
  endforeach()
endforeach()
