# The demo installation folder: the tool with every fixture that stands in for
# a product file, so that one command shows the whole tool working.
set(DERODO_DEMO_DIR ${CMAKE_BINARY_DIR}/demo CACHE PATH "Demo installation folder")

# derodo_add_demo_files(<target|file|folder>... [DEPENDS <targets>...])
# Targets are copied as their built file, folders as a whole under their name.
function(derodo_add_demo_files)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  set_property(GLOBAL APPEND PROPERTY DERODO_DEMO_ITEMS ${ARG_UNPARSED_ARGUMENTS})
  set_property(GLOBAL APPEND PROPERTY DERODO_DEMO_DEPENDS ${ARG_DEPENDS})
endfunction()

# Called once, after every subsystem and fixture has added its files.
function(derodo_add_demo_target)
  get_property(items GLOBAL PROPERTY DERODO_DEMO_ITEMS)
  get_property(depends GLOBAL PROPERTY DERODO_DEMO_DEPENDS)
  set(commands COMMAND ${CMAKE_COMMAND} -E make_directory ${DERODO_DEMO_DIR})
  foreach(item ${items})
    if(TARGET ${item})
      list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_if_different
           $<TARGET_FILE:${item}> ${DERODO_DEMO_DIR}/)
      list(APPEND depends ${item})
    elseif(IS_DIRECTORY ${item})
      get_filename_component(name ${item} NAME)
      list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_directory ${item}
           ${DERODO_DEMO_DIR}/${name})
    else()
      list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${item}
           ${DERODO_DEMO_DIR}/)
    endif()
  endforeach()
  add_custom_target(demo ALL ${commands} VERBATIM)
  if(depends)
    add_dependencies(demo ${depends})
  endif()
endfunction()
