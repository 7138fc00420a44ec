# Reads export and import tables with objdump and fails unless
# - LIBRARY exports exactly the 14 decorated names below (the signatures are in the names);
# - IMPORTER (optional), a program that uses Win32ClientApi, imports all 14 from TarvoAPIDLL.dll
#   by name.
# cmake -DOBJDUMP=<objdump> -DLIBRARY=<TarvoAPIDLL.dll> [-DIMPORTER=<program.exe>] -P CheckExports.cmake
set(expected
  _Z19TarvoAPI_InitializeP6HWND__
  _Z20TarvoAPI_GetCallbyIDiP13CALLStructure
  _Z21TarvoAPI_UpdateVMListv
  _Z22TarvoAPI_Connect2Tarvov
  _Z22TarvoAPI_GetCallNumberRiS_S_S_S_S_
  _Z22TarvoAPI_MinimizeTarvov
  _Z24TarvoAPI_GetCallNumberExRiPmS_S0_S_S0_
  _Z25TarvoAPI_Disconnect2Tarvov
  _Z26TarvoAPI_SendCommandDirectPKc
  _Z26TarvoAPI_SendStringCommandPKc
  _Z27TarvoAPI_UpdateContactList1v
  _Z28TarvoAPI_CloseTarvoMSGDialogv
  _Z28TarvoAPI_GetRecentCallHandlePc
  _Z31TarvoAPI_SetCurrentCalltoOnHoldv)

function(read_private_headers file out)
  execute_process(COMMAND ${OBJDUMP} -p ${file} OUTPUT_VARIABLE text RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${file} failed (${result})")
  endif()
  string(REPLACE ";" "," text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

read_private_headers(${LIBRARY} lines)
set(inside FALSE)
set(exported)
foreach(line IN LISTS lines)
  if(line MATCHES "\\[Ordinal/Name Pointer\\] Table")
    set(inside TRUE)
  elseif(inside AND line MATCHES "^[ \t]*\\[ *[0-9]+\\] ([^ \t]+)")
    list(APPEND exported ${CMAKE_MATCH_1})
  elseif(inside)
    set(inside FALSE)
  endif()
endforeach()
list(SORT exported)
set(sorted ${expected})
list(SORT sorted)
if(NOT exported STREQUAL sorted)
  message(FATAL_ERROR "${LIBRARY} exports [${exported}], expected [${sorted}]")
endif()
message(STATUS "exports: the 14 names")

if(NOT IMPORTER)
  return()
endif()
read_private_headers(${IMPORTER} lines)
set(inside FALSE)
set(imported)
foreach(line IN LISTS lines)
  if(line MATCHES "DLL Name: (.*)$")
    string(STRIP "${CMAKE_MATCH_1}" dll)
    string(TOLOWER "${dll}" dll)
    set(inside FALSE)
    if(dll STREQUAL "tarvoapidll.dll")
      set(inside TRUE)
    endif()
  elseif(inside AND line MATCHES "^[ \t]*[0-9a-fA-F]+[ \t]+[0-9]+[ \t]+([A-Za-z_][^ \t]*)")
    list(APPEND imported ${CMAKE_MATCH_1})
  elseif(inside AND line STREQUAL "")
    set(inside FALSE)
  endif()
endforeach()
list(SORT imported)
if(NOT imported STREQUAL sorted)
  message(FATAL_ERROR "${IMPORTER} imports [${imported}] from TarvoAPIDLL.dll, expected [${sorted}]")
endif()
message(STATUS "imports: the 14 names, from TarvoAPIDLL.dll")
