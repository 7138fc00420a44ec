# teliox_library_beside(TARGET FILE LIBRARY): keeps a copy of the library target LIBRARY, named
# FILE (Hidmar.dll, Sonvane.dll, TarvoAPIDLL.dll), next to the program TARGET, where the program
# loads it from. Nothing is copied when the library is built into that folder already. A folder
# holds one FILE: the first call for a folder decides which flavour of the library it gets, and
# later programs in the same folder wait for that copy. Windows builds only.
function(teliox_library_beside target file library)
  if(NOT WIN32)
    return()
  endif()
  add_dependencies(${target} ${library})
  get_target_property(dir ${target} RUNTIME_OUTPUT_DIRECTORY)
  if(NOT dir)
    get_target_property(dir ${target} BINARY_DIR)
  endif()
  get_target_property(own_dir ${library} RUNTIME_OUTPUT_DIRECTORY)
  if(NOT own_dir)
    get_target_property(own_dir ${library} BINARY_DIR)
  endif()
  if(own_dir STREQUAL dir)
    return()
  endif()
  get_property(copier GLOBAL PROPERTY "TELIOX_COPY_${file}_${dir}")
  if(NOT copier)
    string(MAKE_C_IDENTIFIER "${target}_${file}" copier)
    set_property(GLOBAL PROPERTY "TELIOX_COPY_${file}_${dir}" ${copier})
    add_custom_command(OUTPUT ${dir}/${file}
                       COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${library}> ${dir}/${file}
                       DEPENDS ${library}
                       COMMENT "Copying ${file} (${library}) next to ${target}")
    add_custom_target(${copier} DEPENDS ${dir}/${file})
  endif()
  add_dependencies(${target} ${copier})
endfunction()
