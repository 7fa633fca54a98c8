# One static library per layer, linked along the arrows, and a check at
# configure time that no file includes a header of a layer above its own.
#
#   launcher -> hmi, device, store        device -> store
#   every layer -> common -> platform interfaces (platform/*.h)
#   platform/win32 and platform/fake implement the interfaces; only the
#   program entry (platform/win32/main) knows the launcher.

# What each folder may include, by the include's first folder. "platform"
# means the interface headers only (platform/X.h); "platform/win32" and
# "platform/fake" are named on their own.
set(VELTRA_LAYER_RULES
  "platform|platform"
  "common|common,platform"
  "store|store,common,platform"
  "device|device,store,common,platform"
  "hmi|hmi,common,platform"
  "launcher|launcher,hmi,device,store,common,platform"
  "platform/fake|platform/fake,platform,common"
  "platform/win32|platform/win32,platform,common"
  "platform/win32/main|platform/win32,platform,common,launcher")

function(veltra_include_layer include out)
  if(include MATCHES "^platform/(win32|fake)/")
    set(${out} "platform/${CMAKE_MATCH_1}" PARENT_SCOPE)
  elseif(include MATCHES "^([A-Za-z0-9_]+)/")
    set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

# Fails the configure step on an include that runs against the arrows.
function(veltra_check_layers)
  set(faults "")
  foreach(rule ${VELTRA_LAYER_RULES})
    string(REPLACE "|" ";" parts "${rule}")
    list(GET parts 0 folder)
    list(GET parts 1 allowed_text)
    string(REPLACE "," ";" allowed "${allowed_text}")
    file(GLOB files "${CMAKE_SOURCE_DIR}/${folder}/*.h" "${CMAKE_SOURCE_DIR}/${folder}/*.cpp")
    foreach(path ${files})
      file(STRINGS "${path}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
      foreach(line ${lines})
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" include "${line}")
        veltra_include_layer("${include}" layer)
        if(layer STREQUAL "")
          continue()
        endif()
        if(NOT layer IN_LIST allowed AND NOT layer STREQUAL "${folder}")
          file(RELATIVE_PATH rel "${CMAKE_SOURCE_DIR}" "${path}")
          string(APPEND faults "\n  ${rel} includes ${include} (${folder} may use: ${allowed_text})")
        endif()
      endforeach()
    endforeach()
  endforeach()
  if(faults)
    message(FATAL_ERROR "Includes that run against the layers:${faults}")
  endif()
endfunction()

# A layer's library from the .cpp files of its folder; header-only while the
# folder has none.
function(veltra_layer name folder)
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/${folder}/*.cpp")
  if(sources)
    add_library(${name} STATIC ${sources})
    target_compile_options(${name} PRIVATE ${VELTRA_WARNINGS})
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

veltra_check_layers()

add_library(veltra_platform INTERFACE)
target_include_directories(veltra_platform INTERFACE ${CMAKE_SOURCE_DIR})
veltra_layer(veltra_common common veltra_platform)
veltra_layer(veltra_store store veltra_common)
veltra_layer(veltra_device device veltra_store veltra_common)
veltra_layer(veltra_hmi hmi veltra_common)
veltra_layer(veltra_launcher launcher veltra_hmi veltra_device veltra_store veltra_common)
