# The software version Teliox.exe's About box shows under Wine must be the file version that an
# independent reader, exiftool, takes from the same file: both the fixed record's numbers
# (FileVersionNumber) and the version text (FileVersion). Without a handset the firmware reads
# x.x.x.x. Both ways of opening the box are tried.
#   cmake -DTELIOX=<Teliox.exe> -DPROBE=<about_probe.exe> -DWINE_RUN=<tools/wine-run> -P CheckAboutVersion.cmake
find_program(EXIFTOOL exiftool)
if(NOT EXIFTOOL)
  message(FATAL_ERROR "exiftool is not installed (Debian package libimage-exiftool-perl)")
endif()

foreach(tag FileVersionNumber FileVersion)
  execute_process(COMMAND ${EXIFTOOL} -s3 -${tag} ${TELIOX}
                  OUTPUT_VARIABLE ${tag} OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR "${${tag}}" STREQUAL "")
    message(FATAL_ERROR "exiftool read no ${tag} from ${TELIOX}")
  endif()
  message(STATUS "exiftool ${tag}: ${${tag}}")
endforeach()
if(NOT FileVersionNumber STREQUAL FileVersion)
  message(FATAL_ERROR "the version text \"${FileVersion}\" is not the file version ${FileVersionNumber}")
endif()

foreach(how "" "--syscommand")
  execute_process(COMMAND ${WINE_RUN} ${PROBE} ${how} OUTPUT_VARIABLE shown RESULT_VARIABLE status)
  message(STATUS "About box (${how}):\n${shown}")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "the probe failed (${status})")
  endif()
  if(NOT shown MATCHES "software=([^\n]*)\n" OR NOT CMAKE_MATCH_1 STREQUAL FileVersionNumber)
    message(FATAL_ERROR "the About box shows software version \"${CMAKE_MATCH_1}\", exiftool reads ${FileVersionNumber}")
  endif()
  if(NOT shown MATCHES "firmware=x\\.x\\.x\\.x\n")
    message(FATAL_ERROR "without a handset the firmware must read x.x.x.x")
  endif()
endforeach()
