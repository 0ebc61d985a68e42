# cmake -DBUILD_DIR=... -DOUT=... -DDEB=... -DSETTINGS_DIR=... -DEXPECT="path|path..."
#       -P package_contents.cmake
# Packs the build (already built: CPack's own build step is skipped) and lists
# the .deb: every EXPECT path, the dependencies and the kept settings files.
# The package is left as DEB for the tests that install it.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${OUT}")
execute_process(
  COMMAND cpack --config ${BUILD_DIR}/CPackConfig.cmake -B ${OUT}
    -D CPACK_INSTALL_CMAKE_PROJECTS= -D CPACK_INSTALL_SCRIPTS=${BUILD_DIR}/cmake_install.cmake
  WORKING_DIRECTORY ${BUILD_DIR} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
file(GLOB packages "${OUT}/*.deb")
list(LENGTH packages count)
if(NOT result EQUAL 0 OR NOT count EQUAL 1)
  message(FATAL_ERROR "cpack made ${count} packages:\n${out}")
endif()

function(dpkg_deb variable)
  execute_process(COMMAND dpkg-deb ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE text)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "dpkg-deb ${ARGN} failed")
  endif()
  set(${variable} "${text}" PARENT_SCOPE)
endfunction()

dpkg_deb(listing -c ${packages})
string(REPLACE "|" ";" expected "${EXPECT}")
foreach(path IN LISTS expected)
  string(FIND "${listing}" " .${path}\n" at)
  if(path AND at EQUAL -1)
    message(SEND_ERROR "not in the package: ${path}")
  endif()
endforeach()

dpkg_deb(fields -f ${packages} Depends Recommends)
foreach(needed "libusb-0.1-4" "libsqlite3-0" "libqt6widgets6" "Recommends: fonts-wqy-microhei")
  string(FIND "${fields}" "${needed}" at)
  if(at EQUAL -1)
    message(SEND_ERROR "not declared: ${needed}\n${fields}")
  endif()
endforeach()

dpkg_deb(conffiles -I ${packages} conffiles)
if(NOT "${conffiles}" STREQUAL "${SETTINGS_DIR}/setting.ini\n${SETTINGS_DIR}/station.ini\n${SETTINGS_DIR}/line.ini\n")
  message(SEND_ERROR "conffiles: ${conffiles}")
endif()
file(RENAME ${packages} ${DEB})
