# The demo installation folder: the tool with every fixture that stands in for
# a product file, so that one command shows the whole tool working.
set(DERODO_DEMO_DIR ${CMAKE_BINARY_DIR}/demo CACHE PATH "Demo installation folder")

# The debug information of the stripped programs, one file per program named
# after it ("derodo.exe.debug"), which the program's debug link names.
set(DERODO_DEBUG_DIR ${CMAKE_BINARY_DIR}/debug CACHE PATH "Debug information of the shipped programs")

# derodo_add_demo_files(<target|file|folder>... [STRIPPED <targets>...] [DEPENDS <targets>...])
# Targets are copied as their built file, folders as a whole under their name.
# STRIPPED targets, the tool's own programs, are shipped without their debug
# information, which goes into a file of its own in DERODO_DEBUG_DIR.
function(derodo_add_demo_files)
  cmake_parse_arguments(ARG "" "" "STRIPPED;DEPENDS" ${ARGN})
  set_property(GLOBAL APPEND PROPERTY DERODO_DEMO_ITEMS ${ARG_UNPARSED_ARGUMENTS})
  set_property(GLOBAL APPEND PROPERTY DERODO_DEMO_STRIPPED ${ARG_STRIPPED})
  set_property(GLOBAL APPEND PROPERTY DERODO_DEMO_DEPENDS ${ARG_DEPENDS})
endfunction()

# Called once, after every subsystem and fixture has added its files.
function(derodo_add_demo_target)
  get_property(items GLOBAL PROPERTY DERODO_DEMO_ITEMS)
  get_property(stripped GLOBAL PROPERTY DERODO_DEMO_STRIPPED)
  get_property(depends GLOBAL PROPERTY DERODO_DEMO_DEPENDS)
  set(commands COMMAND ${CMAKE_COMMAND} -E make_directory ${DERODO_DEMO_DIR}
               COMMAND ${CMAKE_COMMAND} -E make_directory ${DERODO_DEBUG_DIR})
  # A toolchain without objcopy (MSVC, whose debug information is a PDB of
  # its own anyway) ships them as built.
  if(NOT CMAKE_OBJCOPY)
    list(APPEND items ${stripped})
    set(stripped)
  endif()
  foreach(item ${stripped})
    set(built $<TARGET_FILE:${item}>)
    set(debug ${DERODO_DEBUG_DIR}/$<TARGET_FILE_NAME:${item}>.debug)
    # The debug link keeps the debug file's name and checksum; a debugger looks
    # for it beside the program or in a folder it is pointed at.
    list(APPEND commands
         COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${built} ${debug}
         COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${debug} ${built}
                 ${DERODO_DEMO_DIR}/$<TARGET_FILE_NAME:${item}>)
    list(APPEND depends ${item})
  endforeach()
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
