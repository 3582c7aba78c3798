# The Windows libraries the tool uses that are not KnownDLLs. Imported as
# usual, Windows would look for them in the tool's own folder before the
# system folder, before the tool's first line could stop it: the tool runs
# elevated, so a planted copy would run with administrator rights. The tool
# (targets with DERODO_DELAY_LOAD set) therefore delay-loads them: they load
# at first use, when the program entry has already limited the library search
# to the system folder. Every other program links them as usual.
# Beside them, the KnownDLLs that only the buttons' actions need (COM for the
# taskbar's progress, sockets for the file-scan service, the image functions
# for certificates): loaded at first use too, each with the libraries it
# brings, the start-up does not wait for them.
set(DERODO_DELAY_LOADED_LIBRARIES bcrypt comctl32 crypt32 rstrtmgr version wininet
    ole32 ws2_32 imagehlp)

# derodo_import_library_exports(<library> <functions var> <data var>)
# The names a mingw-w64 import library (lib<library>.a) imports from its
# DLL, functions and data apart.
function(derodo_import_library_exports library functions_var data_var)
  find_library(import_library_${library} NAMES lib${library}.a NO_CACHE REQUIRED)
  execute_process(
    COMMAND ${CMAKE_NM} ${import_library_${library}}
    OUTPUT_VARIABLE symbols
    COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "[^\n]+ I __imp_[^\n]+" imported "${symbols}")
  string(REGEX MATCHALL "[^\n]+ T [^\n]+" thunks "${symbols}")
  list(TRANSFORM imported REPLACE "^.* I __imp_" "")
  list(TRANSFORM thunks REPLACE "^.* T " "")
  list(REMOVE_DUPLICATES imported)
  set(functions)
  set(data)
  foreach(name ${imported})
    if(name IN_LIST thunks)
      list(APPEND functions ${name})
    else()
      list(APPEND data ${name})
    endif()
  endforeach()
  set(${functions_var} ${functions} PARENT_SCOPE)
  set(${data_var} ${data} PARENT_SCOPE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${import_library_${library}})
endfunction()

# derodo_delay_load(<target>): the target delay-loads the libraries above.
function(derodo_delay_load target)
  set_target_properties(${target} PROPERTIES DERODO_DELAY_LOAD ON)
endfunction()

# derodo_system_<library>: the interface target the subsystems link instead of
# <library>: the delay-import library in programs marked by derodo_delay_load
# (MSVC: the import library with /DELAYLOAD), the import library elsewhere.
function(derodo_add_system_library library)
  add_library(derodo_system_${library} INTERFACE)
  set(delayed $<BOOL:$<TARGET_PROPERTY:DERODO_DELAY_LOAD>>)
  if(MSVC)
    target_link_libraries(derodo_system_${library} INTERFACE ${library} $<${delayed}:delayimp>)
    target_link_options(derodo_system_${library} INTERFACE $<${delayed}:/DELAYLOAD:${library}.dll>)
    return()
  endif()
  # Made once at configure time from the system's import library; functions
  # only, as data cannot be delay-imported.
  derodo_import_library_exports(${library} functions data)
  set(folder ${CMAKE_BINARY_DIR}/delayload)
  set(def ${folder}/${library}.def)
  set(delay_library ${folder}/lib${library}_delay.a)
  list(JOIN functions "\n" exports)
  set(content "LIBRARY ${library}.dll\nEXPORTS\n${exports}\n")
  set(previous)
  if(EXISTS ${def})
    file(READ ${def} previous)
  endif()
  # Remade only when the exports change, so that a new configure relinks nothing.
  if(NOT EXISTS ${delay_library} OR NOT previous STREQUAL content)
    file(WRITE ${def} "${content}")
    execute_process(
      COMMAND ${CMAKE_DLLTOOL} --input-def ${def} --output-delaylib ${delay_library}
      COMMAND_ERROR_IS_FATAL ANY)
  endif()
  target_link_libraries(derodo_system_${library} INTERFACE
    $<IF:${delayed},${delay_library},${library}>)
endfunction()

foreach(library ${DERODO_DELAY_LOADED_LIBRARIES})
  derodo_add_system_library(${library})
endforeach()
