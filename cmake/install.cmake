# What `cmake --install` lays out is exactly what the OpenWrt package ships
# (packaging/openwrt/alertmill/Makefile copies from this tree): the daemon, the
# command and, for other packages that raise events, the sending side as one
# static library with its headers. Stand-ins, tests and benchmarks never
# install. Rules apply to the targets that exist, so the tree configures at
# every stage of its growth.
if(TARGET alertmill)
  install(TARGETS alertmill RUNTIME DESTINATION sbin)
endif()
if(TARGET eventadd)
  install(TARGETS eventadd RUNTIME DESTINATION bin)
endif()

# The project's own static libraries that `target` reaches, itself included.
function(alertmill_static_closure target out)
  set(closure ${${out}})
  if(target IN_LIST closure)
    return()
  endif()
  list(APPEND closure ${target})
  get_target_property(deps ${target} LINK_LIBRARIES)
  foreach(dep IN LISTS deps)
    if(TARGET ${dep})
      get_target_property(imported ${dep} IMPORTED)
      get_target_property(type ${dep} TYPE)
      if(NOT imported AND type STREQUAL "STATIC_LIBRARY")
        alertmill_static_closure(${dep} closure)
      endif()
    endif()
  endforeach()
  set(${out} ${closure} PARENT_SCOPE)
endfunction()

if(TARGET eventsend)
  # The sending side's archive alone would leave its users hunting for the
  # database and support layers: ship one archive holding all of them, so
  # that `-leventsend -lsqlite3 -lpthread` links.
  set(send_libraries "")
  alertmill_static_closure(eventsend send_libraries)
  set(send_objects "")
  foreach(library IN LISTS send_libraries)
    list(APPEND send_objects $<TARGET_OBJECTS:${library}>)
  endforeach()
  add_library(eventsend_dist STATIC ${send_objects})
  set_target_properties(eventsend_dist PROPERTIES
    OUTPUT_NAME eventsend ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/dist)
  install(TARGETS eventsend_dist ARCHIVE DESTINATION lib)
  # The header keeps its folder: users include it as "service/eventadd.h".
  install(FILES service/eventadd.h DESTINATION include/alertmill/service)
endif()
