# cmake -DBUILD_DIR=... -DSTAGE=... -DSETTINGS_DIR=... -DEXPECT="path|path..." -DSHIPPED=setting.ini
#       -P install_tree.cmake
# Installs the build into STAGE (as DESTDIR) twice: the first install holds
# every EXPECT path and the shipped settings; a settings file edited in between
# survives the second.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${STAGE}")
function(install_into_stage)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${STAGE}
                    ${CMAKE_COMMAND} --install ${BUILD_DIR}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "install failed:\n${out}")
  endif()
endfunction()

install_into_stage()
string(REPLACE "|" ";" expected "${EXPECT}")
foreach(path IN LISTS expected)
  if(path AND NOT EXISTS "${STAGE}${path}")
    message(SEND_ERROR "not installed: ${path}")
  endif()
endforeach()
set(settings "${STAGE}${SETTINGS_DIR}/setting.ini")
file(READ "${SHIPPED}" shipped)
file(READ "${settings}" installed)
if(NOT "${installed}" STREQUAL "${shipped}")
  message(SEND_ERROR "setting.ini is not the shipped one")
endif()

set(edited "[setup]\nBOOT=1\n")
file(WRITE "${settings}" "${edited}")
install_into_stage()
file(READ "${settings}" installed)
if(NOT "${installed}" STREQUAL "${edited}")
  message(SEND_ERROR "a second install replaced the edited setting.ini")
endif()
