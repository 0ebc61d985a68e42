# Copies SOURCE to DESTINATION unless DESTINATION exists: the settings the
# operator has made beside the program are never overwritten by a build.
if(EXISTS "${SOURCE}" AND NOT EXISTS "${DESTINATION}")
  file(COPY_FILE "${SOURCE}" "${DESTINATION}")
endif()
